// The badge cursor: the badges valid today for a terminal, in badge number
// order, one BadgeRecord at a time.
#pragma once
#include "db/records.h"
#include "db/session.h"

// The badge cursor of a run: its statement, the buffers its rows are
// fetched into, and the terminal binding, switched on once a terminal with
// client rows opened the cursor and kept for the rest of the run.
struct BadgeCursor {
  explicit BadgeCursor(Session& db);
  BadgeCursor(const BadgeCursor&) = delete;
  BadgeCursor& operator=(const BadgeCursor&) = delete;

  Statement Cursor;
  bool TerminalBinding = false;
  // Receiving buffers, one per column of the query, in column order.
  char AswNum[51];
  char AswGvo[15];
  char AswGbi[15];
  char AswPnr[9];
  char AswBkl[6];
  char AswGrp[6];
  char AswAan[51];
  int32_t AswAtp;
  char AwvSto[9];
  char AswSal[11];
  char AswBk2[6];
  int32_t AswSpr;
  char AswPin[33];
  static constexpr int ColumnCount = 13;
  ColumnBinding Columns[ColumnCount];
};

// Done, or Failed (Code the native error of a failed execution, else -1).
// Switches the terminal binding on when TfzCount > 0.
StatementResult OpenBadgeCursor(BadgeCursor& cursor, const TerminalRecord* terminal);
// record must be all zero. Row (Code 0) a badge; NoRow (Code 100) no more
// badges; Failed (Code -1) cursor not open or fetch error. SqlCode follows.
StatementResult FetchBadge(BadgeCursor& cursor, BadgeRecord* record);
void CloseBadgeCursor(BadgeCursor& cursor);
// The badge query's text into the session's SqlText: the badges of the
// terminal's licence and client pairs (bound), or all badges.
void FormatBadgeQuery(Session& db, const char* terminalName, bool bound);

// The conditions of the two badge queries, the very fragments their texts
// are put together from, so that an explanation of a badge the query does
// not deliver asks the same conditions.
struct BadgeQueryConditions {
  const char* BoundDates;        // valid today, query of a terminal with client rows
  const char* AllDates;          // valid today, query of all badges
  const char* BadgeStatus;       // AswSta not 4 or 8
  const char* AssignmentCode;    // AwvCod not 8
  const char* AssignmentStatus;  // AwvSta not 4 or 8
  const char* ClientMatch;       // licence and client among the terminal's
};
extern const BadgeQueryConditions BadgeConditions;
