// The database session: connection, fetch status, failure record, the
// statement type and the statement conventions shared by every query.
#include "db/session.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// Connect fields hold the settings whole (the settings fields are 51 bytes).
constexpr size_t ConnectFieldSize = 51;

void CopyBounded(char* out, const char* in, size_t size) {
  if (in == nullptr) in = "";
  size_t n = strnlen(in, size - 1);
  std::memcpy(out, in, n);
  out[n] = '\0';
}

// The process's ODBC environment: allocated at the first connect, kept
// until the process ends. SQL_NULL_HENV when the allocation failed.
SQLHENV ProcessEnvironment() {
  static const SQLHENV environment = [] {
    SQLHENV env = SQL_NULL_HENV;
    if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env) == SQL_ERROR) return static_cast<SQLHENV>(SQL_NULL_HENV);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), SQL_IS_INTEGER);
    return env;
  }();
  return environment;
}

// The observer of a session that reports to no one.
RunObserver& NoObserver() {
  static RunObserver none;
  return none;
}

}  // namespace

Session::Session() noexcept : Observer(&NoObserver()) {}

Session::~Session() {
  Batch.Release(*this);
  if (Connection_ == SQL_NULL_HDBC) return;
  SQLDisconnect(Connection_);
  SQLFreeHandle(SQL_HANDLE_DBC, Connection_);
}

int Session::Connect(const char* user, const char* password, const char* source, const char* /*schema*/) {
  char userField[ConnectFieldSize];
  char passwordField[ConnectFieldSize];
  char sourceField[ConnectFieldSize];
  CopyBounded(userField, user, sizeof userField);
  CopyBounded(passwordField, password, sizeof passwordField);
  CopyBounded(sourceField, source, sizeof sourceField);

  const SQLHENV environment = ProcessEnvironment();
  if (environment == SQL_NULL_HENV) {
    std::memset(&LastFailure, 0, sizeof LastFailure);
    return -1;
  }
  if (Connection_ != SQL_NULL_HDBC) {
    Batch.Release(*this);
    SQLDisconnect(Connection_);
    SQLFreeHandle(SQL_HANDLE_DBC, Connection_);
    Connection_ = SQL_NULL_HDBC;
  }
  if (SQLAllocHandle(SQL_HANDLE_DBC, environment, &Connection_) == SQL_ERROR) {
    CaptureDiagnostics(SQL_HANDLE_ENV, environment);
    Connection_ = SQL_NULL_HDBC;
    return -1;
  }
  // A server that accepts the connection and then says nothing must not
  // hold the run forever.
  if (!SQL_SUCCEEDED(SQLSetConnectAttr(Connection_, SQL_ATTR_LOGIN_TIMEOUT,
                                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(Timeouts.Login)),
                                       SQL_IS_UINTEGER))) {
    CaptureDiagnostics(SQL_HANDLE_DBC, Connection_);
    return -1;
  }
  SQLRETURN rc = SQLConnect(Connection_, reinterpret_cast<SQLCHAR*>(sourceField), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(userField), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(passwordField), SQL_NTS);
  std::memset(passwordField, 0, sizeof passwordField);
  if (rc != SQL_ERROR) {
    char answer[8] = "";
    SQLSMALLINT length = 0;
    CanBatch_ = SQL_SUCCEEDED(SQLGetInfo(Connection_, SQL_MULT_RESULT_SETS, answer, sizeof answer, &length)) &&
                answer[0] == 'Y';
    return 0;
  }
  CaptureDiagnostics(SQL_HANDLE_DBC, Connection_);
  // Not connected: the handle goes, so that no statement is tried on it.
  SQLFreeHandle(SQL_HANDLE_DBC, Connection_);
  Connection_ = SQL_NULL_HDBC;
  return -1;
}

int Session::FormatSqlText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int rc = FormatSqlTextV(SqlText, format, args);
  va_end(args);
  return rc;
}

void Session::CaptureDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
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

void Session::CaptureFailure(SQLSMALLINT handleType, SQLHANDLE handle, const char* withoutDiagnostics) {
  if (handle != SQL_NULL_HANDLE) CaptureDiagnostics(handleType, handle);
  else std::memset(&LastFailure, 0, sizeof LastFailure);
  if (LastFailure.Count == 0) SetOwnFailure(withoutDiagnostics);
}

SQLHSTMT Session::NewStatementHandle() {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, Connection_, &stmt))) {
    CaptureFailure(SQL_HANDLE_DBC, Connection_, "keine Anweisung moeglich (keine Verbindung)");
    return SQL_NULL_HSTMT;
  }
  if (Timeouts.Query != 0 &&
      !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT,
                                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(Timeouts.Query)),
                                    SQL_IS_UINTEGER))) {
    CaptureFailure(SQL_HANDLE_STMT, stmt, "Zeitgrenze der Anweisung nicht einstellbar (ohne Diagnose des Treibers)");
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return SQL_NULL_HSTMT;
  }
  return stmt;
}

int32_t Session::FailureNativeError() const {
  return LastFailure.Count > 0 ? LastFailure.Records[0].NativeError : 0;
}

void Session::SetOwnFailure(const char* message) {
  std::memset(&LastFailure, 0, sizeof LastFailure);
  DiagnosticRecord& record = LastFailure.Records[0];
  std::memcpy(record.State, "HY000", 6);
  record.NativeError = -1;
  CopyBounded(record.Message, message, sizeof record.Message);
  LastFailure.Count = 1;
}

void PrintFailureRecords(const FailureRecord& failure, const char* secret, RunObserver& observer, int first) {
  const size_t secretLength = secret != nullptr ? std::strlen(secret) : 0;
  for (int i = first; i < failure.Count; ++i) {
    const DiagnosticRecord& record = failure.Records[i];
    std::printf("DB-Diagnose: SQLSTATE %s, Fehlernummer %ld, Meldung: ", record.State,
                static_cast<long>(record.NativeError));
    const char* text = record.Message;
    while (*text != '\0') {
      const char* found = secretLength > 0 ? std::strstr(text, secret) : nullptr;
      if (found == nullptr) {
        observer.ShowDatabaseText(text, std::strlen(text));
        break;
      }
      observer.ShowDatabaseText(text, static_cast<size_t>(found - text));
      std::fputs("***", stdout);
      text = found + secretLength;
    }
    std::fputs("\n", stdout);
  }
}

void Session::PrintFailureRecord(const char* secret) const { PrintFailureRecords(LastFailure, secret, *Observer); }

StatementResult NameFailedQuery(Session& db, const char* query, StatementResult result) noexcept {
  if (result.Failed()) db.LastFailure.Query = db.Batch.NameOfFailure(query);
  return result;
}

void Session::PrintStatementFailure(const char* subject) const {
  const DiagnosticRecord& first = LastFailure.Records[0];
  const char* message = LastFailure.Count > 0 ? first.Message : "keine Angabe des Treibers";
  std::printf("Datenbankfehler bei %s fuer ", LastFailure.Query != nullptr ? LastFailure.Query : "Abfrage");
  Observer->ShowDatabaseText(subject, std::strlen(subject));
  std::printf(": SQLSTATE %s, Fehlernummer %ld, Meldung: ", LastFailure.Count > 0 ? first.State : "-",
              static_cast<long>(first.NativeError));
  Observer->ShowDatabaseText(message, std::strlen(message));
  std::fputs("\n", stdout);
  Observer->FailureDetails(LastFailure);
}

// ---------------------------------------------------------------------------
// Statement

Statement::~Statement() noexcept {
  Free();
  std::free(Block_);
}

Statement::Statement(Statement&& other) noexcept { TakeFrom(other); }

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    Free();
    TakeFrom(other);
  }
  return *this;
}

void Statement::TakeFrom(Statement& other) noexcept {
  Session_ = other.Session_;
  Borrowed_ = std::exchange(other.Borrowed_, false);
  Handle_ = std::exchange(other.Handle_, static_cast<SQLHSTMT>(SQL_NULL_HSTMT));
  ServerCursor_ = std::exchange(other.ServerCursor_, false);
  RowsPending_ = std::exchange(other.RowsPending_, false);
  const ColumnBinding* columns = std::exchange(other.Columns_, nullptr);
  const int count = std::exchange(other.ColumnCount_, 0);
  // The block storage goes with the handle that is bound to it; this
  // object's own goes to the other.
  std::swap(Block_, other.Block_);
  std::swap(BlockCapacity_, other.BlockCapacity_);
  BlockFetch_ = std::exchange(other.BlockFetch_, false);
  BlockBound_ = std::exchange(other.BlockBound_, false);
  BoundCount_ = other.BoundCount_;
  std::memcpy(BoundTypes_, other.BoundTypes_, sizeof BoundTypes_);
  std::memcpy(BoundSizes_, other.BoundSizes_, sizeof BoundSizes_);
  std::memcpy(ColumnOffsets_, other.ColumnOffsets_, sizeof ColumnOffsets_);
  RowsFetched_ = other.RowsFetched_;
  std::memcpy(RowStatus_, other.RowStatus_, sizeof RowStatus_);
  BlockRowCount_ = std::exchange(other.BlockRowCount_, 0);
  NextRow_ = std::exchange(other.NextRow_, 0);
  FailureHeld_ = std::exchange(other.FailureHeld_, false);
  HeldCode_ = other.HeldCode_;
  if (BlockFetch_) {
    // The driver writes the row count and statuses where the attributes
    // said: pointed at this object's. Should the driver refuse, the next
    // fetch fails instead of letting it write into the other object.
    if (!PointBlockAttributes()) {
      BlockRowCount_ = 0;
      NextRow_ = 0;
      FailureHeld_ = true;
      HeldCode_ = SQL_ERROR;
    }
    return;
  }
  // The driver writes the indicators where the binding said: bound anew
  // with this object's indicators.
  if (columns != nullptr) Bind(columns, count);
}

bool Statement::Allocate() noexcept {
  Free();
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  Session& db = *Session_;
  if (db.Batch.Expects(db.SqlText)) {
    if (!db.Batch.TakeNext(db, &stmt)) return false;
    Handle_ = stmt;
    Borrowed_ = true;
    return true;
  }
  Handle_ = db.NewStatementHandle();
  return Handle_ != SQL_NULL_HSTMT;
}

// Not scrollable, optimistic concurrency (row versions): FreeTDS opens it
// with scroll option FORWARD_ONLY, as before, and concurrency OPTCC, and
// SQL Server holds no lock on the rows a fetch delivered (lock concurrency
// asked for SCROLL_LOCKS: update locks on every fetched block until the next
// fetch). Forward-only and read-only together would give a plain statement
// instead; a dynamic read-only cursor would do on SQL Server, but the SQLite
// driver has no dynamic cursor and substitutes a static one, which reads the
// whole result at execution. The tool never updates through a cursor, so
// the optimistic check is never made.
bool Statement::UseServerCursor() noexcept {
  if (Borrowed_) {
    Session_->SetOwnFailure("Servercursor im Anweisungsstapel nicht moeglich");
    return false;
  }
  if (!SQL_SUCCEEDED(SQLSetStmtAttr(Handle_, SQL_ATTR_CURSOR_SCROLLABLE,
                                    reinterpret_cast<SQLPOINTER>(SQL_NONSCROLLABLE), SQL_IS_INTEGER)) ||
      !SQL_SUCCEEDED(SQLSetStmtAttr(Handle_, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_ROWVER),
                                    SQL_IS_INTEGER))) {
    Session_->CaptureDiagnostics(SQL_HANDLE_STMT, Handle_);
    return false;
  }
  ServerCursor_ = true;
  return true;
}

bool Statement::UseBlockFetch() noexcept {
  // A result of a batch is read one row at a time: its rows came with the
  // one reply.
  if (Borrowed_) return true;
  if (SQLSetStmtAttr(Handle_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0) ==
          SQL_SUCCESS &&
      SQLSetStmtAttr(Handle_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(BlockRows), 0) == SQL_SUCCESS &&
      PointBlockAttributes()) {
    BlockFetch_ = true;
    return true;
  }
  // One row at a time. A driver left with a larger row array would write
  // that many rows into buffers of one.
  SQLSetStmtAttr(Handle_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
  SQLSetStmtAttr(Handle_, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
  if (!SQL_SUCCEEDED(SQLSetStmtAttr(Handle_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0))) {
    Session_->CaptureFailure(SQL_HANDLE_STMT, Handle_, "Zeilenblock nicht einstellbar (ohne Diagnose des Treibers)");
    return false;
  }
  return true;
}

// Where the driver counts the rows of a block and marks their status. false
// when it refused either.
bool Statement::PointBlockAttributes() noexcept {
  return SQL_SUCCEEDED(SQLSetStmtAttr(Handle_, SQL_ATTR_ROWS_FETCHED_PTR, &RowsFetched_, 0)) &&
         SQL_SUCCEEDED(SQLSetStmtAttr(Handle_, SQL_ATTR_ROW_STATUS_PTR, RowStatus_, 0));
}

StatementResult Statement::Execute() noexcept {
  Session& db = *Session_;
  if (Borrowed_) {
    // Sent with its batch: the result is there.
    db.Observer->Sending(db.SqlText);
    return Done();
  }
  db.Busy.Executing(RowsPending_ && !ServerCursor_, db.SqlText);
  // SQL Server would refuse it: the batch's results keep the connection busy.
  if (db.Batch.IsOpen()) {
    db.SetOwnFailure("Anweisung waehrend eines offenen Anweisungsstapels");
    return Failure();
  }
  // A query that did not fit SqlText was cleared by FormatSqlText: it fails
  // here instead of reaching the server cut.
  if (db.SqlText[0] == '\0') {
    db.SetOwnFailure("Abfrage zu lang fuer den Anweisungstext, nicht gesendet");
    return Failure();
  }
  if (Handle_ == SQL_NULL_HSTMT) {
    db.SetOwnFailure("Anweisung ohne Handle");
    return Failure();
  }
  db.Observer->Sending(db.SqlText);
  ++db.Batch.Sent;
  SQLRETURN rc = SQLExecDirect(Handle_, reinterpret_cast<SQLCHAR*>(db.SqlText), SQL_NTS);
  // SQL_NO_DATA is a statement that touched no row: executed.
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA) {
    db.CaptureFailure(SQL_HANDLE_STMT, Handle_, "Ausfuehrung fehlgeschlagen (ohne Diagnose des Treibers)");
    return Failure(rc);
  }
  ResultsDone();
  RowsPending_ = true;
  if (!ServerCursor_) db.Busy.Opened();
  return Done();
}

// A fetch that gave neither a row nor SQL_NO_DATA: its records into
// LastFailure (one of the tool's own when the driver gave none).
StatementResult Statement::Failed(SQLRETURN rc) noexcept {
  Session_->CaptureFailure(SQL_HANDLE_STMT, Handle_, "Lesen fehlgeschlagen (ohne Diagnose des Treibers)");
  return Failure(rc);
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

bool Statement::BlockTakes(const ColumnBinding* columns, int count) const noexcept {
  if (!BlockBound_ || count != BoundCount_) return false;
  for (int i = 0; i < count; ++i) {
    if (columns[i].CType != BoundTypes_[i] || columns[i].Size > BoundSizes_[i]) return false;
  }
  return true;
}

bool Statement::BindBlock(const ColumnBinding* columns, int count) noexcept {
  BlockBound_ = false;
  if (count < 0 || count > MaxColumns) return false;
  // Column-wise: each column's indicators, then its values, each part
  // aligned for the indicators that follow.
  constexpr size_t Align = alignof(SQLLEN);
  size_t needed = 0;
  for (int i = 0; i < count; ++i) {
    ColumnOffsets_[i] = needed;
    const size_t values = static_cast<size_t>(columns[i].Size) * BlockRows;
    needed += sizeof(SQLLEN) * BlockRows + (values + Align - 1) / Align * Align;
  }
  if (needed > BlockCapacity_) {
    void* grown = std::realloc(Block_, needed);
    if (grown == nullptr) return false;
    Block_ = static_cast<char*>(grown);
    BlockCapacity_ = needed;
  }
  for (int i = 0; i < count; ++i) {
    const ColumnBinding& c = columns[i];
    char* at = Block_ + ColumnOffsets_[i];
    SQLBindCol(Handle_, static_cast<SQLUSMALLINT>(i + 1), c.CType, at + sizeof(SQLLEN) * BlockRows, c.Size,
               reinterpret_cast<SQLLEN*>(at));
    BoundTypes_[i] = c.CType;
    BoundSizes_[i] = c.Size;
  }
  BoundCount_ = count;
  BlockBound_ = true;
  return true;
}

StatementResult Statement::Fetch(const ColumnBinding* columns, int count) noexcept {
  if (Handle_ == SQL_NULL_HSTMT) {
    Session_->SetOwnFailure("Lesen ohne offene Abfrage");
    return Failure();
  }
  if (BlockFetch_) {
    if (!BlockTakes(columns, count)) {
      // The rows of a block are laid out for the columns it was fetched
      // into; columns that cannot take them are bound for the next block.
      if (NextRow_ < BlockRowCount_ || FailureHeld_) {
        Session_->SetOwnFailure("Spalten wechseln mitten im Block");
        return Failure();
      }
      if (!BindBlock(columns, count)) {
        Session_->SetOwnFailure("kein Speicher fuer den Zeilenblock");
        return Failure();
      }
    }
    if (NextRow_ >= BlockRowCount_) {
      const SQLRETURN rc = FetchBlock();
      if (rc != SQL_SUCCESS) {
        ResultsDone();
        if (rc == SQL_NO_DATA) return RowsEnded();
        return Failed(rc);
      }
    }
    const SQLRETURN rc = HandOutRow(columns, count);
    return RowFound(rc);
  }
  if (columns != Columns_ || count != ColumnCount_) {
    Bind(columns, count);
    if (Columns_ == nullptr) {  // more columns than it has indicators for
      Session_->SetOwnFailure("zu viele Spalten");
      return Failure();
    }
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
    return RowFound(rc);
  }
  ResultsDone();
  if (rc == SQL_NO_DATA) return RowsEnded();
  return Failed(rc);
}

// The fetch found no more rows. A plain statement reads the rest of its
// reply as well (after SQL_NO_DATA, never before: SQLMoreResults after the
// last row but before SQL_NO_DATA would report the final status as a
// further result): freeing it then needs no cancel, and an error the server
// sent behind the rows is not lost.
StatementResult Statement::RowsEnded() noexcept {
  if (Borrowed_) {
    if (!Session_->Batch.ResultDone(*Session_, true)) return Failure();
    return NoRowFound(SQL_NO_DATA);
  }
  if (!ServerCursor_ && !EndResults()) return Failure();
  return NoRowFound(SQL_NO_DATA);
}

// Whether a diagnostic record of the statement is more than a warning
// (SQLSTATE class other than 01).
bool Statement::DiagnosticsReportError() const noexcept {
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLCHAR message[1];
    const SQLRETURN rc = SQLGetDiagRec(SQL_HANDLE_STMT, Handle_, i, state, &native, message, sizeof message, &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return false;
    if (state[0] != '0' || state[1] != '1') return true;
  }
}

// Gets the next block of rows: SQL_SUCCESS when there is at least one row
// to hand out, else the code to return in place of a row. A failure that
// came behind good rows is held until they are handed out: the driver
// keeps its diagnostics on the handle, untouched until the next call on it,
// and a further fetch would not repeat the failure (the SQLite driver then
// says SQL_NO_DATA). A short block does not end the cursor: a server cursor
// may still see rows added meanwhile, so only SQL_NO_DATA ends it.
SQLRETURN Statement::FetchBlock() noexcept {
  BlockRowCount_ = 0;
  NextRow_ = 0;
  if (FailureHeld_) {
    FailureHeld_ = false;
    return HeldCode_;
  }
  RowsFetched_ = 0;
  for (SQLUSMALLINT& status : RowStatus_) status = SQL_ROW_NOROW;
  const SQLRETURN rc = SQLFetch(Handle_);
  const int fetched = RowsFetched_ <= static_cast<SQLULEN>(BlockRows) ? static_cast<int>(RowsFetched_) : BlockRows;
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    // FreeTDS reports a failure inside the block with SQL_SUCCESS_WITH_INFO,
    // the good rows counted and the failure among the diagnostics; and it
    // marks the rows of a block from a cut text on as failed, so the
    // statuses are not read here.
    if (fetched == 0) return SQL_ERROR;
    BlockRowCount_ = fetched;
    if (rc == SQL_SUCCESS_WITH_INFO && DiagnosticsReportError()) {
      FailureHeld_ = true;
      HeldCode_ = SQL_ERROR;
    }
    return SQL_SUCCESS;
  }
  if (rc != SQL_ERROR) return rc;
  // The SQLite driver reports a failure inside the block with SQL_ERROR,
  // the good rows counted and the failing row marked.
  int good = 0;
  while (good < fetched &&
         (RowStatus_[good] == SQL_ROW_SUCCESS || RowStatus_[good] == SQL_ROW_SUCCESS_WITH_INFO))
    ++good;
  if (good == 0) return SQL_ERROR;
  BlockRowCount_ = good;
  FailureHeld_ = true;
  HeldCode_ = SQL_ERROR;
  return SQL_SUCCESS;
}

// Copies the next row of the block into the caller's buffers as a fetch of
// that row alone would have written them: a value with its terminator, the
// rest of the buffer untouched; a NULL text as an empty one, a NULL integer
// not at all. Returns SQL_SUCCESS_WITH_INFO when a text did not fit (its
// indicator says the whole length), else SQL_SUCCESS.
SQLRETURN Statement::HandOutRow(const ColumnBinding* columns, int count) noexcept {
  const int row = NextRow_++;
  SQLRETURN rc = SQL_SUCCESS;
  for (int i = 0; i < count; ++i) {
    const ColumnBinding& c = columns[i];
    const char* at = Block_ + ColumnOffsets_[i];
    SQLLEN indicator;
    std::memcpy(&indicator, at + sizeof(SQLLEN) * row, sizeof indicator);
    char* out = static_cast<char*>(c.Buffer);
    if (indicator == SQL_NULL_DATA) {
      if (c.CType != SQL_C_LONG) out[0] = '\0';
      continue;
    }
    const char* value = at + sizeof(SQLLEN) * BlockRows + static_cast<size_t>(BoundSizes_[i]) * row;
    if (c.CType == SQL_C_LONG) {
      std::memcpy(out, value, sizeof(int32_t));
      continue;
    }
    if (c.Size <= 0) continue;
    size_t length = static_cast<size_t>(c.Size - 1);
    if (indicator >= 0 && indicator <= c.Size - 1)
      length = static_cast<size_t>(indicator);
    else
      rc = SQL_SUCCESS_WITH_INFO;  // cut (or of no known length)
    // Never more than the block holds (cut at its own size, or of no known
    // length).
    const size_t bound = static_cast<size_t>(BoundSizes_[i] - 1);
    const size_t held = indicator >= 0 && static_cast<size_t>(indicator) <= bound ? static_cast<size_t>(indicator)
                                                                                  : strnlen(value, bound);
    if (length > held) length = held;
    std::memcpy(out, value, length);
    out[length] = '\0';
  }
  return rc;
}

bool Statement::EndResults() noexcept {
  // The batch reads the rest of a result of its own.
  if (Borrowed_) return Session_->Batch.ResultDone(*Session_, false);
  // Reads the rest of the reply (unread rows, the final status) and
  // discards it; the bound buffers are not written. No query of the tool
  // has a further result, but an error behind the row (a later row the
  // server could not build) comes here.
  const SQLRETURN rc = SQLMoreResults(Handle_);
  ResultsDone();
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA) return true;
  Session_->CaptureFailure(SQL_HANDLE_STMT, Handle_, "Rest der Antwort nicht lesbar (ohne Diagnose des Treibers)");
  return false;
}

void Statement::Free() noexcept {
  if (Handle_ == SQL_NULL_HSTMT) return;
  ResultsDone();
  // The batch's handle stays with the batch; the columns bound to this
  // statement's buffers are let go.
  if (Borrowed_) SQLFreeStmt(Handle_, SQL_UNBIND);
  else SQLFreeHandle(SQL_HANDLE_STMT, Handle_);
  Borrowed_ = false;
  Handle_ = SQL_NULL_HSTMT;
  Columns_ = nullptr;
  ColumnCount_ = 0;
  ServerCursor_ = false;
  BlockFetch_ = false;
  BlockBound_ = false;
  BlockRowCount_ = 0;
  NextRow_ = 0;
  FailureHeld_ = false;
}

void Statement::ResultsDone() noexcept {
  if (RowsPending_ && !ServerCursor_) Session_->Busy.Closed();
  RowsPending_ = false;
}

// ---------------------------------------------------------------------------
// Conventions

namespace {

// Allocates, sets the attributes and executes SqlText: Done, or Failed
// (Code the native error of a failed execution, else -1; the statement is
// empty).
StatementResult OpenStatement(Statement& stmt, bool serverCursor) {
  if (!stmt.Allocate()) return Failure();
  if ((serverCursor && !stmt.UseServerCursor()) || !stmt.UseBlockFetch()) {
    stmt.Free();
    return Failure();
  }
  const StatementResult executed = stmt.Execute();
  if (executed.Failed()) {
    stmt.Free();
    const int32_t native = stmt.Db().FailureNativeError();
    return Failure(native != 0 ? native : -1);
  }
  return executed;
}

}  // namespace

StatementResult OpenCursor(Statement& cursor) { return OpenStatement(cursor, true); }

StatementResult OpenResultSet(Statement& query) { return OpenStatement(query, false); }

StatementResult FetchCursor(Statement& cursor, const ColumnBinding* columns, int columnCount) {
  const StatementResult fetched = cursor.Fetch(columns, columnCount);
  cursor.Db().SqlCode = fetched.Code;
  return fetched;
}

void CloseCursor(Statement& cursor) { cursor.Free(); }

StatementResult RunLookup(Session& db, const ColumnBinding* columns, int columnCount) {
  Statement stmt(db);
  if (!stmt.Allocate()) return Failure();
  const StatementResult executed = stmt.Execute();
  if (executed.Failed()) return executed;
  const StatementResult fetched = stmt.Fetch(columns, columnCount);
  if (!fetched.IsRow()) return fetched;
  // The row is read: the rest of the reply is read too, so that freeing the
  // statement does not have to cancel it.
  if (!stmt.EndResults()) return Failure();
  return fetched;
}

StatementResult LookupSingleRow(Session& db, const ColumnBinding* columns, int columnCount) {
  const StatementResult result = RunLookup(db, columns, columnCount);
  if (result.IsRow()) db.SqlCode = 0;
  if (result.IsNoRow()) db.SqlCode = result.Code;
  return result;
}
