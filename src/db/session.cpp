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
FailureRecord LastFailure;

namespace {

// Connect fields hold the settings whole (the settings fields are 51 bytes).
constexpr size_t ConnectFieldSize = 51;

// One indicator per bound column, and the integer presets that a NULL
// column must leave in place.
constexpr int MaxColumns = 64;
SQLLEN ColumnIndicators[MaxColumns];
int32_t IntegerPresets[MaxColumns];

// The bindings each live statement holds. A binding stays with its statement
// until the statement is freed (nothing here unbinds), so a cursor fetched
// again into the same receiving buffers already holds exactly the bindings
// that binding again would set; only a change of statement or buffers is
// bound anew. The driver manager's SQLBindCol costs more than the rest of
// the tool's own work per fetch.
struct BoundStatement {
  SQLHSTMT Handle;
  int ColumnCount;
  ColumnBinding Columns[MaxColumns];
};
constexpr int MaxBoundStatements = 16;
BoundStatement BoundStatements[MaxBoundStatements];
// Entries from here on have never been used; a freed entry (null handle)
// below is taken again first.
int BoundInUse = 0;

bool SameBindings(const BoundStatement& bound, const ColumnBinding* columns, int columnCount) {
  if (bound.ColumnCount != columnCount) return false;
  for (int i = 0; i < columnCount; ++i) {
    const ColumnBinding& a = bound.Columns[i];
    const ColumnBinding& b = columns[i];
    if (a.CType != b.CType || a.Buffer != b.Buffer || a.Size != b.Size) return false;
  }
  return true;
}

// Binds the columns unless the statement holds these very bindings already.
// With keep false (a statement fetched once and then freed) the bindings
// are not remembered.
void BindColumns(SQLHSTMT stmt, const ColumnBinding* columns, int columnCount, bool keep) {
  BoundStatement* slot = nullptr;
  for (int e = 0; e < BoundInUse; ++e) {
    BoundStatement& b = BoundStatements[e];
    if (b.Handle == stmt) {
      if (SameBindings(b, columns, columnCount)) return;
      slot = &b;
      break;
    }
    if (slot == nullptr && b.Handle == SQL_NULL_HSTMT) slot = &b;
  }
  for (int i = 0; i < columnCount; ++i) {
    const ColumnBinding& c = columns[i];
    SQLBindCol(stmt, static_cast<SQLUSMALLINT>(i + 1), c.CType, c.Buffer, c.Size, &ColumnIndicators[i]);
  }
  if (!keep || columnCount > MaxColumns) return;
  if (slot == nullptr) {
    // Without a free entry the statement is simply bound again next time.
    if (BoundInUse == MaxBoundStatements) return;
    slot = &BoundStatements[BoundInUse++];
  }
  slot->Handle = stmt;
  slot->ColumnCount = columnCount;
  std::memcpy(slot->Columns, columns, sizeof(ColumnBinding) * static_cast<size_t>(columnCount));
}

// A freed handle may come back from the next allocation without bindings.
void ForgetBindings(SQLHSTMT stmt) {
  for (int e = 0; e < BoundInUse; ++e)
    if (BoundStatements[e].Handle == stmt) BoundStatements[e].Handle = SQL_NULL_HSTMT;
}

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

namespace {

// Appends n bytes at *out unless they would pass end; false when they would.
bool AppendText(char** out, const char* end, const char* text, size_t n) {
  if (n > static_cast<size_t>(end - *out)) return false;
  std::memcpy(*out, text, n);
  *out += n;
  return true;
}

// Formats the query with the conversions the query texts use, "%s", "%ld",
// "%d" and "%%", at the cost of copying the text: every statement is
// formatted once, most of them per badge, and vsnprintf costs several times
// that. A format with a conversion of another kind is left to vsnprintf.
enum class PlainFormat { Done, TooLong, Unsupported };
PlainFormat FormatPlain(const char* format, va_list args) {
  char* out = SqlText;
  const char* const end = SqlText + sizeof SqlText - 1;  // the terminator's place
  for (const char* p = format;;) {
    const char* percent = std::strchr(p, '%');
    size_t literal = percent != nullptr ? static_cast<size_t>(percent - p) : std::strlen(p);
    if (!AppendText(&out, end, p, literal)) return PlainFormat::TooLong;
    if (percent == nullptr) break;
    char digits[24];
    const char* text;
    size_t n;
    if (percent[1] == 's') {
      text = va_arg(args, const char*);
      if (text == nullptr) text = "(null)";  // as glibc prints it
      n = std::strlen(text);
      p = percent + 2;
    } else if (percent[1] == '%') {
      text = "%";
      n = 1;
      p = percent + 2;
    } else if (percent[1] == 'd' || (percent[1] == 'l' && percent[2] == 'd')) {
      long value = percent[1] == 'd' ? va_arg(args, int) : va_arg(args, long);
      // Digits from the right; the magnitude is taken digit by digit so that
      // the most negative value works too.
      char* d = digits + sizeof digits;
      long rest = value;
      do {
        long digit = rest % 10;
        *--d = static_cast<char>('0' + (digit < 0 ? -digit : digit));
        rest /= 10;
      } while (rest != 0);
      if (value < 0) *--d = '-';
      text = d;
      n = static_cast<size_t>(digits + sizeof digits - d);
      p = percent + (percent[1] == 'd' ? 2 : 3);
    } else {
      return PlainFormat::Unsupported;
    }
    if (!AppendText(&out, end, text, n)) return PlainFormat::TooLong;
  }
  *out = '\0';
  return PlainFormat::Done;
}

}  // namespace

int FormatSqlText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  PlainFormat result = FormatPlain(format, args);
  bool fits = result == PlainFormat::Done;
  if (result == PlainFormat::Unsupported) {
    int n = std::vsnprintf(SqlText, sizeof SqlText, format, again);
    fits = n >= 0 && static_cast<size_t>(n) < sizeof SqlText;
  }
  va_end(again);
  va_end(args);
  if (!fits) {
    SqlText[0] = '\0';
    return -1;
  }
  return 0;
}

const char* QuoteSqlValue(const char* value, char* out, size_t outSize) {
  // Most values hold no quote: then it is one bounded copy.
  if (std::strchr(value, '\'') == nullptr) {
    size_t n = strnlen(value, outSize - 1);
    std::memcpy(out, value, n);
    out[n] = '\0';
    return out;
  }
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

namespace {

// BindAndFetch; keepBindings false for a statement that is freed after this
// one fetch.
SQLRETURN FetchRow(SQLHSTMT stmt, const ColumnBinding* columns, int columnCount, bool keepBindings) {
  for (int i = 0; i < columnCount; ++i) {
    const ColumnBinding& c = columns[i];
    if (c.CType == SQL_C_LONG) IntegerPresets[i] = *static_cast<int32_t*>(c.Buffer);
  }
  BindColumns(stmt, columns, columnCount, keepBindings);
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

}  // namespace

SQLRETURN BindAndFetch(SQLHSTMT stmt, const ColumnBinding* columns, int columnCount) {
  return FetchRow(stmt, columns, columnCount, true);
}

void FreeStatement(SQLHSTMT stmt) {
#ifdef GENTRMX_BUSY_CHECK
  TrackFreed(stmt);
#endif
  ForgetBindings(stmt);
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
    CaptureDiagnostics(SQL_HANDLE_STMT, stmt);
    FreeStatement(stmt);
    // A query that was never sent (too long) must not read as "opened".
    if (SqlText[0] == '\0') return -1;
    return FailureNativeError();
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
    CaptureDiagnostics(SQL_HANDLE_STMT, stmt);
    FreeStatement(stmt);
    return -1;
  }
  SqlCode = FetchRow(stmt, columns, columnCount, false);
  FreeStatement(stmt);
  if (SqlCode != SQL_SUCCESS && SqlCode != SQL_SUCCESS_WITH_INFO) return SqlCode;
  SqlCode = 0;
  return 0;
}
