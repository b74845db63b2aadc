// The busy-check build's guard for SQL Server's rule: a statement executed
// without cursor attributes keeps the connection busy until its rows are
// read to the end or its handle is freed.
#include <gtest/gtest.h>

#include <string>

#include "db/session.h"
#include "installation.h"

namespace {

#ifdef GENTRMX_BUSY_CHECK

const char* const TwoRows = "SELECT 1 UNION ALL SELECT 2";

// Executes TwoRows on a new statement of db, without or with cursor
// attributes.
Statement ExecuteTwoRows(Session& db, bool serverCursor) {
  Statement stmt(db);
  EXPECT_TRUE(stmt.Allocate());
  if (serverCursor) {
    EXPECT_TRUE(stmt.UseServerCursor());
  }
  EXPECT_EQ(db.FormatSqlText("%s", TwoRows), 0);
  EXPECT_TRUE(stmt.Execute().Is == Outcome::Done);
  return stmt;
}

// Reads one row; what the fetch gave: "Row", "NoRow" or "Failed".
int32_t Value = 0;
const ColumnBinding ValueColumn = {SQL_C_LONG, &Value, sizeof Value};
std::string FetchOne(Statement& stmt) {
  const StatementResult fetched = stmt.Fetch(&ValueColumn, 1);
  return fetched.IsRow() ? "Row" : fetched.IsNoRow() ? "NoRow" : "Failed";
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
        Session db;
        db.Connect("u", "p", Inst->Dsn.c_str(), "");
        Statement first = ExecuteTwoRows(db, false);
        FetchOne(first);
        ExecuteTwoRows(db, true);
      },
      "BUSY-RULE VIOLATION");
}

TEST_F(BusyCheck, ServerCursorsAndResultsReadToTheEndOrFreedDoNotBlock) {
  Session db;
  ASSERT_EQ(db.Connect("u", "p", Inst->Dsn.c_str(), ""), 0);
  // A server cursor with unread rows.
  Statement cursor = ExecuteTwoRows(db, true);
  EXPECT_EQ(FetchOne(cursor), "Row");
  // A default result set read to its end.
  Statement read = ExecuteTwoRows(db, false);
  EXPECT_EQ(FetchOne(read), "Row");
  EXPECT_EQ(FetchOne(read), "Row");
  EXPECT_EQ(FetchOne(read), "NoRow");
  // A default result set freed with rows unread.
  Statement freed = ExecuteTwoRows(db, false);
  freed.Free();
  Statement last = ExecuteTwoRows(db, false);
  last.Free();
  read.Free();
  EXPECT_EQ(FetchOne(cursor), "Row");  // the server cursor still reads on
  cursor.Free();
}

// A lookup ends by reading the rest of its reply: its statement no longer
// keeps the connection busy, even before it is freed.
TEST_F(BusyCheck, AResultEndedWithItsRestReadDoesNotBlock) {
  Session db;
  ASSERT_EQ(db.Connect("u", "p", Inst->Dsn.c_str(), ""), 0);
  Statement lookup = ExecuteTwoRows(db, false);
  EXPECT_EQ(FetchOne(lookup), "Row");
  EXPECT_TRUE(lookup.EndResults());
  EXPECT_EQ(Value, 1) << "the rest of the reply must not reach the bound buffer";
  Statement next = ExecuteTwoRows(db, false);
  EXPECT_EQ(FetchOne(next), "Row");
  next.Free();
  lookup.Free();
}

// The rule is one connection's: unread rows of a default result set on
// one session leave the statements of another session free.
TEST_F(BusyCheck, UnreadRowsOfOneSessionDoNotBlockAnother) {
  Session first;
  Session second;
  ASSERT_EQ(first.Connect("u", "p", Inst->Dsn.c_str(), ""), 0);
  ASSERT_EQ(second.Connect("u", "p", Inst->Dsn.c_str(), ""), 0);
  Statement pending = ExecuteTwoRows(first, false);
  EXPECT_EQ(FetchOne(pending), "Row");
  Statement other = ExecuteTwoRows(second, false);
  EXPECT_EQ(FetchOne(other), "Row");
  other.Free();
  pending.Free();
}

#else

TEST(BusyCheck, NeedsTheBusyCheckBuild) { GTEST_SKIP() << "built without GENTRMX_BUSY_CHECK"; }

#endif

}  // namespace
