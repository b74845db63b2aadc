// MGDNL18P: the balance display file. One record of 173 characters per
// badge that may book time on the terminal: the badge number and eight
// display groups, each a display text and the value shown beside it (a
// balance value, a text of the badge's balance data or today's date), laid
// out by the balance display definitions of the terminal's balance set, or
// of the badge's own set on terminals of model "7744-010".
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "db/access_rights.h"
#include "db/badges.h"
#include "db/balance_display.h"
#include "db/balance_values.h"
#include "db/records.h"
#include "common/download_file.h"
#include "writers/placement.h"
#include "writers/writers.h"

namespace {

constexpr size_t RecordLength = Mgdnl18p::RecordLength;
constexpr int GroupCount = Mgdnl18p::GroupCount;

// Group k (1-based) is its text field, then its value field. The long-value
// column is both; the date column is the last text position and the value
// field (Mgdnl18p::LongValue, DateColumn).
constexpr size_t DateWidth = Mgdnl18p::DateColumn(1).Width;
// Groups 5 to 8 show a definition with column selector 2 one position
// further right, without its trailing blank (Mgdnl18p::ShiftedText).
constexpr int FirstShiftableGroup = 5;
constexpr int32_t ShiftedColumn = 2;

// A value of more than this many characters takes the long-value column.
constexpr size_t LongValueThreshold = 10;

// Terminal models with special handling.
constexpr const char* BadgeLevelModel = "7744-010";   // the badge's own definitions
constexpr const char* FourGroupModel = "7598-002";    // groups 5 to 8 stay blank
constexpr size_t FourGroupBlankFrom = Mgdnl18p::FourGroupBlankFrom;

const char SevenBlanks[] = "       ";

// Where a group's value comes from, resolved once per definition table from
// the value code: nothing (seven blanks), today's date, or a balance field of
// the badge record.
enum class ValueSource { Blank, Date, BalanceField };
struct GroupValue {
  ValueSource Source;
  size_t FieldOffset;  // of the balance field within BadgeRecord
};

// A definition table turned into what every record built from it shares:
// the texts of the eight groups in a blank record, and each group's value
// source. The date column goes to the first group whose code is "#W1".
struct RecordTemplate {
  char Record[RecordLength];
  GroupValue Values[GroupCount];
  int DateGroup;  // 1 to 8, 0 when no group shows the date
};

// Balance field of value number n ("#Wn"): "#W2" to "#W16" name the TswW
// fields, "#W21" to "#W30" the TswF fields. 0 where there is none.
size_t BalanceFieldOffset(int number) {
  switch (number) {
    case 2: return offsetof(BadgeRecord, TswW02);
    case 3: return offsetof(BadgeRecord, TswW03);
    case 4: return offsetof(BadgeRecord, TswW04);
    case 5: return offsetof(BadgeRecord, TswW05);
    case 6: return offsetof(BadgeRecord, TswW06);
    case 7: return offsetof(BadgeRecord, TswW07);
    case 8: return offsetof(BadgeRecord, TswW08);
    case 9: return offsetof(BadgeRecord, TswW09);
    case 10: return offsetof(BadgeRecord, TswW10);
    case 11: return offsetof(BadgeRecord, TswW11);
    case 12: return offsetof(BadgeRecord, TswW12);
    case 13: return offsetof(BadgeRecord, TswW13);
    case 14: return offsetof(BadgeRecord, TswW14);
    case 15: return offsetof(BadgeRecord, TswW15);
    case 16: return offsetof(BadgeRecord, TswW16);
    default: break;
  }
  if (number >= 21 && number <= 30) return offsetof(BadgeRecord, TswF) + sizeof(BadgeRecord::TswF[0]) * (number - 21);
  return 0;
}

// Value codes are compared exactly: "#W" and a number without leading zero
// ("#W02" is not "#W2"). Codes that name nothing give seven blanks.
GroupValue ResolveValueCode(const char* code) {
  GroupValue blank = {ValueSource::Blank, 0};
  if (code[0] != '#' || code[1] != 'W' || code[2] < '1' || code[2] > '9') return blank;
  int number = code[2] - '0';
  if (code[3] != '\0') {
    if (code[3] < '0' || code[3] > '9' || code[4] != '\0') return blank;
    number = number * 10 + (code[3] - '0');
  }
  if (number == 1) return {ValueSource::Date, 0};
  size_t offset = BalanceFieldOffset(number);
  return offset != 0 ? GroupValue{ValueSource::BalanceField, offset} : blank;
}

void BuildTemplate(const BalanceDisplayTable& table, RecordTemplate* out) {
  std::memset(out->Record, ' ', RecordLength);
  out->DateGroup = 0;
  for (int group = 1; group <= GroupCount; ++group) {
    const BalanceDisplaySlot& slot = table.Slots[group - 1];
    if (group >= FirstShiftableGroup && slot.MsdSpl == ShiftedColumn)
      PlaceField(out->Record, RecordLength, Mgdnl18p::ShiftedText(group), slot.DisplayText);
    else
      PlaceField(out->Record, RecordLength, Mgdnl18pFields[Mgdnl18p::TextField(group)], slot.DisplayText);
    out->Values[group - 1] = ResolveValueCode(slot.ValueCode);
    if (out->Values[group - 1].Source == ValueSource::Date && out->DateGroup == 0) out->DateGroup = group;
  }
}

// Puts a group's value into the record: nothing or up to 10 characters go
// to the value positions (at most 7 of them), longer values take the whole
// group (at most 20 characters), replacing its text.
void PlaceValue(char* record, int group, const char* value) {
  size_t length = strnlen(value, LongValueThreshold + 1);
  if (length > LongValueThreshold)
    PlaceField(record, RecordLength, Mgdnl18p::LongValue(group), value);
  else
    PlaceField(record, RecordLength, Mgdnl18pFields[Mgdnl18p::ValueField(group)], value);
}

// Reads the definitions of one open display cursor into table (entry MsdLfd;
// a later definition of the same number replaces the earlier one; numbers
// outside 1 to 8 have no group and are left out) until a fetch gives no
// definition. false when a fetch failed.
template <typename Fetch, typename OnSlot>
bool ReadDefinitions(BalanceDisplayTable* table, Fetch fetch, OnSlot onSlot) {
  BalanceDisplaySlot slot;
  for (;;) {
    std::memset(&slot, 0, sizeof slot);
    const StatementResult fetched = fetch(&slot);
    if (fetched.Failed()) return false;
    if (!fetched.IsRow()) return true;
    onSlot(slot);
    if (slot.MsdLfd >= 1 && slot.MsdLfd <= GroupCount) table->Slots[slot.MsdLfd - 1] = slot;
  }
}

// One run of the writer: what it keeps from badge to badge.
struct Mgdnl18pRun {
  Mgdnl18pRun(Session& db) : Db(db), TerminalCursor(db, true), BadgeCursor(db, false) {}
  Session& Db;
  DisplayCursor TerminalCursor;
  DisplayCursor BadgeCursor;
  BalanceDisplayTable TerminalTable = {};
  BalanceDisplayTable BadgeTable = {};
  RecordTemplate TerminalTemplate = {};
  RecordTemplate BadgeTemplate = {};
  char Record[RecordLength] = {};
  char LastWrittenBadge[sizeof BadgeRecord::AswNum] = {};
  char Today[DateWidth + 1] = {};
  // What the terminal's model asks for.
  bool BadgeLevelDefinitions = false;
  bool FourGroupsOnly = false;
};

void ComputeToday(char (&today)[DateWidth + 1]) {
  std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  std::strftime(today, sizeof today, "%d.%m.%y", &local);
}

// false when a statement failed.
bool ReadTerminalDefinitions(Mgdnl18pRun& run, const char* terminalName) {
  RunObserver& observer = *run.Db.Observer;
  bool read = !OpenTerminalDisplayCursor(run.TerminalCursor, terminalName).Failed();
  if (read) {
    read = ReadDefinitions(
        &run.TerminalTable, [&](BalanceDisplaySlot* slot) { return FetchTerminalDisplay(run.TerminalCursor, slot); },
        [&](const BalanceDisplaySlot& slot) { observer.DisplayDefinition(true, slot); });
  }
  CloseTerminalDisplayCursor(run.TerminalCursor);
  return read;
}

// The badge's own definitions, read anew for each badge that uses them;
// null when a statement failed.
const RecordTemplate* BadgeDefinitions(Mgdnl18pRun& run, const char* badgeNumber) {
  RunObserver& observer = *run.Db.Observer;
  std::memset(&run.BadgeTable, 0, sizeof run.BadgeTable);
  bool read = !OpenBadgeDisplayCursor(run.BadgeCursor, badgeNumber).Failed();
  // The definitions are read whole: their value-code queries and the
  // balance lookup that follows go in one request.
  Session& db = run.Db;
  // The definitions were the last statement of the badge's first request,
  // if they went along: it is read to its end.
  if (read) read = db.Batch.End(db);
  if (read && db.CanBatch()) {
    db.Batch.Start(db);
    for (const DisplayCursor::Row& row : run.BadgeCursor.Rows) {
      AddToBatch(db, FormatValueCodeQuery(run.BadgeCursor, row.Number));
    }
    AddToBatch(db, FormatBalanceQuery(db, badgeNumber));
    read = db.Batch.Send(db);
  }
  if (read)
    read = ReadDefinitions(
        &run.BadgeTable, [&](BalanceDisplaySlot* slot) { return FetchBadgeDisplay(run.BadgeCursor, slot); },
        [&](const BalanceDisplaySlot& slot) { observer.DisplayDefinition(false, slot); });
  CloseBadgeDisplayCursor(run.BadgeCursor);
  if (!read) return nullptr;
  BuildTemplate(run.BadgeTable, &run.BadgeTemplate);
  return &run.BadgeTemplate;
}

// Builds the badge's record in the run's Record from the chosen template.
// false when the balance lookup failed.
bool BuildRecord(Mgdnl18pRun& run, BadgeRecord& badge, const RecordTemplate& layout) {
  RunObserver& observer = *run.Db.Observer;
  char* const record = run.Record;
  std::memcpy(record, layout.Record, RecordLength);
  PlaceField(record, RecordLength, Mgdnl18pFields[Mgdnl18p::BadgeNumber], badge.AswNum);

  const StatementResult balance = LookupBalanceValues(run.Db, &badge);
  if (balance.Failed()) return false;
  if (!balance.IsRow()) observer.NoBalanceRow("MGDNL18P", badge, balance.Code);

  const char* badgeBytes = reinterpret_cast<const char*>(&badge);
  for (int group = 1; group <= GroupCount; ++group) {
    const GroupValue& value = layout.Values[group - 1];
    switch (value.Source) {
      case ValueSource::Blank: PlaceValue(record, group, SevenBlanks); break;
      case ValueSource::Date: PlaceValue(record, group, run.Today); break;
      case ValueSource::BalanceField: {
        const char* field = badgeBytes + value.FieldOffset;
        PlaceValue(record, group, field[0] != '\0' ? field : SevenBlanks);
        break;
      }
    }
  }
  if (observer.WantsNotes())
    for (int group = 1; group <= GroupCount; ++group) {
      const GroupValue& value = layout.Values[group - 1];
      const char* shown = value.Source == ValueSource::Date           ? run.Today
                          : value.Source == ValueSource::BalanceField ? badgeBytes + value.FieldOffset
                                                                      : "";
      NoteTo(observer, "Anzeigegruppe %d: %s '%s'", group,
             value.Source == ValueSource::Date ? "Datum" : value.Source == ValueSource::Blank ? "leer" : "Saldo", shown);
    }
  // The first date group shows all 8 characters, from its last text position.
  if (layout.DateGroup != 0) PlaceField(record, RecordLength, Mgdnl18p::DateColumn(layout.DateGroup), run.Today);
  return true;
}

// Whether the badge's record is laid out by the badge's own display
// definitions (a terminal of model 7744-010 and a badge with a balance set).
bool UsesOwnDefinitions(const Mgdnl18pRun& run, const BadgeRecord& badge) {
  return run.BadgeLevelDefinitions && badge.AswSal[0] != '\0';
}

// The statements of the badge, in the order WriteBadge runs them: what
// follows the time permission query only a badge with a record needs; it
// goes along while the run sends little for nothing. A badge with display
// definitions of its own sends them along, but their value-code queries
// (each depends on a definition) and the balance lookup after them go one
// by one.
void AddStatements(Mgdnl18pRun& run, const BadgeRecord& badge, const TerminalRecord& terminal) {
  Session& db = run.Db;
  AddToBatch(db, FormatTimePermissionQuery(db, badge.AswNum, terminal.TrmNam));
  if (badge.AswPnr[0] == '\0' || std::strcmp(badge.AswNum, run.LastWrittenBadge) == 0 ||
      !db.Batch.MaySendAhead())
    return;
  if (UsesOwnDefinitions(run, badge)) {
    AddToBatch(db, FormatDefinitionQuery(run.BadgeCursor, badge.AswNum));
    return;
  }
  AddToBatch(db, FormatBalanceQuery(db, badge.AswNum));
}

// Writes the record of the badge when it may book time on the terminal.
BadgeOutcome WriteBadge(Mgdnl18pRun& run, BadgeRecord& badge, const TerminalRecord& terminal) {
  RunObserver& observer = *run.Db.Observer;
  const Permission time = HasTimePermission(run.Db, &badge, &terminal);
  if (time == Permission::Failed) return BadgeOutcome::Failed;
  const bool permitted = time == Permission::Granted;
  if (!permitted) {
    observer.Skipped(badge, terminal, SkipReason::NoTime);
    return BadgeOutcome::Skipped;
  }
  if (badge.AswPnr[0] == '\0') {
    observer.Skipped(badge, terminal, SkipReason::NoPersonnelNumber);
    return BadgeOutcome::Skipped;
  }
  if (std::strcmp(badge.AswNum, run.LastWrittenBadge) == 0) {
    observer.Skipped(badge, terminal, SkipReason::AlreadyWritten);
    return BadgeOutcome::Skipped;
  }
  // A longer number would run into the display texts.
  if (!BadgeNumberFits(badge, "MGDNL18P")) return BadgeOutcome::Skipped;
  const bool ownDefinitions = UsesOwnDefinitions(run, badge);
  NoteTo(observer, "Saldenanzeige nach den Definitionen %s",
         ownDefinitions ? "des Ausweises (Modell 7744-010, AswSal gesetzt)" : "des Terminals");
  const RecordTemplate* layout = ownDefinitions ? BadgeDefinitions(run, badge.AswNum) : &run.TerminalTemplate;
  if (layout == nullptr || !BuildRecord(run, badge, *layout)) return BadgeOutcome::Failed;
  if (run.FourGroupsOnly) {
    std::memset(run.Record + FourGroupBlankFrom - 1, ' ', RecordLength - (FourGroupBlankFrom - 1));
    NoteTo(observer, "Modell 7598-002: Anzeigegruppen 5 bis 8 bleiben leer");
  }
  WriteDownloadRecord(run.Record, RecordLength);
  NoteTo(observer, "Satz geschrieben");
  std::memcpy(run.LastWrittenBadge, badge.AswNum, sizeof run.LastWrittenBadge);
  return BadgeOutcome::Written;
}

}  // namespace

// Writes one MGDNL18P record per badge that may book time on the terminal.
// Returns 1 when the badge cursor was read to its end, 0 when a statement
// failed.
int WorkMgDnl18P(Session& db, TerminalRecord* terminal) {
  Mgdnl18pRun run(db);
  ComputeToday(run.Today);

  if (!ReadTerminalDefinitions(run, terminal->TrmNam)) {
    char subject[sizeof terminal->TrmNam + 16];
    std::snprintf(subject, sizeof subject, "Terminal %s", terminal->TrmNam);
    db.PrintStatementFailure(subject);
    return 0;
  }
  BuildTemplate(run.TerminalTable, &run.TerminalTemplate);
  const char* model = TerminalText(terminal->TrmMod);
  run.BadgeLevelDefinitions = std::strcmp(model, BadgeLevelModel) == 0;
  run.FourGroupsOnly = std::strcmp(model, FourGroupModel) == 0;
  BadgeRecord badge;
  return WalkBadges(db, *terminal, badge, [&](BadgeRecord& b) {
    return WriteInOneRequest(
        db, [&] { AddStatements(run, b, *terminal); }, [&] { return WriteBadge(run, b, *terminal); });
  });
}
