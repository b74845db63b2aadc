// The IDSTAMM file, through whole runs of the tool: which badges get lines,
// what the 14 fields hold, the CR LF line ends, append mode, the messages
// and the exit status.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "badge_rows.h"
#include "fault_checks.h"
#include "installation.h"

namespace {

const std::string Connected = "Mit Datenbank verbunden! Schema: DRAVONIX\n";
const std::string Abort = "Programmabbruch: Fehler bei Erstellung der Datei IDSTAMM!\n";

// Terminal T1 (balance set TSAL) takes class 100 for time booking and
// A01, A02, B1 for access; T2 (no balance set) takes 100 for time only.
//   1001  time only, own class 7, location 12, no balance set, no end
//   1002  access to three classes, location 100000, own balance set,
//         a comma in its name
//   1003  time and access (A01), no location; delivered twice (two
//         location rows)
//   1004  neither: its class is unknown to the terminals
//   1005  access, but a double quote in its name
ScratchInstallation MakeInstallation(bool stepApi = false) {
  ScratchInstallation inst = ScratchInstallation::Empty(stepApi);
  AddTerminal(inst, "T1", "'7744-010'", "'TSAL'");
  AddTerminal(inst, "T2", "'7598-002'", "NULL");
  AddTerminalClass(inst, "T1", "100", "1");
  for (const char* cls : {"A01", "A02", "B1"}) AddTerminalClass(inst, "T1", cls, "0");
  AddTerminalClass(inst, "T2", "100", "1");

  AddBadge(inst, "1001", "AswBkl = '7'", "'12'");
  AddBadgeClass(inst, "1001", "100");
  AddBadge(inst, "1002",
           "AswGbi = '20991231', AswSal = 'OWN', AswPin = '4711', AswAan = 'Meier, Jo', AswSpr = 2, AswAtp = 3, "
           "AswBkl = 'XYZ'",
           "'100000'");
  for (const char* cls : {"B1", "A02", "A01"}) AddBadgeClass(inst, "1002", cls);
  AddBadge(inst, "1003");
  inst.Exec("INSERT INTO Xel113Awv (AwvNum) VALUES ('1003')");
  AddBadgeClass(inst, "1003", "100");
  AddBadgeClass(inst, "1003", "A01");
  AddBadge(inst, "1004", "AswBkl = '100'");
  AddBadgeClass(inst, "1004", "ZZZ");
  AddBadge(inst, "1005", "AswAan = 'Max \"Mo\" Mustermann'");
  AddBadgeClass(inst, "1005", "A01");
  return inst;
}

const std::string T1Lines =
    "\"1001\",\"20200101\",\"\",\"00012\",\"1\",\"0\",\"1\",\"TSAL\",\"001\",\"7  \",\"\",\"1001\",\"0\",\"\"\r\n"
    "\"1002\",\"20200101\",\"20991231\",\"\",\"0\",\"1\",\"2\",\"OWN\",\"001\",\"A01\",\"Meier, Jo\",\"1002\",\"3\","
    "\"4711\"\r\n"
    "\"1002\",\"20200101\",\"20991231\",\"\",\"0\",\"1\",\"2\",\"OWN\",\"001\",\"A02\",\"Meier, Jo\",\"1002\",\"3\","
    "\"4711\"\r\n"
    "\"1002\",\"20200101\",\"20991231\",\"\",\"0\",\"1\",\"2\",\"OWN\",\"001\",\"B1 \",\"Meier, Jo\",\"1002\",\"3\","
    "\"4711\"\r\n"
    "\"1003\",\"20200101\",\"\",\"\",\"1\",\"1\",\"1\",\"TSAL\",\"001\",\"A01\",\"\",\"1003\",\"0\",\"\"\r\n"
    "\"1003\",\"20200101\",\"\",\"\",\"1\",\"1\",\"1\",\"TSAL\",\"001\",\"A01\",\"\",\"1003\",\"0\",\"\"\r\n";

// The lines of a terminal without balance set that takes class 100 for time
// booking only (T2, or a name with client rows only): field 8 stays empty;
// 1003 has time permission only there and no booking class of its own, and
// is delivered twice.
const std::string TimeOnlyLines =
    "\"1001\",\"20200101\",\"\",\"00012\",\"1\",\"0\",\"1\",\"\",\"001\",\"7  \",\"\",\"1001\",\"0\",\"\"\r\n"
    "\"1003\",\"20200101\",\"\",\"\",\"1\",\"0\",\"1\",\"\",\"001\",\"   \",\"\",\"1003\",\"0\",\"\"\r\n"
    "\"1003\",\"20200101\",\"\",\"\",\"1\",\"0\",\"1\",\"\",\"001\",\"   \",\"\",\"1003\",\"0\",\"\"\r\n";

const std::string QuoteMessage =
    "Ausweis 1005 enthaelt ein Anfuehrungszeichen und wird nicht in die Datei IDSTAMM gestellt!\n";

TEST(IdStamm, WritesOneLinePerAccessClassOrOneForTimeOnly) {
  ScratchInstallation inst = MakeInstallation();
  const std::string path = inst.Root + "/IDSTAMM.T1";
  RunResult run = inst.RunBothWays({"idstamm", "T1", path, "1"});
  EXPECT_EQ(run.ExitCode, 0) << run.Stderr;
  EXPECT_EQ(inst.ReadFile(path), T1Lines);
  EXPECT_EQ(run.Stdout, Connected + QuoteMessage + "Ausweise gesamt: 6 davon in Datei gestellt: 4\n");

  // With /d the badge without permission is named as well.
  run = inst.RunBothWays({"IDSTAMM", "T1", path, "1", "/d"});
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(inst.ReadFile(path), T1Lines);
  EXPECT_NE(run.Stdout.find("Aws: 1004 Zeitberechtigung: 0\n"
                            "Ausweis 1004 ohne Zeit-/Zutrittsberechtigung auf Terminal T1\n"),
            std::string::npos)
      << run.Stdout;
  EXPECT_NE(run.Stdout.find(QuoteMessage), std::string::npos);
  EXPECT_NE(run.Stdout.find("Ausweise gesamt: 6 davon in Datei gestellt: 4\n"), std::string::npos);
}

TEST(IdStamm, BalanceSetFallsBackToTheTerminalsAndEmptyClassIsThreeBlanks) {
  ScratchInstallation inst = MakeInstallation();
  const std::string path = inst.Root + "/IDSTAMM.T2";
  RunResult run = inst.RunBothWays({"IDSTAMM", "T2", path, "1"});
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(inst.ReadFile(path), TimeOnlyLines);
  EXPECT_EQ(run.Stdout, Connected + "Ausweise gesamt: 6 davon in Datei gestellt: 3\n");
}

TEST(IdStamm, AppendModeKeepsWhatTheFileHeld) {
  ScratchInstallation inst = MakeInstallation();
  const std::string path = inst.Root + "/IDSTAMM.T1";
  std::ofstream(path, std::ios::binary) << "OLD\r\n";
  EXPECT_EQ(inst.RunBothWays({"IDSTAMM", "T1", path, "0"}).ExitCode, 0);
  EXPECT_EQ(inst.ReadFile(path), "OLD\r\n" + T1Lines);
  EXPECT_EQ(inst.RunBothWays({"IDSTAMM", "T1", path, "0"}).ExitCode, 0);
  EXPECT_EQ(inst.ReadFile(path), "OLD\r\n" + T1Lines + T1Lines);
  EXPECT_EQ(inst.RunBothWays({"IDSTAMM", "T1", path, "1"}).ExitCode, 0);
  EXPECT_EQ(inst.ReadFile(path), T1Lines);
}

// An unknown terminal keeps the driver's "0" fill: its client count reads
// as greater than 0, so the badges come from the terminal-bound query, which
// finds some only when Xel115Tfz holds rows for that name.
TEST(IdStamm, UnknownTerminalTakesTheTerminalBoundQuery) {
  ScratchInstallation inst = MakeInstallation();
  const std::string path = inst.Root + "/IDSTAMM.X";
  std::ofstream(path, std::ios::binary) << "stale";
  RunResult run = inst.RunBothWays({"IDSTAMM", "T-UNKNOWN", path, "1"}, true);
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(inst.ReadFile(path), "");
  EXPECT_EQ(run.Stdout, Connected + "Ausweise gesamt: 0 davon in Datei gestellt: 0\n");
  const std::vector<std::string> log = inst.StatementLog();
  ASSERT_EQ(log.size(), 2u);  // the terminal row is not found; then the badges
  EXPECT_EQ(log[1], TerminalBoundBadgeQuery("T-UNKNOWN"));

  // Client rows for the name: the badges of the pair, with no balance set
  // from the terminal.
  inst.Exec("INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd) VALUES ('T-GHOST', 1, 1)");
  AddTerminalClass(inst, "T-GHOST", "100", "1");
  run = inst.RunBothWays({"IDSTAMM", "T-GHOST", path, "1"});
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(inst.ReadFile(path), TimeOnlyLines);
}

TEST(IdStamm, FailingBadgeCursorEndsWithTheAbortMessageAndMinusOne) {
  {
    SCOPED_TRACE("missing table");
    ScratchInstallation inst = MakeInstallation();
    inst.Exec("DROP TABLE Xel113Awv");
    const std::string path = inst.Root + "/IDSTAMM.T1";
    RunResult run = inst.RunBothWays({"IDSTAMM", "T1", path, "1"});
    EXPECT_EQ(run.ExitCode, 255);
    EXPECT_FALSE(inst.FileExists(path));
    EXPECT_EQ(run.Stdout.rfind(Connected + "Datenbankfehler bei Ausweisabfrage fuer Terminal T1: SQLSTATE ", 0), 0u)
        << run.Stdout;
    EXPECT_TRUE(EndsWith(run.Stdout, "\nAusweise gesamt: 0 davon in Datei gestellt: 0\n" + Abort)) << run.Stdout;
  }
  {
    // With rows streamed (StepAPI=1) a bad date in badge 1002 breaks the
    // query at that row's fetch: the line of 1001 is given up with the
    // rest, the file stays as it was.
    SCOPED_TRACE("failure at a row");
    ScratchInstallation inst = MakeInstallation(true);
    inst.Exec("UPDATE Xel301Asw SET AswGvo = '2020-13-01' WHERE AswNum = '1002'");
    const std::string path = inst.Root + "/IDSTAMM.T1";
    RunResult run = inst.RunBothWays({"IDSTAMM", "T1", path, "1"});
    EXPECT_EQ(run.ExitCode, 255);
    EXPECT_FALSE(inst.FileExists(path));
    EXPECT_EQ(run.Stdout.rfind(Connected + "Datenbankfehler bei Ausweisabfrage fuer Terminal T1 nach Ausweis 1001: ", 0),
              0u)
        << run.Stdout;
    EXPECT_TRUE(EndsWith(run.Stdout, "\nAusweise gesamt: 1 davon in Datei gestellt: 1\n" + Abort)) << run.Stdout;
  }
}

// Every lookup and list cursor runs while the badge cursor is open. Under
// the busy-check build a statement that would find the connection busy on
// SQL Server aborts the tool; a whole run on the sample installation must
// complete. Every line has 14 quoted fields and ends in CR LF.
TEST(IdStamm, SampleInstallationRunsThroughWithWellFormedLines) {
  ScratchInstallation inst = ScratchInstallation::Generated(300, 7, true);
  for (const char* terminal : {"TERM01", "TERM02", "TERM03"}) {
    SCOPED_TRACE(terminal);
    const std::string path = inst.Root + "/" + terminal;
    RunResult run = inst.RunBothWays({"IDSTAMM", terminal, path, "1"});
    ASSERT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;
    EXPECT_NE(run.Stdout.find("Ausweise gesamt: "), std::string::npos);
    const std::string file = inst.ReadFile(path);
    ASSERT_FALSE(file.empty());
    size_t lines = 0;
    for (size_t at = 0; at < file.size();) {
      size_t end = file.find("\r\n", at);
      ASSERT_NE(end, std::string::npos) << "line without CR LF at byte " << at;
      const std::string line = file.substr(at, end - at);
      EXPECT_EQ(line.front(), '"');
      EXPECT_EQ(line.back(), '"');
      size_t separators = 0;
      for (size_t p = line.find("\",\""); p != std::string::npos; p = line.find("\",\"", p + 3)) ++separators;
      EXPECT_EQ(separators, 13u) << line;
      EXPECT_EQ(line.find('\n'), std::string::npos);
      ++lines;
      at = end + 2;
    }
    EXPECT_GT(lines, 0u);
  }
}

}  // namespace
