// Scratch installations for tests: see installation.h.
#include "installation.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace {

// Variables that decide which ODBC configuration and statement log a
// process uses; a child gets only the ones the installation sets.
const char* const IsolatedVariables[] = {"ODBCSYSINI", "ODBCINI", "ODBCINSTINI", "GENTRMX_SQL_LOG"};

bool IsIsolated(const char* entry) {
  for (const char* name : IsolatedVariables) {
    size_t length = std::strlen(name);
    if (std::strncmp(entry, name, length) == 0 && entry[length] == '=') return true;
  }
  return false;
}

std::string Quote(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& a : argv) text += (text.empty() ? "" : " ") + ("'" + a + "'");
  return text;
}

void WriteTextFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

void MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

std::string ProcessOdbcFolderPath;

void RemoveProcessOdbcFolder() { nftw(ProcessOdbcFolderPath.c_str(), RemoveEntry, 4, FTW_DEPTH | FTW_PHYS); }

// unixODBC takes ODBCSYSINI once per process and keeps that folder for good
// (and rereads its odbcinst.ini from time to time), so connections made in
// this process find the driver in one folder that lives as long as the
// process, not in an installation's folder that goes with the installation.
// It is made from the odbcinst.ini gentrmx-odbc-setup wrote for the first
// installation, before any test could change that file.
//
// It also keeps unixODBC's installer library loaded: the driver manager
// loads and unloads it around each connect, and what it keeps in its caches
// would then show up in leak reports as coming from an unknown module,
// beyond the reach of the leak suppressions. The driver itself stays loaded
// through DontDLClose.
void MakeProcessOdbcFolder(const std::string& odbcinst) {
  if (!ProcessOdbcFolderPath.empty()) return;
  dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_NODELETE);
  char pattern[] = "/tmp/gentrmx-odbc-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  ProcessOdbcFolderPath = pattern;
  std::atexit(RemoveProcessOdbcFolder);
  WriteTextFile(ProcessOdbcFolderPath + "/odbcinst.ini", odbcinst);
}

const std::string& ProcessOdbcFolder() {
  if (ProcessOdbcFolderPath.empty()) throw std::logic_error("no installation has set up the ODBC driver yet");
  return ProcessOdbcFolderPath;
}

// Diagnostic record 1 of a handle as "STATE native message".
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {0};
  SQLCHAR message[1024] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length)))
    return "(no diagnostics)";
  return std::string(reinterpret_cast<char*>(state)) + " " + std::to_string(native) + " " +
         reinterpret_cast<char*>(message);
}

// Sets or restores environment variables for the duration of a scope.
class ScopedEnvironment {
 public:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    Saved.emplace_back(name, old ? std::make_pair(true, std::string(old)) : std::make_pair(false, std::string()));
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnvironment() {
    for (auto it = Saved.rbegin(); it != Saved.rend(); ++it) {
      if (it->second.first) setenv(it->first.c_str(), it->second.second.c_str(), 1);
      else unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> Saved;
};

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& workDir,
                     const std::vector<std::string>& extraEnv) {
  if (argv.empty()) throw std::invalid_argument("RunProgram: no program");
  // Everything the child needs is prepared before fork.
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; e++)
    if (!IsIsolated(*e)) envStrings.emplace_back(*e);
  envStrings.insert(envStrings.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp, args;
  for (std::string& s : envStrings) envp.push_back(&s[0]);
  envp.push_back(nullptr);
  std::vector<std::string> argStrings = argv;
  for (std::string& s : argStrings) args.push_back(&s[0]);
  args.push_back(nullptr);

  int out[2], err[2], failure[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(failure, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    int input = open("/dev/null", O_RDONLY);
    int code = 0;
    if (input < 0 || dup2(input, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) code = errno;
    else if (!workDir.empty() && chdir(workDir.c_str()) != 0) code = errno;
    else execve(args[0], args.data(), envp.data());
    if (code == 0) code = errno;
    // Tell the parent why the program did not start.
    ssize_t ignored = write(failure[1], &code, sizeof code);
    (void)ignored;
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  close(failure[1]);

  RunResult result{0, {}, {}};
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.Stdout, &result.Stderr};
  int openPipes = 2;
  char buffer[65536];
  while (openPipes > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        openPipes--;
      }
    }
  }
  int startError = 0;
  ssize_t got = read(failure[0], &startError, sizeof startError);
  close(failure[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (got == static_cast<ssize_t>(sizeof startError))
    throw std::runtime_error("cannot start " + Quote(argv) + " in " + workDir + ": " + std::strerror(startError));
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1000;
  return result;
}

std::string TodayYmd(int offsetDays) {
  std::time_t when = std::time(nullptr) + static_cast<std::time_t>(offsetDays) * 86400;
  std::tm local{};
  localtime_r(&when, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &local);
  return text;
}

ScratchInstallation ScratchInstallation::Empty(bool stepApi, ServedBy servedBy) {
  ScratchInstallation inst = Create(0, 0, true, stepApi);
  if (servedBy != ServedBy::SqliteDriver) inst.ServeBy(servedBy);
  return inst;
}

ScratchInstallation ScratchInstallation::Generated(int badges, unsigned seed, bool stepApi, ServedBy servedBy) {
  ScratchInstallation inst = Create(badges, seed, false, stepApi);
  if (servedBy != ServedBy::SqliteDriver) inst.ServeBy(servedBy);
  return inst;
}

// The FreeTDS data source on the test server's port (1 before the server
// runs: nothing listens there).
void ScratchInstallation::SetUpTdsDataSource(int port) {
  RunResult configured =
      RunProgram({GENTRMX_ODBC_SETUP, "freetds", Root, TdsDsn, "127.0.0.1", std::to_string(port)}, Root);
  if (configured.ExitCode != 0)
    throw std::runtime_error("gentrmx-odbc-setup freetds failed (" + std::to_string(configured.ExitCode) +
                             "): " + configured.Stderr);
}

void ScratchInstallation::ServeBy(ServedBy servedBy, int dropAfter, int silentAfter, bool abortBatchOnError) {
  if (servedBy == ServedBy::FreeTds && (Server == nullptr || dropAfter != ServerDropAfter ||
                                        silentAfter != ServerSilentAfter || abortBatchOnError != ServerAbortsBatch)) {
    Server.reset();
    ServerDropAfter = dropAfter;
    ServerSilentAfter = silentAfter;
    ServerAbortsBatch = abortBatchOnError;
    TdsServerOptions options;
    options.DbPath = DbPath;
    options.ExtensionPath = GENTRMX_SQLEXT;
    options.User = "gentrmx";
    options.Password = "geheim";
    options.LogPath = Root + "/tds-requests.log";
    options.DropAfter = dropAfter;
    options.SilentAfter = silentAfter;
    options.AbortBatchOnError = abortBatchOnError;
    options.ExtraEnv = {"GENTRMX_SQL_LOG=" + Root + "/sql-tds.log"};
    Server = std::make_unique<TdsTestServer>(options);
    SetUpTdsDataSource(Server->Port());
    Serving = servedBy;
    SetConfig("DATABASE", TdsDsn);
    // A server that drops or goes silent would fail the probe; one that
    // ends batches at an error answers as the one before it.
    if (dropAfter == 0 && silentAfter == 0 && !abortBatchOnError) CheckDataSource();
    return;
  }
  if (servedBy == Serving) return;
  Serving = servedBy;
  SetConfig("DATABASE", servedBy == ServedBy::FreeTds ? TdsDsn : Dsn);
}

RunResult ScratchInstallation::RunBothWays(const std::vector<std::string>& args, bool withSqlLog) {
  // A run that appends compares only where the files started alike.
  const bool startsNew = args.size() >= 4 && args[3] == "1";
  const std::string path = args.size() >= 3 ? args[2] : "";
  RunResult tds{};
  std::string tdsFile;
  std::vector<std::string> tdsStatements;
  if (startsNew) {
    ServeBy(ServedBy::FreeTds);
    tds = Run(args, true);
    tdsFile = FileExists(path) ? ReadFile(path) : "(no file)";
    tdsStatements = StatementLog();
    ServeBy(ServedBy::SqliteDriver);
  }
  RunResult sqlite = Run(args, withSqlLog || startsNew);
  // Runs that fail, or that print a driver's own error number (which the
  // two drivers number differently), are compared by the tests themselves.
  if (startsNew && sqlite.ExitCode == 0 && sqlite.Stdout.find("SQLCode") == std::string::npos) {
    EXPECT_EQ(tds.ExitCode, sqlite.ExitCode) << "through FreeTDS";
    EXPECT_EQ(tds.Stdout, sqlite.Stdout) << "through FreeTDS";
    EXPECT_EQ(tdsFile, FileExists(path) ? ReadFile(path) : "(no file)") << "through FreeTDS";
    // The statements sent ahead that the run did not need are left out,
    // fewer than a tenth of what the server ran.
    const std::vector<std::string> sqliteStatements = StatementLog();
    const std::vector<std::string> used = WithoutStatementsSentAhead(tdsStatements, sqliteStatements);
    EXPECT_EQ(used, sqliteStatements) << "through FreeTDS";
    EXPECT_LT((tdsStatements.size() - used.size()) * 10, tdsStatements.size() + 1) << "through FreeTDS: sent ahead";
  }
  return sqlite;
}

std::vector<std::string> ScratchInstallation::RequestLog() const {
  return Server == nullptr ? std::vector<std::string>() : Server->RequestLog();
}

void ScratchInstallation::ClearRequestLog() {
  if (Server != nullptr) truncate((Root + "/tds-requests.log").c_str(), 0);
}

ScratchInstallation ScratchInstallation::Create(int badges, unsigned seed, bool empty, bool stepApi) {
  ScratchInstallation inst;
  char pattern[] = "/tmp/gentrmx-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  inst.Root = pattern;
  inst.DbPath = inst.Root + "/db.sqlite";
  inst.WorkDir = inst.Root + "/work/dir";
  // A data source name of its own: unixODBC caches what it reads from
  // odbc.ini for 20 seconds by section and key, not by file, so a second
  // installation under the same name would be served the first one's
  // database while anything in the process keeps the driver loaded.
  inst.Dsn = "GENTRMX_" + inst.Root.substr(inst.Root.size() - 6);
  MakeFolder(inst.Root + "/files");
  MakeFolder(inst.Root + "/work");
  MakeFolder(inst.WorkDir);

  std::vector<std::string> sample = {GENTRMX_SAMPLE_EXE, "--db", inst.DbPath};
  if (empty) {
    sample.push_back("--empty");
  } else {
    sample.insert(sample.end(), {"--badges", std::to_string(badges), "--seed", std::to_string(seed)});
  }
  RunResult generated = RunProgram(sample, inst.Root);
  if (generated.ExitCode != 0)
    throw std::runtime_error("gentrmx-sample failed (" + std::to_string(generated.ExitCode) + "): " + generated.Stderr);

  std::vector<std::string> setup = {GENTRMX_ODBC_SETUP, "sqlite", inst.Root, inst.Dsn, inst.DbPath, GENTRMX_SQLEXT};
  if (stepApi) setup.push_back("--step-api");
  RunResult configured = RunProgram(setup, inst.Root);
  if (configured.ExitCode != 0)
    throw std::runtime_error("gentrmx-odbc-setup failed (" + std::to_string(configured.ExitCode) + "): " +
                             configured.Stderr);
  inst.TdsDsn = inst.Dsn + "_TDS";
  inst.SetUpTdsDataSource(1);
  MakeProcessOdbcFolder(inst.ReadFile("odbcinst.ini"));

  inst.SetConfig("LOGIN", "gentrmx");
  inst.SetConfig("PASS", "geheim");
  inst.SetConfig("DATABASE", inst.Dsn);
  inst.SetConfig("DB_SYSTEM", "MSSQL");
  inst.SetConfig("SCHEMA", "Dravonix.");
  inst.CheckDataSource();
  return inst;
}

ScratchInstallation::~ScratchInstallation() {
  Server.reset();
  if (Root.empty() || std::getenv("GENTRMX_KEEP_SCRATCH") != nullptr) return;
  nftw(Root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

ScratchInstallation::ScratchInstallation(ScratchInstallation&& other) noexcept
    : TdsDsn(std::move(other.TdsDsn)),
      Root(std::exchange(other.Root, std::string())),
      WorkDir(std::move(other.WorkDir)),
      DbPath(std::move(other.DbPath)),
      Dsn(std::move(other.Dsn)),
      SqlLogPath(std::move(other.SqlLogPath)),
      RunCount(other.RunCount),
      Serving(other.Serving),
      Server(std::move(other.Server)),
      ServerDropAfter(other.ServerDropAfter),
      ServerSilentAfter(other.ServerSilentAfter),
      ServerAbortsBatch(other.ServerAbortsBatch) {
  RunEnv = std::move(other.RunEnv);
}

ScratchInstallation& ScratchInstallation::operator=(ScratchInstallation&& other) noexcept {
  if (this != &other) {
    ScratchInstallation old(std::move(*this));  // removed when old goes
    Root = std::exchange(other.Root, std::string());
    WorkDir = std::move(other.WorkDir);
    DbPath = std::move(other.DbPath);
    Dsn = std::move(other.Dsn);
    TdsDsn = std::move(other.TdsDsn);
    SqlLogPath = std::move(other.SqlLogPath);
    RunCount = other.RunCount;
    Serving = other.Serving;
    Server = std::move(other.Server);
    ServerDropAfter = other.ServerDropAfter;
    ServerSilentAfter = other.ServerSilentAfter;
    ServerAbortsBatch = other.ServerAbortsBatch;
    RunEnv = std::move(other.RunEnv);
  }
  return *this;
}

void ScratchInstallation::Exec(const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(DbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + DbPath + ": " + message);
  }
  char* error = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("Exec failed: " + message + "\nSQL: " + sql);
}

void ScratchInstallation::SetConfig(const std::string& key, const std::string& value) {
  RunResult set = RunProgram({GENTRMX_CONFIG_EXE, "set", Root + "/files/quillnest.ini", key, value}, Root);
  if (set.ExitCode != 0)
    throw std::runtime_error("gentrmx-config set " + key + " failed (" + std::to_string(set.ExitCode) + "): " + set.Stderr);
}

std::vector<std::string> ScratchInstallation::OdbcEnvironment() const {
  return {"ODBCSYSINI=" + Root, "ODBCINI=" + Root + "/odbc.ini"};
}

RunResult ScratchInstallation::Run(const std::vector<std::string>& args, bool withSqlLog) {
  std::vector<std::string> argv = {GENTRMX_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = OdbcEnvironment();
  if (withSqlLog && Serving == ServedBy::FreeTds) {
    // The server's extension logs what reaches SQLite.
    SqlLogPath = Root + "/sql-tds.log";
    truncate(SqlLogPath.c_str(), 0);
  } else if (withSqlLog) {
    SqlLogPath = Root + "/sql-" + std::to_string(++RunCount) + ".log";
    std::remove(SqlLogPath.c_str());
    env.push_back("GENTRMX_SQL_LOG=" + SqlLogPath);
  }
  env.insert(env.end(), RunEnv.begin(), RunEnv.end());
  return RunProgram(argv, WorkDir, env);
}

RunResult ScratchInstallation::RunTool(const std::string& program, const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = OdbcEnvironment();
  env.insert(env.end(), RunEnv.begin(), RunEnv.end());
  return RunProgram(argv, WorkDir, env);
}

std::string ReadWholeFile(const std::string& path) {
  std::string content;
  if (!ReadWholeFile(path, &content)) throw std::runtime_error("cannot read " + path);
  return content;
}

std::string ScratchInstallation::ReadFile(const std::string& path) const {
  return ReadWholeFile(!path.empty() && path[0] == '/' ? path : Root + "/" + path);
}

bool ScratchInstallation::FileExists(const std::string& path) const {
  const std::string full = !path.empty() && path[0] == '/' ? path : Root + "/" + path;
  struct stat info;
  return stat(full.c_str(), &info) == 0;
}

std::vector<std::string> ScratchInstallation::StatementLog() const {
  std::vector<std::string> statements;
  if (SqlLogPath.empty()) throw std::logic_error("StatementLog: no run with statement log");
  if (!FileExists(SqlLogPath)) return statements;  // nothing ran
  const std::string log = ReadFile(SqlLogPath);
  const std::string tag = "@@STMT ";
  size_t at = 0;
  while (at < log.size()) {
    size_t lineEnd = log.find('\n', at);
    if (log.compare(at, tag.size(), tag) != 0 || lineEnd == std::string::npos)
      throw std::runtime_error("statement log " + SqlLogPath + " is damaged at byte " + std::to_string(at));
    size_t length = std::stoul(log.substr(at + tag.size(), lineEnd - at - tag.size()));
    size_t text = lineEnd + 1;
    if (text + length + 1 > log.size() || log[text + length] != '\n')
      throw std::runtime_error("statement log " + SqlLogPath + " is cut short at byte " + std::to_string(at));
    std::string statement = log.substr(text, length);
    // Through FreeTDS a badge's statements come as one batch, joined with
    // ";" and a line end, and the server runs them one by one, each with
    // its part of the separator. No statement text of the tool starts with
    // a line end or ends with ";": what is logged is the text the tool
    // formatted.
    if (Serving == ServedBy::FreeTds) {
      if (!statement.empty() && statement.back() == ';') statement.pop_back();
      if (!statement.empty() && statement.front() == '\n') statement.erase(0, 1);
    }
    statements.push_back(statement);
    at = text + length + 1;
  }
  return statements;
}

std::vector<std::string> WithoutStatementsSentAhead(const std::vector<std::string>& sent,
                                                    const std::vector<std::string>& used) {
  // The statements a writer may send along with a badge's batch before it
  // knows it needs them: the location and balance lookups and a badge's own
  // display definitions.
  const char* const aheadKinds[] = {" SELECT StoKtx ", "SELECT       TswW01,", "SELECT  MsdLfd,"};
  std::vector<std::string> kept;
  size_t next = 0;
  for (const std::string& statement : sent) {
    if (next < used.size() && statement == used[next]) {
      kept.push_back(statement);
      ++next;
      continue;
    }
    bool ahead = false;
    for (const char* kind : aheadKinds) ahead = ahead || statement.rfind(kind, 0) == 0;
    if (!ahead) kept.push_back(statement);  // not one of those: the comparison shows it
  }
  return kept;
}

void ScratchInstallation::ClearStatementLog() {
  if (!SqlLogPath.empty()) truncate(SqlLogPath.c_str(), 0);
}

void ScratchInstallation::UseInThisProcess() {
  SqlLogPath = Root + (Serving == ServedBy::FreeTds ? "/sql-tds.log" : "/sql-inprocess.log");
  setenv("ODBCSYSINI", ProcessOdbcFolder().c_str(), 1);
  setenv("ODBCINI", (Root + "/odbc.ini").c_str(), 1);
  unsetenv("ODBCINSTINI");
  setenv("GENTRMX_SQL_LOG", SqlLogPath.c_str(), 1);
}

// Connects through unixODBC exactly as the tool will and checks that the
// extension is there: the driver only prints to standard error when LoadExt
// fails and connects all the same, which would otherwise surface much later
// as puzzling "no such function: convert" or "unknown database" failures.
void ScratchInstallation::CheckDataSource() const {
  ScopedEnvironment scope;
  scope.Set("ODBCSYSINI", ProcessOdbcFolder().c_str());
  scope.Set("ODBCINI", (Root + "/odbc.ini").c_str());
  scope.Set("ODBCINSTINI", nullptr);
  scope.Set("GENTRMX_SQL_LOG", nullptr);

  const std::string before = TodayYmd();
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  std::string problem;
  char today[16] = {0};
  SQLLEN todayIndicator = 0;
  SQLINTEGER terminals = -1;
  SQLLEN terminalsIndicator = 0;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    problem = "no ODBC environment handle";
  } else {
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    const std::string& dsn = Serving == ServedBy::FreeTds ? TdsDsn : Dsn;
    SQLRETURN rc =
        SQLConnect(dbc, (SQLCHAR*)dsn.c_str(), SQL_NTS, (SQLCHAR*)"gentrmx", SQL_NTS, (SQLCHAR*)"geheim", SQL_NTS);
    if (!SQL_SUCCEEDED(rc)) {
      problem = "cannot connect to data source " + dsn + ": " + Diagnostics(SQL_HANDLE_DBC, dbc);
    } else {
      SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
      const char* probe =
          "SELECT convert(char(8), CURRENT_TIMESTAMP, 112), (SELECT COUNT(*) FROM DRAVONIX.Xel1140Trm)";
      rc = SQLExecDirect(stmt, (SQLCHAR*)probe, SQL_NTS);
      if (!SQL_SUCCEEDED(rc)) {
        problem = "probe query failed: " + Diagnostics(SQL_HANDLE_STMT, stmt);
      } else {
        SQLBindCol(stmt, 1, SQL_C_CHAR, today, sizeof today, &todayIndicator);
        SQLBindCol(stmt, 2, SQL_C_LONG, &terminals, sizeof terminals, &terminalsIndicator);
        rc = SQLFetch(stmt);
        if (!SQL_SUCCEEDED(rc)) problem = "probe query gave no row: " + Diagnostics(SQL_HANDLE_STMT, stmt);
      }
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      SQLDisconnect(dbc);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  const std::string after = TodayYmd();
  if (problem.empty() && today != before && today != after)
    problem = "convert(char(8), CURRENT_TIMESTAMP, 112) gave '" + std::string(today) + "', expected " + after;
  if (problem.empty() && terminals < 0) problem = "no row count from DRAVONIX.Xel1140Trm";
  if (!problem.empty()) {
    throw std::runtime_error("The test installation in " + Root + " does not work: " + problem +
                             "\nIs the extension " GENTRMX_SQLEXT " built and loadable by the SQLite ODBC driver "
                             "(DSN option LoadExt)? The driver reports load failures on standard error only.");
  }
}
