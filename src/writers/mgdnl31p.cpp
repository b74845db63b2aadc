// MGDNL31P: the access class file. One 48-character record per access
// class that the terminal accepts for a badge; badges without access
// classes are left out.
//
// Fields as in Mgdnl31pFields (layouts/record_layouts.h): badge number,
// valid-from and valid-until (00000000 when none), time permission, access
// permission "1", the constants "XXXX,XX-" and "001", access class,
// location text.
#include <cstdio>
#include <cstring>

#include "db/access_rights.h"
#include "db/badges.h"
#include "db/location.h"
#include "common/download_file.h"
#include "common/trace.h"
#include "writers/placement.h"
#include "writers/writers.h"

namespace {

constexpr size_t RecordLength = Mgdnl31p::RecordLength;
constexpr const FieldLayout* Fields = Mgdnl31pFields;
constexpr size_t TimeAt = FieldOffset(Fields[Mgdnl31p::TimePermission]);
constexpr size_t AccessAt = FieldOffset(Fields[Mgdnl31p::AccessPermission]);
constexpr size_t ClassAt = FieldOffset(Fields[Mgdnl31p::AccessClass]);

// Built once per badge; the class loop changes only the class field.
char Record[RecordLength];
BadgeRecord Badge;

// Builds and writes the records of the current badge.
BadgeOutcome WriteBadge(const TerminalRecord* terminal) {
  std::memset(Record, ' ', RecordLength);
  const Permission time = HasTimePermission(&Badge, terminal);
  if (time == Permission::Failed) return BadgeOutcome::Failed;
  Record[TimeAt] = time == Permission::Granted ? '1' : '0';
  const Permission access = BuildZoneList(&Badge, terminal, 32, 0);
  if (access == Permission::Failed) return BadgeOutcome::Failed;
  if (access != Permission::Granted) {
    ExplainNote("kein Satz: keine Zutrittsberechtigung (MGDNL31P braucht eine Zutrittsklasse)");
    if (DebugTrace)
      std::printf("Ausweis %s ohne Zutrittsberechtigung auf Terminal %s\n", Badge.AswNum, terminal->TrmNam);
    return BadgeOutcome::Skipped;
  }
  Record[AccessAt] = '1';
  if (!BadgeNumberFits(Badge, "MGDNL31P")) return BadgeOutcome::Skipped;

  // Not found: the location positions stay blank.
  if (LookupLocationText(&Badge).Failed()) return BadgeOutcome::Failed;
  PlaceField(Record, RecordLength, Fields[Mgdnl31p::BadgeNumber], Badge.AswNum);
  PlaceField(Record, RecordLength, Fields[Mgdnl31p::ValidFrom], Badge.AswGvo);
  PlaceField(Record, RecordLength, Fields[Mgdnl31p::ValidUntil], Badge.AswGbi);
  ZeroFillBlankDate(Record, Fields[Mgdnl31p::ValidFrom]);
  ZeroFillBlankDate(Record, Fields[Mgdnl31p::ValidUntil]);
  PlaceConstant(Record, Fields[Mgdnl31p::Amount]);
  PlaceConstant(Record, Fields[Mgdnl31p::Count]);
  PlaceField(Record, RecordLength, Fields[Mgdnl31p::Location], Badge.StoKtx);

  // One record per class; a longer class would overwrite the location text.
  return WrittenIf(WriteClassRecords(Record, RecordLength, Badge, "MGDNL31P", [](char* record, const char* entry) {
    std::memcpy(record + ClassAt, entry, ClassWidth);
  }));
}

}  // namespace

int WorkMgDnl31P(TerminalRecord* terminal) {
  return WalkBadges(terminal, Badge, WriteBadge);
}
