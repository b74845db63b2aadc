// The badge cursor against the real data source, in this process: what a
// fetch puts into the BadgeRecord, the end of the walk and a failing query.
// Which badges the two queries select is tested through whole runs in
// badge_selection_test.cpp, where the terminal binding starts fresh.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "badge_rows.h"
#include "connected_installation.h"
#include "db/badges.h"
#include "db/records.h"
#include "db/session.h"
#include "installation.h"

namespace {

// A statement result as one comparable text: "Row 0", "NoRow 100",
// "Done 0", "Failed -1".
std::string ResultText(StatementResult r) {
  const char* names[] = {"Done", "Row", "NoRow", "Failed"};
  return std::string(names[static_cast<int>(r.Is)]) + " " + std::to_string(r.Code);
}

// ---------------------------------------------------------------------------
// Fetches in this process, on one installation (the driver manager keeps
// the data source set-up of the first connection). No terminal here has
// client rows, so the cursor stays on the all-badges query; each test reads
// the badges of its own number prefix.

class BadgeFetch : public ConnectedInstallationTest {
 protected:
  static TerminalRecord UnboundTerminal() {
    TerminalRecord t = ZeroedTerminal("T-ALL");
    t.TfzCount = 0;
    return t;
  }

  // Opens cursor, fetches to the end and closes it; the badges whose
  // number starts with prefix, and the last fetch result (as ResultText) in
  // `last`.
  static std::vector<BadgeRecord> FetchAll(BadgeCursor& cursor, const std::string& prefix,
                                           std::string* last = nullptr) {
    const TerminalRecord t = UnboundTerminal();
    EXPECT_EQ(ResultText(OpenBadgeCursor(cursor, &t)), "Done 0");
    std::vector<BadgeRecord> records;
    BadgeRecord record;
    for (;;) {
      std::memset(&record, 0, sizeof record);
      const StatementResult fetched = FetchBadge(cursor, &record);
      if (!fetched.IsRow()) {
        if (last != nullptr) *last = ResultText(fetched);
        break;
      }
      EXPECT_EQ(fetched.Code, 0);
      if (std::strncmp(record.AswNum, prefix.c_str(), prefix.size()) == 0) records.push_back(record);
    }
    CloseBadgeCursor(cursor);
    return records;
  }
};

TEST_F(BadgeFetch, ValuesAreTrimmedFormattedAndCutToTheirBuffers) {
  AddBadge(*Inst, "V1",
           "AswGbi = '20991231', AswPnr = '1234567890', AswBkl = '5  ', AswBk2 = ' X', AswGrp = 'G1 ', "
           "AswAan = 'Meier, Jo' || char(9) || ' ', AswAtp = -5, AswSal = 'SAL01  ', AswSpr = 2, AswPin = '0042  '",
           "'123 '");
  AddBadge(*Inst, "V2", "AswBkl = 'ABCDEFG', AswBk2 = 'AB ', AswSpr = -1, AswAtp = 2147483647", "'12345678'");
  AddBadge(*Inst, "V3", "AswBkl = '', AswBk2 = 'Y' || char(9)", "''");
  BadgeCursor cursor(*Db);
  std::vector<BadgeRecord> got = FetchAll(cursor, "V");
  ASSERT_EQ(got.size(), 3u);

  EXPECT_STREQ(got[0].AswNum, "V1");
  EXPECT_STREQ(got[0].AswGbi, "20991231");
  EXPECT_STREQ(got[0].AswPnr, "12345678");  // 9-byte buffer, row still counts
  EXPECT_STREQ(got[0].AswBkl, "5  ");
  EXPECT_STREQ(got[0].AswBk2, " X ");
  EXPECT_STREQ(got[0].AswGrp, "G1");
  EXPECT_STREQ(got[0].AswAan, "Meier, Jo");
  EXPECT_STREQ(got[0].AswAtp, "-5");
  EXPECT_STREQ(got[0].AwvSto, "00000123");
  EXPECT_STREQ(got[0].AswSal, "SAL01");
  EXPECT_STREQ(got[0].AswSpr, "2");
  EXPECT_STREQ(got[0].AswPin, "0042");

  EXPECT_STREQ(got[1].AswBkl, "ABCDE");  // cut to the buffer, never by "%-3s"
  EXPECT_STREQ(got[1].AswBk2, "AB ");
  EXPECT_STREQ(got[1].AswSpr, "-1");
  EXPECT_STREQ(got[1].AswAtp, "2147483647");
  EXPECT_STREQ(got[1].AwvSto, "12345678");

  EXPECT_STREQ(got[2].AswBkl, "   ");
  EXPECT_STREQ(got[2].AswBk2, "Y\t ");  // the second class is not trimmed
  EXPECT_STREQ(got[2].AwvSto, "00000000");
}

// A NULL column gives its default, also right after a badge that had a
// value there.
TEST_F(BadgeFetch, NullColumnsGiveTheirDefaultsAlsoAfterASetValue) {
  AddBadge(*Inst, "S1",
           "AswGbi = '20991231', AswPnr = 'P1', AswBkl = '7', AswBk2 = 'K2', AswGrp = 'G', AswAan = 'A', "
           "AswAtp = 9, AswSal = 'SAL', AswSpr = 3, AswPin = '11'",
           "'5'");
  AddBadge(*Inst, "S2");
  std::string last;
  BadgeCursor cursor(*Db);
  std::vector<BadgeRecord> got = FetchAll(cursor, "S", &last);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_STREQ(got[0].AswPnr, "P1");
  EXPECT_STREQ(got[0].AswSpr, "3");
  const BadgeRecord& b = got[1];
  EXPECT_STREQ(b.AswNum, "S2");
  EXPECT_STREQ(b.AswGvo, "20200101");
  EXPECT_STREQ(b.AswGbi, "");
  EXPECT_STREQ(b.AswPnr, "");
  EXPECT_STREQ(b.AswBkl, "   ");
  EXPECT_STREQ(b.AswBk2, "   ");
  EXPECT_STREQ(b.AswGrp, "");
  EXPECT_STREQ(b.AswAan, "");
  EXPECT_STREQ(b.AswAtp, "0");
  EXPECT_STREQ(b.AswSal, "");
  EXPECT_STREQ(b.AswSpr, "1");
  EXPECT_STREQ(b.AswPin, "");
  EXPECT_STREQ(b.AwvSto, "00000000");
  EXPECT_STREQ(b.StoKtx, "");  // not this query's field
  EXPECT_EQ(last, "NoRow 100");
  EXPECT_EQ(Db->SqlCode, 100);
}

TEST_F(BadgeFetch, DeliversInBadgeNumberOrderOncePerLocationRow) {
  AddBadge(*Inst, "O3");
  AddBadge(*Inst, "O1", "", "'1'");
  AddBadge(*Inst, "O2");
  Inst->Exec("INSERT INTO Xel113Awv (AwvNum, AwvSto) VALUES ('O1', '2')");
  std::string last;
  BadgeCursor cursor(*Db);
  std::vector<BadgeRecord> got = FetchAll(cursor, "O", &last);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_STREQ(got[0].AswNum, "O1");
  EXPECT_STREQ(got[1].AswNum, "O1");
  EXPECT_STREQ(got[2].AswNum, "O2");
  EXPECT_STREQ(got[3].AswNum, "O3");
  EXPECT_EQ(last, "NoRow 100");

  // A closed cursor delivers nothing.
  BadgeRecord record;
  std::memset(&record, 0, sizeof record);
  EXPECT_EQ(ResultText(FetchBadge(cursor, &record)), "Failed -1");
  EXPECT_EQ(Db->SqlCode, -1);
  EXPECT_STREQ(Db->LastFailure.Query, "Ausweisabfrage");
}

// An impossible date makes the query fail; this driver mode reads whole
// results at the execution, so the open fails with the native error.
TEST_F(BadgeFetch, QueryFailingAtExecutionLeavesNoCursor) {
  AddBadge(*Inst, "F1", "AswGvo = '2020-13-01'");
  const TerminalRecord t = UnboundTerminal();
  BadgeCursor cursor(*Db);
  const StatementResult opened = OpenBadgeCursor(cursor, &t);
  Inst->Exec("DELETE FROM Xel301Asw WHERE AswNum = 'F1'");
  EXPECT_TRUE(opened.Failed()) << ResultText(opened);
  EXPECT_NE(opened.Code, 0);
  EXPECT_EQ(opened.Code, Db->LastFailure.Records[0].NativeError);
  EXPECT_STREQ(Db->LastFailure.Query, "Ausweisabfrage");
  EXPECT_NE(std::string(Db->LastFailure.Records[0].Message).find("Conversion failed"), std::string::npos)
      << Db->LastFailure.Records[0].Message;
  BadgeRecord record;
  std::memset(&record, 0, sizeof record);
  EXPECT_EQ(ResultText(FetchBadge(cursor, &record)), "Failed -1");
  EXPECT_EQ(Db->SqlCode, -1);
  EXPECT_STREQ(record.AswNum, "");
  CloseBadgeCursor(cursor);
}

// The conditions an explanation asks of a badge the query did not deliver
// stand in the query texts the cursor sends (those the statement-log tests
// prove), word for word.
TEST(BadgeQueryConditions, StandInTheBadgeQueriesAsSent) {
  const std::string bound = TerminalBoundBadgeQuery("T1");
  const std::string all = AllBadgesQueryText;
  const BadgeQueryConditions& c = BadgeConditions;
  EXPECT_NE(bound.find(c.BoundDates), std::string::npos);
  EXPECT_NE(all.find(c.AllDates), std::string::npos);
  EXPECT_NE(bound.find(c.ClientMatch), std::string::npos);
  for (const char* both : {c.BadgeStatus, c.AssignmentCode, c.AssignmentStatus}) {
    EXPECT_NE(bound.find(both), std::string::npos) << both;
    EXPECT_NE(all.find(both), std::string::npos) << both;
  }
}

}  // namespace

