// The MGDNL17P access file, written by the whole tool against a scratch
// installation: 85-character records, back to back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "installation.h"

namespace {

constexpr size_t RecordLength = 85;

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

// One reader group: two characters of reader number, three of class or
// location text.
std::string Group(const std::string& reader = "  ", const std::string& text = "   ") {
  return reader + text + Blanks(3 - text.size());
}
std::string NoGroups(int n) { return Blanks(5 * static_cast<size_t>(n)); }

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
class Mgdnl17pTest : public ::testing::Test {
 protected:
  void SetUp() override { Inst.Exec("INSERT INTO Xel1140Trm (TrmNam, TrmMod, TrmSal) VALUES ('T1', 'M1', 'S1')"); }

  // A badge valid since 1 March 2024 with its location assignment.
  void AddBadge(const std::string& number, const std::string& location = "", const std::string& from = "'20240301'") {
    Inst.Exec("INSERT INTO Xel301Asw (AswNum, AswGvo, AswPnr) VALUES ('" + number + "', " + from + ", 'P" + number +
              "');INSERT INTO Xel113Awv (AwvNum, AwvSto) VALUES ('" + number + "', '" + location + "')");
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
  RunResult Run(bool debug = false, bool sqlLog = false) {
    std::vector<std::string> args = {"MGDNL17P", "T1", Inst.Root + "/out.dnl", "1"};
    if (debug) args.push_back("/d");
    return Inst.Run(args, sqlLog);
  }
  std::vector<std::string> Records() { return CutRecords(Inst.ReadFile("out.dnl")); }

  ScratchInstallation Inst = ScratchInstallation::Empty();
};

// Classes A and B on readers 1, 2, 7, 9, 11 and 12: one record per class.
TEST_F(Mgdnl17pTest, OneRecordPerClassWithReaderGroupsAndLocation) {
  AddBadge("4711", "00000012");
  Inst.Exec(
      "INSERT INTO Xel113Sto (StoNum, StoKtx) VALUES ('00000012', 'LOCATION');"
      "INSERT INTO O2002TSW (TswIdn, TswW02, TswW09) VALUES ('4711', '-123', '+999')");
  AddClass("4711", "A", "0");
  AddClass("4711", "B", "0");
  AddClass("4711", "Z", "1");
  AddReaders({1, 2, 7, 9, 11, 12});
  RunResult r = Run(false, true);
  EXPECT_EQ(r.ExitCode, 0) << r.Stdout;
  EXPECT_NE(r.Stdout.find(SummaryLine(1, 1)), std::string::npos) << r.Stdout;
  const std::vector<std::string> log = Inst.StatementLog();
  EXPECT_EQ(PerBadgeQueries(log), (std::vector<std::string>{"balance", "time", "readers", "classes", "location"}));
  EXPECT_NE(std::find(log.begin(), log.end(), ReaderQuery(11)), log.end());

  auto expected = [](const std::string& cls) {
    return "4711" + Blanks(9) + "20240301" + "11" + "   123-" + Group("01", cls) + Group("02", cls) + NoGroups(4) +
           Group("07", "LOC") + Group() + Group("09") + Group() + Group("11");
  };
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], expected("A"));
  EXPECT_EQ(records[1], expected("B"));
}

// Time permission only: flags 1 and 0, no reader numbers although the
// terminal has readers, and "07" with the location text although it has no
// reader 7. Without a balance row the balance positions stay blank.
TEST_F(Mgdnl17pTest, TimePermissionOnlyGivesOneRecordWithLocationButNoReaders) {
  AddBadge("100", "L1");
  Inst.Exec("INSERT INTO Xel113Sto (StoNum, StoKtx) VALUES ('L1', 'AB   ')");
  AddClass("100", "Z", "1");
  AddReaders({1, 2});
  RunResult r = Run(true);
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find("Saldo Ermitteln. Pnr: P100 SQLCode:100\n"), std::string::npos) << r.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], "100" + Blanks(10) + "20240301" + "10" + Blanks(7) + NoGroups(6) + Group("07", "AB") +
                            NoGroups(4));
}

// Access classes but no time permission: flags 0 and 1; a class stored
// padded to five characters counts as its letter and leaves the next
// group's reader number alone.
TEST_F(Mgdnl17pTest, AccessOnlyWithPaddedClassAndNoLocation) {
  AddBadge("200");
  AddClass("200", "C    ", "0");
  AddReaders({1, 2});
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], "200" + Blanks(10) + "20240301" + "01" + Blanks(7) + Group("01", "C") + Group("02", "C") +
                            NoGroups(9));
}

TEST_F(Mgdnl17pTest, BalanceSignAndCutRules) {
  const char* values[][2] = {
      {"B1", "'+123'"},       // plus: blank after the value
      {"B2", "'-1234567'"},   // seventh digit dropped
      {"B3", "'- 42'"},       // leading blank skipped
      {"B4", "''"},           // empty column: six blanks, position 30 blank too
      {"B5", "'-12       '"}, // value keeps trailing blanks, cut at six
  };
  for (auto& v : values) {
    AddBadge(v[0]);
    AddClass(v[0], "Z", "1");
    Inst.Exec(std::string("INSERT INTO O2002TSW (TswIdn, TswW02) VALUES ('") + v[0] + "', " + v[1] + ")");
  }
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 5u);
  const char* balances[] = {"   123 ", "123456-", "    42-", "       ", "12    -"};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(records[i].substr(23, 7), balances[i]) << records[i];
    EXPECT_EQ(records[i].substr(30), NoGroups(11)) << records[i];
  }
}

// Rows of one badge that follow each other count once; a badge without
// either permission and a badge with an empty number are left out.
TEST_F(Mgdnl17pTest, DuplicatesSkippedAndBadgesWithoutPermissionCountedOnly) {
  AddBadge("");  // like a duplicate of the empty start value
  AddClass("", "Z", "1");
  AddBadge("D1");
  Inst.Exec("INSERT INTO Xel113Awv (AwvNum, AwvSto) VALUES ('D1', 'SECOND')");
  AddClass("D1", "Z", "1");
  AddBadge("D2");
  AddBadge("D3");
  AddClass("D3", "Z", "1");

  RunResult quiet = Run();
  EXPECT_EQ(quiet.ExitCode, 0);
  EXPECT_EQ(quiet.Stdout.find("ohne Zeit-/Zutrittsberechtigung"), std::string::npos) << quiet.Stdout;
  EXPECT_NE(quiet.Stdout.find(SummaryLine(3, 2)), std::string::npos) << quiet.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].substr(0, 13), "D1" + Blanks(11));
  EXPECT_EQ(records[1].substr(0, 13), "D3" + Blanks(11));

  RunResult traced = Run(true);
  EXPECT_NE(traced.Stdout.find("Ausweis D2 ohne Zeit-/Zutrittsberechtigung auf Terminal T1\n"), std::string::npos)
      << traced.Stdout;
  EXPECT_EQ(traced.Stdout.find("Ausweis D1 ohne"), std::string::npos);
  EXPECT_NE(traced.Stdout.find(SummaryLine(3, 2)), std::string::npos);
  EXPECT_EQ(Inst.ReadFile("out.dnl").size(), 2 * RecordLength);
}

// Through the terminal's clients a badge without valid-from date is valid.
TEST_F(Mgdnl17pTest, MissingValidFromDateGivesZeros) {
  Inst.Exec(
      "INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd) VALUES ('T1', 1, 2);"
      "INSERT INTO Xel301Asw (AswNum, AswLiz, AswMnd, AswGvo, AswGbi) VALUES ('N1', 1, 2, NULL, '29991231');"
      "INSERT INTO Xel113Awv (AwvNum) VALUES ('N1')");
  AddClass("N1", "Z", "1");
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].substr(0, 23), "N1" + Blanks(11) + "00000000" + "10");
}

TEST_F(Mgdnl17pTest, EmptyCursorWritesNothing) {
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find(SummaryLine(0, 0)), std::string::npos) << r.Stdout;
  EXPECT_EQ(Inst.ReadFile("out.dnl"), "");
}

// Failing location and balance lookups: the location message prints always,
// the balance message only with /d, and the badge is written all the same.
TEST_F(Mgdnl17pTest, FailingLocationAndBalanceLookupsStillWrite) {
  AddBadge("F1", "L1");
  AddClass("F1", "Z", "1");
  Inst.Exec("DROP TABLE Xel113Sto; DROP TABLE O2002TSW");
  RunResult quiet = Run();
  EXPECT_EQ(quiet.ExitCode, 0);
  EXPECT_NE(quiet.Stdout.find("SQL Standortbez. Ermitteln. SQLCode:-1\n"), std::string::npos) << quiet.Stdout;
  EXPECT_EQ(quiet.Stdout.find("Saldo Ermitteln"), std::string::npos) << quiet.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], "F1" + Blanks(11) + "20240301" + "10" + Blanks(7) + NoGroups(11));

  RunResult traced = Run(true);
  EXPECT_NE(traced.Stdout.find("Saldo Ermitteln. Pnr: PF1 SQLCode:-1\n"), std::string::npos) << traced.Stdout;
  EXPECT_NE(traced.Stdout.find("SQL Standortbez. Ermitteln. SQLCode:-1\n"), std::string::npos);
}

// A badge number of 14 characters would run into the date: the badge is
// left out with a message. Thirteen characters fill the column exactly. A
// class of four characters would run into the next reader number: that
// class's record is left out.
TEST_F(Mgdnl17pTest, OverlongBadgeNumberAndClassAreLeftOut) {
  AddBadge("12345678901234");
  AddClass("12345678901234", "Z", "1");
  AddBadge("1234567890123");
  AddClass("1234567890123", "Z", "1");
  AddBadge("K1");
  AddClass("K1", "A", "0");
  AddClass("K1", "ABCD", "0");
  AddBadge("K2");
  AddClass("K2", "WXYZ", "0");
  AddReaders({1, 2});
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find("Ausweis 12345678901234 passt nicht in die Datei MGDNL17P (Ausweisnummer laenger als 13 "
                          "Zeichen) und wird ausgelassen!\n"),
            std::string::npos)
      << r.Stdout;
  EXPECT_NE(r.Stdout.find("Zutrittsklasse ABCD von Ausweis K1 passt nicht in die Datei MGDNL17P und wird "
                          "ausgelassen!\n"),
            std::string::npos)
      << r.Stdout;
  EXPECT_NE(r.Stdout.find("Zutrittsklasse WXYZ von Ausweis K2 passt"), std::string::npos) << r.Stdout;
  EXPECT_NE(r.Stdout.find(SummaryLine(4, 2)), std::string::npos) << r.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].substr(0, 23), "123456789012320240301" "10");
  EXPECT_EQ(records[1].substr(0, 23), "K1" + Blanks(11) + "20240301" + "01");
  EXPECT_EQ(records[1].substr(30), Group("01", "A") + Group("02", "A") + NoGroups(9));
}

// A line feed inside a value is written as it is: the record keeps its 85
// characters.
TEST_F(Mgdnl17pTest, LineFeedInsideValueKeepsRecordLength) {
  AddBadge("LF", "L1");
  Inst.Exec("INSERT INTO Xel113Sto (StoNum, StoKtx) VALUES ('L1', 'A' || char(10) || 'B')");
  AddClass("LF", "Z", "1");
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  const std::string file = Inst.ReadFile("out.dnl");
  ASSERT_EQ(file.size(), RecordLength);
  EXPECT_EQ(file.substr(60, 5), "07A\nB");
}

// The badge cursor fails: at the open when the driver reads whole results,
// at the bad row with StepAPI, after the badges before it were written.
TEST(Mgdnl17pCursor, FailingBadgeCursorEndsWithErrorCode) {
  for (bool stepApi : {false, true}) {
    SCOPED_TRACE(stepApi ? "StepAPI=1" : "StepAPI=0");
    ScratchInstallation inst = ScratchInstallation::Empty(stepApi);
    inst.Exec(
        "INSERT INTO Xel1140Trm (TrmNam) VALUES ('T1');"
        "INSERT INTO Xel301Asw (AswNum, AswGvo) VALUES ('1', '20200101'), ('2', '2020-13-01');"
        "INSERT INTO Xel113Awv (AwvNum) VALUES ('1'), ('2');"
        "INSERT INTO MGSST35P (M35Trm, M35Bkl, M35Bch) VALUES ('T1', 'Z', '1');"
        "INSERT INTO Xel301Awb (AwbAsw, AwbBkl) VALUES ('1', 'Z'), ('2', 'Z')");
    RunResult r = inst.Run({"MGDNL17P", "T1", inst.Root + "/out.dnl", "1"});
    EXPECT_EQ(r.ExitCode, 255);
    const int written = stepApi ? 1 : 0;
    EXPECT_NE(r.Stdout.find(SummaryLine(written, written) +
                            "FehlerCode EndWorkMgDnl17P: -1\n"
                            "Programmabbruch: Fehler bei Erstellung der Datei MGDNL17P!\n"),
              std::string::npos)
        << r.Stdout;
    EXPECT_EQ(inst.ReadFile("out.dnl").size(), written * RecordLength);
  }
}

}  // namespace
