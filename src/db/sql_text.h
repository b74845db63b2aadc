// The statement text of a session and its formatter. No database code: the
// fuzz target of the text helpers builds it alone.
#pragma once
#include <cstdarg>
#include <cstddef>

constexpr size_t SqlTextSize = 2016;

// Formats a query into out (SqlTextSize bytes). Conversions: "%s" a text as
// it is, "%q" a text with every single quote doubled (the format puts the
// quotes around it, as in '%q'), "%d" an int, "%ld" a long, "%%". Other
// conversions are left to vsnprintf, but not in a format that also holds
// "%q". Returns 0, or -1 when the text would not fit: out is then empty and
// nothing is executed (a cut query must never reach the server).
int FormatSqlTextInto(char (&out)[SqlTextSize], const char* format, ...);
int FormatSqlTextV(char (&out)[SqlTextSize], const char* format, va_list args);
