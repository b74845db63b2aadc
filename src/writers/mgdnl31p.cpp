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
#include "writers/placement.h"
#include "writers/writers.h"

namespace {

constexpr size_t RecordLength = Mgdnl31p::RecordLength;
constexpr const FieldLayout* Fields = Mgdnl31pFields;
constexpr size_t TimeAt = FieldOffset(Fields[Mgdnl31p::TimePermission]);
constexpr size_t AccessAt = FieldOffset(Fields[Mgdnl31p::AccessPermission]);
constexpr size_t ClassAt = FieldOffset(Fields[Mgdnl31p::AccessClass]);

// The statements of the badge, in the order WriteBadge runs them: the
// location lookup, which only a badge with access classes needs, goes
// along while the run sends little for nothing.
void AddStatements(Session& db, const BadgeRecord& badge, const TerminalRecord& terminal) {
  AddToBatch(db, FormatTimePermissionQuery(db, badge.AswNum, terminal.TrmNam));
  AddToBatch(db, FormatZoneClassQuery(db, badge.AswNum, terminal.TrmNam));
  if (!db.Batch.MaySendAhead()) return;
  AddToBatch(db, FormatLocationQuery(db, badge.AswNum));
}

// Builds and writes the records of the badge; record is the run's, built
// once per badge (the class loop changes only the class field).
BadgeOutcome WriteBadge(Session& db, char* record, ZoneListArray& zones, BadgeRecord& badge,
                        const TerminalRecord& terminal) {
  RunObserver& observer = *db.Observer;
  std::memset(record, ' ', RecordLength);
  const Permission time = HasTimePermission(db, &badge, &terminal);
  if (time == Permission::Failed) return BadgeOutcome::Failed;
  record[TimeAt] = time == Permission::Granted ? '1' : '0';
  const Permission access = BuildZoneList(db, zones, &badge, &terminal, 32, 0);
  if (access == Permission::Failed) return BadgeOutcome::Failed;
  if (access != Permission::Granted) {
    observer.Skipped(badge, terminal, SkipReason::NoAccess);
    return BadgeOutcome::Skipped;
  }
  record[AccessAt] = '1';
  if (!BadgeNumberFits(badge, "MGDNL31P")) return BadgeOutcome::Skipped;

  // Not found: the location positions stay blank.
  if (LookupLocationText(db, &badge).Failed()) return BadgeOutcome::Failed;
  PlaceField(record, RecordLength, Fields[Mgdnl31p::BadgeNumber], badge.AswNum);
  PlaceField(record, RecordLength, Fields[Mgdnl31p::ValidFrom], badge.AswGvo);
  PlaceField(record, RecordLength, Fields[Mgdnl31p::ValidUntil], badge.AswGbi);
  ZeroFillBlankDate(record, Fields[Mgdnl31p::ValidFrom]);
  ZeroFillBlankDate(record, Fields[Mgdnl31p::ValidUntil]);
  PlaceConstant(record, Fields[Mgdnl31p::Amount]);
  PlaceConstant(record, Fields[Mgdnl31p::Count]);
  PlaceField(record, RecordLength, Fields[Mgdnl31p::Location], badge.StoKtx);

  // One record per class; a longer class would overwrite the location text.
  return WrittenIf(WriteClassRecords(record, RecordLength, badge, zones, "MGDNL31P", observer,
                                     [](char* out, const char* entry) { std::memcpy(out + ClassAt, entry, ClassWidth); }));
}

}  // namespace

int WorkMgDnl31P(Session& db, TerminalRecord* terminal) {
  char record[RecordLength];
  ZoneListArray zones;
  BadgeRecord badge;
  return WalkBadges(db, *terminal, badge, [&](BadgeRecord& b) {
    return WriteInOneRequest(
        db, [&] { AddStatements(db, b, *terminal); }, [&] { return WriteBadge(db, record, zones, b, *terminal); });
  });
}
