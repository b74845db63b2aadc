// The few text formats that the records rely on, done by hand: glibc's
// "%08s" pads with blanks, and these run once per badge and field.
#pragma once
#include <cstddef>
#include <cstring>

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

// Copies text into a fixed-width record from a 1-based position, without
// its terminator; never past the record's end.
inline void PlaceText(char* record, size_t recordLength, size_t position, const char* text) {
  size_t start = position - 1;
  if (start >= recordLength) return;
  size_t n = std::strlen(text);
  if (n > recordLength - start) n = recordLength - start;
  std::memcpy(record + start, text, n);
}

// Copies at most maxLength characters of text, as PlaceText.
inline void PlaceTextCut(char* record, size_t recordLength, size_t position, const char* text,
                         size_t maxLength) {
  size_t start = position - 1;
  if (start >= recordLength) return;
  size_t n = strnlen(text, maxLength);
  if (n > recordLength - start) n = recordLength - start;
  std::memcpy(record + start, text, n);
}

// A date column that the copy left all blank becomes "00000000".
inline void ZeroFillBlankDate(char* record, size_t position) {
  char* p = record + position - 1;
  for (int i = 0; i < 8; ++i)
    if (p[i] != ' ') return;
  std::memset(p, '0', 8);
}
