// Pure text helpers shared by the queries and the writers: trimming,
// quoting for query texts, the fixed formats of the records. No database
// code: the fuzz targets build them alone.
#pragma once
#include <cstddef>
#include <cstring>

// Removes trailing blanks and tabs in place; returns text.
char* TrimRight(char* text);
// First character that is not a blank, tab or line feed; the text itself
// when there is none.
char* SkipLeadingBlanks(char* text);
// Replaces a to z by their capitals in place; every other byte stays.
char* UpperCase(char* text);

// Copies value into out with every single quote doubled, so that the value
// stays one literal between single quotes. Returns out; a value that does not
// fit is cut at a character boundary (never leaving half a doubled quote).
const char* QuoteSqlValue(const char* value, char* out, size_t outSize);
// The length of value with every single quote doubled.
size_t QuotedLength(const char* value);

// A display text from language text list 220001: the entity "&#241;"
// becomes the byte 0xF1 (at most 20 characters after it are kept), then the
// text is cut to 12 characters. Returns 0.
int FixDisplayText(char* text);

// Every out/outSize pair below needs outSize >= 1.

// "%-<width>s": left-aligned, blank-filled on the right to at least width,
// never cut (only bounded by outSize, terminator included).
inline void FormatLeftAligned(char* out, size_t outSize, const char* text, size_t width) {
  size_t n = std::strlen(text);
  if (n > outSize - 1) n = outSize - 1;
  std::memmove(out, text, n);
  size_t end = n < width ? width : n;
  if (end > outSize - 1) end = outSize - 1;
  std::memset(out + n, ' ', end - n);
  out[end] = '\0';
}

// "%0<width>s" as the records need it: right-aligned, filled on the left
// with the digit "0" to at least width, never cut (bounded by outSize).
inline void FormatZeroFilled(char* out, size_t outSize, const char* text, size_t width) {
  size_t n = std::strlen(text);
  if (n > outSize - 1) n = outSize - 1;
  size_t fill = n < width ? width - n : 0;
  if (fill + n > outSize - 1) fill = outSize - 1 - n;
  std::memmove(out + fill, text, n);
  std::memset(out, '0', fill);
  out[fill + n] = '\0';
}
