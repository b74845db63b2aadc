// Texts shown on a terminal that takes UTF-8 (gentrmx-explain).
#pragma once

// Prints text as UTF-8: bytes above 127 (Latin-1) as their characters,
// control bytes as \xNN.
void PrintForTerminal(const char* text, unsigned long length);
