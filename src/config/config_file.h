// The configuration file: two-line records whose values are Blowfish
// ciphertext written as upper-case hexadecimal text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "config/blowfish.h"

// Relative to the working directory; each backslash of the installation's
// "..\..\files\quillnest.ini" is a path separator here.
inline constexpr char ConfigFilePath[] = "../../files/quillnest.ini";
// Key text of the value cipher.
inline constexpr char ConfigCipherKey[] = "VORTANE";

// One record of the file (200 characters of each text at most).
struct ConfigRecord {
  char Group[201];
  char Key[201];
  char Value[201];
  int32_t Id;
};

// Finds the first record whose group, key or id matches and leaves it in
// *record, its value decrypted; every field empty (id 0) when nothing
// matched or the file cannot be read. Opens, scans and closes the file on
// every call. The value is decrypted by DecryptConfigValue with cipher.
void ReadConfigValue(const char* group, const char* key, int32_t id, const char* path, ConfigRecord* record,
                     BlowfishState* cipher = nullptr);

// Decrypts hexadecimal ciphertext into output (room for 8 bytes per 16
// characters plus a terminator). Always returns 1. The cipher state is
// built from the key for this value and all zero again on return: in
// *cipher when given, else on the stack.
int DecryptConfigValue(const char* text, char* output, const char* key, BlowfishState* cipher = nullptr);
// Encrypts plain text into upper-case hexadecimal text: the inverse of
// DecryptConfigValue (zero padding to whole 8-byte blocks). The empty text
// gives one block of zero bytes, since an empty value field would not read
// back as the empty text. output needs room for 16 characters per started
// 8 bytes (at least 16) plus a terminator. The cipher state as for
// DecryptConfigValue.
void EncryptConfigValue(const char* plain, char* output, const char* key, BlowfishState* cipher = nullptr);

// Sets every byte of the length bytes at bytes to zero, also where the
// compiler sees no later read (plain text and cipher states).
void ClearSecret(void* bytes, size_t length);

// Two characters per byte, high digit first; "A"-"F" count 10-15, any other
// character its code minus 48 (lower-case letters give wrong bytes).
void HexToBytes(const char* text, int count, unsigned char* output);
// Position of the n-th occurrence of c (0-based); the last occurrence when
// there are fewer than n but at least one; -1 when there is none.
int FindNthChar(const char* text, char c, int n);
// Copies length characters from start; length 0 copies to the end of the
// text (line feed included); a negative length gives the empty text. The
// output is cut to outputSize - 1 characters and always terminated.
void CopyField(const char* text, int start, int length, char* output, int outputSize);

// Room of the two lines of a record, line feed included; longer lines are
// split there and the rest is read as the next line.
constexpr int ConfigFirstLineChars = 199;
constexpr int ConfigSecondLineChars = 399;

// Reads one line of at most maxChars characters, up to and including the
// line feed; a carriage return right before the line feed is dropped.
// line needs room for maxChars + 1 bytes and is always terminated. When
// consumed is given, it receives the number of bytes taken from the file.
// Returns false, with line empty, when the file has no more bytes.
bool ReadConfigLine(FILE* file, char* line, int maxChars, size_t* consumed = nullptr);
// Fills record with the group of the first line and the id, key and still
// encrypted value of the second line, by the field extraction rules.
void ExtractConfigRecord(const char* firstLine, const char* secondLine, ConfigRecord* record);
// The id text rule: leading white space skipped, an optional sign, then the
// digits up to the first other character; no digits give 0. Values beyond
// the 32-bit range are held at its limits.
int32_t ParseConfigId(const char* text);
