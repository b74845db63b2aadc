// gentrmx-floor: the floor a gentrmx run is measured against. It replays a
// statement log written by the data source extension (GENTRMX_SQL_LOG,
// records "@@STMT <length>\n" <text> "\n") through unixODBC on the same data
// source, and does for each statement only what any client must do to get
// its rows: allocate a statement handle, execute the text directly, bind
// every result column as text into a static buffer, fetch until no more
// rows, release the handle. Nothing is looked at, formatted or written.
//
//   gentrmx-floor [--hold <prefix>] <data source name> <statement log>
//
// --hold: the tool keeps its badge cursor open while it runs the statements
// of each badge, and SQLite keeps one read transaction (one shared lock, one
// check of the file and the page cache) for as long as a statement is open.
// Replayed one after the other, each statement would pay for a lock and
// those checks of its own, which the tool does not. A statement whose text
// begins with <prefix> therefore delivers its first row at once and its
// other rows after every later statement of the log has been replayed: the
// same statements and the same rows, with the read transaction held as in
// the tool's run.
//
// Prints one line to standard error at the end: statements, rows, failures.
// Exit status 0, or 1 when the set-up failed (connect, unreadable log).
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Room for the longest statement the tool can send (its statement text
// holds 2016 bytes) and more.
constexpr size_t MaxStatement = 1 << 16;
char Statement[MaxStatement + 1];

// One receiving buffer per result column, large enough for any column the
// tool's queries select.
constexpr SQLSMALLINT MaxColumns = 64;
constexpr SQLLEN ColumnSize = 256;
char Columns[MaxColumns][ColumnSize];
SQLLEN Indicators[MaxColumns];

// Statements held open (see --hold), fetched to their end after the replay.
constexpr int MaxHeld = 16;
SQLHSTMT Held[MaxHeld];
int HeldCount = 0;

long Rows = 0;
long Failures = 0;

// Fetches the rest of a statement's rows and releases it.
void FetchToEnd(SQLHSTMT stmt) {
  SQLRETURN rc;
  for (;;) {
    rc = SQLFetch(stmt);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    ++Rows;
  }
  if (rc != SQL_NO_DATA) ++Failures;
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

// Reads the next record of the log into Statement. Returns its length, or
// -1 at the end of the log; exits on a malformed log.
long ReadStatement(FILE* log) {
  char header[64];
  if (std::fgets(header, sizeof header, log) == nullptr) return -1;
  char* end = nullptr;
  if (std::strncmp(header, "@@STMT ", 7) != 0) {
    std::fprintf(stderr, "gentrmx-floor: not a statement log record: %s", header);
    std::exit(1);
  }
  long length = std::strtol(header + 7, &end, 10);
  if (end == header + 7 || *end != '\n' || length < 0 || static_cast<size_t>(length) > MaxStatement) {
    std::fprintf(stderr, "gentrmx-floor: bad record header: %s", header);
    std::exit(1);
  }
  if (std::fread(Statement, 1, static_cast<size_t>(length), log) != static_cast<size_t>(length) ||
      std::fgetc(log) != '\n') {
    std::fprintf(stderr, "gentrmx-floor: statement log ends inside a record\n");
    std::exit(1);
  }
  Statement[length] = '\0';
  return length;
}

}  // namespace

int main(int argc, char** argv) {
  const char* hold = nullptr;
  int arg = 1;
  if (argc == 5 && std::strcmp(argv[1], "--hold") == 0) {
    hold = argv[2];
    arg = 3;
  }
  if (argc - arg != 2) {
    std::fprintf(stderr, "usage: gentrmx-floor [--hold <prefix>] <data source name> <statement log>\n");
    return 1;
  }
  const char* source = argv[arg];
  FILE* log = std::fopen(argv[arg + 1], "rb");
  if (log == nullptr) {
    std::perror(argv[arg + 1]);
    return 1;
  }
  const size_t holdLength = hold != nullptr ? std::strlen(hold) : 0;

  SQLHENV environment = SQL_NULL_HENV;
  SQLHDBC connection = SQL_NULL_HDBC;
  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment) == SQL_ERROR) return 1;
  SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), SQL_IS_INTEGER);
  if (SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection) == SQL_ERROR) return 1;
  SQLRETURN rc = SQLConnect(connection, reinterpret_cast<SQLCHAR*>(const_cast<char*>(source)), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>("floor")), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>("")), SQL_NTS);
  if (rc == SQL_ERROR) {
    std::fprintf(stderr, "gentrmx-floor: cannot connect to %s\n", source);
    return 1;
  }

  long statements = 0;
  long length;
  while ((length = ReadStatement(log)) >= 0) {
    ++statements;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (SQLAllocHandle(SQL_HANDLE_STMT, connection, &stmt) == SQL_ERROR) {
      ++Failures;
      continue;
    }
    if (SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(Statement), static_cast<SQLINTEGER>(length)) ==
        SQL_ERROR) {
      ++Failures;
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      continue;
    }
    SQLSMALLINT count = 0;
    SQLNumResultCols(stmt, &count);
    if (count > MaxColumns) count = MaxColumns;
    for (SQLSMALLINT c = 0; c < count; ++c)
      SQLBindCol(stmt, static_cast<SQLUSMALLINT>(c + 1), SQL_C_CHAR, Columns[c], ColumnSize, &Indicators[c]);
    if (hold != nullptr && HeldCount < MaxHeld && std::strncmp(Statement, hold, holdLength) == 0) {
      rc = SQLFetch(stmt);
      if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        ++Rows;
        Held[HeldCount++] = stmt;
        continue;
      }
      if (rc != SQL_NO_DATA) ++Failures;
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      continue;
    }
    FetchToEnd(stmt);
  }
  std::fclose(log);
  for (int i = HeldCount - 1; i >= 0; --i) FetchToEnd(Held[i]);
  std::fprintf(stderr, "gentrmx-floor: %ld statements, %ld rows, %ld failed\n", statements, Rows, Failures);
  return 0;
}
