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
#include "common/trace.h"
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

// Writer state for the one call.
BadgeRecord Badge;
BalanceDisplayTable TerminalTable;
BalanceDisplayTable BadgeTable;
RecordTemplate TerminalTemplate;
RecordTemplate BadgeTemplate;
char Record[RecordLength];
char LastWrittenBadge[sizeof Badge.AswNum];
char Today[DateWidth + 1];
// What the terminal's model asks for, set once per call.
bool BadgeLevelDefinitions;
bool FourGroupsOnly;

void ExplainDefinition(const char* level, const BalanceDisplaySlot& slot) {
  ExplainNote("Saldenanzeige (%s): Nr. %d Spalte %d Text '%s' Wertcode '%s'", level, static_cast<int>(slot.MsdLfd),
              static_cast<int>(slot.MsdSpl), slot.DisplayText, slot.ValueCode);
}

void ComputeToday() {
  std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  std::strftime(Today, sizeof Today, "%d.%m.%y", &local);
}

// false when a statement failed.
bool ReadTerminalDefinitions(const char* terminalName) {
  bool read = !OpenTerminalDisplayCursor(terminalName).Failed();
  if (read) {
    read = ReadDefinitions(&TerminalTable, FetchTerminalDisplay, [](const BalanceDisplaySlot& slot) {
      if (DebugTrace)
        std::printf("Wert: %s  Txt: %s  Con: %s !\n", slot.ValueText, slot.DisplayText, slot.ValueCode);
      ExplainDefinition("Terminal", slot);
    });
  }
  CloseTerminalDisplayCursor();
  return read;
}

// The badge's own definitions, read anew for each badge that uses them;
// null when a statement failed.
const RecordTemplate* BadgeDefinitions(const char* badgeNumber) {
  std::memset(&BadgeTable, 0, sizeof BadgeTable);
  bool read = !OpenBadgeDisplayCursor(badgeNumber).Failed();
  if (read)
    read = ReadDefinitions(&BadgeTable, FetchBadgeDisplay,
                           [](const BalanceDisplaySlot& slot) { ExplainDefinition("Ausweis", slot); });
  CloseBadgeDisplayCursor();
  if (!read) return nullptr;
  BuildTemplate(BadgeTable, &BadgeTemplate);
  return &BadgeTemplate;
}

// Builds the badge's record in Record from the chosen template. false when
// the balance lookup failed.
bool BuildRecord(const RecordTemplate& layout) {
  std::memcpy(Record, layout.Record, RecordLength);
  PlaceField(Record, RecordLength, Mgdnl18pFields[Mgdnl18p::BadgeNumber], Badge.AswNum);

  const StatementResult balance = LookupBalanceValues(&Badge);
  if (balance.Failed()) return false;
  if (!balance.IsRow() && DebugTrace)
    std::printf("Ausweis:%s Person:%s Saldodaten nicht gefunden! %d\n", Badge.AswNum, Badge.AswPnr, balance.Code);

  const char* badgeBytes = reinterpret_cast<const char*>(&Badge);
  for (int group = 1; group <= GroupCount; ++group) {
    const GroupValue& value = layout.Values[group - 1];
    switch (value.Source) {
      case ValueSource::Blank: PlaceValue(Record, group, SevenBlanks); break;
      case ValueSource::Date: PlaceValue(Record, group, Today); break;
      case ValueSource::BalanceField: {
        const char* field = badgeBytes + value.FieldOffset;
        PlaceValue(Record, group, field[0] != '\0' ? field : SevenBlanks);
        break;
      }
    }
  }
  if (ExplainBadge != nullptr)
    for (int group = 1; group <= GroupCount; ++group) {
      const GroupValue& value = layout.Values[group - 1];
      const char* shown = value.Source == ValueSource::Date           ? Today
                          : value.Source == ValueSource::BalanceField ? badgeBytes + value.FieldOffset
                                                                      : "";
      ExplainNote("Anzeigegruppe %d: %s '%s'", group,
                  value.Source == ValueSource::Date ? "Datum" : value.Source == ValueSource::Blank ? "leer" : "Saldo",
                  shown);
    }
  // The first date group shows all 8 characters, from its last text position.
  if (layout.DateGroup != 0)
    PlaceField(Record, RecordLength, Mgdnl18p::DateColumn(layout.DateGroup), Today);
  return true;
}

// Writes the record of the current badge when it may book time on the
// terminal.
BadgeOutcome WriteBadge(const TerminalRecord* terminal) {
  const Permission time = HasTimePermission(&Badge, terminal);
  if (time == Permission::Failed) return BadgeOutcome::Failed;
  const bool permitted = time == Permission::Granted;
  if (!permitted && DebugTrace)
    std::printf("Ausweis %s auf Terminal %s nicht zulaessig!\n", Badge.AswNum, terminal->TrmNam);

  if (Badge.AswPnr[0] == '\0' || std::strcmp(Badge.AswNum, LastWrittenBadge) == 0 || !permitted) {
    ExplainNote("kein Satz: %s", !permitted ? "keine Zeitberechtigung"
                                 : Badge.AswPnr[0] == '\0' ? "keine Personalnummer (AswPnr leer)"
                                                           : "Ausweis schon geschrieben (weitere Zeile)");
    return BadgeOutcome::Skipped;
  }
  // A longer number would run into the display texts.
  if (!BadgeNumberFits(Badge, "MGDNL18P")) return BadgeOutcome::Skipped;
  ExplainNote("Saldenanzeige nach den Definitionen %s",
              BadgeLevelDefinitions && Badge.AswSal[0] != '\0' ? "des Ausweises (Modell 7744-010, AswSal gesetzt)"
                                                               : "des Terminals");
  const RecordTemplate* layout =
      (BadgeLevelDefinitions && Badge.AswSal[0] != '\0') ? BadgeDefinitions(Badge.AswNum) : &TerminalTemplate;
  if (layout == nullptr || !BuildRecord(*layout)) return BadgeOutcome::Failed;
  if (FourGroupsOnly) std::memset(Record + FourGroupBlankFrom - 1, ' ', RecordLength - (FourGroupBlankFrom - 1));
  if (FourGroupsOnly) ExplainNote("Modell 7598-002: Anzeigegruppen 5 bis 8 bleiben leer");
  WriteDownloadRecord(Record, RecordLength);
  ExplainNote("Satz geschrieben");
  std::memcpy(LastWrittenBadge, Badge.AswNum, sizeof LastWrittenBadge);
  return BadgeOutcome::Written;
}

}  // namespace

// Writes one MGDNL18P record per badge that may book time on the terminal.
// Returns 1 when the badge cursor was read to its end, 0 when a statement
// failed.
int WorkMgDnl18P(TerminalRecord* terminal) {
  ComputeToday();
  std::memset(&TerminalTable, 0, sizeof TerminalTable);
  LastWrittenBadge[0] = '\0';

  if (!ReadTerminalDefinitions(terminal->TrmNam)) {
    char subject[sizeof terminal->TrmNam + 16];
    std::snprintf(subject, sizeof subject, "Terminal %s", terminal->TrmNam);
    PrintStatementFailure(subject);
    return 0;
  }
  BuildTemplate(TerminalTable, &TerminalTemplate);
  const char* model = TerminalText(terminal->TrmMod);
  BadgeLevelDefinitions = std::strcmp(model, BadgeLevelModel) == 0;
  FourGroupsOnly = std::strcmp(model, FourGroupModel) == 0;
  return WalkBadges(terminal, Badge, WriteBadge);
}
