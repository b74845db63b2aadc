// The one database connection and the conventions every query follows.
//
// Queries are plain text formatted into SqlText and executed directly; no
// statement is prepared and no parameter is bound. Multi-row queries are
// cursors (open, fetch, close) with one process-wide statement handle each;
// single-row lookups hold their statement handle only during the call.
#pragma once
#include <sql.h>
#include <sqlext.h>
#include <cstddef>
#include <cstdint>

struct DbSessionHandles {
  SQLHENV Environment;
  SQLHDBC Connection;
};
// Set by ConnectDatabase, never released: the connection lasts until the
// process ends.
extern DbSessionHandles DbSession;

constexpr size_t SqlTextSize = 2016;
// The statement text; valid until the next query is formatted.
extern char SqlText[SqlTextSize];
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

// Removes trailing blanks and tabs in place; returns text.
char* TrimRight(char* text);
// First character that is not a blank, tab or line feed; the text itself
// when there is none.
char* SkipLeadingBlanks(char* text);

// Formats a query into SqlText. Returns 0, or -1 when the text would not fit
// (nothing is then executed: a cut query must never reach the server).
int FormatSqlText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Copies value into out with every single quote doubled, so that the value
// stays one literal between single quotes. Returns out; a value that does not
// fit is cut at a character boundary (never leaving half a doubled quote).
const char* QuoteSqlValue(const char* value, char* out, size_t outSize);

// One output column: SQL_C_CHAR into a text buffer of Size bytes (terminator
// included) or SQL_C_LONG into an int32_t.
struct ColumnBinding {
  SQLSMALLINT CType;
  void* Buffer;
  SQLLEN Size;
};

// A NULL column leaves its receiving buffer as it was before the fetch: an
// integer keeps its preset, a text reads as empty (text buffers are cleared
// before the fetch where the caller relies on it). Drivers differ in what
// they write for NULL, so the rule is applied from the indicators.

// Multi-row cursor convention. `handle` is the cursor's process-wide
// statement handle.
//  OpenCursor: handle := null; allocate; not scrollable, lock concurrency;
//    execute SqlText (formatted by the caller). Returns 0, -1 when no handle
//    could be allocated, else the native error of the failed execution
//    (diagnostics in LastFailure; the handle is released and null).
int OpenCursor(SQLHSTMT* handle);
//  FetchCursor: SqlCode := -1; null handle gives -1; binds every column
//    again and fetches; SqlCode := the fetch code, which is returned as it
//    came (0 and 1 are rows: the caller sets SqlCode to 0).
int FetchCursor(SQLHSTMT handle, const ColumnBinding* columns, int columnCount);
//  CloseCursor: releases the handle if there is one and sets it null.
int CloseCursor(SQLHSTMT* handle);

// Single-row lookup convention: allocate (no attributes), execute SqlText
// (formatted by the caller), bind, fetch once, SqlCode := fetch code,
// release. Returns -1 when allocation or execution failed, the fetch code
// when it is neither 0 nor 1, else 0 with SqlCode 0.
int LookupSingleRow(const ColumnBinding* columns, int columnCount);

// Lower-level pieces for the lookups whose conventions differ slightly.
SQLHSTMT AllocateStatement();                       // null on failure
SQLRETURN ExecuteStatement(SQLHSTMT stmt, bool serverCursor);
SQLRETURN BindAndFetch(SQLHSTMT stmt, const ColumnBinding* columns, int columnCount);
void FreeStatement(SQLHSTMT stmt);
