// MGDNL31P: the access class file. One 48-character record per access
// class that the terminal accepts for a badge; badges without access
// classes are left out.
//
//   1-13   badge number            32-39  "XXXX,XX-"
//   14-21  valid-from (00000000)   40-42  "001"
//   22-29  valid-until (00000000)  43-45  access class
//   30     time permission         46-48  location text
//   31     access permission "1"
#include <cstdio>
#include <cstring>

#include "db/access_rights.h"
#include "db/badges.h"
#include "db/location.h"
#include "common/download_file.h"
#include "common/trace.h"
#include "writers/record_layout.h"
#include "writers/writers.h"

namespace {

constexpr size_t RecordLength = 48;

// Built once per badge; the class loop changes only positions 43-45.
char Record[RecordLength];
BadgeRecord Badge;

// Builds and writes the records of the current badge. Returns true when at
// least one record went into the file.
bool WriteBadge(const TerminalRecord* terminal) {
  std::memset(Record, ' ', RecordLength);
  Record[29] = HasTimePermission(&Badge, terminal) ? '1' : '0';
  if (BuildZoneList(&Badge, terminal, 32, 0) != 1) {
    ExplainNote("kein Satz: keine Zutrittsberechtigung (MGDNL31P braucht eine Zutrittsklasse)");
    if (DebugTrace)
      std::printf("Ausweis %s ohne Zutrittsberechtigung auf Terminal %s\n", Badge.AswNum, terminal->TrmNam);
    return false;
  }
  Record[30] = '1';
  if (!BadgeNumberFits(Badge, "MGDNL31P")) return false;

  // Not found or failed: the location positions stay blank.
  LookupLocationText(&Badge);
  PlaceText(Record, RecordLength, 1, Badge.AswNum);
  PlaceTextCut(Record, RecordLength, 14, Badge.AswGvo, 8);
  PlaceTextCut(Record, RecordLength, 22, Badge.AswGbi, 8);
  ZeroFillBlankDate(Record, 14);
  ZeroFillBlankDate(Record, 22);
  std::memcpy(Record + 31, "XXXX,XX-001", 11);
  PlaceText(Record, RecordLength, 46, Badge.StoKtx);

  bool written = false;
  for (int32_t e = 0; e < ZoneList.Count; ++e) {
    const char* entry = ZoneList.Entries[e];
    // A longer class would overwrite the location text.
    if (!ZoneClassFits(entry, Badge, "MGDNL31P")) continue;
    std::memcpy(Record + 42, entry, ClassWidth);
    WriteDownloadRecord(Record, RecordLength);
    ExplainNote("Satz geschrieben (Zutrittsklasse '%s')", entry);
    written = true;
  }
  return written;
}

}  // namespace

int WorkMgDnl31P(TerminalRecord* terminal) {
  return WalkBadges(terminal, Badge, WriteBadge);
}
