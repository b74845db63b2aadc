// The busy-check build's guard for SQL Server's rule: a statement executed
// without cursor attributes keeps the connection busy until its rows are
// read to the end or its handle is freed.
#include <gtest/gtest.h>

#include "db/session.h"
#include "installation.h"

namespace {

#ifdef GENTRMX_BUSY_CHECK

const char* const TwoRows = "SELECT 1 UNION ALL SELECT 2";

// Executes TwoRows on a new statement, without or with cursor attributes.
SQLHSTMT ExecuteTwoRows(bool serverCursor) {
  SQLHSTMT stmt = AllocateStatement();
  FormatSqlText("%s", TwoRows);
  EXPECT_NE(ExecuteStatement(stmt, serverCursor), SQL_ERROR);
  return stmt;
}

// Reads one row; the fetch result.
SQLRETURN FetchOne(SQLHSTMT stmt) {
  int32_t value = 0;
  const ColumnBinding column = {SQL_C_LONG, &value, sizeof value};
  return BindAndFetch(stmt, &column, 1);
}

class BusyCheck : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Inst = new ScratchInstallation(ScratchInstallation::Empty());
    Inst->UseInThisProcess();
  }
  static void TearDownTestSuite() {
    delete Inst;
    Inst = nullptr;
  }
  static ScratchInstallation* Inst;
};
ScratchInstallation* BusyCheck::Inst = nullptr;

TEST_F(BusyCheck, StatementWhileADefaultResultSetHasUnreadRowsAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        ConnectDatabase("u", "p", Inst->Dsn.c_str(), "");
        SQLHSTMT first = ExecuteTwoRows(false);
        FetchOne(first);
        ExecuteTwoRows(true);
      },
      "BUSY-RULE VIOLATION");
}

TEST_F(BusyCheck, ServerCursorsAndResultsReadToTheEndOrFreedDoNotBlock) {
  ASSERT_EQ(ConnectDatabase("u", "p", Inst->Dsn.c_str(), ""), 0);
  // A server cursor with unread rows.
  SQLHSTMT cursor = ExecuteTwoRows(true);
  EXPECT_EQ(FetchOne(cursor), SQL_SUCCESS);
  // A default result set read to its end.
  SQLHSTMT read = ExecuteTwoRows(false);
  EXPECT_EQ(FetchOne(read), SQL_SUCCESS);
  EXPECT_EQ(FetchOne(read), SQL_SUCCESS);
  EXPECT_EQ(FetchOne(read), SQL_NO_DATA);
  // A default result set freed with rows unread.
  SQLHSTMT freed = ExecuteTwoRows(false);
  FreeStatement(freed);
  SQLHSTMT last = ExecuteTwoRows(false);
  FreeStatement(last);
  FreeStatement(read);
  EXPECT_EQ(FetchOne(cursor), SQL_SUCCESS);  // the server cursor still reads on
  FreeStatement(cursor);
}

#else

TEST(BusyCheck, NeedsTheBusyCheckBuild) { GTEST_SKIP() << "built without GENTRMX_BUSY_CHECK"; }

#endif

}  // namespace
