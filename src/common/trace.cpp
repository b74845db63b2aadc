#include "common/trace.h"

#include <cstdio>

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
