// A run's database session and the conventions every query follows.
//
// Queries are plain text formatted into the session's SqlText and executed
// directly; no statement is prepared and no parameter is bound. Multi-row
// queries are cursors (open, fetch, close) whose Statement the run keeps,
// empty while the cursor is closed; single-row lookups hold their Statement
// only during the call. Only the badge cursor, which stays open while the
// statements of each badge run, is a server cursor; every other query is a
// plain statement read to its end before the next statement starts.
#pragma once
#include <sql.h>
#include <sqlext.h>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "db/busy_guard.h"
#include "db/observer.h"
#include "db/sql_text.h"
#include "db/statement_batch.h"

struct DiagnosticRecord {
  char State[256];
  char Message[1000];
  int32_t NativeError;
};
constexpr int MaxFailureRecords = 8;
// Every diagnostic record (up to MaxFailureRecords) of the last failed
// connect or statement, in the order the driver gave them.
struct FailureRecord {
  const char* Query;  // the query that failed, as messages name it; null: not named
  int Count;
  DiagnosticRecord Records[MaxFailureRecords];
};

// How long a connect and a statement may wait for the server, in seconds;
// 0 waits forever. Set before Connect: the login timeout goes to the
// connect, the query timeout to every statement of the session.
struct SessionTimeouts {
  unsigned long Login;
  unsigned long Query;
};

// One run's database session: the connection, the statement text every
// query is formatted into, the status of the last fetch, the failure
// record of the last failed connect or statement, and the observer the run
// reports to. The connection lasts as long as the Session. The ODBC
// environment is the process's, allocated at the first connect.
class Session {
 public:
  // A session whose run reports to observer (which outlives it).
  explicit Session(RunObserver& observer) noexcept : Observer(&observer) {}
  // A session whose run reports to no one.
  Session() noexcept;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Connects to the data source. Returns 0 connected, -1 failed (only
  // SQL_ERROR counts as failure; LastFailure holds the records). The schema
  // is not used.
  int Connect(const char* user, const char* password, const char* source, const char* schema);
  SQLHDBC Connection() const noexcept { return Connection_; }
  // Whether the driver returns the results of several statements sent in
  // one call (SQL_MULT_RESULT_SETS, asked once at the connect).
  bool CanBatch() const noexcept { return CanBatch_; }

  // Formats a query into SqlText (FormatSqlTextInto's conventions): 0, or
  // -1 when it would not fit (SqlText is then empty and nothing is sent).
  int FormatSqlText(const char* format, ...);

  // Fills LastFailure with the diagnostic records of the handle (all zero
  // first; Count 0 when the driver gave none).
  void CaptureDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);
  // CaptureDiagnostics for a call that failed: when the handle is null or
  // the driver gave no record, LastFailure becomes one of the tool's own
  // with that message (a failure the driver did not describe still is one).
  void CaptureFailure(SQLSMALLINT handleType, SQLHANDLE handle, const char* withoutDiagnostics);
  // A new statement handle on the connection, with the query timeout set;
  // SQL_NULL_HSTMT (LastFailure set) when either failed.
  SQLHSTMT NewStatementHandle();
  // The native error of the first record of LastFailure; 0 when there is none.
  int32_t FailureNativeError() const;
  // Makes LastFailure one record of the tool's own: a statement that failed
  // before or without the driver (state "HY000", native error -1).
  void SetOwnFailure(const char* message);
  // Prints one line per record of LastFailure:
  //   "DB-Diagnose: SQLSTATE <state>, Fehlernummer <native>, Meldung: <message>\n"
  // Any occurrence of secret (when not empty) in a message is printed as "***".
  void PrintFailureRecord(const char* secret) const;
  // The one line a run prints, always, when a statement fails:
  //   "Datenbankfehler bei <query> fuer <subject>: SQLSTATE <state>,
  //    Fehlernummer <native>, Meldung: <message>\n"
  // with the query LastFailure names and its first record; the observer
  // then gets the whole record (the trace prints every record).
  void PrintStatementFailure(const char* subject) const;

  SessionTimeouts Timeouts = {30, 120};
  // The one statement text of the session. Every query is formatted into
  // it just before it is executed; its content is valid until the next one.
  char SqlText[SqlTextSize] = {};
  // Status of the last fetch: 0 row, 100 no more rows, anything else an error.
  int32_t SqlCode = 0;
  FailureRecord LastFailure = {};
  // The busy rule of SQL Server, checked in test builds.
  BusyGuard Busy;
  // The statements of the badge being written, in one request.
  StatementBatch Batch;
  RunObserver* Observer;

 private:
  SQLHDBC Connection_ = SQL_NULL_HDBC;
  bool CanBatch_ = false;
};

// Prints the records of failure as Session::PrintFailureRecord does, texts
// shown by observer, from record first on.
void PrintFailureRecords(const FailureRecord& failure, const char* secret, RunObserver& observer, int first = 0);

// What a statement call gave. Execute and open give Done or Failed; a fetch
// or a lookup gives Row, NoRow or Failed. On Failed, LastFailure holds the
// diagnostic records. Code is the number the call reports besides: the
// fetch code (0 or 1 with a row, 100 without), or what the query family
// documents; it never decides between row, no row and failure.
enum class Outcome { Done, Row, NoRow, Failed };
struct [[nodiscard]] StatementResult {
  Outcome Is;
  int Code;
  bool Failed() const noexcept { return Is == Outcome::Failed; }
  bool IsRow() const noexcept { return Is == Outcome::Row; }
  bool IsNoRow() const noexcept { return Is == Outcome::NoRow; }
};
inline StatementResult Done() noexcept { return {Outcome::Done, 0}; }
inline StatementResult RowFound(int code = 0) noexcept { return {Outcome::Row, code}; }
inline StatementResult NoRowFound(int code = 100) noexcept { return {Outcome::NoRow, code}; }
inline StatementResult Failure(int code = -1) noexcept { return {Outcome::Failed, code}; }
// Names the query of a failure in the session's LastFailure; returns
// result as it is.
StatementResult NameFailedQuery(Session& db, const char* query, StatementResult result) noexcept;



// One output column: SQL_C_CHAR into a text buffer of Size bytes (terminator
// included) or SQL_C_LONG into an int32_t.
struct ColumnBinding {
  SQLSMALLINT CType;
  void* Buffer;
  SQLLEN Size;
};

// The most columns one statement binds (the balance values lookup: 41).
constexpr int MaxColumns = 48;

// The rows a cursor asks the driver for at a time.
constexpr int BlockRows = 16;

// One ODBC statement handle of a session, the columns its rows are fetched into, one
// indicator per column and the integer presets of the NULL rule. Frees the
// handle when it goes; move-only. An empty Statement (no handle) is a closed
// cursor.
//
// The NULL rule: a NULL column leaves its receiving buffer as it was before
// the fetch: an integer keeps its preset, a text reads as empty (text
// buffers are cleared before the fetch where the caller relies on it).
// Drivers differ in what they write for NULL, so the rule is applied from
// the indicators.
//
// Rows reach the caller only through Fetch, one at a time, into the buffers
// the caller names; how the statement gets them from the driver is its own
// business. A statement set to UseBlockFetch asks the driver for BlockRows
// rows at a time (one request to SQL Server instead of one per row) into
// block storage of its own and hands them out one by one, with the codes a
// fetch of that one row would have given. The block storage grows to the
// largest row it was bound for and is kept for the life of the object, so
// that reopening a cursor allocates nothing.
class Statement {
 public:
  explicit Statement(Session& session) noexcept : Session_(&session) {}
  ~Statement() noexcept;
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool IsOpen() const noexcept { return Handle_ != SQL_NULL_HSTMT; }
  Session& Db() const noexcept { return *Session_; }
  SQLHSTMT Handle() const noexcept { return Handle_; }

  // Frees any handle it holds and allocates a new one on the connection,
  // with the session's query timeout. false (and empty, LastFailure set)
  // when the allocation or the timeout failed. When the session's SqlText
  // is the next statement of its open batch, the statement takes that
  // statement's result instead (false when that statement failed): it is
  // read one row at a time, and executing it sends nothing.
  [[nodiscard]] bool Allocate() noexcept;
  // Not scrollable, optimistic concurrency: a server cursor on SQL Server,
  // which does not keep the connection busy and holds no lock on the rows
  // it has read. false (LastFailure set) when the driver refused either
  // attribute; a driver that substitutes other values (01S02, the SQLite
  // driver) is taken at its word.
  [[nodiscard]] bool UseServerCursor() noexcept;
  // Rows are fetched BlockRows at a time (before Execute). A driver that
  // refuses the row array keeps fetching one row at a time. false
  // (LastFailure set) when the driver took the row array but cannot be told
  // where to count the rows, nor be set back to one row.
  [[nodiscard]] bool UseBlockFetch() noexcept;
  // Executes the session's SqlText: Done, or Failed with LastFailure set; Failed also
  // when SqlText is empty (a query that did not fit), without calling the
  // driver.
  StatementResult Execute() noexcept;
  // Fetches the next row into columns, bound on the first fetch (the
  // buffers of one statement's fetches never change; other columns are
  // bound anew). Row (Code 0, or 1 when a text was cut), NoRow (Code 100)
  // or Failed (Code the driver's code, LastFailure set); Failed without
  // fetching when there are more than MaxColumns columns. A plain
  // statement (no server cursor) whose rows are read to their end also
  // reads the rest of its reply (EndResults), so that freeing it sends no
  // cancel; a failure there is Failed.
  StatementResult Fetch(const ColumnBinding* columns, int count) noexcept;
  // Reads the rest of the reply and discards it (SQLMoreResults), without
  // writing into the bound buffers. false (LastFailure set) when the rest
  // of the reply held an error.
  [[nodiscard]] bool EndResults() noexcept;
  // Releases the handle, if any; the Statement is then empty (its block
  // storage stays for the next handle).
  void Free() noexcept;

 private:
  void TakeFrom(Statement& other) noexcept;
  void Bind(const ColumnBinding* columns, int count) noexcept;
  bool BlockTakes(const ColumnBinding* columns, int count) const noexcept;
  bool BindBlock(const ColumnBinding* columns, int count) noexcept;
  bool PointBlockAttributes() noexcept;
  SQLRETURN FetchBlock() noexcept;
  bool DiagnosticsReportError() const noexcept;
  StatementResult Failed(SQLRETURN rc) noexcept;
  SQLRETURN HandOutRow(const ColumnBinding* columns, int count) noexcept;
  StatementResult RowsEnded() noexcept;
  // The statement's results are read to their end or given up.
  void ResultsDone() noexcept;

  Session* Session_;
  SQLHSTMT Handle_ = SQL_NULL_HSTMT;
  const ColumnBinding* Columns_ = nullptr;  // what the handle is bound to
  int ColumnCount_ = 0;
  bool ServerCursor_ = false;
  // The handle is the session batch's, holding this statement's result.
  bool Borrowed_ = false;
  // Executed and not yet read to its end (the busy check of test builds).
  bool RowsPending_ = false;
  SQLLEN Indicators_[MaxColumns];
  int32_t Presets_[MaxColumns];

  // Block fetch. Per bound column, at ColumnOffsets_[i] in Block_: its
  // BlockRows indicators, then its BlockRows values of BoundSizes_[i] bytes
  // each. The caller's buffers are not bound: any buffers of the bound
  // types and of no larger sizes take the rows.
  bool BlockFetch_ = false;
  bool BlockBound_ = false;
  int BoundCount_ = 0;
  SQLSMALLINT BoundTypes_[MaxColumns];
  SQLLEN BoundSizes_[MaxColumns];
  char* Block_ = nullptr;
  size_t BlockCapacity_ = 0;
  size_t ColumnOffsets_[MaxColumns];
  SQLULEN RowsFetched_ = 0;
  SQLUSMALLINT RowStatus_[BlockRows];
  int BlockRowCount_ = 0;  // rows of the current block that are delivered
  int NextRow_ = 0;        // the next of them to hand out
  // A failure the driver reported with the block, behind its good rows:
  // handed out after them instead of fetching again.
  bool FailureHeld_ = false;
  SQLRETURN HeldCode_ = SQL_SUCCESS;
};

// Multi-row cursor convention. `cursor` is the cursor's Statement, which
// its query family keeps for the run.
//  OpenCursor: frees what the cursor held; allocates; a server cursor
//    (UseServerCursor), block fetch; executes the session's SqlText (formatted by the
//    caller). Done, or Failed (Code the native error of a failed execution,
//    else -1; LastFailure holds the records; the cursor is empty). For a
//    query whose rows are read while other statements run between them.
StatementResult OpenCursor(Statement& cursor);
//  OpenResultSet: as OpenCursor, without cursor attributes: a plain
//    statement, whose rows SQL Server sends in the one reply to it (one
//    request, where a server cursor takes four). Its rows must be fetched
//    to their end (or the statement freed) before the next statement is
//    executed: until then the connection is busy with them.
StatementResult OpenResultSet(Statement& query);
//  FetchCursor: fetches into columns (always the same ones for one cursor);
//    an empty cursor fails. SqlCode := the fetch code (-1 on a failure of
//    the tool's own; 0 and 1 are rows: the caller sets SqlCode to 0).
StatementResult FetchCursor(Statement& cursor, const ColumnBinding* columns, int columnCount);
//  CloseCursor: frees the cursor's handle, if any.
void CloseCursor(Statement& cursor);

// Keeps one more row of a query read whole; false (the rows as they were)
// when memory ran out.
template <typename Row>
bool KeepRow(std::vector<Row>& rows, const Row& row) noexcept {
  try {
    rows.push_back(row);
    return true;
  } catch (...) {
    return false;
  }
}

// Single-row lookup convention: allocate (no attributes), execute SqlText
// (formatted by the caller), fetch once, and when a row came, read the rest
// of the reply (EndResults) before the statement is freed. Row or NoRow
// with the fetch code, or Failed (allocation, execution, the fetch or the
// rest of the reply); SqlCode is left alone.
StatementResult RunLookup(Session& db, const ColumnBinding* columns, int columnCount);
// RunLookup, and SqlCode := 0 with a row, the fetch code without one.
StatementResult LookupSingleRow(Session& db, const ColumnBinding* columns, int columnCount);
