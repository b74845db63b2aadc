/*
** SQLite extension that lets a SQLite file stand in for the installation's
** SQL Server database. The SQLite ODBC driver loads it at connect time
** (DSN option LoadExt=<path of this module>). It supplies what the tool's
** query texts need beyond SQLite's own dialect:
**
**   convert(type, value, style)  the server's CONVERT(char(8), x, 112):
**                                a date becomes YYYYMMDD text;
**   schema Dravonix              the database file itself, attached under
**                                the schema name the query texts use.
**
** For tests it also keeps a statement log: when the environment variable
** GENTRMX_SQL_LOG names a file, the text of every statement that runs on
** the connection is appended to it, byte for byte, as
**
**   "@@STMT <length>\n" <length bytes of statement text> "\n"
**
** one record per statement start, written with one write() call each so
** that several processes may log to the same file. A statement that fails
** to compile never starts and is not logged. If the file cannot be opened
** the extension fails to load (and registers nothing), so that a test
** asking for a log cannot run without one.
*/
#define _DEFAULT_SOURCE /* timegm, localtime_r */
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

/* Digits and dashes in the places of "YYYY-MM-DD". */
static int LooksLikeIsoDate(const unsigned char* text) {
  static const char pattern[] = "dddd-dd-dd";
  int i;
  for (i = 0; pattern[i] != '\0'; i++) {
    if (pattern[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != '-') return 0;
  }
  return 1;
}

/* Digits and colons in the places of " HH:MM:SS". */
static int LooksLikeUtcTime(const unsigned char* text) {
  static const char pattern[] = " dd:dd:dd";
  int i;
  for (i = 0; pattern[i] != '\0'; i++) {
    if (pattern[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != pattern[i]) return 0;
  }
  return 1;
}

static int Digits(const unsigned char* text, int count) {
  int value = 0;
  int i;
  for (i = 0; i < count; i++) value = value * 10 + (text[i] - '0');
  return value;
}

/* The local date (YYYYMMDD, 8 bytes) of the UTC moment "YYYY-MM-DD HH:MM:SS". */
static int LocalDateOf(const unsigned char* text, int month, int day, char* result) {
  struct tm utc;
  struct tm local;
  time_t moment;
  char digits[16];

  memset(&utc, 0, sizeof utc);
  utc.tm_year = Digits(text, 4) - 1900;
  utc.tm_mon = month - 1;
  utc.tm_mday = day;
  utc.tm_hour = Digits(text + 11, 2);
  utc.tm_min = Digits(text + 14, 2);
  utc.tm_sec = Digits(text + 17, 2);
  moment = timegm(&utc);
  if (moment == (time_t)-1) return -1;
  tzset();
  if (localtime_r(&moment, &local) == NULL) return -1;
  if (strftime(digits, sizeof digits, "%Y%m%d", &local) != 8) return -1;
  memcpy(result, digits, 8);
  return 0;
}

/*
** convert(type, value, style): NULL gives NULL. A value that starts like a
** date as SQLite writes them ("YYYY-MM-DD...") gives its eight digits
** YYYYMMDD; if its month or day is out of range the call fails as the
** server's conversion of a bad date does, which lets test data make a query
** fail at a chosen row. A whole timestamp "YYYY-MM-DD HH:MM:SS" is how
** SQLite writes a point in time (CURRENT_TIMESTAMP, datetime()), and SQLite
** writes it in UTC; the server's CURRENT_TIMESTAMP is its local time, so such
** a value gives the local date of that moment (TZ honoured), and a badge valid
** from today counts from local midnight. Any other value is taken as text,
** cut or blank-padded to eight characters as the server's char(8) would be:
** a stored "20240301" stays as it is. The type argument (char(8) is
** SQLite's char() function here) and the style are not looked at.
*/
static void ConvertFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  const unsigned char* text;
  int length;
  char result[8];
  int i;

  (void)argc;
  if (sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  text = sqlite3_value_text(argv[1]);
  length = sqlite3_value_bytes(argv[1]);
  if (text == NULL) {
    sqlite3_result_error_nomem(context);
    return;
  }
  if (length >= 10 && LooksLikeIsoDate(text)) {
    int month = (text[5] - '0') * 10 + (text[6] - '0');
    int day = (text[8] - '0') * 10 + (text[9] - '0');
    if (month < 1 || month > 12 || day < 1 || day > 31) {
      sqlite3_result_error(context, "Conversion failed when converting date and/or time from character string.", -1);
      return;
    }
    if (length == 19 && LooksLikeUtcTime(text + 10)) {
      if (LocalDateOf(text, month, day, result) != 0) {
        sqlite3_result_error(context, "Conversion failed when converting date and/or time from character string.", -1);
        return;
      }
    } else {
      memcpy(result, text, 4);
      memcpy(result + 4, text + 5, 2);
      memcpy(result + 6, text + 8, 2);
    }
  } else {
    for (i = 0; i < 8; i++) result[i] = i < length ? (char)text[i] : ' ';
  }
  sqlite3_result_text(context, result, 8, SQLITE_TRANSIENT);
}

/* The statement log of one connection. */
typedef struct StatementLog {
  int Fd;
} StatementLog;

/*
** Appends one record for a statement that starts running. Only the start
** of a statement (SQLITE_TRACE_STMT) is traced; the logged text is the
** statement's own text as it was prepared, not the trace callback's, which
** may carry a trigger comment instead.
*/
static int TraceStatement(unsigned mask, void* context, void* statement, void* unused) {
  StatementLog* log = (StatementLog*)context;
  const char* sql;
  size_t length;
  char header[32];
  int headerLength;
  char* record;
  size_t recordLength;
  size_t written;

  (void)unused;
  if (mask != SQLITE_TRACE_STMT || log->Fd < 0) return 0;
  sql = sqlite3_sql((sqlite3_stmt*)statement);
  if (sql == NULL) return 0;
  length = strlen(sql);
  headerLength = snprintf(header, sizeof header, "@@STMT %zu\n", length);
  recordLength = (size_t)headerLength + length + 1;
  record = (char*)sqlite3_malloc64(recordLength);
  if (record == NULL) return 0;
  memcpy(record, header, (size_t)headerLength);
  memcpy(record + headerLength, sql, length);
  record[recordLength - 1] = '\n';
  written = 0;
  while (written < recordLength) {
    ssize_t n = write(log->Fd, record + written, recordLength - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += (size_t)n;
  }
  sqlite3_free(record);
  return 0;
}

/*
** The log's file stays open as long as the connection; SQLite calls this
** when it drops the helper function that carries the log, that is when the
** connection closes.
*/
static void CloseStatementLog(void* context) {
  StatementLog* log = (StatementLog*)context;
  if (log->Fd >= 0) close(log->Fd);
  sqlite3_free(log);
}

/* A function that exists only to own the log (see CloseStatementLog). */
static void StatementLogFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  (void)argc;
  (void)argv;
  sqlite3_result_text(context, getenv("GENTRMX_SQL_LOG"), -1, SQLITE_TRANSIENT);
}

/*
** Opens the statement log's file when GENTRMX_SQL_LOG names one. *log stays
** NULL when there is no log to keep. Registers nothing, so that a failure
** here leaves no pointer into this library behind.
*/
static int OpenStatementLog(StatementLog** log, char** errorMessage) {
  const char* path = getenv("GENTRMX_SQL_LOG");

  *log = NULL;
  if (path == NULL || path[0] == '\0') return SQLITE_OK;
  *log = (StatementLog*)sqlite3_malloc(sizeof **log);
  if (*log == NULL) return SQLITE_NOMEM;
  (*log)->Fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if ((*log)->Fd < 0) {
    *errorMessage = sqlite3_mprintf("cannot open statement log %s: %s", path, strerror(errno));
    sqlite3_free(*log);
    *log = NULL;
    return SQLITE_CANTOPEN;
  }
  return SQLITE_OK;
}

/* Attaches the connection's own database file as schema Dravonix. */
static int AttachDravonix(sqlite3* db, char** errorMessage) {
  const char* file = sqlite3_db_filename(db, "main");
  sqlite3_stmt* attach = NULL;
  int rc;

  if (file == NULL) file = "";
  rc = sqlite3_prepare_v2(db, "ATTACH DATABASE ?1 AS Dravonix", -1, &attach, NULL);
  if (rc == SQLITE_OK) rc = sqlite3_bind_text(attach, 1, file, -1, SQLITE_STATIC);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(attach);
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK) *errorMessage = sqlite3_mprintf("cannot attach %s as Dravonix: %s", file, sqlite3_errmsg(db));
  sqlite3_finalize(attach);
  return rc;
}

/*
** When this returns an error, SQLite unloads the library again: every step
** that can fail therefore comes before the first registration, and a
** failing registration takes back the ones before it. The error text goes
** to the caller (the ODBC driver), which reports it.
*/
#ifdef _WIN32
__declspec(dllexport)
#endif
int sqlite3_gentrmxsqlext_init(sqlite3* db, char** errorMessage, const sqlite3_api_routines* api) {
  StatementLog* log = NULL;
  int rc;

  SQLITE_EXTENSION_INIT2(api);
  rc = OpenStatementLog(&log, errorMessage);
  if (rc != SQLITE_OK) return rc;
  rc = AttachDravonix(db, errorMessage);
  if (rc != SQLITE_OK) {
    if (log != NULL) CloseStatementLog(log);
    return rc;
  }
  rc = sqlite3_create_function(db, "convert", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, NULL,
                               ConvertFunction, NULL, NULL);
  if (rc != SQLITE_OK) {
    if (log != NULL) CloseStatementLog(log);
    return rc;
  }
  if (log == NULL) return SQLITE_OK;
  /* The trace starts after the attach above, so that the attach is not
  ** logged. The function owns the log from here on: SQLite calls CloseStatementLog
  ** when it is dropped, also when registering it fails. */
  rc = sqlite3_create_function_v2(db, "gentrmx_sql_log", 0, SQLITE_UTF8, log, StatementLogFunction, NULL, NULL,
                                  CloseStatementLog);
  if (rc == SQLITE_OK) rc = sqlite3_trace_v2(db, SQLITE_TRACE_STMT, TraceStatement, log);
  if (rc != SQLITE_OK) {
    sqlite3_trace_v2(db, 0, NULL, NULL);
    sqlite3_create_function_v2(db, "gentrmx_sql_log", 0, SQLITE_UTF8, NULL, NULL, NULL, NULL, NULL);
    sqlite3_create_function(db, "convert", 3, SQLITE_UTF8, NULL, NULL, NULL, NULL);
  }
  return rc;
}

/* The same entry point under the name SQLite tries when given none. */
#ifdef _WIN32
__declspec(dllexport)
#endif
int sqlite3_extension_init(sqlite3* db, char** errorMessage, const sqlite3_api_routines* api) {
  return sqlite3_gentrmxsqlext_init(db, errorMessage, api);
}
