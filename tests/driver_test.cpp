// The run driver through the real gentrmx executable: command line, settings,
// connect, download file and writer selection, byte for byte on standard
// output and in the download file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>

#include <fstream>
#include <string>
#include <vector>

#include "config/config_writer.h"
#include "fault_checks.h"
#include "installation.h"

namespace {

const std::string Connected = "Mit Datenbank verbunden! Schema: DRAVONIX\n";
// A run of IDSTAMM on an installation without badges.
const std::string NoBadges = "Ausweise gesamt: 0 davon in Datei gestellt: 0\n";
const std::string UnknownFunction =
    "! Gueltig sind: MGDNL17P MGDNL18P MGDNL31P MGDNL60P IDSTAMM\n";

std::string Usage(int given) {
  return "Anzahl Parameter(mind. 4) unterschritten! AnzParam: " + std::to_string(given) +
         "Aufruf: GENTRMX [Param1] [Param2] [Param3] [Param4] /d \n"
         "Param1: DNL-Funktion\n"
         "Param2: Terminal-Name\n"
         "Param3: Pfad der DNL-Datei\n"
         "Param4: 1: neu 0: dran h\xE4ngen\n";
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.flush()) << path;
}

void AppendFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << content;
  ASSERT_TRUE(out.flush()) << path;
}

// Terminal T1 serving licence 1, client 1, with two badges valid since ten
// days: B0001 may book time on T1, B0002 has no permission there. IDSTAMM
// writes one line for B0001 and none for B0002.
void AddTerminalWithTwoBadges(ScratchInstallation& inst, const std::string& secondBadgeFrom = "") {
  const std::string from = TodayYmd(-10);
  inst.Exec(
      "INSERT INTO Xel1140Trm (TrmNam, TrmMod, TrmSal, TrmLiz, TrmMnd, TrmSpr, TrmSta)"
      " VALUES ('T1', '7744-000', 'S1', 1, 1, 1, 0);"
      "INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd, TfzSta) VALUES ('T1', 1, 1, 0);"
      "INSERT INTO Xel301Asw (AswNum, AswLiz, AswMnd, AswGvo, AswBkl, AswSpr, AswAtp, AswSta)"
      " VALUES ('B0001', 1, 1, '" + from + "', 'K1', 1, 0, 0);"
      "INSERT INTO Xel301Asw (AswNum, AswLiz, AswMnd, AswGvo, AswBkl, AswSpr, AswAtp, AswSta)"
      " VALUES ('B0002', 1, 1, '" + (secondBadgeFrom.empty() ? from : secondBadgeFrom) + "', 'K2', 1, 0, 0);"
      "INSERT INTO Xel113Awv (AwvNum, AwvSto, AwvCod, AwvSta) VALUES ('B0001', '00000123', 0, 0);"
      "INSERT INTO Xel113Awv (AwvNum, AwvSto, AwvCod, AwvSta) VALUES ('B0002', '00000123', 0, 0);"
      "INSERT INTO MGSST35P (M35Trm, M35Bkl, M35Bch) VALUES ('T1', 'K1', '1');"
      "INSERT INTO Xel301Awb (AwbAsw, AwbBkl) VALUES ('B0001', 'K1');");
}

// A time zone whose date differs from UTC's at this moment: twelve hours
// behind in the UTC morning, twelve ahead in the afternoon.
const char* ZoneWithAnotherDate() {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  return utc.tm_hour < 12 ? "XBT+12" : "XAT-12";
}

// Sets TZ for this process (and the programs it starts) while in scope.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    if (old != nullptr) Old = old, HadOld = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (HadOld) setenv("TZ", Old.c_str(), 1); else unsetenv("TZ");
    tzset();
  }

 private:
  std::string Old;
  bool HadOld = false;
};


const std::string IdStammSummary = "Ausweise gesamt: 2 davon in Datei gestellt: 1\n";

// Adds a section to one of the installation's ODBC ini files.
void AddIniSection(const ScratchInstallation& inst, const std::string& file, const std::string& section) {
  AppendFile(inst.Root + "/" + file, "\n" + section);
}

// A data source of the given name on the installation's database.
void AddDataSource(const ScratchInstallation& inst, const std::string& name) {
  AddIniSection(inst, "odbc.ini",
                "[" + name + "]\nDriver=SQLite3 gentrmx\nDatabase=" + inst.DbPath +
                    "\nLoadExt=" GENTRMX_SQLEXT "\n");
}

// ---------------------------------------------------------------------------
// Usage

TEST(DriverUsage, FewerThanFourArgumentsPrintTheUsageBlock) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  const std::vector<std::vector<std::string>> calls = {
      {}, {"IDSTAMM"}, {"IDSTAMM", "T1"}, {"IDSTAMM", "T1", "out.dat"}};
  for (size_t given = 0; given < calls.size(); ++given) {
    SCOPED_TRACE(given);
    RunResult r = inst.Run(calls[given]);
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_EQ(r.Stdout, Usage(static_cast<int>(given)));
    EXPECT_EQ(r.Stderr, "");
  }
  EXPECT_FALSE(inst.FileExists("work/dir/out.dat"));
  // The umlaut is one Latin-1 byte.
  EXPECT_NE(Usage(3).find("dran h\xE4ngen\n"), std::string::npos);
  EXPECT_EQ(Usage(3).find("\xC3\xA4"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Settings and connect

// An IDSTAMM run that cannot connect: exit status -1, exactly that message
// and no download file.
RunResult ExpectConnectFailure(ScratchInstallation& inst, const std::string& message) {
  RunResult r = inst.Run({"IDSTAMM", "T1", inst.Root + "/out.dat", "1"});
  EXPECT_EQ(r.ExitCode, 255);
  EXPECT_EQ(r.Stdout, message);
  EXPECT_FALSE(inst.FileExists("out.dat"));
  return r;
}

TEST(DriverConnect, UnknownDataSourceFailsWithMaskedPassword) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  inst.SetConfig("DATABASE", "NOSUCHDSN");
  RunResult r =
      ExpectConnectFailure(inst, "DB-Connect-Error: -1!Name:gentrmx Pwd:*** Net:NOSUCHDSN Schema:DRAVONIX\n");
  EXPECT_EQ(r.Stdout.find("geheim"), std::string::npos);
}

TEST(DriverConnect, DataSourceWhoseDriverLibraryIsMissingFails) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  AddIniSection(inst, "odbcinst.ini", "[Missing driver]\nDriver=/nonexistent/libmissingodbc.so\n");
  AddIniSection(inst, "odbc.ini", "[BROKEN]\nDriver=Missing driver\nDatabase=" + inst.DbPath + "\n");
  inst.SetConfig("LOGIN", "sa");
  inst.SetConfig("PASS", "");
  inst.SetConfig("DATABASE", "BROKEN");
  inst.SetConfig("SCHEMA", "X");
  // An empty password stays empty; a one-character schema value gives the
  // empty schema.
  ExpectConnectFailure(inst, "DB-Connect-Error: -1!Name:sa Pwd: Net:BROKEN Schema:\n");
}

// With "/d" a failed connect adds what the driver manager said, one line per
// diagnostic record, the password masked wherever a message repeats it;
// without it the output is the one line alone.
TEST(DriverConnect, SlashDAddsTheDiagnosticsWithoutThePassword) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  inst.SetConfig("DATABASE", "NOSUCHDSN");
  const std::string failed = "DB-Connect-Error: -1!Name:gentrmx Pwd:*** Net:NOSUCHDSN Schema:DRAVONIX\n";
  RunResult r = inst.Run({"IDSTAMM", "T1", inst.Root + "/out.dat", "1", "/d"});
  EXPECT_EQ(r.ExitCode, 255);
  EXPECT_EQ(r.Stdout, failed +
                          "DB-Diagnose: SQLSTATE IM002, Fehlernummer 0, Meldung: [unixODBC][Driver Manager]Data "
                          "source name not found and no default driver specified\n"
                          "DB-Diagnose: Konfigurationsdatei ../../files/quillnest.ini gelesen\n");
  ExpectConnectFailure(inst, failed);

  // The driver manager names the missing driver library, whose path here
  // holds the password.
  AddIniSection(inst, "odbcinst.ini", "[Missing driver]\nDriver=/nonexistent/geheim/lib.so\n");
  AddIniSection(inst, "odbc.ini", "[BROKEN]\nDriver=Missing driver\nDatabase=" + inst.DbPath + "\n");
  inst.SetConfig("DATABASE", "BROKEN");
  r = inst.Run({"IDSTAMM", "T1", inst.Root + "/out.dat", "1", "/d"});
  EXPECT_EQ(r.ExitCode, 255);
  const std::string masked = "DB-Connect-Error: -1!Name:gentrmx Pwd:*** Net:BROKEN Schema:DRAVONIX\n";
  ASSERT_EQ(r.Stdout.compare(0, masked.size(), masked), 0) << r.Stdout;
  const std::string diagnostics = r.Stdout.substr(masked.size());
  EXPECT_EQ(diagnostics.rfind("DB-Diagnose: SQLSTATE 01000, Fehlernummer 0, Meldung: ", 0), 0u) << diagnostics;
  EXPECT_NE(diagnostics.find("/nonexistent/***/lib.so"), std::string::npos) << diagnostics;
  EXPECT_EQ(r.Stdout.find("geheim"), std::string::npos) << r.Stdout;
  ExpectConnectFailure(inst, masked);
}

TEST(DriverConnect, MissingConfigurationFileLeavesEverySettingEmpty) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  ASSERT_EQ(std::remove((inst.Root + "/files/quillnest.ini").c_str()), 0);
  ExpectConnectFailure(inst, "DB-Connect-Error: -1!Name: Pwd: Net: Schema:\n");
  // With /d the run says where it looked.
  RunResult r = inst.Run({"IDSTAMM", "T1", inst.Root + "/out.dat", "1", "/d"});
  EXPECT_TRUE(EndsWith(r.Stdout, "DB-Diagnose: Konfigurationsdatei ../../files/quillnest.ini nicht gefunden oder "
                                 "nicht lesbar\n"))
      << r.Stdout;
}

TEST(DriverConnect, SchemaDropsTheLastCharacterAndIsUpperCased) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  const std::string path = inst.Root + "/out.dat";
  RunResult r = inst.Run({"IDSTAMM", "T1", path, "1"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Stdout, "Mit Datenbank verbunden! Schema: DRAVONIX\n" + NoBadges);  // stored "Dravonix."
  EXPECT_EQ(r.Stderr, "");

  inst.SetConfig("SCHEMA", "x");
  r = inst.Run({"IDSTAMM", "T1", path, "1"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Stdout, "Mit Datenbank verbunden! Schema: \n" + NoBadges);

  inst.SetConfig("SCHEMA", "\xE4mter-1a2");  // only a to z change
  r = inst.Run({"IDSTAMM", "T1", path, "1"});
  EXPECT_EQ(r.Stdout, "Mit Datenbank verbunden! Schema: \xE4MTER-1A\n" + NoBadges);
}

// The connect fields hold the settings whole. unixODBC's own trace shows
// what reached SQLConnect (it writes the password as one star per byte).
TEST(DriverConnect, FiftyCharacterSettingsReachTheConnectWhole) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  const std::string login(50, 'L'), password(50, 'p'), source = "DSN" + std::string(47, 'N');
  const std::string trace = inst.Root + "/odbc-trace.log";
  std::string odbcinst = inst.ReadFile("odbcinst.ini");
  WriteFile(inst.Root + "/odbcinst.ini", "[ODBC]\nTrace=Yes\nTraceFile=" + trace + "\n\n" + odbcinst);
  inst.SetConfig("LOGIN", login);
  inst.SetConfig("PASS", password);
  // gentrmx-config refuses a data source name this long; the file can still
  // hold one.
  std::string error;
  ASSERT_EQ(SetConfigValue((inst.Root + "/files/quillnest.ini").c_str(), "DATABASE", source.c_str(), &error), 0)
      << error;

  // unixODBC refuses data source names longer than 32 characters.
  RunResult r = inst.Run({"IDSTAMM", "T1", inst.Root + "/out.dat", "1"});
  EXPECT_EQ(r.ExitCode, 255);
  EXPECT_EQ(r.Stdout, "DB-Connect-Error: -1!Name:" + login + " Pwd:*** Net:" + source + " Schema:DRAVONIX\n");
  const std::string log = inst.ReadFile(trace);
  EXPECT_NE(log.find("Server Name = [" + source + "][length = 50 (SQL_NTS)]"), std::string::npos) << log;
  EXPECT_NE(log.find("User Name = [" + login + "][length = 50 (SQL_NTS)]"), std::string::npos) << log;
  EXPECT_NE(log.find("Authentication = [" + std::string(50, '*') + "][length = 50 (SQL_NTS)]"), std::string::npos)
      << log;
  EXPECT_EQ(log.find(password), std::string::npos);
}

TEST(DriverConnect, ThirtyTwoCharacterDataSourceNameConnects) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  const std::string source = "GENTRMX_" + std::string(24, 'Q');
  ASSERT_EQ(source.size(), 32u);
  AddDataSource(inst, source);
  inst.SetConfig("DATABASE", source);
  RunResult r = inst.Run({"IDSTAMM", "T1", inst.Root + "/out.dat", "1"});
  EXPECT_EQ(r.ExitCode, 0) << r.Stdout;
  EXPECT_EQ(r.Stdout, Connected + NoBadges);
}

// ---------------------------------------------------------------------------
// Arguments longer than their fields

TEST(DriverArguments, OverlongArgumentsAreRefusedBeforeAnythingIsOpened) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  const std::string existing = inst.Root + "/keep.dat";
  WriteFile(existing, "alter Inhalt");

  RunResult r = inst.Run({std::string(20, 'F'), "T1", existing, "1"});
  EXPECT_EQ(r.ExitCode, 255);
  EXPECT_EQ(r.Stdout, "Parameter 1 zu lang: hoechstens 19 Zeichen erlaubt!\n");

  r = inst.Run({"IDSTAMM", std::string(256, 'T'), existing, "1"});
  EXPECT_EQ(r.ExitCode, 255);
  EXPECT_EQ(r.Stdout, "Parameter 2 zu lang: hoechstens 255 Zeichen erlaubt!\n");
  EXPECT_EQ(inst.ReadFile(existing), "alter Inhalt");

  // Paths of exactly 200 characters: an existing file and a new one.
  const std::string prefix = inst.Root + "/";
  const std::string longExisting = prefix + std::string(200 - prefix.size(), 'e');
  const std::string longNew = prefix + std::string(200 - prefix.size(), 'n');
  ASSERT_EQ(longExisting.size(), 200u);
  WriteFile(longExisting, "alter Inhalt");
  for (const std::string& path : {longExisting, longNew}) {
    r = inst.Run({"IDSTAMM", "T1", path, "1"});
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_EQ(r.Stdout, "Parameter 3 zu lang: hoechstens 199 Zeichen erlaubt!\n");
  }
  EXPECT_EQ(inst.ReadFile(longExisting), "alter Inhalt");
  EXPECT_FALSE(inst.FileExists(longNew));
}

TEST(DriverArguments, ArgumentsThatJustFitAreTaken) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  const std::string prefix = inst.Root + "/";
  const std::string path = prefix + std::string(199 - prefix.size(), 'p');
  RunResult r = inst.Run({"IDSTAMM", std::string(255, 'T'), path, "1"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Stdout, Connected + NoBadges);
  EXPECT_EQ(inst.ReadFile(path), "");
  // Nineteen characters fit the function's field but name no function.
  r = inst.Run({std::string(19, 'F'), "T1", inst.Root + "/f.dat", "1"});
  EXPECT_EQ(r.ExitCode, 255);
  EXPECT_EQ(r.Stdout, "Unbekannte DNL-Funktion " + std::string(19, 'F') + UnknownFunction);
}

// ---------------------------------------------------------------------------
// Download file

TEST(DriverDownloadFile, MissingFolderCannotBeOpened) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  const std::string path = inst.Root + "/fehlt/out.dat";
  for (const char* mode : {"1", "0"}) {
    RunResult r = inst.Run({"IDSTAMM", "T1", path, mode});
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_EQ(r.Stdout, Connected + "Downloadfile " + path + " konnte nicht geoeffnet werden!\n");
  }
  EXPECT_FALSE(inst.FileExists("fehlt"));
}

// Only the first character of the mode counts: "1" starts a new file,
// anything else appends.
TEST(DriverDownloadFile, ModeOneEmptiesAnythingElseAppends) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  AddTerminalWithTwoBadges(inst);

  // The line of B0001, written into a file that did not exist.
  const std::string fresh = inst.Root + "/fresh.dat";
  RunResult r = inst.Run({"IDSTAMM", "T1", fresh, "0"});
  ASSERT_EQ(r.ExitCode, 0) << r.Stdout;
  EXPECT_EQ(r.Stdout, Connected + IdStammSummary);
  const std::string line = inst.ReadFile(fresh);
  ASSERT_GT(line.size(), 2u);
  EXPECT_EQ(line.compare(0, 7, "\"B0001\""), 0) << line;
  EXPECT_EQ(line.compare(line.size() - 2, 2, "\r\n"), 0) << line;

  const std::string path = inst.Root + "/out.dat";
  struct Case {
    const char* Mode;
    bool StartsNew;
  };
  for (const Case& c : {Case{"1", true}, Case{"10", true}, Case{"0", false}, Case{"2", false}, Case{"x", false},
                        Case{"01", false}}) {
    SCOPED_TRACE(c.Mode);
    WriteFile(path, "ALT\r\n");
    r = inst.Run({"IDSTAMM", "T1", path, c.Mode});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(inst.ReadFile(path), c.StartsNew ? line : "ALT\r\n" + line);
  }
}

TEST(DriverDownloadFile, UnwritableFileFailsAtTheEnd) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  AddTerminalWithTwoBadges(inst);
  for (const char* mode : {"1", "0"}) {
    SCOPED_TRACE(mode);
    RunResult r = inst.Run({"IDSTAMM", "T1", "/dev/full", mode});
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_EQ(r.Stdout, Connected + IdStammSummary + "Downloadfile /dev/full konnte nicht geschrieben werden!\n");
  }
}

// ---------------------------------------------------------------------------
// Writer selection

// A mistyped function (MGDNL13P for MGDNL31P) is refused before the file is
// touched or the database asked.
TEST(DriverWriterSelection, NameThatMatchesNoWriterLeavesTheFileAlone) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  AddTerminalWithTwoBadges(inst);
  const std::string path = inst.Root + "/out.dat";
  for (const char* name : {"MGDNL13P", "MGDNL17", "MGDNL17PX", "IDSTAM", "XIDSTAMM", ""}) {
    SCOPED_TRACE(name);
    WriteFile(path, "ALT");
    RunResult r = inst.Run({name, "T1", path, "1"}, true);
    EXPECT_EQ(r.ExitCode, 255);
    EXPECT_EQ(r.Stdout, "Unbekannte DNL-Funktion " + std::string(name) + UnknownFunction);
    EXPECT_EQ(inst.ReadFile(path), "ALT");
    EXPECT_TRUE(inst.StatementLog().empty());
  }
  RunResult r = inst.Run({"MGDNL17", "T1", inst.Root + "/new.dat", "0"});
  EXPECT_EQ(r.ExitCode, 255);
  EXPECT_FALSE(inst.FileExists("new.dat"));
}

TEST(DriverWriterSelection, FunctionNameIsUpperCasedBeforeTheComparison) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  AddTerminalWithTwoBadges(inst);
  RunResult upper = inst.Run({"IDSTAMM", "T1", inst.Root + "/upper.dat", "1"});
  ASSERT_EQ(upper.ExitCode, 0);
  ASSERT_EQ(upper.Stdout, Connected + IdStammSummary);
  for (const char* name : {"idstamm", "IdStamm"}) {
    SCOPED_TRACE(name);
    RunResult r = inst.Run({name, "T1", inst.Root + "/lower.dat", "1"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Stdout, upper.Stdout);
    EXPECT_EQ(inst.ReadFile("lower.dat"), inst.ReadFile("upper.dat"));
  }
}

// Every name of the writer table reaches a writer, and a writer that fails
// gives its own abort message and exit status -1.
TEST(DriverWriterSelection, FailingWriterGivesItsAbortMessage) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  AddTerminalWithTwoBadges(inst);
  inst.Exec("DROP TABLE Xel113Awv;");  // the badge cursor cannot open
  for (const char* name : {"MGDNL17P", "MGDNL18P", "MGDNL31P", "MGDNL60P", "IDSTAMM"}) {
    SCOPED_TRACE(name);
    WriteFile(inst.Root + "/out.dat", "ALT");
    RunResult r = inst.Run({name, "T1", inst.Root + "/out.dat", "1"});
    EXPECT_EQ(r.ExitCode, 255);
    const std::string tail = std::string("Programmabbruch: Fehler bei Erstellung der Datei ") + name + "!\n";
    ASSERT_GE(r.Stdout.size(), tail.size()) << r.Stdout;
    EXPECT_EQ(r.Stdout.substr(r.Stdout.size() - tail.size()), tail) << r.Stdout;
    EXPECT_EQ(r.Stdout.compare(0, Connected.size(), Connected), 0) << r.Stdout;
    EXPECT_NE(r.Stdout.find("Datenbankfehler bei Ausweisabfrage fuer Terminal T1: SQLSTATE "), std::string::npos)
        << r.Stdout;
    EXPECT_NE(r.Stdout.find("Ausweise gesamt: 0 davon in Datei gestellt: 0\n"), std::string::npos) << r.Stdout;
    EXPECT_EQ(inst.ReadFile("out.dat"), "ALT");
  }
}

// With rows streamed, a badge whose from-date cannot be converted fails the
// fetch of its row: what was written before it is given up, the old file
// stays in either mode.
TEST(DriverWriterSelection, FailingWriterLeavesTheOldFile) {
  ScratchInstallation inst = ScratchInstallation::Empty(/*stepApi=*/true);
  AddTerminalWithTwoBadges(inst, "2000-13-01");
  // Without these the badge query sorts, and a sort reads every row (and
  // meets the bad date) before the first one is delivered.
  inst.Exec("DROP INDEX Xel115Tfz_Trm; DROP INDEX Xel301Asw_Client;");
  for (const char* mode : {"1", "0"}) {
    SCOPED_TRACE(mode);
    WriteFile(inst.Root + "/out.dat", "ALT\r\n");
    RunResult r = inst.Run({"IDSTAMM", "T1", inst.Root + "/out.dat", mode});
    ASSERT_EQ(r.ExitCode, 255) << r.Stdout;
    const std::string failure = "Datenbankfehler bei Ausweisabfrage fuer Terminal T1 nach Ausweis B0001: SQLSTATE ";
    EXPECT_EQ(r.Stdout.compare(0, Connected.size() + failure.size(), Connected + failure), 0) << r.Stdout;
    EXPECT_TRUE(EndsWith(r.Stdout, "\nAusweise gesamt: 1 davon in Datei gestellt: 1\n"
                                   "Programmabbruch: Fehler bei Erstellung der Datei IDSTAMM!\n"))
        << r.Stdout;
    EXPECT_EQ(inst.ReadFile("out.dat"), "ALT\r\n");
  }
}

// ---------------------------------------------------------------------------
// Trace switch

TEST(DriverTrace, SlashDAsFifthOfFiveArgumentsSwitchesTracingOn) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  AddTerminalWithTwoBadges(inst);
  const std::string path = inst.Root + "/out.dat";
  const std::string traced = Connected +
                             "Aws: B0001 Zeitberechtigung: 1\n"
                             "Aws: B0002 Zeitberechtigung: 0\n"
                             "Ausweis B0002 ohne Zeit-/Zutrittsberechtigung auf Terminal T1\n" +
                             IdStammSummary;
  RunResult r = inst.Run({"IDSTAMM", "T1", path, "1", "/d"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Stdout, traced);
  const std::string tracedFile = inst.ReadFile(path);

  const std::vector<std::vector<std::string>> untraced = {
      {"IDSTAMM", "T1", path, "1"},
      {"IDSTAMM", "T1", path, "1", "/D"},
      {"IDSTAMM", "T1", path, "1", "/d", "x"},
      {"IDSTAMM", "T1", path, "1", "x", "/d"},
      {"IDSTAMM", "T1", path, "1", "/d "},
      {"IDSTAMM", "T1", path, "1", "d"},
  };
  for (const auto& args : untraced) {
    SCOPED_TRACE(args.size() > 4 ? args[4] + " (" + std::to_string(args.size()) + " arguments)" : "4 arguments");
    r = inst.Run(args);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Stdout, Connected + IdStammSummary);
    EXPECT_EQ(inst.ReadFile(path), tracedFile);
  }
}

// The data source's today is the local date: a badge valid for exactly
// today (local) is in the file even where UTC has another date right now.
TEST(Driver, TodayIsTheLocalDate) {
  ScopedTimeZone zone(ZoneWithAnotherDate());
  const std::string today = TodayYmd();
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char utcToday[16];
  std::strftime(utcToday, sizeof utcToday, "%Y%m%d", &utc);
  ASSERT_NE(today, utcToday) << "the zone must give another date than UTC";

  ScratchInstallation inst = ScratchInstallation::Empty();
  AddTerminalWithTwoBadges(inst);
  inst.Exec("UPDATE Xel301Asw SET AswGvo = '" + today + "', AswGbi = '" + today + "' WHERE AswNum = 'B0001'");
  const std::string path = inst.Root + "/today.dat";
  RunResult r = inst.Run({"IDSTAMM", "T1", path, "1"});
  if (TodayYmd() != today) GTEST_SKIP() << "the date changed during the run";
  ASSERT_EQ(r.ExitCode, 0) << r.Stdout;
  EXPECT_EQ(r.Stdout, Connected + IdStammSummary);
  EXPECT_NE(inst.ReadFile(path).find("\"B0001"), std::string::npos);
}

}  // namespace
