// Cursors fetch their rows in blocks and hand them out one at a time: every
// row must reach the caller's buffers, with the code, exactly as a fetch of
// that row alone would have written it. Through the three ways the tool
// meets a data source: the SQLite driver reading whole results, the SQLite
// driver stepping through them (StepAPI=1), and FreeTDS with server cursors.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "db/session.h"
#include "installation.h"

namespace {

enum class Path { Sqlite, SqliteStepApi, FreeTds };

// A statement result as one comparable text: "Row 0", "NoRow 100",
// "Done 0", "Failed -1".
std::string ResultText(StatementResult r) {
  const char* names[] = {"Done", "Row", "NoRow", "Failed"};
  return std::string(names[static_cast<int>(r.Is)]) + " " + std::to_string(r.Code);
}

std::string PathName(Path path) {
  switch (path) {
    case Path::Sqlite: return "Sqlite";
    case Path::SqliteStepApi: return "SqliteStepApi";
    case Path::FreeTds: return "FreeTds";
  }
  return "";
}

// 40 rows: k 1..40, txt 'r<k>' and num k * 10, except a NULL text at 5, a
// NULL text and number at 18, a NULL number at 30, a text longer than the
// 8-byte buffer at 21 and a short one at 22 (both in the second block).
const char* const TableRows =
    "CREATE TABLE Blk (k INTEGER, txt TEXT, num INTEGER);"
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 40) "
    "INSERT INTO Blk SELECT x, 'r' || x, x * 10 FROM c;"
    "UPDATE Blk SET txt = NULL WHERE k IN (5, 18);"
    "UPDATE Blk SET num = NULL WHERE k IN (18, 30);"
    "UPDATE Blk SET txt = 'ABCDEFGHIJKLMNOP' WHERE k = 21;"
    "UPDATE Blk SET txt = 'ab' WHERE k = 22;";

// One installation for the suite, its database served by the SQLite
// driver with and without StepAPI (a second data source of the same file)
// and by FreeTDS; each test connects through its path.
class BlockFetch : public ::testing::TestWithParam<Path> {
 protected:
  static void SetUpTestSuite() {
    Inst = std::make_unique<ScratchInstallation>(ScratchInstallation::Empty(true));
    Inst->Exec(TableRows);
    Inst->ServeBy(ServedBy::FreeTds);
    // The same data source without StepAPI, under a name of its own.
    std::ifstream in(Inst->Root + "/odbc.ini");
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    const size_t start = all.find("[" + Inst->Dsn + "]");
    ASSERT_NE(start, std::string::npos) << all;
    std::string section = all.substr(start, all.find("\n[", start) - start);
    section.replace(0, Inst->Dsn.size() + 2, "[" + WholeResultsDsn() + "]");
    const size_t step = section.find("StepAPI=1");
    ASSERT_NE(step, std::string::npos) << section;
    section.replace(step, 9, "StepAPI=0");
    std::ofstream(Inst->Root + "/odbc.ini", std::ios::app) << "\n" << section << "\n";
    Inst->UseInThisProcess();
  }
  static void TearDownTestSuite() { Inst.reset(); }
  static std::string WholeResultsDsn() { return Inst->Dsn + "_W"; }

  void SetUp() override {
    const std::string dsn =
        GetParam() == Path::FreeTds ? Inst->TdsDsn : GetParam() == Path::Sqlite ? WholeResultsDsn() : Inst->Dsn;
    ASSERT_EQ(Db.Connect("gentrmx", "geheim", dsn.c_str(), ""), 0) << dsn;
    Inst->ClearRequestLog();
  }

  static size_t CursorFetchRequests() {
    size_t n = 0;
    for (const std::string& request : Inst->RequestLog()) n += request.rfind("RPC:sp_cursorfetch", 0) == 0;
    return n;
  }

  static std::unique_ptr<ScratchInstallation> Inst;
  // The test's session, disconnected when the test ends.
  Session Db;
};
std::unique_ptr<ScratchInstallation> BlockFetch::Inst;

// Each row into buffers preset before its fetch: a value ends at its
// terminator and the rest of the text buffer stays; a NULL text reads as
// empty with the rest staying; a NULL number keeps its preset; a cut text
// gives code 1 at its own row only. Only an explicit end ends the cursor:
// after the short third block comes one more fetch, which finds no row.
void ExpectTheFortyRows(Statement& cursor) {
  int32_t k = 0, num = 0;
  char txt[8];
  const ColumnBinding columns[] = {
      {SQL_C_LONG, &k, sizeof k}, {SQL_C_CHAR, txt, sizeof txt}, {SQL_C_LONG, &num, sizeof num}};
  for (int row = 1; row <= 40; ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    num = -7;
    std::memcpy(txt, "XXXXXXX", sizeof txt);
    const int rc = row == 21 ? 1 : 0;
    ASSERT_EQ(ResultText(FetchCursor(cursor, columns, 3)), "Row " + std::to_string(rc));
    EXPECT_EQ(cursor.Db().SqlCode, rc);
    EXPECT_EQ(k, row);
    EXPECT_EQ(num, row == 18 || row == 30 ? -7 : row * 10);
    std::string value = "r" + std::to_string(row);
    if (row == 5 || row == 18) value = "";
    if (row == 21) value = "ABCDEFG";
    if (row == 22) value = "ab";
    std::string expected("XXXXXXX", sizeof txt);
    expected.replace(0, value.size() + 1, value + '\0');
    EXPECT_EQ(std::string(txt, sizeof txt), expected);
  }
  EXPECT_EQ(ResultText(FetchCursor(cursor, columns, 3)), "NoRow 100");  // SQL_NO_DATA
  EXPECT_EQ(cursor.Db().SqlCode, SQL_NO_DATA);
}

TEST_P(BlockFetch, RowsReachTheCallersBuffersAsFetchedOneByOne) {
  ASSERT_EQ(Db.FormatSqlText("SELECT k, txt, num FROM Blk ORDER BY k"), 0);
  Statement cursor(Db);
  ASSERT_EQ(ResultText(OpenCursor(cursor)), "Done 0");
  ExpectTheFortyRows(cursor);
  CloseCursor(cursor);
  EXPECT_EQ(cursor.Handle(), nullptr);
  if (GetParam() == Path::FreeTds) {
    EXPECT_EQ(CursorFetchRequests(), 4u) << "16 + 16 + 8 rows, then the end";
  }
}

// A plain statement gives the same rows and codes, all from the one reply
// to its SQL batch. Read to its end, it has ended its reply: the next
// statement runs while it is still allocated, and freeing it cancels
// nothing.
TEST_P(BlockFetch, PlainStatementGivesTheRowsFromOneReply) {
  const std::string query = "SELECT k, txt, num FROM Blk ORDER BY k";
  ASSERT_EQ(Db.FormatSqlText("%s", query.c_str()), 0);
  Statement plain(Db);
  ASSERT_EQ(ResultText(OpenResultSet(plain)), "Done 0");
  ExpectTheFortyRows(plain);
  ASSERT_EQ(Db.FormatSqlText("SELECT num FROM Blk WHERE k = 3"), 0);
  int32_t num = 0;
  const ColumnBinding column = {SQL_C_LONG, &num, sizeof num};
  EXPECT_EQ(ResultText(RunLookup(Db, &column, 1)), "Row 0");
  EXPECT_EQ(num, 30);
  CloseCursor(plain);
  if (GetParam() == Path::FreeTds) {
    EXPECT_EQ(Inst->RequestLog(),
              (std::vector<std::string>{"SQLBATCH\t" + query, "SQLBATCH\tSELECT num FROM Blk WHERE k = 3"}));
  }
}

// abs() of the smallest integer fails at row 20 (no ORDER BY: SQLite would
// compute every row before sorting). Reading whole results, the open fails;
// otherwise the 19 rows before it come first, across the first block, and
// the failure comes at its row, with the driver's diagnostics then on the
// statement (the SQLite driver reports it with the block as SQL_ERROR,
// FreeTDS as SQL_SUCCESS_WITH_INFO).
TEST_P(BlockFetch, FailureInsideABlockComesAtItsRow) {
  ASSERT_EQ(Db.FormatSqlText("SELECT k, CASE WHEN k = 20 THEN abs(-9223372036854775808) ELSE num END FROM Blk"), 0);
  Statement cursor(Db);
  if (GetParam() == Path::Sqlite) {
    EXPECT_EQ(ResultText(OpenCursor(cursor)), "Failed 1");
    EXPECT_NE(std::strstr(Db.LastFailure.Records[0].Message, "integer overflow"), nullptr);
    return;
  }
  ASSERT_EQ(ResultText(OpenCursor(cursor)), "Done 0");
  int32_t k = 0, num = 0;
  const ColumnBinding columns[] = {{SQL_C_LONG, &k, sizeof k}, {SQL_C_LONG, &num, sizeof num}};
  for (int row = 1; row < 20; ++row) {
    ASSERT_EQ(ResultText(FetchCursor(cursor, columns, 2)), "Row 0") << row;
    EXPECT_EQ(k, row);
  }
  k = -1;
  std::memset(&Db.LastFailure, 0, sizeof Db.LastFailure);
  EXPECT_EQ(ResultText(FetchCursor(cursor, columns, 2)), "Failed -1");  // SQL_ERROR
  EXPECT_EQ(Db.SqlCode, SQL_ERROR);
  EXPECT_EQ(k, -1) << "no row delivered with the failure";
  // The failed fetch holds the driver's records.
  ASSERT_GT(Db.LastFailure.Count, 0);
  EXPECT_NE(std::strstr(Db.LastFailure.Records[0].Message, "integer overflow"), nullptr)
      << Db.LastFailure.Records[0].Message;
  if (GetParam() == Path::SqliteStepApi) {
    EXPECT_EQ(ResultText(FetchCursor(cursor, columns, 2)), "NoRow 100") << "as after a failing fetch of one row";
  }
  CloseCursor(cursor);
  EXPECT_EQ(cursor.Handle(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Paths, BlockFetch, ::testing::Values(Path::Sqlite, Path::SqliteStepApi, Path::FreeTds),
                         [](const ::testing::TestParamInfo<Path>& info) { return PathName(info.param); });

}  // namespace
