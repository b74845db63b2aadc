// The configuration file: Blowfish, the value cipher, record lookup and the
// administration writer.
#include <gtest/gtest.h>

#include <dirent.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/blowfish.h"
#include "config/config_file.h"
#include "config/config_writer.h"
#include "config_folder.h"
#include "installation.h"

namespace {

// ---------------------------------------------------------------- helpers

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

uint32_t BigEndianWord(const std::vector<unsigned char>& bytes, size_t at) {
  return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
         (uint32_t{bytes[at + 2]} << 8) | uint32_t{bytes[at + 3]};
}

std::string Hex64(uint32_t left, uint32_t right) {
  char text[17];
  std::snprintf(text, sizeof text, "%08X%08X", static_cast<unsigned>(left),
                static_cast<unsigned>(right));
  return text;
}

std::string Encrypt(const std::string& plain, BlowfishState* cipher = nullptr) {
  std::vector<char> hex(16 * (plain.size() / 8 + 1) + 1);
  EncryptConfigValue(plain.c_str(), hex.data(), ConfigCipherKey, cipher);
  return hex.data();
}

std::string Decrypt(const std::string& hex, BlowfishState* cipher = nullptr) {
  std::vector<char> plain(8 * (hex.size() / 16 + 1) + 1, 'X');
  EXPECT_EQ(DecryptConfigValue(hex.c_str(), plain.data(), ConfigCipherKey, cipher), 1);
  return plain.data();
}

bool CipherStateIsClear(const BlowfishState& cipher) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&cipher);
  for (size_t i = 0; i < sizeof cipher; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// One record as the installation writes it: group line and id/key/value.
std::string Record(int id, const std::string& key, const std::string& plain) {
  return std::to_string(id) + ";GENTRMX;\n" + std::to_string(id) + ";" + key + ";" +
         Encrypt(plain) + "\n";
}

class ConfigFileTest : public ConfigFolderTest {
 protected:
  void WriteFile(const std::string& content) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << content;
  }
  std::string FileContent() { return ReadWholeFile(path_); }
  bool FileExists() {
    struct stat info;
    return stat(path_.c_str(), &info) == 0;
  }
  // A lookup as the download tool makes it: empty group, id 0; the record
  // it took stays in last_.
  std::string Lookup(const char* key) {
    ReadConfigValue("", key, 0, path_.c_str(), &last_, &cipher_);
    return last_.Value;
  }
  // The names in the folder, sorted: what set left behind.
  std::vector<std::string> FolderEntries() {
    std::vector<std::string> names;
    DIR* dir = opendir(folder_.c_str());
    while (dir != nullptr) {
      dirent* entry = readdir(dir);
      if (entry == nullptr) break;
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    if (dir != nullptr) closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string List() {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    listed_ = ListConfigValues(path_.c_str(), out, &error_);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
  }

  int listed_ = 0;
  ConfigRecord last_ = {};
  // The cipher state of the lookups.
  BlowfishState cipher_ = {};
  std::string error_;  // the reason of the last failed set or list
};

// ---------------------------------------------------------------- Blowfish

struct BlockVector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Published ECB vectors; halves are read big-endian from the 8 bytes.
const BlockVector EcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
};

TEST(Blowfish, PublishedEcbVectorsEncryptAndDecrypt) {
  for (const BlockVector& v : EcbVectors) {
    SCOPED_TRACE(v.key);
    const std::vector<unsigned char> key = FromHex(v.key);
    const std::vector<unsigned char> plain = FromHex(v.plain);
    BlowfishState state;
    BlowfishKeySetup(&state, key.data(), key.size());
    uint32_t left = BigEndianWord(plain, 0);
    uint32_t right = BigEndianWord(plain, 4);
    BlowfishEncryptBlock(&state, &left, &right);
    EXPECT_EQ(Hex64(left, right), v.cipher);
    BlowfishDecryptBlock(&state, &left, &right);
    EXPECT_EQ(Hex64(left, right), v.plain);
  }
}

// Keys of 1 to 24 bytes, prefixes of one key text: checks that key bytes are
// taken cyclically with the position running on across subkeys.
TEST(Blowfish, PublishedVariableKeyLengthVectors) {
  const std::vector<unsigned char> key =
      FromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
  const struct {
    size_t length;
    const char* cipher;
  } cases[] = {{1, "F9AD597C49DB005E"},  {2, "E91D21C1D961A6D6"},  {3, "E9C2B70A1BC65CF3"},
               {7, "8BB77032F960629D"},  {8, "E87A244E2CC85E82"},  {9, "15750E7A4F4EC577"},
               {16, "93142887EE3BE15C"}, {17, "03429E838CE2D14B"}, {24, "05044B62FA52D080"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    BlowfishState state;
    BlowfishKeySetup(&state, key.data(), c.length);
    uint32_t left = 0xFEDCBA98;
    uint32_t right = 0x76543210;
    BlowfishEncryptBlock(&state, &left, &right);
    EXPECT_EQ(Hex64(left, right), c.cipher);
  }
}

// ---------------------------------------------------------------- value cipher

// Reference texts from an independent Blowfish implementation, with the key
// VORTANE, little-endian halves and zero padding.
TEST(ValueCipher, MatchesReferenceCiphertexts) {
  EXPECT_EQ(Encrypt("geheim!"), "55C08771776F7489");
  EXPECT_EQ(Encrypt("ABCDEFGH"), "8450F8C961EA4FBB");
  EXPECT_EQ(Encrypt("DRAVONIXx"), "1DC83F183D0C6B811DA660EFA5FB630E");
  EXPECT_EQ(Decrypt("57E4F50B029ADB0B"), "sa");
  EXPECT_EQ(Decrypt("1DC83F183D0C6B811DA660EFA5FB630E"), "DRAVONIXx");
  // A full block has no padding: the terminator follows the eighth byte.
  EXPECT_EQ(Decrypt("8450F8C961EA4FBB"), "ABCDEFGH");
}

TEST(ValueCipher, EmptyPlainTextIsOneZeroBlockAndEmptyTextDecryptsToEmpty) {
  EXPECT_EQ(Encrypt(""), "C945C5F506A82BE9");
  EXPECT_EQ(Decrypt("C945C5F506A82BE9"), "");
  EXPECT_EQ(Decrypt(""), "");
}

TEST(ValueCipher, RoundTripsEveryLengthAndLatin1Bytes) {
  std::string plain;
  for (int length = 0; length <= ConfigMaxPlainValue; ++length) {
    const std::string hex = Encrypt(plain);
    EXPECT_EQ(hex.size(), 16 * (plain.empty() ? 1 : (plain.size() + 7) / 8));
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(Decrypt(hex), plain) << "length " << length;
    plain += static_cast<char>(length % 3 == 0 ? '\xE4' : 'a' + length % 26);
  }
}

TEST(ValueCipher, ThirtyTwoDigitsGiveSixteenBytesEndedByThePadding) {
  const std::string hex = "29DB7C9FD4D87AE6366F0A17BD4721E1";
  char output[32];
  std::memset(output, 'X', sizeof output);
  DecryptConfigValue(hex.c_str(), output, "VORTANE");
  EXPECT_STREQ(output, "Passwort1234567");
  EXPECT_EQ(output[15], '\0');  // padding inside the second block
  EXPECT_EQ(output[16], '\0');  // terminator after 16 bytes
  EXPECT_EQ(output[17], 'X');   // nothing written beyond
}

TEST(ValueCipher, LowerCaseDigitsGiveOtherBytes) {
  EXPECT_EQ(Decrypt("55C08771776F7489"), "geheim!");
  EXPECT_NE(Decrypt("55c08771776f7489"), "geheim!");
}

TEST(ValueCipher, MissingCharactersOfTheLastGroupCountAsZero) {
  const std::string full = "1DC83F183D0C6B811DA660EFA5FB6300";
  EXPECT_EQ(Decrypt("1DC83F183D0C6B811DA660EFA5FB63"), Decrypt(full));
  EXPECT_EQ(Decrypt("1DC83F183D0C6B811DA660EFA5FB630"), Decrypt(full));
  // The first block is whole and still decrypts correctly.
  EXPECT_EQ(Decrypt("1DC83F183D0C6B811").substr(0, 8), "DRAVONIX");
}

TEST(ValueCipher, CipherStateIsZeroAfterEveryValue) {
  BlowfishState cipher;
  std::memset(&cipher, 0x5A, sizeof cipher);
  EXPECT_EQ(Decrypt("55C08771776F7489", &cipher), "geheim!");
  EXPECT_TRUE(CipherStateIsClear(cipher));
  std::memset(&cipher, 0x5A, sizeof cipher);
  EXPECT_EQ(Encrypt("geheim!", &cipher), "55C08771776F7489");
  EXPECT_TRUE(CipherStateIsClear(cipher));
}

TEST(ValueCipher, HexToBytesDigitRules) {
  unsigned char bytes[5] = {};
  HexToBytes("0A9FF0af", 8, bytes);
  EXPECT_EQ(bytes[0], 0x0A);
  EXPECT_EQ(bytes[1], 0x9F);
  EXPECT_EQ(bytes[2], 0xF0);
  // "a" counts 49 and "f" 54: (16 * 49 + 54) mod 256.
  EXPECT_EQ(bytes[3], (16 * 49 + 54) % 256);
  // Any other character counts its code minus 48, modulo 256 in the end.
  HexToBytes("G0 !", 4, bytes);
  EXPECT_EQ(bytes[0], (16 * ('G' - 48)) % 256);
  EXPECT_EQ(bytes[1], (16 * (' ' - 48) + ('!' - 48)) & 0xFF);
}

// ---------------------------------------------------------------- field rules

TEST(FieldRules, FindNthCharFallsBackToTheLastOccurrence) {
  EXPECT_EQ(FindNthChar("12;AB;CD;E", ';', 1), 2);
  EXPECT_EQ(FindNthChar("12;AB;CD;E", ';', 2), 5);
  EXPECT_EQ(FindNthChar("12;AB;CD;E", ';', 5), 8);
  EXPECT_EQ(FindNthChar("12;AB", ';', 2), 2);
  EXPECT_EQ(FindNthChar("12AB\n", ';', 1), -1);
  EXPECT_EQ(FindNthChar("", ';', 1), -1);
}

TEST(FieldRules, CopyFieldByLength) {
  char out[8];
  CopyField("ab;cd;ef\n", 3, 2, out, sizeof out);
  EXPECT_STREQ(out, "cd");
  // Length 0: the rest of the line, line feed included.
  CopyField("ab;;ef\n", 3, 0, out, sizeof out);
  EXPECT_STREQ(out, ";ef\n");
  CopyField("ab;cd", 0, -1, out, sizeof out);
  EXPECT_STREQ(out, "");
  // A length beyond the text stops at its end; the output is cut to its room.
  CopyField("ab;cd", 3, 50, out, sizeof out);
  EXPECT_STREQ(out, "cd");
  CopyField("0123456789", 0, 0, out, sizeof out);
  EXPECT_STREQ(out, "0123456");
  CopyField("ab", 5, 1, out, sizeof out);
  EXPECT_STREQ(out, "");
}

TEST(FieldRules, IdText) {
  EXPECT_EQ(ParseConfigId("  42"), 42);
  EXPECT_EQ(ParseConfigId("-7x"), -7);
  EXPECT_EQ(ParseConfigId("+5"), 5);
  EXPECT_EQ(ParseConfigId("x5"), 0);
  EXPECT_EQ(ParseConfigId(""), 0);
  EXPECT_EQ(ParseConfigId("99999999999"), INT32_MAX);
  EXPECT_EQ(ParseConfigId("-99999999999"), INT32_MIN);
}

// What ExtractConfigRecord makes of a group line and a record line; a field
// given as nullptr (the id as std::nullopt) is not compared. The cases run
// in this order on one record.
struct ExtractCase {
  const char* Why;
  const char* GroupLine;
  const char* RecordLine;
  const char* Group;
  std::optional<int32_t> Id;
  const char* Key;
  const char* Value;
};

TEST(FieldRules, ExtractRecord) {
  const ExtractCase cases[] = {
      {"further \";\" belong to the value", "1;GENTRMX;rest\n", "12;LOGIN;AB;CD\n", "GENTRMX", 12, "LOGIN",
       "AB;CD"},
      {"empty fields between separators read as the rest of the line", "1;;\n", "3;;ABCD\n", ";\n", 3, ";ABCD\n",
       "ABCD"},
      {"an empty value field reads as the line feed", "1;G;\n", "4;LOGIN;\n", nullptr, std::nullopt, nullptr, "\n"},
      {"no separator: id 0, empty key, the whole line as value", "GENTRMX\n", "ABCDEF\n", "", 0, "", "ABCDEF\n"},
      {"a line starting with \";\" has id 0 (the id text is the whole line)", "1;G;\n", ";K;AB\n", nullptr, 0, "K",
       nullptr},
      {"one separator: empty key, the value after it", "1;G;\n", "5;ABCD\n", nullptr, std::nullopt, "", "ABCD"},
      {"without a line feed there is no value", "1;G;\n", "5;K;ABCD", nullptr, std::nullopt, "K", ""},
  };
  ConfigRecord record;
  for (const ExtractCase& c : cases) {
    SCOPED_TRACE(c.Why);
    ExtractConfigRecord(c.GroupLine, c.RecordLine, &record);
    if (c.Group != nullptr) {
      EXPECT_STREQ(record.Group, c.Group);
    }
    if (c.Id) {
      EXPECT_EQ(record.Id, *c.Id);
    }
    if (c.Key != nullptr) {
      EXPECT_STREQ(record.Key, c.Key);
    }
    if (c.Value != nullptr) {
      EXPECT_STREQ(record.Value, c.Value);
    }
  }
}

// ---------------------------------------------------------------- lookup

TEST_F(ConfigFileTest, EachKeyFindsItsOwnRecordInAnyOrder) {
  WriteFile(Record(1, "PASS", "geheim!") + Record(2, "LOGIN", "sa") + Record(3, "DATABASE", "DSN1") +
            Record(4, "DB_SYSTEM", "MSSQL") + Record(5, "SCHEMA", "DRAVONIXx"));
  EXPECT_EQ(Lookup("LOGIN"), "sa");
  EXPECT_STREQ(last_.Key, "LOGIN");
  EXPECT_STREQ(last_.Group, "GENTRMX");
  EXPECT_EQ(last_.Id, 2);
  EXPECT_EQ(Lookup("PASS"), "geheim!");
  EXPECT_EQ(Lookup("DATABASE"), "DSN1");
  EXPECT_EQ(Lookup("DB_SYSTEM"), "MSSQL");
  EXPECT_EQ(Lookup("SCHEMA"), "DRAVONIXx");
  EXPECT_TRUE(CipherStateIsClear(cipher_));
}

TEST_F(ConfigFileTest, KeysAreCaseSensitiveAndUnknownKeysGiveEmpty) {
  WriteFile(Record(1, "LOGIN", "sa"));
  EXPECT_EQ(Lookup("login"), "");
  EXPECT_EQ(Lookup("LOGIN"), "sa");
  EXPECT_EQ(Lookup("PASS"), "");
  EXPECT_STREQ(last_.Key, "");
  EXPECT_STREQ(last_.Group, "");
  EXPECT_EQ(last_.Id, 0);
}

TEST_F(ConfigFileTest, FirstOfTwoRecordsWithTheSameKeyWins) {
  WriteFile(Record(1, "LOGIN", "first") + Record(2, "LOGIN", "second"));
  EXPECT_EQ(Lookup("LOGIN"), "first");
}

TEST_F(ConfigFileTest, RecordWithIdZeroFirstIsTakenForEveryKey) {
  WriteFile(Record(0, "DB_SYSTEM", "zero") + Record(1, "LOGIN", "sa") + Record(2, "PASS", "pw"));
  EXPECT_EQ(Lookup("LOGIN"), "zero");
  EXPECT_EQ(Lookup("PASS"), "zero");
  EXPECT_EQ(Lookup("NOTTHERE"), "zero");
}

TEST_F(ConfigFileTest, IdWithoutDigitsAndGroupWithoutTwoSeparatorsMatchEverything) {
  WriteFile(Record(1, "LOGIN", "sa") + "9;GENTRMX;\nX;OTHER;" + Encrypt("noid") + "\n");
  EXPECT_EQ(Lookup("LOGIN"), "sa");
  EXPECT_EQ(Lookup("PASS"), "noid");

  WriteFile(Record(1, "LOGIN", "sa") + "9;GENTRMX\n9;OTHER;" + Encrypt("nogroup") + "\n");
  EXPECT_EQ(Lookup("PASS"), "nogroup");

  // An empty group field reads as ";" and the line feed: no match.
  WriteFile("9;;\n9;OTHER;" + Encrypt("x") + "\n" + Record(1, "PASS", "pw"));
  EXPECT_EQ(Lookup("PASS"), "pw");
}

TEST_F(ConfigFileTest, GroupOrIdSelectAsWell) {
  WriteFile("1;FIRST;\n1;A;" + Encrypt("a") + "\n2;SECOND;\n2;B;" + Encrypt("b") + "\n");
  ReadConfigValue("SECOND", "none", -1, path_.c_str(), &last_);
  EXPECT_STREQ(last_.Value, "b");
  ReadConfigValue("none", "none", 2, path_.c_str(), &last_);
  EXPECT_STREQ(last_.Value, "b");
  ReadConfigValue("none", "none", 3, path_.c_str(), &last_);
  EXPECT_STREQ(last_.Value, "");
}

TEST_F(ConfigFileTest, MissingFileGivesEmptyAndClearsTheLastRecord) {
  WriteFile(Record(1, "LOGIN", "sa"));
  EXPECT_EQ(Lookup("LOGIN"), "sa");
  std::remove(path_.c_str());
  EXPECT_EQ(Lookup("LOGIN"), "");
  EXPECT_EQ(last_.Id, 0);
  EXPECT_STREQ(last_.Key, "");
}

TEST_F(ConfigFileTest, UnpairedLastLineEndsTheLookup) {
  // The last line would match if it had a partner line.
  WriteFile(Record(1, "LOGIN", "sa") + "2;PASS;" + Encrypt("pw") + "\n");
  EXPECT_EQ(Lookup("PASS"), "");
  EXPECT_EQ(Lookup("LOGIN"), "sa");
}

TEST_F(ConfigFileTest, CarriageReturnsBeforeLineFeedsAreNotPartOfTheLine) {
  WriteFile("1;GENTRMX;\r\n1;LOGIN;" + Encrypt("sa") + "\r\n2;GENTRMX;\r\n2;PASS;" +
            Encrypt("password") + "\r\n");
  EXPECT_EQ(Lookup("LOGIN"), "sa");
  EXPECT_STREQ(last_.Group, "GENTRMX");
  EXPECT_EQ(Lookup("PASS"), "password");
  // And they do not count against the room of a line.
  WriteFile("1;GENTRMX;" + std::string(188, 'x') + "\r\n1;LOGIN;" + Encrypt("sa") + "\r\n");
  EXPECT_EQ(Lookup("LOGIN"), "sa");
}

TEST_F(ConfigFileTest, FirstLineSplitsAfter199Characters) {
  const std::string login = "1;LOGIN;" + Encrypt("sa") + "\n";
  // 198 characters and the line feed fit.
  WriteFile("1;GENTRMX;" + std::string(188, 'x') + "\n" + login);
  EXPECT_EQ(Lookup("LOGIN"), "sa");
  // One more: the line feed alone is read as the second line (no ";", so
  // id 0), and the LOGIN line becomes the first line of the next pair.
  WriteFile("1;GENTRMX;" + std::string(189, 'x') + "\n" + login);
  EXPECT_NE(Lookup("LOGIN"), "sa");
  EXPECT_EQ(last_.Id, 0);
  EXPECT_STREQ(last_.Key, "");
}

TEST_F(ConfigFileTest, SplitFirstLineShiftsThePairingOfLaterLines) {
  // The rest of the long line becomes the second line of its pair.
  WriteFile("1;GENTRMX;" + std::string(189, 'x') + "7;OTHER;" + Encrypt("other") + "\n" +
            "1;LOGIN;" + Encrypt("sa") + "\n" + Record(2, "PASS", "pw"));
  EXPECT_EQ(Lookup("OTHER"), "other");
  EXPECT_EQ(last_.Id, 7);
  // LOGIN's line is now a first line and PASS's group line its partner.
  EXPECT_EQ(Lookup("LOGIN"), "");
  Lookup("GENTRMX");
  EXPECT_STREQ(last_.Group, "LOGIN");
  EXPECT_EQ(last_.Id, 2);
  // PASS's own line is read as a first line, then the file ends.
  EXPECT_EQ(Lookup("PASS"), "");
}

TEST_F(ConfigFileTest, SecondLineSplitsAfter399Characters) {
  // The split second line keeps its key but has no line feed, so no value;
  // its rest becomes a first line and PASS loses its partner.
  WriteFile("1;GENTRMX;\n1;LOGIN;" + Encrypt("sa") + std::string(375, 'Z') + "x;y;z\n" +
            Record(2, "PASS", "pw"));
  EXPECT_EQ(Lookup("LOGIN"), "");
  EXPECT_STREQ(last_.Key, "LOGIN");
  EXPECT_EQ(Lookup("PASS"), "");

  char line[ConfigSecondLineChars + 1];
  size_t consumed = 0;
  WriteFile(std::string(398, 'a') + "\n" + std::string(399, 'b') + "\n");
  FILE* file = std::fopen(path_.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(ReadConfigLine(file, line, ConfigSecondLineChars, &consumed));
  EXPECT_EQ(std::strlen(line), 399u);
  EXPECT_EQ(line[398], '\n');
  ASSERT_TRUE(ReadConfigLine(file, line, ConfigSecondLineChars));
  EXPECT_EQ(std::strlen(line), 399u);
  EXPECT_EQ(line[398], 'b');
  ASSERT_TRUE(ReadConfigLine(file, line, ConfigSecondLineChars));
  EXPECT_STREQ(line, "\n");
  EXPECT_FALSE(ReadConfigLine(file, line, ConfigSecondLineChars));
  std::fclose(file);
}

TEST_F(ConfigFileTest, OverlongValueIsCutTo200Characters) {
  const std::string plain(96, 'p');
  WriteFile("1;GENTRMX;\n1;LOGIN;" + Encrypt(plain) + std::string(120, 'F') + "\n");
  const std::string value = Lookup("LOGIN");
  ASSERT_GE(value.size(), 96u);
  EXPECT_EQ(value.substr(0, 96), plain);
  EXPECT_LE(std::strlen(last_.Value), 200u);
}

TEST_F(ConfigFileTest, EmptyValueFieldDoesNotBreakTheLookup) {
  WriteFile("1;GENTRMX;\n1;LOGIN;\n" + Record(2, "PASS", "pw"));
  Lookup("LOGIN");
  EXPECT_STREQ(last_.Key, "LOGIN");
  EXPECT_EQ(Lookup("PASS"), "pw");
}

TEST_F(ConfigFileTest, BinaryGarbageIsReadSafely) {
  uint32_t seed = 12345;
  for (int round = 0; round < 50; ++round) {
    std::string content;
    const int size = 1 + round * 97;
    for (int i = 0; i < size; ++i) {
      seed = seed * 1103515245u + 12345u;
      const unsigned char byte = static_cast<unsigned char>(seed >> 16);
      // Plenty of separators and line ends among the noise.
      content += static_cast<char>(byte % 7 == 0 ? ';' : byte % 11 == 0 ? '\n' : byte);
    }
    WriteFile(content);
    Lookup("LOGIN");
    EXPECT_LE(std::strlen(last_.Value), 200u);
    EXPECT_LE(std::strlen(last_.Key), 200u);
    EXPECT_LE(std::strlen(last_.Group), 200u);
    List();
  }
  EXPECT_TRUE(CipherStateIsClear(cipher_));
}

// Whole files, as set reads the file it replaces: every byte, zero bytes and
// more than one buffer's worth, appended to what the text held; a missing
// file or a folder is a failure with its reason in errno.
TEST_F(ConfigFileTest, ReadWholeFileTakesEveryByte) {
  std::string bytes;
  for (int i = 0; i < 10000; ++i) bytes += static_cast<char>(i * 7);
  WriteFile(bytes);
  std::string content = "kept:";
  ASSERT_TRUE(ReadWholeFile(path_, &content));
  EXPECT_EQ(content, "kept:" + bytes);
  std::string none;
  EXPECT_FALSE(ReadWholeFile(folder_ + "/missing", &none));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(ReadWholeFile(folder_, &none));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_EQ(none, "");
  EXPECT_THROW(ReadWholeFile(folder_ + "/missing"), std::runtime_error);
}

// ---------------------------------------------------------------- writer

TEST_F(ConfigFileTest, SetCreatesTheFileInTheReadersLayout) {
  ASSERT_FALSE(FileExists());
  ASSERT_EQ(SetConfigValue(path_.c_str(), "LOGIN", "sa", &error_), 0) << error_;
  EXPECT_EQ(FileContent(), "1;GENTRMX;\n1;LOGIN;57E4F50B029ADB0B\n");
  ASSERT_EQ(SetConfigValue(path_.c_str(), "PASS", "geheim!"), 0);
  EXPECT_EQ(FileContent(),
            "1;GENTRMX;\n1;LOGIN;57E4F50B029ADB0B\n2;GENTRMX;\n2;PASS;55C08771776F7489\n");
  EXPECT_EQ(Lookup("LOGIN"), "sa");
  EXPECT_EQ(Lookup("PASS"), "geheim!");
}

TEST_F(ConfigFileTest, SetReplacesTheValueAndKeepsEverythingElse) {
  for (const char* key : {"LOGIN", "PASS", "DATABASE", "DB_SYSTEM", "SCHEMA"}) {
    ASSERT_EQ(SetConfigValue(path_.c_str(), key, (std::string("old-") + key).c_str()), 0);
  }
  const std::string before = FileContent();
  ASSERT_EQ(SetConfigValue(path_.c_str(), "DATABASE", std::string(96, 'd').c_str()), 0);
  std::string expected = before;
  const std::string oldHex = Encrypt("old-DATABASE");
  expected.replace(expected.find(oldHex), oldHex.size(), Encrypt(std::string(96, 'd')));
  EXPECT_EQ(FileContent(), expected);
  EXPECT_EQ(Lookup("DATABASE"), std::string(96, 'd'));
  EXPECT_EQ(Lookup("LOGIN"), "old-LOGIN");
  EXPECT_EQ(Lookup("DB_SYSTEM"), "old-DB_SYSTEM");
  EXPECT_EQ(Lookup("SCHEMA"), "old-SCHEMA");
}

TEST_F(ConfigFileTest, SetEmptyValueReadsBackEmpty) {
  ASSERT_EQ(SetConfigValue(path_.c_str(), "PASS", "pw"), 0);
  ASSERT_EQ(SetConfigValue(path_.c_str(), "PASS", ""), 0);
  EXPECT_EQ(Lookup("PASS"), "");
  EXPECT_STREQ(last_.Key, "PASS");
}

TEST_F(ConfigFileTest, SetReplacesTheFirstOfDuplicatesAndKeepsCrLf) {
  WriteFile("1;GENTRMX;\r\n1;LOGIN;" + Encrypt("a") + "\r\n2;GENTRMX;\r\n2;LOGIN;" + Encrypt("b") +
            "\r\n");
  ASSERT_EQ(SetConfigValue(path_.c_str(), "LOGIN", "new"), 0);
  EXPECT_EQ(FileContent(), "1;GENTRMX;\r\n1;LOGIN;" + Encrypt("new") + "\r\n2;GENTRMX;\r\n2;LOGIN;" +
                               Encrypt("b") + "\r\n");
  ASSERT_EQ(SetConfigValue(path_.c_str(), "PASS", "pw"), 0);
  EXPECT_EQ(FileContent(), "1;GENTRMX;\r\n1;LOGIN;" + Encrypt("new") + "\r\n2;GENTRMX;\r\n2;LOGIN;" +
                               Encrypt("b") + "\r\n3;GENTRMX;\r\n3;PASS;" + Encrypt("pw") + "\r\n");
  EXPECT_EQ(Lookup("PASS"), "pw");
}

TEST_F(ConfigFileTest, SetAppendsAfterALastLineWithoutLineFeed) {
  WriteFile("1;GENTRMX;\n1;LOGIN;" + Encrypt("sa"));
  ASSERT_EQ(SetConfigValue(path_.c_str(), "PASS", "pw"), 0);
  EXPECT_EQ(Lookup("PASS"), "pw");
  // The value of the last line had no line feed; replacing it adds one.
  ASSERT_EQ(SetConfigValue(path_.c_str(), "LOGIN", "sa"), 0);
  EXPECT_EQ(Lookup("LOGIN"), "sa");
}

TEST_F(ConfigFileTest, SetRejectsBadInputAndLeavesTheFileAlone) {
  EXPECT_EQ(SetConfigValue(path_.c_str(), "LOGIN", std::string(97, 'v').c_str(), &error_), -1);
  EXPECT_NE(error_, "");
  EXPECT_EQ(SetConfigValue(path_.c_str(), "LO;GIN", "x"), -1);
  EXPECT_EQ(SetConfigValue(path_.c_str(), "LOGIN\n", "x"), -1);
  EXPECT_EQ(SetConfigValue(path_.c_str(), "LOGIN\r", "x"), -1);
  EXPECT_EQ(SetConfigValue(path_.c_str(), "", "x"), -1);
  EXPECT_EQ(SetConfigValue(path_.c_str(), std::string(101, 'K').c_str(), "x"), -1);
  EXPECT_FALSE(FileExists());

  // A record appended after an unpaired line would be paired with it.
  const std::string odd = Record(1, "LOGIN", "sa") + "lonely\n";
  WriteFile(odd);
  EXPECT_EQ(SetConfigValue(path_.c_str(), "PASS", "pw"), -1);
  EXPECT_EQ(FileContent(), odd);

  const std::string missingFolder = folder_ + "/missing/quillnest.ini";
  EXPECT_EQ(SetConfigValue(missingFolder.c_str(), "LOGIN", "sa", &error_), -1);
  EXPECT_NE(error_.find("existiert nicht"), std::string::npos) << error_;
  // A success leaves no reason behind.
  std::remove(path_.c_str());
  EXPECT_EQ(SetConfigValue(path_.c_str(), "LOGIN", "sa", &error_), 0);
  EXPECT_EQ(error_, "");
}

// Files set must leave alone: each is refused with its reason and stays
// byte for byte, and neither a lock nor a temporary file is left over.
TEST_F(ConfigFileTest, SetRefusesForeignAndProtectedFilesUnchanged) {
  const std::string ours = Record(1, "LOGIN", "sa");
  const std::string foreign = folder_ + "/passwd";
  const std::string foreignText = "root:x:0:0:root:/root:/bin/bash\ndaemon:x:1:1::/usr/sbin:/usr/sbin/nologin\n";
  const std::string link = folder_ + "/link.ini";
  struct Case {
    const char* Name;
    std::string Content;  // written to path_ unless empty
    mode_t Mode;
    const char* Target;   // set writes here
    const char* Reason;
  };
  const Case cases[] = {
      {"foreign text", foreignText, 0600, "path", "keine Konfigurationsdatei in diesem Format (Zeile 1"},
      {"value not hexadecimal", ours + "2;GENTRMX;\n2;PASS;klartext\n", 0600, "path", "(Zeile 4"},
      {"binary", "1;G;\n1;K;00\n\x01\x02;;\n3;X;00\n", 0600, "path", "(Zeile 3"},
      {"read-only", ours, 0444, "path", "schreibgeschuetzt (Modus 0444)"},
      {"link to a foreign file", "", 0600, "link", "keine Konfigurationsdatei in diesem Format"},
      {"link to nothing", "", 0600, "dangling", "Verweis auf eine Datei, die nicht besteht"},
      {"folder", "", 0600, "folder", "keine gewoehnliche Datei"},
  };
  std::ofstream(foreign, std::ios::binary) << foreignText;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string target = path_;
    if (!c.Content.empty()) {
      WriteFile(c.Content);
      ASSERT_EQ(chmod(path_.c_str(), c.Mode), 0);
    }
    if (std::string(c.Target) == "link") {
      ASSERT_EQ(symlink(foreign.c_str(), link.c_str()), 0);
      target = link;
    } else if (std::string(c.Target) == "dangling") {
      ASSERT_EQ(symlink((folder_ + "/nothing.ini").c_str(), link.c_str()), 0);
      target = link;
    } else if (std::string(c.Target) == "folder") {
      target = folder_ + "/sub.ini";
      ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    }
    EXPECT_EQ(SetConfigValue(target.c_str(), "PASS", "pw", &error_), -1);
    EXPECT_NE(error_.find(c.Reason), std::string::npos) << error_;
    if (!c.Content.empty()) {
      EXPECT_EQ(FileContent(), c.Content);
      struct stat info;
      ASSERT_EQ(stat(path_.c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & 07777, c.Mode);
      chmod(path_.c_str(), 0600);
      std::remove(path_.c_str());
    }
    EXPECT_EQ(ReadWholeFile(foreign), foreignText);
    struct stat info;
    EXPECT_NE(lstat((folder_ + "/nothing.ini").c_str(), &info), 0);
    unlink(link.c_str());
    rmdir((folder_ + "/sub.ini").c_str());
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"passwd"});
  }
  std::remove(foreign.c_str());
}

// A new file is for its owner only; an existing one keeps its mode; a link
// to one of ours is followed and stays a link.
TEST_F(ConfigFileTest, SetKeepsModesAndFollowsALinkToOurFile) {
  ASSERT_EQ(SetConfigValue(path_.c_str(), "LOGIN", "sa"), 0);
  struct stat info;
  ASSERT_EQ(stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
  ASSERT_EQ(SetConfigValue(path_.c_str(), "PASS", "pw"), 0);
  ASSERT_EQ(stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  const std::string link = folder_ + "/link.ini";
  ASSERT_EQ(symlink("quillnest.ini", link.c_str()), 0);
  ASSERT_EQ(SetConfigValue(link.c_str(), "DATABASE", "db", &error_), 0) << error_;
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(Lookup("DATABASE"), "db");
  EXPECT_EQ(Lookup("PASS"), "pw");
  unlink(link.c_str());
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"quillnest.ini"});
}

// Twenty programs set twenty keys in one file at the same moment: every
// key is there afterwards, or the call that lost it failed.
TEST_F(ConfigFileTest, ConcurrentSetsKeepEveryKey) {
  ASSERT_EQ(SetConfigValue(path_.c_str(), "LOGIN", "sa"), 0);
  constexpr int Calls = 20;
  std::vector<pid_t> children;
  for (int i = 0; i < Calls; ++i) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const std::string key = "KEY" + std::to_string(i);
      const std::string value = "value-" + std::to_string(i);
      execl(GENTRMX_CONFIG_EXE, GENTRMX_CONFIG_EXE, "set", path_.c_str(), key.c_str(), value.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    children.push_back(pid);
  }
  std::vector<int> status(Calls);
  for (int i = 0; i < Calls; ++i) ASSERT_EQ(waitpid(children[i], &status[i], 0), children[i]);
  int kept = 0;
  for (int i = 0; i < Calls; ++i) {
    const std::string key = "KEY" + std::to_string(i);
    const bool there = Lookup(key.c_str()) == "value-" + std::to_string(i);
    const bool succeeded = WIFEXITED(status[i]) && WEXITSTATUS(status[i]) == 0;
    EXPECT_TRUE(there || !succeeded) << key << " lost although its call exited 0";
    kept += there ? 1 : 0;
  }
  EXPECT_EQ(kept, Calls);
  EXPECT_EQ(Lookup("LOGIN"), "sa");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"quillnest.ini"});
}

// "-" on a terminal asks for the password twice without echo; the typed
// text never shows on the terminal.
TEST_F(ConfigFileTest, PasswordFromATerminalIsAskedTwiceWithoutEcho) {
  auto runOnTerminal = [&](const std::string& typed, std::string* screen) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
      execl(GENTRMX_CONFIG_EXE, GENTRMX_CONFIG_EXE, "set", path_.c_str(), "PASS", "-", static_cast<char*>(nullptr));
      _exit(127);
    }
    EXPECT_GT(pid, 0);
    size_t sent = 0;
    int status = 0;
    char buffer[256];
    for (int round = 0; round < 500; ++round) {
      pollfd ready = {master, POLLIN, 0};
      if (poll(&ready, 1, 20) > 0) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) {
          // The program closed its terminal: it has ended.
          close(master);
          if (waitpid(pid, &status, 0) != pid) return -3;
          return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        screen->append(buffer, static_cast<size_t>(n));
      }
      // One line per prompt, once the prompt is there and echo is off.
      const size_t prompts = (screen->find("Passwort (PASS): ") != std::string::npos) +
                             (screen->find("Passwort wiederholen: ") != std::string::npos);
      const size_t lineEnd = typed.find('\n', sent);
      if (sent < typed.size() && prompts > static_cast<size_t>(std::count(typed.begin(), typed.begin() + sent, '\n'))) {
        termios mode;
        if (tcgetattr(master, &mode) == 0 && (mode.c_lflag & ECHO) == 0) {
          const std::string line = typed.substr(sent, lineEnd + 1 - sent);
          EXPECT_EQ(write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
          sent = lineEnd + 1;
        }
      }
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pollfd rest = {master, POLLIN, 0};
        while (poll(&rest, 1, 50) > 0) {
          const ssize_t n = read(master, buffer, sizeof buffer);
          if (n <= 0) break;
          screen->append(buffer, static_cast<size_t>(n));
        }
        close(master);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    close(master);
    return -2;
  };
  std::string screen;
  EXPECT_EQ(runOnTerminal("Geheim-42\nGeheim-42\n", &screen), 0) << screen;
  EXPECT_EQ(screen.find("Geheim-42"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Passwort wiederholen: "), std::string::npos) << screen;
  EXPECT_EQ(Lookup("PASS"), "Geheim-42");

  screen.clear();
  EXPECT_EQ(runOnTerminal("neu-1\nneu-2\n", &screen), 1) << screen;
  EXPECT_NE(screen.find("stimmen nicht ueberein"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("neu-"), std::string::npos) << screen;
  EXPECT_EQ(Lookup("PASS"), "Geheim-42");
}

TEST_F(ConfigFileTest, ListShowsRecordsAndHidesThePassword) {
  ASSERT_EQ(SetConfigValue(path_.c_str(), "LOGIN", "sa"), 0);
  ASSERT_EQ(SetConfigValue(path_.c_str(), "PASS", "geheim!"), 0);
  ASSERT_EQ(SetConfigValue(path_.c_str(), "SCHEMA", "DRAVONIXx"), 0);
  EXPECT_EQ(List(), "LOGIN=sa\nPASS=***\nSCHEMA=DRAVONIXx\n");
  EXPECT_EQ(listed_, 3);
  ASSERT_EQ(SetConfigValue(path_.c_str(), "PASS", ""), 0);
  EXPECT_EQ(List(), "LOGIN=sa\nPASS=\nSCHEMA=DRAVONIXx\n");
}

TEST_F(ConfigFileTest, ListEscapesControlCharactersAndReportsAMissingFile) {
  WriteFile("1;GENTRMX;\n1;A\tB;" + Encrypt("x\ty") + "\n");
  EXPECT_EQ(List(), "A\\x09B=x\\x09y\n");
  // Bytes above 0x7F go out as they stand in the file, DEL as \\x7F.
  WriteFile("1;GENTRMX;\n1;K\xE4;" + Encrypt("\xE4\x85\x7F" "a") + "\n");
  EXPECT_EQ(List(), "K\xE4=\xE4\x85\\x7Fa\n");
  EXPECT_EQ(error_, "");
  std::remove(path_.c_str());
  EXPECT_EQ(List(), "");
  EXPECT_EQ(listed_, -1);
  EXPECT_NE(error_.find("existiert nicht"), std::string::npos) << error_;
}

// ---------------------------------------------------------------- program

TEST_F(ConfigFileTest, ProgramSetsAndListsValues) {
  auto run = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = {GENTRMX_CONFIG_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, folder_);
  };
  RunResult result = run({"set", path_, "LOGIN", "sa"});
  EXPECT_EQ(result.ExitCode, 0) << result.Stderr;
  result = run({"set", "quillnest.ini", "PASS", "geheim!"});  // relative to the working folder
  EXPECT_EQ(result.ExitCode, 0) << result.Stderr;
  EXPECT_EQ(FileContent(),
            "1;GENTRMX;\n1;LOGIN;57E4F50B029ADB0B\n2;GENTRMX;\n2;PASS;55C08771776F7489\n");

  result = run({"list", path_});
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(result.Stdout, "LOGIN=sa\nPASS=***\n");
  EXPECT_EQ(result.Stderr, "");

  // "-" takes the value from standard input, here empty.
  result = run({"set", path_, "LOGIN", "-"});
  EXPECT_EQ(result.ExitCode, 0) << result.Stderr;
  EXPECT_EQ(Lookup("LOGIN"), "");
}

TEST_F(ConfigFileTest, ProgramReportsFailures) {
  auto run = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = {GENTRMX_CONFIG_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, folder_);
  };
  RunResult result = run({"set", folder_ + "/none/quillnest.ini", "LOGIN", "sa"});
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_NE(result.Stderr.find("existiert nicht"), std::string::npos) << result.Stderr;

  result = run({"list", path_});
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_EQ(result.Stdout, "");
  EXPECT_NE(result.Stderr.find("Fehler"), std::string::npos);

  result = run({"set", path_, "LOGIN"});
  EXPECT_EQ(result.ExitCode, 2);
  EXPECT_NE(result.Stderr.find("Aufruf"), std::string::npos);
  result = run({"get", path_});
  EXPECT_EQ(result.ExitCode, 2);
  EXPECT_EQ(result.Stdout, "");
  result = run({"--help"});
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(result.Stdout.rfind("Aufruf: gentrmx-config set", 0), 0u) << result.Stdout;
  EXPECT_EQ(result.Stderr, "");

  result = run({"set", path_, "LOGIN", std::string(97, 'x')});
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_FALSE(FileExists());

  // Stored, but a record with id 0 ahead of it is what a lookup takes.
  WriteFile(Record(0, "OTHER", "x"));
  result = run({"set", path_, "LOGIN", "sa"});
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_NE(result.Stderr.find("Warnung"), std::string::npos) << result.Stderr;
}

}  // namespace
