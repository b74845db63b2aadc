// The statement text and its formatter. No database code: the fuzz target
// of the text helpers builds it alone.
#include "db/sql_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/text.h"

namespace {

// Appends n bytes at *out unless they would pass end; false when they would.
bool AppendText(char** out, const char* end, const char* text, size_t n) {
  if (n > static_cast<size_t>(end - *out)) return false;
  std::memcpy(*out, text, n);
  *out += n;
  return true;
}

// Formats the query with the conversions the query texts use, "%s", "%q",
// "%ld", "%d" and "%%", at the cost of copying the text: every statement is
// formatted once, most of them per badge, and vsnprintf costs several times
// that. A format with a conversion of another kind is left to vsnprintf.
enum class PlainFormat { Done, TooLong, Unsupported };
PlainFormat FormatPlain(char (&text)[SqlTextSize], const char* format, va_list args) {
  char* out = text;
  const char* const end = text + SqlTextSize - 1;  // the terminator's place
  for (const char* p = format;;) {
    const char* percent = std::strchr(p, '%');
    size_t literal = percent != nullptr ? static_cast<size_t>(percent - p) : std::strlen(p);
    if (!AppendText(&out, end, p, literal)) return PlainFormat::TooLong;
    if (percent == nullptr) break;
    char digits[24];
    const char* text;
    size_t n;
    if (percent[1] == 's') {
      text = va_arg(args, const char*);
      if (text == nullptr) text = "(null)";  // as glibc prints it
      n = std::strlen(text);
      p = percent + 2;
    } else if (percent[1] == 'q') {
      // Quoted in place: the value goes whole or the query does not fit.
      const char* value = va_arg(args, const char*);
      if (value == nullptr) value = "";
      n = QuotedLength(value);
      if (n > static_cast<size_t>(end - out)) return PlainFormat::TooLong;
      QuoteSqlValue(value, out, n + 1);
      out += n;
      p = percent + 2;
      continue;
    } else if (percent[1] == '%') {
      text = "%";
      n = 1;
      p = percent + 2;
    } else if (percent[1] == 'd' || (percent[1] == 'l' && percent[2] == 'd')) {
      long value = percent[1] == 'd' ? va_arg(args, int) : va_arg(args, long);
      // Digits from the right; the magnitude is taken digit by digit so that
      // the most negative value works too.
      char* d = digits + sizeof digits;
      long rest = value;
      do {
        long digit = rest % 10;
        *--d = static_cast<char>('0' + (digit < 0 ? -digit : digit));
        rest /= 10;
      } while (rest != 0);
      if (value < 0) *--d = '-';
      text = d;
      n = static_cast<size_t>(digits + sizeof digits - d);
      p = percent + (percent[1] == 'd' ? 2 : 3);
    } else {
      return PlainFormat::Unsupported;
    }
    if (!AppendText(&out, end, text, n)) return PlainFormat::TooLong;
  }
  *out = '\0';
  return PlainFormat::Done;
}

}  // namespace

int FormatSqlTextV(char (&out)[SqlTextSize], const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  PlainFormat result = FormatPlain(out, format, args);
  bool fits = result == PlainFormat::Done;
  // vsnprintf knows no "%q": a format that needs vsnprintf must not use it.
  if (result == PlainFormat::Unsupported && std::strstr(format, "%q") == nullptr) {
    int n = std::vsnprintf(out, SqlTextSize, format, again);
    fits = n >= 0 && static_cast<size_t>(n) < SqlTextSize;
  }
  va_end(again);
  if (!fits) {
    out[0] = '\0';
    return -1;
  }
  return 0;
}

int FormatSqlTextInto(char (&out)[SqlTextSize], const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int rc = FormatSqlTextV(out, format, args);
  va_end(args);
  return rc;
}
