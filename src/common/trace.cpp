#include "common/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

bool DebugTrace = false;

const char* ExplainBadge = nullptr;
bool ExplainSql = false;
bool PrintUtf8 = false;
int ExplainRowsDelivered = 0;

void PrintForTerminal(const char* text, unsigned long length) {
  for (unsigned long i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0xA0 || (c >= 0x20 && c < 0x7F)) {
      if (c < 0x80) {
        std::putchar(c);
      } else {
        std::putchar(0xC0 | (c >> 6));
        std::putchar(0x80 | (c & 0x3F));
      }
    } else {
      std::printf("\\x%02X", c);
    }
  }
}

void PrintDatabaseText(const char* text, unsigned long length) {
  if (PrintUtf8)
    PrintForTerminal(text, length);
  else
    std::fwrite(text, 1, length, stdout);
}

void PrintExplainNote(const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return;
  std::fputs("  ", stdout);
  PrintForTerminal(text, std::strlen(text));
  std::putchar('\n');
}
