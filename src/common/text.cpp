#include "common/text.h"

namespace {
// Characters of a display text.
constexpr size_t DisplayTextWidth = 12;
}  // namespace

char* TrimRight(char* text) {
  size_t n = std::strlen(text);
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  text[n] = '\0';
  return text;
}

char* SkipLeadingBlanks(char* text) {
  char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n') ++p;
  return *p == '\0' ? text : p;
}

char* UpperCase(char* text) {
  for (char* p = text; *p != '\0'; ++p)
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  return text;
}

const char* QuoteSqlValue(const char* value, char* out, size_t outSize) {
  // Most values hold no quote: then it is one bounded copy.
  if (std::strchr(value, '\'') == nullptr) {
    size_t n = strnlen(value, outSize - 1);
    std::memcpy(out, value, n);
    out[n] = '\0';
    return out;
  }
  size_t o = 0;
  for (const char* p = value; *p != '\0'; ++p) {
    size_t need = (*p == '\'') ? 2 : 1;
    if (o + need >= outSize) break;
    out[o++] = *p;
    if (*p == '\'') out[o++] = '\'';
  }
  out[o] = '\0';
  return out;
}

size_t QuotedLength(const char* value) {
  size_t n = 0;
  for (const char* p = value; *p != '\0'; ++p) n += *p == '\'' ? 2 : 1;
  return n;
}

int FixDisplayText(char* text) {
  char* found = std::strstr(text, "&#241;");
  if (found != nullptr) {
    // The entity becomes the one byte it stands for; at most 20 characters
    // after it are kept (then cut to 12 below in any case).
    size_t after = strnlen(found + 6, 20);
    *found = '\xF1';
    std::memmove(found + 1, found + 6, after);
    found[1 + after] = '\0';
  }
  if (std::strlen(text) > DisplayTextWidth) text[DisplayTextWidth] = '\0';
  return 0;
}
