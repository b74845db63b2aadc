// Terminal lookup: model, balance set and the number of client rows.
#pragma once
#include "db/records.h"

// Fills TrmMod, TrmSal and TfzCount of a record whose TrmNam is set.
// Returns 0, -1 when a statement could not be allocated or executed, or the
// fetch code that ended the lookup (100: terminal not found).
int LookUpTerminal(TerminalRecord* terminal);
