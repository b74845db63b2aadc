// Balance display definitions (Xel119Msd) of a balance set, in two
// variants: the terminal's balance set keyed by the terminal name, and the
// badge's own balance set keyed by the badge number. Each fetched definition
// is followed by a single-row query for its value code (language text list
// 220002); the display text comes from the definition or, where that is
// empty, from language text list 220001.
#include "db/balance_display.h"

#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "db/session.h"

namespace {

// Receiving buffers, shared by both cursors; each fetch consumes them at
// once.
int32_t RunningNumber;
int32_t ColumnSelector;
char ListText[41];
char DefinitionText[21];
char ValueCodeText[11];

const ColumnBinding DefinitionColumns[] = {
    {SQL_C_LONG, &RunningNumber, sizeof RunningNumber},
    {SQL_C_LONG, &ColumnSelector, sizeof ColumnSelector},
    {SQL_C_CHAR, ListText, sizeof ListText},
    {SQL_C_CHAR, DefinitionText, sizeof DefinitionText},
};
const ColumnBinding ValueCodeColumns[] = {
    {SQL_C_CHAR, ValueCodeText, sizeof ValueCodeText},
};

constexpr size_t DisplayTextWidth = 12;

bool IsRow(int code) { return code == SQL_SUCCESS || code == SQL_SUCCESS_WITH_INFO; }

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
void FillSlot(BalanceDisplaySlot* slot, bool fixListText) {
  TrimRight(DefinitionText);
  if (DefinitionText[0] != '\0') {
    SetDisplayText(slot, DefinitionText);
  } else {
    if (fixListText) FixDisplayText(ListText);
    SetDisplayText(slot, TrimRight(ListText));
  }
  slot->MsdLfd = RunningNumber;
  slot->MsdSpl = ColumnSelector;
  std::memcpy(slot->ValueText, "       ", 8);
}

// The value-code query: a single-row lookup. Returns its outcome; on Row
// the slot's ValueCode is set. Prints the fetch trace line when asked to
// and the query ran.
LookupOutcome QueryValueCode(BalanceDisplaySlot* slot, bool traceFetch, int* fetchCode) {
  ValueCodeText[0] = '\0';
  const LookupOutcome outcome = RunLookup(ValueCodeColumns, 1, fetchCode);
  if (traceFetch && (outcome == LookupOutcome::Row || outcome == LookupOutcome::NoRow))
    std::printf("SQLFetch Saldenwerte! RC: %ld\n", static_cast<long>(*fetchCode));
  if (outcome == LookupOutcome::Row) std::memcpy(slot->ValueCode, TrimRight(ValueCodeText), sizeof slot->ValueCode);
  return outcome;
}

// The result a display fetch gives for the value-code query: 0 found; -1 no
// statement; the native error of a failed execution (which may be any
// number, 1 included); else the fetch code as it came.
int ValueCodeResult(LookupOutcome outcome, int fetchCode) {
  switch (outcome) {
    case LookupOutcome::Row: return 0;
    case LookupOutcome::NoStatement: return -1;
    case LookupOutcome::NotExecuted: return FailureNativeError();
    case LookupOutcome::NoRow: break;
  }
  return fetchCode;
}

// One variant of the definitions: its cursor, the key of its last open
// (kept for the value-code queries) and its query texts.
struct DisplayVariant {
  Statement Cursor;
  size_t KeyLength;  // characters of the key that are kept
  char Key[256];
  const char* DefinitionQuery;  // '%q' the key
  const char* ValueCodeQuery;   // '%q' the key, %ld the running number
  bool FixListText;             // the list text may hold "&#241;"
  bool TraceFetches;            // print the two fetch trace lines
};

// The terminal name is kept whole (up to the 255 characters the terminal
// record holds); the badge number up to 50 characters.
DisplayVariant TerminalDisplay = {
    Statement(), 255, "",
    "SELECT  MsdLfd, COALESCE(MsdSpl, 1), SubString(FtxT50, 1, 17), substring(MsdTxt, 1, 12) FROM  Dravonix.Xel1140Trm, Dravonix.Xel119Msd, Dravonix.Xel102Whl  WHERE TrmNam = '%q'  AND TrmSal = MsdSal  AND ((TrmMnd = MsdMnd AND TrmLiz = MsdLiz) OR  MsdErf = 'ORVELIX')  AND FtxNumSpr = 220001  AND FtxWhl = MsdAnz  AND FtxSpr = TrmSpr  AND ((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL)  ORDER BY MsdSal, MsdLfd ",
    " SELECT FTXT10   FROM DRAVONIX.XEL1140TRM, DRAVONIX.XEL119MSD, DRAVONIX.XEL102WHL   WHERE TRMNAM  = '%q'   AND TRMSAL = MSDSAL   AND ((TrmMnd = MsdMnd AND TrmLiz = MsdLiz) OR  MsdErf = 'ORVELIX')   AND FTXNUMSPR = 220002   AND FTXWHL = MSDWRT   AND FTXSPR  = TRMSPR   AND MSDLFD = %ld   AND ((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS NULL)   AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL) ",
    true, true};
DisplayVariant BadgeDisplay = {
    Statement(), 50, "",
    "SELECT  MsdLfd, COALESCE(MsdSpl, 1), SubString(FtxT50, 1, 12), substring(MsdTxt, 1, 12) FROM Dravonix.Xel301Asw, Dravonix.Xel119Msd, Dravonix.Xel102Whl  WHERE AswNum = '%q'  AND AswSal = MsdSal  AND FtxNumSpr = 220001  AND FtxWhl = MsdAnz  AND FtxSpr = AswSpr  AND ((convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo AND AswGbi IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi AND AswGvo IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo       AND convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi))  AND ((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL)  ORDER BY MsdSal, MsdLfd ",
    " SELECT FTXT10  FROM DRAVONIX.XEL301ASW, DRAVONIX.XEL119MSD, DRAVONIX.XEL102WHL  WHERE ASWNUM  = '%q'  AND  ASWSAL = MSDSAL  AND FTXNUMSPR = 220002  AND  FTXWHL = MSDWRT  AND FTXSPR  = ASWSPR  AND  MSDLFD = %ld  AND ((convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo AND AswGbi IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi AND AswGvo IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo       AND convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi))  AND ((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL) ",
    false, false};

int OpenDisplayCursor(DisplayVariant& variant, const char* key) {
  const size_t n = strnlen(key, variant.KeyLength);
  std::memcpy(variant.Key, key, n);
  variant.Key[n] = '\0';
  FormatSqlText(variant.DefinitionQuery, variant.Key);
  return OpenCursor(variant.Cursor);
}

// Fetches the next definition of the variant into slot and formats its
// value-code query. Returns the fetch code; SQL_ERROR when the cursor is
// closed (then without the trace line).
int FetchDefinition(DisplayVariant& variant, BalanceDisplaySlot* slot) {
  ListText[0] = '\0';
  DefinitionText[0] = '\0';
  if (!variant.Cursor.IsOpen()) return SQL_ERROR;
  const int rc = variant.Cursor.Fetch(DefinitionColumns, 4);
  if (variant.TraceFetches) std::printf("Fetch Sal_DspTxtVar_Read! RC:%ld!\n", static_cast<long>(rc));
  if (!IsRow(rc)) return rc;
  FillSlot(slot, variant.FixListText);
  FormatSqlText(variant.ValueCodeQuery, variant.Key, static_cast<long>(slot->MsdLfd));
  return rc;
}

}  // namespace

// Opens the definitions of the terminal's balance set. 0 open; -1 no
// statement handle; else the native error of the failed execution.
int OpenTerminalDisplayCursor(const char* terminalName) { return OpenDisplayCursor(TerminalDisplay, terminalName); }

// Fetches the next terminal-level definition and its value code into slot.
// 0 filled; 100 no more definitions; -1 fetch error or cursor not open; from
// the value-code query -1 (no handle), the native error (not executed) or
// its fetch code (100: the definition has no value code). Prints one trace
// line per fetch, whatever the trace switch says. SqlCode is left alone.
int FetchTerminalDisplay(BalanceDisplaySlot* slot) {
  const int rc = FetchDefinition(TerminalDisplay, slot);
  if (!IsRow(rc)) return rc == SQL_NO_DATA ? 100 : -1;
  int fetchCode = 0;
  const LookupOutcome outcome = QueryValueCode(slot, true, &fetchCode);
  return ValueCodeResult(outcome, fetchCode);
}

int CloseTerminalDisplayCursor() { return CloseCursor(TerminalDisplay.Cursor); }

// Opens the definitions of the badge's own balance set; results as
// OpenTerminalDisplayCursor.
int OpenBadgeDisplayCursor(const char* badgeNumber) { return OpenDisplayCursor(BadgeDisplay, badgeNumber); }

// Fetches the next badge-level definition and its value code into slot.
// 0 filled; -1 no more definitions, fetch error or cursor not open; from
// the value-code query the codes of FetchTerminalDisplay. SqlCode follows
// every step. Prints nothing. A NULL text reads as empty, as at terminal
// level.
int FetchBadgeDisplay(BalanceDisplaySlot* slot) {
  SqlCode = FetchDefinition(BadgeDisplay, slot);
  if (!IsRow(SqlCode)) return -1;
  SqlCode = 0;
  int fetchCode = 0;
  const LookupOutcome outcome = QueryValueCode(slot, false, &fetchCode);
  const int result = ValueCodeResult(outcome, fetchCode);
  // SqlCode follows the value-code query whenever a statement ran.
  if (outcome != LookupOutcome::NoStatement) SqlCode = result;
  return result;
}

int CloseBadgeDisplayCursor() { return CloseCursor(BadgeDisplay.Cursor); }
