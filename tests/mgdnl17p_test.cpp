// The MGDNL17P access file, written by the whole tool against a scratch
// installation: 85-character records, back to back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "fault_checks.h"
#include "installation.h"
#include "writer_checks.h"

namespace {

constexpr size_t RecordLength = 85;

std::string NoGroups(int n) { return Blanks(5 * static_cast<size_t>(n)); }

// Terminal T1 without client rows; see WriterFileTest.
class Mgdnl17pTest : public WriterFileTest {
 protected:
  Mgdnl17pTest() : WriterFileTest("MGDNL17P", RecordLength) {}
};

// Classes A and B on readers 1, 2, 7, 9, 11 and 12: one record per class.
TEST_F(Mgdnl17pTest, OneRecordPerClassWithReaderGroupsAndLocation) {
  AddBadge("4711", "00000012");
  AddLocation("00000012", "'LOCATION'");
  Inst.Exec("INSERT INTO O2002TSW (TswIdn, TswW02, TswW09) VALUES ('4711', '-123', '+999')");
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
    return "4711" + Blanks(9) + "20240301" + "11" + "   123-" + ReaderGroup("01", cls) + ReaderGroup("02", cls) +
           NoGroups(4) + ReaderGroup("07", "LOC") + ReaderGroup() + ReaderGroup("09") + ReaderGroup() +
           ReaderGroup("11");
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
  AddLocation("L1", "'AB   '");
  AddClass("100", "Z", "1");
  AddReaders({1, 2});
  RunResult r = Run(true);
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find("Saldo Ermitteln. Pnr: P100 SQLCode:100\n"), std::string::npos) << r.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], "100" + Blanks(10) + "20240301" + "10" + Blanks(7) + NoGroups(6) + ReaderGroup("07", "AB") +
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
  EXPECT_EQ(records[0], "200" + Blanks(10) + "20240301" + "01" + Blanks(7) + ReaderGroup("01", "C") +
                            ReaderGroup("02", "C") + NoGroups(9));
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

  ExpectQuietRun(Run(), "Zeit-/Zutrittsberechtigung", 3, 2);
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].substr(0, 13), "D1" + Blanks(11));
  EXPECT_EQ(records[1].substr(0, 13), "D3" + Blanks(11));

  RunResult traced = Run(true);
  ExpectRefusal(traced, "Zeit-/Zutrittsberechtigung", "D2", "D1");
  EXPECT_NE(traced.Stdout.find(SummaryLine(3, 2)), std::string::npos);
  EXPECT_EQ(Inst.ReadFile("out.dnl").size(), 2 * RecordLength);
}

// Through the terminal's clients a badge without valid-from date is valid.
TEST_F(Mgdnl17pTest, MissingValidFromDateGivesZeros) {
  AddClientBadgeWithoutValidFrom("N1");
  AddClass("N1", "Z", "1");
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].substr(0, 23), "N1" + Blanks(11) + "00000000" + "10");
}

// A failing location or balance lookup ends the run at its badge, with one
// line that names the query, the badge and the driver's diagnostics, with
// or without /d.
TEST_F(Mgdnl17pTest, FailingLocationOrBalanceLookupEndsTheRun) {
  AddBadge("F1", "L1");
  AddClass("F1", "Z", "1");
  for (const auto& failing : {std::make_pair("Xel113Sto", "Ortsabfrage"), std::make_pair("O2002TSW", "Saldenabfrage")}) {
    SCOPED_TRACE(failing.first);
    Inst.Exec(std::string("ALTER TABLE ") + failing.first + " RENAME TO Gone");
    for (bool traced : {false, true}) {
      RunResult r = Run(traced);
      EXPECT_EQ(r.ExitCode, 255);
      EXPECT_NE(r.Stdout.find(std::string("Datenbankfehler bei ") + failing.second + " fuer Ausweis F1 auf Terminal "),
                std::string::npos)
          << r.Stdout;
      EXPECT_NE(r.Stdout.find(std::string("no such table: ")), std::string::npos) << r.Stdout;
    }
    Inst.Exec(std::string("ALTER TABLE Gone RENAME TO ") + failing.first);
  }
}

// A badge number of 14 characters would run into the date: the badge is
// left out with a message. Thirteen characters fill the column exactly. A
// class of four characters would run into the next reader number: that
// class's record is left out.
TEST_F(Mgdnl17pTest, OverlongBadgeNumberAndClassAreLeftOut) {
  AddOverlongBadges("Z", "1", {"A", "ABCD"});
  AddReaders({1, 2});
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  ExpectOverlongMessages(r.Stdout, "MGDNL17P");
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].substr(0, 23), "123456789012320240301" "10");
  EXPECT_EQ(records[1].substr(0, 23), "K1" + Blanks(11) + "20240301" + "01");
  EXPECT_EQ(records[1].substr(30), ReaderGroup("01", "A") + ReaderGroup("02", "A") + NoGroups(9));
}

// A line feed inside a value is written as it is: the record keeps its 85
// characters.
TEST_F(Mgdnl17pTest, LineFeedInsideValueKeepsRecordLength) {
  AddBadge("LF", "L1");
  AddLocation("L1", "'A' || char(10) || 'B'");
  AddClass("LF", "Z", "1");
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  const std::string file = Inst.ReadFile("out.dnl");
  ASSERT_EQ(file.size(), RecordLength);
  EXPECT_EQ(file.substr(60, 5), "07A\nB");
}

// The terminal's reader rows are read once per run, at its first badge:
// readers taken out of service while the run is under way still fill the
// reader groups of every later badge. (The SQLite driver without StepAPI
// reads each result whole at its execution, so the database can be changed
// between two statements of the run: the per-badge queries after the change
// see it.) A run after the change leaves the reader groups blank. Twelve
// more access classes for every badge make the file far larger than what
// the pipe and the tool's stream buffer hold when the run is stopped.
TEST(Mgdnl17pReaderRows, ASnapshotTakenAtTheFirstBadge) {
  ScratchInstallation inst = ScratchInstallation::Generated(600, 3);
  inst.Exec("WITH RECURSIVE n(k) AS (SELECT 10 UNION ALL SELECT k + 1 FROM n WHERE k < 21) "
            "INSERT INTO MGSST35P (M35Trm, M35Bkl, M35Bch) SELECT 'TERM02', 'X' || k, '0' FROM n;"
            "INSERT INTO Xel301Awb (AwbAsw, AwbBkl) SELECT AswNum, M35Bkl FROM Xel301Asw, MGSST35P "
            "WHERE M35Trm = 'TERM02' AND M35Bkl LIKE 'X%'");
  const RunResult before = inst.Run({"MGDNL17P", "TERM02", inst.Root + "/before.dnl", "1"});
  ASSERT_EQ(before.ExitCode, 0) << before.Stdout;
  const std::string full = inst.ReadFile("before.dnl");
  ASSERT_GT(full.size(), 4u * 131072u);

  FifoRun run(inst, "MGDNL17P", "TERM02");
  ASSERT_TRUE(run.WaitBlockedInWrite(std::chrono::seconds(120)));
  inst.Exec("UPDATE Xel401Zls SET ZlsSta = 4 WHERE ZlsTrm = 'TERM02'");
  std::string file;
  const RunResult during = run.Finish(&file);
  EXPECT_EQ(during.ExitCode, 0) << during.Stdout;
  EXPECT_EQ(during.Stdout, before.Stdout);
  EXPECT_EQ(file, full);

  const RunResult after = inst.Run({"MGDNL17P", "TERM02", inst.Root + "/after.dnl", "1"});
  ASSERT_EQ(after.ExitCode, 0) << after.Stdout;
  const std::string changed = inst.ReadFile("after.dnl");
  ASSERT_EQ(changed.size(), full.size());
  // The last quarter of the file: badges the run above reached after the
  // change (it had written at least a pipe's worth when it was changed).
  const size_t tail = full.size() - full.size() / 4 / RecordLength * RecordLength;
  EXPECT_NE(changed.substr(tail), full.substr(tail));
}

}  // namespace
