// Balance values of a badge (O2002TSW).
#pragma once
#include "db/records.h"

#include "db/session.h"

// Row (the 25 balance fields written), NoRow (Code 100) or Failed.
StatementResult LookupBalanceValues(Session& db, BadgeRecord* badge);
// The lookup's statement text for the badge, into the session's SqlText;
// returns the query's name as messages give it.
const char* FormatBalanceQuery(Session& db, const char* badgeNumber);
