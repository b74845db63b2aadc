// Reading a download file back: the file split into records by its layout,
// each record's fields as they stand, which layout a file has, and the
// Latin-1 to UTF-8 conversion for showing texts. No database code.
#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "layouts/record_layouts.h"

struct DownloadRecord {
  size_t Offset;                    // of its first byte in the file, 0-based
  std::vector<std::string> Values;  // one per field of the layout, Latin-1 bytes as in the file
};

struct DownloadContent {
  const RecordLayout* Layout = nullptr;
  std::vector<DownloadRecord> Records;  // the whole records before any damage
  bool Whole = true;                    // false: the file does not split into whole records
  size_t DamageOffset = 0;              // where the first record that does not split starts
  std::string Damage;                   // what is wrong there (German)
};

// Splits bytes into records of layout. Fixed-width records follow one
// another; a rest shorter than a record is damage. Quoted lines are 14
// fields in double quotes, joined by commas, ending in CR LF; a comma inside
// a field is part of it, a double quote or a line break inside is not
// possible, so a line that does not split so is damage.
DownloadContent SplitDownload(const std::string& bytes, const RecordLayout& layout);

// The whole file; false with a German message in *error when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);

// The layout of the function named on a tool's command line; null, after a
// German message on standard error naming the known functions, when there
// is none of that name.
const RecordLayout* LayoutOfOption(const char* function);

// The layout of a file, from its name (the base name starts with a function
// name, in any case) or else from its content (the size divides by exactly
// one record length, or the file is all IDSTAMM lines; when the size fits
// several, the one whose records all look right). nullptr when neither
// settles it, with the German reason in *reason.
const RecordLayout* DetectLayout(const std::string& path, const std::string& bytes, std::string* reason);

// True when the record's flags are "0" or "1", its dates eight digits (in
// IDSTAMM also empty) and its constants what they must be.
bool RecordLooksRight(const RecordLayout& layout, const DownloadRecord& record);

// Each Latin-1 byte as its UTF-8 character.
std::string Latin1ToUtf8(const std::string& text);

// text without its trailing blanks.
std::string WithoutTrailingBlanks(const std::string& text);

// The records of each badge (by the badge number without trailing blanks),
// as indexes into content.Records, in file order; badges sorted by number.
std::map<std::string, std::vector<size_t>> RecordsByBadge(const DownloadContent& content);
