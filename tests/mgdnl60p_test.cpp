// The MGDNL60P reader file, written by the whole tool against a scratch
// installation: 45-character records, back to back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "installation.h"
#include "writer_checks.h"

namespace {

constexpr size_t RecordLength = 45;

// Terminal T1 without client rows; see WriterFileTest.
class Mgdnl60pTest : public WriterFileTest {
 protected:
  Mgdnl60pTest() : WriterFileTest("MGDNL60P", RecordLength) {}

  void AddBalance(const std::string& number, const std::string& w09) {
    Inst.Exec("INSERT INTO O2002TSW (TswIdn, TswW02, TswW09) VALUES ('" + number + "', '-222', " + w09 + ")");
  }
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
  EXPECT_EQ(records[0], head + ReaderGroup("01", "A") + ReaderGroup() + ReaderGroup("03", "A"));
  EXPECT_EQ(records[1], head + ReaderGroup("01", "B") + ReaderGroup() + ReaderGroup("03", "B"));
}

// Readers 1 to 3 carry the same class; readers 4 and 5 lie beyond the three
// groups and count as none.
TEST_F(Mgdnl60pTest, ReaderGroupsFollowTheTerminalsReaders) {
  struct Case {
    std::initializer_list<int> Readers;
    std::string Groups;
  };
  const Case cases[] = {
      {{1, 2, 3, 4}, ReaderGroup("01", "A") + ReaderGroup("02", "A") + ReaderGroup("03", "A")},
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
  ExpectQuietRun(Run(), "Zeit-/Zutrittsberechtigung", 2, 1);
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], "TM" + Blanks(11) + "20240301" + "10" + Blanks(7) + Blanks(15));

  ExpectRefusal(Run(true), "Zeit-/Zutrittsberechtigung", "N1", "TM");
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

// A balance lookup that fails ends the run at that badge: a record without
// the balance would be a wrong one.
TEST_F(Mgdnl60pTest, FailingBalanceLookupEndsTheRun) {
  AddBadge("F1");
  AddClass("F1", "Z", "1");
  Inst.Exec("DROP TABLE O2002TSW");
  RunResult r = Run(true);
  EXPECT_EQ(r.ExitCode, 255);
  EXPECT_NE(r.Stdout.find("Datenbankfehler bei Saldenabfrage fuer Ausweis F1 auf Terminal "), std::string::npos)
      << r.Stdout;
  EXPECT_NE(r.Stdout.find("Programmabbruch: Fehler bei Erstellung der Datei MGDNL60P!\n"), std::string::npos);
}

// No duplicate test: a badge delivered twice is counted and written twice.
// Through the terminal's clients a badge without valid-from date is valid.
TEST_F(Mgdnl60pTest, BadgeDeliveredTwiceAndMissingDate) {
  AddClientBadgeWithoutValidFrom("N1", 2);
  AddClass("N1", "Z", "1");
  std::string record;
  ASSERT_NO_FATAL_FAILURE(RunOverBadgeDeliveredTwice(&record));
  EXPECT_EQ(record.substr(0, 23), "N1" + Blanks(11) + "00000000" + "10");
}

// Fourteen characters of badge number would run into the date, four of
// class into the next reader number: left out with a message.
TEST_F(Mgdnl60pTest, OverlongBadgeNumberAndClassAreLeftOut) {
  AddOverlongBadges("Z", "1", {"ABCD", "B"});  // the long badge has time permission only: left out as well
  AddReaders({1});
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  ExpectOverlongMessages(r.Stdout, "MGDNL60P");
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].substr(0, 23), "1234567890123" "20240301" "10");
  EXPECT_EQ(records[1], "K1" + Blanks(11) + "20240301" + "01" + Blanks(7) + ReaderGroup("01", "B") + Blanks(10));
}

}  // namespace
