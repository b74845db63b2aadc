// Fuzz target: the helpers that put values into records and query texts.
//
// Input layout: 8 parameter bytes (sizes, widths, positions; missing bytes
// count 0), then texts separated by zero bytes (at most 8 are used). Every
// text goes through each helper with parameters taken from the 8 bytes,
// rotated per text. Buffers are heap blocks of exactly the size the helper
// is told, so that a byte read or written past them is an AddressSanitizer
// report; the results are checked against the rule each helper states.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/text.h"
#include "db/sql_text.h"
#include "layouts/record_layouts.h"
#include "writers/placement.h"

namespace {

[[noreturn]] void Fail(const char* helper, const std::string& detail) {
  std::fprintf(stderr, "fuzz_record_format: %s: %s\n", helper, detail.c_str());
  std::abort();
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 32 && c < 127 && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

void Expect(const char* helper, const std::string& got, const std::string& want, const std::string& input) {
  if (got != want)
    Fail(helper, "input \"" + Printable(input) + "\": got \"" + Printable(got) + "\", want \"" + Printable(want) + "\"");
}

// A heap block holding the text and its terminator, nothing more.
std::vector<char> Exact(const std::string& text) {
  std::vector<char> block(text.begin(), text.end());
  block.push_back('\0');
  return block;
}

// The terminated text in a block of size bytes; a missing terminator is a
// finding.
std::string Terminated(const char* helper, const std::vector<char>& block) {
  const void* end = std::memchr(block.data(), '\0', block.size());
  if (end == nullptr) Fail(helper, "output not terminated within its size");
  return std::string(block.data(), static_cast<const char*>(end) - block.data());
}

struct Params {
  uint8_t b[8];
  uint8_t At(size_t i) const { return b[i % 8]; }
};

// "%-<width>s" bounded by the buffer: the text (cut only by the buffer),
// then blanks up to the width.
void CheckLeftAligned(const std::string& text, const Params& p) {
  const size_t outSize = 1 + p.At(0);
  const size_t width = p.At(1);
  std::vector<char> out(outSize, '\x55');
  FormatLeftAligned(out.data(), outSize, text.c_str(), width);
  std::string want = text;
  if (want.size() < width) want.append(width - want.size(), ' ');
  Expect("FormatLeftAligned", Terminated("FormatLeftAligned", out), want.substr(0, outSize - 1), text);
}

// "%0<width>s": zeros on the left up to the width, the text never cut
// unless the buffer is too small; with room enough the result is
// max(width, length) long and ends with the whole text. A buffer too small
// keeps as much of the text as fits and drops zeros first.
void CheckZeroFilled(const std::string& text, const Params& p) {
  const size_t outSize = 1 + p.At(2);
  const size_t width = p.At(3) % 24;  // the records use 8; a few wider
  std::vector<char> out(outSize, '\x55');
  FormatZeroFilled(out.data(), outSize, text.c_str(), width);
  const std::string got = Terminated("FormatZeroFilled", out);
  const std::string kept = text.substr(0, outSize - 1);
  size_t zeros = kept.size() < width ? width - kept.size() : 0;
  if (zeros > outSize - 1 - kept.size()) zeros = outSize - 1 - kept.size();
  Expect("FormatZeroFilled", got, std::string(zeros, '0') + kept, text);

  // The record rule itself, with a buffer that always has room.
  std::vector<char> wide(text.size() + 9, '\x55');
  FormatZeroFilled(wide.data(), wide.size(), text.c_str(), 8);
  const std::string full = Terminated("FormatZeroFilled", wide);
  const size_t length = text.size() < 8 ? 8 : text.size();
  if (full.size() != length || full.compare(length - text.size(), text.size(), text) != 0 ||
      full.find_first_not_of('0') < length - text.size())
    Fail("FormatZeroFilled", "\"%08s\" of \"" + Printable(text) + "\" gave \"" + Printable(full) + "\"");
}

// PlaceText and PlaceTextCut: a record of exactly recordLength bytes, no
// terminator; only [position-1, position-1+n) may change.
void CheckPlace(const std::string& text, const Params& p, bool cut) {
  const char* helper = cut ? "PlaceTextCut" : "PlaceText";
  const size_t recordLength = 1 + p.At(4) % 128;
  const size_t position = p.At(5) % (recordLength + 3);  // 0 and past the end included
  const size_t maxLength = p.At(6) % 48;
  std::vector<char> record(recordLength, '#');

  std::string placed = text;
  if (cut) {
    placed = placed.substr(0, maxLength);
    // The source need not be terminated within maxLength: pass a block of
    // exactly maxLength bytes when the text is that long.
    std::vector<char> source(placed.begin(), placed.end());
    if (text.size() < maxLength) source.push_back('\0');
    if (source.empty()) source.push_back('\0');
    PlaceTextCut(record.data(), recordLength, position, source.data(), maxLength);
  } else {
    std::vector<char> source = Exact(text);
    PlaceText(record.data(), recordLength, position, source.data());
  }

  std::string want(recordLength, '#');
  if (position >= 1 && position <= recordLength) {
    const size_t start = position - 1;
    want.replace(start, std::min(placed.size(), recordLength - start),
                 placed.substr(0, recordLength - start));
  }
  Expect(helper, std::string(record.data(), recordLength), want, text);
}

// PlaceField through the layout tables: in a record of exactly the layout's
// length, a field chosen by the parameters gets at most its width of the
// text, and no byte outside the field changes.
void CheckPlaceField(const std::string& text, const Params& p) {
  for (size_t l = 0; l < LayoutCount; ++l) {
    const RecordLayout& layout = AllLayouts[l];
    if (layout.Form != RecordForm::FixedWidth) continue;
    const FieldLayout& field = layout.Fields[(p.At(7) + l) % layout.FieldCount];
    std::vector<char> record(layout.RecordLength, '#');
    std::vector<char> source = Exact(text);
    PlaceField(record.data(), layout.RecordLength, field, source.data());
    std::string want(layout.RecordLength, '#');
    const std::string placed = text.substr(0, std::min<size_t>(field.Width, std::strlen(source.data())));
    want.replace(field.Position - 1, placed.size(), placed);
    Expect("PlaceField", std::string(record.data(), record.size()), want, text);
  }
}

// A date column of eight blanks becomes eight zeros; anything else stays.
void CheckBlankDate(const std::string& text, const Params& p) {
  const std::string column = (text + "        ").substr(0, 8);
  const size_t before = p.At(7) % 16;
  const size_t after = p.At(0) % 4;
  std::string record = std::string(before, 'x') + column + std::string(after, 'y');
  std::vector<char> block(record.begin(), record.end());  // no terminator
  ZeroFillBlankDate(block.data(), before + 1);
  std::string want = record;
  if (column == "        ") want.replace(before, 8, "00000000");
  Expect("ZeroFillBlankDate", std::string(block.data(), block.size()), want, record);
}

void CheckTrimming(const std::string& text) {
  std::vector<char> block = Exact(text);
  char* result = TrimRight(block.data());
  if (result != block.data()) Fail("TrimRight", "did not return its argument");
  const size_t keep = text.find_last_not_of(" \t");
  Expect("TrimRight", Terminated("TrimRight", block), keep == std::string::npos ? "" : text.substr(0, keep + 1), text);

  block = Exact(text);
  const char* skipped = SkipLeadingBlanks(block.data());
  const size_t first = text.find_first_not_of(" \t\n");
  const size_t wantOffset = first == std::string::npos ? 0 : first;
  if (skipped != block.data() + wantOffset)
    Fail("SkipLeadingBlanks", "input \"" + Printable(text) + "\": offset " +
                                  std::to_string(skipped - block.data()) + ", want " + std::to_string(wantOffset));
}

std::string Unquote(const std::string& quoted) {
  std::string out;
  for (size_t i = 0; i < quoted.size(); ++i) {
    out.push_back(quoted[i]);
    if (quoted[i] == '\'') ++i;  // the second of the pair
  }
  return out;
}

// Every quote doubled: quotes come in pairs, undoing the doubling gives the
// value (or, when cut, the longest prefix whose quoted form fits), and the
// result stays one literal once put between quotes.
void CheckQuoting(const std::string& text, const Params& p) {
  const size_t fullSize = 2 * text.size() + 1;
  const size_t outSize = 1 + p.At(1) % fullSize;  // 1 .. fullSize
  for (size_t size : {outSize, fullSize}) {
    std::vector<char> out(size, '\x55');
    const char* result = QuoteSqlValue(text.c_str(), out.data(), size);
    if (result != out.data()) Fail("QuoteSqlValue", "did not return its output");
    const std::string quoted = Terminated("QuoteSqlValue", out);

    size_t run = 0;
    for (char c : quoted + "x") {
      if (c == '\'') {
        ++run;
        continue;
      }
      if (run % 2 != 0) Fail("QuoteSqlValue", "unpaired quote in \"" + Printable(quoted) + "\"");
      run = 0;
    }

    // The longest prefix of the value whose quoted form leaves room for the
    // terminator.
    size_t used = 0;
    size_t taken = 0;
    while (taken < text.size()) {
      const size_t need = text[taken] == '\'' ? 2 : 1;
      if (used + need >= size) break;
      used += need;
      ++taken;
    }
    Expect("QuoteSqlValue (unquoted)", Unquote(quoted), text.substr(0, taken), text);
    if (quoted.size() != used) Fail("QuoteSqlValue", "length " + std::to_string(quoted.size()) + ", want " + std::to_string(used));
  }
}

// A query either fits SqlText whole or is not formatted at all.
void CheckSqlText(const std::string& text, const Params& p) {
  std::vector<char> quoted(2 * text.size() + 1);
  QuoteSqlValue(text.c_str(), quoted.data(), quoted.size());
  const std::string padding(static_cast<size_t>(p.At(2)) * 8, 'x');  // up to 2040 characters
  const std::string want = " SELECT A FROM T WHERE N = '" + std::string(quoted.data()) + "' " + padding;
  static char SqlText[SqlTextSize];
  const int rc = FormatSqlTextInto(SqlText, " SELECT A FROM T WHERE N = '%q' %s", text.c_str(), padding.c_str());
  const void* end = std::memchr(SqlText, '\0', SqlTextSize);
  if (end == nullptr) Fail("FormatSqlText", "SqlText not terminated");
  const std::string got(SqlText, static_cast<const char*>(end) - SqlText);
  if (want.size() < SqlTextSize) {
    if (rc != 0) Fail("FormatSqlText", "a query of " + std::to_string(want.size()) + " characters was refused");
    Expect("FormatSqlText", got, want, text);
  } else {
    if (rc != -1 || !got.empty())
      Fail("FormatSqlText", "a query of " + std::to_string(want.size()) + " characters was not refused whole");
  }
}

// "&#241;" (the first one only) becomes the byte 0xF1 with at most 20
// characters after it; of that, 12 characters remain.
void CheckDisplayText(const std::string& text) {
  std::vector<char> block = Exact(text);
  if (FixDisplayText(block.data()) != 0) Fail("FixDisplayText", "result not 0");
  std::string want = text;
  const size_t found = text.find("&#241;");
  if (found != std::string::npos) want = text.substr(0, found) + '\xF1' + text.substr(found + 6, 20);
  Expect("FixDisplayText", Terminated("FixDisplayText", block), want.substr(0, 12), text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Params p = {};
  const size_t head = size < 8 ? size : 8;
  std::memcpy(p.b, data, head);

  std::vector<std::string> texts;
  const char* rest = reinterpret_cast<const char*>(data) + head;
  const char* end = reinterpret_cast<const char*>(data) + size;
  while (texts.size() < 8) {
    const char* zero = static_cast<const char*>(std::memchr(rest, '\0', end - rest));
    texts.emplace_back(rest, zero != nullptr ? zero : end);
    if (zero == nullptr) break;
    rest = zero + 1;
  }

  for (size_t i = 0; i < texts.size(); ++i) {
    Params q;
    for (size_t k = 0; k < 8; ++k) q.b[k] = p.b[(k + i) % 8];
    const std::string& text = texts[i];
    CheckLeftAligned(text, q);
    CheckZeroFilled(text, q);
    CheckPlace(text, q, false);
    CheckPlace(text, q, true);
    CheckPlaceField(text, q);
    CheckBlankDate(text, q);
    CheckTrimming(text);
    CheckQuoting(text, q);
    CheckSqlText(text, q);
    CheckDisplayText(text);
  }
  return 0;
}
