// Bytes shown to people: texts from the download files, the database, the
// driver and the configuration file are Latin-1 bytes; a terminal shows
// UTF-8 and must not take control bytes as commands. One converter for
// every program; no database code (the operator tools link it without
// ODBC).
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

enum class VisibleForm {
  // One line of plain UTF-8 text: bytes 0x20 to 0x7E as they are, 0xA0 to
  // 0xFF as their UTF-8 characters, every other byte (below 0x20, 0x7F to
  // 0x9F: no character) as \xNN.
  Utf8,
  // The bytes as they are, except those below 0x20 and 0x7F, which are
  // shown as \xNN (the configuration tool's listing and report).
  Bytes,
};

// Appends the length bytes at bytes to *out in form; a zero byte is a byte
// like any other (\x00).
void AppendVisibleText(const char* bytes, size_t length, VisibleForm form, std::string* out);
// bytes in form. From a C text, the text up to its terminator.
std::string VisibleText(const std::string& bytes, VisibleForm form);
// Writes the length bytes at bytes in form to out.
void PrintVisibleText(const char* bytes, size_t length, FILE* out, VisibleForm form);

// Each Latin-1 byte as its UTF-8 character, control bytes included: for
// tables and CSV fields, which frame their values themselves.
std::string Latin1ToUtf8(const std::string& text);
