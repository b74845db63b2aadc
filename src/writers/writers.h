// The download file writers, one per download function. Each walks the
// badge cursor, writes its records to the DownloadFile, prints its summary
// line and returns 1 (badges read to the end) or 0 (a database error).
#pragma once
#include "db/records.h"

int WorkMgDnl17P(TerminalRecord* terminal);
int WorkMgDnl18P(TerminalRecord* terminal);
int WorkMgDnl31P(TerminalRecord* terminal);
int WorkMgDnl60P(TerminalRecord* terminal);
int WorkIdStamm(TerminalRecord* terminal);
