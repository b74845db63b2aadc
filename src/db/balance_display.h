// Balance display definitions of a balance set, terminal level and badge
// level.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "db/session.h"

struct BalanceDisplaySlot {
  int32_t MsdLfd;
  int32_t MsdSpl;
  char DisplayText[14];
  char ValueCode[11];
  char ValueText[23];
};
// Entry n-1 holds the definition whose MsdLfd is n (1 to 8).
struct BalanceDisplayTable {
  BalanceDisplaySlot Slots[8];
};

// One variant of the definitions: its statement, the key of its last open
// (kept for the value-code queries), its query texts, the definitions of
// the last open, read whole, and the buffers a definition is fetched into.
// A run keeps one per variant it reads.
struct DisplayCursor {
  // One definition as its fetch left the receiving buffers, with the
  // fetch's code (1: a text was cut).
  struct Row {
    int32_t Number;
    int32_t Selector;
    char List[41];
    char Definition[21];
    int Code;
  };

  // The terminal's balance set (terminalLevel) or the badge's.
  DisplayCursor(Session& db, bool terminalLevel);
  DisplayCursor(const DisplayCursor&) = delete;
  DisplayCursor& operator=(const DisplayCursor&) = delete;

  Statement Cursor;
  size_t KeyLength;  // characters of the key that are kept
  char Key[256] = {};
  const char* DefinitionQuery;  // '%q' the key
  const char* ValueCodeQuery;   // '%q' the key, %ld the running number
  bool FixListText;             // the list text may hold "&#241;"
  bool TraceFetches;            // print the two fetch trace lines
  bool Opened = false;          // open, and not yet closed
  std::vector<Row> Rows;
  size_t Next = 0;                       // the next row to hand out
  StatementResult End = NoRowFound();    // what the fetch after the last row gave
  FailureRecord EndFailure = {};         // its records, when it failed
  Row Fetched = {};                      // the receiving buffers
};

// The definition query's text for key (the terminal name or the badge
// number, as the variant keeps it) into the session's SqlText; returns the
// query's name as messages give it (as does FormatValueCodeQuery).
const char* FormatDefinitionQuery(DisplayCursor& cursor, const char* key);
// The value-code query's text for the definition of that running number,
// with the key of the cursor's last open, into the session's SqlText.
const char* FormatValueCodeQuery(DisplayCursor& cursor, int32_t runningNumber);

StatementResult OpenTerminalDisplayCursor(DisplayCursor& cursor, const char* terminalName);
StatementResult FetchTerminalDisplay(DisplayCursor& cursor, BalanceDisplaySlot* slot);
void CloseTerminalDisplayCursor(DisplayCursor& cursor);
StatementResult OpenBadgeDisplayCursor(DisplayCursor& cursor, const char* badgeNumber);
StatementResult FetchBadgeDisplay(DisplayCursor& cursor, BalanceDisplaySlot* slot);
void CloseBadgeDisplayCursor(DisplayCursor& cursor);
