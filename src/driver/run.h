// One run of the tool: command line to exit status.
#pragma once

// Returns the exit status: 0 done, -1 failed.
int RunGentrmx(int argc, char** argv);
