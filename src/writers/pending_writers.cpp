// TEMPORARY: removed as soon as the writers land.
#include "writers/writers.h"
int WorkMgDnl17P(const char*, TerminalRecord*) { return 1; }
int WorkMgDnl18P(const char*, TerminalRecord*) { return 1; }
int WorkMgDnl31P(const char*, TerminalRecord*) { return 1; }
int WorkMgDnl60P(const char*, TerminalRecord*) { return 1; }
int WorkIdStamm(const char*, TerminalRecord*) { return 1; }
