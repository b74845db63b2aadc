// Balance display definitions (Xel119Msd) of a balance set, in two
// variants: the terminal's balance set keyed by the terminal name, and the
// badge's own balance set keyed by the badge number. Each fetched definition
// is followed by a single-row query for its value code (language text list
// 220002); the display text comes from the definition or, where that is
// empty, from language text list 220001.
#include "db/balance_display.h"

#include <cstdio>
#include <cstring>

#include "db/session.h"

namespace {

// Cursor handles, null while closed.
SQLHSTMT TerminalCursor = SQL_NULL_HSTMT;
SQLHSTMT BadgeCursor = SQL_NULL_HSTMT;

// Keys of the last open of each variant, already quoted for the query
// texts, kept for the value-code queries. The terminal name is kept whole
// (up to the 255 characters the terminal record holds); the badge number up
// to 50 characters. Every character may double when quoted.
constexpr size_t TerminalNameLength = 255;
constexpr size_t BadgeNumberLength = 50;
char KeptTerminalName[2 * TerminalNameLength + 1];
char KeptBadgeNumber[2 * BadgeNumberLength + 1];

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

// How the value-code query ended.
enum class ValueCodeOutcome {
  Found,        // a row: the slot's ValueCode is set
  NoStatement,  // no statement handle could be allocated
  NotExecuted,  // the execution failed; LastFailure says why
  NoRow,        // the fetch code (100: no value-code text) is in *fetchCode
};

// Runs the value-code query formatted in SqlText on a statement of its own
// (no cursor attributes: one row is read and the statement is freed at
// once) and, when it delivers a row, sets the slot's ValueCode.
ValueCodeOutcome QueryValueCode(BalanceDisplaySlot* slot, bool traceFetch, int* fetchCode) {
  SQLHSTMT stmt = AllocateStatement();
  if (stmt == SQL_NULL_HSTMT) return ValueCodeOutcome::NoStatement;
  if (ExecuteStatement(stmt, false) == SQL_ERROR) {
    CaptureDiagnostics(SQL_HANDLE_STMT, stmt);
    FreeStatement(stmt);
    return ValueCodeOutcome::NotExecuted;
  }
  ValueCodeText[0] = '\0';
  int rc = BindAndFetch(stmt, ValueCodeColumns, 1);
  if (traceFetch) std::printf("SQLFetch Saldenwerte! RC: %ld\n", static_cast<long>(rc));
  FreeStatement(stmt);
  *fetchCode = rc;
  if (!IsRow(rc)) return ValueCodeOutcome::NoRow;
  std::memcpy(slot->ValueCode, TrimRight(ValueCodeText), sizeof slot->ValueCode);
  return ValueCodeOutcome::Found;
}

// The result a display fetch gives for the value-code query: 0 found; -1 no
// statement; the native error of a failed execution (which may be any
// number, 1 included); else the fetch code as it came.
int ValueCodeResult(ValueCodeOutcome outcome, int fetchCode) {
  switch (outcome) {
    case ValueCodeOutcome::Found: return 0;
    case ValueCodeOutcome::NoStatement: return -1;
    case ValueCodeOutcome::NotExecuted: return FailureNativeError();
    case ValueCodeOutcome::NoRow: break;
  }
  return fetchCode;
}

}  // namespace

int FixDisplayText(char* text) {
  char* found = std::strstr(text, "&#241;");
  if (found != nullptr) {
    // The entity becomes the one byte it stands for; at most 20 characters
    // after it are kept (then cut to 12 below in any case).
    size_t after = strnlen(found + 6, 20);
    *found = '\xF1';
    std::memmove(found + 1, found + 6, after);
    found[1 + after] = '\0';
  }
  if (std::strlen(text) > DisplayTextWidth) text[DisplayTextWidth] = '\0';
  return 0;
}

// Opens the definitions of the terminal's balance set. 0 open; -1 no
// statement handle; else the native error of the failed execution.
int OpenTerminalDisplayCursor(const char* terminalName) {
  char name[TerminalNameLength + 1];
  std::strncpy(name, terminalName, TerminalNameLength);
  name[TerminalNameLength] = '\0';
  QuoteSqlValue(name, KeptTerminalName, sizeof KeptTerminalName);
  FormatSqlText(
      "SELECT  MsdLfd, COALESCE(MsdSpl, 1), SubString(FtxT50, 1, 17), substring(MsdTxt, 1, 12) FROM  Dravonix.Xel1140Trm, Dravonix.Xel119Msd, Dravonix.Xel102Whl  WHERE TrmNam = '%s'  AND TrmSal = MsdSal  AND ((TrmMnd = MsdMnd AND TrmLiz = MsdLiz) OR  MsdErf = 'ORVELIX')  AND FtxNumSpr = 220001  AND FtxWhl = MsdAnz  AND FtxSpr = TrmSpr  AND ((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL)  ORDER BY MsdSal, MsdLfd ",
      KeptTerminalName);
  return OpenCursor(&TerminalCursor);
}

// Fetches the next terminal-level definition and its value code into slot.
// 0 filled; 100 no more definitions; -1 fetch error or cursor not open; from
// the value-code query -1 (no handle), the native error (not executed) or
// its fetch code (100: the definition has no value code). Prints one trace
// line per fetch, whatever the trace switch says. SqlCode is left alone.
int FetchTerminalDisplay(BalanceDisplaySlot* slot) {
  ListText[0] = '\0';
  DefinitionText[0] = '\0';
  if (TerminalCursor == SQL_NULL_HSTMT) return -1;
  int rc = BindAndFetch(TerminalCursor, DefinitionColumns, 4);
  std::printf("Fetch Sal_DspTxtVar_Read! RC:%ld!\n", static_cast<long>(rc));
  if (!IsRow(rc)) return rc == SQL_NO_DATA ? 100 : -1;
  FillSlot(slot, true);

  FormatSqlText(
      " SELECT FTXT10   FROM DRAVONIX.XEL1140TRM, DRAVONIX.XEL119MSD, DRAVONIX.XEL102WHL   WHERE TRMNAM  = '%s'   AND TRMSAL = MSDSAL   AND ((TrmMnd = MsdMnd AND TrmLiz = MsdLiz) OR  MsdErf = 'ORVELIX')   AND FTXNUMSPR = 220002   AND FTXWHL = MSDWRT   AND FTXSPR  = TRMSPR   AND MSDLFD = %ld   AND ((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS NULL)   AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL) ",
      KeptTerminalName, static_cast<long>(slot->MsdLfd));
  int fetchCode = 0;
  const ValueCodeOutcome outcome = QueryValueCode(slot, true, &fetchCode);
  return ValueCodeResult(outcome, fetchCode);
}

int CloseTerminalDisplayCursor() { return CloseCursor(&TerminalCursor); }

// Opens the definitions of the badge's own balance set; results as
// OpenTerminalDisplayCursor.
int OpenBadgeDisplayCursor(const char* badgeNumber) {
  char number[BadgeNumberLength + 1];
  std::strncpy(number, badgeNumber, BadgeNumberLength);
  number[BadgeNumberLength] = '\0';
  QuoteSqlValue(number, KeptBadgeNumber, sizeof KeptBadgeNumber);
  FormatSqlText(
      "SELECT  MsdLfd, COALESCE(MsdSpl, 1), SubString(FtxT50, 1, 12), substring(MsdTxt, 1, 12) FROM Dravonix.Xel301Asw, Dravonix.Xel119Msd, Dravonix.Xel102Whl  WHERE AswNum = '%s'  AND AswSal = MsdSal  AND FtxNumSpr = 220001  AND FtxWhl = MsdAnz  AND FtxSpr = AswSpr  AND ((convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo AND AswGbi IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi AND AswGvo IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo       AND convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi))  AND ((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL)  ORDER BY MsdSal, MsdLfd ",
      KeptBadgeNumber);
  return OpenCursor(&BadgeCursor);
}

// Fetches the next badge-level definition and its value code into slot.
// 0 filled; -1 no more definitions, fetch error or cursor not open; from
// the value-code query the codes of FetchTerminalDisplay. SqlCode follows
// every step. Prints nothing. A NULL text reads as empty, as at terminal
// level.
int FetchBadgeDisplay(BalanceDisplaySlot* slot) {
  SqlCode = -1;
  ListText[0] = '\0';
  DefinitionText[0] = '\0';
  if (BadgeCursor == SQL_NULL_HSTMT) return -1;
  SqlCode = BindAndFetch(BadgeCursor, DefinitionColumns, 4);
  if (!IsRow(SqlCode)) return -1;
  SqlCode = 0;
  FillSlot(slot, false);

  FormatSqlText(
      " SELECT FTXT10  FROM DRAVONIX.XEL301ASW, DRAVONIX.XEL119MSD, DRAVONIX.XEL102WHL  WHERE ASWNUM  = '%s'  AND  ASWSAL = MSDSAL  AND FTXNUMSPR = 220002  AND  FTXWHL = MSDWRT  AND FTXSPR  = ASWSPR  AND  MSDLFD = %ld  AND ((convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo AND AswGbi IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi AND AswGvo IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo       AND convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi))  AND ((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL) ",
      KeptBadgeNumber, static_cast<long>(slot->MsdLfd));
  int fetchCode = 0;
  const ValueCodeOutcome outcome = QueryValueCode(slot, false, &fetchCode);
  const int result = ValueCodeResult(outcome, fetchCode);
  // SqlCode follows the value-code query whenever a statement ran.
  if (outcome != ValueCodeOutcome::NoStatement) SqlCode = result;
  return result;
}

int CloseBadgeDisplayCursor() { return CloseCursor(&BadgeCursor); }
