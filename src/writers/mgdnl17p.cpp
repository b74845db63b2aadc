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
#include "writers/placement.h"
#include "writers/writers.h"

namespace {

constexpr size_t RecordLength = Mgdnl17p::RecordLength;
constexpr int ClassGroups = Mgdnl17p::ClassGroups;      // groups that carry the access class
constexpr int LocationGroup = Mgdnl17p::LocationGroup;  // the group that carries the location text
constexpr const FieldLayout* Fields = Mgdnl17pFields;
constexpr size_t TimeAt = FieldOffset(Fields[Mgdnl17p::TimePermission]);
constexpr size_t AccessAt = FieldOffset(Fields[Mgdnl17p::AccessPermission]);

// The reader numbers asked for: one slot each.
constexpr int32_t ReaderLimit = 11;

using Mgdnl17pRun = ReaderRecordRun<RecordLength>;

// The statements of the badge, in the order WriteBadge runs them: the
// location lookup, which only a badge with a record needs, goes along
// while the run sends little for nothing.
void AddStatements(Mgdnl17pRun& run, const BadgeRecord& badge, const TerminalRecord& terminal) {
  Session& db = run.Db;
  AddReaderRecordStatements(db, badge, terminal, run.Readers, ReaderLimit);
  if (!db.Batch.MaySendAhead()) return;
  AddToBatch(db, FormatLocationQuery(db, badge.AswNum));
}

// Builds and writes the records of the badge.
BadgeOutcome WriteBadge(Mgdnl17pRun& run, BadgeRecord& badge, const TerminalRecord& terminal) {
  Session& db = run.Db;
  RunObserver& observer = *db.Observer;
  char* const record = run.Record;
  StartReaderRecord(record, Fields, RecordLength, badge, ZoneSlotCount);

  const StatementResult balance = LookupBalanceValues(db, &badge);
  if (balance.Failed()) return BadgeOutcome::Failed;
  if (!balance.IsRow()) observer.NoBalanceRow("MGDNL17P", badge, balance.Code);
  // No row: the balance positions stay blank.
  if (balance.IsRow()) PlaceField(record, RecordLength, Fields[Mgdnl17p::Balance], badge.TswW02);

  record[TimeAt] = '0';
  record[AccessAt] = '0';
  const Permission time = HasTimePermission(db, &badge, &terminal);
  if (time == Permission::Failed) return BadgeOutcome::Failed;
  if (time == Permission::Granted) record[TimeAt] = '1';
  const Permission access = BuildZoneList(db, run.Zones, &badge, &terminal, ReaderLimit, 1, &run.Readers);
  if (access == Permission::Failed) return BadgeOutcome::Failed;
  if (access == Permission::Granted) {
    record[AccessAt] = '1';
    PlaceReaderNumbers(record, Fields, badge, ZoneSlotCount);
  }
  if (record[TimeAt] != '1' && record[AccessAt] != '1') {
    observer.Skipped(badge, terminal, SkipReason::NoRights);
    return BadgeOutcome::Skipped;
  }
  if (!BadgeNumberFits(badge, "MGDNL17P")) return BadgeOutcome::Skipped;

  const StatementResult location = LookupLocationText(db, &badge);
  if (location.Failed()) return BadgeOutcome::Failed;
  if (location.IsRow()) {
    // Also without a reader 7: the location text needs its group number.
    std::memcpy(record + FieldOffset(Fields[Mgdnl17p::ReaderField(LocationGroup)]), "07", 2);
    PlaceField(record, RecordLength, Fields[Mgdnl17p::Location7], badge.StoKtx);
  }

  if (record[AccessAt] != '1') {
    WriteDownloadRecord(record, RecordLength);
    NoteTo(observer, "Satz geschrieben (ohne Zutrittsklasse)");
    return BadgeOutcome::Written;
  }
  return WrittenIf(
      WriteReaderClassRecords(record, Fields, RecordLength, badge, run.Zones, ClassGroups, "MGDNL17P", observer));
}

}  // namespace

int WorkMgDnl17P(Session& db, TerminalRecord* terminal) {
  Mgdnl17pRun run{db, {}, {}, {}};
  BadgeRecord badge;
  const int rc = WalkBadgeCursor(
      db, *terminal, badge,
      [&](BadgeRecord& b) {
        return WriteInOneRequest(
            db, [&] { AddStatements(run, b, *terminal); }, [&] { return WriteBadge(run, b, *terminal); });
      },
      true);
  if (rc == 100) return 1;
  std::printf("FehlerCode EndWorkMgDnl17P: %d\n", rc);
  return 0;
}
