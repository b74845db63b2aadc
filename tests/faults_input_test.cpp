// The fault table, part 2: bad input through the real gentrmx. Terminal
// names that try to change the queries, and badge data with quotes,
// commas, line feeds, Latin-1 bytes, overlong values and NULLs, run through
// all five functions: no crash, nothing on standard error, the right exit
// status, fixed-width files of whole records and IDSTAMM lines that split
// back into their 14 fields.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "badge_rows.h"
#include "fault_checks.h"
#include "installation.h"

namespace {

// text with every single quote doubled: the form in which a value may
// stand between the quotes of a query text.
std::string Doubled(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
  return n;
}

// ===========================================================================
// Terminal names

// The rows of one terminal: model 7744-010 (so MGDNL18P also reads the
// badges' own display definitions), balance set SAL1, its client pair,
// time class Z1, access class A1, readers 1 and 7.
void AddTerminalRows(ScratchInstallation& inst, const std::string& name) {
  const std::string n = SqlString(name);
  inst.Exec("INSERT INTO Xel1140Trm VALUES (" + n + ", '7744-010', 'SAL1', 1, 1, 1, 0);"
            "INSERT INTO Xel115Tfz VALUES (" + n + ", 1, 1, 0);"
            "INSERT INTO MGSST35P VALUES (" + n + ", 'Z1', '1'), (" + n + ", 'A1', '0');"
            "INSERT INTO Xel401Zls VALUES (" + n + ", 1, 'Z01', NULL), (" + n + ", 7, 'Z07', NULL);");
}

// Badges for the name tests: B001 and B002 (B002 with its own balance set)
// take Z1 and A1, B003 only a class no terminal knows.
void AddNameTestBadges(ScratchInstallation& inst) {
  inst.Exec(
      "INSERT INTO Xel113Sto VALUES ('00000012', 'Tor', 0);"
      "INSERT INTO Xel119Msd VALUES ('SAL1', 1, 1, 'Urlaub', 1, 1, 1, 1, NULL, 0),"
      " ('SAL1', 2, 2, NULL, 2, 2, 1, 1, NULL, 0);"
      "INSERT INTO Xel102Whl VALUES (220001, 1, 1, 'Url', 'Urlaub'), (220001, 2, 1, 'Gl', 'Gleitzeit'),"
      " (220002, 1, 1, '#W2', NULL), (220002, 2, 1, '#W1', NULL);");
  for (const char* badge : {"B001", "B002", "B003"}) {
    AddBadge(inst, badge, "AswPnr = 'P" + std::string(badge) + "', AswBkl = 'Z1', AswSpr = 1", "'00000012'");
    inst.Exec(std::string("INSERT INTO O2002TSW (TswIdn, TswW02, TswW09) VALUES ('") + badge +
              "', '+000123', '-000045')");
  }
  inst.Exec("UPDATE Xel301Asw SET AswSal = 'SAL1' WHERE AswNum = 'B002'");
  for (const char* badge : {"B001", "B002"}) {
    AddBadgeClass(inst, badge, "Z1");
    AddBadgeClass(inst, badge, "A1");
  }
  AddBadgeClass(inst, "B003", "QQ");
}

struct NamedRun {
  RunResult Result;
  std::string File;
  std::vector<std::string> Log;
};

NamedRun RunFor(ScratchInstallation& inst, const std::vector<std::string>& args) {
  NamedRun run;
  run.Result = inst.Run(args, true);
  run.File = inst.ReadFile("out.dat");
  run.Log = inst.StatementLog();
  return run;
}

// Each terminal name, with the same rows as terminal T1, must give exactly
// the run of T1: the same messages, the same file, and the same statements
// once each quoted occurrence of the name, 'name with quotes doubled', is
// read as 'T1'. So the name reaches every query only as one literal, its
// single quotes doubled and every other byte (percent signs, blanks,
// backslashes, Latin-1) as it is.
class TerminalNames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Installation = new ScratchInstallation(ScratchInstallation::Empty());
    AddNameTestBadges(*Installation);
    AddTerminalRows(*Installation, "T1");
    for (const std::string& name : Names()) AddTerminalRows(*Installation, name);
    Baseline = new std::map<std::string, NamedRun>;
    for (const DownloadFunction& f : DownloadFunctions) {
      NamedRun run = RunFor(*Installation, {f.Name, "T1", Installation->Root + "/out.dat", "1"});
      ASSERT_EQ(run.Result.ExitCode, 0) << f.Name << "\n" << run.Result.Stdout;
      ASSERT_FALSE(run.File.empty()) << f.Name;
      (*Baseline)[f.Name] = run;
      NamedRun traced = RunFor(*Installation, {f.Name, "T1", Installation->Root + "/out.dat", "1", "/d"});
      ASSERT_EQ(traced.Result.ExitCode, 0) << f.Name;
      (*Baseline)[std::string(f.Name) + " /d"] = traced;
    }
  }
  static void TearDownTestSuite() {
    delete Installation;
    delete Baseline;
  }

  static std::vector<std::string> Names() {
    std::string mixed;
    while (mixed.size() < 255) mixed += "'% \\_";
    mixed.resize(255);
    return {
        "O'Brien",
        "x' OR '1'='1",
        "'; DROP TABLE Xel301Asw; --",
        "100% %s%n%d%%",
        " Halle 3  Tor 7 ",
        "T\xFCr S\xFC" "d \xE4\xF6\xDF",
        "a\"b,c\\d",
        mixed,
        std::string(255, '\''),
        std::string(255, '%'),
    };
  }

  void ExpectSameAsT1(const std::string& name, const std::string& function, bool traced) {
    const std::string key = function + (traced ? " /d" : "");
    std::vector<std::string> args = {function, name, Installation->Root + "/out.dat", "1"};
    if (traced) args.push_back("/d");
    NamedRun run = RunFor(*Installation, args);
    const NamedRun& t1 = Baseline->at(key);
    EXPECT_EQ(run.Result.ExitCode, 0);
    EXPECT_EQ(run.Result.Stderr, "");
    // The trace names the terminal as it is.
    EXPECT_EQ(run.Result.Stdout, ReplaceAll(t1.Result.Stdout, "Terminal T1", "Terminal " + name));
    EXPECT_EQ(run.File, t1.File);
    const std::string quoted = "'" + Doubled(name) + "'";
    ASSERT_EQ(run.Log.size(), t1.Log.size());
    size_t withName = 0;
    for (size_t i = 0; i < run.Log.size(); ++i) {
      SCOPED_TRACE("statement " + std::to_string(i));
      withName += Count(run.Log[i], quoted);
      EXPECT_EQ(ReplaceAll(run.Log[i], quoted, "'T1'"), t1.Log[i]);
    }
    size_t t1Count = 0;
    for (const std::string& statement : t1.Log) t1Count += Count(statement, "'T1'");
    EXPECT_EQ(withName, t1Count);
    EXPECT_GE(withName, 3u);  // terminal lookup (2) and badge cursor at least
  }

  static ScratchInstallation* Installation;
  static std::map<std::string, NamedRun>* Baseline;
};
ScratchInstallation* TerminalNames::Installation = nullptr;
std::map<std::string, NamedRun>* TerminalNames::Baseline = nullptr;

TEST_F(TerminalNames, EveryNameReachesTheQueriesOnlyQuoted) {
  for (const std::string& name : Names()) {
    for (const DownloadFunction& f : DownloadFunctions) {
      SCOPED_TRACE(std::string(f.Name) + " terminal [" + name + "]");
      ExpectSameAsT1(name, f.Name, false);
    }
  }
}

TEST_F(TerminalNames, TraceMessagesShowTheNameAsItIs) {
  for (const std::string& name : {Names()[0], Names()[3], Names()[5]}) {
    for (const char* function : {"IDSTAMM", "MGDNL18P", "MGDNL31P"}) {
      SCOPED_TRACE(std::string(function) + " terminal [" + name + "]");
      ExpectSameAsT1(name, function, true);
    }
  }
  // B003 has no permission on T1: its trace line names the terminal.
  const std::string& traced = Baseline->at("IDSTAMM /d").Result.Stdout;
  EXPECT_NE(traced.find("Ausweis B003 ohne Zeit-/Zutrittsberechtigung auf Terminal T1\n"), std::string::npos);
}

// 256 characters are one too many: refused before the connect, so not one
// statement runs and no file is opened.
TEST_F(TerminalNames, NameOf256CharactersIsRefused) {
  for (const std::string& name : {std::string(256, '\''), std::string(256, 'T')}) {
    for (const DownloadFunction& f : DownloadFunctions) {
      SCOPED_TRACE(f.Name);
      const std::string path = Installation->Root + "/refused.dat";
      RunResult r = Installation->Run({f.Name, name, path, "1"}, true);
      EXPECT_EQ(r.ExitCode, 255);
      EXPECT_EQ(r.Stdout, "Parameter 2 zu lang: hoechstens 255 Zeichen erlaubt!\n");
      EXPECT_EQ(r.Stderr, "");
      EXPECT_TRUE(Installation->StatementLog().empty());
      EXPECT_FALSE(Installation->FileExists(path));
    }
  }
}

// ===========================================================================
// Badge data

// What becomes of a badge in the IDSTAMM file.
enum class IdStamm { Line, LeftOutQuote, LeftOutLineBreak };

struct BadgeCase {
  std::string Number;     // as stored
  std::string Fetched;    // as the badge cursor delivers it (at most 50 characters)
  std::string Changes;    // "column = value" for Xel301Asw
  std::string AwvSto;     // SQL expression
  std::vector<std::string> ExtraClasses;
  IdStamm InIdStamm;
  bool HasPnr;            // MGDNL18P writes only badges with a personnel number
  int FittingClasses;     // access classes of at most three characters
};

std::string Quoted(const std::string& text) { return SqlString(text); }

const std::string LongNumber(60, 'W');

// Every badge takes time class Z1 and access class A1 on terminal T1.
std::vector<BadgeCase> BadgeCases() {
  const std::string lf = "' || char(10) || '";
  const std::string cr = "' || char(13) || '";
  return {
      {"Q'1", "Q'1", "AswAan = 'O''Neill', AswPin = '1''2'", "'00000012'", {}, IdStamm::Line, true, 1},
      {"D\"2", "D\"2", "", "'00000012'", {}, IdStamm::LeftOutQuote, true, 1},
      {"C,3", "C,3", "AswAan = 'Meier, Anna', AswPin = '12,34'", "'00000012'", {}, IdStamm::Line, true, 1},
      {"L\n4", "L\n4", "", "'00000012'", {}, IdStamm::LeftOutLineBreak, true, 1},
      {"\xC4\xD6\xDC" "5", "\xC4\xD6\xDC" "5", "AswAan = 'M\xFCller \xDF\xE9'", "'00000099'", {}, IdStamm::Line, true,
       1},
      {LongNumber, LongNumber.substr(0, 50), "", "'00000012'", {}, IdStamm::Line, true, 1},
      {"M14CHARSXXXXXX", "M14CHARSXXXXXX", "", "'00000012'", {}, IdStamm::Line, true, 1},
      {"M13CHARSXXXXX", "M13CHARSXXXXX", "", "'00000012'", {}, IdStamm::Line, true, 1},
      // NULL in every column that may hold one (one validity date is needed
      // to be valid today at all).
      {"N9", "N9",
       "AswGvo = NULL, AswGbi = '20991231', AswPnr = NULL, AswBkl = NULL, AswBk2 = NULL, AswGrp = NULL, "
       "AswAan = NULL, AswAtp = NULL, AswSal = NULL, AswSpr = NULL, AswPin = NULL, AswSta = NULL",
       "NULL", {}, IdStamm::Line, false, 1},
      {"N10", "N10",
       "AswGbi = NULL, AswBkl = NULL, AswBk2 = NULL, AswGrp = NULL, AswAan = NULL, AswAtp = NULL, "
       "AswSal = NULL, AswSpr = NULL, AswPin = NULL, AswSta = NULL",
       "NULL", {}, IdStamm::Line, true, 1},
      // Every text longer than its column.
      {"V12", "V12",
       "AswGvo = '20200101xxxxxxxx', AswGbi = '20991231yyyyyyyy', AswPnr = '" + std::string(20, 'P') +
           "', AswBkl = '" + std::string(10, 'B') + "', AswBk2 = '" + std::string(10, 'K') + "', AswGrp = '" +
           std::string(20, 'G') + "', AswAan = '" + std::string(200, 'a') + "', AswAtp = -2147483648, AswSal = '" +
           std::string(30, 'S') + "', AswSpr = 2147483647, AswPin = '" + std::string(100, '9') + "'",
       "'" + std::string(20, '1') + "'", {}, IdStamm::Line, true, 1},
      {"X13", "X13", "AswAan = 'M\xFCller, \"Hans\"'", "'00000012'", {}, IdStamm::LeftOutQuote, true, 1},
      {"Y14", "Y14", "AswAan = 'Zeile1" + lf + "Zeile2'", "'00000012'", {}, IdStamm::LeftOutLineBreak, true, 1},
      {"R16", "R16", "AswPin = '12" + cr + "34'", "'00000012'", {}, IdStamm::LeftOutLineBreak, true, 1},
      {"K17", "K17", "", "'00000012'", {"A\"2", "ABCD"}, IdStamm::LeftOutQuote, true, 2},
      {"S18", "S18", "AswSal = 'S" + lf + "1'", "'00000012'", {}, IdStamm::LeftOutLineBreak, true, 1},
  };
}

bool FitsFixedWidth(const BadgeCase& b) { return b.Fetched.size() <= 13; }

class BadgeData : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Installation = new ScratchInstallation(ScratchInstallation::Empty());
    ScratchInstallation& inst = *Installation;
    const std::string lf = "' || char(10) || '";
    inst.Exec(
        "INSERT INTO Xel1140Trm VALUES ('T1', '7744-010', 'SAL1', 1, 1, 1, 0);"
        "INSERT INTO Xel115Tfz VALUES ('T1', 1, 1, 0);"
        "INSERT INTO MGSST35P VALUES ('T1', 'Z1', '1'), ('T1', 'A1', '0'), ('T1', 'A\"2', '0'), ('T1', 'ABCD', '0');"
        "INSERT INTO Xel401Zls VALUES ('T1', 1, 'Z01', NULL), ('T1', 2, NULL, NULL);"
        "INSERT INTO Xel113Sto VALUES ('00000012', 'T\"," + lf + "x', 0), ('00000099', '\xC4\xD6', 0),"
        " ('" + std::string(20, '1') + "', '" + std::string(30, 'L') + "', 0);"
        // Display texts and value codes with quotes, commas, line feeds and
        // Latin-1, one of them longer than its column.
        "INSERT INTO Xel119Msd VALUES ('SAL1', 1, 1, 'Url\"a,b" + lf + "c', 1, 1, 1, 1, NULL, 0),"
        " ('SAL1', 2, 2, NULL, 2, 2, 1, 1, NULL, 0), ('SAL1', 3, 1, NULL, 3, 3, 1, 1, NULL, 0),"
        " ('SAL1', 5, 2, '" + std::string(40, 'm') + "', 1, 4, 1, 1, NULL, 0);"
        "INSERT INTO Xel102Whl VALUES (220001, 1, 1, 'x', 'Urlaub'),"
        " (220001, 2, 1, 'y', 'Gleit" + lf + "zeit \xE4\"'), (220001, 3, 1, 'z', 'Text &#241; " + std::string(60, 'l') +
        "'), (220002, 1, 1, '#W2', NULL), (220002, 2, 1, '#W9', NULL), (220002, 3, 1, '#W21', NULL),"
        " (220002, 4, 1, '#W1" + lf + "', NULL);");
    for (const BadgeCase& b : BadgeCases()) {
      AddBadge(inst, b.Number, "AswPnr = 'P1', AswBkl = 'Z1', AswSpr = 1", b.AwvSto);
      if (!b.Changes.empty())
        inst.Exec("UPDATE Xel301Asw SET " + b.Changes + " WHERE AswNum = " + Quoted(b.Number));
      // The per-badge queries ask with the number as fetched.
      for (const std::string& cls : {std::string("Z1"), std::string("A1")}) AddBadgeClass(inst, b.Fetched, cls);
      for (const std::string& cls : b.ExtraClasses) AddBadgeClass(inst, b.Fetched, cls);
    }
    // Balances: quotes, commas, line feeds, Latin-1, overlong, and a row of
    // NULLs.
    inst.Exec("INSERT INTO O2002TSW (TswIdn, TswW02, TswW09, TswW03, TswF01) VALUES"
              " ('Q''1', '+1\"2,3', '-" + lf + "45', '+\xE4\xF6', 'F\"," + lf + "\xFC'),"
              " ('C,3', '+" + std::string(30, '9') + "', '-" + std::string(30, '8') + "', '', '" +
              std::string(50, 'f') + "'),"
              " ('N10', NULL, NULL, NULL, NULL), ('V12', '+1', '-2', '+3', 'text')");
  }
  static void TearDownTestSuite() { delete Installation; }

  static ScratchInstallation* Installation;
};
ScratchInstallation* BadgeData::Installation = nullptr;

std::string Head(const std::string& number) { return number + std::string(13 - number.size(), ' '); }

// Splits an IDSTAMM line into its fields: "f1","f2",...,"f14".
bool SplitLine(const std::string& line, std::vector<std::string>* fields) {
  fields->clear();
  size_t at = 0;
  while (at < line.size()) {
    if (line[at] != '"') return false;
    size_t end = line.find('"', at + 1);
    if (end == std::string::npos) return false;
    fields->push_back(line.substr(at + 1, end - at - 1));
    at = end + 1;
    if (at == line.size()) break;
    if (line[at] != ',') return false;
    ++at;
    if (at == line.size()) return false;
  }
  return true;
}

TEST_F(BadgeData, FixedWidthFilesHoldWholeRecordsOfTheBadgesThatFit) {
  const std::vector<BadgeCase> cases = BadgeCases();
  for (const DownloadFunction& f : DownloadFunctions) {
    if (f.RecordLength == 0) continue;
    SCOPED_TRACE(f.Name);
    const std::string name = f.Name;
    const bool balanceDisplay = name == "MGDNL18P";
    RunResult r = Installation->Run({f.Name, "T1", Installation->Root + "/out.dat", "1"});
    EXPECT_EQ(r.ExitCode, 0) << r.Stdout;
    EXPECT_EQ(r.Stderr, "");
    const std::string file = Installation->ReadFile("out.dat");
    ASSERT_EQ(file.size() % f.RecordLength, 0u) << file.size();

    std::vector<std::string> expectedHeads;
    int total = 0, written = 0;
    for (const BadgeCase& b : cases) {
      ++total;
      if (balanceDisplay && !b.HasPnr) continue;
      if (!FitsFixedWidth(b)) {
        EXPECT_NE(r.Stdout.find("Ausweis " + b.Fetched + " passt nicht in die Datei " + name +
                                " (Ausweisnummer laenger als 13 Zeichen) und wird ausgelassen!\n"),
                  std::string::npos)
            << b.Fetched;
        continue;
      }
      ++written;
      const int records = balanceDisplay ? 1 : b.FittingClasses;
      for (int i = 0; i < records; ++i) expectedHeads.push_back(Head(b.Fetched));
    }
    std::vector<std::string> heads;
    for (size_t at = 0; at < file.size(); at += f.RecordLength) heads.push_back(file.substr(at, 13));
    std::sort(heads.begin(), heads.end());
    std::sort(expectedHeads.begin(), expectedHeads.end());
    EXPECT_EQ(heads, expectedHeads);
    EXPECT_EQ(file.size(), expectedHeads.size() * f.RecordLength);
    EXPECT_TRUE(EndsWith(r.Stdout, SummaryMessage(total, written))) << r.Stdout;
    if (!balanceDisplay) {
      EXPECT_NE(r.Stdout.find("Zutrittsklasse ABCD von Ausweis K17 passt nicht in die Datei " + name +
                              " und wird ausgelassen!\n"),
                std::string::npos)
          << r.Stdout;
    }
  }
}

TEST_F(BadgeData, IdStammLinesSplitIntoFourteenFields) {
  RunResult r = Installation->Run({"IDSTAMM", "T1", Installation->Root + "/out.dat", "1"});
  EXPECT_EQ(r.ExitCode, 0) << r.Stdout;
  EXPECT_EQ(r.Stderr, "");
  const std::string file = Installation->ReadFile("out.dat");

  std::vector<std::string> expectedNumbers;
  int total = 0;
  for (const BadgeCase& b : BadgeCases()) {
    ++total;
    const std::string leftOut = "Ausweis " + b.Fetched + " enthaelt ";
    switch (b.InIdStamm) {
      case IdStamm::Line:
        expectedNumbers.push_back(b.Fetched);
        EXPECT_EQ(r.Stdout.find(leftOut), std::string::npos) << b.Fetched;
        break;
      case IdStamm::LeftOutQuote:
        EXPECT_NE(r.Stdout.find(leftOut + "ein Anfuehrungszeichen und wird nicht in die Datei IDSTAMM gestellt!\n"),
                  std::string::npos)
            << b.Fetched;
        break;
      case IdStamm::LeftOutLineBreak:
        EXPECT_NE(r.Stdout.find(leftOut + "einen Zeilenumbruch und wird nicht in die Datei IDSTAMM gestellt!\n"),
                  std::string::npos)
            << b.Fetched;
        break;
    }
  }
  EXPECT_TRUE(EndsWith(r.Stdout, SummaryMessage(total, static_cast<int>(expectedNumbers.size())))) << r.Stdout;

  // Lines end in CR LF, and no other CR or LF stands in the file.
  ASSERT_TRUE(EndsWith(file, "\r\n"));
  std::vector<std::string> numbers;
  size_t at = 0;
  while (at < file.size()) {
    size_t end = file.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    const std::string line = file.substr(at, end - at);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    std::vector<std::string> fields;
    EXPECT_TRUE(SplitLine(line, &fields)) << line;
    ASSERT_EQ(fields.size(), 14u) << line;
    EXPECT_EQ(fields[0], fields[11]) << line;
    EXPECT_EQ(fields[8], "001") << line;
    EXPECT_EQ(fields[9], "A1 ") << line;  // the one access class each badge written has
    numbers.push_back(fields[0]);
    at = end + 2;
  }
  std::sort(numbers.begin(), numbers.end());
  std::sort(expectedNumbers.begin(), expectedNumbers.end());
  EXPECT_EQ(numbers, expectedNumbers);
}

// The trace switch prints badge numbers and texts as they are: with every
// badge above it still must not crash or write to standard error.
TEST_F(BadgeData, TracedRunsOfEveryFunctionEndWell) {
  for (const DownloadFunction& f : DownloadFunctions) {
    SCOPED_TRACE(f.Name);
    RunResult plain = Installation->Run({f.Name, "T1", Installation->Root + "/plain.dat", "1"});
    RunResult traced = Installation->Run({f.Name, "T1", Installation->Root + "/traced.dat", "1", "/d"});
    EXPECT_EQ(traced.ExitCode, 0);
    EXPECT_EQ(traced.Stderr, "");
    EXPECT_GT(traced.Stdout.size(), plain.Stdout.size());
    EXPECT_EQ(Installation->ReadFile("traced.dat"), Installation->ReadFile("plain.dat"));
  }
}

// With rows streamed, the same data through the other fetch path.
TEST(BadgeDataStreamed, SameFilesWithRowsStreamed) {
  // Built like BadgeData's installation, compared function by function.
  ScratchInstallation buffered = ScratchInstallation::Empty(false);
  ScratchInstallation streamed = ScratchInstallation::Empty(true);
  for (ScratchInstallation* inst : {&buffered, &streamed}) {
    AddTerminalRows(*inst, "T1");
    for (const BadgeCase& b : BadgeCases()) {
      AddBadge(*inst, b.Number, "AswPnr = 'P1', AswBkl = 'Z1', AswSpr = 1", b.AwvSto);
      if (!b.Changes.empty())
        inst->Exec("UPDATE Xel301Asw SET " + b.Changes + " WHERE AswNum = " + Quoted(b.Number));
      AddBadgeClass(*inst, b.Fetched, "Z1");
      AddBadgeClass(*inst, b.Fetched, "A1");
    }
  }
  for (const DownloadFunction& f : DownloadFunctions) {
    SCOPED_TRACE(f.Name);
    RunResult a = buffered.Run({f.Name, "T1", buffered.Root + "/out.dat", "1"});
    RunResult b = streamed.Run({f.Name, "T1", streamed.Root + "/out.dat", "1"});
    EXPECT_EQ(a.ExitCode, 0);
    EXPECT_EQ(b.ExitCode, 0);
    EXPECT_EQ(a.Stderr, "");
    EXPECT_EQ(b.Stderr, "");
    EXPECT_EQ(a.Stdout, b.Stdout);
    EXPECT_EQ(buffered.ReadFile("out.dat"), streamed.ReadFile("out.dat"));
  }
}

}  // namespace
