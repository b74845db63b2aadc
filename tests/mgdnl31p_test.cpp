// The MGDNL31P access class file, written by the whole tool against a
// scratch installation: 48-character records, back to back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installation.h"

namespace {

constexpr size_t RecordLength = 48;

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


// Terminal T1 without client rows: the tool then reads all badges valid today.
class Mgdnl31pTest : public ::testing::Test {
 protected:
  void SetUp() override { Inst.Exec("INSERT INTO Xel1140Trm (TrmNam, TrmMod, TrmSal) VALUES ('T1', 'M1', 'S1')"); }

  // A badge valid since 1 March 2024 with its location assignment.
  void AddBadge(const std::string& number, const std::string& location = "", const std::string& until = "NULL") {
    Inst.Exec("INSERT INTO Xel301Asw (AswNum, AswGvo, AswGbi) VALUES ('" + number + "', '20240301', " + until +
              ");INSERT INTO Xel113Awv (AwvNum, AwvSto) VALUES ('" + number + "', '" + location + "')");
  }
  void AddLocation(const std::string& location, const std::string& text) {
    Inst.Exec("INSERT INTO Xel113Sto (StoNum, StoKtx) VALUES ('" + location + "', " + text + ")");
  }
  // Class of a badge that T1 accepts; kind '1' time booking, '0' access.
  void AddClass(const std::string& number, const std::string& cls, const char* kind) {
    Inst.Exec("INSERT INTO MGSST35P (M35Trm, M35Bkl, M35Bch) VALUES ('T1', '" + cls + "', '" + kind +
              "');INSERT INTO Xel301Awb (AwbAsw, AwbBkl) VALUES ('" + number + "', '" + cls + "')");
  }
  RunResult Run(bool debug = false, bool sqlLog = false) {
    std::vector<std::string> args = {"MGDNL31P", "T1", Inst.Root + "/out.dnl", "1"};
    if (debug) args.push_back("/d");
    return Inst.Run(args, sqlLog);
  }
  std::vector<std::string> Records() { return CutRecords(Inst.ReadFile("out.dnl")); }

  ScratchInstallation Inst = ScratchInstallation::Empty();
};

// Badge 4711 valid from 1 March 2024 without end, location AB, class 5.
TEST_F(Mgdnl31pTest, LayoutPositionByPosition) {
  AddBadge("4711", "L1");
  AddLocation("L1", "'AB'");
  AddClass("4711", "5", "0");
  AddClass("4711", "Z", "1");
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0) << r.Stdout;
  EXPECT_NE(r.Stdout.find(SummaryLine(1, 1)), std::string::npos) << r.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], "4711" + Blanks(9) + "20240301" + "00000000" + "11" + "XXXX,XX-" + "001" + "5  " + "AB ");
}

// Two classes: two records that differ only in the class; without time
// permission position 30 is "0". Readers play no part here: the reader
// query is not even sent.
TEST_F(Mgdnl31pTest, OneRecordPerClassBackToBack) {
  AddBadge("C1", "L1", "'20991231'");
  AddLocation("L1", "'LOCATION'");
  AddClass("C1", "A", "0");
  AddClass("C1", "B", "0");
  Inst.Exec("INSERT INTO Xel401Zls (ZlsTrm, ZlsLes) VALUES ('T1', 1), ('T1', 2)");
  RunResult r = Run(false, true);
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find(SummaryLine(1, 1)), std::string::npos) << r.Stdout;
  const std::string file = Inst.ReadFile("out.dnl");
  const std::string head = "C1" + Blanks(11) + "20240301" + "20991231" + "01" + "XXXX,XX-001";
  EXPECT_EQ(file, head + "A  " + "LOC" + head + "B  " + "LOC");
  EXPECT_EQ(PerBadgeQueries(Inst.StatementLog()), (std::vector<std::string>{"time", "classes", "location"}));
}

// Time permission alone admits nothing; with /d the badge is named.
TEST_F(Mgdnl31pTest, BadgeWithoutAccessClassGetsNoRecord) {
  AddBadge("T9");
  AddClass("T9", "Z", "1");
  AddBadge("W1");
  AddClass("W1", "A", "0");
  RunResult quiet = Run();
  EXPECT_EQ(quiet.ExitCode, 0);
  EXPECT_EQ(quiet.Stdout.find("ohne Zutrittsberechtigung"), std::string::npos) << quiet.Stdout;
  EXPECT_NE(quiet.Stdout.find(SummaryLine(2, 1)), std::string::npos) << quiet.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].substr(0, 13), "W1" + Blanks(11));

  RunResult traced = Run(true);
  EXPECT_NE(traced.Stdout.find("Ausweis T9 ohne Zutrittsberechtigung auf Terminal T1\n"), std::string::npos)
      << traced.Stdout;
  EXPECT_EQ(traced.Stdout.find("Ausweis W1 ohne"), std::string::npos);
}

// No duplicate test: a badge delivered twice is counted and written twice.
TEST_F(Mgdnl31pTest, BadgeDeliveredTwiceIsWrittenTwice) {
  AddBadge("D1", "L1");
  Inst.Exec("INSERT INTO Xel113Awv (AwvNum, AwvSto) VALUES ('D1', 'L1')");
  AddLocation("L1", "'XY'");
  AddClass("D1", "A", "0");
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find(SummaryLine(2, 2)), std::string::npos) << r.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], records[1]);
  EXPECT_EQ(records[0].substr(42), "A  XY ");
}

// Location texts: blanks when not found or NULL, blanks and no message when
// the lookup fails; a line feed inside the text is kept and the record
// keeps its 48 characters.
TEST_F(Mgdnl31pTest, LocationNotFoundNullAndLineFeed) {
  AddBadge("L-NONE", "MISSING");
  AddBadge("L-NULL", "LN");
  AddLocation("LN", "NULL");
  AddBadge("L-LF", "LF");
  AddLocation("LF", "'A' || char(10) || 'B'");
  for (const char* b : {"L-NONE", "L-NULL", "L-LF"}) AddClass(b, "A", "0");
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].substr(0, 13), "L-LF" + Blanks(9));
  EXPECT_EQ(records[0].substr(45), "A\nB");
  EXPECT_EQ(records[1].substr(45), "   ");
  EXPECT_EQ(records[2].substr(45), "   ");
}

TEST_F(Mgdnl31pTest, FailingLocationLookupIsSilentAndTheBadgeWritten) {
  AddBadge("F1", "L1");
  AddClass("F1", "A", "0");
  Inst.Exec("DROP TABLE Xel113Sto");
  RunResult r = Run(true);
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Stdout.find("Standort"), std::string::npos) << r.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].substr(42), "A     ");
}

// Through the terminal's clients a badge without valid-from date is valid.
TEST_F(Mgdnl31pTest, MissingDatesGiveZeros) {
  Inst.Exec(
      "INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd) VALUES ('T1', 1, 2);"
      "INSERT INTO Xel301Asw (AswNum, AswLiz, AswMnd, AswGvo, AswGbi) VALUES ('N1', 1, 2, NULL, '29991231');"
      "INSERT INTO Xel113Awv (AwvNum) VALUES ('N1')");
  AddClass("N1", "A", "0");
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].substr(13, 16), "00000000" "29991231");
}

TEST_F(Mgdnl31pTest, EmptyCursorWritesNothing) {
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find(SummaryLine(0, 0)), std::string::npos) << r.Stdout;
  EXPECT_EQ(Inst.ReadFile("out.dnl"), "");
}

// Fourteen characters of badge number would run into the date, four of
// class into the location text: left out with a message naming the badge.
TEST_F(Mgdnl31pTest, OverlongBadgeNumberAndClassAreLeftOut) {
  AddBadge("12345678901234");
  AddClass("12345678901234", "A", "0");
  AddBadge("1234567890123");
  AddClass("1234567890123", "A", "0");
  AddBadge("K1");
  AddClass("K1", "ABCD", "0");
  AddClass("K1", "B", "0");
  AddBadge("K2");
  AddClass("K2", "WXYZ", "0");
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find("Ausweis 12345678901234 passt nicht in die Datei MGDNL31P (Ausweisnummer laenger als 13 "
                          "Zeichen) und wird ausgelassen!\n"),
            std::string::npos)
      << r.Stdout;
  EXPECT_NE(r.Stdout.find("Zutrittsklasse ABCD von Ausweis K1 passt nicht in die Datei MGDNL31P und wird "
                          "ausgelassen!\n"),
            std::string::npos)
      << r.Stdout;
  EXPECT_NE(r.Stdout.find("Zutrittsklasse WXYZ von Ausweis K2 passt"), std::string::npos) << r.Stdout;
  EXPECT_NE(r.Stdout.find(SummaryLine(4, 2)), std::string::npos) << r.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].substr(0, 21), "1234567890123" "20240301");
  EXPECT_EQ(records[1].substr(0, 13), "K1" + Blanks(11));
  EXPECT_EQ(records[1].substr(42, 3), "B  ");
}

// The badge cursor fails: at the open when the driver reads whole results,
// at the bad row with StepAPI, after the badges before it were written.
TEST(Mgdnl31pCursor, FailingBadgeCursorEndsTheRunWithError) {
  for (bool stepApi : {false, true}) {
    SCOPED_TRACE(stepApi ? "StepAPI=1" : "StepAPI=0");
    ScratchInstallation inst = ScratchInstallation::Empty(stepApi);
    inst.Exec(
        "INSERT INTO Xel1140Trm (TrmNam) VALUES ('T1');"
        "INSERT INTO Xel301Asw (AswNum, AswGvo) VALUES ('1', '20200101'), ('2', '2020-13-01');"
        "INSERT INTO Xel113Awv (AwvNum) VALUES ('1'), ('2');"
        "INSERT INTO MGSST35P (M35Trm, M35Bkl, M35Bch) VALUES ('T1', 'A', '0');"
        "INSERT INTO Xel301Awb (AwbAsw, AwbBkl) VALUES ('1', 'A'), ('2', 'A')");
    RunResult r = inst.Run({"MGDNL31P", "T1", inst.Root + "/out.dnl", "1"});
    EXPECT_EQ(r.ExitCode, 255);
    const int written = stepApi ? 1 : 0;
    EXPECT_NE(r.Stdout.find(SummaryLine(written, written) +
                            "Programmabbruch: Fehler bei Erstellung der Datei MGDNL31P!\n"),
              std::string::npos)
        << r.Stdout;
    EXPECT_EQ(r.Stdout.find("FehlerCode"), std::string::npos);
    EXPECT_EQ(inst.ReadFile("out.dnl").size(), written * RecordLength);
  }
}

}  // namespace
