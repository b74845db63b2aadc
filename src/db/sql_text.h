// The one statement text of the session. Every query is formatted into it
// just before it is executed; its content is valid until the next query.
#pragma once
#include <cstddef>

constexpr size_t SqlTextSize = 2016;
extern char SqlText[SqlTextSize];

// Formats a query into SqlText. Conversions: "%s" a text as it is, "%q" a
// text with every single quote doubled (the format puts the quotes around
// it, as in '%q'), "%d" an int, "%ld" a long, "%%". Other conversions are
// left to vsnprintf, but not in a format that also holds "%q".
// Returns 0, or -1 when the text would not fit: SqlText is then empty and
// nothing is executed (a cut query must never reach the server).
int FormatSqlText(const char* format, ...);
