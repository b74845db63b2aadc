// Location short text of a badge.
#pragma once
#include "db/records.h"

#include "db/session.h"

// Row (StoKtx set), NoRow (Code 100) or Failed. StoKtx changes only with a
// row.
StatementResult LookupLocationText(Session& db, BadgeRecord* badge);
// The lookup's statement text for the badge, into the session's SqlText;
// returns the query's name as messages give it.
const char* FormatLocationQuery(Session& db, const char* badgeNumber);
