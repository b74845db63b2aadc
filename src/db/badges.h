// The badge cursor: the badges valid today for a terminal, in badge number
// order, one BadgeRecord at a time.
#pragma once
#include "db/records.h"

// 0 opened; -1 no statement handle; else the native error of the failed
// execution. Switches the terminal binding on when TfzCount > 0.
int OpenBadgeCursor(const TerminalRecord* terminal);
// record must be all zero. 0 a badge; 100 no more badges; -1 cursor not
// open or fetch error.
int FetchBadge(BadgeRecord* record);
int CloseBadgeCursor();
