// gentrmx-batch through whole runs on generated sample installations: its
// files byte for byte those of single gentrmx runs; failed jobs named, their
// files as they were; --verify naming exactly the files a run would change,
// touching none; every bad list line and wrong call refused before anything
// runs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "installation.h"
#include "layouts/download_reader.h"
#include "layouts/record_layouts.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> Functions = {"MGDNL17P", "MGDNL18P", "MGDNL31P", "MGDNL60P", "IDSTAMM"};
// The sample's terminals that are neither deleted nor blocked (TERM09 is deleted).
const std::vector<std::string> Terminals = {"TERM01", "TERM02", "TERM03"};

const std::vector<std::string> AllTerminalsAllFunctions = {
    "--terminals", "all", "--functions", "MGDNL17P,MGDNL18P,MGDNL31P,MGDNL60P,IDSTAMM", "--out",
    "dl/{terminal}.{function}"};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::string BatchPath(const std::string& terminal, const std::string& function) {
  return "work/dir/dl/" + terminal + "." + function;
}

// Every file of the batch's folder: name -> bytes.
std::map<std::string, std::string> Files(const ScratchInstallation& inst, const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(inst.Root + "/" + folder))
    files[entry.path().filename().string()] = inst.ReadFile(entry.path().string());
  return files;
}

// The rows of a CSV file (RFC 4180, CR LF) keyed by function and terminal.
std::map<std::string, std::map<std::string, std::string>> CsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += text[++i];
      else if (c == '"') quoted = false;
      else field += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
      ++i;
    } else {
      field += c;
    }
  }
  rows.pop_back();  // after the last CR LF
  std::map<std::string, std::map<std::string, std::string>> byJob;
  for (size_t r = 1; r < rows.size(); ++r) {
    EXPECT_EQ(rows[r].size(), rows[0].size()) << "CSV row " << r;
    std::map<std::string, std::string> row;
    for (size_t f = 0; f < rows[0].size() && f < rows[r].size(); ++f) row[rows[0][f]] = rows[r][f];
    byJob[row["Funktion"] + " " + row["Terminal"]] = row;
  }
  return byJob;
}

// "Ausweise gesamt: <n> davon in Datei gestellt: <m>" of a single run.
std::pair<std::string, std::string> SummaryFigures(const std::string& out) {
  const std::string key = "Ausweise gesamt: ";
  size_t at = out.rfind(key);
  if (at == std::string::npos) return {"", ""};
  std::istringstream in(out.substr(at + key.size()));
  std::string read, davon, in_, datei, gestellt, written;
  in >> read >> davon >> in_ >> datei >> gestellt >> written;
  return {read, written};
}

// Single gentrmx runs of every terminal and function into folder (below
// the working folder): file bytes and exit status per "FUNCTION TERMINAL".
struct SingleRun {
  int ExitCode;
  std::string Bytes, Stdout;
};
std::map<std::string, SingleRun> SingleRuns(ScratchInstallation& inst, const std::string& folder) {
  fs::create_directories(inst.WorkDir + "/" + folder);
  std::map<std::string, SingleRun> runs;
  for (const std::string& t : Terminals)
    for (const std::string& f : Functions) {
      const std::string path = folder + "/" + t + "." + f;
      RunResult r = inst.Run({f, t, path, "1"});
      runs[f + " " + t] = {r.ExitCode, inst.FileExists("work/dir/" + path) ? inst.ReadFile("work/dir/" + path) : "",
                           r.Stdout};
    }
  return runs;
}

TEST(Batch, AllTerminalsGiveTheFilesOfSingleRuns) {
  ScratchInstallation inst = ScratchInstallation::Generated(300, 21, /*stepApi=*/true);
  const std::string csv = inst.Root + "/summary.csv";
  RunResult batch = inst.RunTool(GENTRMX_BATCH_EXE, With(AllTerminalsAllFunctions, {"--jobs", "3", "--csv", csv}));
  ASSERT_EQ(batch.ExitCode, 0) << batch.Stdout << batch.Stderr;
  EXPECT_EQ(batch.Stderr, "");
  const std::map<std::string, SingleRun> single = SingleRuns(inst, "single");

  // Not on a terminal: one line per finished job, then the summary.
  size_t finished = 0;
  std::istringstream lines(batch.Stdout);
  std::string line;
  while (std::getline(lines, line)) finished += line.rfind("[", 0) == 0 && line.find("] ok ") != std::string::npos;
  EXPECT_EQ(finished, Terminals.size() * Functions.size()) << batch.Stdout;

  // Only the terminals that are not deleted, every file byte for byte.
  EXPECT_EQ(Files(inst, "work/dir/dl").size(), Terminals.size() * Functions.size());
  const auto rows = CsvRows(inst.ReadFile(csv));
  EXPECT_EQ(rows.size(), Terminals.size() * Functions.size());
  for (const std::string& t : Terminals)
    for (const std::string& f : Functions) {
      const SingleRun& s = single.at(f + " " + t);
      ASSERT_EQ(s.ExitCode, 0) << f << " " << t;
      EXPECT_FALSE(s.Bytes.empty()) << f << " " << t;
      EXPECT_EQ(inst.ReadFile(BatchPath(t, f)), s.Bytes) << f << " " << t;
      // The summary takes the run's own figures.
      auto row = rows.find(f + " " + t);
      ASSERT_NE(row, rows.end()) << f << " " << t;
      auto figures = SummaryFigures(s.Stdout);
      EXPECT_EQ(row->second.at("Ergebnis"), "ok");
      EXPECT_EQ(row->second.at("Exitstatus"), "0");
      EXPECT_EQ(row->second.at("Ausweise"), figures.first) << f << " " << t;
      EXPECT_EQ(row->second.at("InDatei"), figures.second) << f << " " << t;
      EXPECT_EQ(row->second.at("Datei"), "dl/" + t + "." + f);
    }
}

// Needs gentrmx's promise that a failed run (-1) leaves its file as it was.
TEST(Batch, FailedJobsAreNamedAndKeepTheirFiles) {
  ScratchInstallation inst = ScratchInstallation::Generated(300, 22, /*stepApi=*/true);
  RunResult first = inst.RunTool(GENTRMX_BATCH_EXE, AllTerminalsAllFunctions);
  ASSERT_EQ(first.ExitCode, 0) << first.Stdout;
  const std::map<std::string, std::string> before = Files(inst, "work/dir/dl");

  // A complete new file would differ from the old one in every function:
  // the first badge of every file is blocked. The balance values' table is
  // gone, which the functions that show balances read.
  for (const auto& file : before) {
    const RecordLayout* layout = LayoutByFunction(file.first.substr(file.first.find('.') + 1).c_str());
    ASSERT_NE(layout, nullptr) << file.first;
    const auto badges = RecordsByBadge(SplitDownload(file.second, *layout));
    ASSERT_FALSE(badges.empty()) << file.first;
    inst.Exec("UPDATE Xel301Asw SET AswSta = 4 WHERE AswNum = '" + badges.begin()->first + "'");
  }
  inst.Exec("ALTER TABLE O2002TSW RENAME TO O2002TSW_weg");
  const std::map<std::string, SingleRun> single = SingleRuns(inst, "single");

  RunResult batch = inst.RunTool(GENTRMX_BATCH_EXE, AllTerminalsAllFunctions);
  EXPECT_EQ(batch.ExitCode, 1) << batch.Stdout;
  const size_t namedAt = batch.Stdout.find("Fehlgeschlagen oder nicht gelaufen:");
  ASSERT_NE(namedAt, std::string::npos) << batch.Stdout;
  const std::string named = batch.Stdout.substr(namedAt);
  std::set<std::string> failing;
  for (const std::string& t : Terminals)
    for (const std::string& f : Functions) {
      const std::string job = f + " " + t;
      const std::string file = t + "." + f;
      const SingleRun& s = single.at(job);
      const bool listed = named.find("  " + job + " -> dl/" + file + " (Exitstatus -1") != std::string::npos;
      if (s.ExitCode != 0) {
        failing.insert(f);
        EXPECT_TRUE(listed) << job << " failed alone but is not named:\n" << named;
        EXPECT_EQ(inst.ReadFile(BatchPath(t, f)), before.at(file)) << job << ": its file lost its old bytes";
      } else {
        EXPECT_FALSE(listed) << job;
        EXPECT_EQ(inst.ReadFile(BatchPath(t, f)), s.Bytes) << job;
        EXPECT_NE(s.Bytes, before.at(file)) << job << ": the blocked badge should show";
      }
    }
  // Those that read balances fail; the access class and badge master files do not.
  EXPECT_TRUE(failing.count("MGDNL17P")) << batch.Stdout;
  EXPECT_FALSE(failing.count("MGDNL31P"));
  EXPECT_FALSE(failing.count("IDSTAMM"));
}

TEST(Batch, VerifyNamesExactlyTheChangedFilesAndTouchesNone) {
  ScratchInstallation inst = ScratchInstallation::Generated(300, 23, /*stepApi=*/true);
  // Temporary files go below the installation, to be seen gone afterwards.
  const std::string tmp = inst.Root + "/tmp";
  fs::create_directories(tmp);
  setenv("TMPDIR", tmp.c_str(), 1);
  RunResult first = inst.RunTool(GENTRMX_BATCH_EXE, AllTerminalsAllFunctions);
  ASSERT_EQ(first.ExitCode, 0) << first.Stdout;
  const std::vector<std::string> verify = With(AllTerminalsAllFunctions, {"--verify", "--csv", inst.Root + "/v.csv"});
  RunResult same = inst.RunTool(GENTRMX_BATCH_EXE, verify);
  EXPECT_EQ(same.ExitCode, 0) << same.Stdout;
  for (const auto& row : CsvRows(inst.ReadFile("v.csv"))) EXPECT_EQ(row.second.at("Pruefung"), "unveraendert");

  // The badge of the first MGDNL31P record of TERM03 (a terminal with few
  // badges) is blocked; one file is gone.
  const std::string badge = inst.ReadFile(BatchPath("TERM03", "MGDNL31P")).substr(0, 13);
  inst.Exec("UPDATE Xel301Asw SET AswSta = 4 WHERE AswNum = rtrim('" + badge + "')");
  fs::remove(inst.Root + "/" + BatchPath("TERM02", "IDSTAMM"));
  const std::map<std::string, SingleRun> fresh = SingleRuns(inst, "fresh");
  const std::map<std::string, std::string> before = Files(inst, "work/dir/dl");
  struct stat folderBefore {};
  stat((inst.WorkDir + "/dl").c_str(), &folderBefore);

  RunResult changed = inst.RunTool(GENTRMX_BATCH_EXE, verify);
  EXPECT_EQ(changed.ExitCode, 1) << changed.Stdout;
  const auto rows = CsvRows(inst.ReadFile("v.csv"));
  size_t differing = 0;
  for (const std::string& t : Terminals)
    for (const std::string& f : Functions) {
      const std::string job = f + " " + t;
      const auto& row = rows.at(job);
      EXPECT_EQ(row.at("Ergebnis"), "ok") << job;
      auto old = before.find(t + "." + f);
      if (old == before.end()) {
        EXPECT_EQ(row.at("Pruefung"), "fehlt") << job;
      } else if (old->second == fresh.at(job).Bytes) {
        EXPECT_EQ(row.at("Pruefung"), "unveraendert") << job;
      } else {
        ++differing;
        EXPECT_EQ(row.at("Pruefung"), "geaendert") << job;
        EXPECT_EQ(row.at("Neu") + " " + row.at("Entfernt") + " " + row.at("Geaendert"), "0 1 0") << job;
      }
    }
  EXPECT_GE(differing, 1u);
  EXPECT_LT(differing, Terminals.size() * Functions.size() - 1) << "every file changed: the badge was too common";
  // Nothing written: the same files, bytes and times; no temporary left.
  EXPECT_EQ(Files(inst, "work/dir/dl"), before);
  struct stat folderAfter {};
  stat((inst.WorkDir + "/dl").c_str(), &folderAfter);
  EXPECT_EQ(folderAfter.st_mtim.tv_sec, folderBefore.st_mtim.tv_sec);
  EXPECT_EQ(folderAfter.st_mtim.tv_nsec, folderBefore.st_mtim.tv_nsec);
  EXPECT_TRUE(fs::is_empty(tmp));
  unsetenv("TMPDIR");
}

TEST(Batch, BadListLinesAndWrongCallsAreRefusedBeforeAnythingRuns) {
  ScratchInstallation inst = ScratchInstallation::Generated(40, 24, /*stepApi=*/true);
  struct BadLine {
    std::string Text, Reason;
  };
  const std::vector<BadLine> bad = {
      {"MGDNL17P TERM01", "2 Felder, erwartet: FUNKTION TERMINAL PFAD [MODUS]"},
      {"MGDNL17P TERM01 a.dat 1 x", "5 Felder"},
      {"mgdnl99p TERM01 a.dat", "unbekannte Funktion \"mgdnl99p\""},
      {"MGDNL17P TERM01 a.dat 2", "Modus \"2\": erwartet 1 (neue Datei) oder 0 (anhaengen)"},
      {"MGDNL17P TERM01 a.dat 10", "Modus \"10\""},
      {"MGDNL17P \"TERM 01 a.dat", "Anfuehrungszeichen an Stelle 10 nicht geschlossen"},
      {"MGDNL17P \"TERM\"01 a.dat", "nach dem schliessenden Anfuehrungszeichen an Stelle 15 fehlt ein Leerzeichen"},
      {"MGDNL17P \"\" a.dat", "Terminalname leer"},
      {"MGDNL17P TERM01 \"\"", "Pfad leer"},
      {"MGDNL17P " + std::string(256, 'T') + " a.dat", "Terminalname laenger als 255 Zeichen"},
      {"MGDNL17P TERM01 " + std::string(200, 'p'), "Pfad laenger als 199 Zeichen"},
      {std::string("MGDNL17P TERM01 a\0b.dat", 23), "enthaelt ein Nullbyte"},
  };
  // A good line first; blank and comment lines count in the numbering.
  std::string list = "MGDNL31P TERM01 good.dat\n\n   # a comment\r\n";
  std::vector<std::string> expected;
  int number = 4;
  for (const BadLine& b : bad) {
    list += b.Text + (number % 4 ? "\r\n" : "\n") + "\t\n";
    expected.push_back("Zeile " + std::to_string(number) + ": " + b.Reason);
    number += 2;
  }
  std::ofstream(inst.Root + "/bad.list", std::ios::binary) << list;
  RunResult refused = inst.RunTool(GENTRMX_BATCH_EXE, {"--list", inst.Root + "/bad.list"});
  EXPECT_EQ(refused.ExitCode, 2);
  EXPECT_EQ(refused.Stdout, "");
  for (const std::string& e : expected) EXPECT_NE(refused.Stderr.find(e), std::string::npos) << e << "\n" << refused.Stderr;
  EXPECT_EQ(refused.Stderr.find("Zeile 1:"), std::string::npos);
  EXPECT_FALSE(inst.FileExists("work/dir/good.dat"));

  // Terminals are looked up as gentrmx does before anything runs.
  std::ofstream(inst.Root + "/terminals.list") << "MGDNL31P TERM01 good.dat\nIDSTAMM TERM77 b.dat\n"
                                                  "IDSTAMM TERM09 c.dat\nIDSTAMM \"O'Brien\" d.dat\n";
  RunResult unknown = inst.RunTool(GENTRMX_BATCH_EXE, {"--list", inst.Root + "/terminals.list"});
  EXPECT_EQ(unknown.ExitCode, 2) << unknown.Stdout;
  EXPECT_NE(unknown.Stderr.find("Zeile 2: Terminal \"TERM77\" nicht in der Terminaltabelle"), std::string::npos)
      << unknown.Stderr;
  EXPECT_NE(unknown.Stderr.find("Zeile 3: Terminal \"TERM09\" gesperrt oder geloescht"), std::string::npos);
  EXPECT_NE(unknown.Stderr.find("Zeile 4: Terminal \"O'Brien\" nicht in der Terminaltabelle"), std::string::npos);
  EXPECT_FALSE(inst.FileExists("work/dir/good.dat"));

  // A good list from standard input: a quoted path, and two jobs that build
  // one file (the second appends) run one after the other in list order.
  std::ofstream(inst.Root + "/good.list") << "# all badges\r\nIDSTAMM TERM02 \"both files.dat\" 1\r\n"
                                             "MGDNL31P TERM01 one.dat\nIDSTAMM TERM01 \"both files.dat\" 0\n";
  RunResult fromInput =
      RunProgram({"/bin/sh", "-c", "exec \"$0\" --list - --jobs 4 < \"$1\"", GENTRMX_BATCH_EXE, inst.Root + "/good.list"},
                 inst.WorkDir, {"ODBCSYSINI=" + inst.Root, "ODBCINI=" + inst.Root + "/odbc.ini"});
  EXPECT_EQ(fromInput.ExitCode, 0) << fromInput.Stdout << fromInput.Stderr;
  RunResult t2 = inst.Run({"IDSTAMM", "TERM02", "t2", "1"});
  RunResult t1 = inst.Run({"IDSTAMM", "TERM01", "t2", "0"});
  ASSERT_EQ(t1.ExitCode + t2.ExitCode, 0);
  EXPECT_EQ(inst.ReadFile("work/dir/both files.dat"), inst.ReadFile("work/dir/t2"));
  EXPECT_TRUE(inst.FileExists("work/dir/one.dat"));

  // Wrong calls: usage on standard error, status 2, nothing run.
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"--jobs", "0", "--list", "x"},
      {"--jobs", "65", "--list", "x"},
      {"--list"},
      {"--list", "x", "--terminals", "all"},
      {"--terminals", "all", "--functions", "MGDNL17P"},
      {"--terminals", "all", "--functions", "MGDNL17X", "--out", "{terminal}"},
      {"--list", "x", "--out", "{terminal}"},
      {"--bogus"},
      {"--list", inst.Root + "/no-such.list"},
      // A pattern that would give two jobs one file.
      {"--terminals", "TERM01,TERM02", "--functions", "IDSTAMM", "--out", "dl/all.dat"},
      // A named terminal that cannot be a file name.
      {"--terminals", "A/B", "--functions", "IDSTAMM", "--out", "dl/{terminal}"},
  };
  inst.Exec("INSERT INTO Xel1140Trm (TrmNam, TrmMod, TrmSal, TrmSta) VALUES ('A/B', '7744-010', 'SAL01', 0)");
  for (const auto& args : wrong) {
    RunResult r = inst.RunTool(GENTRMX_BATCH_EXE, args);
    std::string call;
    for (const std::string& a : args) call += " " + a;
    EXPECT_EQ(r.ExitCode, 2) << call << "\n" << r.Stdout << r.Stderr;
    EXPECT_EQ(r.Stdout, "") << call;
    EXPECT_NE(r.Stderr.find("gentrmx-batch"), std::string::npos) << call;
  }
  EXPECT_FALSE(inst.FileExists("work/dir/dl"));

  // From the terminal table such a terminal's jobs are refused; the others run.
  RunResult all = inst.RunTool(GENTRMX_BATCH_EXE, {"--terminals", "all", "--functions", "IDSTAMM", "--out",
                                                   "all/{terminal}.dat", "--csv", inst.Root + "/all.csv"});
  EXPECT_EQ(all.ExitCode, 1) << all.Stdout;
  EXPECT_NE(all.Stdout.find("Abgelehnt: IDSTAMM A/B: Terminalname \"A/B\" taugt nicht fuer den Pfad: enthaelt \"/\""),
            std::string::npos)
      << all.Stdout;
  const auto rows = CsvRows(inst.ReadFile("all.csv"));
  EXPECT_EQ(rows.at("IDSTAMM A/B").at("Ergebnis"), "abgelehnt");
  for (const std::string& t : Terminals) {
    EXPECT_EQ(rows.at("IDSTAMM " + t).at("Ergebnis"), "ok");
    EXPECT_TRUE(inst.FileExists("work/dir/all/" + t + ".dat"));
  }
  EXPECT_FALSE(inst.FileExists("work/dir/all/A"));

  RunResult help = inst.RunTool(GENTRMX_BATCH_EXE, {"--help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_EQ(help.Stderr, "");
  EXPECT_NE(help.Stdout.find("--verify"), std::string::npos);
  RunResult version = inst.RunTool(GENTRMX_BATCH_EXE, {"--version"});
  EXPECT_EQ(version.Stdout, std::string("gentrmx-batch ") + GENTRMX_VERSION + "\n");
}

}  // namespace
