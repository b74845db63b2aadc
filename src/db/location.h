// Location short text of a badge.
#pragma once
#include "db/records.h"

// 0 found (StoKtx set); 100 no row; -1 no handle or execution failed; other
// fetch codes as they came. StoKtx changes only on 0.
int LookupLocationText(BadgeRecord* badge);
