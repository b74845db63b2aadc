// gentrmx-explain through whole runs: the reason named for every way a
// badge can be left out, the records shown byte for byte equal to the real
// run's records of that badge for every function, the statements in the
// real run's order, and nothing written to disk or to the database.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "badge_rows.h"
#include "installation.h"
#include "layouts/download_reader.h"
#include "layouts/record_layouts.h"

namespace {

RunResult Explain(const ScratchInstallation& inst, const std::string& function, const std::string& terminal,
                  const std::string& badge, bool sql = false) {
  std::vector<std::string> args = {function, terminal, badge};
  if (sql) args.push_back("--sql");
  return inst.RunTool(GENTRMX_EXPLAIN_EXE, args);
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& head) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(head, 0) == 0) lines.push_back(line.substr(head.size()));
  return lines;
}

// The records explain printed under "Bytes wie in der Datei", one a line.
std::string ShownBytes(const std::string& out) {
  const std::string head = "Bytes wie in der Datei: ";
  size_t at = out.find(head);
  if (at == std::string::npos) return "(none shown)";
  const size_t start = out.find('\n', at) + 1;
  return out.substr(start, out.find("Nach Feldern:\n", start) - start);
}

// The file's records as explain shows them: each as UTF-8 text on a line
// of its own (quoted lines without their CR LF), control bytes as \xNN.
std::string AsShown(const std::string& bytes, const RecordLayout& layout) {
  std::string shown;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t length = layout.RecordLength, text = length;
    if (layout.Form == RecordForm::QuotedLine) {
      length = bytes.find("\r\n", at) + 2 - at;
      text = length - 2;
    }
    shown += Latin1ToVisibleUtf8(bytes.substr(at, text)) + "\n";
    at += length;
  }
  return shown;
}

// True when text is UTF-8 throughout.
bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

struct BadgeInFile {
  std::string Number;
  std::string Bytes;
};

// The badge with the most records in the file (the first of those), and
// its records as they stand there.
BadgeInFile BusiestBadge(const std::string& file, const RecordLayout& layout) {
  const DownloadContent content = SplitDownload(file, layout);
  EXPECT_TRUE(content.Whole);
  BadgeInFile best;
  size_t most = 0;
  for (const auto& [number, indexes] : RecordsByBadge(content)) {
    if (indexes.size() <= most) continue;
    most = indexes.size();
    EXPECT_EQ(indexes.back() - indexes.front() + 1, indexes.size()) << "records of " << number << " not together";
    const size_t from = content.Records[indexes.front()].Offset;
    const size_t to =
        indexes.back() + 1 < content.Records.size() ? content.Records[indexes.back() + 1].Offset : file.size();
    best = {number, file.substr(from, to - from)};
  }
  return best;
}

// The real run's statements for one badge: everything up to the badge
// query, then the run from the first to the last statement that names the
// badge. A run reads the terminal's reader rows once, at its first badge;
// the explanation, whose first badge this one is, reads them just before
// the badge's zone class query.
std::vector<std::string> StatementsFor(const std::vector<std::string>& log, const std::string& badge) {
  std::vector<std::string> out;
  size_t i = 0;
  for (; i < log.size(); ++i) {
    out.push_back(log[i]);
    if (log[i].rfind("SELECT  AswNum,", 0) == 0) break;
  }
  const std::string quoted = "'" + badge + "'";
  size_t first = log.size(), last = 0;
  for (size_t k = i + 1; k < log.size(); ++k)
    if (log[k].find(quoted) != std::string::npos) {
      first = std::min(first, k);
      last = k;
    }
  EXPECT_LT(first, log.size()) << "no statement names " << badge;
  std::string readers;
  for (size_t k = i + 1; k < log.size() && k < first; ++k)
    if (log[k].rfind("SELECT ZlsLes,", 0) == 0) readers = log[k];
  for (size_t k = first; k <= last && k < log.size(); ++k) {
    if (!readers.empty() && log[k].rfind("SELECT DISTINCT M35BKL", 0) == 0) out.push_back(readers);
    out.push_back(log[k]);
  }
  return out;
}

// Every file below root, with its bytes.
std::vector<std::pair<std::string, std::string>> Snapshot(const ScratchInstallation& inst) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(inst.Root))
    if (entry.is_regular_file()) files.emplace_back(entry.path().string(), inst.ReadFile(entry.path().string()));
  std::sort(files.begin(), files.end());
  return files;
}

TEST(Explain, NamesTheReasonForEveryWayABadgeIsLeftOut) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  AddTerminal(inst, "T-ALL");
  AddTerminal(inst, "T-BOUND");
  inst.Exec("INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd) VALUES ('T-BOUND', 1, 1)");
  for (const char* terminal : {"T-ALL", "T-BOUND"}) {
    AddTerminalClass(inst, terminal, "Z1", "1");
    AddTerminalClass(inst, terminal, "A1", "0");
  }
  const std::string today = TodayYmd(), yesterday = TodayYmd(-1), tomorrow = TodayYmd(1);
  AddBadge(inst, "FUTURE", "AswGvo = '" + tomorrow + "'");
  AddBadge(inst, "ENDED", "AswGbi = '" + yesterday + "'");
  AddBadge(inst, "NOFROM", "AswGvo = NULL, AswGbi = '20991231'");
  AddBadge(inst, "STA4", "AswSta = 4");
  AddBadge(inst, "AWVSTA8");
  AddBadge(inst, "AWVCOD8");
  AddBadge(inst, "CLIENT2", "AswMnd = 2");
  AddBadge(inst, "NOPERM");
  AddBadge(inst, "LONGNUMBER-0001");
  inst.Exec("UPDATE Xel113Awv SET AwvSta = 8 WHERE AwvNum = 'AWVSTA8';"
            "UPDATE Xel113Awv SET AwvCod = 8 WHERE AwvNum = 'AWVCOD8';"
            "INSERT INTO Xel301Asw (AswNum, AswLiz, AswMnd, AswGvo) VALUES ('NOAWV', 1, 1, '20200101');"
            // A second assignment, deleted: it does not count, but the badge
            // status is what keeps STA4 out.
            "INSERT INTO Xel113Awv (AwvNum, AwvSta) VALUES ('STA4', 8)");
  for (const char* badge : {"FUTURE", "ENDED", "NOFROM", "STA4", "AWVSTA8", "AWVCOD8", "CLIENT2", "NOAWV",
                            "LONGNUMBER-0001"}) {
    AddBadgeClass(inst, badge, "Z1");
    AddBadgeClass(inst, badge, "A1");
  }

  struct Case {
    const char *Badge, *Terminal, *Function;
    std::vector<std::string> Reasons;  // every "Grund:" line, in order
    std::vector<std::string> Notes;    // further texts the output holds
    bool InFile;
  };
  const Case cases[] = {
      {"NOSUCH", "T-ALL", "IDSTAMM", {"kein Ausweis mit der Nummer NOSUCH (Xel301Asw)"}, {}, false},
      {"FUTURE", "T-ALL", "IDSTAMM",
       {"noch nicht gueltig: gueltig ab " + tomorrow + " bis (leer), heute " + today}, {}, false},
      {"ENDED", "T-BOUND", "MGDNL31P",
       {"nicht mehr gueltig: gueltig ab 20200101 bis " + yesterday + ", heute " + today}, {}, false},
      // The query without terminal binding wants a from-date; the bound one not.
      {"NOFROM", "T-ALL", "IDSTAMM",
       {"ohne Gueltig-ab-Datum (gueltig bis 20991231, heute " + today +
        "): die Ausweisabfrage ohne Terminalbindung verlangt AswGvo"}, {}, false},
      {"NOFROM", "T-BOUND", "IDSTAMM", {}, {"Ausweisabfrage liefert Zeile 1: AswNum 'NOFROM' AswGvo ''"}, true},
      {"STA4", "T-BOUND", "MGDNL17P", {"Ausweisstatus AswSta = 4 (gesperrt oder geloescht)"},
       {"  diese Zeile zaehlt nicht: Zuordnungsstatus AwvSta = 8 (gesperrt oder geloescht)\n"}, false},
      {"AWVSTA8", "T-ALL", "MGDNL60P", {"Zuordnungsstatus AwvSta = 8 (gesperrt oder geloescht)"}, {}, false},
      {"AWVCOD8", "T-BOUND", "MGDNL18P", {"Zuordnungscode AwvCod = 8"}, {}, false},
      {"CLIENT2", "T-BOUND", "IDSTAMM",
       {"Lizenz/Mandant 1/2 nicht unter denen von Terminal T-BOUND (Xel115Tfz: 1/1)"}, {}, false},
      {"CLIENT2", "T-ALL", "IDSTAMM", {}, {}, true},
      {"NOAWV", "T-ALL", "IDSTAMM",
       {"keine Zuordnung in Xel113Awv (die Ausweisabfrage verbindet ASWNUM = AWVNUM)"}, {}, false},
      {"NOPERM", "T-ALL", "MGDNL17P", {},
       {"Zeitberechtigung auf Terminal T-ALL: 0 Buchungsklasse(n) mit M35Bch '1' -> nein",
        "Zutrittsklassen auf Terminal T-ALL: 0 -> Zutrittsberechtigung nein",
        "kein Satz: weder Zeit- noch Zutrittsberechtigung"},
       false},
      {"LONGNUMBER-0001", "T-ALL", "MGDNL31P", {},
       {"Zeitberechtigung auf Terminal T-ALL: 1 Buchungsklasse(n) mit M35Bch '1' -> ja",
        "Ausweis LONGNUMBER-0001 passt nicht in die Datei MGDNL31P (Ausweisnummer laenger als 13 Zeichen)"},
       false},
  };

  const auto before = Snapshot(inst);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Badge) + " on " + c.Terminal + " " + c.Function);
    RunResult run = Explain(inst, c.Function, c.Terminal, c.Badge);
    EXPECT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;
    EXPECT_EQ(LinesStartingWith(run.Stdout, "Grund: "), c.Reasons) << run.Stdout;
    for (const std::string& note : c.Notes) EXPECT_NE(run.Stdout.find(note), std::string::npos) << note << "\n" << run.Stdout;
    const std::string verdict = std::string("Ergebnis: Ausweis ") + c.Badge + (c.InFile ? " steht in" : " steht nicht in") +
                                " der Datei " + c.Function + ".\n";
    EXPECT_NE(run.Stdout.find(verdict), std::string::npos) << run.Stdout;
  }
  // Nothing written: no file, no byte of the database.
  EXPECT_EQ(Snapshot(inst), before);
}

TEST(Explain, RecordsAndStatementsAreTheRealRunsForEveryFunction) {
  ScratchInstallation inst = ScratchInstallation::Generated(60, 5);
  for (const char* terminal : {"TERM01", "TERM02"}) {
    for (const char* function : {"MGDNL17P", "MGDNL18P", "MGDNL31P", "MGDNL60P", "IDSTAMM"}) {
      SCOPED_TRACE(std::string(function) + " " + terminal);
      const RecordLayout& layout = *LayoutByFunction(function);
      const std::string path = inst.Root + "/real.dat";
      RunResult real = inst.Run({function, terminal, path, "1"}, true);
      ASSERT_EQ(real.ExitCode, 0) << real.Stdout;
      const std::vector<std::string> log = inst.StatementLog();
      const BadgeInFile badge = BusiestBadge(inst.ReadFile(path), layout);
      ASSERT_FALSE(badge.Number.empty()) << "empty file";

      RunResult run = Explain(inst, function, terminal, badge.Number, true);
      ASSERT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;
      EXPECT_EQ(ShownBytes(run.Stdout), AsShown(badge.Bytes, layout)) << run.Stdout;
      EXPECT_TRUE(IsUtf8(run.Stdout)) << run.Stdout;
      const std::string runPart = run.Stdout.substr(0, run.Stdout.find("Nachgefragt (eigene Abfragen"));
      EXPECT_EQ(LinesStartingWith(runPart, "SQL> "), StatementsFor(log, badge.Number)) << run.Stdout;
    }
  }
}

TEST(Explain, CallsThatCannotBeExplained) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  AddTerminal(inst, "T1");
  EXPECT_EQ(inst.RunTool(GENTRMX_EXPLAIN_EXE, {"IDSTAMM", "T1"}).ExitCode, 2);
  EXPECT_EQ(inst.RunTool(GENTRMX_EXPLAIN_EXE, {"IDSTAMM", "T1", "B1", "--verbose"}).ExitCode, 2);
  RunResult unknown = Explain(inst, "MGDNL99P", "T1", "B1");
  EXPECT_EQ(unknown.ExitCode, 1);
  EXPECT_NE(unknown.Stderr.find("Unbekannte Funktion MGDNL99P"), std::string::npos);
  RunResult version = inst.RunTool(GENTRMX_EXPLAIN_EXE, {"--version"});
  EXPECT_EQ(version.Stdout, std::string("gentrmx-explain ") + GENTRMX_VERSION + "\n");

  inst.SetConfig("DATABASE", "GENTRMX_NONE");
  RunResult failed = Explain(inst, "IDSTAMM", "T1", "B1");
  EXPECT_EQ(failed.ExitCode, 1);
  EXPECT_EQ(failed.Stdout.rfind("Keine Verbindung zur Datenbank (Datenquelle GENTRMX_NONE, Benutzer ", 0), 0u)
      << failed.Stdout;
  EXPECT_NE(failed.Stdout.find("DB-Diagnose: SQLSTATE IM002"), std::string::npos) << failed.Stdout;
  EXPECT_EQ(failed.Stdout.find("geheim"), std::string::npos);
}

}  // namespace
