// The fault table, part 1: faults of the surroundings, each through the real
// gentrmx, unixODBC and the SQLite ODBC driver. The data source, the
// database file, the download path and the configuration file go wrong in
// the ways an installation meets; every row states the messages and the
// exit status the caller sees. No row may crash, hang, write to standard
// error (the suite also runs under the sanitizers) or end with 0 when the
// download file is not complete.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "badge_rows.h"
#include "config/config_file.h"
#include "fault_checks.h"
#include "installation.h"

namespace {

using std::chrono::seconds;
using std::chrono::steady_clock;

// Terminal T1 (licence 1 client 1, one reader, time class Z1, access class
// A1, balance set SAL1 with one display definition) and three badges it
// takes for time booking and access, each with a location and balances:
// every function writes records for them.
void AddSmallTerminal(ScratchInstallation& inst) {
  inst.Exec(
      "INSERT INTO Xel1140Trm VALUES ('T1', '7600-100', 'SAL1', 1, 1, 1, 0);"
      "INSERT INTO Xel115Tfz VALUES ('T1', 1, 1, 0);"
      "INSERT INTO MGSST35P VALUES ('T1', 'Z1', '1'), ('T1', 'A1', '0');"
      "INSERT INTO Xel401Zls VALUES ('T1', 1, 'Z01', NULL);"
      "INSERT INTO Xel113Sto VALUES ('00000012', 'Tor', 0);"
      "INSERT INTO Xel119Msd VALUES ('SAL1', 1, 1, 'Urlaub', 1, 1, 1, 1, NULL, 0);"
      "INSERT INTO Xel102Whl VALUES (220001, 1, 1, 'Url', 'Urlaub'), (220002, 1, 1, '#W2', NULL);");
  for (const char* badge : {"B001", "B002", "B003"}) {
    AddBadge(inst, badge, "AswPnr = 'P" + std::string(badge) + "', AswBkl = 'Z1', AswSpr = 1", "'00000012'");
    AddBadgeClass(inst, badge, "Z1");
    AddBadgeClass(inst, badge, "A1");
    inst.Exec(std::string("INSERT INTO O2002TSW (TswIdn, TswW02) VALUES ('") + badge + "', '+000123')");
  }
}

// Output of a run that went through, per function.
struct Outcome {
  std::string Stdout;
  std::string File;
};

std::map<std::string, Outcome> RunEveryFunction(ScratchInstallation& inst) {
  std::map<std::string, Outcome> outcomes;
  for (const DownloadFunction& f : DownloadFunctions) {
    RunResult r = inst.Run({f.Name, "T1", inst.Root + "/healthy.dat", "1"});
    EXPECT_EQ(r.ExitCode, 0) << f.Name << "\n" << r.Stdout;
    EXPECT_EQ(r.Stderr, "") << f.Name;
    outcomes[f.Name] = {r.Stdout, inst.ReadFile("healthy.dat")};
    EXPECT_FALSE(outcomes[f.Name].File.empty()) << f.Name;
  }
  return outcomes;
}

// A write transaction of another process, as far as SQLite's file locks
// go: BEGIN EXCLUSIVE with a change pending, held until the object goes.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &Db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << "cannot open " << path;
      return;
    }
    char* error = nullptr;
    if (sqlite3_exec(Db, "BEGIN EXCLUSIVE; UPDATE Xel301Asw SET AswAan = 'gesperrt';", nullptr, nullptr, &error) !=
        SQLITE_OK) {
      ADD_FAILURE() << "cannot lock " << path << ": " << (error ? error : "");
      sqlite3_free(error);
    }
  }
  ~ExclusiveLock() {
    sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(Db);
  }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  sqlite3* Db = nullptr;
};

// Deterministic bytes that are no SQLite file and no configuration file:
// every byte value, NUL, CR, LF and ";" among them.
std::string Garbage(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 23);
  }
  return bytes;
}

double SecondsSince(steady_clock::time_point start) {
  return std::chrono::duration<double>(steady_clock::now() - start).count();
}

// One installation per test suite (terminal T1 and its badges); every test
// starts from the state saved after the suite's set-up: the database file,
// the ODBC ini files and the configuration file are put back, the download
// file is removed.
class FaultTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Installation = new ScratchInstallation(ScratchInstallation::Empty());
    AddSmallTerminal(*Installation);
    Saved = new std::map<std::string, std::string>;
    for (const char* file : {"db.sqlite", "odbc.ini", "odbcinst.ini", "files/quillnest.ini"})
      (*Saved)[file] = Installation->ReadFile(file);
  }
  static void TearDownTestSuite() {
    delete Installation;
    delete Saved;
    delete Healthy;
    Installation = nullptr;
    Saved = nullptr;
    Healthy = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(Installation, nullptr);
    ASSERT_EQ(Installation->DbPath, Installation->Root + "/db.sqlite");
    for (const auto& file : *Saved) {
      const std::string path = Installation->Root + "/" + file.first;
      rmdir(path.c_str());  // a folder a test put in place of the file
      WriteBytes(path, file.second);
    }
    std::remove(Out().c_str());
  }

  static ScratchInstallation& Inst() { return *Installation; }
  static std::string Out() { return Installation->Root + "/out.dat"; }
  // Each function's run without a fault: run once, when a test first asks,
  // which it must do before it brings in its fault.
  static const Outcome& HealthyRun(const std::string& function) {
    if (Healthy == nullptr) {
      for (const auto& file : *Saved) {
        if (!Installation->FileExists(file.first) || Installation->ReadFile(file.first) != file.second)
          ADD_FAILURE() << "healthy runs asked for after " << file.first << " was changed";
      }
      Healthy = new std::map<std::string, Outcome>(RunEveryFunction(*Installation));
      std::remove(Out().c_str());
    }
    return Healthy->at(function);
  }

 private:
  static ScratchInstallation* Installation;
  static std::map<std::string, std::string>* Saved;
  static std::map<std::string, Outcome>* Healthy;
};
ScratchInstallation* FaultTest::Installation = nullptr;
std::map<std::string, std::string>* FaultTest::Saved = nullptr;
std::map<std::string, Outcome>* FaultTest::Healthy = nullptr;

class FaultDataSource : public FaultTest {};
class FaultDatabase : public FaultTest {};
class FaultDownloadPath : public FaultTest {};

// ===========================================================================
// Data source and database

// The connect fails before a function is chosen: two functions stand for
// all five.
const char* const TwoFunctions[] = {"MGDNL17P", "IDSTAMM"};

TEST_F(FaultDataSource, UnknownDataSourceNameFailsTheConnect) {
  Inst().SetConfig("DATABASE", "NOSUCHDSN");
  for (const char* function : TwoFunctions) {
    SCOPED_TRACE(function);
    RunResult r = Inst().Run({function, "T1", Out(), "1"});
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_EQ(r.Stdout, "DB-Connect-Error: -1!Name:gentrmx Pwd:*** Net:NOSUCHDSN Schema:DRAVONIX\n");
    EXPECT_EQ(r.Stderr, "");
    EXPECT_FALSE(Inst().FileExists(Out()));
  }
}

TEST_F(FaultDataSource, DriverLibraryMissingFailsTheConnect) {
  std::string odbcinst = Inst().ReadFile("odbcinst.ini");
  const std::string driver = GENTRMX_SQLITE_ODBC_DRIVER;
  for (size_t at; (at = odbcinst.find(driver)) != std::string::npos;)
    odbcinst.replace(at, driver.size(), Inst().Root + "/no-such-driver.so");
  WriteBytes(Inst().Root + "/odbcinst.ini", odbcinst);
  for (const char* function : TwoFunctions) {
    SCOPED_TRACE(function);
    RunResult r = Inst().Run({function, "T1", Out(), "1"});
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_EQ(r.Stdout, "DB-Connect-Error: -1!Name:gentrmx Pwd:*** Net:" + Inst().Dsn + " Schema:DRAVONIX\n");
    EXPECT_EQ(r.Stderr, "");
    EXPECT_FALSE(Inst().FileExists(Out()));
  }
}

// The SQLite driver opens a missing database file by creating it, empty:
// the connect succeeds and the first query fails for want of its tables.
// No function may call such a run a success.
TEST_F(FaultDatabase, MissingFileIsCreatedEmptyAndEveryFunctionFails) {
  for (const DownloadFunction& f : DownloadFunctions) {
    SCOPED_TRACE(f.Name);
    ASSERT_EQ(std::remove(Inst().DbPath.c_str()), 0);
    RunResult r = Inst().Run({f.Name, "T1", Out(), "1"});
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_TRUE(FailedAtTheTerminalLookup(r.Stdout, f.Name));
    EXPECT_EQ(r.Stderr, "");
    EXPECT_FALSE(Inst().FileExists(Out()));
    EXPECT_EQ(Inst().ReadFile(Inst().DbPath), "") << "the driver created the missing file, empty";
  }
}

// A file that is not a database: the data source extension cannot attach
// it (the driver says so on standard error and connects all the same), and
// every query fails.
TEST_F(FaultDatabase, NotADatabaseFailsEveryFunction) {
  WriteBytes(Inst().DbPath, Garbage(16384, 1));
  for (const DownloadFunction& f : DownloadFunctions) {
    SCOPED_TRACE(f.Name);
    RunResult r = Inst().Run({f.Name, "T1", Out(), "1"});
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_TRUE(FailedAtTheTerminalLookup(r.Stdout, f.Name));
    EXPECT_TRUE(OnlyDriverLoadWarnings(r.Stderr, "file is not a database"));
    EXPECT_FALSE(Inst().FileExists(Out()));
  }
}

// Another process holds a write transaction for the whole run: the
// connection waits for the data source's busy timeout, then gives up.
TEST_F(FaultDatabase, LockedForTheWholeRunFailsAfterTheBusyTimeout) {
  SetDataSourceTimeout(Inst(), 50);
  ExclusiveLock lock(Inst().DbPath);
  for (const DownloadFunction& f : DownloadFunctions) {
    SCOPED_TRACE(f.Name);
    const auto start = steady_clock::now();
    RunResult r = Inst().Run({f.Name, "T1", Out(), "1"});
    EXPECT_LT(SecondsSince(start), 20.0);
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_TRUE(FailedAtTheTerminalLookup(r.Stdout, f.Name));
    EXPECT_TRUE(OnlyDriverLoadWarnings(r.Stderr, "database is locked"));
    EXPECT_FALSE(Inst().FileExists(Out()));
  }
}

// The write transaction begins after the connect, while the tool waits in
// the open of its download file: the queries themselves meet the lock.
TEST_F(FaultDatabase, LockedAfterTheConnectFailsTheQueries) {
  SetDataSourceTimeout(Inst(), 50);
  for (const DownloadFunction& f : DownloadFunctions) {
    SCOPED_TRACE(f.Name);
    const auto start = steady_clock::now();
    FifoRun run(Inst(), f.Name, "T1");
    ASSERT_TRUE(run.WaitBlockedInOpen(seconds(60)));
    ExclusiveLock lock(Inst().DbPath);
    std::string file;
    RunResult r = run.Finish(&file);
    EXPECT_LT(SecondsSince(start), 30.0);
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_TRUE(FailedAtTheTerminalLookup(r.Stdout, f.Name));
    EXPECT_EQ(r.Stderr, "");
    EXPECT_EQ(file, "");
  }
}

// A table of the badge query missing: the cursor's execution fails (the
// driver's native error 1 goes back to the writer), and each function ends
// with its abort message.
TEST_F(FaultDatabase, BadgeTableMissingFailsEveryFunction) {
  for (const std::string table : {"Xel301Asw", "Xel113Awv", "Xel115Tfz"}) {
    SCOPED_TRACE(table);
    Inst().Exec("ALTER TABLE " + table + " RENAME TO Gone");
    for (const DownloadFunction& f : DownloadFunctions) {
      SCOPED_TRACE(f.Name);
      RunResult r = Inst().Run({f.Name, "T1", Out(), "1"});
      EXPECT_EQ(r.ExitCode, 255);
      // Xel115Tfz is read by the terminal lookup first. MGDNL18P reads the
      // terminal's display definitions before the badge cursor: with
      // Xel113Awv gone it still shows them.
      EXPECT_EQ(r.Stdout.rfind(ConnectedMessage, 0), 0u) << r.Stdout;
      if (table == "Xel115Tfz")
        EXPECT_TRUE(FailedAtTheTerminalLookup(r.Stdout, f.Name, "Mandantenabfrage des Terminals"));
      else
        EXPECT_TRUE(EndsWith(r.Stdout, FailedBeforeFirstBadge(f.Name))) << r.Stdout;
      EXPECT_NE(r.Stdout.find("Datenbankfehler bei "), std::string::npos) << r.Stdout;
      EXPECT_EQ(r.Stderr, "");
      EXPECT_FALSE(Inst().FileExists(Out()));
    }
    Inst().Exec("ALTER TABLE Gone RENAME TO " + table);
  }
}

// The location table missing: the location lookup of the first MGDNL17P
// badge fails and ends the run there; a file without the location texts
// would be a wrong file.
TEST_F(FaultDatabase, LocationTableMissingEndsTheRunAtTheFirstBadge) {
  Inst().Exec("DROP TABLE Xel113Sto");
  RunResult r = Inst().Run({"MGDNL17P", "T1", Out(), "1"});
  EXPECT_EQ(r.ExitCode, 255);
  const std::string failed = "Datenbankfehler bei Ortsabfrage fuer Ausweis B001 auf Terminal T1: SQLSTATE HY000, "
                             "Fehlernummer 1, Meldung: [SQLite]no such table: Dravonix.Xel113Sto (1)\n";
  EXPECT_EQ(r.Stdout, ConnectedMessage + failed + SummaryMessage(1, 0) + "FehlerCode EndWorkMgDnl17P: -1\n" +
                          AbortMessage("MGDNL17P"));
  EXPECT_EQ(r.Stderr, "");
  EXPECT_FALSE(Inst().FileExists(Out()));
}

// The reader table missing: the reader query of the first badge fails and
// ends the run there, in both functions that read the terminal's readers;
// no badge is written without its reader numbers.
TEST_F(FaultDatabase, ReaderTableMissingEndsTheRunAtTheFirstBadge) {
  Inst().Exec("DROP TABLE Xel401Zls");
  for (const std::string function : {"MGDNL17P", "MGDNL60P"}) {
    SCOPED_TRACE(function);
    RunResult r = Inst().Run({function, "T1", Out(), "1"});
    EXPECT_EQ(r.ExitCode, 255);
    const std::string failed = "Datenbankfehler bei Leserabfrage fuer Ausweis B001 auf Terminal T1: SQLSTATE HY000, "
                               "Fehlernummer 1, Meldung: [SQLite]no such table: Dravonix.Xel401Zls (1)\n";
    EXPECT_EQ(r.Stdout, ConnectedMessage + failed + SummaryMessage(1, 0) +
                            (function == "MGDNL17P" ? "FehlerCode EndWorkMgDnl17P: -1\n" : "") + AbortMessage(function));
    EXPECT_EQ(r.Stderr, "");
    EXPECT_FALSE(Inst().FileExists(Out()));
  }
}

// Removed while the run is under way (after the connect, before the first
// query): the open file stays readable to the connection, so the run
// completes with the very file a run without the fault writes. Making the
// file unreadable (chmod) is no fault for a run that has it open already,
// and tests run as root, who reads it anyway; nothing to test there.
TEST_F(FaultDatabase, RemovedAfterTheConnectStillCompletesFromTheOpenFile) {
  HealthyRun("IDSTAMM");
  for (const DownloadFunction& f : DownloadFunctions) {
    SCOPED_TRACE(f.Name);
    SetUp();
    FifoRun run(Inst(), f.Name, "T1");
    ASSERT_TRUE(run.WaitBlockedInOpen(seconds(60)));
    ASSERT_EQ(unlink(Inst().DbPath.c_str()), 0);
    std::string file;
    RunResult r = run.Finish(&file);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Stdout, HealthyRun(f.Name).Stdout);
    EXPECT_EQ(r.Stderr, "");
    EXPECT_EQ(file, HealthyRun(f.Name).File);
  }
}

// Emptied or overwritten while the run is under way (after the connect,
// before the first query): the queries fail.
TEST_F(FaultDatabase, EmptiedOrOverwrittenAfterTheConnectFailsEveryFunction) {
  const std::string content = Inst().ReadFile(Inst().DbPath);
  for (const std::string& replacement : {std::string(), Garbage(content.size(), 2)}) {
    SCOPED_TRACE(replacement.empty() ? "emptied" : "overwritten");
    for (const DownloadFunction& f : DownloadFunctions) {
      SCOPED_TRACE(f.Name);
      SetUp();
      FifoRun run(Inst(), f.Name, "T1");
      ASSERT_TRUE(run.WaitBlockedInOpen(seconds(60)));
      WriteBytes(Inst().DbPath, replacement);
      std::string file;
      RunResult r = run.Finish(&file);
      EXPECT_EQ(r.ExitCode, 255);
      EXPECT_TRUE(FailedAtTheTerminalLookup(r.Stdout, f.Name));
      EXPECT_EQ(r.Stderr, "");
      EXPECT_EQ(file, "");
    }
  }
}

// A sample installation large enough that an IDSTAMM run for TERM02 (all
// badges) writes well over what the pipe and the tool's stream buffer
// hold; its rows are streamed (StepAPI), so the badge cursor reads the
// file as the run goes on.
class FaultDuringTheBadgeWalk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Installation = new ScratchInstallation(ScratchInstallation::Generated(3000, 7, /*stepApi=*/true));
    RunResult r = Installation->Run({"IDSTAMM", "TERM02", Installation->Root + "/full.dat", "1"});
    ASSERT_EQ(r.ExitCode, 0) << r.Stdout;
    FullStdout = new std::string(r.Stdout);
    FullFile = new std::string(Installation->ReadFile("full.dat"));
    Content = new std::string(Installation->ReadFile(Installation->DbPath));
  }
  static void TearDownTestSuite() {
    delete Installation;
    delete FullStdout;
    delete FullFile;
    delete Content;
  }
  void SetUp() override {
    ASSERT_NE(Installation, nullptr);
    ASSERT_NE(FullFile, nullptr);
    WriteBytes(Installation->DbPath, *Content);
  }

  static ScratchInstallation* Installation;
  static std::string* FullStdout;
  static std::string* FullFile;
  static std::string* Content;
};
ScratchInstallation* FaultDuringTheBadgeWalk::Installation = nullptr;
std::string* FaultDuringTheBadgeWalk::FullStdout = nullptr;
std::string* FaultDuringTheBadgeWalk::FullFile = nullptr;
std::string* FaultDuringTheBadgeWalk::Content = nullptr;

// The database file is emptied or overwritten once the tool waits in a
// write to the full pipe: the next badge fetch fails, the lines written so
// far stay (a prefix of the complete file, whole lines), and the run ends
// with -1. (Without StepAPI the SQLite driver has read every badge when the
// cursor was executed; the next per-badge lookup then fails, which ends
// the run the same way.) A FIFO is written in place: what was written
// stays.
TEST_F(FaultDuringTheBadgeWalk, DamagedFileEndsTheRunWithMinusOne) {
  for (const std::string& replacement : {std::string(), Garbage(Content->size(), 3)}) {
    SCOPED_TRACE(replacement.empty() ? "emptied" : "overwritten");
    WriteBytes(Installation->DbPath, *Content);
    FifoRun run(*Installation, "IDSTAMM", "TERM02");
    ASSERT_TRUE(run.WaitBlockedInWrite(seconds(120)));
    WriteBytes(Installation->DbPath, replacement);
    std::string file;
    RunResult r = run.Finish(&file);
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_EQ(r.Stderr, "");
    EXPECT_EQ(r.Stdout.rfind(ConnectedMessage + "Datenbankfehler bei ", 0), 0u) << r.Stdout;
    EXPECT_TRUE(EndsWith(r.Stdout, AbortMessage("IDSTAMM"))) << r.Stdout;
    EXPECT_NE(r.Stdout, *FullStdout);
    EXPECT_GE(file.size(), 65536u);
    EXPECT_LT(file.size(), FullFile->size());
    EXPECT_EQ(FullFile->compare(0, file.size(), file), 0) << "not a prefix of the complete file";
    EXPECT_TRUE(EndsWith(file, "\r\n"));
  }
}

TEST_F(FaultDuringTheBadgeWalk, RemovedFileDoesNotDisturbTheRun) {
  FifoRun run(*Installation, "IDSTAMM", "TERM02");
  ASSERT_TRUE(run.WaitBlockedInWrite(seconds(120)));
  ASSERT_EQ(unlink(Installation->DbPath.c_str()), 0);
  std::string file;
  RunResult r = run.Finish(&file);
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Stderr, "");
  EXPECT_EQ(r.Stdout, *FullStdout);
  EXPECT_EQ(file, *FullFile);
}

// A download file that cannot take the data fails at the latest when it is
// closed, also when the stream buffer had to be written out many times on
// the way.
TEST_F(FaultDuringTheBadgeWalk, FullDeviceFailsTheRun) {
  RunResult r = Installation->Run({"IDSTAMM", "TERM02", "/dev/full", "1"});
  EXPECT_EQ(r.ExitCode, 255);
  EXPECT_EQ(r.Stdout, *FullStdout + "Downloadfile /dev/full konnte nicht geschrieben werden!\n");
  EXPECT_EQ(r.Stderr, "");
}

// ===========================================================================
// Download path

std::string CannotOpen(const std::string& path) {
  return ConnectedMessage + "Downloadfile " + path + " konnte nicht geoeffnet werden!\n";
}

// Every function gives the open message and -1, in either mode, and no
// query runs (the statement log stays empty).
void ExpectCannotOpen(ScratchInstallation& inst, const std::string& path) {
  std::vector<std::pair<std::string, std::string>> calls;
  for (const DownloadFunction& f : DownloadFunctions) calls.emplace_back(f.Name, "1");
  calls.emplace_back("IDSTAMM", "0");
  for (const auto& call : calls) {
    SCOPED_TRACE(call.first + " mode " + call.second);
    RunResult r = inst.Run({call.first, "T1", path, call.second}, true);
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_EQ(r.Stdout, CannotOpen(path));
    EXPECT_EQ(r.Stderr, "");
    EXPECT_TRUE(inst.StatementLog().empty());
  }
}

TEST_F(FaultDownloadPath, FolderMissing) {
  ExpectCannotOpen(Inst(), Inst().Root + "/fehlt/out.dat");
  EXPECT_FALSE(Inst().FileExists("fehlt"));
}

TEST_F(FaultDownloadPath, ParentIsARegularFile) {
  WriteBytes(Inst().Root + "/datei", "kein Ordner");
  ExpectCannotOpen(Inst(), Inst().Root + "/datei/out.dat");
  EXPECT_EQ(Inst().ReadFile("datei"), "kein Ordner");
}

TEST_F(FaultDownloadPath, PathIsAFolder) { ExpectCannotOpen(Inst(), Inst().Root + "/files"); }

// /proc takes no new files, not even from root.
TEST_F(FaultDownloadPath, FolderThatTakesNoFiles) { ExpectCannotOpen(Inst(), "/proc/gentrmx-download.dat"); }

TEST_F(FaultDownloadPath, ReadOnlyFolder) {
  const std::string folder = Inst().Root + "/nurlesen";
  ASSERT_EQ(mkdir(folder.c_str(), 0555), 0);
  if (access(folder.c_str(), W_OK) == 0) {
    chmod(folder.c_str(), 0755);
    GTEST_SKIP() << "running as root: permission bits do not stop root from writing; FolderThatTakesNoFiles "
                    "and ParentIsARegularFile cover a folder the tool cannot write to";
  }
  ExpectCannotOpen(Inst(), folder + "/out.dat");
  chmod(folder.c_str(), 0755);
}

// Every function that writes records fails on a full device; a function
// with nothing to write has nothing to fail.
TEST_F(FaultDownloadPath, FullDevice) {
  HealthyRun("IDSTAMM");
  std::vector<std::pair<std::string, std::string>> calls;
  for (const DownloadFunction& f : DownloadFunctions) calls.emplace_back(f.Name, "1");
  calls.emplace_back("MGDNL17P", "0");
  for (const auto& call : calls) {
    SCOPED_TRACE(call.first + " mode " + call.second);
    RunResult r = Inst().Run({call.first, "T1", "/dev/full", call.second});
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_EQ(r.Stdout, HealthyRun(call.first).Stdout + "Downloadfile /dev/full konnte nicht geschrieben werden!\n");
    EXPECT_EQ(r.Stderr, "");
  }
  RunResult r = Inst().Run({"IDSTAMM", "NOSUCHTERMINAL", "/dev/full", "1"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Stdout, ConnectedMessage + SummaryMessage(0, 0));
  EXPECT_EQ(r.Stderr, "");
}

// ===========================================================================
// Configuration file

// One record of the file as the administration tool writes it, with a
// value given as hexadecimal text.
std::string ConfigRecord(int number, const std::string& key, const std::string& hex, const std::string& eol = "\n") {
  return std::to_string(number) + ";GENTRMX;" + eol + std::to_string(number) + ";" + key + ";" + hex + eol;
}

std::string Encrypted(const std::string& plain) {
  char hex[2 * 208 + 1];
  EncryptConfigValue(plain.c_str(), hex, ConfigCipherKey);
  return hex;
}

std::string Decrypted(const std::string& hex) {
  std::vector<char> plain(hex.size() + 16, '\0');
  DecryptConfigValue(hex.c_str(), plain.data(), ConfigCipherKey);
  return plain.data();
}

// The five settings of the installation, each value given as hex text.
struct ConfigValues {
  std::string Login, Pass, Database, DbSystem, Schema;
};

ConfigValues GoodValues(const ScratchInstallation& inst) {
  return {Encrypted("gentrmx"), Encrypted("geheim"), Encrypted(inst.Dsn), Encrypted("MSSQL"),
          Encrypted("Dravonix.")};
}

std::string ConfigFile(const ConfigValues& v, const std::string& eol = "\n") {
  return ConfigRecord(1, "LOGIN", v.Login, eol) + ConfigRecord(2, "PASS", v.Pass, eol) +
         ConfigRecord(3, "DATABASE", v.Database, eol) + ConfigRecord(4, "DB_SYSTEM", v.DbSystem, eol) +
         ConfigRecord(5, "SCHEMA", v.Schema, eol);
}

class FaultConfiguration : public FaultTest {
 protected:
  static std::string Path() { return Inst().Root + "/files/quillnest.ini"; }
  static void WriteConfig(const std::string& content) { WriteBytes(Path(), content); }
  static RunResult Run() { return Inst().Run({"IDSTAMM", "T1", Out(), "1"}); }

  // A run that cannot connect: the connect messages, -1, no file.
  static void ExpectConnectError(const RunResult& r, const std::string& expected) {
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_EQ(r.Stdout, expected);
    EXPECT_EQ(r.Stderr, "");
    EXPECT_FALSE(Inst().FileExists(Out()));
  }
  // A run that cannot connect, the settings garbled: the connect messages,
  // the password masked or empty, never shown (the garbled values may hold
  // any byte, line feeds included).
  static void ExpectGarbledConnectError(const RunResult& r) {
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_EQ(r.Stdout.rfind("DB-Connect-Error: -1!Name:", 0), 0u) << r.Stdout;
    EXPECT_TRUE(r.Stdout.find(" Pwd:*** Net:") != std::string::npos || r.Stdout.find(" Pwd: Net:") != std::string::npos)
        << r.Stdout;
    EXPECT_EQ(r.Stdout.find("geheim"), std::string::npos);
    EXPECT_TRUE(EndsWith(r.Stdout, "\n")) << r.Stdout;
    EXPECT_EQ(r.Stdout.find("Mit Datenbank verbunden!"), std::string::npos) << r.Stdout;
    EXPECT_EQ(r.Stderr, "");
    EXPECT_FALSE(Inst().FileExists(Out()));
  }
  static void ExpectHealthyRun(const RunResult& r) {
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Stdout, HealthyRun("IDSTAMM").Stdout);
    EXPECT_EQ(r.Stderr, "");
    EXPECT_EQ(Inst().ReadFile(Out()), HealthyRun("IDSTAMM").File);
  }
};

const std::string NoSettings = "DB-Connect-Error: -1!Name: Pwd: Net: Schema:\n";

TEST_F(FaultConfiguration, HandWrittenFileWorks) {
  HealthyRun("IDSTAMM");
  WriteConfig(ConfigFile(GoodValues(Inst())));
  ExpectHealthyRun(Run());
}

TEST_F(FaultConfiguration, MissingFileLeavesEverySettingEmpty) {
  ASSERT_EQ(std::remove(Path().c_str()), 0);
  ExpectConnectError(Run(), NoSettings);
}

TEST_F(FaultConfiguration, EmptyFileLeavesEverySettingEmpty) {
  WriteConfig("");
  ExpectConnectError(Run(), NoSettings);
}

TEST_F(FaultConfiguration, FolderInPlaceOfTheFileLeavesEverySettingEmpty) {
  ASSERT_EQ(std::remove(Path().c_str()), 0);
  ASSERT_EQ(mkdir(Path().c_str(), 0755), 0);
  ExpectConnectError(Run(), NoSettings);
}

TEST_F(FaultConfiguration, CarriageReturnLineFeedLineEndsWork) {
  HealthyRun("IDSTAMM");
  WriteConfig(ConfigFile(GoodValues(Inst()), "\r\n"));
  ExpectHealthyRun(Run());
}

// A value that lost its last digit: its last block decrypts to other
// bytes, so the data source name is wrong from its ninth character on.
TEST_F(FaultConfiguration, OddLengthValueGivesAWrongSetting) {
  ConfigValues v = GoodValues(Inst());
  ASSERT_EQ(v.Database.size(), 32u);
  // A missing digit counts as "0": when the lost digit was one, the digit
  // before it changes too, so that the value really differs.
  const char lost = v.Database.back();
  v.Database.pop_back();
  if (lost == '0') v.Database.back() = v.Database.back() == 'F' ? 'E' : 'F';
  const std::string garbled = Decrypted(v.Database);
  ASSERT_NE(garbled, Inst().Dsn);
  ASSERT_EQ(garbled.compare(0, 8, Inst().Dsn, 0, 8), 0);
  WriteConfig(ConfigFile(v));
  ExpectConnectError(Run(), "DB-Connect-Error: -1!Name:gentrmx Pwd:*** Net:" + garbled + " Schema:DRAVONIX\n");
}

TEST_F(FaultConfiguration, LowerCaseHexValueGivesAWrongSetting) {
  ConfigValues v = GoodValues(Inst());
  for (char& c : v.Database) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ASSERT_NE(v.Database, GoodValues(Inst()).Database);
  WriteConfig(ConfigFile(v));
  ExpectGarbledConnectError(Run());
}

TEST_F(FaultConfiguration, NonHexValueGivesAWrongSetting) {
  ConfigValues v = GoodValues(Inst());
  v.Database = "GEHEIM-KEIN-HEX!GEHEIM-KEIN-HEX!";
  WriteConfig(ConfigFile(v));
  ExpectGarbledConnectError(Run());
}

// A garbled password never shows, whatever bytes it decrypts to.
TEST_F(FaultConfiguration, GarbledPasswordStaysMasked) {
  ConfigValues v = GoodValues(Inst());
  v.Pass = "zz" + v.Pass;
  v.Database = Encrypted("NOSUCHDSN");
  WriteConfig(ConfigFile(v));
  const std::string pass = Decrypted(v.Pass);
  ExpectConnectError(Run(), "DB-Connect-Error: -1!Name:gentrmx Pwd:" + std::string(pass.empty() ? "" : "***") +
                                " Net:NOSUCHDSN Schema:DRAVONIX\n");
}

// Settings longer than their fields are cut there: a data source name of
// 96 characters reaches the connect (and the message) as 50.
TEST_F(FaultConfiguration, OverlongValueIsCutToItsField) {
  ConfigValues v = GoodValues(Inst());
  const std::string longName = std::string(48, 'D') + std::string(48, 'N');
  v.Database = Encrypted(longName);
  WriteConfig(ConfigFile(v));
  ExpectConnectError(Run(), "DB-Connect-Error: -1!Name:gentrmx Pwd:*** Net:" + longName.substr(0, 50) +
                                " Schema:DRAVONIX\n");
}

// An overlong line ahead of the records is split into pieces read as lines
// of their own; a piece without any ";" matches every key, so every setting
// is garbage and the connect fails.
TEST_F(FaultConfiguration, OverlongLineBeforeTheRecordsGarblesEverySetting) {
  WriteConfig("0;GENTRMX;" + std::string(1000, 'x') + "\n" + ConfigFile(GoodValues(Inst())));
  ExpectGarbledConnectError(Run());
}

TEST_F(FaultConfiguration, OverlongValueLineShiftsTheFollowingRecords) {
  ConfigValues v = GoodValues(Inst());
  v.Login += std::string(1000, '0');
  WriteConfig(ConfigFile(v));
  ExpectGarbledConnectError(Run());
}

// Lines after the records are never read.
TEST_F(FaultConfiguration, OverlongLinesAndGarbageAfterTheRecordsAreNeverRead) {
  HealthyRun("IDSTAMM");
  WriteConfig(ConfigFile(GoodValues(Inst())) + std::string(5000, 'y') + "\n" + Garbage(4096, 4));
  ExpectHealthyRun(Run());
}

TEST_F(FaultConfiguration, BinaryGarbage) {
  for (unsigned seed : {5u, 6u, 7u}) {
    SCOPED_TRACE(seed);
    WriteConfig(Garbage(4096, seed));
    ExpectGarbledConnectError(Run());
  }
  // NUL bytes from the start: every line reads as empty text.
  WriteConfig(std::string(300, '\0') + "\n" + std::string(300, '\0'));
  ExpectConnectError(Run(), NoSettings);
}

// ===========================================================================
// Complete or untouched: a run that fails leaves the download file and its
// folder exactly as they were, in either mode, through either driver.

// The folder's entries, sorted.
std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A fault of one run: a table renamed (on the database file, so through
// either driver), the TDS test server dropping or going silent at a
// request (counted from its pre-login, 1), or SIGTERM while the run waits
// on a silent server. Through FreeTDS a badge's statements go as one
// batch; the server runs every statement of it, or with AbortBatch ends
// the batch at the failing one. Some rows first take every right on
// TERM02 away (no badge there needs its location, which MGDNL17P sends
// ahead), and only fail through FreeTDS; Names is the query the message
// must name (FreeTDS reports the error of a statement at the end of the
// rows before it, so the message names both).
struct RunFault {
  const char* Table;  // renamed, or null
  int DropAt;
  int SilentAt;
  bool Terminate;
  const char* Function;
  const char* Terminal;
  bool AbortBatch = false;
  bool NoRightsOnTerm02 = false;
  const char* Names = nullptr;
};
std::string Describe(const RunFault& f) {
  std::string text = std::string(f.Function) + " " + f.Terminal + ": ";
  if (f.AbortBatch) text += "batch ends at an error, ";
  if (f.NoRightsOnTerm02) text += "no rights on TERM02, ";
  if (f.Table != nullptr) return text + f.Table + " renamed";
  if (f.Terminate) return text + "SIGTERM";
  return text + (f.DropAt > 0 ? "dropped at " + std::to_string(f.DropAt) : "silent at " + std::to_string(f.SilentAt));
}

const RunFault RunFaults[] = {
    // One query family each: terminal, badge, time permission and access
    // classes (badge classes, terminal classes), reader, balance, location,
    // display definitions.
    {"Xel1140Trm", 0, 0, false, "MGDNL17P", "TERM01"},
    {"Xel301Asw", 0, 0, false, "MGDNL31P", "TERM02"},
    {"Xel301Awb", 0, 0, false, "IDSTAMM", "TERM01"},
    {"MGSST35P", 0, 0, false, "MGDNL60P", "TERM02"},
    {"Xel401Zls", 0, 0, false, "MGDNL17P", "TERM02"},
    {"O2002TSW", 0, 0, false, "MGDNL18P", "TERM01"},
    {"Xel113Sto", 0, 0, false, "MGDNL31P", "TERM01"},
    {"Xel119Msd", 0, 0, false, "MGDNL18P", "TERM02"},
    // A badge's batch through FreeTDS: a statement sent ahead and not
    // needed fails (the SQLite driver never runs it: that run is good);
    // a statement fails after another of its batch succeeded, with the
    // rest of the batch run or not.
    {"Xel113Sto", 0, 0, false, "MGDNL17P", "TERM02", false, true, "/Ortsabfrage fuer Ausweis "},
    {"Xel113Sto", 0, 0, false, "MGDNL17P", "TERM02", true, true, "/Ortsabfrage fuer Ausweis "},
    {"MGSST35P", 0, 0, false, "MGDNL17P", "TERM01", true, false,
     "Datenbankfehler bei Zeitberechtigungsabfrage fuer Ausweis "},
    {"O2002TSW", 0, 0, false, "MGDNL60P", "TERM01", true, false, "Datenbankfehler bei Saldenabfrage fuer Ausweis "},
    // Through FreeTDS: at the login, at the badge cursor (pre-login, login,
    // the two terminal lookups, then the cursor), part-way through the walk.
    {nullptr, 2, 0, false, "MGDNL17P", "TERM01"},
    {nullptr, 5, 0, false, "MGDNL60P", "TERM01"},
    {nullptr, 40, 0, false, "IDSTAMM", "TERM02"},
    {nullptr, 0, 1, false, "MGDNL31P", "TERM02"},
    {nullptr, 0, 2, false, "MGDNL17P", "TERM01"},
    {nullptr, 0, 5, false, "MGDNL60P", "TERM02"},
    {nullptr, 0, 40, false, "MGDNL18P", "TERM01"},
    {nullptr, 0, 30, true, "MGDNL17P", "TERM01"},
};

class CompleteOrUntouched : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Installation = new ScratchInstallation(ScratchInstallation::Generated(200, 1, /*stepApi=*/true));
  }
  static void TearDownTestSuite() {
    delete Installation;
    Installation = nullptr;
  }
  static ScratchInstallation& Inst() { return *Installation; }
  static std::string Folder() { return Installation->Root + "/dl"; }

  // Runs the call on a path that holds known bytes; the run must fail and
  // leave the path and its folder as they were.
  static void ExpectUntouched(const RunFault& fault, const char* mode, double timeLimit) {
    ScratchInstallation& inst = Inst();
    mkdir(Folder().c_str(), 0755);
    const std::string path = Folder() + "/" + fault.Terminal + "." + fault.Function;
    const std::string old = "alte Datei\r\n" + std::string(300, 'x');
    WriteBytes(path, old);
    const std::vector<std::string> before = FolderEntries(Folder());
    const auto start = steady_clock::now();
    RunResult r;
    if (fault.Terminate) {
      r = inst.RunTool("/usr/bin/timeout",
                       {"--preserve-status", "-s", "TERM", "3", GENTRMX_EXE, fault.Function, fault.Terminal, path, mode});
      EXPECT_TRUE(EndsWith(r.Stdout, "Programmabbruch: Signal 15 empfangen, Downloaddatei " + path + " unveraendert!\n"))
          << r.Stdout;
    } else {
      r = inst.Run({fault.Function, fault.Terminal, path, mode});
      if (fault.Table != nullptr || fault.DropAt > 2 || fault.SilentAt > 2) {
        EXPECT_NE(r.Stdout.find(fault.Names != nullptr ? fault.Names : "Datenbankfehler bei "), std::string::npos)
            << r.Stdout;
      }
    }
    EXPECT_LT(SecondsSince(start), timeLimit);
    EXPECT_EQ(r.ExitCode, 255) << r.Stdout;
    EXPECT_EQ(inst.ReadFile(path), old);
    EXPECT_EQ(FolderEntries(Folder()), before);
  }

 private:
  static ScratchInstallation* Installation;
};
ScratchInstallation* CompleteOrUntouched::Installation = nullptr;

// One test per row of RunFaults, so that the rows run side by side (most of
// their time is spent waiting on a silent server).
class FailedRun : public CompleteOrUntouched, public ::testing::WithParamInterface<RunFault> {};

TEST_P(FailedRun, LeavesTheFileAsItWas) {
  // Short timeouts: a silent server ends the run after at most twice the
  // query timeout (FreeTDS waits as long again for its cancel to be taken).
  Inst().RunEnv = {"GENTRMX_LOGIN_TIMEOUT=2", "GENTRMX_QUERY_TIMEOUT=2"};
  {
    const RunFault& fault = GetParam();
    SCOPED_TRACE(Describe(fault));
    if (fault.NoRightsOnTerm02) Inst().Exec("UPDATE MGSST35P SET M35Trm = 'TERM02X' WHERE M35Trm = 'TERM02'");
    for (const ServedBy driver : {ServedBy::SqliteDriver, ServedBy::FreeTds}) {
      if ((fault.Table == nullptr || fault.AbortBatch) && driver == ServedBy::SqliteDriver) continue;
      SCOPED_TRACE(driver == ServedBy::FreeTds ? "FreeTDS" : "SQLite driver");
      Inst().ServeBy(driver, fault.DropAt, fault.SilentAt, fault.AbortBatch);
      if (fault.Table != nullptr) Inst().Exec(std::string("ALTER TABLE ") + fault.Table + " RENAME TO Gone");
      if (fault.NoRightsOnTerm02 && driver == ServedBy::SqliteDriver) {
        // Only the statements the writer needs: the location query never runs.
        const RunResult r = Inst().Run({fault.Function, fault.Terminal, Inst().Root + "/good.dnl", "1"});
        EXPECT_EQ(r.ExitCode, 0) << r.Stdout;
        EXPECT_NE(r.Stdout.find(" davon in Datei gestellt: 0\n"), std::string::npos) << r.Stdout;
        Inst().Exec(std::string("ALTER TABLE Gone RENAME TO ") + fault.Table);
        continue;
      }
      if (fault.Terminate) Inst().RunEnv = {"GENTRMX_QUERY_TIMEOUT=60"};
      for (const char* mode : {"1", "0"}) {
        SCOPED_TRACE(std::string("mode ") + mode);
        ExpectUntouched(fault, mode, fault.SilentAt > 0 && !fault.Terminate ? 2 * 2 + 6 : 30);
      }
      if (fault.Table != nullptr) Inst().Exec(std::string("ALTER TABLE Gone RENAME TO ") + fault.Table);
      Inst().RunEnv = {"GENTRMX_LOGIN_TIMEOUT=2", "GENTRMX_QUERY_TIMEOUT=2"};
    }
    if (fault.NoRightsOnTerm02) Inst().Exec("UPDATE MGSST35P SET M35Trm = 'TERM02' WHERE M35Trm = 'TERM02X'");
  }
  Inst().RunEnv.clear();
  Inst().ServeBy(ServedBy::SqliteDriver);
}
INSTANTIATE_TEST_SUITE_P(CompleteOrUntouched, FailedRun, ::testing::ValuesIn(RunFaults),
                         [](const ::testing::TestParamInfo<RunFault>& info) { return std::to_string(info.index); });

// The good path of every function replaces the known bytes with the file an
// untouched run writes (mode 1), or appends that file to them (mode 0).
TEST_F(CompleteOrUntouched, GoodRunsReplaceOrAppendWhole) {
  mkdir(Folder().c_str(), 0755);
  for (const DownloadFunction& f : DownloadFunctions) {
    SCOPED_TRACE(f.Name);
    const std::string fresh = Folder() + "/fresh";
    std::remove(fresh.c_str());
    ASSERT_EQ(Inst().Run({f.Name, "TERM01", fresh, "1"}).ExitCode, 0);
    const std::string whole = Inst().ReadFile(fresh);
    ASSERT_FALSE(whole.empty());
    const std::string path = Folder() + "/TERM01.dnl";
    for (const char* mode : {"1", "0"}) {
      WriteBytes(path, "alt\r\n");
      chmod(path.c_str(), 0640);
      RunResult r = Inst().Run({f.Name, "TERM01", path, mode});
      EXPECT_EQ(r.ExitCode, 0) << r.Stdout;
      EXPECT_EQ(Inst().ReadFile(path), std::string(mode[0] == '1' ? "" : "alt\r\n") + whole);
      struct stat st;
      ASSERT_EQ(stat(path.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0640u) << "the old file's permissions stay";
    }
    // A symbolic link stays a link to the replaced file.
    const std::string link = Folder() + "/link.dnl";
    std::remove(link.c_str());
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    EXPECT_EQ(Inst().Run({f.Name, "TERM01", link, "1"}).ExitCode, 0);
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Inst().ReadFile(path), whole);
    EXPECT_EQ(FolderEntries(Folder()), (std::vector<std::string>{"TERM01.dnl", "fresh", "link.dnl"}));
    std::remove(link.c_str());
  }
}

}  // namespace
