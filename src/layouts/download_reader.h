// Reading a download file back: the file split into records by its layout,
// each record's fields as they stand, which layout a file has. Its texts
// are shown through common/visible_text.h. No database code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/visible_text.h"
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

// A download file read one record at a time, so that memory stays flat
// whatever the file's size.
class DownloadFileReader {
 public:
  DownloadFileReader() = default;
  ~DownloadFileReader();
  DownloadFileReader(const DownloadFileReader&) = delete;
  DownloadFileReader& operator=(const DownloadFileReader&) = delete;

  // Opens a regular file. A folder, a device, a FIFO or a file that cannot
  // be opened is refused with a German message in *error.
  bool Open(const std::string& path, std::string* error);
  uint64_t Size() const { return Size_; }
  // Up to HeadBytes from the start, for DetectLayout.
  static constexpr size_t HeadBytes = 64 * 1024;
  bool ReadHead(std::string* head, std::string* error);

  // Reads records of layout from the start of the file.
  bool Start(const RecordLayout& layout, std::string* error);
  enum class Step { Record, End, Damage, ReadError };
  // The next whole record: its fields into record, its bytes into raw
  // (when given). At Damage the file does not split on from DamageOffset
  // (reason in Damage); at ReadError the reason is in Error.
  Step Next(DownloadRecord* record, std::string* raw = nullptr);

  size_t DamageOffset = 0;
  std::string Damage;
  std::string Error;

 private:
  bool Fail(const char* what);
  std::string Path_;
  FILE* File_ = nullptr;
  uint64_t Size_ = 0;
  uint64_t Offset_ = 0;
  const RecordLayout* Layout_ = nullptr;
  std::string Line_;
};

// Longest IDSTAMM line the reader takes; a longer one is damage.
constexpr size_t MaxQuotedLineBytes = 64 * 1024;

// The layout of the function named on a tool's command line; null, after a
// German message on standard error naming the known functions, when there
// is none of that name.
const RecordLayout* LayoutOfOption(const char* function);

// The layout of a file, from its name (the base name starts with a function
// name, in any case) or else from its content (the size divides by exactly
// one record length, or the file's head is all IDSTAMM lines; when the size
// fits several, the one whose records in the head all look right). head is
// the start of the file, size its whole length. nullptr when neither
// settles it, with the German reason in *reason.
const RecordLayout* DetectLayout(const std::string& path, const std::string& head, uint64_t size,
                                 std::string* reason);

// What is wrong with a record by its layout, German, naming the first
// field that does not fit, with its position, and the value; empty when
// the record fits: flags "0" or "1", dates eight digits (in IDSTAMM also
// empty), reader numbers two digits or blanks, unused positions blank,
// constants what they must be.
std::string RecordFault(const RecordLayout& layout, const DownloadRecord& record);
inline bool RecordLooksRight(const RecordLayout& layout, const DownloadRecord& record) {
  return RecordFault(layout, record).empty();
}

// The values of a record as people read them: the fields as they stand,
// except where the writer puts one value over two fields. In MGDNL18P the
// date of the first "#W1" group ("TT.MM.JJ") covers the last text position
// and the value positions; it then shows whole under the value, and the
// text without its last position.
std::vector<std::string> ShownValues(const RecordLayout& layout, const DownloadRecord& record);

// Shorthand for VisibleText(text, VisibleForm::Utf8).
inline std::string Latin1ToVisibleUtf8(const std::string& text) { return VisibleText(text, VisibleForm::Utf8); }

// text without its trailing blanks.
std::string WithoutTrailingBlanks(const std::string& text);

// The records of each badge (by the badge number without trailing blanks),
// as indexes into content.Records, in file order; badges sorted by number.
std::map<std::string, std::vector<size_t>> RecordsByBadge(const DownloadContent& content);
