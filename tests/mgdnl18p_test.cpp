// The balance display file MGDNL18P, written by whole runs of the tool
// against a scratch installation.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "badge_rows.h"
#include "installation.h"
#include "writer_checks.h"

namespace {

constexpr size_t RecordLength = 173;

// Today's local date as the file shows it.
std::string LocalDate() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%d.%m.%y", &local);
  return text;
}

// An expected record: the badge number, blanks, and what Put places.
struct Record {
  explicit Record(const std::string& badge) : Text(RecordLength, ' ') { Put(1, badge); }
  Record& Put(size_t position, const std::string& text) {
    Text.replace(position - 1, text.size(), text);
    return *this;
  }
  std::string Text;
};

struct Definition {
  int Lfd;
  const char* Spl;   // SQL text of the column
  const char* Own;   // MsdTxt
  const char* List;  // list 220001 text; every definition here has one
  const char* Code;  // list 220002 text; nullptr: none
};

class MgDnl18P : public testing::Test {
 protected:
  void SetUp() override {
    Installation = std::make_unique<ScratchInstallation>(ScratchInstallation::Empty());
    Output = Installation->Root + "/mgdnl18p.dat";
  }

  void AddTerminal(const char* name, const char* model, const char* set) {
    Installation->Exec("INSERT INTO Xel1140Trm VALUES (" + SqlOrNull(name) + ", " + SqlOrNull(model) + ", " +
                       SqlOrNull(set) + ", 1, 1, 1, NULL); INSERT INTO MGSST35P VALUES (" + SqlOrNull(name) +
                       ", '100', '1');");
  }

  // Valid since a month; permitted badges have class 100, which every
  // terminal of these tests accepts for time booking.
  void AddBadge(const char* number, const char* pnr, bool permitted = true, const char* set = nullptr,
                int language = 1, int fromDaysAgo = 30) {
    Installation->Exec("INSERT INTO Xel301Asw (AswNum, AswGvo, AswPnr, AswSal, AswSpr) VALUES (" + SqlOrNull(number) +
                       ", '" + TodayYmd(-fromDaysAgo) + "', " + SqlOrNull(pnr) + ", " + SqlOrNull(set) + ", " +
                       std::to_string(language) + ")");
    Installation->Exec("INSERT INTO Xel113Awv (AwvNum) VALUES (" + SqlOrNull(number) + ")");
    if (permitted) Installation->Exec("INSERT INTO Xel301Awb VALUES (" + SqlOrNull(number) + ", '100')");
  }

  void AddBalance(const char* number, const std::vector<std::pair<std::string, std::string>>& columns) {
    std::string names = "TswIdn", values = SqlOrNull(number);
    for (const auto& c : columns) {
      names += ", " + c.first;
      values += ", " + SqlOrNull(c.second.c_str());
    }
    Installation->Exec("INSERT INTO O2002TSW (" + names + ") VALUES (" + values + ")");
  }

  void AddDefinitions(const char* set, const std::vector<Definition>& definitions, int language = 1) {
    for (const Definition& d : definitions)
      AddDisplayDefinition(*Installation, ++NextEntry, {set, d.Lfd, d.Spl, d.Own, d.List, d.Code, language});
  }

  RunResult Run(const char* terminal, bool trace = false, bool withSqlLog = false) {
    std::vector<std::string> args = {"MGDNL18P", terminal, Output, "1"};
    if (trace) args.push_back("/d");
    return Installation->RunBothWays(args, withSqlLog);
  }

  std::string File() const { return Installation->ReadFile(Output); }

  std::unique_ptr<ScratchInstallation> Installation;
  std::string Output;
  int NextEntry = 0;
};

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

// All eight groups on an ordinary terminal: texts from the definition or
// the list, the date in the first and second "#W1" group, a balance value, a
// long text value replacing the group's text, the column selector 2 in
// groups 5 to 8 only, unknown codes, and definitions without a group.
TEST_F(MgDnl18P, EightGroupsOnAnOrdinaryTerminal) {
  AddTerminal("T18", "7600-100", "S1");
  AddDefinitions("S1", {
                           {0, "1", "Null", "x", "#W2"},
                           {1, "2", nullptr, "Datum", "#W1"},
                           {2, "1", nullptr, "Gleitzeitsaldo", "#W2"},
                           {3, "1", "Info", "x", "#W21"},
                           {4, "2", nullptr, "Ma&#241;ana Schicht", "#W1"},
                           {5, "2", "Urlaub", "x", "#W16"},
                           {6, "1", nullptr, "Kontostand Monat", "#W30"},
                           {7, "2", "   ", "Abwesenheit", "#W17"},
                           {8, "NULL", "Eigen", "x", "#W9"},
                           {9, "1", "Neun", "x", "#W2"},
                       });
  AddBadge("4711", "P1");
  AddBalance("4711", {{"TswW02", "-123"}, {"TswW16", "+42"}, {"TswW09", "-"}, {"TswF01", "Resturlaub 12.5"},
                      {"TswF10", "ohne"}});

  const std::string today = LocalDate();
  RunResult run = Run("T18");
  ASSERT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;

  Record expected("4711");
  expected.Put(14, "Datum       ").Put(26, today)
      .Put(34, "Gleitzeitsal ").Put(47, "   123-")
      .Put(54, "Resturlaub 12.5     ")
      .Put(74, "Ma\xF1" "ana Schic ").Put(87, today.substr(0, 7))
      .Put(95, "Urlaub      ").Put(107, "    42 ")
      .Put(114, "ohne                ")
      .Put(135, "Abwesenheit ")
      .Put(154, "Eigen        ").Put(167, "      -");
  EXPECT_EQ(File(), expected.Text);

  std::string trace;
  for (int i = 0; i < 10; ++i) trace += DefinitionTrace0 + ValueTrace0;
  EXPECT_TRUE(Contains(run.Stdout, trace + DefinitionTrace100 + SummaryLine(1, 1))) << run.Stdout;
  EXPECT_FALSE(Contains(run.Stdout, "Wert:")) << "definition trace only with /d";
}

// Every value code family maps to its own field: "#W2" to "#W16" by
// number (the fields stand in another order in the badge record), "#W21" to
// "#W30" to the ten texts, anything else to seven blanks.
TEST_F(MgDnl18P, ValueCodesSelectTheirBalanceField) {
  std::vector<std::pair<std::string, std::string>> balance;
  for (int n = 2; n <= 16; ++n) {
    char column[16], value[16];
    std::snprintf(column, sizeof column, "TswW%02d", n);
    std::snprintf(value, sizeof value, "-100%02d", n);
    balance.push_back({column, value});
  }
  for (int n = 1; n <= 10; ++n) {
    char column[16], value[32];
    std::snprintf(column, sizeof column, "TswF%02d", n);
    std::snprintf(value, sizeof value, "Feldtext Nummer %02d", n);
    balance.push_back({column, value});
  }

  const std::vector<std::vector<const char*>> codeSets = {
      {"#W2", "#W3", "#W4", "#W5", "#W6", "#W7", "#W8", "#W9"},
      {"#W10", "#W11", "#W12", "#W13", "#W14", "#W15", "#W16", "#W20"},
      {"#W21", "#W22", "#W23", "#W24", "#W25", "#W26", "#W27", "#W28"},
      {"#W29", "#W30", "#W02", "#W31", "W1", "", "#W", "#w2"},
  };
  for (size_t s = 0; s < codeSets.size(); ++s) {
    const std::string terminal = "T" + std::to_string(s);
    const std::string set = "S" + std::to_string(s);
    AddTerminal(terminal.c_str(), "7600-100", set.c_str());
    std::vector<Definition> definitions;
    for (int g = 1; g <= 8; ++g) definitions.push_back({g, "1", "Gruppe", "x", codeSets[s][g - 1]});
    AddDefinitions(set.c_str(), definitions);
  }
  AddBadge("1", "P1");
  AddBalance("1", balance);

  for (size_t s = 0; s < codeSets.size(); ++s) {
    SCOPED_TRACE("codes of set " + std::to_string(s));
    RunResult run = Run(("T" + std::to_string(s)).c_str());
    ASSERT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;
    Record expected("1");
    for (int g = 1; g <= 8; ++g) {
      const size_t start = 14 + 20 * (g - 1);
      const std::string code = codeSets[s][g - 1];
      expected.Put(start, "Gruppe       ");
      int number = 0;
      if (code.size() >= 3 && code.compare(0, 2, "#W") == 0 && code[2] != '0') number = std::atoi(code.c_str() + 2);
      if (number >= 2 && number <= 16) {
        char value[16];
        std::snprintf(value, sizeof value, " 100%02d-", number);
        expected.Put(start + 13, value);
      } else if (number >= 21 && number <= 30) {
        char value[32];
        std::snprintf(value, sizeof value, "Feldtext Nummer %02d  ", number - 20);
        expected.Put(start, value);
      }
    }
    EXPECT_EQ(File(), expected.Text);
  }
}

// Model "7598-002" shows four groups only; "7744-010" uses the badge's own
// definitions when the badge has a balance set; every other model uses the
// terminal's definitions for all badges.
TEST_F(MgDnl18P, TerminalModels) {
  AddTerminal("T7598", "7598-002", "ST");
  AddTerminal("T7744", "7744-010", "ST");
  AddTerminal("T7600", "7600-100", "ST");
  std::vector<Definition> terminalDefinitions;
  for (int g = 1; g <= 8; ++g) terminalDefinitions.push_back({g, "1", nullptr, "Terminal", "#W2"});
  AddDefinitions("ST", terminalDefinitions);
  AddDefinitions("SB",
                 {
                     {1, "1", nullptr, "Ma&#241;ana shift", "#W3"},
                     {6, "2", "Eigener Text", "x", "#W1"},
                 },
                 2);
  AddBadge("X1", "P1", true, "SB", 2);    // own definitions
  AddBadge("Y1", "P2", true, nullptr, 1);  // no balance set
  AddBadge("Z1", "P3", true, "SN", 1);     // a set without definitions
  for (const char* badge : {"X1", "Y1", "Z1"}) AddBalance(badge, {{"TswW02", "+7"}, {"TswW03", "-3"}});

  Record terminalLayoutX("X1"), terminalLayoutY("Y1"), terminalLayoutZ("Z1");
  for (Record* r : {&terminalLayoutX, &terminalLayoutY, &terminalLayoutZ})
    for (int g = 1; g <= 8; ++g) r->Put(14 + 20 * (g - 1), "Terminal     ").Put(27 + 20 * (g - 1), "     7 ");

  {
    SCOPED_TRACE("7598-002");
    RunResult run = Run("T7598");
    ASSERT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;
    std::string expected;
    for (Record* r : {&terminalLayoutX, &terminalLayoutY, &terminalLayoutZ})
      expected += r->Text.substr(0, 93) + std::string(80, ' ');
    EXPECT_EQ(File(), expected);
  }
  {
    SCOPED_TRACE("7600-100");
    RunResult run = Run("T7600", false, true);
    ASSERT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;
    EXPECT_EQ(File(), terminalLayoutX.Text + terminalLayoutY.Text + terminalLayoutZ.Text);
    for (const std::string& statement : Installation->StatementLog())
      EXPECT_FALSE(Contains(statement, "Xel301Asw, Dravonix.Xel119Msd")) << statement;
  }
  {
    SCOPED_TRACE("7744-010");
    const std::string today = LocalDate();
    RunResult run = Run("T7744", false, true);
    ASSERT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;
    Record ownX("X1");
    // The badge level uses the list text as it comes; the date of the first
    // "#W1" group covers the last text position, here the shifted text's.
    ownX.Put(14, "Ma&#241;ana  ").Put(27, "     3-").Put(115, "Eigener Text").Put(126, today);
    EXPECT_EQ(File(), ownX.Text + terminalLayoutY.Text + Record("Z1").Text);

    int ownQueries = 0;
    for (const std::string& statement : Installation->StatementLog()) {
      if (!Contains(statement, "FROM Dravonix.Xel301Asw, Dravonix.Xel119Msd")) continue;
      ++ownQueries;
      EXPECT_TRUE(Contains(statement, "WHERE AswNum = 'X1'") || Contains(statement, "WHERE AswNum = 'Z1'"))
          << statement;
    }
    EXPECT_EQ(ownQueries, 2);
    EXPECT_FALSE(Contains(run.Stdout, "Fetch Sal_DspTxtVar_Read! RC:-1")) << "the badge level prints nothing";
  }
}

// Skipped badges: no personnel number, the number of the record just
// written, no time permission; each counts in the total. The refusal
// message comes with /d only, before the other tests.
TEST_F(MgDnl18P, SkippedBadgesAndTheirMessages) {
  AddTerminal("T18", "7600-100", "S1");
  AddDefinitions("S1", {{1, "1", nullptr, "Saldo", "#W2"}});
  AddBadge("A1", nullptr);         // no personnel number
  AddBadge("A2", nullptr, false);  // neither
  AddBadge("B1", nullptr, true, nullptr, 1, 30);  // first row skipped...
  Installation->Exec("INSERT INTO Xel301Asw (AswNum, AswGvo, AswPnr, AswSpr) VALUES ('B1', '" + TodayYmd(-20) +
                     "', 'P1', 1)");  // ...so the second row is written
  AddBadge("B2", "P2");
  Installation->Exec("INSERT INTO Xel113Awv (AwvNum) VALUES ('B2')");  // delivered twice
  AddBadge("C1", "P3", false);     // no time permission
  AddBadge("D1", "P4");            // no balance data
  AddBalance("B1", {{"TswW02", "+1"}});
  AddBalance("B2", {{"TswW02", "+2"}});

  const std::string expected = Record("B1").Put(14, "Saldo        ").Put(27, "     1 ").Text +
                               Record("B2").Put(14, "Saldo        ").Put(27, "     2 ").Text +
                               Record("D1").Put(14, "Saldo        ").Text;

  RunResult traced = Run("T18", true);
  ASSERT_EQ(traced.ExitCode, 0) << traced.Stdout << traced.Stderr;
  EXPECT_EQ(File(), expected);
  EXPECT_EQ(File().size(), 3 * RecordLength);
  const std::string& out = traced.Stdout;
  EXPECT_TRUE(Contains(out, "Wert: " + std::string(7, ' ') + "  Txt: Saldo" + std::string(8, ' ') + "  Con: #W2 !\n"))
      << out;
  EXPECT_TRUE(Contains(out, "Ausweis A2 auf Terminal T18 nicht zulaessig!\n")) << out;
  EXPECT_TRUE(Contains(out, "Ausweis C1 auf Terminal T18 nicht zulaessig!\n")) << out;
  for (const char* permitted : {"A1", "B1", "B2", "D1"})
    EXPECT_FALSE(Contains(out, std::string("Ausweis ") + permitted + " auf Terminal")) << permitted;
  EXPECT_TRUE(Contains(out, "Ausweis:D1 Person:P4 Saldodaten nicht gefunden! 100\n")) << out;
  EXPECT_FALSE(Contains(out, "Ausweis:B")) << out;
  EXPECT_TRUE(Contains(out, SummaryLine(8, 3))) << out;

  RunResult quiet = Run("T18");
  ASSERT_EQ(quiet.ExitCode, 0) << quiet.Stdout << quiet.Stderr;
  EXPECT_EQ(File(), expected);
  EXPECT_FALSE(Contains(quiet.Stdout, "nicht zulaessig")) << quiet.Stdout;
  EXPECT_FALSE(Contains(quiet.Stdout, "Saldodaten")) << quiet.Stdout;
  EXPECT_FALSE(Contains(quiet.Stdout, "Wert:")) << quiet.Stdout;
  EXPECT_TRUE(Contains(quiet.Stdout, SummaryLine(8, 3))) << quiet.Stdout;
}

// The record has 13 positions for the badge number: a longer number is
// left out with a message, whatever the trace switch says.
TEST_F(MgDnl18P, BadgeNumberLongerThanThirteenIsLeftOut) {
  AddTerminal("T18", "7600-100", "S1");
  AddDefinitions("S1", {{1, "1", nullptr, "Saldo", "#W2"}});
  AddBadge("1234567890123", "P1");
  AddBadge("12345678901234", "P2");

  RunResult run = Run("T18");
  ASSERT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;
  EXPECT_EQ(File(), Record("1234567890123").Put(14, "Saldo        ").Text);
  EXPECT_TRUE(Contains(run.Stdout,
                       "Ausweis 12345678901234 passt nicht in die Datei MGDNL18P (Ausweisnummer laenger als 13 "
                       "Zeichen) und wird ausgelassen!\n"))
      << run.Stdout;
  EXPECT_TRUE(Contains(run.Stdout, SummaryLine(2, 1))) << run.Stdout;
}

// Without definitions a record is the badge number and blanks; a definition
// without value code ends the reading, so the ones after it show nothing.
TEST_F(MgDnl18P, MissingDefinitionsLeaveGroupsBlank) {
  AddTerminal("TNONE", "7600-100", "SNONE");
  AddTerminal("TEND", "7600-100", "SEND");
  AddDefinitions("SEND", {
                             {1, "1", "Eins", "x", "#W2"},
                             {2, "1", "Zwei", "x", nullptr},
                             {3, "1", "Drei", "x", "#W2"},
                         });
  AddBadge("7", "P1");
  AddBalance("7", {{"TswW02", "-5"}});

  RunResult none = Run("TNONE");
  ASSERT_EQ(none.ExitCode, 0) << none.Stdout << none.Stderr;
  EXPECT_EQ(File(), Record("7").Text);
  EXPECT_TRUE(Contains(none.Stdout, DefinitionTrace100 + SummaryLine(1, 1))) << none.Stdout;
  EXPECT_EQ(none.Stdout.find("Fetch Sal_DspTxtVar_Read!"), none.Stdout.rfind("Fetch Sal_DspTxtVar_Read!"));

  RunResult ended = Run("TEND");
  ASSERT_EQ(ended.ExitCode, 0) << ended.Stdout << ended.Stderr;
  EXPECT_EQ(File(), Record("7").Put(14, "Eins         ").Put(27, "     5-").Text);
  EXPECT_TRUE(Contains(ended.Stdout,
                       DefinitionTrace0 + ValueTrace0 + DefinitionTrace0 + ValueTrace100 + SummaryLine(1, 1)))
      << ended.Stdout;
}

// A badge fetch that fails (a bad date reaches CONVERT at that row) ends the
// file with the records before it; the run fails after the summary.
TEST(MgDnl18PFailure, FailingBadgeFetchEndsTheRun) {
  ScratchInstallation installation = ScratchInstallation::Empty(true);
  installation.Exec(
      "INSERT INTO Xel1140Trm VALUES ('T18', '7600-100', 'S1', 1, 1, 1, NULL);"
      "INSERT INTO MGSST35P VALUES ('T18', '100', '1');"
      "INSERT INTO Xel301Asw (AswNum, AswGvo, AswPnr, AswSpr) VALUES ('A', '" + TodayYmd(-3) + "', 'P1', 1);"
      "INSERT INTO Xel301Asw (AswNum, AswGvo, AswPnr, AswSpr) VALUES ('B', '2024-13-45', 'P2', 1);"
      "INSERT INTO Xel113Awv (AwvNum) VALUES ('A'); INSERT INTO Xel113Awv (AwvNum) VALUES ('B');"
      "INSERT INTO Xel301Awb VALUES ('A', '100'); INSERT INTO Xel301Awb VALUES ('B', '100');");

  RunResult run = installation.Run({"MGDNL18P", "T18", "out.dat", "0"});
  EXPECT_EQ(run.ExitCode, 255) << run.Stdout << run.Stderr;
  // Appended to no file: none is left behind.
  EXPECT_FALSE(installation.FileExists("work/dir/out.dat"));
  EXPECT_TRUE(Contains(run.Stdout, SummaryLine(1, 1) + "Programmabbruch: Fehler bei Erstellung der Datei MGDNL18P!\n"))
      << run.Stdout;
}

}  // namespace
