// A throw-away installation for tests: a SQLite database reached through
// unixODBC and the SQLite ODBC driver (with the gentrmx_sqlext extension),
// the ODBC configuration that names it, the encrypted configuration file
// and a working folder from which the tool finds that file.
//
// Layout under Root (a fresh folder below /tmp):
//   db.sqlite                  the database (DbPath)
//   odbcinst.ini, odbc.ini     driver "SQLite3 gentrmx", data source Dsn
//                              ("GENTRMX_" and six characters, its own name
//                              for each installation), both written by
//                              gentrmx-odbc-setup
//   files/quillnest.ini        LOGIN, PASS, DATABASE, DB_SYSTEM, SCHEMA
//   work/dir/                  the tool's working folder (WorkDir)
//
// Failures of the set-up throw std::runtime_error with a message that says
// what went wrong; GoogleTest reports it as the test's failure.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "common/whole_file.h"
#include "tds_server.h"

struct RunResult {
  int ExitCode;        // 0..255 as the process exited (255 for the tool's -1); minus the signal number if killed
  std::string Stdout;  // exact bytes
  std::string Stderr;  // exact bytes
};

// Runs program argv[0] (a path; no shell, no PATH search) with argv in
// workDir, with this process's environment minus the ODBC and statement-log
// variables, plus extraEnv ("NAME=value" entries). Standard input is
// /dev/null.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& workDir,
                     const std::vector<std::string>& extraEnv = {});

// The bytes of the file at path; throws std::runtime_error when it cannot be
// read.
std::string ReadWholeFile(const std::string& path);

// Today's local date (TZ honoured) as YYYYMMDD, offsetDays added: the date
// the data source's convert(char(8), CURRENT_TIMESTAMP, 112) gives.
std::string TodayYmd(int offsetDays = 0);

// The driver that serves an installation's data source: the SQLite ODBC
// driver on the database file, or FreeTDS speaking SQL Server's wire
// protocol to the TDS test server, which answers from the same file (server
// cursors, default result sets, the busy rule, character-set conversion and
// login checks are then real).
enum class ServedBy { SqliteDriver, FreeTds };

class ScratchInstallation {
 public:
  // Tables only.
  static ScratchInstallation Empty(bool stepApi = false, ServedBy servedBy = ServedBy::SqliteDriver);
  // The sample installation of gentrmx-sample with that many badges.
  static ScratchInstallation Generated(int badges, unsigned seed, bool stepApi = false,
                                       ServedBy servedBy = ServedBy::SqliteDriver);

  // Points the configuration (DATABASE) at the data source of that driver.
  // The first switch to FreeTDS starts the TDS test server (login gentrmx,
  // password geheim, as the configuration holds them), with dropAfter > 0
  // one that drops each connection at its dropAfter-th request, with
  // silentAfter > 0 one that stops answering at its silentAfter-th (both
  // counted from the pre-login, 1), with abortBatchOnError one that ends a
  // batch at its first failing statement (as SQL Server does for errors
  // that abort the batch); other values than the running server's start it
  // anew. The statement log then comes from the server's side.
  void ServeBy(ServedBy servedBy, int dropAfter = 0, int silentAfter = 0, bool abortBatchOnError = false);
  ServedBy Served() const { return Serving; }
  // The TDS test server's request log ("KIND\ttext" lines); empty when
  // the server never ran.
  std::vector<std::string> RequestLog() const;
  void ClearRequestLog();
  // The FreeTDS data source (set up for every installation; it points at
  // the test server once ServeBy(FreeTds) started it).
  std::string TdsDsn;

  ~ScratchInstallation();  // removes Root (kept when GENTRMX_KEEP_SCRATCH is set)
  ScratchInstallation(ScratchInstallation&& other) noexcept;
  ScratchInstallation& operator=(ScratchInstallation&& other) noexcept;
  ScratchInstallation(const ScratchInstallation&) = delete;
  ScratchInstallation& operator=(const ScratchInstallation&) = delete;

  // Runs SQL directly on the database file (sqlite3, no ODBC, no extension).
  void Exec(const std::string& sql);
  // Rewrites one setting of files/quillnest.ini with gentrmx-config.
  void SetConfig(const std::string& key, const std::string& value);

  // Runs the gentrmx executable in WorkDir against this installation. With
  // withSqlLog the statements the tool runs are logged (StatementLog).
  RunResult Run(const std::vector<std::string>& args, bool withSqlLog = false);
  // Runs another program (a path) in WorkDir with this installation's ODBC
  // configuration, as Run does for gentrmx.
  RunResult RunTool(const std::string& program, const std::vector<std::string>& args) const;

  // Run through both drivers: first through FreeTDS and the TDS test server,
  // then through the SQLite driver, whose result it returns. When the run
  // starts a new file (fourth argument "1") and ends well through the SQLite
  // driver without a driver's error number in its messages, the FreeTDS run
  // must have given the same exit status, messages, file and statement texts
  // (a test failure says "through FreeTDS" otherwise).
  RunResult RunBothWays(const std::vector<std::string>& args, bool withSqlLog = false);

  // Whole file as bytes; a relative path is taken from Root. Throws when the
  // file cannot be read.
  std::string ReadFile(const std::string& path) const;
  bool FileExists(const std::string& path) const;

  // The texts of the statements logged so far, in order, byte for byte: for
  // the last Run with withSqlLog, or since UseInThisProcess /
  // ClearStatementLog. A statement is logged when it starts to run; one that
  // fails to compile (syntax error, missing table) is not logged.
  // Through FreeTDS the texts are those the tool formatted, without the
  // separator that joined them into a badge's batch.
  std::vector<std::string> StatementLog() const;
  void ClearStatementLog();

  // Points this process's ODBC configuration at this installation (and its
  // statement log), so that Session::Connect("u", "p", Dsn.c_str(), "") in
  // the test itself reaches it. The variables stay set; unixODBC and the
  // extension read them at connect time. (In this process the driver is
  // found through a process-wide copy of odbcinst.ini: unixODBC keeps the
  // first ODBCSYSINI it sees for the life of the process.)
  void UseInThisProcess();

  // Connects through unixODBC as the tool does and runs a probe query that
  // needs convert() and the schema Dravonix; throws with a clear message
  // when the extension is missing (the driver then only prints to standard
  // error and connects all the same). Done by Empty and Generated.
  void CheckDataSource() const;

  std::string Root, WorkDir, DbPath, Dsn;
  // "NAME=value" entries added to the environment of Run and RunTool
  // (GENTRMX_QUERY_TIMEOUT=..., say).
  std::vector<std::string> RunEnv;

 private:
  ScratchInstallation() = default;
  static ScratchInstallation Create(int badges, unsigned seed, bool empty, bool stepApi);
  std::vector<std::string> OdbcEnvironment() const;
  void SetUpTdsDataSource(int port);

  std::string SqlLogPath;
  int RunCount = 0;
  ServedBy Serving = ServedBy::SqliteDriver;
  std::unique_ptr<TdsTestServer> Server;
  int ServerDropAfter = 0;
  int ServerSilentAfter = 0;
  bool ServerAbortsBatch = false;
};

// The statements of a run through FreeTDS (sent) without those a writer sent
// ahead in a badge's batch and did not need: used, the same run's statements
// through the SQLite driver (which get no batch), is matched in order, and a
// statement of sent that is not the next of used is left out when it is a
// location, balance or badge display definition query.
std::vector<std::string> WithoutStatementsSentAhead(const std::vector<std::string>& sent,
                                                    const std::vector<std::string>& used);
