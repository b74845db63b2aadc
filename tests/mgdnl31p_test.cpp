// The MGDNL31P access class file, written by the whole tool against a
// scratch installation: 48-character records, back to back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installation.h"
#include "writer_checks.h"

namespace {

constexpr size_t RecordLength = 48;

// Terminal T1 without client rows; see WriterFileTest.
class Mgdnl31pTest : public WriterFileTest {
 protected:
  Mgdnl31pTest() : WriterFileTest("MGDNL31P", RecordLength) {}
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
  ExpectQuietRun(Run(), "Zutrittsberechtigung", 2, 1);
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].substr(0, 13), "W1" + Blanks(11));

  ExpectRefusal(Run(true), "Zutrittsberechtigung", "T9", "W1");
}

// No duplicate test: a badge delivered twice is counted and written twice.
TEST_F(Mgdnl31pTest, BadgeDeliveredTwiceIsWrittenTwice) {
  AddBadge("D1", "L1");
  Inst.Exec("INSERT INTO Xel113Awv (AwvNum, AwvSto) VALUES ('D1', 'L1')");
  AddLocation("L1", "'XY'");
  AddClass("D1", "A", "0");
  std::string record;
  ASSERT_NO_FATAL_FAILURE(RunOverBadgeDeliveredTwice(&record));
  EXPECT_EQ(record.substr(42), "A  XY ");
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

// A failing location lookup ends the run: the record would lack its
// location text.
TEST_F(Mgdnl31pTest, FailingLocationLookupEndsTheRun) {
  AddBadge("F1", "L1");
  AddClass("F1", "A", "0");
  Inst.Exec("DROP TABLE Xel113Sto");
  RunResult r = Run(true);
  EXPECT_EQ(r.ExitCode, 255);
  EXPECT_NE(r.Stdout.find("Datenbankfehler bei Ortsabfrage fuer Ausweis F1 auf Terminal "), std::string::npos)
      << r.Stdout;
  EXPECT_NE(r.Stdout.find("Programmabbruch: Fehler bei Erstellung der Datei MGDNL31P!\n"), std::string::npos);
}

// Through the terminal's clients a badge without valid-from date is valid.
TEST_F(Mgdnl31pTest, MissingDatesGiveZeros) {
  AddClientBadgeWithoutValidFrom("N1");
  AddClass("N1", "A", "0");
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].substr(13, 16), "00000000" "29991231");
}

// Fourteen characters of badge number would run into the date, four of
// class into the location text: left out with a message naming the badge.
TEST_F(Mgdnl31pTest, OverlongBadgeNumberAndClassAreLeftOut) {
  AddOverlongBadges("A", "0", {"ABCD", "B"});
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  ExpectOverlongMessages(r.Stdout, "MGDNL31P");
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].substr(0, 21), "1234567890123" "20240301");
  EXPECT_EQ(records[1].substr(0, 13), "K1" + Blanks(11));
  EXPECT_EQ(records[1].substr(42, 3), "B  ");
}

}  // namespace
