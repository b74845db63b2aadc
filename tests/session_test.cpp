// The database session and the statement conventions, in this process,
// through unixODBC and the SQLite ODBC driver.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "db/session.h"
#include "installation.h"

namespace {

// ---------------------------------------------------------------------------
// Text helpers

TEST(SessionText, TrimRightRemovesTrailingBlanksAndTabsOnly) {
  struct Case {
    const char* In;
    const char* Out;
  };
  for (const Case& c : {Case{"   ", ""}, Case{"", ""}, Case{"ab \t \t", "ab"}, Case{" a b ", " a b"},
                        Case{"\tab", "\tab"}, Case{"ab\n", "ab\n"}, Case{"ab \n", "ab \n"}, Case{"ab\r", "ab\r"}}) {
    char text[16];
    std::strcpy(text, c.In);
    EXPECT_EQ(TrimRight(text), text);
    EXPECT_STREQ(text, c.Out) << "from \"" << c.In << "\"";
  }
}

TEST(SessionText, SkipLeadingBlanksStopsAtTheFirstOtherCharacter) {
  char threeBlanks[] = "   ";
  // Nothing but blanks: the text itself, not its end.
  EXPECT_EQ(SkipLeadingBlanks(threeBlanks), threeBlanks);
  EXPECT_STREQ(threeBlanks, "   ");
  char onlyWhite[] = " \t\n\n";
  EXPECT_EQ(SkipLeadingBlanks(onlyWhite), onlyWhite);
  char empty[] = "";
  EXPECT_EQ(SkipLeadingBlanks(empty), empty);
  char mixed[] = " \t\nab c ";
  EXPECT_EQ(SkipLeadingBlanks(mixed), mixed + 3);
  char none[] = "ab";
  EXPECT_EQ(SkipLeadingBlanks(none), none);
  char carriageReturn[] = "\r ab";  // only blank, tab and line feed are skipped
  EXPECT_EQ(SkipLeadingBlanks(carriageReturn), carriageReturn);
}

TEST(SessionText, QuoteSqlValueDoublesSingleQuotes) {
  char out[32];
  EXPECT_STREQ(QuoteSqlValue("O'Brien", out, sizeof out), "O''Brien");
  EXPECT_STREQ(QuoteSqlValue("'", out, sizeof out), "''");
  EXPECT_STREQ(QuoteSqlValue("''", out, sizeof out), "''''");
  EXPECT_STREQ(QuoteSqlValue("T1 \"x\" M\xFCller", out, sizeof out), "T1 \"x\" M\xFCller");
  EXPECT_STREQ(QuoteSqlValue("", out, sizeof out), "");
  // A value that does not fit is cut, never in the middle of a doubled quote.
  EXPECT_STREQ(QuoteSqlValue("abcdef", out, 4), "abc");
  EXPECT_STREQ(QuoteSqlValue("ab'cd", out, 5), "ab''");
  EXPECT_STREQ(QuoteSqlValue("ab'cd", out, 4), "ab");
}

TEST(SessionText, FormatSqlTextRefusesAQueryThatDoesNotFit) {
  Session db;
  const std::string fits(SqlTextSize - 1, 'x');
  EXPECT_EQ(db.FormatSqlText("%s", fits.c_str()), 0);
  EXPECT_EQ(std::string(db.SqlText), fits);
  EXPECT_EQ(db.FormatSqlText("SELECT %ld, '%s'", 42L, "a"), 0);
  EXPECT_STREQ(db.SqlText, "SELECT 42, 'a'");

  const std::string tooLong(SqlTextSize, 'x');
  EXPECT_EQ(db.FormatSqlText("%s", tooLong.c_str()), -1);
  EXPECT_STREQ(db.SqlText, "");
}

// ---------------------------------------------------------------------------
// Statements on a real connection

// A statement result as one comparable text: "Row 0", "NoRow 100",
// "Done 0", "Failed -1".
std::string ResultText(StatementResult r) {
  const char* names[] = {"Done", "Row", "NoRow", "Failed"};
  return std::string(names[static_cast<int>(r.Is)]) + " " + std::to_string(r.Code);
}

// One scratch installation and one connection for all statement tests.
class SessionDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Inst = std::make_unique<ScratchInstallation>(ScratchInstallation::Empty());
    Inst->Exec(
        "CREATE TABLE Probe (k TEXT, txt TEXT, num INTEGER);"
        "INSERT INTO Probe VALUES ('a', 'ABCDEFGHIJKL', 5);"
        "INSERT INTO Probe VALUES ('b', NULL, NULL);"
        "INSERT INTO Probe VALUES ('c', 'zero', 0);"
        "INSERT INTO Probe VALUES ('O''Brien', 'quote', 3);");
    Inst->UseInThisProcess();
    Db = std::make_unique<Session>();
    ConnectResult = Db->Connect("u", "p", Inst->Dsn.c_str(), "");
  }
  static void TearDownTestSuite() {
    Db.reset();
    Inst.reset();
  }

  void SetUp() override {
    ASSERT_EQ(ConnectResult, 0) << "no connection to " << Inst->Dsn;
    Inst->ClearStatementLog();
  }

  static std::unique_ptr<ScratchInstallation> Inst;
  static std::unique_ptr<Session> Db;
  static int ConnectResult;
};
std::unique_ptr<ScratchInstallation> SessionDb::Inst;
std::unique_ptr<Session> SessionDb::Db;
int SessionDb::ConnectResult = -1;

TEST_F(SessionDb, CursorOpenThatFailsReturnsTheNativeErrorAndLeavesNoHandle) {
  // A cursor that holds a statement: the failed open leaves it empty.
  Statement cursor(*Db);
  ASSERT_EQ(Db->FormatSqlText("SELECT 1"), 0);
  ASSERT_EQ(ResultText(OpenCursor(cursor)), "Done 0");
  ASSERT_NE(cursor.Handle(), nullptr);
  ASSERT_EQ(Db->FormatSqlText("SELECT txt FROM NoSuchTable WHERE k = '%s'", "a"), 0);
  EXPECT_EQ(ResultText(OpenCursor(cursor)), "Failed 1");  // SQLite's SQLITE_ERROR
  EXPECT_EQ(cursor.Handle(), nullptr);
  EXPECT_EQ(Db->LastFailure.Records[0].NativeError, 1);
  EXPECT_STREQ(Db->LastFailure.Records[0].State, "HY000");
  EXPECT_NE(std::strstr(Db->LastFailure.Records[0].Message, "NoSuchTable"), nullptr)
      << Db->LastFailure.Records[0].Message;

  char text[11] = "vorher";
  const ColumnBinding columns[] = {{SQL_C_CHAR, text, sizeof text}};
  Db->SqlCode = 100;
  EXPECT_EQ(ResultText(FetchCursor(cursor, columns, 1)), "Failed -1");
  EXPECT_EQ(Db->SqlCode, -1);
  EXPECT_STREQ(text, "vorher");
  CloseCursor(cursor);
  EXPECT_EQ(cursor.Handle(), nullptr);
}

TEST_F(SessionDb, CursorDeliversRowsThenNoMoreRows) {
  ASSERT_EQ(Db->FormatSqlText("SELECT txt, num  FROM Probe  WHERE k IN ('a', 'b')  ORDER BY k "), 0);
  Statement cursor(*Db);
  ASSERT_EQ(ResultText(OpenCursor(cursor)), "Done 0");
  ASSERT_NE(cursor.Handle(), nullptr);
  EXPECT_EQ(Inst->StatementLog(),
            std::vector<std::string>{"SELECT txt, num  FROM Probe  WHERE k IN ('a', 'b')  ORDER BY k "});

  // 12 characters into 11 bytes: the first 10 arrive, with information.
  char text[11];
  int32_t num = 7;
  const ColumnBinding columns[] = {{SQL_C_CHAR, text, sizeof text}, {SQL_C_LONG, &num, sizeof num}};
  std::memset(text, 0, sizeof text);
  EXPECT_EQ(ResultText(FetchCursor(cursor, columns, 2)), "Row 1");  // SQL_SUCCESS_WITH_INFO
  EXPECT_EQ(Db->SqlCode, SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(text, "ABCDEFGHIJ");
  EXPECT_EQ(num, 5);

  // NULLs: the integer keeps what it held before the fetch, the text is empty.
  std::strcpy(text, "vorher");
  EXPECT_EQ(ResultText(FetchCursor(cursor, columns, 2)), "Row 0");
  EXPECT_STREQ(text, "");
  EXPECT_EQ(num, 5);

  EXPECT_EQ(ResultText(FetchCursor(cursor, columns, 2)), "NoRow 100");  // SQL_NO_DATA
  EXPECT_EQ(Db->SqlCode, 100);
  CloseCursor(cursor);
  EXPECT_EQ(cursor.Handle(), nullptr);
  CloseCursor(cursor);  // closing twice is harmless
  EXPECT_EQ(cursor.Handle(), nullptr);
}

TEST_F(SessionDb, SingleRowLookupCountsACutTextAsARow) {
  ASSERT_EQ(Db->FormatSqlText("SELECT txt FROM Probe WHERE k = 'a'"), 0);
  char text[11] = "";
  const ColumnBinding columns[] = {{SQL_C_CHAR, text, sizeof text}};
  Db->SqlCode = 4711;
  EXPECT_EQ(ResultText(LookupSingleRow(*Db, columns, 1)), "Row 1");  // the fetch code of the cut text
  EXPECT_EQ(Db->SqlCode, 0);
  EXPECT_STREQ(text, "ABCDEFGHIJ");
}

TEST_F(SessionDb, SingleRowLookupNullRule) {
  int32_t num = 7;
  char text[11] = "vorher";
  const ColumnBinding columns[] = {{SQL_C_LONG, &num, sizeof num}, {SQL_C_CHAR, text, sizeof text}};

  ASSERT_EQ(Db->FormatSqlText("SELECT num, txt FROM Probe WHERE k = 'b'"), 0);
  EXPECT_EQ(ResultText(LookupSingleRow(*Db, columns, 2)), "Row 0");
  EXPECT_EQ(num, 7);  // the driver writes 0 for a NULL; the preset must stay
  EXPECT_STREQ(text, "");

  // A value of 0 is a value, not a NULL.
  ASSERT_EQ(Db->FormatSqlText("SELECT num, txt FROM Probe WHERE k = 'c'"), 0);
  EXPECT_EQ(ResultText(LookupSingleRow(*Db, columns, 2)), "Row 0");
  EXPECT_EQ(num, 0);
  EXPECT_STREQ(text, "zero");

  num = -3;
  ASSERT_EQ(Db->FormatSqlText("SELECT NULL, COUNT(*) FROM Probe"), 0);
  int32_t count = -1;
  const ColumnBinding mixed[] = {{SQL_C_LONG, &num, sizeof num}, {SQL_C_LONG, &count, sizeof count}};
  EXPECT_EQ(ResultText(LookupSingleRow(*Db, mixed, 2)), "Row 0");
  EXPECT_EQ(num, -3);
  EXPECT_EQ(count, 4);
}

TEST_F(SessionDb, SingleRowLookupWithoutRowOrWithFailingQuery) {
  int32_t num = 7;
  const ColumnBinding columns[] = {{SQL_C_LONG, &num, sizeof num}};
  ASSERT_EQ(Db->FormatSqlText("SELECT num FROM Probe WHERE k = 'none'"), 0);
  EXPECT_EQ(ResultText(LookupSingleRow(*Db, columns, 1)), "NoRow 100");
  EXPECT_EQ(Db->SqlCode, 100);
  EXPECT_EQ(num, 7);

  ASSERT_EQ(Db->FormatSqlText("SELECT num FROM NoSuchTable"), 0);
  Db->SqlCode = 4711;
  const StatementResult failed = LookupSingleRow(*Db, columns, 1);
  EXPECT_TRUE(failed.Failed()) << ResultText(failed);
  EXPECT_EQ(Db->SqlCode, 4711) << "a failed lookup leaves SqlCode alone";
  EXPECT_EQ(Db->LastFailure.Records[0].NativeError, 1);
  EXPECT_NE(std::strstr(Db->LastFailure.Records[0].Message, "NoSuchTable"), nullptr)
      << Db->LastFailure.Records[0].Message;
  EXPECT_EQ(num, 7);
}

// The text reaches the data source byte for byte, blanks included, with
// values quoted.
TEST_F(SessionDb, QueryTextIsSentAsFormatted) {
  char quoted[32];
  ASSERT_EQ(
      Db->FormatSqlText("SELECT txt  FROM Probe  WHERE k = '%s' ", QuoteSqlValue("O'Brien", quoted, sizeof quoted)),
      0);
  char text[11] = "";
  const ColumnBinding columns[] = {{SQL_C_CHAR, text, sizeof text}};
  EXPECT_EQ(ResultText(LookupSingleRow(*Db, columns, 1)), "Row 0");
  EXPECT_STREQ(text, "quote");
  EXPECT_EQ(Inst->StatementLog(), std::vector<std::string>{"SELECT txt  FROM Probe  WHERE k = 'O''Brien' "});
}

// A query that does not fit SqlText is never sent, not even cut; one that
// just fits is sent whole. The query ends in a comment, so that a cut text
// would still run (and show in the statement log).
TEST_F(SessionDb, QueryThatDoesNotFitNeverReachesTheDataSource) {
  const std::string longest(SqlTextSize - 1 - std::strlen("SELECT 'x' -- "), 'q');
  ASSERT_EQ(Db->FormatSqlText("SELECT 'x' -- %s", longest.c_str()), 0);
  char value[4] = "";
  const ColumnBinding columns[] = {{SQL_C_CHAR, value, sizeof value}};
  EXPECT_EQ(ResultText(LookupSingleRow(*Db, columns, 1)), "Row 0");
  EXPECT_STREQ(value, "x");
  EXPECT_EQ(Inst->StatementLog(), std::vector<std::string>{"SELECT 'x' -- " + longest});

  Inst->ClearStatementLog();
  const std::string tooLong = longest + "q";
  std::strcpy(value, "");
  EXPECT_EQ(Db->FormatSqlText("SELECT 'x' -- %s", tooLong.c_str()), -1);
  EXPECT_EQ(ResultText(LookupSingleRow(*Db, columns, 1)), "Failed -1");

  EXPECT_EQ(Db->FormatSqlText("SELECT 'x' -- %s", tooLong.c_str()), -1);
  Statement cursor(*Db);
  EXPECT_EQ(ResultText(OpenCursor(cursor)), "Failed -1");
  EXPECT_EQ(Db->LastFailure.Records[0].NativeError, -1);
  EXPECT_EQ(cursor.Handle(), nullptr);
  EXPECT_EQ(ResultText(FetchCursor(cursor, columns, 1)), "Failed -1");
  EXPECT_STREQ(value, "");
  EXPECT_EQ(Inst->StatementLog(), std::vector<std::string>{});
}

// While a cursor has unread rows, lookups run on the same connection and the
// cursor goes on where it was.
TEST_F(SessionDb, LookupsInterleaveWithAnOpenCursor) {
  ASSERT_EQ(Db->FormatSqlText("SELECT k FROM Probe ORDER BY k"), 0);
  Statement cursor(*Db);
  ASSERT_EQ(ResultText(OpenCursor(cursor)), "Done 0");
  char key[16];
  const ColumnBinding keyColumn[] = {{SQL_C_CHAR, key, sizeof key}};
  std::vector<std::string> keys;
  while (FetchCursor(cursor, keyColumn, 1).IsRow()) {
    keys.push_back(key);
    char quoted[32];
    ASSERT_EQ(
        Db->FormatSqlText("SELECT COUNT(*) FROM Probe WHERE k = '%s'", QuoteSqlValue(key, quoted, sizeof quoted)),
        0);
    int32_t count = 0;
    const ColumnBinding countColumn[] = {{SQL_C_LONG, &count, sizeof count}};
    EXPECT_EQ(ResultText(LookupSingleRow(*Db, countColumn, 1)), "Row 0");
    EXPECT_EQ(count, 1) << key;
  }
  EXPECT_EQ(Db->SqlCode, 100);
  CloseCursor(cursor);
  EXPECT_EQ(keys, (std::vector<std::string>{"O'Brien", "a", "b", "c"}));
}

// The failed connects are made on a session of their own, so that the
// other tests keep their connection.
TEST_F(SessionDb, ConnectToAnUnknownDataSourceFails) {
  Session other;
  EXPECT_EQ(other.Connect("u", "p", "NOSUCHDSN", ""), -1);
  EXPECT_EQ(other.Connect("u", "p", (Inst->Dsn + "X").c_str(), ""), -1);
  EXPECT_EQ(other.Connect("u", "p", "", ""), -1);
  // unixODBC refuses names longer than 32 characters.
  EXPECT_EQ(other.Connect("u", "p", std::string(33, 'D').c_str(), ""), -1);
}

}  // namespace
