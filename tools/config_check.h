// gentrmx-config check: whether gentrmx would connect with the settings of
// a configuration file and find its data, and if not, why not.
#pragma once

// Reads the settings of the file at path as gentrmx does, then tries each
// step of a run short of writing a file, one report line per step on
// standard output. terminal may be null. Only reads: no statement changes
// anything. Returns 0 when every step holds, 1 when one fails.
int RunConfigCheck(const char* path, const char* terminal);
