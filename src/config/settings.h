// The database login as the download tool reads it from the configuration
// file: five keys, each into a zero-filled field of fixed width, the value
// cut to the field.
#pragma once
#include <cstddef>
#include <cstdint>

#include "config/config_file.h"

// Field sizes, terminator included.
constexpr size_t LoginFieldSize = 51;
constexpr size_t PassFieldSize = 51;
constexpr size_t DatabaseFieldSize = 51;
constexpr size_t DbSystemFieldSize = 41;
constexpr size_t SchemaFieldSize = 21;

struct LoginSettings {
  char Login[LoginFieldSize];
  char Pass[PassFieldSize];
  char Database[DatabaseFieldSize];
  char DbSystem[DbSystemFieldSize];
  char Schema[SchemaFieldSize];  // the stored value without its last character, upper-cased
};

// The five keys in the order they are read.
constexpr int LoginSettingCount = 5;
inline constexpr const char* LoginSettingKeys[LoginSettingCount] = {"LOGIN", "PASS", "DATABASE", "DB_SYSTEM",
                                                                    "SCHEMA"};

// What one read found, for reports about the file (never the value itself).
struct SettingSource {
  bool Taken;            // a record was taken (not necessarily one with this key)
  char Key[201];         // the key of the record taken
  int32_t Id;            // its id
  size_t ValueLength;    // length of its decrypted value
};

// Longest data source name the ODBC driver manager takes (its
// SQL_MAX_DSN_LENGTH); DATABASE names the data source.
constexpr int DataSourceNameLimit = 32;

// Zeroes settings and reads LOGIN, PASS, DATABASE, DB_SYSTEM and SCHEMA
// from the file at path, each by a lookup of its own with empty group and
// id 0. The schema is the stored value without its last character (the
// empty value gives the empty schema), cut to its field and upper-cased.
// sources, when given, receives one entry per key in LoginSettingKeys
// order. No plain value is left behind outside settings.
void ReadLoginSettings(LoginSettings* settings, const char* path = ConfigFilePath,
                       SettingSource* sources = nullptr);

// Most characters a stored value may have for the download tool to read it
// whole: the field size minus the terminator, for SCHEMA one more (its last
// character is dropped). -1 for a key that the tool does not read.
int StoredValueLimit(const char* key);
