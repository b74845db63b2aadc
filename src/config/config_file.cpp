// Reading the configuration file and decrypting its values.
#include "config/config_file.h"

#include <cstring>

namespace {

// Empty texts and id 0; whole fields cleared, so that no earlier plain text
// stays behind the terminator.
void ClearRecord(ConfigRecord* record) { std::memset(record, 0, sizeof *record); }

// Little-endian halves: the first byte of each four is the least significant.
uint32_t LoadHalf(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void StoreHalf(uint32_t half, unsigned char* bytes) {
  bytes[0] = static_cast<unsigned char>(half & 0xFF);
  bytes[1] = static_cast<unsigned char>((half >> 8) & 0xFF);
  bytes[2] = static_cast<unsigned char>((half >> 16) & 0xFF);
  bytes[3] = static_cast<unsigned char>((half >> 24) & 0xFF);
}

// A digit of the value text: "A" to "F" are 10 to 15, everything else counts
// as its code minus 48 (lower-case letters thus give values far above 15).
int HexDigitValue(unsigned char c) {
  if (c >= 'A' && c <= 'F') return c - 55;
  return static_cast<int>(c) - 48;
}

}  // namespace

void ClearSecret(void* bytes, size_t length) {
  // A volatile view, so that the clearing is never left out as a dead store.
  volatile unsigned char* view = static_cast<volatile unsigned char*>(bytes);
  for (size_t i = 0; i < length; ++i) view[i] = 0;
}

bool ReadConfigLine(FILE* file, char* line, int maxChars, size_t* consumed) {
  int stored = 0;
  size_t taken = 0;
  line[0] = '\0';
  while (stored < maxChars) {
    int c = std::getc(file);
    if (c == EOF) break;
    ++taken;
    if (c == '\r') {
      // A carriage return belongs to the line end only right before a line feed.
      const int next = std::getc(file);
      if (next == '\n') {
        ++taken;
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, file);
      }
    }
    line[stored++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line[stored] = '\0';
  if (consumed != nullptr) *consumed = taken;
  return taken > 0;
}

int FindNthChar(const char* text, char c, int n) {
  int position = -1;
  int count = 0;
  for (int i = 0; text[i] != '\0'; ++i) {
    if (text[i] == c) {
      position = i;
      if (++count == n) return position;
    }
  }
  return position;
}

void CopyField(const char* text, int start, int length, char* output, int outputSize) {
  if (outputSize <= 0) return;
  output[0] = '\0';
  if (length < 0 || start < 0) return;
  // The start may lie at most on the terminator.
  const size_t textLength = std::strlen(text);
  if (static_cast<size_t>(start) > textLength) return;
  const char* from = text + start;
  size_t count = textLength - static_cast<size_t>(start);
  if (length > 0 && static_cast<size_t>(length) < count) count = static_cast<size_t>(length);
  if (count > static_cast<size_t>(outputSize - 1)) count = static_cast<size_t>(outputSize - 1);
  std::memcpy(output, from, count);
  output[count] = '\0';
}

int32_t ParseConfigId(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value <= INT64_C(2147483648)) value = value * 10 + (*p - '0');
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

void ExtractConfigRecord(const char* firstLine, const char* secondLine, ConfigRecord* record) {
  // Group: between the first and the second ";" of the first line.
  const int groupFrom = FindNthChar(firstLine, ';', 1);
  const int groupTo = FindNthChar(firstLine, ';', 2);
  CopyField(firstLine, groupFrom + 1, groupTo - groupFrom - 1, record->Group, sizeof record->Group);

  const int firstSeparator = FindNthChar(secondLine, ';', 1);
  const int secondSeparator = FindNthChar(secondLine, ';', 2);

  // Id: the text before the first ";". A line starting with ";" takes the
  // whole line under the zero-length rule, which reads as 0 as well.
  char idText[ConfigSecondLineChars + 1];
  CopyField(secondLine, 0, firstSeparator, idText, sizeof idText);
  record->Id = ParseConfigId(idText);

  CopyField(secondLine, firstSeparator + 1, secondSeparator - firstSeparator - 1, record->Key,
            sizeof record->Key);

  // Value: after the second ";" up to the line feed; a line without any ";"
  // gives the length 0 and so its whole text.
  int valueLength = 0;
  if (firstSeparator >= 0) {
    valueLength = FindNthChar(secondLine, '\n', 1) - secondSeparator - 1;
  }
  CopyField(secondLine, secondSeparator + 1, valueLength, record->Value, sizeof record->Value);
}

void ReadConfigValue(const char* group, const char* key, int32_t id, const char* path, ConfigRecord* record,
                     BlowfishState* cipher) {
  ClearRecord(record);

  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return;

  char firstLine[ConfigFirstLineChars + 1];
  char secondLine[ConfigSecondLineChars + 1];
  for (;;) {
    if (!ReadConfigLine(file, firstLine, ConfigFirstLineChars) ||
        !ReadConfigLine(file, secondLine, ConfigSecondLineChars)) {
      // End of file, also after an unpaired last line: nothing found.
      std::fclose(file);
      return;
    }
    ExtractConfigRecord(firstLine, secondLine, record);
    if (std::strcmp(record->Group, group) == 0 || std::strcmp(record->Key, key) == 0 || record->Id == id) break;
    ClearRecord(record);
  }

  // At most 200 characters give at most 13 blocks of plain text.
  char plain[8 * ((sizeof record->Value + 15) / 16) + 1];
  DecryptConfigValue(record->Value, plain, ConfigCipherKey, cipher);
  CopyField(plain, 0, 0, record->Value, sizeof record->Value);
  ClearSecret(plain, sizeof plain);
  std::fclose(file);
}

void HexToBytes(const char* text, int count, unsigned char* output) {
  const unsigned char* digits = reinterpret_cast<const unsigned char*>(text);
  // Characters after the end of the text count as "0".
  bool ended = false;
  auto next = [&]() -> int {
    if (!ended && *digits == '\0') ended = true;
    if (ended) return 0;
    return HexDigitValue(*digits++);
  };
  for (int i = 0; i < count / 2; ++i) {
    const int high = next();
    const int low = next();
    output[i] = static_cast<unsigned char>((16 * high + low) & 0xFF);
  }
}

int DecryptConfigValue(const char* text, char* output, const char* key, BlowfishState* cipher) {
  BlowfishState local;
  BlowfishState* state = cipher != nullptr ? cipher : &local;
  BlowfishKeySetup(state, reinterpret_cast<const unsigned char*>(key), std::strlen(key));

  unsigned char* out = reinterpret_cast<unsigned char*>(output);
  const size_t length = std::strlen(text);
  size_t written = 0;
  for (size_t start = 0; start < length; start += 16) {
    unsigned char block[8];
    HexToBytes(text + start, 16, block);
    uint32_t left = LoadHalf(block);
    uint32_t right = LoadHalf(block + 4);
    BlowfishDecryptBlock(state, &left, &right);
    StoreHalf(left, out + written);
    StoreHalf(right, out + written + 4);
    written += 8;
  }
  out[written] = '\0';

  ClearSecret(state, sizeof *state);
  return 1;
}

void EncryptConfigValue(const char* plain, char* output, const char* key, BlowfishState* cipher) {
  static const char Digits[] = "0123456789ABCDEF";
  BlowfishState local;
  BlowfishState* state = cipher != nullptr ? cipher : &local;
  BlowfishKeySetup(state, reinterpret_cast<const unsigned char*>(key), std::strlen(key));

  const size_t length = std::strlen(plain);
  size_t written = 0;
  for (size_t start = 0; start < length || start == 0; start += 8) {
    // The last block is filled with zero bytes.
    unsigned char block[8] = {};
    const size_t count = (length - start < 8) ? length - start : 8;
    std::memcpy(block, plain + start, count);
    uint32_t left = LoadHalf(block);
    uint32_t right = LoadHalf(block + 4);
    BlowfishEncryptBlock(state, &left, &right);
    StoreHalf(left, block);
    StoreHalf(right, block + 4);
    for (unsigned char byte : block) {
      output[written++] = Digits[byte >> 4];
      output[written++] = Digits[byte & 0x0F];
    }
  }
  output[written] = '\0';

  ClearSecret(state, sizeof *state);
}
