// Location text and balance values lookups, run in this process against a
// scratch installation through unixODBC and the SQLite ODBC driver.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "connected_installation.h"
#include "db/balance_values.h"
#include "db/location.h"
#include "db/session.h"
#include "installation.h"

namespace {

// A statement result as one comparable text: "Row 0", "NoRow 100",
// "Done 0", "Failed -1".
std::string ResultText(StatementResult r) {
  const char* names[] = {"Done", "Row", "NoRow", "Failed"};
  return std::string(names[static_cast<int>(r.Is)]) + " " + std::to_string(r.Code);
}

std::string LocationQuery(const std::string& quotedBadge) {
  return " SELECT StoKtx  FROM  Dravonix.Xel113Sto, Dravonix.Xel113Awv  WHERE AwvNum = '" + quotedBadge +
         "'  AND   AwvSto = StoNum  AND ((AwvSta <> 4 AND AwvSta <> 8) OR AwvSta IS NULL)  AND ((StoSta <> 4 AND "
         "StoSta <> 8) OR StoSta IS NULL) ";
}

// Written out column by column so that a reader can compare it with the
// data source's columns; the runs of six blanks are part of the text.
std::string BalanceQuery(const std::string& quotedBadge) {
  return "SELECT       TswW01,"
         "       substring(TswW02, 1, 1), substring(TswW02, 2, 9),"
         "       substring(TswW03, 1, 1), substring(TswW03, 2, 9),"
         "       substring(TswW04, 1, 1), substring(TswW04, 2, 9),"
         "       substring(TswW05, 1, 1), substring(TswW05, 2, 9),"
         "       substring(TswW06, 1, 1), substring(TswW06, 2, 9),"
         "       substring(TswW07, 1, 1), substring(TswW07, 2, 9),"
         "       substring(TswW08, 1, 1), substring(TswW08, 2, 9),"
         "       substring(TswW09, 1, 1), substring(TswW09, 2, 9),"
         "       substring(TswW10, 1, 1), substring(TswW10, 2, 9),"
         "       substring(TswW11, 1, 1), substring(TswW11, 2, 9),"
         "       substring(TswW12, 1, 1), substring(TswW12, 2, 9),"
         "       substring(TswW13, 1, 1), substring(TswW13, 2, 9),"
         "       substring(TswW14, 1, 1), substring(TswW14, 2, 9),"
         "       substring(TswW15, 1, 1), substring(TswW15, 2, 9),"
         "       substring(TswW16, 1, 1), substring(TswW16, 2, 9),"
         "       TswF01, TswF02, TswF03, TswF04, TswF05,"
         "       TswF06, TswF07, TswF08, TswF09, TswF10  FROM  DRAVONIX.O2002TSW WHERE TSWIDN = '" +
         quotedBadge + "' ";
}

class LookupTest : public ConnectedInstallationTest {
 protected:
  // The four bytes of StoKtx, so that the zero fill is visible.
  static std::string StoKtxBytes(const BadgeRecord& badge) { return std::string(badge.StoKtx, 4); }
};

TEST_F(LookupTest, LocationTextIsTrimmedCutToThreeAndZeroFilled) {
  Inst->Exec(
      "INSERT INTO Xel113Sto (StoNum, StoKtx) VALUES ('L10', 'ABCDEFGHIJ'), ('L12', 'MNOPQRSTUVWX'),"
      " ('L1', 'X    '), ('LB', '   '), ('LN', NULL), ('L2', 'Y\tZ');"
      "INSERT INTO Xel113Awv (AwvNum, AwvSto) VALUES ('B10', 'L10'), ('B12', 'L12'), ('B1', 'L1'), ('BB', 'LB'),"
      " ('BN', 'LN'), ('B2', 'L2')");
  struct Case {
    const char* Number;
    std::string Bytes;
  };
  const Case cases[] = {
      {"B10", std::string("ABC\0", 4)},
      {"B12", std::string("MNO\0", 4)},                 // arrives cut to ten, still a row
      {"B1", std::string("X\0\0\0", 4)},                // trailing blanks go, zeros follow
      {"BB", std::string(4, '\0')},                     // blanks only: found, and empty
      {"BN", std::string(4, '\0')},                     // NULL text reads as empty
      {"B2", std::string("Y\tZ\0", 4)},                 // inner tab stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Number);
    BadgeRecord badge = ZeroedBadge(c.Number);
    std::memcpy(badge.StoKtx, "QQQ", 4);  // must be overwritten completely
    EXPECT_EQ(ResultText(LookupLocationText(*Db, &badge)), "Row 0");
    EXPECT_EQ(Db->SqlCode, 0);
    EXPECT_EQ(StoKtxBytes(badge), c.Bytes);
  }
}

TEST_F(LookupTest, LocationWithoutValidRowGives100AndKeepsTheField) {
  Inst->Exec(
      "INSERT INTO Xel113Sto (StoNum, StoKtx, StoSta) VALUES ('S4', 'DEL', 4), ('S8', 'DEL', 8), ('SN', 'NUL', NULL),"
      " ('S0', 'OK', 0);"
      "INSERT INTO Xel113Awv (AwvNum, AwvSto, AwvSta) VALUES ('C-STO4', 'S4', 0), ('C-STO8', 'S8', 0),"
      " ('C-AWV4', 'S0', 4), ('C-AWV8', 'S0', 8), ('C-NULL', 'SN', NULL), ('C-NOLOC', 'MISSING', 0)");
  for (const char* number : {"C-STO4", "C-STO8", "C-AWV4", "C-AWV8", "C-NOLOC", "C-NOBADGE"}) {
    SCOPED_TRACE(number);
    BadgeRecord badge = ZeroedBadge(number);
    std::memcpy(badge.StoKtx, "QQQ", 4);
    EXPECT_EQ(ResultText(LookupLocationText(*Db, &badge)), "NoRow 100");
    EXPECT_EQ(Db->SqlCode, 100);
    EXPECT_EQ(StoKtxBytes(badge), std::string("QQQ\0", 4));
  }
  BadgeRecord badge = ZeroedBadge("C-NULL");  // status NULL counts as valid
  EXPECT_EQ(ResultText(LookupLocationText(*Db, &badge)), "Row 0");
  EXPECT_EQ(StoKtxBytes(badge), std::string("NUL\0", 4));
}

TEST_F(LookupTest, LocationQueryTextIsSentExactlyWithTheBadgeQuoted) {
  Inst->Exec(
      "INSERT INTO Xel113Sto (StoNum, StoKtx) VALUES ('LQ', 'QTE');"
      "INSERT INTO Xel113Awv (AwvNum, AwvSto) VALUES ('O''Brien', 'LQ'), ('X', 'LQ')");
  Inst->ClearStatementLog();
  BadgeRecord badge = ZeroedBadge("O'Brien");
  EXPECT_EQ(ResultText(LookupLocationText(*Db, &badge)), "Row 0");
  EXPECT_EQ(StoKtxBytes(badge), std::string("QTE\0", 4));
  // A quote cannot end the literal early and reach another badge's row.
  BadgeRecord sneaky = ZeroedBadge("Z' OR AwvNum = 'X");
  EXPECT_EQ(ResultText(LookupLocationText(*Db, &sneaky)), "NoRow 100");
  EXPECT_EQ(Inst->StatementLog(),
            (std::vector<std::string>{LocationQuery("O''Brien"), LocationQuery("Z'' OR AwvNum = ''X")}));
}

// The value columns, each with a rule of its own; TswWnn in column order.
TEST_F(LookupTest, BalanceValuesFollowTheSignAndCutRules) {
  Inst->Exec(
      "INSERT INTO O2002TSW (TswIdn, TswW01, TswW02, TswW03, TswW04, TswW05, TswW06, TswW07, TswW08, TswW09,"
      " TswW10, TswW11, TswW12, TswW13, TswW14, TswW15, TswW16, TswF01, TswF02, TswF03, TswF10) VALUES ('R1',"
      " '+1',"
      " '-123',"                  // W02: sign after the right-aligned value
      " '+123',"                  // W03: plus shows as a blank
      " '-1234567',"              // W04: seventh digit dropped
      " '-12       ',"            // W05: nine characters, trailing blanks kept, cut at six
      " '-12   ',"                // W06: two digits and three blanks
      " '- 42',"                  // W07: leading blank skipped before the cut
      " '-',"                     // W08: sign only
      " '+',"                     // W09: plus only
      " '',"                      // W10: empty column
      " NULL,"                    // W11: NULL column
      " '*' || char(10) || char(9) || '7',"  // W12: line feed and tab skipped too, sign kept as it is
      " '+   ',"                  // W13: blanks only are used unchanged
      " '-123456789',"            // W14: nine value characters
      " '-1234567890',"           // W15: tenth value character never arrives
      " '+000800',"               // W16
      " 'ABCDE', 'ABCDEFGHIJKLMNOPQRST', 'ABCDEFGHIJKLMNOPQRSTUVW', '  x  ')");
  BadgeRecord badge = ZeroedBadge("R1");
  ASSERT_EQ(ResultText(LookupBalanceValues(*Db, &badge)), "Row 0");
  EXPECT_EQ(Db->SqlCode, 0);
  EXPECT_STREQ(badge.TswW02, "   123-");
  EXPECT_STREQ(badge.TswW03, "   123 ");
  EXPECT_STREQ(badge.TswW04, "123456-");
  EXPECT_STREQ(badge.TswW05, "12    -");
  EXPECT_STREQ(badge.TswW06, " 12   -");
  EXPECT_STREQ(badge.TswW07, "    42-");
  EXPECT_STREQ(badge.TswW08, "      -");
  EXPECT_STREQ(badge.TswW09, "       ");
  EXPECT_STREQ(badge.TswW10, "      ");
  EXPECT_STREQ(badge.TswW11, "      ");
  EXPECT_STREQ(badge.TswW12, "     7*");
  EXPECT_STREQ(badge.TswW13, "       ");
  EXPECT_STREQ(badge.TswW14, "123456-");
  EXPECT_STREQ(badge.TswW15, "123456-");
  EXPECT_STREQ(badge.TswW16, "000800 ");
  EXPECT_STREQ(badge.TswF[0], "ABCDE               ");
  EXPECT_STREQ(badge.TswF[1], "ABCDEFGHIJKLMNOPQRST");
  EXPECT_STREQ(badge.TswF[2], "ABCDEFGHIJKLMNOPQRST");  // arrives cut to twenty
  EXPECT_STREQ(badge.TswF[3], "                    ");  // NULL
  EXPECT_STREQ(badge.TswF[9], "  x                 ");  // taken as it comes
  EXPECT_EQ(badge.ZoneSlots[0][0], '\0') << "wrote past the last text field";
}

// Each column lands in the field of its name, although the record keeps the
// fields in another order; a NULL column does not show an earlier row's value.
TEST_F(LookupTest, BalanceColumnsLandInTheirNamedFieldsAndNullReadsEmpty) {
  Inst->Exec(
      "INSERT INTO O2002TSW (TswIdn, TswW02, TswW03, TswW04, TswW05, TswW06, TswW07, TswW08, TswW09, TswW10, TswW11,"
      " TswW12, TswW13, TswW14, TswW15, TswW16, TswF01, TswF05, TswF10) VALUES ('M1', '-2', '-3', '-4', '-5', '-6',"
      " '-7', '-8', '-9', '-10', '-11', '-12', '-13', '-14', '-15', '-16', 'F1', 'F5', 'F10');"
      "INSERT INTO O2002TSW (TswIdn) VALUES ('M2')");
  BadgeRecord badge = ZeroedBadge("M1");
  ASSERT_EQ(ResultText(LookupBalanceValues(*Db, &badge)), "Row 0");
  // Record order: W02, W09 .. W16, W08, W05, W06, W07, W03, W04.
  const char* inRecordOrder[] = {badge.TswW02, badge.TswW09, badge.TswW10, badge.TswW11, badge.TswW12,
                                 badge.TswW13, badge.TswW14, badge.TswW15, badge.TswW16, badge.TswW08,
                                 badge.TswW05, badge.TswW06, badge.TswW07, badge.TswW03, badge.TswW04};
  const int columns[] = {2, 9, 10, 11, 12, 13, 14, 15, 16, 8, 5, 6, 7, 3, 4};
  for (int i = 0; i < 15; ++i) {
    char expected[8];
    std::snprintf(expected, sizeof expected, "%6d-", columns[i]);
    EXPECT_STREQ(inRecordOrder[i], expected) << "TswW" << columns[i];
  }
  EXPECT_STREQ(badge.TswF[0], "F1                  ");
  EXPECT_STREQ(badge.TswF[4], "F5                  ");
  EXPECT_STREQ(badge.TswF[9], "F10                 ");

  BadgeRecord empty = ZeroedBadge("M2");
  ASSERT_EQ(ResultText(LookupBalanceValues(*Db, &empty)), "Row 0");
  EXPECT_STREQ(empty.TswW02, "      ");
  EXPECT_STREQ(empty.TswW16, "      ");
  EXPECT_STREQ(empty.TswF[0], "                    ");
  EXPECT_STREQ(empty.TswF[9], "                    ");
}

TEST_F(LookupTest, MissingBalanceRowGives100AndLeavesAllFieldsEmpty) {
  Inst->Exec("INSERT INTO O2002TSW (TswIdn, TswW02, TswF01) VALUES ('P1', '-5', 'X')");
  BadgeRecord first = ZeroedBadge("P1");
  ASSERT_EQ(ResultText(LookupBalanceValues(*Db, &first)), "Row 0");  // the bind buffers now hold values

  Inst->ClearStatementLog();
  BadgeRecord badge = ZeroedBadge("O'Missing");
  EXPECT_EQ(ResultText(LookupBalanceValues(*Db, &badge)), "NoRow 100");
  EXPECT_EQ(Db->SqlCode, 100);
  const char* from = badge.TswW02;
  const char* to = reinterpret_cast<const char*>(badge.ZoneSlots);
  EXPECT_EQ(std::string(from, to), std::string(static_cast<size_t>(to - from), '\0'));
  EXPECT_EQ(Inst->StatementLog(), std::vector<std::string>{BalanceQuery("O''Missing")});
}

// Declared last: the tables go away for the rest of this process.
TEST_F(LookupTest, FailingStatementsFailNamingTheirQueryAndChangeNothing) {
  Inst->Exec(
      "INSERT INTO Xel113Sto (StoNum, StoKtx) VALUES ('LF', 'LOC');"
      "INSERT INTO Xel113Awv (AwvNum, AwvSto) VALUES ('F1', 'LF');"
      "INSERT INTO O2002TSW (TswIdn, TswW02) VALUES ('F1', '-1');"
      "DROP TABLE Xel113Sto; DROP TABLE O2002TSW");
  BadgeRecord badge = ZeroedBadge("F1");
  std::memcpy(badge.StoKtx, "QQQ", 4);
  std::memcpy(badge.TswW02, "KEEP", 5);
  Db->SqlCode = 4711;
  EXPECT_EQ(ResultText(LookupLocationText(*Db, &badge)), "Failed -1");
  EXPECT_STREQ(Db->LastFailure.Query, "Ortsabfrage");
  EXPECT_NE(std::strstr(Db->LastFailure.Records[0].Message, "Xel113Sto"), nullptr)
      << Db->LastFailure.Records[0].Message;
  EXPECT_EQ(ResultText(LookupBalanceValues(*Db, &badge)), "Failed -1");
  EXPECT_STREQ(Db->LastFailure.Query, "Saldenabfrage");
  EXPECT_NE(std::strstr(Db->LastFailure.Records[0].Message, "O2002TSW"), nullptr) << Db->LastFailure.Records[0].Message;
  EXPECT_EQ(Db->SqlCode, 4711) << "a failed lookup leaves SqlCode alone";
  EXPECT_STREQ(badge.StoKtx, "QQQ");
  EXPECT_STREQ(badge.TswW02, "KEEP");
  EXPECT_STREQ(badge.TswW09, "");
}

}  // namespace
