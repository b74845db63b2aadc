// Balance values of a badge: one O2002TSW row, each value column split by
// the query into its sign character and up to nine value characters.
#include "db/balance_values.h"

#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "db/session.h"

namespace {

constexpr char QueryName[] = "Saldenabfrage";
constexpr int ValueColumnCount = 15;  // TswW02 to TswW16
constexpr int TextColumnCount = 10;   // TswF01 to TswF10
constexpr int ColumnCount = 1 + 2 * ValueColumnCount + TextColumnCount;

struct ValueBuffers {
  char Sign[2];
  char Value[10];
};

// The record field that receives each value column, in column order. The
// record keeps these fields in a different order (TswW02, TswW09..TswW16,
// TswW08, TswW05..TswW07, TswW03, TswW04).
using ValueField = char (BadgeRecord::*)[8];
const ValueField ValueTargets[ValueColumnCount] = {
    &BadgeRecord::TswW02, &BadgeRecord::TswW03, &BadgeRecord::TswW04, &BadgeRecord::TswW05,
    &BadgeRecord::TswW06, &BadgeRecord::TswW07, &BadgeRecord::TswW08, &BadgeRecord::TswW09,
    &BadgeRecord::TswW10, &BadgeRecord::TswW11, &BadgeRecord::TswW12, &BadgeRecord::TswW13,
    &BadgeRecord::TswW14, &BadgeRecord::TswW15, &BadgeRecord::TswW16,
};

// The receiving buffers of one lookup, in column order, and their
// bindings. A NULL column reads as empty.
struct BalanceColumns {
  char TswW01[9] = {};
  ValueBuffers Values[ValueColumnCount] = {};  // TswW02 .. TswW16
  char Texts[TextColumnCount][21] = {};
  ColumnBinding Bindings[ColumnCount];
  BalanceColumns() {
    int c = 0;
    Bindings[c++] = {SQL_C_CHAR, TswW01, sizeof TswW01};
    for (auto& v : Values) {
      Bindings[c++] = {SQL_C_CHAR, v.Sign, sizeof v.Sign};
      Bindings[c++] = {SQL_C_CHAR, v.Value, sizeof v.Value};
    }
    for (auto& t : Texts) Bindings[c++] = {SQL_C_CHAR, t, sizeof t};
  }
  BalanceColumns(const BalanceColumns&) = delete;
};

// "%6.6s%s" of value and suffix: at most six value characters, right-aligned
// in six positions, then the suffix (one character or none).
void FormatBalanceField(char* field, const char* value, char suffix) {
  size_t n = strnlen(value, 6);
  size_t fill = 6 - n;
  std::memset(field, ' ', fill);
  std::memcpy(field + fill, value, n);
  field[6] = suffix;
  field[7] = '\0';  // also ends a six-character field when there is no suffix
}

// The values as the record holds them, in column order: one line for the
// fifteen values, one for the texts that are not blank.
void NoteBalances(RunObserver& observer, const BadgeRecord& badge) {
  char line[1024];
  size_t n = 0;
  for (int i = 0; i < ValueColumnCount; ++i)
    n += std::snprintf(line + n, sizeof line - n, "%sW%02d '%s'", i ? " " : "", i + 2, badge.*ValueTargets[i]);
  NoteTo(observer, "Salden (O2002TSW): %s", line);
  n = 0;
  line[0] = '\0';
  for (int i = 0; i < TextColumnCount; ++i) {
    if (std::strspn(badge.TswF[i], " ") == std::strlen(badge.TswF[i])) continue;
    n += std::snprintf(line + n, sizeof line - n, "%sF%02d '%s'", n ? " " : "", i + 1, badge.TswF[i]);
  }
  NoteTo(observer, "Saldotexte (O2002TSW): %s", n ? line : "alle leer");
}

}  // namespace

const char* FormatBalanceQuery(Session& db, const char* badgeNumber) {
  db.FormatSqlText(
      "SELECT       TswW01,       substring(TswW02, 1, 1), substring(TswW02, 2, 9),       substring(TswW03, 1, 1), substring(TswW03, 2, 9),       substring(TswW04, 1, 1), substring(TswW04, 2, 9),       substring(TswW05, 1, 1), substring(TswW05, 2, 9),       substring(TswW06, 1, 1), substring(TswW06, 2, 9),       substring(TswW07, 1, 1), substring(TswW07, 2, 9),       substring(TswW08, 1, 1), substring(TswW08, 2, 9),       substring(TswW09, 1, 1), substring(TswW09, 2, 9),       substring(TswW10, 1, 1), substring(TswW10, 2, 9),       substring(TswW11, 1, 1), substring(TswW11, 2, 9),       substring(TswW12, 1, 1), substring(TswW12, 2, 9),       substring(TswW13, 1, 1), substring(TswW13, 2, 9),       substring(TswW14, 1, 1), substring(TswW14, 2, 9),       substring(TswW15, 1, 1), substring(TswW15, 2, 9),       substring(TswW16, 1, 1), substring(TswW16, 2, 9),       TswF01, TswF02, TswF03, TswF04, TswF05,       TswF06, TswF07, TswF08, TswF09, TswF10  FROM  DRAVONIX.O2002TSW WHERE TSWIDN = '%q' ",
      badgeNumber);
  return QueryName;
}

StatementResult LookupBalanceValues(Session& db, BadgeRecord* badge) {
  FormatBalanceQuery(db, badge->AswNum);
  BalanceColumns columns;
  const StatementResult found = LookupSingleRow(db, columns.Bindings, ColumnCount);
  if (!found.IsRow()) {
    NoteTo(*db.Observer, "Salden (O2002TSW): %s (Code %d)", found.IsNoRow() ? "keine Zeile" : "Abfrage fehlgeschlagen",
                found.Code);
    return NameFailedQuery(db, QueryName, found);
  }

  for (int i = 0; i < ValueColumnCount; ++i) {
    ValueBuffers& v = columns.Values[i];
    // A "+" shows as a blank; any other sign character as itself.
    char suffix = v.Sign[0] == '+' ? ' ' : v.Sign[0];
    FormatBalanceField(badge->*ValueTargets[i], SkipLeadingBlanks(v.Value), suffix);
  }
  for (int i = 0; i < TextColumnCount; ++i)
    FormatLeftAligned(badge->TswF[i], sizeof badge->TswF[i], columns.Texts[i], 20);
  if (db.Observer->WantsNotes()) NoteBalances(*db.Observer, *badge);
  return RowFound();
}
