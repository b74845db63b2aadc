// The database login as the download tool reads it: see settings.h.
#include "config/settings.h"

#include <cstring>

#include "common/text.h"

namespace {

// Reads one setting into a zero-filled field, cut to the field's size.
void ReadSetting(const char* key, const char* path, char* field, size_t fieldSize, SettingSource* source) {
  ConfigRecord record;
  ReadConfigValue("", key, 0, path, &record);
  const size_t length = strnlen(record.Value, fieldSize - 1);
  std::memcpy(field, record.Value, length);
  field[length] = '\0';
  if (source != nullptr) {
    // A lookup that took nothing leaves every field of the record empty; a
    // record taken for its group or id may have an empty key.
    source->Taken = record.Key[0] != '\0' || record.Group[0] != '\0' || record.Id != 0 || record.Value[0] != '\0';
    std::memcpy(source->Key, record.Key, sizeof source->Key);
    source->Id = record.Id;
    source->ValueLength = std::strlen(record.Value);
  }
  ClearSecret(&record, sizeof record);
}

}  // namespace

void ReadLoginSettings(LoginSettings* settings, const char* path, SettingSource* sources) {
  std::memset(settings, 0, sizeof *settings);
  if (sources != nullptr) std::memset(sources, 0, sizeof(SettingSource) * LoginSettingCount);
  char schemaValue[sizeof ConfigRecord::Value];
  ReadSetting("LOGIN", path, settings->Login, sizeof settings->Login, sources ? &sources[0] : nullptr);
  ReadSetting("PASS", path, settings->Pass, sizeof settings->Pass, sources ? &sources[1] : nullptr);
  ReadSetting("DATABASE", path, settings->Database, sizeof settings->Database, sources ? &sources[2] : nullptr);
  ReadSetting("DB_SYSTEM", path, settings->DbSystem, sizeof settings->DbSystem, sources ? &sources[3] : nullptr);
  ReadSetting("SCHEMA", path, schemaValue, sizeof schemaValue, sources ? &sources[4] : nullptr);

  // The stored schema carries one character more than the schema name.
  size_t schemaLength = std::strlen(schemaValue);
  if (schemaLength > 0) --schemaLength;
  if (schemaLength > sizeof settings->Schema - 1) schemaLength = sizeof settings->Schema - 1;
  std::memcpy(settings->Schema, schemaValue, schemaLength);
  settings->Schema[schemaLength] = '\0';
  UpperCase(settings->Schema);
  ClearSecret(schemaValue, sizeof schemaValue);
}

int StoredValueLimit(const char* key) {
  if (std::strcmp(key, "LOGIN") == 0) return static_cast<int>(LoginFieldSize - 1);
  if (std::strcmp(key, "PASS") == 0) return static_cast<int>(PassFieldSize - 1);
  if (std::strcmp(key, "DATABASE") == 0) return static_cast<int>(DatabaseFieldSize - 1);
  if (std::strcmp(key, "DB_SYSTEM") == 0) return static_cast<int>(DbSystemFieldSize - 1);
  if (std::strcmp(key, "SCHEMA") == 0) return static_cast<int>(SchemaFieldSize - 1) + 1;
  return -1;
}
