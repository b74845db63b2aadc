// The database session: connection, fetch status, failure record, the
// statement type and the statement conventions shared by every query.
#include "db/session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/trace.h"

DbSessionHandles DbSession = {SQL_NULL_HENV, SQL_NULL_HDBC};
int32_t SqlCode = 0;
FailureRecord LastFailure;

namespace {

// Connect fields hold the settings whole (the settings fields are 51 bytes).
constexpr size_t ConnectFieldSize = 51;

void CopyBounded(char* out, const char* in, size_t size) {
  if (in == nullptr) in = "";
  size_t n = strnlen(in, size - 1);
  std::memcpy(out, in, n);
  out[n] = '\0';
}

#ifdef GENTRMX_BUSY_CHECK
// SQL Server's busy rule, enforced in test builds: a statement executed
// without cursor attributes gets a default result set, which keeps the
// connection busy until its rows are read to the end or its handle is freed.
// Any execution while such a statement has unread rows fails there, so it
// fails here too, loudly. Each Statement knows whether it holds unread rows;
// this counts the statements without cursor attributes that do.
int PendingDefaultResults = 0;

[[noreturn]] void BusyRuleViolated() {
  std::fprintf(stderr,
               "BUSY-RULE VIOLATION: statement executed while another statement without cursor "
               "attributes has unread rows (SQL Server: \"Connection is busy with results for "
               "another hstmt\")\nStatement: %s\n",
               SqlText);
  std::abort();
}
#endif

}  // namespace

int ConnectDatabase(const char* user, const char* password, const char* source, const char* /*schema*/) {
  char userField[ConnectFieldSize];
  char passwordField[ConnectFieldSize];
  char sourceField[ConnectFieldSize];
  CopyBounded(userField, user, sizeof userField);
  CopyBounded(passwordField, password, sizeof passwordField);
  CopyBounded(sourceField, source, sizeof sourceField);

  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &DbSession.Environment) == SQL_ERROR) {
    std::memset(&LastFailure, 0, sizeof LastFailure);
    return -1;
  }
  SQLSetEnvAttr(DbSession.Environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                SQL_IS_INTEGER);
  if (SQLAllocHandle(SQL_HANDLE_DBC, DbSession.Environment, &DbSession.Connection) == SQL_ERROR) {
    CaptureDiagnostics(SQL_HANDLE_ENV, DbSession.Environment);
    return -1;
  }
  SQLRETURN rc = SQLConnect(DbSession.Connection, reinterpret_cast<SQLCHAR*>(sourceField), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(userField), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(passwordField), SQL_NTS);
  std::memset(passwordField, 0, sizeof passwordField);
  if (rc != SQL_ERROR) return 0;
  CaptureDiagnostics(SQL_HANDLE_DBC, DbSession.Connection);
  return -1;
}

void CaptureDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
  std::memset(&LastFailure, 0, sizeof LastFailure);
  for (int i = 0; i < MaxFailureRecords; ++i) {
    DiagnosticRecord& record = LastFailure.Records[i];
    SQLINTEGER native = 0;
    SQLSMALLINT textLength = 0;
    SQLRETURN rc = SQLGetDiagRec(handleType, handle, static_cast<SQLSMALLINT>(i + 1),
                                 reinterpret_cast<SQLCHAR*>(record.State), &native,
                                 reinterpret_cast<SQLCHAR*>(record.Message), sizeof record.Message, &textLength);
    if (!SQL_SUCCEEDED(rc)) {
      std::memset(&record, 0, sizeof record);
      break;
    }
    record.NativeError = native;
    LastFailure.Count = i + 1;
  }
}

int32_t FailureNativeError() { return LastFailure.Count > 0 ? LastFailure.Records[0].NativeError : 0; }

void PrintFailureRecord(const char* secret) {
  const size_t secretLength = secret != nullptr ? std::strlen(secret) : 0;
  for (int i = 0; i < LastFailure.Count; ++i) {
    const DiagnosticRecord& record = LastFailure.Records[i];
    std::printf("DB-Diagnose: SQLSTATE %s, Fehlernummer %ld, Meldung: ", record.State,
                static_cast<long>(record.NativeError));
    const char* text = record.Message;
    while (*text != '\0') {
      const char* found = secretLength > 0 ? std::strstr(text, secret) : nullptr;
      if (found == nullptr) {
        std::fputs(text, stdout);
        break;
      }
      std::fwrite(text, 1, static_cast<size_t>(found - text), stdout);
      std::fputs("***", stdout);
      text = found + secretLength;
    }
    std::fputs("\n", stdout);
  }
}

// ---------------------------------------------------------------------------
// Statement

Statement::Statement(Statement&& other) noexcept { TakeFrom(other); }

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    Free();
    TakeFrom(other);
  }
  return *this;
}

void Statement::TakeFrom(Statement& other) noexcept {
  Handle_ = std::exchange(other.Handle_, static_cast<SQLHSTMT>(SQL_NULL_HSTMT));
  ServerCursor_ = std::exchange(other.ServerCursor_, false);
  RowsPending_ = std::exchange(other.RowsPending_, false);
  const ColumnBinding* columns = std::exchange(other.Columns_, nullptr);
  const int count = std::exchange(other.ColumnCount_, 0);
  // The driver writes the indicators where the binding said: bound anew
  // with this object's indicators.
  if (columns != nullptr) Bind(columns, count);
}

bool Statement::Allocate() noexcept {
  Free();
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (SQLAllocHandle(SQL_HANDLE_STMT, DbSession.Connection, &stmt) == SQL_ERROR) return false;
  Handle_ = stmt;
  return true;
}

void Statement::UseServerCursor() noexcept {
  SQLSetStmtAttr(Handle_, SQL_ATTR_CURSOR_SCROLLABLE, reinterpret_cast<SQLPOINTER>(SQL_NONSCROLLABLE),
                 SQL_IS_INTEGER);
  SQLSetStmtAttr(Handle_, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK), SQL_IS_INTEGER);
  ServerCursor_ = true;
}

SQLRETURN Statement::Execute() noexcept {
#ifdef GENTRMX_BUSY_CHECK
  if (PendingDefaultResults - (RowsPending_ && !ServerCursor_ ? 1 : 0) > 0) BusyRuleViolated();
#endif
  // A query that did not fit SqlText was cleared by FormatSqlText: it fails
  // here instead of reaching the server cut.
  if (SqlText[0] == '\0') return SQL_ERROR;
  if (ExplainSql) std::printf("SQL> %s\n", SqlText);
  SQLRETURN rc = SQLExecDirect(Handle_, reinterpret_cast<SQLCHAR*>(SqlText), SQL_NTS);
  if (rc != SQL_ERROR) {
    ResultsDone();
    RowsPending_ = true;
#ifdef GENTRMX_BUSY_CHECK
    if (!ServerCursor_) ++PendingDefaultResults;
#endif
  }
  return rc;
}

void Statement::Bind(const ColumnBinding* columns, int count) noexcept {
  Columns_ = nullptr;
  ColumnCount_ = 0;
  if (count < 0 || count > MaxColumns) return;
  for (int i = 0; i < count; ++i) {
    const ColumnBinding& c = columns[i];
    SQLBindCol(Handle_, static_cast<SQLUSMALLINT>(i + 1), c.CType, c.Buffer, c.Size, &Indicators_[i]);
  }
  Columns_ = columns;
  ColumnCount_ = count;
}

SQLRETURN Statement::Fetch(const ColumnBinding* columns, int count) noexcept {
  if (columns != Columns_ || count != ColumnCount_) {
    Bind(columns, count);
    if (Columns_ == nullptr) return SQL_ERROR;  // more columns than it has indicators for
  }
  for (int i = 0; i < count; ++i) {
    const ColumnBinding& c = columns[i];
    if (c.CType == SQL_C_LONG) Presets_[i] = *static_cast<int32_t*>(c.Buffer);
  }
  SQLRETURN rc = SQLFetch(Handle_);
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    for (int i = 0; i < count; ++i) {
      if (Indicators_[i] != SQL_NULL_DATA) continue;
      const ColumnBinding& c = columns[i];
      if (c.CType == SQL_C_LONG)
        *static_cast<int32_t*>(c.Buffer) = Presets_[i];
      else
        static_cast<char*>(c.Buffer)[0] = '\0';
    }
  } else {
    ResultsDone();
  }
  return rc;
}

void Statement::EndResults() noexcept {
  // Reads the rest of the reply (unread rows, the final status) and
  // discards it; the bound buffers are not written. The result is not
  // looked at: there is no further result in any query of the tool.
  SQLMoreResults(Handle_);
  ResultsDone();
}

void Statement::Free() noexcept {
  if (Handle_ == SQL_NULL_HSTMT) return;
  ResultsDone();
  SQLFreeHandle(SQL_HANDLE_STMT, Handle_);
  Handle_ = SQL_NULL_HSTMT;
  Columns_ = nullptr;
  ColumnCount_ = 0;
  ServerCursor_ = false;
}

void Statement::ResultsDone() noexcept {
#ifdef GENTRMX_BUSY_CHECK
  if (RowsPending_ && !ServerCursor_) --PendingDefaultResults;
#endif
  RowsPending_ = false;
}

// ---------------------------------------------------------------------------
// Conventions

int OpenCursor(Statement& cursor) {
  if (!cursor.Allocate()) return -1;
  cursor.UseServerCursor();
  if (cursor.Execute() == SQL_ERROR) {
    CaptureDiagnostics(SQL_HANDLE_STMT, cursor.Handle());
    cursor.Free();
    // A query that was never sent (too long) must not read as "opened".
    if (SqlText[0] == '\0') return -1;
    return FailureNativeError();
  }
  return 0;
}

int FetchCursor(Statement& cursor, const ColumnBinding* columns, int columnCount) {
  SqlCode = -1;
  if (!cursor.IsOpen()) return -1;
  SqlCode = cursor.Fetch(columns, columnCount);
  return SqlCode;
}

int CloseCursor(Statement& cursor) {
  cursor.Free();
  return 0;
}

LookupOutcome RunLookup(const ColumnBinding* columns, int columnCount, int* fetchCode) {
  Statement stmt;
  if (!stmt.Allocate()) return LookupOutcome::NoStatement;
  if (stmt.Execute() == SQL_ERROR) {
    CaptureDiagnostics(SQL_HANDLE_STMT, stmt.Handle());
    return LookupOutcome::NotExecuted;
  }
  const SQLRETURN rc = stmt.Fetch(columns, columnCount);
  *fetchCode = rc;
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return LookupOutcome::NoRow;
  // The row is read: the rest of the reply is read too, so that freeing the
  // statement does not have to cancel it.
  stmt.EndResults();
  return LookupOutcome::Row;
}

int LookupSingleRow(const ColumnBinding* columns, int columnCount) {
  int fetchCode = 0;
  switch (RunLookup(columns, columnCount, &fetchCode)) {
    case LookupOutcome::NoStatement:
    case LookupOutcome::NotExecuted: return -1;
    case LookupOutcome::NoRow: SqlCode = fetchCode; return fetchCode;
    case LookupOutcome::Row: break;
  }
  SqlCode = 0;
  return 0;
}
