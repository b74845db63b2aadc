// Balance display definitions, terminal level and badge level, read in
// this process through unixODBC and the SQLite ODBC driver.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "badge_rows.h"
#include "common/text.h"
#include "connected_installation.h"
#include "db/balance_display.h"
#include "db/session.h"
#include "installation.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// A statement result as one comparable text: "Row 0", "NoRow 100",
// "Done 0", "Failed -1".
std::string ResultText(StatementResult r) {
  const char* names[] = {"Done", "Row", "NoRow", "Failed"};
  return std::string(names[static_cast<int>(r.Is)]) + " " + std::to_string(r.Code);
}

const std::string ValidToday =
    "((convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo AND AswGbi IS NULL)   OR (convert(char(8), "
    "CURRENT_TIMESTAMP, 112) <= AswGbi AND AswGvo IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) >= "
    "AswGvo       AND convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi))";

// The statements as they must reach the data source, values filled in.
std::string TerminalCursorQuery(const std::string& quotedName) {
  return "SELECT  MsdLfd, COALESCE(MsdSpl, 1), SubString(FtxT50, 1, 17), substring(MsdTxt, 1, 12) FROM  "
         "Dravonix.Xel1140Trm, Dravonix.Xel119Msd, Dravonix.Xel102Whl  WHERE TrmNam = '" +
         quotedName +
         "'  AND TrmSal = MsdSal  AND ((TrmMnd = MsdMnd AND TrmLiz = MsdLiz) OR  MsdErf = 'ORVELIX')  AND FtxNumSpr "
         "= 220001  AND FtxWhl = MsdAnz  AND FtxSpr = TrmSpr  AND ((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS "
         "NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL)  ORDER BY MsdSal, MsdLfd ";
}

std::string TerminalValueQuery(const std::string& quotedName, int lfd) {
  return " SELECT FTXT10   FROM DRAVONIX.XEL1140TRM, DRAVONIX.XEL119MSD, DRAVONIX.XEL102WHL   WHERE TRMNAM  = '" +
         quotedName +
         "'   AND TRMSAL = MSDSAL   AND ((TrmMnd = MsdMnd AND TrmLiz = MsdLiz) OR  MsdErf = 'ORVELIX')   AND "
         "FTXNUMSPR = 220002   AND FTXWHL = MSDWRT   AND FTXSPR  = TRMSPR   AND MSDLFD = " +
         std::to_string(lfd) +
         "   AND ((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS NULL)   AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta "
         "IS NULL) ";
}

std::string BadgeCursorQuery(const std::string& quotedNumber) {
  return "SELECT  MsdLfd, COALESCE(MsdSpl, 1), SubString(FtxT50, 1, 12), substring(MsdTxt, 1, 12) FROM "
         "Dravonix.Xel301Asw, Dravonix.Xel119Msd, Dravonix.Xel102Whl  WHERE AswNum = '" +
         quotedNumber +
         "'  AND AswSal = MsdSal  AND FtxNumSpr = 220001  AND FtxWhl = MsdAnz  AND FtxSpr = AswSpr  AND " +
         ValidToday +
         "  AND ((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS "
         "NULL)  ORDER BY MsdSal, MsdLfd ";
}

std::string BadgeValueQuery(const std::string& quotedNumber, int lfd) {
  return " SELECT FTXT10  FROM DRAVONIX.XEL301ASW, DRAVONIX.XEL119MSD, DRAVONIX.XEL102WHL  WHERE ASWNUM  = '" +
         quotedNumber +
         "'  AND  ASWSAL = MSDSAL  AND FTXNUMSPR = 220002  AND  FTXWHL = MSDWRT  AND FTXSPR  = ASWSPR  AND  MSDLFD "
         "= " +
         std::to_string(lfd) + "  AND " + ValidToday +
         "  AND ((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS "
         "NULL) ";
}

// One installation for the suite (the driver manager keeps the
// data source it first connected to); each test uses terminals, balance
// sets and badges of its own.
class BalanceDisplay : public ConnectedInstallationTest {
 protected:
  static void SetUpTestSuite() {
    ConnectedInstallationTest::SetUpTestSuite();
    Inst->Exec(
        "INSERT INTO Xel1140Trm VALUES ('T1', '7600-100', 'S1', 1, 1, 1, NULL);"
        "INSERT INTO Xel1140Trm VALUES ('T2', '7600-100', 'S2', 1, 1, 1, 0);"
        "INSERT INTO Xel1140Trm VALUES ('T3', '7600-100', 'S6', 1, 1, 1, 0);"
        "INSERT INTO Xel1140Trm VALUES ('T4', '7600-100', 'S7', 1, 1, 1, 0);"
        "INSERT INTO Xel1140Trm VALUES ('O''Brien', '7600-100', 'S5', 1, 1, 1, NULL);");
  }
  void SetUp() override { Inst->ClearStatementLog(); }

  void Add(const DisplayDefinition& d) { AddDisplayDefinition(*Inst, ++NextEntry, d); }

  void AddBadge(const char* number, const char* set, int language, const std::string& from, const char* until) {
    Inst->Exec("INSERT INTO Xel301Asw (AswNum, AswGvo, AswGbi, AswPnr, AswSal, AswSpr) VALUES (" + SqlOrNull(number) +
               ", '" + from + "', " + SqlOrNull(until) + ", 'P1', " + SqlOrNull(set) + ", " + std::to_string(language) +
               ")");
  }

  static int NextEntry;
};
int BalanceDisplay::NextEntry = 0;

struct ExpectedSlot {
  int Lfd;
  int Spl;
  std::string DisplayText;
  std::string ValueCode;
};

void ExpectSlot(const BalanceDisplaySlot& slot, const ExpectedSlot& expected) {
  SCOPED_TRACE("MsdLfd " + std::to_string(expected.Lfd));
  EXPECT_EQ(slot.MsdLfd, expected.Lfd);
  EXPECT_EQ(slot.MsdSpl, expected.Spl);
  EXPECT_EQ(std::string(slot.DisplayText), expected.DisplayText);
  EXPECT_EQ(std::string(slot.ValueCode), expected.ValueCode);
  EXPECT_EQ(std::string(slot.ValueText), "       ");
}

TEST(FixDisplayText, ReplacesTheFirstEntityAndKeepsTwelveCharacters) {
  struct Case {
    const char* In;
    const char* Out;
  } cases[] = {
      {"ab&#241;cd", "ab\xF1" "cd"},
      {"ABCDEFGHIJKLMNOPQ", "ABCDEFGHIJKL"},
      {"ABCDEFGHIJK&#241;", "ABCDEFGHIJK\xF1"},
      {"a&#241;b&#241;c", "a\xF1" "b&#241;c"},
      {"&#241;", "\xF1"},
      {"ABCDEFGHIJKLM&#241;", "ABCDEFGHIJKL"},
      {"Ma&#24;ana", "Ma&#24;ana"},
      {"", ""},
  };
  for (const Case& c : cases) {
    char text[41] = {};
    std::strcpy(text, c.In);
    EXPECT_EQ(FixDisplayText(text), 0);
    EXPECT_EQ(std::string(text), c.Out) << "input " << c.In;
  }
}

// Display texts from the definition or the language list, value codes, the
// selection of definitions, the trace lines and the statements sent.
TEST_F(BalanceDisplay, TerminalLevelReadsEveryDefinitionOfTheTerminalsSet) {
  Add({"S1", 1, "NULL", nullptr, "Gleitzeitsaldo", "#W2"});
  Add({"S1", 2, "2", "Eigener Text", "Unbenutzt", "#W10  "});
  Add({"S1", 3, "1", "   ", "ab&#241;cd", "#W21"});
  Add({"S1", 3, "1", "Geloescht", "Geloescht", "#W3", 1, 1, 1, "ADMIN", "8"});  // deleted: left out
  Add({"S1", 4, "1", nullptr, "ABCDEFGHIJKLMNOPQRST", "#W4"});
  Add({"S1", 5, "1", nullptr, "ABCDEFGHIJK&#241;XYZ", "#W5"});
  Add({"S1", 6, "1", nullptr, "a&#241;b&#241;c", "#W6"});
  Add({"S1", 7, "3", "X&#241;Y", "Liste", "#W7"});
  Add({"S1", 7, "1", nullptr, "Fremder Mandant", "#W8", 1, 2, 1});  // other client: left out
  Add({"S1", 8, "1", nullptr, "Info", "#W1", 1, 9, 9, "ORVELIX"});  // the vendor's own: any client
  Add({"S1", 9, "1", nullptr, "Neun", "#W9", 2});                   // other language only: left out
  Inst->ClearStatementLog();

  const std::vector<ExpectedSlot> expected = {
      {1, 1, "Gleitzeitsal ", "#W2"},
      {2, 2, "Eigener Text ", "#W10"},
      {3, 1, "ab\xF1" "cd        ", "#W21"},
      {4, 1, "ABCDEFGHIJKL ", "#W4"},
      {5, 1, "ABCDEFGHIJK\xF1 ", "#W5"},
      {6, 1, "a\xF1" "b&#241;c   ", "#W6"},
      {7, 3, "X&#241;Y     ", "#W7"},
      {8, 1, "Info         ", "#W1"},
  };

  DisplayCursor cursor(*Db, true);
  Db->SqlCode = 4711;
  CaptureStdout();
  ASSERT_EQ(ResultText(OpenTerminalDisplayCursor(cursor, "T1")), "Done 0");
  std::vector<BalanceDisplaySlot> slots;
  std::string last;
  for (;;) {
    BalanceDisplaySlot slot{};
    const StatementResult fetched = FetchTerminalDisplay(cursor, &slot);
    if (!fetched.IsRow()) {
      last = ResultText(fetched);
      break;
    }
    slots.push_back(slot);
  }
  CloseTerminalDisplayCursor(cursor);
  const std::string out = GetCapturedStdout();

  EXPECT_EQ(last, "NoRow 100");
  EXPECT_EQ(Db->SqlCode, 4711) << "the terminal-level fetch leaves SqlCode alone";
  ASSERT_EQ(slots.size(), expected.size());
  for (size_t i = 0; i < slots.size(); ++i) ExpectSlot(slots[i], expected[i]);

  std::string trace;
  for (size_t i = 0; i < expected.size(); ++i) trace += DefinitionTrace0 + ValueTrace0;
  EXPECT_EQ(out, trace + DefinitionTrace100);

  std::vector<std::string> statements = {TerminalCursorQuery("T1")};
  for (const ExpectedSlot& e : expected) statements.push_back(TerminalValueQuery("T1", e.Lfd));
  EXPECT_EQ(Inst->StatementLog(), statements);
}

TEST_F(BalanceDisplay, TerminalNameWithQuoteStaysOneValue) {
  Add({"S5", 1, "1", nullptr, "Saldo", "#W2"});
  Inst->ClearStatementLog();

  DisplayCursor cursor(*Db, true);
  CaptureStdout();
  ASSERT_EQ(ResultText(OpenTerminalDisplayCursor(cursor, "O'Brien")), "Done 0");
  BalanceDisplaySlot slot{};
  EXPECT_EQ(ResultText(FetchTerminalDisplay(cursor, &slot)), "Row 0");
  CloseTerminalDisplayCursor(cursor);
  GetCapturedStdout();

  ExpectSlot(slot, {1, 1, "Saldo        ", "#W2"});
  EXPECT_EQ(Inst->StatementLog(),
            (std::vector<std::string>{TerminalCursorQuery("O''Brien"), TerminalValueQuery("O''Brien", 1)}));
}

// A definition whose value code has no text ends the reading with the code
// of the value-code fetch; the definitions after it are never read.
TEST_F(BalanceDisplay, DefinitionWithoutValueCodeEndsTheReading) {
  Add({"S2", 1, "1", nullptr, "Eins", "#W2"});
  Add({"S2", 2, "1", nullptr, "Zwei", nullptr});
  Add({"S2", 3, "1", nullptr, "Drei", "#W3"});
  Inst->ClearStatementLog();

  DisplayCursor cursor(*Db, true);
  CaptureStdout();
  ASSERT_EQ(ResultText(OpenTerminalDisplayCursor(cursor, "T2")), "Done 0");
  BalanceDisplaySlot slot{};
  EXPECT_EQ(ResultText(FetchTerminalDisplay(cursor, &slot)), "Row 0");
  EXPECT_EQ(ResultText(FetchTerminalDisplay(cursor, &slot)), "NoRow 100");
  CloseTerminalDisplayCursor(cursor);
  EXPECT_EQ(GetCapturedStdout(), DefinitionTrace0 + ValueTrace0 + DefinitionTrace0 + ValueTrace100);
}

TEST_F(BalanceDisplay, TerminalWithoutDefinitionsPrintsOneTraceLine) {
  DisplayCursor cursor(*Db, true);
  CaptureStdout();
  ASSERT_EQ(ResultText(OpenTerminalDisplayCursor(cursor, "T3")), "Done 0");
  BalanceDisplaySlot slot{};
  EXPECT_EQ(ResultText(FetchTerminalDisplay(cursor, &slot)), "NoRow 100");
  CloseTerminalDisplayCursor(cursor);
  EXPECT_EQ(GetCapturedStdout(), DefinitionTrace100);
}

// The badge's own set, in the badge's language, only while the badge is
// valid; the list text is used as it comes, and the end of the definitions
// is -1 with SqlCode 100. Nothing is printed.
TEST_F(BalanceDisplay, BadgeLevelReadsTheBadgesOwnSet) {
  AddBadge("B'1", "S3", 2, TodayYmd(-5), nullptr);
  AddBadge("B2", "S3", 2, TodayYmd(-5), TodayYmd(-1).c_str());  // no longer valid
  Add({"S3", 1, "NULL", nullptr, "Ma&#241;ana shift", "#W16", 2});
  Add({"S3", 1, "1", nullptr, "Manana Schicht", "#W15", 1});  // other language: left out
  Add({"S3", 2, "2", "Eigen   ", "Unbenutzt", "#W30 ", 2});
  Add({"S3", 3, "1", nullptr, "Fruehschicht lang", "#W3", 2, 1, 1, "ADMIN", "4"});  // deleted
  Inst->ClearStatementLog();

  DisplayCursor cursor(*Db, false);
  CaptureStdout();
  ASSERT_EQ(ResultText(OpenBadgeDisplayCursor(cursor, "B'1")), "Done 0");
  BalanceDisplaySlot first{}, second{}, after{};
  EXPECT_EQ(ResultText(FetchBadgeDisplay(cursor, &first)), "Row 0");
  EXPECT_EQ(Db->SqlCode, 0);
  EXPECT_EQ(ResultText(FetchBadgeDisplay(cursor, &second)), "Row 0");
  EXPECT_EQ(ResultText(FetchBadgeDisplay(cursor, &after)), "NoRow -1");
  EXPECT_EQ(Db->SqlCode, 100);
  CloseBadgeDisplayCursor(cursor);

  ASSERT_EQ(ResultText(OpenBadgeDisplayCursor(cursor, "B2")), "Done 0");
  EXPECT_EQ(ResultText(FetchBadgeDisplay(cursor, &after)), "NoRow -1");
  EXPECT_EQ(Db->SqlCode, 100);
  CloseBadgeDisplayCursor(cursor);
  EXPECT_EQ(GetCapturedStdout(), "");

  ExpectSlot(first, {1, 1, "Ma&#241;ana  ", "#W16"});
  ExpectSlot(second, {2, 2, "Eigen        ", "#W30"});
  EXPECT_EQ(Inst->StatementLog(),
            (std::vector<std::string>{BadgeCursorQuery("B''1"), BadgeValueQuery("B''1", 1),
                                      BadgeValueQuery("B''1", 2), BadgeCursorQuery("B2")}));
}

TEST_F(BalanceDisplay, BadgeLevelDefinitionWithoutValueCodeGives100) {
  AddBadge("B3", "S4", 1, TodayYmd(0), nullptr);
  Add({"S4", 1, "1", nullptr, "Ohne Code", nullptr});
  Inst->ClearStatementLog();

  DisplayCursor cursor(*Db, false);
  ASSERT_EQ(ResultText(OpenBadgeDisplayCursor(cursor, "B3")), "Done 0");
  BalanceDisplaySlot slot{};
  EXPECT_EQ(ResultText(FetchBadgeDisplay(cursor, &slot)), "NoRow 100");
  EXPECT_EQ(Db->SqlCode, 100);
  CloseBadgeDisplayCursor(cursor);
}

TEST_F(BalanceDisplay, ClosedCursorsFetchNothing) {
  DisplayCursor terminalCursor(*Db, true);
  DisplayCursor badgeCursor(*Db, false);
  BalanceDisplaySlot slot{};
  CaptureStdout();
  EXPECT_EQ(ResultText(FetchTerminalDisplay(terminalCursor, &slot)), "Failed -1");
  Db->SqlCode = 0;
  EXPECT_EQ(ResultText(FetchBadgeDisplay(badgeCursor, &slot)), "Failed -1");
  EXPECT_EQ(Db->SqlCode, -1);
  EXPECT_STREQ(Db->LastFailure.Query, "Abfrage der Saldenanzeige");
  EXPECT_EQ(GetCapturedStdout(), "");
  CloseTerminalDisplayCursor(terminalCursor);
  CloseBadgeDisplayCursor(badgeCursor);
  EXPECT_EQ(ResultText(FetchTerminalDisplay(terminalCursor, &slot)), "Failed -1")
      << "closing a closed cursor opens nothing";
}

// A value-code query that fails is a failure, never the end of the
// definitions: its records (SQLite's native error 1) stay in LastFailure,
// which names the value-code query.
TEST_F(BalanceDisplay, FailedValueCodeQueryFailsWithItsRecords) {
  AddBadge("B4", "S7", 1, TodayYmd(-1), nullptr);
  Add({"S7", 1, "1", nullptr, "Eins", "#W2"});
  Inst->Exec("ALTER TABLE Xel119Msd RENAME COLUMN MsdWrt TO MsdWrtAlt");

  DisplayCursor terminalCursor(*Db, true);
  DisplayCursor badgeCursor(*Db, false);
  CaptureStdout();
  ASSERT_EQ(ResultText(OpenTerminalDisplayCursor(terminalCursor, "T4")), "Done 0");
  BalanceDisplaySlot slot{};
  const StatementResult terminalFetch = FetchTerminalDisplay(terminalCursor, &slot);
  const FailureRecord terminalFailure = Db->LastFailure;
  CloseTerminalDisplayCursor(terminalCursor);
  const std::string out = GetCapturedStdout();

  const StatementResult badgeOpen = OpenBadgeDisplayCursor(badgeCursor, "B4");
  Db->SqlCode = 4711;
  const StatementResult badgeFetch = FetchBadgeDisplay(badgeCursor, &slot);
  const int badgeSqlCode = Db->SqlCode;
  const FailureRecord badgeFailure = Db->LastFailure;
  CloseBadgeDisplayCursor(badgeCursor);
  Inst->Exec("ALTER TABLE Xel119Msd RENAME COLUMN MsdWrtAlt TO MsdWrt");

  EXPECT_EQ(ResultText(terminalFetch), "Failed -1");  // SQL_ERROR
  EXPECT_STREQ(terminalFailure.Query, "Wertcodeabfrage der Saldenanzeige");
  ASSERT_GT(terminalFailure.Count, 0);
  EXPECT_EQ(terminalFailure.Records[0].NativeError, 1);
  EXPECT_NE(std::strstr(terminalFailure.Records[0].Message, "MSDWRT"), nullptr) << terminalFailure.Records[0].Message;
  EXPECT_EQ(out, DefinitionTrace0) << "no value-code trace line when the query did not run";
  EXPECT_EQ(ResultText(badgeOpen), "Done 0");
  EXPECT_EQ(ResultText(badgeFetch), "Failed -1");
  EXPECT_EQ(badgeSqlCode, -1) << "SqlCode follows the value-code query";
  EXPECT_STREQ(badgeFailure.Query, "Wertcodeabfrage der Saldenanzeige");
  ASSERT_GT(badgeFailure.Count, 0);
  EXPECT_EQ(badgeFailure.Records[0].NativeError, 1);
}

TEST_F(BalanceDisplay, FailedOpenReturnsTheNativeErrorAndLeavesTheCursorClosed) {
  Inst->Exec("ALTER TABLE Xel102Whl RENAME TO Xel102WhlAlt");
  DisplayCursor terminalCursor(*Db, true);
  DisplayCursor badgeCursor(*Db, false);
  CaptureStdout();
  const StatementResult terminalOpen = OpenTerminalDisplayCursor(terminalCursor, "T1");
  const char* const terminalQuery = Db->LastFailure.Query;
  BalanceDisplaySlot slot{};
  const StatementResult terminalFetch = FetchTerminalDisplay(terminalCursor, &slot);
  const StatementResult badgeOpen = OpenBadgeDisplayCursor(badgeCursor, "B4");
  const char* const badgeQuery = Db->LastFailure.Query;
  const StatementResult badgeFetch = FetchBadgeDisplay(badgeCursor, &slot);
  const std::string out = GetCapturedStdout();
  Inst->Exec("ALTER TABLE Xel102WhlAlt RENAME TO Xel102Whl");

  EXPECT_EQ(ResultText(terminalOpen), "Failed 1");
  EXPECT_STREQ(terminalQuery, "Abfrage der Saldenanzeige");
  EXPECT_EQ(ResultText(terminalFetch), "Failed -1");
  EXPECT_EQ(ResultText(badgeOpen), "Failed 1");
  EXPECT_STREQ(badgeQuery, "Abfrage der Saldenanzeige");
  EXPECT_EQ(ResultText(badgeFetch), "Failed -1");
  EXPECT_EQ(out, "");
}

}  // namespace
