// The MGDNL60P reader file, written by the whole tool against a scratch
// installation: 45-character records, back to back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "installation.h"

namespace {

constexpr size_t RecordLength = 45;

// Cuts a file into records; a file that is not a whole number of records
// fails the test.
std::vector<std::string> CutRecords(const std::string& file) {
  EXPECT_EQ(file.size() % RecordLength, 0u) << "file of " << file.size() << " bytes";
  std::vector<std::string> records;
  for (size_t at = 0; at + RecordLength <= file.size(); at += RecordLength)
    records.push_back(file.substr(at, RecordLength));
  return records;
}

std::string Blanks(size_t n) { return std::string(n, ' '); }

// One reader group: two characters of reader number, three of class.
std::string Group(const std::string& reader = "  ", const std::string& cls = "   ") {
  return reader + cls + Blanks(3 - cls.size());
}

std::string SummaryLine(int total, int written) {
  return "Ausweise gesamt: " + std::to_string(total) + " davon in Datei gestellt: " + std::to_string(written) + "\n";
}

// What each logged statement asks, in order; the terminal lookup and the
// badge cursor are left out.
std::vector<std::string> PerBadgeQueries(const std::vector<std::string>& log) {
  const std::pair<const char*, const char*> kinds[] = {
      {"DRAVONIX.O2002TSW", "balance"},       {"SELECT COUNT(*) FROM  Dravonix.MGSST35P", "time"},
      {"Dravonix.Xel401Zls", "readers"},      {"SELECT DISTINCT M35BKL", "classes"},
      {"Dravonix.Xel113Sto", "location"},
  };
  std::vector<std::string> asked;
  for (const std::string& statement : log)
    for (const auto& kind : kinds)
      if (statement.find(kind.first) != std::string::npos) asked.push_back(kind.second);
  return asked;
}

std::string ReaderQuery(int limit) {
  return "SELECT ZlsLes, ZlsZko  FROM  Dravonix.Xel401Zls  WHERE ZlsTrm = 'T1'  AND ZlsLes <= " + std::to_string(limit) +
         "  AND ((ZlsSta <> 4 AND ZlsSta <> 8) OR ZlsSta IS NULL)  ORDER BY ZlsLes ";
}

// Terminal T1 without client rows: the tool then reads all badges valid today.
class Mgdnl60pTest : public ::testing::Test {
 protected:
  void SetUp() override { Inst.Exec("INSERT INTO Xel1140Trm (TrmNam, TrmMod, TrmSal) VALUES ('T1', 'M1', 'S1')"); }

  // A badge valid since 1 March 2024.
  void AddBadge(const std::string& number) {
    Inst.Exec("INSERT INTO Xel301Asw (AswNum, AswGvo) VALUES ('" + number +
              "', '20240301');INSERT INTO Xel113Awv (AwvNum) VALUES ('" + number + "')");
  }
  // Class of a badge that T1 accepts; kind '1' time booking, '0' access.
  void AddClass(const std::string& number, const std::string& cls, const char* kind) {
    Inst.Exec("INSERT INTO MGSST35P (M35Trm, M35Bkl, M35Bch) VALUES ('T1', '" + cls + "', '" + kind +
              "');INSERT INTO Xel301Awb (AwbAsw, AwbBkl) VALUES ('" + number + "', '" + cls + "')");
  }
  void AddReaders(std::initializer_list<int> numbers) {
    for (int n : numbers)
      Inst.Exec("INSERT INTO Xel401Zls (ZlsTrm, ZlsLes, ZlsZko) VALUES ('T1', " + std::to_string(n) + ", 'Z')");
  }
  void AddBalance(const std::string& number, const std::string& w09) {
    Inst.Exec("INSERT INTO O2002TSW (TswIdn, TswW02, TswW09) VALUES ('" + number + "', '-222', " + w09 + ")");
  }
  RunResult Run(bool debug = false, bool sqlLog = false) {
    std::vector<std::string> args = {"MGDNL60P", "T1", Inst.Root + "/out.dnl", "1"};
    if (debug) args.push_back("/d");
    return Inst.Run(args, sqlLog);
  }
  std::vector<std::string> Records() { return CutRecords(Inst.ReadFile("out.dnl")); }

  ScratchInstallation Inst = ScratchInstallation::Empty();
};

// Readers 1 and 3, classes A and B, time permission, balance from TswW09.
TEST_F(Mgdnl60pTest, LayoutWithReadersOneAndThree) {
  AddBadge("4711");
  AddClass("4711", "A", "0");
  AddClass("4711", "B", "0");
  AddClass("4711", "Z", "1");
  AddReaders({1, 3});
  AddBalance("4711", "'-800'");
  RunResult r = Run(false, true);
  EXPECT_EQ(r.ExitCode, 0) << r.Stdout;
  const std::vector<std::string> log = Inst.StatementLog();
  EXPECT_EQ(PerBadgeQueries(log), (std::vector<std::string>{"balance", "time", "readers", "classes"}));
  EXPECT_NE(std::find(log.begin(), log.end(), ReaderQuery(3)), log.end());
  EXPECT_NE(r.Stdout.find(SummaryLine(1, 1)), std::string::npos) << r.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  const std::string head = "4711" + Blanks(9) + "20240301" + "11" + "   800-";
  EXPECT_EQ(records[0], head + Group("01", "A") + Group() + Group("03", "A"));
  EXPECT_EQ(records[1], head + Group("01", "B") + Group() + Group("03", "B"));
}

// Readers 1 to 3 carry the same class; readers 4 and 5 lie beyond the three
// groups and count as none.
TEST_F(Mgdnl60pTest, ReaderGroupsFollowTheTerminalsReaders) {
  struct Case {
    std::initializer_list<int> Readers;
    std::string Groups;
  };
  const Case cases[] = {
      {{1, 2, 3, 4}, Group("01", "A") + Group("02", "A") + Group("03", "A")},
      {{4, 5}, Blanks(15)},
      {{}, Blanks(15)},
  };
  for (const Case& c : cases) {
    Inst = ScratchInstallation::Empty();
    SetUp();
    AddBadge("R1");
    AddClass("R1", "A", "0");
    AddClass("R1", "B", "0");
    AddReaders(c.Readers);
    RunResult r = Run();
    EXPECT_EQ(r.ExitCode, 0);
    std::vector<std::string> records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].substr(21, 2), "01");
    EXPECT_EQ(records[0].substr(30), c.Groups);
    if (c.Groups == Blanks(15)) {
      EXPECT_EQ(records[0], records[1]);  // one record per class, all the same
    }
  }
}

// Time permission only: one record without reader data although the
// terminal has readers; neither permission: no record, named with /d.
TEST_F(Mgdnl60pTest, TimeOnlyAndNoPermission) {
  AddBadge("N1");
  AddBadge("TM");
  AddClass("TM", "Z", "1");
  AddReaders({1, 2, 3});
  RunResult quiet = Run();
  EXPECT_EQ(quiet.ExitCode, 0);
  EXPECT_EQ(quiet.Stdout.find("ohne Zeit-/Zutrittsberechtigung"), std::string::npos) << quiet.Stdout;
  EXPECT_NE(quiet.Stdout.find(SummaryLine(2, 1)), std::string::npos) << quiet.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], "TM" + Blanks(11) + "20240301" + "10" + Blanks(7) + Blanks(15));

  RunResult traced = Run(true);
  EXPECT_NE(traced.Stdout.find("Ausweis N1 ohne Zeit-/Zutrittsberechtigung auf Terminal T1\n"), std::string::npos)
      << traced.Stdout;
  EXPECT_EQ(traced.Stdout.find("Ausweis TM ohne"), std::string::npos);
}

// Balance rules: plus as a blank, empty column leaves position 30 blank, no
// row leaves 24-30 blank, and a line feed in the value is kept in place.
TEST_F(Mgdnl60pTest, BalanceValueRules) {
  const char* values[][2] = {
      {"B1", "'+800'"},
      {"B2", "''"},
      {"B3", nullptr},  // no balance row
      {"B4", "'-1' || char(10) || '2'"},
      {"B5", "'-1234567'"},
  };
  for (auto& v : values) {
    AddBadge(v[0]);
    AddClass(v[0], "Z", "1");
    if (v[1] != nullptr) AddBalance(v[0], v[1]);
  }
  RunResult r = Run(true);
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Stdout.find("Saldo"), std::string::npos) << r.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 5u);
  const char* balances[] = {"   800 ", "       ", "       ", "   1\n2-", "123456-"};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(records[i].substr(23, 7), balances[i]) << i;
    EXPECT_EQ(records[i].substr(30), Blanks(15)) << i;
  }
}

TEST_F(Mgdnl60pTest, FailingBalanceLookupLeavesBlanks) {
  AddBadge("F1");
  AddClass("F1", "Z", "1");
  Inst.Exec("DROP TABLE O2002TSW");
  RunResult r = Run(true);
  EXPECT_EQ(r.ExitCode, 0);
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], "F1" + Blanks(11) + "20240301" + "10" + Blanks(22));
}

// No duplicate test: a badge delivered twice is counted and written twice.
// Through the terminal's clients a badge without valid-from date is valid.
TEST_F(Mgdnl60pTest, BadgeDeliveredTwiceAndMissingDate) {
  Inst.Exec(
      "INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd) VALUES ('T1', 1, 2);"
      "INSERT INTO Xel301Asw (AswNum, AswLiz, AswMnd, AswGvo, AswGbi) VALUES ('N1', 1, 2, NULL, '29991231');"
      "INSERT INTO Xel113Awv (AwvNum) VALUES ('N1'), ('N1')");
  AddClass("N1", "Z", "1");
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find(SummaryLine(2, 2)), std::string::npos) << r.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], records[1]);
  EXPECT_EQ(records[0].substr(0, 23), "N1" + Blanks(11) + "00000000" + "10");
}

TEST_F(Mgdnl60pTest, EmptyCursorWritesNothing) {
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find(SummaryLine(0, 0)), std::string::npos) << r.Stdout;
  EXPECT_EQ(Inst.ReadFile("out.dnl"), "");
}

// Fourteen characters of badge number would run into the date, four of
// class into the next reader number: left out with a message.
TEST_F(Mgdnl60pTest, OverlongBadgeNumberAndClassAreLeftOut) {
  AddBadge("12345678901234");  // time permission only: left out as well
  AddClass("12345678901234", "Z", "1");
  AddBadge("1234567890123");
  AddClass("1234567890123", "Z", "1");
  AddBadge("K1");
  AddClass("K1", "ABCD", "0");
  AddClass("K1", "B", "0");
  AddBadge("K2");
  AddClass("K2", "WXYZ", "0");
  AddReaders({1});
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find("Ausweis 12345678901234 passt nicht in die Datei MGDNL60P (Ausweisnummer laenger als 13 "
                          "Zeichen) und wird ausgelassen!\n"),
            std::string::npos)
      << r.Stdout;
  EXPECT_NE(r.Stdout.find("Zutrittsklasse ABCD von Ausweis K1 passt nicht in die Datei MGDNL60P und wird "
                          "ausgelassen!\n"),
            std::string::npos)
      << r.Stdout;
  EXPECT_NE(r.Stdout.find("Zutrittsklasse WXYZ von Ausweis K2 passt"), std::string::npos) << r.Stdout;
  EXPECT_NE(r.Stdout.find(SummaryLine(4, 2)), std::string::npos) << r.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].substr(0, 23), "1234567890123" "20240301" "10");
  EXPECT_EQ(records[1], "K1" + Blanks(11) + "20240301" + "01" + Blanks(7) + Group("01", "B") + Blanks(10));
}

// The badge cursor fails: at the open when the driver reads whole results,
// at the bad row with StepAPI, after the badges before it were written.
TEST(Mgdnl60pCursor, FailingBadgeCursorEndsTheRunWithError) {
  for (bool stepApi : {false, true}) {
    SCOPED_TRACE(stepApi ? "StepAPI=1" : "StepAPI=0");
    ScratchInstallation inst = ScratchInstallation::Empty(stepApi);
    inst.Exec(
        "INSERT INTO Xel1140Trm (TrmNam) VALUES ('T1');"
        "INSERT INTO Xel301Asw (AswNum, AswGvo) VALUES ('1', '20200101'), ('2', '2020-13-01');"
        "INSERT INTO Xel113Awv (AwvNum) VALUES ('1'), ('2');"
        "INSERT INTO MGSST35P (M35Trm, M35Bkl, M35Bch) VALUES ('T1', 'Z', '1');"
        "INSERT INTO Xel301Awb (AwbAsw, AwbBkl) VALUES ('1', 'Z'), ('2', 'Z')");
    RunResult r = inst.Run({"MGDNL60P", "T1", inst.Root + "/out.dnl", "1"});
    EXPECT_EQ(r.ExitCode, 255);
    const int written = stepApi ? 1 : 0;
    EXPECT_NE(r.Stdout.find(SummaryLine(written, written) +
                            "Programmabbruch: Fehler bei Erstellung der Datei MGDNL60P!\n"),
              std::string::npos)
        << r.Stdout;
    EXPECT_EQ(r.Stdout.find("FehlerCode"), std::string::npos);
    EXPECT_EQ(inst.ReadFile("out.dnl").size(), written * RecordLength);
  }
}

}  // namespace
