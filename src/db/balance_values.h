// Balance values of a badge (O2002TSW).
#pragma once
#include "db/records.h"

// 0 found and the 25 balance fields written; 100 no row; -1 no handle or
// execution failed; other fetch codes as they came.
int LookupBalanceValues(BadgeRecord* badge);
