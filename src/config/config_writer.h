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

// Encrypts plainValue and stores it under key in the file at path: replaces
// the value of the first record with that key, or appends a new record
// ("<n>;GENTRMX;" and "<n>;<key>;<hex>", n the record's running number).
// Creates the file, readable by its owner only, when it does not exist;
// the folder must exist. An existing file keeps its permission bits (and,
// for root, its owner). A symbolic link is followed to an existing file.
//
// The file is whole or untouched: a lock file beside it ("<file>.lock",
// waited for up to 20 seconds) admits one writer at a time, and the new
// content goes into a hidden temporary file that is renamed over the old
// one. So concurrent calls each keep their record, or fail.
//
// Rejects, leaving the file as it was: values over ConfigMaxPlainValue
// characters; empty keys, keys over ConfigMaxKey characters or holding
// ";" or a control character other than the tab; a file that is not a
// configuration file of this format (pairs of "<n>;<group>;..." and
// "<n>;<key>;<hexadecimal value>" lines), that ends with an unpaired line,
// that is read-only or not a regular file; a link to a missing file.
// Returns 0 on success, -1 on failure. error, when given, receives the
// reason of a failure (German, no line end, at most 511 bytes) and is
// emptied by a success.
int SetConfigValue(const char* path, const char* key, const char* plainValue, std::string* error = nullptr);

// Prints every record of the file as "KEY=value" with the decrypted value,
// one per line; a non-empty PASS value shows as "***". Control characters
// are shown as \xNN (VisibleForm::Bytes). Returns the number of records, or
// -1 when the file cannot be read (reason in error, as for SetConfigValue).
int ListConfigValues(const char* path, FILE* out, std::string* error = nullptr);
