// MGDNL60P: the reader file. One 45-character record per access class of a
// badge with access permission, or one record for a badge with time
// permission only.
//
//   1-13   badge number            24-30  balance TswW09
//   14-21  valid-from (00000000)   31-45  reader groups 1 to 3, 5 each: two
//   22     time permission                digits of the reader number, then
//   23     access permission              the access class
#include <cstdio>
#include <cstring>

#include "db/access_rights.h"
#include "db/badges.h"
#include "db/balance_values.h"
#include "common/download_file.h"
#include "common/trace.h"
#include "writers/record_layout.h"
#include "writers/writers.h"

namespace {

constexpr size_t RecordLength = 45;
constexpr int ReaderCount = 3;

// Built once per badge; the class loop changes only the class positions.
char Record[RecordLength];
BadgeRecord Badge;

// Builds and writes the records of the current badge. Returns true when at
// least one record went into the file.
bool WriteBadge(const TerminalRecord* terminal) {
  StartReaderRecord(Record, RecordLength, Badge, ReaderCount);

  // No row: the balance positions stay blank; a failed lookup leaves the
  // field empty, which places nothing either.
  if (LookupBalanceValues(&Badge) != 100) PlaceTextCut(Record, RecordLength, 24, Badge.TswW09, 7);

  Record[21] = HasTimePermission(&Badge, terminal) ? '1' : '0';
  Record[22] = '0';
  if (BuildZoneList(&Badge, terminal, ReaderCount, 1) == 1) {
    Record[22] = '1';
    PlaceReaderNumbers(Record, Badge, ReaderCount);
  }

  if (Record[22] == '1') {
    if (!BadgeNumberFits(Badge, "MGDNL60P")) return false;
    return WriteClassRecords(Record, RecordLength, Badge, ReaderCount, "MGDNL60P");
  }
  if (Record[21] == '1') {
    if (!BadgeNumberFits(Badge, "MGDNL60P")) return false;
    WriteDownloadRecord(Record, RecordLength);
    ExplainNote("Satz geschrieben (ohne Zutrittsklasse)");
    return true;
  }
  ExplainNote("kein Satz: weder Zeit- noch Zutrittsberechtigung");
  if (DebugTrace)
    std::printf("Ausweis %s ohne Zeit-/Zutrittsberechtigung auf Terminal %s\n", Badge.AswNum, terminal->TrmNam);
  return false;
}

}  // namespace

int WorkMgDnl60P(TerminalRecord* terminal) {
  return WalkBadges(terminal, Badge, WriteBadge);
}
