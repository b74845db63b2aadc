// The two shortcuts of the statement conventions that keep the tool's own
// cost per badge low: the query formatter that does without vsnprintf, and
// fetches that bind a cursor's columns only when its statement does not hold
// those bindings already. Each must give what the plain way gives.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "db/session.h"
#include "installation.h"

namespace {

// What vsnprintf makes of the same format and values.
template <typename... Args>
std::string Printf(const char* format, Args... args) {
  char text[SqlTextSize * 2];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

// A statement result as one comparable text: "Row 0", "NoRow 100",
// "Done 0", "Failed -1".
std::string ResultText(StatementResult r) {
  const char* names[] = {"Done", "Row", "NoRow", "Failed"};
  return std::string(names[static_cast<int>(r.Is)]) + " " + std::to_string(r.Code);
}

}  // namespace

TEST(QueryFormatter, GivesWhatPrintfGivesForTheConversionsOfTheQueries) {
  char sqlText[SqlTextSize];
  const char* format = "SELECT  a  FROM  T WHERE n = '%s'  AND l <= %ld AND i = %d AND p LIKE '50%%' ";
  struct Case {
    const char* Text;
    long Long;
    int Int;
  } cases[] = {
      {"TERM01", 11, 0},
      {"", 0, -1},
      {"O''Brien", -42, 7},
      {"%s %ld", LONG_MAX, INT_MAX},
      {"x", LONG_MIN, INT_MIN},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(FormatSqlTextInto(sqlText, format, c.Text, c.Long, c.Int), 0);
    EXPECT_EQ(std::string(sqlText), Printf(format, c.Text, c.Long, c.Int)) << c.Text;
  }
  // A format without any conversion, and one that ends in a conversion.
  ASSERT_EQ(FormatSqlTextInto(sqlText, "SELECT 1 "), 0);
  EXPECT_STREQ(sqlText, "SELECT 1 ");
  ASSERT_EQ(FormatSqlTextInto(sqlText, "%ld", -7L), 0);
  EXPECT_STREQ(sqlText, "-7");
}

TEST(QueryFormatter, OtherConversionsAreLeftToPrintf) {
  char sqlText[SqlTextSize];
  ASSERT_EQ(FormatSqlTextInto(sqlText, "SELECT '%5s', %c, %lu, %.2s", "ab", 'z', 12UL, "xyz"), 0);
  EXPECT_STREQ(sqlText, "SELECT '   ab', z, 12, xy");
}

TEST(QueryFormatter, ATextOneByteTooLongIsRefusedWhereverItOverflows) {
  char sqlText[SqlTextSize];
  // The statement text holds SqlTextSize - 1 characters and the terminator.
  const std::string prefix(SqlTextSize - 1 - 4, 'x');
  ASSERT_EQ(FormatSqlTextInto(sqlText, "%s%ld", prefix.c_str(), 1234L), 0);
  EXPECT_EQ(std::strlen(sqlText), SqlTextSize - 1);
  EXPECT_EQ(std::string(sqlText).substr(prefix.size()), "1234");

  // One digit more, one literal character more, one value character more.
  EXPECT_EQ(FormatSqlTextInto(sqlText, "%s%ld", prefix.c_str(), 12345L), -1);
  EXPECT_STREQ(sqlText, "");
  ASSERT_EQ(FormatSqlTextInto(sqlText, "%s", prefix.c_str()), 0);
  EXPECT_EQ(FormatSqlTextInto(sqlText, "%s12345", prefix.c_str()), -1);
  EXPECT_STREQ(sqlText, "");
  ASSERT_EQ(FormatSqlTextInto(sqlText, "%s", prefix.c_str()), 0);
  EXPECT_EQ(FormatSqlTextInto(sqlText, "12345%s", prefix.c_str()), -1);
  EXPECT_STREQ(sqlText, "");
  // The same through the printf route.
  EXPECT_EQ(FormatSqlTextInto(sqlText, "%s%5s", prefix.c_str(), "y"), -1);
  EXPECT_STREQ(sqlText, "");
  ASSERT_EQ(FormatSqlTextInto(sqlText, "%s%4s", prefix.c_str(), "y"), 0);
  EXPECT_EQ(std::string(sqlText).substr(prefix.size()), "   y");
}

// ---------------------------------------------------------------------------
// Bindings kept across fetches

class KeptBindings : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Inst = std::make_unique<ScratchInstallation>(ScratchInstallation::Empty());
    Inst->Exec(
        "CREATE TABLE Rows (k INTEGER, txt TEXT);"
        "INSERT INTO Rows VALUES (1, 'eins');"
        "INSERT INTO Rows VALUES (2, 'zwei');"
        "INSERT INTO Rows VALUES (3, NULL);"
        "INSERT INTO Rows VALUES (4, 'vier');");
    Inst->UseInThisProcess();
    Db = std::make_unique<Session>();
    ConnectResult = Db->Connect("u", "p", Inst->Dsn.c_str(), "");
  }
  static void TearDownTestSuite() {
    Db.reset();
    Inst.reset();
  }
  void SetUp() override { ASSERT_EQ(ConnectResult, 0) << "no connection to " << Inst->Dsn; }

  static Statement Open(const char* query) {
    Statement cursor(*Db);
    EXPECT_EQ(Db->FormatSqlText("%s", query), 0);
    EXPECT_EQ(ResultText(OpenCursor(cursor)), "Done 0");
    return cursor;
  }

  static std::unique_ptr<ScratchInstallation> Inst;
  static std::unique_ptr<Session> Db;
  static int ConnectResult;
};
std::unique_ptr<ScratchInstallation> KeptBindings::Inst;
std::unique_ptr<Session> KeptBindings::Db;
int KeptBindings::ConnectResult = -1;

TEST_F(KeptBindings, EveryFetchStillFillsTheBuffersAndKeepsTheNullRule) {
  Statement cursor = Open("SELECT k, txt FROM Rows ORDER BY k");
  int32_t k = 0;
  char txt[8];
  const ColumnBinding columns[] = {{SQL_C_LONG, &k, sizeof k}, {SQL_C_CHAR, txt, sizeof txt}};
  const char* expected[] = {"eins", "zwei", "", "vier"};
  for (int row = 1; row <= 4; ++row) {
    k = -1;  // the preset a NULL would keep
    std::strcpy(txt, "vorher");
    ASSERT_EQ(ResultText(FetchCursor(cursor, columns, 2)), "Row 0") << row;
    EXPECT_EQ(k, row);
    EXPECT_STREQ(txt, expected[row - 1]);
  }
  EXPECT_EQ(ResultText(FetchCursor(cursor, columns, 2)), "NoRow 100");
  CloseCursor(cursor);
}

TEST_F(KeptBindings, OtherBuffersOnTheSameCursorAreBoundAnew) {
  Statement cursor = Open("SELECT k, txt FROM Rows ORDER BY k");
  int32_t k1 = 0, k2 = 0;
  char t1[8] = "", t2[8] = "";
  const ColumnBinding first[] = {{SQL_C_LONG, &k1, sizeof k1}, {SQL_C_CHAR, t1, sizeof t1}};
  const ColumnBinding second[] = {{SQL_C_LONG, &k2, sizeof k2}, {SQL_C_CHAR, t2, sizeof t2}};
  ASSERT_EQ(ResultText(FetchCursor(cursor, first, 2)), "Row 0");
  ASSERT_EQ(ResultText(FetchCursor(cursor, second, 2)), "Row 0");
  EXPECT_EQ(k1, 1);
  EXPECT_STREQ(t1, "eins");
  EXPECT_EQ(k2, 2);
  EXPECT_STREQ(t2, "zwei");
  // A narrower buffer at the same place is a different binding too.
  const ColumnBinding narrow[] = {{SQL_C_LONG, &k2, sizeof k2}, {SQL_C_CHAR, t2, 3}};
  ASSERT_EQ(ResultText(FetchCursor(cursor, narrow, 2)), "Row 0");  // row 3: NULL text
  ASSERT_EQ(ResultText(FetchCursor(cursor, narrow, 2)), "Row 1");   // SQL_SUCCESS_WITH_INFO
  EXPECT_EQ(k2, 4);
  EXPECT_STREQ(t2, "vi");
  CloseCursor(cursor);
}

TEST_F(KeptBindings, ACursorReopenedIntoTheSameBuffersIsBoundAgain) {
  // The tool's pattern: one cursor, opened anew for every badge, always
  // fetched into the same buffers. A freed statement handle is handed out
  // again, so the reopened cursor may carry the old handle's value, but none
  // of its bindings.
  int32_t k = 0;
  char txt[8];
  const ColumnBinding columns[] = {{SQL_C_LONG, &k, sizeof k}, {SQL_C_CHAR, txt, sizeof txt}};
  const char* expected[] = {"eins", "zwei", "", "vier"};
  for (int key = 1; key <= 4; ++key) {
    char query[64];
    std::snprintf(query, sizeof query, "SELECT k, txt FROM Rows WHERE k = %d", key);
    Statement cursor = Open(query);
    k = 0;
    std::strcpy(txt, "vorher");
    ASSERT_EQ(ResultText(FetchCursor(cursor, columns, 2)), "Row 0") << key;
    EXPECT_EQ(k, key);
    EXPECT_STREQ(txt, expected[key - 1]);
    EXPECT_EQ(ResultText(FetchCursor(cursor, columns, 2)), "NoRow 100");
    CloseCursor(cursor);
  }
}

TEST_F(KeptBindings, ALookupAfterACursorGetsItsOwnBindings) {
  // A single-row lookup's statement may get the handle a closed cursor had.
  Statement cursor = Open("SELECT k, txt FROM Rows WHERE k = 1");
  int32_t k = 0;
  char txt[8] = "";
  const ColumnBinding columns[] = {{SQL_C_LONG, &k, sizeof k}, {SQL_C_CHAR, txt, sizeof txt}};
  ASSERT_EQ(ResultText(FetchCursor(cursor, columns, 2)), "Row 0");
  CloseCursor(cursor);
  ASSERT_EQ(Db->FormatSqlText("SELECT k, txt FROM Rows WHERE k = 4"), 0);
  ASSERT_EQ(ResultText(LookupSingleRow(*Db, columns, 2)), "Row 0");
  EXPECT_EQ(k, 4);
  EXPECT_STREQ(txt, "vier");
}

TEST_F(KeptBindings, InterleavedCursorsKeepTheirOwnBindings) {
  Statement outer = Open("SELECT k FROM Rows ORDER BY k");
  int32_t k = 0;
  const ColumnBinding outerColumns[] = {{SQL_C_LONG, &k, sizeof k}};
  int rows = 0;
  while (FetchCursor(outer, outerColumns, 1).IsRow()) {
    ++rows;
    ASSERT_EQ(k, rows);
    char query[64];
    std::snprintf(query, sizeof query, "SELECT txt FROM Rows WHERE k = %d", static_cast<int>(k));
    Statement inner = Open(query);
    char txt[8] = "";
    const ColumnBinding innerColumns[] = {{SQL_C_CHAR, txt, sizeof txt}};
    ASSERT_EQ(ResultText(FetchCursor(inner, innerColumns, 1)), "Row 0");
    EXPECT_EQ(ResultText(FetchCursor(inner, innerColumns, 1)), "NoRow 100");
    CloseCursor(inner);
    EXPECT_EQ(k, rows) << "the inner cursor's fetch must not reach the outer cursor's buffer";
  }
  EXPECT_EQ(rows, 4);
  EXPECT_EQ(Db->SqlCode, 100) << "the outer cursor ends at its end, not at a failure";
  CloseCursor(outer);
}
