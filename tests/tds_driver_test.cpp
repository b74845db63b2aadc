// FreeTDS's ODBC driver, through the unixODBC driver manager, against the TDS
// test server: the driver behaviour the tool relies on with SQL Server
// (server cursors next to lookups, the busy connection, code page 1252 bytes,
// refused logins, failing rows, cancels).
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tds_server.h"

namespace {

struct Diag {
  std::string State;
  SQLINTEGER Native;
  std::string Message;
};

std::vector<Diag> Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<Diag> result;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {0}, message[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length))) break;
    result.push_back({reinterpret_cast<char*>(state), native, reinterpret_cast<char*>(message)});
  }
  return result;
}

std::string Describe(const std::vector<Diag>& diags) {
  std::string text;
  for (const Diag& d : diags) text += d.State + " " + std::to_string(d.Native) + " " + d.Message + "\n";
  return text;
}

// Bytes 0x01-0xFF without the five code page 1252 leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D): FreeTDS converts statement texts to UTF-16 with
// iconv, which refuses those.
std::string DefinedCp1252() {
  std::string text;
  for (int c = 1; c < 256; ++c) {
    if (c != 0x81 && c != 0x8D && c != 0x8F && c != 0x90 && c != 0x9D) text += static_cast<char>(c);
  }
  return text;
}

// A fresh folder with the database: table t (id, name, note) with four rows,
// the second note NULL and the third longer than the tests' buffers, and
// table b holding every byte 0x01-0xFF in one value (k = 1) and the bytes
// of DefinedCp1252 in another (k = 2).
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/gentrmx_tds_XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    Root = pattern;
    DbPath = Root + "/db.sqlite";
    sqlite3* db = nullptr;
    if (sqlite3_open(DbPath.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot create " + DbPath);
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    const char* sql =
        "CREATE TABLE t (id INTEGER, name VARCHAR(20), note VARCHAR(30));"
        "INSERT INTO t VALUES (1, 'eins', 'n1'), (2, 'zwei', NULL), (3, 'drei', 'a longer note'), (4, 'vier', 'n4');"
        "CREATE TABLE b (k INTEGER, v VARCHAR(300));";
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) throw std::runtime_error(error);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO b VALUES (?1, ?2)", -1, &insert, nullptr);
    for (const std::string& value : {all, DefinedCp1252()}) {
      sqlite3_bind_int(insert, 1, value == all ? 1 : 2);
      sqlite3_bind_text(insert, 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
      if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error("insert into b failed");
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
  }
  ~Scratch() {
    if (!getenv("GENTRMX_KEEP_SCRATCH")) system(("rm -rf '" + Root + "'").c_str());
  }
  std::string Root, DbPath;
};

std::string ConnectionString(int port, const std::string& password) {
  return std::string("DRIVER={") + GENTRMX_FREETDS_ODBC_DRIVER + "};Server=127.0.0.1;Port=" + std::to_string(port) +
         ";TDS_Version=7.4;ClientCharset=CP1252;UID=tester;PWD=" + password + ";Database=DRAVONIX";
}

// One environment and connection handle; Connect returns the SQLDriverConnect result.
struct Odbc {
  SQLHENV Env = SQL_NULL_HENV;
  SQLHDBC Dbc = SQL_NULL_HDBC;
  bool Connected = false;
  Odbc() {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &Env);
    SQLSetEnvAttr(Env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, Env, &Dbc);
  }
  ~Odbc() {
    if (Connected) SQLDisconnect(Dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, Dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, Env);
  }
  SQLRETURN Connect(const std::string& text) {
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    SQLRETURN rc = SQLDriverConnect(Dbc, nullptr, (SQLCHAR*)text.c_str(), SQL_NTS, out, sizeof out, &outLength,
                                    SQL_DRIVER_NOPROMPT);
    Connected = SQL_SUCCEEDED(rc);
    return rc;
  }
  SQLHSTMT Statement(bool cursor) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    EXPECT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, Dbc, &stmt));
    if (cursor) {
      EXPECT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_SCROLLABLE,
                                            reinterpret_cast<SQLPOINTER>(SQL_NONSCROLLABLE), 0));
      EXPECT_EQ(SQL_SUCCESS,
                SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK), 0));
    }
    return stmt;
  }
};

SQLRETURN Exec(SQLHSTMT stmt, const std::string& sql) {
  return SQLExecDirect(stmt, (SQLCHAR*)sql.data(), static_cast<SQLINTEGER>(sql.size()));
}

class TdsDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TdsServerOptions options;
    options.DbPath = Dir.DbPath;
    options.User = "tester";
    options.Password = "secret";
    options.LogPath = Dir.Root + "/requests.log";
    options.ExtraEnv = {"GENTRMX_SQL_LOG=" + Dir.Root + "/sql.log"};
    options.DropAfter = DropAfter;
    options.SilentAfter = SilentAfter;
    Server = std::make_unique<TdsTestServer>(options);
  }
  void ConnectOk() {
    SQLRETURN rc = Db.Connect(ConnectionString(Server->Port(), "secret"));
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Describe(Diagnostics(SQL_HANDLE_DBC, Db.Dbc));
  }
  // The request log from the first request after the login.
  std::vector<std::string> Requests() const {
    std::vector<std::string> lines = Server->RequestLog();
    EXPECT_GE(lines.size(), 2u);
    EXPECT_EQ("PRELOGIN", lines.at(0));
    EXPECT_EQ("LOGIN7", lines.at(1));
    return std::vector<std::string>(lines.begin() + 2, lines.end());
  }

  int DropAfter = 0;
  int SilentAfter = 0;
  Scratch Dir;
  std::unique_ptr<TdsTestServer> Server;
  Odbc Db;
};

// Reads one row of "SELECT name FROM t WHERE id = <id>" to its end, as a
// lookup that stays within the busy rule does.
std::string Lookup(Odbc& db, int id) {
  SQLHSTMT stmt = db.Statement(false);
  char name[32] = "";
  SQLLEN indicator = 0;
  EXPECT_EQ(SQL_SUCCESS, Exec(stmt, "SELECT name FROM t WHERE id = " + std::to_string(id)))
      << Describe(Diagnostics(SQL_HANDLE_STMT, stmt));
  SQLBindCol(stmt, 1, SQL_C_CHAR, name, sizeof name, &indicator);
  EXPECT_EQ(SQL_SUCCESS, SQLFetch(stmt));
  EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return name;
}

TEST_F(TdsDriverTest, ServerCursorRowsInterleaveWithLookups) {
  ConnectOk();
  SQLHSTMT cursor = Db.Statement(true);
  const std::string query = "SELECT id, note FROM t ORDER BY id";
  ASSERT_EQ(SQL_SUCCESS, Exec(cursor, query)) << Describe(Diagnostics(SQL_HANDLE_STMT, cursor));
  SQLINTEGER id = -1;
  char note[6];
  SQLLEN idIndicator = 0, noteIndicator = 0;
  ASSERT_EQ(SQL_SUCCESS, SQLBindCol(cursor, 1, SQL_C_LONG, &id, 0, &idIndicator));
  ASSERT_EQ(SQL_SUCCESS, SQLBindCol(cursor, 2, SQL_C_CHAR, note, sizeof note, &noteIndicator));

  ASSERT_EQ(SQL_SUCCESS, SQLFetch(cursor));
  EXPECT_EQ(1, id);
  EXPECT_STREQ("n1", note);
  EXPECT_EQ(2, noteIndicator);
  EXPECT_EQ("eins", Lookup(Db, 1));

  // NULL: the indicator says so and the buffer keeps the row before's text.
  ASSERT_EQ(SQL_SUCCESS, SQLFetch(cursor));
  EXPECT_EQ(2, id);
  EXPECT_EQ(SQL_NULL_DATA, noteIndicator);
  EXPECT_STREQ("n1", note);
  EXPECT_EQ("zwei", Lookup(Db, 2));

  // Too long for the buffer: cut, terminated, 01004.
  ASSERT_EQ(SQL_SUCCESS_WITH_INFO, SQLFetch(cursor));
  EXPECT_EQ(3, id);
  EXPECT_STREQ("a lon", note);
  EXPECT_EQ(13, noteIndicator);
  std::vector<Diag> diags = Diagnostics(SQL_HANDLE_STMT, cursor);
  ASSERT_FALSE(diags.empty());
  EXPECT_EQ("01004", diags[0].State);
  EXPECT_EQ("drei", Lookup(Db, 3));

  ASSERT_EQ(SQL_SUCCESS, SQLFetch(cursor));
  EXPECT_EQ(4, id);
  EXPECT_EQ(SQL_NO_DATA, SQLFetch(cursor));
  SQLFreeHandle(SQL_HANDLE_STMT, cursor);

  const std::vector<std::string> expected = {
      "RPC:sp_cursoropen\t" + query + "\tscrollopt 0x0004 ccopt 0x2002", "RPC:sp_cursoroption", "RPC:sp_cursorfetch",
      "SQLBATCH\tSELECT name FROM t WHERE id = 1",                 "RPC:sp_cursorfetch",
      "SQLBATCH\tSELECT name FROM t WHERE id = 2",                 "RPC:sp_cursorfetch",
      "SQLBATCH\tSELECT name FROM t WHERE id = 3",                 "RPC:sp_cursorfetch",
      "RPC:sp_cursorfetch",          "RPC:sp_cursorclose"};
  EXPECT_EQ(expected, Requests());
}

// A row array of 16 asks the server for 16 rows in one fetch.
TEST_F(TdsDriverTest, ServerCursorFetchesRowArrays) {
  ConnectOk();
  SQLHSTMT cursor = Db.Statement(true);
  SQLINTEGER ids[16] = {0};
  SQLLEN indicators[16] = {0};
  SQLULEN fetched = 0;
  ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(cursor, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(16), 0));
  ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(cursor, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
  ASSERT_EQ(SQL_SUCCESS, Exec(cursor, "SELECT id FROM t"));
  ASSERT_EQ(SQL_SUCCESS, SQLBindCol(cursor, 1, SQL_C_LONG, ids, 0, indicators));
  ASSERT_EQ(SQL_SUCCESS, SQLFetch(cursor)) << Describe(Diagnostics(SQL_HANDLE_STMT, cursor));
  ASSERT_EQ(4u, fetched);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(i + 1, ids[i]);
  EXPECT_EQ(SQL_NO_DATA, SQLFetch(cursor));
  SQLFreeHandle(SQL_HANDLE_STMT, cursor);
  const std::vector<std::string> expected = {"RPC:sp_cursoropen\tSELECT id FROM t\tscrollopt 0x0004 ccopt 0x2002",
                                             "RPC:sp_cursoroption",
                                             "RPC:sp_cursorfetch", "RPC:sp_cursorfetch", "RPC:sp_cursorclose"};
  EXPECT_EQ(expected, Requests());
}

TEST_F(TdsDriverTest, DefaultResultSetKeepsTheConnectionBusyUntilRead) {
  ConnectOk();
  SQLHSTMT first = Db.Statement(false);
  SQLHSTMT second = Db.Statement(false);
  ASSERT_EQ(SQL_SUCCESS, Exec(first, "SELECT id FROM t ORDER BY id"));
  ASSERT_EQ(SQL_SUCCESS, SQLFetch(first));

  ASSERT_EQ(SQL_ERROR, Exec(second, "SELECT name FROM t WHERE id = 1"));
  std::vector<Diag> diags = Diagnostics(SQL_HANDLE_STMT, second);
  ASSERT_FALSE(diags.empty());
  EXPECT_EQ("24000", diags[0].State) << Describe(diags);
  EXPECT_NE(std::string::npos, diags[0].Message.find("Invalid cursor state")) << diags[0].Message;

  // Read to the end: the connection is free again.
  for (int i = 2; i <= 4; ++i) ASSERT_EQ(SQL_SUCCESS, SQLFetch(first));
  ASSERT_EQ(SQL_NO_DATA, SQLFetch(first));
  ASSERT_EQ(SQL_SUCCESS, Exec(second, "SELECT name FROM t WHERE id = 1"));
  ASSERT_EQ(SQL_SUCCESS, SQLFetch(second));
  // SQLMoreResults reads the rest of the reply (the final DONE, whose row
  // count it reports as one more result), so freeing sends no cancel.
  EXPECT_EQ(SQL_SUCCESS, SQLMoreResults(second));
  EXPECT_EQ(SQL_NO_DATA, SQLMoreResults(second));
  SQLFreeHandle(SQL_HANDLE_STMT, second);
  SQLFreeHandle(SQL_HANDLE_STMT, first);
  for (const std::string& line : Requests()) EXPECT_NE("ATTENTION", line);
}

TEST_F(TdsDriverTest, Cp1252BytesPassUnchangedBothWays) {
  ConnectOk();
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);

  SQLHSTMT stmt = Db.Statement(false);
  ASSERT_EQ(SQL_SUCCESS, Exec(stmt, "SELECT v FROM b WHERE k = 1"));
  char value[400];
  SQLLEN indicator = 0;
  SQLBindCol(stmt, 1, SQL_C_CHAR, value, sizeof value, &indicator);
  ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
  ASSERT_EQ(255, indicator);
  EXPECT_EQ(all, std::string(value, 255));
  EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);

  // A statement text holding every byte FreeTDS can convert reaches SQLite
  // as those bytes and its literal matches the stored value.
  std::string literal;
  for (char c : DefinedCp1252()) literal += c == '\'' ? std::string("''") : std::string(1, c);
  const std::string query = "SELECT k FROM b WHERE v = '" + literal + "'";
  stmt = Db.Statement(true);
  ASSERT_EQ(SQL_SUCCESS, Exec(stmt, query)) << Describe(Diagnostics(SQL_HANDLE_STMT, stmt));
  SQLINTEGER k = 0;
  SQLBindCol(stmt, 1, SQL_C_LONG, &k, 0, &indicator);
  ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
  EXPECT_EQ(2, k);
  EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);

  // The five undefined bytes fail on the client, before anything is sent.
  stmt = Db.Statement(false);
  EXPECT_EQ(SQL_ERROR, Exec(stmt, "SELECT k FROM b WHERE v = '\x81'"));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);

  // The statement reached SQLite byte for byte.
  std::ifstream in(Dir.Root + "/sql.log", std::ios::binary);
  std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, log.find("@@STMT " + std::to_string(query.size()) + "\n" + query + "\n"));
}

TEST_F(TdsDriverTest, RefusedLoginAndNoServerGiveTheServersDiagnostics) {
  ASSERT_EQ(SQL_ERROR, Db.Connect(ConnectionString(Server->Port(), "wrong")));
  std::vector<Diag> diags = Diagnostics(SQL_HANDLE_DBC, Db.Dbc);
  ASSERT_EQ(2u, diags.size()) << Describe(diags);
  EXPECT_EQ("42000", diags[0].State);
  EXPECT_EQ(18456, diags[0].Native);
  EXPECT_NE(std::string::npos, diags[0].Message.find("Login failed for user 'tester'.")) << diags[0].Message;
  EXPECT_EQ("08001", diags[1].State);

  // A port nobody listens on: one this process held a moment ago.
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address));
  socklen_t length = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  close(probe);
  Odbc other;
  ASSERT_EQ(SQL_ERROR, other.Connect(ConnectionString(ntohs(address.sin_port), "secret")));
  diags = Diagnostics(SQL_HANDLE_DBC, other.Dbc);
  ASSERT_EQ(2u, diags.size()) << Describe(diags);
  EXPECT_EQ("08S01", diags[0].State);
  EXPECT_EQ(20009, diags[0].Native);  // unable to connect
  EXPECT_EQ("08001", diags[1].State);
}

// abs() of the smallest integer fails with "integer overflow", here at the
// third row. No ORDER BY: SQLite would compute every row before sorting.
const char* const kFailingAtThirdRow =
    "SELECT CASE WHEN id = 3 THEN abs(-9223372036854775808) ELSE id END FROM t";

TEST_F(TdsDriverTest, FailingRowInCursorAndCancelledLookup) {
  ConnectOk();
  SQLHSTMT cursor = Db.Statement(true);
  ASSERT_EQ(SQL_SUCCESS,
            Exec(cursor, kFailingAtThirdRow))
      << Describe(Diagnostics(SQL_HANDLE_STMT, cursor));
  SQLINTEGER id = -1;
  SQLLEN indicator = 0;
  SQLBindCol(cursor, 1, SQL_C_LONG, &id, 0, &indicator);
  ASSERT_EQ(SQL_SUCCESS, SQLFetch(cursor)) << Describe(Diagnostics(SQL_HANDLE_STMT, cursor));
  EXPECT_EQ(1, id);
  ASSERT_EQ(SQL_SUCCESS, SQLFetch(cursor));
  EXPECT_EQ(2, id);
  ASSERT_EQ(SQL_ERROR, SQLFetch(cursor));
  std::vector<Diag> diags = Diagnostics(SQL_HANDLE_STMT, cursor);
  ASSERT_FALSE(diags.empty());
  EXPECT_NE(std::string::npos, diags[0].Message.find("integer overflow")) << Describe(diags);
  SQLFreeHandle(SQL_HANDLE_STMT, cursor);

  // A statement freed with rows unread is cancelled, here while the server
  // is still writing its rows; the connection goes on.
  const std::string many =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 200000) SELECT x FROM c";
  SQLHSTMT stmt = Db.Statement(false);
  ASSERT_EQ(SQL_SUCCESS, Exec(stmt, many));
  ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  EXPECT_EQ("vier", Lookup(Db, 4));

  const std::vector<std::string> requests = Requests();
  ASSERT_EQ(9u, requests.size());
  EXPECT_EQ("RPC:sp_cursorfetch", requests[4]);
  EXPECT_EQ("RPC:sp_cursorclose", requests[5]);
  EXPECT_EQ("SQLBATCH\t" + many, requests[6]);
  EXPECT_EQ("ATTENTION", requests[7]);
  EXPECT_EQ("SQLBATCH\tSELECT name FROM t WHERE id = 4", requests[8]);
}

class TdsDropTest : public TdsDriverTest {
 protected:
  TdsDropTest() { DropAfter = 3; }
};

// The server drops the connection at the first statement (the third request).
TEST_F(TdsDropTest, DroppedConnectionFailsTheStatement) {
  ConnectOk();
  SQLHSTMT stmt = Db.Statement(false);
  EXPECT_EQ(SQL_ERROR, Exec(stmt, "SELECT id FROM t"));
  std::vector<Diag> diags = Diagnostics(SQL_HANDLE_STMT, stmt);
  ASSERT_FALSE(diags.empty());
  EXPECT_EQ(20017, diags[0].Native) << Describe(diags);  // unexpected EOF from the server
  // The connection is known dead from then on.
  EXPECT_EQ(SQL_ERROR, Exec(stmt, "SELECT id FROM t"));
  diags = Diagnostics(SQL_HANDLE_STMT, stmt);
  ASSERT_FALSE(diags.empty());
  EXPECT_EQ("08S01", diags[0].State) << Describe(diags);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

class TdsSilentTest : public TdsDriverTest {
 protected:
  TdsSilentTest() { SilentAfter = 3; }
};

// The server goes silent at the first statement (the third request) but keeps
// the connection open: the statement ends only by the query timeout, and the
// cancel the driver then sends still reaches the server, which leaves it
// unanswered too; the driver gives the connection up after that.
TEST_F(TdsSilentTest, SilentServerHoldsTheStatementUntilTheQueryTimeout) {
  ConnectOk();
  SQLHSTMT stmt = Db.Statement(false);
  ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0));
  EXPECT_EQ(SQL_ERROR, Exec(stmt, "SELECT id FROM t"));
  std::vector<Diag> diags = Diagnostics(SQL_HANDLE_STMT, stmt);
  ASSERT_FALSE(diags.empty());
  EXPECT_EQ("HYT00", diags[0].State) << Describe(diags);  // a dropped connection gives 20017 at once
  EXPECT_EQ(SQL_ERROR, Exec(stmt, "SELECT id FROM t"));
  diags = Diagnostics(SQL_HANDLE_STMT, stmt);
  ASSERT_FALSE(diags.empty());
  EXPECT_EQ("08S01", diags[0].State) << Describe(diags);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  const std::vector<std::string> requests = Requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("SQLBATCH\tSELECT id FROM t", requests[0]);
  EXPECT_EQ("ATTENTION", requests[1]);
}

}  // namespace
