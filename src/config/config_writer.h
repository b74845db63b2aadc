// Writing and listing the configuration file (administration only; the
// download tool itself never writes it).
#pragma once
#include <cstdio>
#include <string>

// Longest plain value: its encrypted text must fit into the 200 characters
// that the reader keeps of a value (12 blocks of 8 bytes).
constexpr int ConfigMaxPlainValue = 96;
// Longest key text.
constexpr int ConfigMaxKey = 100;

// Text of the last failure of SetConfigValue or ListConfigValues (German,
// no line end); empty after a success.
extern char ConfigWriterError[512];

// Encrypts plainValue and stores it under key in the file at path: replaces
// the value of the first record with that key, or appends a new record
// ("<n>;GENTRMX;" and "<n>;<key>;<hex>", n the record's running number).
// Creates the file when it does not exist; the folder must exist. Rejects
// values over ConfigMaxPlainValue characters, empty keys, keys over
// ConfigMaxKey characters or holding ";" or a line break, and files that
// end with an unpaired line. Returns 0 on success, -1 on failure.
int SetConfigValue(const char* path, const char* key, const char* plainValue);

// Prints every record of the file as "KEY=value" with the decrypted value,
// one per line; a non-empty PASS value shows as "***". Control characters
// are shown as \xNN. Returns the number of records, or -1 when the file
// cannot be read.
int ListConfigValues(const char* path, FILE* out);

// text with every control character (below 0x20, and 0x7F) shown as \xNN,
// as the listing shows keys and values.
std::string VisibleText(const char* text);
