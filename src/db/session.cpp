// The database session: connection, statement text, fetch status,
// diagnostics, and the statement conventions shared by every query.
#include "db/session.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

DbSessionHandles DbSession = {SQL_NULL_HENV, SQL_NULL_HDBC};
char SqlText[SqlTextSize];
int32_t SqlCode = 0;
DiagnosticRecord LastDiagnostics;

namespace {

// Connect fields hold the settings whole (the settings fields are 51 bytes).
constexpr size_t ConnectFieldSize = 51;

// One indicator per bound column, and the integer presets that a NULL
// column must leave in place.
constexpr int MaxColumns = 64;
SQLLEN ColumnIndicators[MaxColumns];
int32_t IntegerPresets[MaxColumns];

#ifdef GENTRMX_BUSY_CHECK
// SQL Server's busy rule, enforced in test builds: a statement executed
// without cursor attributes gets a default result set, which keeps the
// connection busy until its rows are read to the end or its handle is freed.
// Any execution while such a statement has unread rows fails there, so it
// fails here too, loudly.
struct TrackedStatement {
  SQLHSTMT Handle;
  bool ServerCursor;
  bool RowsPending;
};
constexpr int MaxTracked = 32;
TrackedStatement Tracked[MaxTracked];

TrackedStatement* FindTracked(SQLHSTMT stmt) {
  for (auto& t : Tracked)
    if (t.Handle == stmt) return &t;
  return nullptr;
}

void CheckConnectionNotBusy(SQLHSTMT executing) {
  for (const auto& t : Tracked) {
    if (t.Handle != nullptr && t.Handle != executing && !t.ServerCursor && t.RowsPending) {
      std::fprintf(stderr,
                   "BUSY-RULE VIOLATION: statement executed while another statement without cursor "
                   "attributes has unread rows (SQL Server: \"Connection is busy with results for "
                   "another hstmt\")\nStatement: %s\n",
                   SqlText);
      std::abort();
    }
  }
}

void TrackExecuted(SQLHSTMT stmt, bool serverCursor) {
  TrackedStatement* t = FindTracked(stmt);
  if (t == nullptr) t = FindTracked(nullptr);
  if (t == nullptr) {
    std::fprintf(stderr, "BUSY-RULE CHECK: too many live statements\n");
    std::abort();
  }
  *t = {stmt, serverCursor, true};
}

void TrackReadToEnd(SQLHSTMT stmt) {
  if (TrackedStatement* t = FindTracked(stmt)) t->RowsPending = false;
}

void TrackFreed(SQLHSTMT stmt) {
  if (TrackedStatement* t = FindTracked(stmt)) *t = {nullptr, false, false};
}
#endif

void CopyBounded(char* out, const char* in, size_t size) {
  if (in == nullptr) in = "";
  size_t n = strnlen(in, size - 1);
  std::memcpy(out, in, n);
  out[n] = '\0';
}

}  // namespace

int ConnectDatabase(const char* user, const char* password, const char* source, const char* /*schema*/) {
  char userField[ConnectFieldSize];
  char passwordField[ConnectFieldSize];
  char sourceField[ConnectFieldSize];
  CopyBounded(userField, user, sizeof userField);
  CopyBounded(passwordField, password, sizeof passwordField);
  CopyBounded(sourceField, source, sizeof sourceField);

  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &DbSession.Environment) == SQL_ERROR) return -1;
  SQLSetEnvAttr(DbSession.Environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                SQL_IS_INTEGER);
  if (SQLAllocHandle(SQL_HANDLE_DBC, DbSession.Environment, &DbSession.Connection) == SQL_ERROR) return -1;
  SQLRETURN rc = SQLConnect(DbSession.Connection, reinterpret_cast<SQLCHAR*>(sourceField), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(userField), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(passwordField), SQL_NTS);
  std::memset(passwordField, 0, sizeof passwordField);
  return rc == SQL_ERROR ? -1 : 0;
}

SQLRETURN CaptureDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, DiagnosticRecord* record) {
  std::memset(record, 0, sizeof *record);
  SQLINTEGER native = 0;
  SQLSMALLINT textLength = 0;
  SQLRETURN rc = SQLGetDiagRec(handleType, handle, 1, reinterpret_cast<SQLCHAR*>(record->State), &native,
                               reinterpret_cast<SQLCHAR*>(record->Message), sizeof record->Message,
                               &textLength);
  record->NativeError = native;
  return rc;
}

char* TrimRight(char* text) {
  size_t n = std::strlen(text);
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  text[n] = '\0';
  return text;
}

char* SkipLeadingBlanks(char* text) {
  char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n') ++p;
  return *p == '\0' ? text : p;
}

int FormatSqlText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(SqlText, sizeof SqlText, format, args);
  va_end(args);
  if (n < 0 || static_cast<size_t>(n) >= sizeof SqlText) {
    SqlText[0] = '\0';
    return -1;
  }
  return 0;
}

const char* QuoteSqlValue(const char* value, char* out, size_t outSize) {
  size_t o = 0;
  for (const char* p = value; *p != '\0'; ++p) {
    size_t need = (*p == '\'') ? 2 : 1;
    if (o + need >= outSize) break;
    out[o++] = *p;
    if (*p == '\'') out[o++] = '\'';
  }
  out[o] = '\0';
  return out;
}

SQLHSTMT AllocateStatement() {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (SQLAllocHandle(SQL_HANDLE_STMT, DbSession.Connection, &stmt) == SQL_ERROR) return SQL_NULL_HSTMT;
  return stmt;
}

SQLRETURN ExecuteStatement(SQLHSTMT stmt, bool serverCursor) {
#ifdef GENTRMX_BUSY_CHECK
  CheckConnectionNotBusy(stmt);
#endif
  // A query that did not fit SqlText was cleared by FormatSqlText: it fails
  // here instead of reaching the server cut.
  if (SqlText[0] == '\0') return SQL_ERROR;
  SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(SqlText), SQL_NTS);
#ifdef GENTRMX_BUSY_CHECK
  if (rc != SQL_ERROR) TrackExecuted(stmt, serverCursor);
#else
  (void)serverCursor;
#endif
  return rc;
}

SQLRETURN BindAndFetch(SQLHSTMT stmt, const ColumnBinding* columns, int columnCount) {
  for (int i = 0; i < columnCount; ++i) {
    const ColumnBinding& c = columns[i];
    if (c.CType == SQL_C_LONG) IntegerPresets[i] = *static_cast<int32_t*>(c.Buffer);
    SQLBindCol(stmt, static_cast<SQLUSMALLINT>(i + 1), c.CType, c.Buffer, c.Size, &ColumnIndicators[i]);
  }
  SQLRETURN rc = SQLFetch(stmt);
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    for (int i = 0; i < columnCount; ++i) {
      if (ColumnIndicators[i] != SQL_NULL_DATA) continue;
      const ColumnBinding& c = columns[i];
      if (c.CType == SQL_C_LONG)
        *static_cast<int32_t*>(c.Buffer) = IntegerPresets[i];
      else
        static_cast<char*>(c.Buffer)[0] = '\0';
    }
  }
#ifdef GENTRMX_BUSY_CHECK
  else {
    TrackReadToEnd(stmt);
  }
#endif
  return rc;
}

void FreeStatement(SQLHSTMT stmt) {
#ifdef GENTRMX_BUSY_CHECK
  TrackFreed(stmt);
#endif
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

int OpenCursor(SQLHSTMT* handle) {
  *handle = SQL_NULL_HSTMT;
  SQLHSTMT stmt = AllocateStatement();
  if (stmt == SQL_NULL_HSTMT) return -1;
  SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_SCROLLABLE, reinterpret_cast<SQLPOINTER>(SQL_NONSCROLLABLE),
                 SQL_IS_INTEGER);
  SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK), SQL_IS_INTEGER);
  if (ExecuteStatement(stmt, true) == SQL_ERROR) {
    CaptureDiagnostics(SQL_HANDLE_STMT, stmt, &LastDiagnostics);
    FreeStatement(stmt);
    // A query that was never sent (too long) must not read as "opened".
    if (SqlText[0] == '\0') return -1;
    return LastDiagnostics.NativeError;
  }
  *handle = stmt;
  return 0;
}

int FetchCursor(SQLHSTMT handle, const ColumnBinding* columns, int columnCount) {
  SqlCode = -1;
  if (handle == SQL_NULL_HSTMT) return -1;
  SqlCode = BindAndFetch(handle, columns, columnCount);
  return SqlCode;
}

int CloseCursor(SQLHSTMT* handle) {
  if (*handle != SQL_NULL_HSTMT) {
    FreeStatement(*handle);
    *handle = SQL_NULL_HSTMT;
  }
  return 0;
}

int LookupSingleRow(const ColumnBinding* columns, int columnCount) {
  SQLHSTMT stmt = AllocateStatement();
  if (stmt == SQL_NULL_HSTMT) return -1;
  if (ExecuteStatement(stmt, false) == SQL_ERROR) {
    FreeStatement(stmt);
    return -1;
  }
  SqlCode = BindAndFetch(stmt, columns, columnCount);
  FreeStatement(stmt);
  if (SqlCode != SQL_SUCCESS && SqlCode != SQL_SUCCESS_WITH_INFO) return SqlCode;
  SqlCode = 0;
  return 0;
}
