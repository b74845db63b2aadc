// Terminal lookup: model, balance set and the number of client rows.
#pragma once
#include "db/records.h"

#include "db/session.h"

// Fills TrmMod, TrmSal and TfzCount of a record whose TrmNam is set.
// Row (Code 0); NoRow (Code 100: terminal not found, the record keeps its
// fill); Failed when either statement failed.
StatementResult LookUpTerminal(Session& db, TerminalRecord* terminal);
// The lookup's two statement texts, into the session's SqlText.
void FormatTerminalQuery(Session& db, const char* terminalName);
void FormatClientCountQuery(Session& db, const char* terminalName);
