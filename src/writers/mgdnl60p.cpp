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
#include "writers/placement.h"
#include "writers/writers.h"

namespace {

constexpr size_t RecordLength = Mgdnl60p::RecordLength;
constexpr int ReaderCount = Mgdnl60p::GroupCount;
constexpr const FieldLayout* Fields = Mgdnl60pFields;
constexpr size_t TimeAt = FieldOffset(Fields[Mgdnl60p::TimePermission]);
constexpr size_t AccessAt = FieldOffset(Fields[Mgdnl60p::AccessPermission]);

using Mgdnl60pRun = ReaderRecordRun<RecordLength>;

// Builds and writes the records of the badge.
BadgeOutcome WriteBadge(Mgdnl60pRun& run, BadgeRecord& badge, const TerminalRecord& terminal) {
  Session& db = run.Db;
  RunObserver& observer = *db.Observer;
  char* const record = run.Record;
  StartReaderRecord(record, Fields, RecordLength, badge, ReaderCount);

  // No row: the balance positions stay blank.
  const StatementResult balance = LookupBalanceValues(db, &badge);
  if (balance.Failed()) return BadgeOutcome::Failed;
  if (balance.IsRow()) PlaceField(record, RecordLength, Fields[Mgdnl60p::Balance], badge.TswW09);

  const Permission time = HasTimePermission(db, &badge, &terminal);
  if (time == Permission::Failed) return BadgeOutcome::Failed;
  record[TimeAt] = time == Permission::Granted ? '1' : '0';
  record[AccessAt] = '0';
  const Permission access = BuildZoneList(db, run.Zones, &badge, &terminal, ReaderCount, 1, &run.Readers);
  if (access == Permission::Failed) return BadgeOutcome::Failed;
  if (access == Permission::Granted) {
    record[AccessAt] = '1';
    PlaceReaderNumbers(record, Fields, badge, ReaderCount);
  }

  if (record[AccessAt] == '1') {
    if (!BadgeNumberFits(badge, "MGDNL60P")) return BadgeOutcome::Skipped;
    return WrittenIf(
        WriteReaderClassRecords(record, Fields, RecordLength, badge, run.Zones, ReaderCount, "MGDNL60P", observer));
  }
  if (record[TimeAt] == '1') {
    if (!BadgeNumberFits(badge, "MGDNL60P")) return BadgeOutcome::Skipped;
    WriteDownloadRecord(record, RecordLength);
    NoteTo(observer, "Satz geschrieben (ohne Zutrittsklasse)");
    return BadgeOutcome::Written;
  }
  observer.Skipped(badge, terminal, SkipReason::NoRights);
  return BadgeOutcome::Skipped;
}

}  // namespace

int WorkMgDnl60P(Session& db, TerminalRecord* terminal) {
  Mgdnl60pRun run{db, {}, {}, {}};
  BadgeRecord badge;
  return WalkBadges(db, *terminal, badge, [&](BadgeRecord& b) {
    return WriteInOneRequest(
        db, [&] { AddReaderRecordStatements(db, b, *terminal, run.Readers, ReaderCount); },
        [&] { return WriteBadge(run, b, *terminal); });
  });
}
