// The badge cursor: the badges valid today for a terminal, in badge number
// order, one BadgeRecord at a time.
#pragma once
#include "db/records.h"
#include "db/session.h"

// Done, or Failed (Code the native error of a failed execution, else -1).
// Switches the terminal binding on when TfzCount > 0.
StatementResult OpenBadgeCursor(const TerminalRecord* terminal);
// record must be all zero. Row (Code 0) a badge; NoRow (Code 100) no more
// badges; Failed (Code -1) cursor not open or fetch error. SqlCode follows.
StatementResult FetchBadge(BadgeRecord* record);
void CloseBadgeCursor();

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
