// Fuzz target: the configuration lookup and the value decryption.
//
// The input is the whole configuration file. It is written to a scratch
// file and looked up as the driver does (empty group, id 0, each of the five
// keys), and once with a group and id of its own; every result is compared
// with a plain model of the lookup written here from the file rules: all
// CR LF pairs become LF first, then the bytes are cut into lines of at most
// 199 and 399 characters. The raw input is also decrypted as value text,
// the configuration tool's writer stores a value into the file and must read
// it back, and inputs of up to 100 bytes are encrypted and decrypted back,
// directly and through a file.
//
// Any difference, an unterminated field, a cipher state left behind or a
// sanitizer report is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/whole_file.h"
#include "config/blowfish.h"
#include "config/config_file.h"
#include "config/config_writer.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail = std::string()) {
  std::fprintf(stderr, "fuzz_config: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
  std::abort();
}

void Check(bool condition, const char* what, const std::string& detail = std::string()) {
  if (!condition) Fail(what, detail);
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 32 && c < 127 && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Scratch file, one per process, removed at exit. TMPDIR (set by
// scripts/fuzz.sh to its own folder) is honoured, so a crashed run leaves
// nothing behind in /tmp itself.

std::string ScratchPath;

void RemoveScratch() {
  if (!ScratchPath.empty()) unlink(ScratchPath.c_str());
}

const char* Scratch() {
  if (ScratchPath.empty()) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") +
                          "/gentrmx-fuzz-config-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) Fail("cannot create the scratch file", pattern);
    close(fd);
    ScratchPath = name.data();
    std::atexit(RemoveScratch);
  }
  return ScratchPath.c_str();
}

void WriteScratch(const void* data, size_t size) {
  FILE* file = std::fopen(Scratch(), "wb");
  if (file == nullptr) Fail("cannot write the scratch file", ScratchPath);
  if (size > 0 && std::fwrite(data, 1, size, file) != size) Fail("short write", ScratchPath);
  if (std::fclose(file) != 0) Fail("cannot close the scratch file", ScratchPath);
}

// ---------------------------------------------------------------------------
// The model.

constexpr size_t FieldChars = 200;  // what the record keeps of each field

const BlowfishState& ModelCipher() {
  static const BlowfishState state = [] {
    BlowfishState s;
    BlowfishKeySetup(&s, reinterpret_cast<const unsigned char*>("VORTANE"), 7);
    return s;
  }();
  return state;
}

int ModelDigit(unsigned char c) { return (c >= 'A' && c <= 'F') ? c - 55 : c - 48; }

// All 8 bytes per started group of 16 characters; missing digits count 0.
std::string ModelDecryptBytes(const std::string& text) {
  std::string out;
  for (size_t start = 0; start < text.size(); start += 16) {
    unsigned char block[8];
    for (int i = 0; i < 8; ++i) {
      const size_t h = start + 2 * i;
      const int high = h < text.size() ? ModelDigit(static_cast<unsigned char>(text[h])) : 0;
      const int low = h + 1 < text.size() ? ModelDigit(static_cast<unsigned char>(text[h + 1])) : 0;
      block[i] = static_cast<unsigned char>((16 * high + low) & 0xFF);
    }
    uint32_t left = block[0] | block[1] << 8 | block[2] << 16 | static_cast<uint32_t>(block[3]) << 24;
    uint32_t right = block[4] | block[5] << 8 | block[6] << 16 | static_cast<uint32_t>(block[7]) << 24;
    BlowfishDecryptBlock(&ModelCipher(), &left, &right);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((left >> (8 * i)) & 0xFF));
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((right >> (8 * i)) & 0xFF));
  }
  return out;
}

std::string UpToZero(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

// Position of the n-th c; the last one when there are fewer; -1 for none.
int ModelNth(const std::string& line, char c, int n) {
  int last = -1;
  int seen = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != c) continue;
    last = static_cast<int>(i);
    if (++seen == n) break;
  }
  return last;
}

// Negative length: empty; 0: to the end of the line; else that many.
std::string ModelField(const std::string& line, int start, int length) {
  if (length < 0 || start < 0 || static_cast<size_t>(start) > line.size()) return std::string();
  if (length == 0) return line.substr(static_cast<size_t>(start));
  return line.substr(static_cast<size_t>(start), static_cast<size_t>(length));
}

int32_t ModelId(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT64_C(1) << 40) value = INT64_C(1) << 40;  // far past either limit
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

struct ModelRecord {
  std::string Group, Key, Value;
  int32_t Id = 0;
};

std::vector<std::string> ModelLines(const uint8_t* data, size_t size) {
  std::string bytes;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;  // CR of CR LF
    bytes.push_back(static_cast<char>(data[i]));
  }
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t room = lines.size() % 2 == 0 ? 199 : 399;  // first / second line of a pair
    size_t end = pos;
    while (end < bytes.size() && end - pos < room) {
      if (bytes[end++] == '\n') break;
    }
    lines.push_back(bytes.substr(pos, end - pos));
    pos = end;
  }
  return lines;
}

ModelRecord ModelLookup(const std::vector<std::string>& lines, const std::string& group,
                        const std::string& key, int32_t id) {
  for (size_t i = 0; i + 1 < lines.size(); i += 2) {
    // Fields end at a zero byte, as every C text does.
    const std::string first = UpToZero(lines[i]);
    const std::string second = UpToZero(lines[i + 1]);
    ModelRecord r;
    const int g1 = ModelNth(first, ';', 1), g2 = ModelNth(first, ';', 2);
    r.Group = ModelField(first, g1 + 1, g2 - g1 - 1).substr(0, FieldChars);
    const int s1 = ModelNth(second, ';', 1), s2 = ModelNth(second, ';', 2);
    r.Id = ModelId(ModelField(second, 0, s1));
    r.Key = ModelField(second, s1 + 1, s2 - s1 - 1).substr(0, FieldChars);
    const int valueLength = s1 < 0 ? 0 : ModelNth(second, '\n', 1) - s2 - 1;
    const std::string cipher = ModelField(second, s2 + 1, valueLength).substr(0, FieldChars);
    if (r.Group == group || r.Key == key || r.Id == id) {
      r.Value = UpToZero(ModelDecryptBytes(cipher)).substr(0, FieldChars);
      return r;
    }
  }
  return ModelRecord();
}

// ---------------------------------------------------------------------------
// Checks on the implementation.

void CheckCipherCleared(const BlowfishState& cipher, const char* after) {
  static const BlowfishState Zero = {};
  if (std::memcmp(&cipher, &Zero, sizeof Zero) != 0) Fail("cipher state not cleared", after);
}

// A cipher state that is not all zero, so that one left uncleared shows.
BlowfishState DirtyCipher() {
  BlowfishState cipher;
  std::memset(&cipher, 0x55, sizeof cipher);
  return cipher;
}

std::string StoredField(const char* field, size_t size, const char* name) {
  const void* end = std::memchr(field, '\0', size);
  if (end == nullptr) Fail("field not terminated", name);
  return std::string(field, static_cast<const char*>(end) - field);
}

void CheckLookup(const std::vector<std::string>& lines, const char* group, const char* key, int32_t id) {
  // Garbage in the record beforehand: the lookup must clear all of it.
  ConfigRecord record;
  std::memset(&record, 0x55, sizeof record);
  BlowfishState cipher = {};
  ReadConfigValue(group, key, id, Scratch(), &record, &cipher);
  CheckCipherCleared(cipher, "ReadConfigValue");
  const std::string gotGroup = StoredField(record.Group, sizeof record.Group, "Group");
  const std::string gotKey = StoredField(record.Key, sizeof record.Key, "Key");
  const std::string gotValue = StoredField(record.Value, sizeof record.Value, "Value");

  const ModelRecord want = ModelLookup(lines, group, key, id);
  const std::string what = std::string("lookup of ") + key;
  if (gotGroup != want.Group) Fail((what + ": group").c_str(), Printable(gotGroup) + " != " + Printable(want.Group));
  if (gotKey != want.Key) Fail((what + ": key").c_str(), Printable(gotKey) + " != " + Printable(want.Key));
  if (record.Id != want.Id)
    Fail((what + ": id").c_str(), std::to_string(record.Id) + " != " + std::to_string(want.Id));
  if (gotValue != want.Value) Fail((what + ": value").c_str(), Printable(gotValue) + " != " + Printable(want.Value));
}

// Decrypts text into a buffer of exactly the documented size, so that a
// write past it is an AddressSanitizer report.
std::string Decrypt(const std::string& text) {
  const size_t groups = (text.size() + 15) / 16;
  std::vector<char> output(8 * groups + 1, '\x55');
  BlowfishState cipher = DirtyCipher();
  Check(DecryptConfigValue(text.c_str(), output.data(), ConfigCipherKey, &cipher) == 1, "DecryptConfigValue result");
  CheckCipherCleared(cipher, "DecryptConfigValue");
  Check(output[8 * groups] == '\0', "decrypted text not terminated after its last block");
  return std::string(output.data(), 8 * groups);
}

void CheckDecryption(const std::string& text) {
  const std::string got = Decrypt(text);
  const std::string want = ModelDecryptBytes(text);
  if (got != want) Fail("decryption", Printable(text) + ": " + Printable(got) + " != " + Printable(want));
}

// Plain text (no zero byte) of up to 100 bytes: encrypt, check the form of
// the value text, and decrypt it back, directly and through a record of a
// file when it fits the 200 characters a value keeps.
void CheckRoundTrip(const std::string& plain) {
  const size_t blocks = plain.empty() ? 1 : (plain.size() + 7) / 8;
  std::vector<char> hex(16 * blocks + 1, '\x55');
  BlowfishState cipher = DirtyCipher();
  EncryptConfigValue(plain.c_str(), hex.data(), ConfigCipherKey, &cipher);
  CheckCipherCleared(cipher, "EncryptConfigValue");
  const std::string text(hex.data(), strnlen(hex.data(), hex.size()));
  Check(text.size() == 16 * blocks, "value text length", Printable(text));
  for (char c : text)
    Check((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'), "value text not upper-case hex", Printable(text));

  const std::string back = UpToZero(Decrypt(text));
  if (back != plain) Fail("round trip", Printable(plain) + " came back as " + Printable(back));

  if (text.size() <= FieldChars) {
    const std::string file = "1;GENTRMX;\r\n1;LOGIN;" + text + "\r\n";
    WriteScratch(file.data(), file.size());
    ConfigRecord record;
    cipher = DirtyCipher();
    ReadConfigValue("", "LOGIN", 0, Scratch(), &record, &cipher);
    CheckCipherCleared(cipher, "ReadConfigValue");
    const std::string got = StoredField(record.Value, sizeof record.Value, "Value");
    if (got != plain) Fail("round trip through a file", Printable(plain) + " read as " + Printable(got));
  }
}

// FindNthChar and CopyField on the input as text, with a cut output.
void CheckFieldHelpers(const std::string& text, const uint8_t* data, size_t size) {
  if (size < 4) return;
  const char c = static_cast<char>(data[0]);
  const int n = data[1] % 8;
  const int want = ModelNth(text, c, n == 0 ? 1 : n);
  Check(FindNthChar(text.c_str(), c, n == 0 ? 1 : n) == want, "FindNthChar");

  const int start = static_cast<int>(data[2] % (text.size() + 2)) - 1;  // -1 .. size
  const int length = static_cast<int>(data[3]) - 64;                  // -64 .. 191
  const int outputSize = 1 + data[0] % 64;
  std::vector<char> output(static_cast<size_t>(outputSize), '\x55');
  CopyField(text.c_str(), start, length, output.data(), outputSize);
  const std::string got = StoredField(output.data(), output.size(), "CopyField output");
  const std::string wantField = ModelField(text, start, length).substr(0, static_cast<size_t>(outputSize - 1));
  if (got != wantField) Fail("CopyField", Printable(got) + " != " + Printable(wantField));
}

std::string ReadScratch() {
  std::string content;
  if (!ReadWholeFile(Scratch(), &content)) Fail("cannot read the scratch file", ScratchPath);
  return content;
}

// The configuration tool's writer on the same file: it either refuses and
// leaves the file as it was, or the first record with the key (the one it
// replaced or appended) reads back as the new value, and ListConfigValues
// can list the result.
void CheckWriter(const uint8_t* data, size_t size) {
  static const char NewValue[] = "neu;Wert\xE4";
  std::string error = "left over";
  const int rc = SetConfigValue(Scratch(), "LOGIN", NewValue, &error);
  Check(error.size() < 512 && error.find('\0') == std::string::npos, "writer error text", Printable(error));
  const std::string after = ReadScratch();
  if (rc != 0) {
    Check(rc == -1, "SetConfigValue result", std::to_string(rc));
    Check(!error.empty(), "SetConfigValue failed without a message");
    Check(after == std::string(reinterpret_cast<const char*>(data), size), "refused write changed the file", error);
  } else {
    Check(error.empty(), "SetConfigValue succeeded with a message", error);
    const std::vector<std::string> lines = ModelLines(reinterpret_cast<const uint8_t*>(after.data()), after.size());
    bool found = false;
    for (size_t i = 0; i + 1 < lines.size() && !found; i += 2) {
      const std::string second = UpToZero(lines[i + 1]);
      const int s1 = ModelNth(second, ';', 1), s2 = ModelNth(second, ';', 2);
      if (ModelField(second, s1 + 1, s2 - s1 - 1).substr(0, FieldChars) != "LOGIN") continue;
      found = true;
      const int valueLength = ModelNth(second, '\n', 1) - s2 - 1;
      const std::string cipher = ModelField(second, s2 + 1, valueLength).substr(0, FieldChars);
      const std::string value = UpToZero(ModelDecryptBytes(cipher));
      if (value != NewValue)
        Fail("written value does not read back", Printable(value) + " in file " + Printable(after));
    }
    Check(found, "written record not found", Printable(after));
  }
  static FILE* const Sink = std::fopen("/dev/null", "w");
  Check(ListConfigValues(Scratch(), Sink, &error) >= 0, "ListConfigValues failed", error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteScratch(data, size);
  const std::vector<std::string> lines = ModelLines(data, size);
  static const char* const Keys[] = {"LOGIN", "PASS", "DATABASE", "DB_SYSTEM", "SCHEMA"};
  for (const char* key : Keys) CheckLookup(lines, "", key, 0);
  CheckLookup(lines, "GENTRMX", "LOGIN", 1);

  const std::string text = UpToZero(std::string(reinterpret_cast<const char*>(data), size));
  CheckDecryption(text);
  CheckFieldHelpers(text, data, size);
  CheckWriter(data, size);
  if (size <= 100) CheckRoundTrip(text);
  return 0;
}
