// MGDNL60P: the reader file. One 45-character record per access class of a
// badge with access permission, or one record for a badge with time
// permission only.
//
// Fields as in Mgdnl60pFields (layouts/record_layouts.h): badge number,
// valid-from (00000000 when none), time and access permission, balance
// TswW09, then reader groups 1 to 3: two digits of the reader number, then
// the access class.
#include <cstdio>
#include <cstring>

#include "db/access_rights.h"
#include "db/badges.h"
#include "db/balance_values.h"
#include "common/download_file.h"
#include "common/trace.h"
#include "writers/placement.h"
#include "writers/writers.h"

namespace {

constexpr size_t RecordLength = Mgdnl60p::RecordLength;
constexpr int ReaderCount = Mgdnl60p::GroupCount;
constexpr const FieldLayout* Fields = Mgdnl60pFields;
constexpr size_t TimeAt = FieldOffset(Fields[Mgdnl60p::TimePermission]);
constexpr size_t AccessAt = FieldOffset(Fields[Mgdnl60p::AccessPermission]);

// Built once per badge; the class loop changes only the class positions.
char Record[RecordLength];
BadgeRecord Badge;
// The terminal's reader rows, read at the first badge of the run.
ReaderSnapshot Readers;

// Builds and writes the records of the current badge.
BadgeOutcome WriteBadge(const TerminalRecord* terminal) {
  StartReaderRecord(Record, Fields, RecordLength, Badge, ReaderCount);

  // No row: the balance positions stay blank.
  const StatementResult balance = LookupBalanceValues(&Badge);
  if (balance.Failed()) return BadgeOutcome::Failed;
  if (balance.IsRow()) PlaceField(Record, RecordLength, Fields[Mgdnl60p::Balance], Badge.TswW09);

  const Permission time = HasTimePermission(&Badge, terminal);
  if (time == Permission::Failed) return BadgeOutcome::Failed;
  Record[TimeAt] = time == Permission::Granted ? '1' : '0';
  Record[AccessAt] = '0';
  const Permission access = BuildZoneList(&Badge, terminal, ReaderCount, 1, &Readers);
  if (access == Permission::Failed) return BadgeOutcome::Failed;
  if (access == Permission::Granted) {
    Record[AccessAt] = '1';
    PlaceReaderNumbers(Record, Fields, Badge, ReaderCount);
  }

  if (Record[AccessAt] == '1') {
    if (!BadgeNumberFits(Badge, "MGDNL60P")) return BadgeOutcome::Skipped;
    return WrittenIf(WriteReaderClassRecords(Record, Fields, RecordLength, Badge, ReaderCount, "MGDNL60P"));
  }
  if (Record[TimeAt] == '1') {
    if (!BadgeNumberFits(Badge, "MGDNL60P")) return BadgeOutcome::Skipped;
    WriteDownloadRecord(Record, RecordLength);
    ExplainNote("Satz geschrieben (ohne Zutrittsklasse)");
    return BadgeOutcome::Written;
  }
  ExplainNote("kein Satz: weder Zeit- noch Zutrittsberechtigung");
  if (DebugTrace)
    std::printf("Ausweis %s ohne Zeit-/Zutrittsberechtigung auf Terminal %s\n", Badge.AswNum, terminal->TrmNam);
  return BadgeOutcome::Skipped;
}

}  // namespace

int WorkMgDnl60P(TerminalRecord* terminal) {
  Readers.Taken = false;
  return WalkBadges(terminal, Badge, WriteBadge);
}
