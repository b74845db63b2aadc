// MGDNL17P: the access file. One 85-character record per badge that the
// terminal accepts, or one per access class of a badge with classes.
//
// Fields as in Mgdnl17pFields (layouts/record_layouts.h): badge number,
// valid-from (00000000 when none), time and access permission "1"/"0",
// balance TswW02, then reader groups 1 to 11: two digits of the reader
// number, then the access class in groups 1-6, the location text in group 7.
#include <cstdio>
#include <cstring>

#include "db/access_rights.h"
#include "db/badges.h"
#include "db/balance_values.h"
#include "db/location.h"
#include "common/download_file.h"
#include "common/trace.h"
#include "writers/placement.h"
#include "writers/writers.h"

namespace {

constexpr size_t RecordLength = Mgdnl17p::RecordLength;
constexpr int ClassGroups = Mgdnl17p::ClassGroups;      // groups that carry the access class
constexpr int LocationGroup = Mgdnl17p::LocationGroup;  // the group that carries the location text
constexpr const FieldLayout* Fields = Mgdnl17pFields;
constexpr size_t TimeAt = FieldOffset(Fields[Mgdnl17p::TimePermission]);
constexpr size_t AccessAt = FieldOffset(Fields[Mgdnl17p::AccessPermission]);

// Built once per badge; the class loop changes only the class positions.
char Record[RecordLength];
BadgeRecord Badge;
// The terminal's reader rows, read at the first badge of the run.
ReaderSnapshot Readers;

// Builds and writes the records of the current badge.
BadgeOutcome WriteBadge(const TerminalRecord* terminal) {
  StartReaderRecord(Record, Fields, RecordLength, Badge, ZoneSlotCount);

  const StatementResult balance = LookupBalanceValues(&Badge);
  if (balance.Failed()) return BadgeOutcome::Failed;
  if (!balance.IsRow() && DebugTrace)
    std::printf("Saldo Ermitteln. Pnr: %s SQLCode:%ld\n", Badge.AswPnr, static_cast<long>(balance.Code));
  // No row: the balance positions stay blank.
  if (balance.IsRow()) PlaceField(Record, RecordLength, Fields[Mgdnl17p::Balance], Badge.TswW02);

  Record[TimeAt] = '0';
  Record[AccessAt] = '0';
  const Permission time = HasTimePermission(&Badge, terminal);
  if (time == Permission::Failed) return BadgeOutcome::Failed;
  if (time == Permission::Granted) Record[TimeAt] = '1';
  const Permission access = BuildZoneList(&Badge, terminal, 11, 1, &Readers);
  if (access == Permission::Failed) return BadgeOutcome::Failed;
  if (access == Permission::Granted) {
    Record[AccessAt] = '1';
    PlaceReaderNumbers(Record, Fields, Badge, ZoneSlotCount);
  }
  if (Record[TimeAt] != '1' && Record[AccessAt] != '1') {
    ExplainNote("kein Satz: weder Zeit- noch Zutrittsberechtigung");
    if (DebugTrace)
      std::printf("Ausweis %s ohne Zeit-/Zutrittsberechtigung auf Terminal %s\n", Badge.AswNum,
                  terminal->TrmNam);
    return BadgeOutcome::Skipped;
  }
  if (!BadgeNumberFits(Badge, "MGDNL17P")) return BadgeOutcome::Skipped;

  const StatementResult location = LookupLocationText(&Badge);
  if (location.Failed()) return BadgeOutcome::Failed;
  if (location.IsRow()) {
    // Also without a reader 7: the location text needs its group number.
    std::memcpy(Record + FieldOffset(Fields[Mgdnl17p::ReaderField(LocationGroup)]), "07", 2);
    PlaceField(Record, RecordLength, Fields[Mgdnl17p::Location7], Badge.StoKtx);
  }

  if (Record[AccessAt] != '1') {
    WriteDownloadRecord(Record, RecordLength);
    ExplainNote("Satz geschrieben (ohne Zutrittsklasse)");
    return BadgeOutcome::Written;
  }
  return WrittenIf(WriteReaderClassRecords(Record, Fields, RecordLength, Badge, ClassGroups, "MGDNL17P"));
}

}  // namespace

int WorkMgDnl17P(TerminalRecord* terminal) {
  Readers.Taken = false;
  const int rc = WalkBadgeCursor(terminal, Badge, WriteBadge, true);
  if (rc == 100) return 1;
  std::printf("FehlerCode EndWorkMgDnl17P: %d\n", rc);
  return 0;
}
