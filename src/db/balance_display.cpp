// Balance display definitions (Xel119Msd) of a balance set, in two
// variants: the terminal's balance set keyed by the terminal name, and the
// badge's own balance set keyed by the badge number. Each fetched definition
// is followed by a single-row query for its value code (language text list
// 220002); the display text comes from the definition or, where that is
// empty, from language text list 220001.
//
// The definition query is a plain statement, read whole when it is opened:
// its rows are kept as fetched and handed out one by one afterwards, with
// the fetch code each had, and the end (or the failure) comes after the
// last of them, where the fetch that met it would have come. So the
// value-code queries still follow their definitions one by one, and a
// walk that stops early never sees what came after.
#include "db/balance_display.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/text.h"
#include "db/session.h"

namespace {

constexpr char DefinitionQueryName[] = "Abfrage der Saldenanzeige";
constexpr char ValueCodeQueryName[] = "Wertcodeabfrage der Saldenanzeige";
constexpr size_t DisplayTextWidth = 12;

// "%-12s " into the slot's 14-byte DisplayText: 12 characters of text,
// blank-filled, then one blank; always exactly 13 characters.
void SetDisplayText(BalanceDisplaySlot* slot, const char* text) {
  size_t n = strnlen(text, DisplayTextWidth);
  std::memcpy(slot->DisplayText, text, n);
  std::memset(slot->DisplayText + n, ' ', DisplayTextWidth + 1 - n);
  slot->DisplayText[DisplayTextWidth + 1] = '\0';
}

// Fills the slot from the fetched definition: the own text wins over the
// list text when it is not empty after trimming.
void FillSlot(BalanceDisplaySlot* slot, DisplayCursor::Row& fetched, bool fixListText) {
  TrimRight(fetched.Definition);
  if (fetched.Definition[0] != '\0') {
    SetDisplayText(slot, fetched.Definition);
  } else {
    if (fixListText) FixDisplayText(fetched.List);
    SetDisplayText(slot, TrimRight(fetched.List));
  }
  slot->MsdLfd = fetched.Number;
  slot->MsdSpl = fetched.Selector;
  std::memcpy(slot->ValueText, "       ", 8);
}

// The value-code query: a single-row lookup. Row (Code 0, the slot's
// ValueCode set), NoRow (Code the fetch code: the definition has no value
// code) or Failed. Prints the fetch trace line when asked to and a fetch
// answered.
StatementResult QueryValueCode(Session& db, BalanceDisplaySlot* slot, bool traceFetch) {
  char valueCode[11] = {};
  const ColumnBinding columns[] = {{SQL_C_CHAR, valueCode, sizeof valueCode}};
  const StatementResult found = RunLookup(db, columns, 1);
  if (traceFetch && !found.Failed()) std::printf("SQLFetch Saldenwerte! RC: %ld\n", static_cast<long>(found.Code));
  if (found.Failed()) return NameFailedQuery(db, ValueCodeQueryName, found);
  if (!found.IsRow()) return found;
  std::memcpy(slot->ValueCode, TrimRight(valueCode), sizeof slot->ValueCode);
  return RowFound();
}

}  // namespace

// The terminal name is kept whole (up to the 255 characters the terminal
// record holds); the badge number up to 50 characters.
DisplayCursor::DisplayCursor(Session& db, bool terminalLevel)
    : Cursor(db),
      KeyLength(terminalLevel ? 255 : 50),
      DefinitionQuery(terminalLevel
          ? "SELECT  MsdLfd, COALESCE(MsdSpl, 1), SubString(FtxT50, 1, 17), substring(MsdTxt, 1, 12) FROM  Dravonix.Xel1140Trm, Dravonix.Xel119Msd, Dravonix.Xel102Whl  WHERE TrmNam = '%q'  AND TrmSal = MsdSal  AND ((TrmMnd = MsdMnd AND TrmLiz = MsdLiz) OR  MsdErf = 'ORVELIX')  AND FtxNumSpr = 220001  AND FtxWhl = MsdAnz  AND FtxSpr = TrmSpr  AND ((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL)  ORDER BY MsdSal, MsdLfd "
          : "SELECT  MsdLfd, COALESCE(MsdSpl, 1), SubString(FtxT50, 1, 12), substring(MsdTxt, 1, 12) FROM Dravonix.Xel301Asw, Dravonix.Xel119Msd, Dravonix.Xel102Whl  WHERE AswNum = '%q'  AND AswSal = MsdSal  AND FtxNumSpr = 220001  AND FtxWhl = MsdAnz  AND FtxSpr = AswSpr  AND ((convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo AND AswGbi IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi AND AswGvo IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo       AND convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi))  AND ((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL)  ORDER BY MsdSal, MsdLfd "),
      ValueCodeQuery(terminalLevel
          ? " SELECT FTXT10   FROM DRAVONIX.XEL1140TRM, DRAVONIX.XEL119MSD, DRAVONIX.XEL102WHL   WHERE TRMNAM  = '%q'   AND TRMSAL = MSDSAL   AND ((TrmMnd = MsdMnd AND TrmLiz = MsdLiz) OR  MsdErf = 'ORVELIX')   AND FTXNUMSPR = 220002   AND FTXWHL = MSDWRT   AND FTXSPR  = TRMSPR   AND MSDLFD = %ld   AND ((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS NULL)   AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL) "
          : " SELECT FTXT10  FROM DRAVONIX.XEL301ASW, DRAVONIX.XEL119MSD, DRAVONIX.XEL102WHL  WHERE ASWNUM  = '%q'  AND  ASWSAL = MSDSAL  AND FTXNUMSPR = 220002  AND  FTXWHL = MSDWRT  AND FTXSPR  = ASWSPR  AND  MSDLFD = %ld  AND ((convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo AND AswGbi IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi AND AswGvo IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo       AND convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi))  AND ((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL) "),
      FixListText(terminalLevel),
      TraceFetches(terminalLevel) {}

namespace {

}  // namespace

const char* FormatValueCodeQuery(DisplayCursor& cursor, int32_t runningNumber) {
  cursor.Cursor.Db().FormatSqlText(cursor.ValueCodeQuery, cursor.Key, static_cast<long>(runningNumber));
  return ValueCodeQueryName;
}

const char* FormatDefinitionQuery(DisplayCursor& cursor, const char* key) {
  const size_t n = strnlen(key, cursor.KeyLength);
  std::memcpy(cursor.Key, key, n);
  cursor.Key[n] = '\0';
  cursor.Cursor.Db().FormatSqlText(cursor.DefinitionQuery, cursor.Key);
  return DefinitionQueryName;
}

namespace {

// Executes the variant's definition query for key and reads all its rows
// (the text buffers cleared before each fetch, so that a NULL text reads as
// empty; a NULL number keeps the row before's), up to the fetch that gave
// no row, whose result (and records) wait for the walk to reach it. Done,
// or Failed when the query could not be executed (Code as OpenCursor's).
StatementResult OpenDisplayCursor(DisplayCursor& variant, const char* key) {
  Session& db = variant.Cursor.Db();
  variant.Opened = false;
  variant.Rows.clear();
  variant.Next = 0;
  FormatDefinitionQuery(variant, key);
  const StatementResult opened = OpenResultSet(variant.Cursor);
  if (opened.Failed()) return NameFailedQuery(db, DefinitionQueryName, opened);
  DisplayCursor::Row& row = variant.Fetched;
  const ColumnBinding columns[] = {
      {SQL_C_LONG, &row.Number, sizeof row.Number},
      {SQL_C_LONG, &row.Selector, sizeof row.Selector},
      {SQL_C_CHAR, row.List, sizeof row.List},
      {SQL_C_CHAR, row.Definition, sizeof row.Definition},
  };
  for (;;) {
    row.List[0] = '\0';
    row.Definition[0] = '\0';
    const StatementResult fetched = variant.Cursor.Fetch(columns, 4);
    if (!fetched.IsRow()) {
      variant.End = fetched;
      if (fetched.Failed()) variant.EndFailure = db.LastFailure;
      break;
    }
    row.Code = fetched.Code;
    if (!KeepRow(variant.Rows, row)) {
      db.SetOwnFailure("kein Speicher fuer die Definitionen der Saldenanzeige");
      variant.End = Failure();
      variant.EndFailure = db.LastFailure;
      break;
    }
  }
  CloseCursor(variant.Cursor);
  variant.Opened = true;
  return opened;
}

// Hands out the next definition of the variant into slot and formats its
// value-code query. Row or NoRow with the code its fetch gave, or Failed
// (also when the variant is not open, then without the trace line).
StatementResult FetchDefinition(DisplayCursor& variant, BalanceDisplaySlot* slot) {
  Session& db = variant.Cursor.Db();
  if (!variant.Opened) {
    db.SetOwnFailure("Abfrage der Saldenanzeige nicht offen");
    return NameFailedQuery(db, DefinitionQueryName, Failure());
  }
  if (variant.Next >= variant.Rows.size()) {
    const StatementResult end = variant.End;
    if (variant.TraceFetches) std::printf("Fetch Sal_DspTxtVar_Read! RC:%ld!\n", static_cast<long>(end.Code));
    if (end.Failed()) db.LastFailure = variant.EndFailure;
    return NameFailedQuery(db, DefinitionQueryName, end);
  }
  DisplayCursor::Row& row = variant.Fetched;
  row = variant.Rows[variant.Next++];
  if (variant.TraceFetches) std::printf("Fetch Sal_DspTxtVar_Read! RC:%ld!\n", static_cast<long>(row.Code));
  FillSlot(slot, row, variant.FixListText);
  FormatValueCodeQuery(variant, slot->MsdLfd);
  return RowFound(row.Code);
}

void CloseDisplayCursor(DisplayCursor& variant) {
  CloseCursor(variant.Cursor);
  variant.Opened = false;
}

}  // namespace

// Opens the definitions of the terminal's balance set: Done, or Failed
// (Code the native error of a failed execution, else -1).
StatementResult OpenTerminalDisplayCursor(DisplayCursor& cursor, const char* terminalName) {
  return OpenDisplayCursor(cursor, terminalName);
}

// Fetches the next terminal-level definition and its value code into slot.
// Row (Code 0) filled; NoRow with Code 100 when there are no more
// definitions, or with the value-code query's fetch code (100: the
// definition has no value code); Failed when a fetch or the value-code
// query failed. Prints one trace line per fetch, whatever the trace switch
// says. SqlCode is left alone.
StatementResult FetchTerminalDisplay(DisplayCursor& cursor, BalanceDisplaySlot* slot) {
  const StatementResult fetched = FetchDefinition(cursor, slot);
  if (!fetched.IsRow()) return fetched;
  return QueryValueCode(cursor.Cursor.Db(), slot, true);
}

void CloseTerminalDisplayCursor(DisplayCursor& cursor) { CloseDisplayCursor(cursor); }

// Opens the definitions of the badge's own balance set; results as
// OpenTerminalDisplayCursor.
StatementResult OpenBadgeDisplayCursor(DisplayCursor& cursor, const char* badgeNumber) {
  return OpenDisplayCursor(cursor, badgeNumber);
}

// Fetches the next badge-level definition and its value code into slot.
// Row (Code 0) filled; NoRow with Code -1 when there are no more
// definitions, or with the value-code query's fetch code; Failed as at
// terminal level. SqlCode follows every step. Prints nothing. A NULL text
// reads as empty, as at terminal level.
StatementResult FetchBadgeDisplay(DisplayCursor& cursor, BalanceDisplaySlot* slot) {
  Session& db = cursor.Cursor.Db();
  const StatementResult fetched = FetchDefinition(cursor, slot);
  db.SqlCode = fetched.Code;
  if (fetched.Failed()) return fetched;
  if (!fetched.IsRow()) return NoRowFound(-1);
  db.SqlCode = 0;
  const StatementResult found = QueryValueCode(db, slot, false);
  db.SqlCode = found.Code;
  return found;
}

void CloseBadgeDisplayCursor(DisplayCursor& cursor) { CloseDisplayCursor(cursor); }
