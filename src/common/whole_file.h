// Reading a whole file into memory, for the few places that need all of
// it at once (a configuration file before it is replaced, a schema text).
// No database code.
#pragma once
#include <cstdio>
#include <string>

// Appends the rest of file to *content. False on a read error (errno set).
bool ReadWholeFile(FILE* file, std::string* content);
// Appends the whole file at path to *content. False, with errno set, when
// it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* content);
