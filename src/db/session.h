// The one database connection and the conventions every query follows.
//
// Queries are plain text formatted into SqlText and executed directly; no
// statement is prepared and no parameter is bound. Multi-row queries are
// cursors (open, fetch, close) with one process-wide Statement each, empty
// while the cursor is closed; single-row lookups hold their Statement only
// during the call.
#pragma once
#include <sql.h>
#include <sqlext.h>
#include <cstddef>
#include <cstdint>

#include "db/sql_text.h"

struct DbSessionHandles {
  SQLHENV Environment;
  SQLHDBC Connection;
};
// Set by ConnectDatabase, never released: the connection lasts until the
// process ends.
extern DbSessionHandles DbSession;

// Status of the last fetch: 0 row, 100 no more rows, anything else an error.
extern int32_t SqlCode;

struct DiagnosticRecord {
  char State[256];
  char Message[1000];
  int32_t NativeError;
};
constexpr int MaxFailureRecords = 8;
// Every diagnostic record (up to MaxFailureRecords) of the last failed
// connect or statement, in the order the driver gave them.
struct FailureRecord {
  int Count;
  DiagnosticRecord Records[MaxFailureRecords];
};
extern FailureRecord LastFailure;

// Connects to the data source. Returns 0 connected, -1 failed (only
// SQL_ERROR counts as failure). The schema is not used.
int ConnectDatabase(const char* user, const char* password, const char* source, const char* schema);

// Fills LastFailure with the diagnostic records of the handle (all zero
// first; Count 0 when the driver gave none).
void CaptureDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);
// The native error of the first record of LastFailure; 0 when there is none.
// What a cursor open that failed at execution returns.
int32_t FailureNativeError();
// Prints one line per record of LastFailure:
//   "DB-Diagnose: SQLSTATE <state>, Fehlernummer <native>, Meldung: <message>\n"
// Any occurrence of secret (when not empty) in a message is printed as "***".
void PrintFailureRecord(const char* secret);



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

// One ODBC statement handle, the columns its rows are fetched into, one
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
  Statement() noexcept = default;
  ~Statement() noexcept;
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool IsOpen() const noexcept { return Handle_ != SQL_NULL_HSTMT; }
  SQLHSTMT Handle() const noexcept { return Handle_; }

  // Frees any handle it holds and allocates a new one on the connection.
  // false (and empty) when the allocation returned SQL_ERROR.
  bool Allocate() noexcept;
  // Not scrollable, lock concurrency: a server cursor on SQL Server, which
  // does not keep the connection busy. Results not looked at.
  void UseServerCursor() noexcept;
  // Rows are fetched BlockRows at a time (before Execute). A driver that
  // refuses the row array keeps fetching one row at a time.
  void UseBlockFetch() noexcept;
  // Executes SqlText; SQL_ERROR also when SqlText is empty (a query that
  // did not fit), without calling the driver.
  SQLRETURN Execute() noexcept;
  // Fetches the next row into columns, bound on the first fetch (the
  // buffers of one statement's fetches never change; other columns are
  // bound anew). Returns the fetch code; 0 and 1 are rows. SQL_ERROR
  // without fetching when there are more than MaxColumns columns.
  SQLRETURN Fetch(const ColumnBinding* columns, int count) noexcept;
  // Reads the rest of the reply and discards it (SQLMoreResults), without
  // writing into the bound buffers.
  void EndResults() noexcept;
  // Releases the handle, if any; the Statement is then empty (its block
  // storage stays for the next handle).
  void Free() noexcept;

 private:
  void TakeFrom(Statement& other) noexcept;
  void Bind(const ColumnBinding* columns, int count) noexcept;
  bool BlockTakes(const ColumnBinding* columns, int count) const noexcept;
  bool BindBlock(const ColumnBinding* columns, int count) noexcept;
  void PointBlockAttributes() noexcept;
  SQLRETURN FetchBlock() noexcept;
  bool DiagnosticsReportError() const noexcept;
  SQLRETURN HandOutRow(const ColumnBinding* columns, int count) noexcept;
  // The statement's results are read to their end or given up.
  void ResultsDone() noexcept;

  SQLHSTMT Handle_ = SQL_NULL_HSTMT;
  const ColumnBinding* Columns_ = nullptr;  // what the handle is bound to
  int ColumnCount_ = 0;
  bool ServerCursor_ = false;
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

// Multi-row cursor convention. `cursor` is the cursor's process-wide
// Statement.
//  OpenCursor: frees what the cursor held; allocates; not scrollable, lock
//    concurrency, block fetch; executes SqlText (formatted by the caller). Returns 0, -1
//    when no handle could be allocated or the query did not fit, else the
//    native error of the failed execution (LastFailure holds the records;
//    the cursor is empty).
int OpenCursor(Statement& cursor);
//  FetchCursor: SqlCode := -1; an empty cursor gives -1; fetches into
//    columns (always the same ones for one cursor); SqlCode := the fetch
//    code, which is returned as it came (0 and 1 are rows: the caller sets
//    SqlCode to 0).
int FetchCursor(Statement& cursor, const ColumnBinding* columns, int columnCount);
//  CloseCursor: frees the cursor's handle, if any. Returns 0.
int CloseCursor(Statement& cursor);

// Single-row lookup convention: allocate (no attributes), execute SqlText
// (formatted by the caller), fetch once, and when a row came, read the rest
// of the reply (EndResults) before the statement is freed.
enum class LookupOutcome {
  Row,          // *fetchCode 0 or 1
  NoRow,        // *fetchCode the fetch code (100: no row)
  NoStatement,  // no handle could be allocated
  NotExecuted,  // the execution failed; LastFailure holds the records
};
// The convention with its outcome; SqlCode is left alone.
LookupOutcome RunLookup(const ColumnBinding* columns, int columnCount, int* fetchCode);
// Returns -1 when allocation or execution failed, the fetch code when it is
// neither 0 nor 1 (SqlCode := that code), else 0 with SqlCode 0.
int LookupSingleRow(const ColumnBinding* columns, int columnCount);
