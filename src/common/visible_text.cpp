// Bytes shown to people: see visible_text.h.
#include "common/visible_text.h"

namespace {

void AppendUtf8(unsigned char c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool ShownAsCode(unsigned char c, VisibleForm form) {
  if (c < 0x20 || c == 0x7F) return true;
  return form == VisibleForm::Utf8 && c >= 0x80 && c < 0xA0;
}

}  // namespace

void AppendVisibleText(const char* bytes, size_t length, VisibleForm form, std::string* out) {
  static const char Digits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (ShownAsCode(c, form)) {
      const char code[4] = {'\\', 'x', Digits[c >> 4], Digits[c & 0x0F]};
      out->append(code, sizeof code);
    } else if (form == VisibleForm::Utf8) {
      AppendUtf8(c, out);
    } else {
      *out += static_cast<char>(c);
    }
  }
}

std::string VisibleText(const std::string& bytes, VisibleForm form) {
  std::string shown;
  shown.reserve(bytes.size());
  AppendVisibleText(bytes.data(), bytes.size(), form, &shown);
  return shown;
}

void PrintVisibleText(const char* bytes, size_t length, FILE* out, VisibleForm form) {
  std::string shown;
  shown.reserve(length);
  AppendVisibleText(bytes, length, form, &shown);
  std::fwrite(shown.data(), 1, shown.size(), out);
}

std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) AppendUtf8(c, &out);
  return out;
}
