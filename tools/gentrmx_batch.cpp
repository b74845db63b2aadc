// gentrmx-batch: the download files of many terminals and functions at once,
// each by a gentrmx run of its own, several at a time, with progress and a
// summary; or, with --verify, whether the files in place still are what a
// run would write, without touching them.
//
//   gentrmx-batch --list FILE|- [options]
//   gentrmx-batch --terminals all|T1,T2 --functions F1,F2 --out PATTERN [options]
//   options: --jobs N  --verify  --csv FILE  --verbose
//
// Runs in the folder gentrmx runs in: the jobs get the batch's working
// folder and environment, so each behaves as the single call would. Before
// anything runs the batch reads the same configuration, connects as gentrmx
// does and checks every terminal against the terminal table (for "all":
// reads it); the jobs get none of its descriptors.
//
// Exit status: 0 every job succeeded (with --verify: every file unchanged),
// 1 a job failed or was not run, a file differs, or the batch was stopped,
// 2 wrong call (also a bad line of the list, an unknown terminal).
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "batch_jobs.h"
#include "batch_runner.h"
#include "common/text.h"
#include "config/settings.h"
#include "db/session.h"
#include "db/sql_text.h"

namespace fs = std::filesystem;

namespace {

const char Usage[] =
    "Aufruf: gentrmx-batch --list DATEI|- [OPTIONEN]\n"
    "        gentrmx-batch --terminals all|T1,T2,... --functions F1,F2,... --out MUSTER [OPTIONEN]\n"
    "Optionen: --jobs N  --verify  --csv DATEI  --verbose\n"
    "        gentrmx-batch --help | --version\n";

const char Help[] =
    "Erstellt die Downloaddateien vieler Terminals und Funktionen, jede durch einen\n"
    "eigenen gentrmx-Lauf, mehrere gleichzeitig; oder prueft sie (--verify).\n"
    "\n"
    "Auftraege:\n"
    "  --list DATEI          eine Zeile je Auftrag: FUNKTION TERMINAL PFAD [MODUS]\n"
    "                        (MODUS 1 neue Datei, Vorgabe; 0 anhaengen); leere Zeilen\n"
    "                        und Zeilen mit # am Anfang zaehlen nicht; ein Feld mit\n"
    "                        Leerzeichen steht in \"...\". DATEI - liest die Standardeingabe.\n"
    "  --terminals all|T1,.. alle Terminals der Terminaltabelle ausser Status 4 und 8,\n"
    "                        oder die genannten\n"
    "  --functions F1,...    MGDNL17P, MGDNL18P, MGDNL31P, MGDNL60P, IDSTAMM\n"
    "  --out MUSTER          Pfad je Auftrag; {terminal} und {function} werden ersetzt\n"
    "Optionen:\n"
    "  --jobs N              hoechstens N Laeufe gleichzeitig (Vorgabe 4, 1 bis 64)\n"
    "  --verify              jeder Lauf schreibt in eine temporaere Datei, die mit der\n"
    "                        Datei am PFAD verglichen wird; diese bleibt unberuehrt\n"
    "  --csv DATEI           die Zusammenfassung auch als CSV\n"
    "  --verbose             die Ausgabe jedes Laufs zeigen, nicht nur fehlgeschlagener\n"
    "\n"
    "Laeuft im Arbeitsordner von gentrmx (../../files/quillnest.ini); gentrmx wird\n"
    "neben gentrmx-batch gesucht. Exitstatus: 0 alles erfolgreich (mit --verify:\n"
    "alle Dateien unveraendert), 1 ein Auftrag fehlgeschlagen, eine Datei anders\n"
    "oder abgebrochen, 2 falscher Aufruf.\n";

constexpr int MaxJobs = 64;

int WrongCall(const std::string& message) {
  if (!message.empty()) std::fprintf(stderr, "gentrmx-batch: %s\n", message.c_str());
  std::fprintf(stderr, "%s", Usage);
  return 2;
}

struct Options {
  std::string List, Terminals, Functions, Out, Csv;
  bool HasList = false, HasTerminals = false, HasFunctions = false, HasOut = false, HasCsv = false;
  int Jobs = 4;
  bool Verify = false, Verbose = false;
};

// The folder this program lies in: gentrmx and gentrmx-diff lie beside it.
std::string OwnFolder(const char* argv0) {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) self = fs::absolute(argv0, error);
  return self.parent_path().string();
}

// ---- the terminal table ---------------------------------------------------------
// Every terminal that is neither deleted nor blocked, trailing blanks
// dropped, sorted. false when the query failed.
bool ReadTerminals(Session& db, std::vector<std::string>* names) {
  db.FormatSqlText(
      "SELECT TrmNam  FROM  Dravonix.Xel1140Trm  WHERE ((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS NULL)");
  char name[1024];
  const ColumnBinding columns[] = {{SQL_C_CHAR, name, sizeof name}};
  Statement cursor(db);
  if (OpenCursor(cursor).Failed()) return false;
  std::set<std::string> found;
  for (;;) {
    name[0] = '\0';
    const StatementResult fetched = FetchCursor(cursor, columns, 1);
    if (fetched.IsNoRow()) break;
    if (!fetched.IsRow()) {
      CloseCursor(cursor);
      return false;
    }
    found.insert(TrimRight(name));
  }
  CloseCursor(cursor);
  names->assign(found.begin(), found.end());
  return true;
}

// What gentrmx's terminal lookup would find for the name: "" found, else
// why not (German). false when the query failed.
bool CheckTerminal(Session& db, const std::string& terminal, std::string* problem) {
  int32_t rows = 0, blocked = 0;
  if (db.FormatSqlText("SELECT COUNT(*), COALESCE(SUM(CASE WHEN TrmSta = 4 OR TrmSta = 8 THEN 1 ELSE 0 END), 0)  "
                    "FROM  Dravonix.Xel1140Trm  WHERE TrmNam = '%q'",
                    terminal.c_str()) != 0) {
    *problem = "Terminalname zu lang fuer eine Abfrage";
    return true;
  }
  const ColumnBinding columns[] = {{SQL_C_LONG, &rows, sizeof rows}, {SQL_C_LONG, &blocked, sizeof blocked}};
  if (!LookupSingleRow(db, columns, 2).IsRow()) return false;
  if (rows == 0) *problem = "nicht in der Terminaltabelle (Xel1140Trm)";
  else if (rows == blocked) *problem = "gesperrt oder geloescht (TrmSta 4 oder 8)";
  else problem->clear();
  return true;
}

bool Connect(Session& db) {
  LoginSettings settings;
  ReadLoginSettings(&settings);
  if (db.Connect(settings.Login, settings.Pass, settings.Database, settings.Schema) != 0) {
    std::printf("Keine Verbindung zur Datenbank (Datenquelle %s, Benutzer %s), es laeuft kein Auftrag!\n",
                settings.Database, settings.Login);
    db.PrintFailureRecord(settings.Pass);
    std::memset(&settings, 0, sizeof settings);
    return false;
  }
  std::memset(&settings, 0, sizeof settings);
  return true;
}

void QueryFailed(const Session& db) {
  std::printf("Abfrage der Terminaltabelle fehlgeschlagen, es laeuft kein Auftrag:\n");
  db.PrintFailureRecord(nullptr);
}

// The jobs run as processes of their own: they get no descriptor of the
// batch but their output pipe. The connection itself is held, idle, until
// the batch ends, as gentrmx holds its own (the driver manager unloads the
// drivers when the last connection goes).
void KeepDescriptorsFromJobs() {
  if (DIR* folder = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(folder)) {
      const int fd = std::atoi(entry->d_name);
      if (fd > 2 && fd != dirfd(folder)) fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
    }
    closedir(folder);
  }
}

// ---- the jobs -----------------------------------------------------------------
// Reads the list; false after naming every bad line on standard error.
bool ReadList(const std::string& name, std::vector<BatchJob>* jobs) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (name != "-") {
    file.open(name, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "gentrmx-batch: Liste %s nicht lesbar: %s\n", name.c_str(), std::strerror(errno));
      return false;
    }
    in = &file;
  }
  const std::string shownName = name == "-" ? "(Standardeingabe)" : name;
  bool good = true;
  std::string line;
  for (int number = 1; std::getline(*in, line); ++number) {
    BatchJob job;
    bool skip = false;
    std::string reason;
    if (!ParseListLine(line, &job, &skip, &reason)) {
      std::fprintf(stderr, "gentrmx-batch: Liste %s, Zeile %d: %s\n", Shown(shownName).c_str(), number,
                   Shown(reason).c_str());
      good = false;
      continue;
    }
    if (skip) continue;
    job.Line = number;
    jobs->push_back(job);
  }
  if (good && jobs->empty()) {
    std::fprintf(stderr, "gentrmx-batch: Liste %s enthaelt keine Auftraege\n", Shown(shownName).c_str());
    return false;
  }
  return good;
}

// Every terminal the jobs name, looked up as gentrmx does; an unknown or
// blocked one is named with its line. 0 all known, 1 the query failed, 2
// unknown terminals.
int CheckListTerminals(Session& db, const std::vector<BatchJob>& jobs, const std::string& listName) {
  std::map<std::string, std::string> problems;
  for (const BatchJob& job : jobs) {
    if (problems.count(job.Terminal)) continue;
    std::string problem;
    if (!CheckTerminal(db, job.Terminal, &problem)) return 1;
    problems[job.Terminal] = problem;
  }
  int status = 0;
  for (const BatchJob& job : jobs) {
    const std::string& problem = problems[job.Terminal];
    if (problem.empty()) continue;
    if (job.Line > 0)
      std::fprintf(stderr, "gentrmx-batch: Liste %s, Zeile %d: Terminal \"%s\" %s\n",
                   Shown(listName == "-" ? "(Standardeingabe)" : listName).c_str(), job.Line,
                   Shown(job.Terminal).c_str(), problem.c_str());
    else
      std::fprintf(stderr, "gentrmx-batch: Terminal \"%s\" %s\n", Shown(job.Terminal).c_str(), problem.c_str());
    status = 2;
  }
  return status;
}

// Terminal by function; a terminal from the table whose name cannot stand
// in the pattern gives refused jobs, a named one a wrong call. false after
// a message on standard error.
bool BuildJobs(const std::vector<std::string>& terminals, const std::vector<std::string>& functions,
               const std::string& pattern, bool fromTable, std::vector<BatchJob>* jobs) {
  const bool named = pattern.find("{terminal}") != std::string::npos;
  std::map<std::string, const BatchJob*> byPath;
  bool good = true;
  for (const std::string& terminal : terminals) {
    std::string problem = named ? FileNameProblem(terminal) : "";
    if (problem.empty() && terminal.size() > TerminalNameLimit)
      problem = "laenger als " + std::to_string(TerminalNameLimit) + " Zeichen";
    for (const std::string& function : functions) {
      BatchJob job;
      job.Function = function;
      job.Terminal = terminal;
      job.Path = ExpandPattern(pattern, terminal, function);
      if (problem.empty() && job.Path.size() > PathLimit)
        problem = "Pfad " + job.Path + " laenger als " + std::to_string(PathLimit) + " Zeichen";
      if (!problem.empty()) {
        job.Refused = "Terminalname \"" + terminal + "\" taugt nicht fuer den Pfad: " + problem;
        if (!fromTable) {
          std::fprintf(stderr, "gentrmx-batch: %s\n", Shown(job.Refused).c_str());
          good = false;
          break;
        }
      }
      jobs->push_back(job);
    }
  }
  // Two jobs on one file from a pattern: a pattern that lacks a placeholder.
  for (const BatchJob& job : *jobs) {
    if (!job.Refused.empty()) continue;
    auto found = byPath.emplace(job.Path, &job);
    if (!found.second) {
      std::fprintf(stderr, "gentrmx-batch: --out %s ergibt fuer %s %s und %s %s dieselbe Datei %s\n",
                   Shown(pattern).c_str(), found.first->second->Function.c_str(),
                   Shown(found.first->second->Terminal).c_str(), job.Function.c_str(), Shown(job.Terminal).c_str(),
                   Shown(job.Path).c_str());
      return false;
    }
  }
  return good;
}

// ---- the summary ----------------------------------------------------------------
std::string Figure(int value) { return value < 0 ? "-" : std::to_string(value); }

std::string Seconds(const JobResult& result) {
  if (!result.Ran()) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", result.Seconds);
  return text;
}

std::string JobOutcome(const JobResult& result) {
  switch (result.Phase) {
    case JobResult::State::Refused: return "abgelehnt";
    case JobResult::State::NotStarted: return "nicht gestartet";
    default: break;
  }
  if (result.Signal != 0) return "abgebrochen";
  return result.Succeeded() ? "ok" : "fehlgeschlagen";
}

std::string CheckText(const JobResult& result) {
  switch (result.Check) {
    case Verdict::Unchanged: return "unveraendert";
    case Verdict::Changed:
      if (result.Added < 0) return "geaendert";
      return "geaendert: " + std::to_string(result.Added) + " neu, " + std::to_string(result.Removed) + " entfernt, " +
             std::to_string(result.Differing) + " geaendert";
    case Verdict::Missing: return "fehlt";
    case Verdict::Unreadable: return "nicht lesbar";
    case Verdict::Failed: return "fehlgeschlagen";
    case Verdict::InChain: return "(siehe letzten Auftrag auf die Datei)";
    case Verdict::None: break;
  }
  return result.Ran() ? "" : "nicht geprueft";
}

std::string CheckWord(Verdict verdict) {
  switch (verdict) {
    case Verdict::Unchanged: return "unveraendert";
    case Verdict::Changed: return "geaendert";
    case Verdict::Missing: return "fehlt";
    case Verdict::Unreadable: return "nicht lesbar";
    case Verdict::Failed: return "fehlgeschlagen";
    case Verdict::InChain: return "siehe letzten Auftrag";
    case Verdict::None: break;
  }
  return "";
}

// One row per job, columns apart by two blanks; widths in characters
// (Latin-1 bytes count one each, as Shown turns them into one character).
void PrintTable(const std::vector<BatchJob>& jobs, const std::vector<JobResult>& results, bool verify) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> head = {"Funktion", "Terminal", "Status", "Ausweise", "in Datei", "Sekunden"};
  if (verify) head.push_back("Pruefung");
  head.push_back("Datei");
  rows.push_back(head);
  for (size_t j = 0; j < jobs.size(); ++j) {
    const JobResult& r = results[j];
    std::vector<std::string> row = {jobs[j].Function, jobs[j].Terminal,
                                    r.Ran() ? StatusText(r) : JobOutcome(r), Figure(r.BadgesRead),
                                    Figure(r.BadgesWritten), Seconds(r)};
    if (verify) row.push_back(CheckText(r));
    row.push_back(jobs[j].Path);
    rows.push_back(row);
  }
  std::vector<size_t> widths(head.size(), 0);
  auto characters = [](const std::string& text) {
    const std::string shown = Shown(text);
    size_t n = 0;
    for (unsigned char c : shown) n += (c & 0xC0) != 0x80;
    return n;
  };
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], characters(row[c]));
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += Shown(row[c]);
      if (c + 1 < row.size()) line += std::string(widths[c] - characters(row[c]) + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

bool WriteCsv(std::FILE* file, const std::vector<BatchJob>& jobs, const std::vector<JobResult>& results) {
  std::string text =
      "Funktion,Terminal,Datei,Modus,Ergebnis,Exitstatus,Ausweise,InDatei,Sekunden,Pruefung,Neu,Entfernt,Geaendert,"
      "Hinweis\r\n";
  for (size_t j = 0; j < jobs.size(); ++j) {
    const JobResult& r = results[j];
    const std::vector<std::string> fields = {
        jobs[j].Function, Shown(jobs[j].Terminal), Shown(jobs[j].Path), std::string(1, jobs[j].Mode), JobOutcome(r),
        r.Ran() ? StatusText(r) : "", r.BadgesRead < 0 ? "" : std::to_string(r.BadgesRead),
        r.BadgesWritten < 0 ? "" : std::to_string(r.BadgesWritten), r.Ran() ? Seconds(r) : "", CheckWord(r.Check),
        r.Added < 0 ? "" : std::to_string(r.Added), r.Removed < 0 ? "" : std::to_string(r.Removed),
        r.Differing < 0 ? "" : std::to_string(r.Differing), Shown(r.Note)};
    for (size_t f = 0; f < fields.size(); ++f) text += (f ? "," : "") + CsvField(fields[f]);
    text += "\r\n";
  }
  return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "Signal";
  }
}

// Takes "--name value" and "--name=value".
bool TakeValue(int argc, char** argv, int* i, const char* name, std::string* value, bool* given) {
  const size_t length = std::strlen(name);
  if (std::strncmp(argv[*i], name, length) != 0) return false;
  if (argv[*i][length] == '=') {
    *value = argv[*i] + length + 1;
  } else if (argv[*i][length] == '\0' && *i + 1 < argc) {
    *value = argv[++*i];
  } else if (argv[*i][length] == '\0') {
    *value = "";
    *given = false;
    return true;  // reported as missing
  } else {
    return false;
  }
  *given = true;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string jobsText;
  bool hasJobs = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf("%s\n%s", Usage, Help);
      return 0;
    }
    if (arg == "--version") {
      std::printf("gentrmx-batch %s\n", GENTRMX_VERSION);
      return 0;
    }
    if (arg == "--verify") {
      options.Verify = true;
      continue;
    }
    if (arg == "--verbose") {
      options.Verbose = true;
      continue;
    }
    struct {
      const char* Name;
      std::string* Value;
      bool* Given;
    } const valued[] = {{"--list", &options.List, &options.HasList},
                        {"--terminals", &options.Terminals, &options.HasTerminals},
                        {"--functions", &options.Functions, &options.HasFunctions},
                        {"--out", &options.Out, &options.HasOut},
                        {"--csv", &options.Csv, &options.HasCsv},
                        {"--jobs", &jobsText, &hasJobs}};
    bool taken = false;
    for (const auto& v : valued) {
      if (!TakeValue(argc, argv, &i, v.Name, v.Value, v.Given)) continue;
      if (!*v.Given) return WrongCall(std::string(v.Name) + " ohne Wert");
      taken = true;
      break;
    }
    if (!taken) return WrongCall("unbekanntes Argument " + arg);
  }
  if (hasJobs) {
    char* end = nullptr;
    const long n = std::strtol(jobsText.c_str(), &end, 10);
    if (jobsText.empty() || *end != '\0' || n < 1 || n > MaxJobs)
      return WrongCall("--jobs " + jobsText + ": eine Zahl von 1 bis " + std::to_string(MaxJobs));
    options.Jobs = static_cast<int>(n);
  }
  if (options.HasList == options.HasTerminals)
    return WrongCall("entweder --list oder --terminals angeben");
  if (options.HasList && (options.HasFunctions || options.HasOut))
    return WrongCall("--functions und --out gehoeren zu --terminals, nicht zu --list");
  if (options.HasTerminals && (!options.HasFunctions || !options.HasOut))
    return WrongCall("--terminals braucht --functions und --out");
  if (options.HasCsv && options.Csv.empty()) return WrongCall("--csv ohne Datei");

  std::vector<std::string> functions, terminals;
  const bool allTerminals = options.HasTerminals && options.Terminals == "all";
  if (options.HasTerminals) {
    for (const std::string& f : SplitCommaList(options.Functions)) {
      const std::string known = KnownFunction(f);
      if (known.empty()) return WrongCall("unbekannte Funktion " + f + " (bekannt: " + FunctionNames() + ")");
      if (std::find(functions.begin(), functions.end(), known) == functions.end()) functions.push_back(known);
    }
    if (functions.empty()) return WrongCall("--functions ohne Funktion");
    if (!allTerminals) terminals = SplitCommaList(options.Terminals);
    if (!allTerminals && terminals.empty()) return WrongCall("--terminals ohne Terminal");
    if (options.Out.empty()) return WrongCall("--out ohne Muster");
  }

  const std::string folder = OwnFolder(argv[0]);
  BatchSettings settings;
  settings.Gentrmx = folder + "/gentrmx";
  settings.GentrmxDiff = folder + "/gentrmx-diff";
  for (const std::string& program : {settings.Gentrmx, settings.GentrmxDiff}) {
    if (program == settings.GentrmxDiff && !options.Verify) continue;
    if (access(program.c_str(), X_OK) != 0) {
      std::fprintf(stderr, "gentrmx-batch: %s nicht ausfuehrbar: %s\n", program.c_str(), std::strerror(errno));
      return 1;
    }
  }

  std::vector<BatchJob> jobs;
  if (options.HasList && !ReadList(options.List, &jobs)) return 2;

  // The terminals, as gentrmx will look them up.
  // The connection is held, idle, until the batch ends.
  Session db;
  if (!Connect(db)) return 1;
  if (allTerminals) {
    if (!ReadTerminals(db, &terminals)) {
      QueryFailed(db);
      return 1;
    }
    if (terminals.empty()) {
      std::printf("Die Terminaltabelle enthaelt kein Terminal (ausser gesperrten und geloeschten), kein Auftrag.\n");
      return 1;
    }
  } else {
    std::vector<BatchJob> named = jobs;
    for (const std::string& t : terminals) {
      BatchJob job;
      job.Terminal = t;
      named.push_back(job);
    }
    const int checked = CheckListTerminals(db, named, options.List);
    if (checked == 1) QueryFailed(db);
    if (checked != 0) return checked;
  }
  KeepDescriptorsFromJobs();
  if (options.HasTerminals && !BuildJobs(terminals, functions, options.Out, allTerminals, &jobs)) return 2;

  // The folders a pattern leads to are made (a list names exact calls).
  if (options.HasTerminals && !options.Verify) {
    for (const BatchJob& job : jobs) {
      const fs::path parent = fs::path(job.Path).parent_path();
      std::error_code error;
      if (!job.Refused.empty() || parent.empty() || fs::is_directory(parent, error)) continue;
      fs::create_directories(parent, error);
      if (error) {
        std::fprintf(stderr, "gentrmx-batch: Ordner %s nicht anlegbar: %s\n", Shown(parent.string()).c_str(),
                     error.message().c_str());
        return 2;
      }
    }
  }

  std::FILE* csv = nullptr;
  if (options.HasCsv) {
    csv = std::fopen(options.Csv.c_str(), "wb");
    if (csv == nullptr) {
      std::fprintf(stderr, "gentrmx-batch: CSV-Datei %s nicht schreibbar: %s\n", options.Csv.c_str(),
                   std::strerror(errno));
      return 2;
    }
  }

  settings.Jobs = std::min<int>(options.Jobs, static_cast<int>(jobs.size()));
  settings.Verify = options.Verify;
  settings.Verbose = options.Verbose;
  settings.Progress = isatty(STDOUT_FILENO) == 1;
  if (options.Verify) {
    // Short enough for gentrmx's path field.
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' && std::strlen(tmp) < 120 ? tmp : "/tmp") +
                          "/gentrmx-batch.XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
      std::printf("Temporaerer Ordner %s nicht anlegbar: %s\n", pattern.c_str(), std::strerror(errno));
      return 1;
    }
    settings.TempFolder = pattern;
  }

  size_t refused = 0;
  for (const BatchJob& job : jobs)
    if (!job.Refused.empty()) {
      ++refused;
      std::printf("Abgelehnt: %s %s: %s\n", job.Function.c_str(), Shown(job.Terminal).c_str(),
                  Shown(job.Refused).c_str());
    }
  std::printf("%zu Auftraege%s, bis zu %d gleichzeitig%s\n", jobs.size(),
              refused ? (", " + std::to_string(refused) + " abgelehnt").c_str() : "", settings.Jobs,
              options.Verify ? ", nur pruefen (--verify): keine Datei wird ersetzt" : "");
  std::fflush(stdout);

  const auto begin = std::chrono::steady_clock::now();
  std::vector<JobResult> results;
  const int stopSignal = RunBatch(jobs, settings, &results);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  if (options.Verify) {
    std::error_code ignored;
    fs::remove_all(settings.TempFolder, ignored);
  }

  size_t succeeded = 0, failed = 0, notRun = 0;
  std::map<Verdict, size_t> verdicts;
  for (const JobResult& r : results) {
    if (r.Succeeded()) ++succeeded;
    else if (r.Ran()) ++failed;
    else ++notRun;
    ++verdicts[r.Check];
  }
  std::printf("\nZusammenfassung:\n");
  PrintTable(jobs, results, options.Verify);
  std::printf("\n%zu Auftraege: %zu erfolgreich, %zu fehlgeschlagen, %zu nicht gelaufen; %.1f s\n", jobs.size(),
              succeeded, failed, notRun, seconds);
  if (options.Verify)
    std::printf("Pruefung: %zu unveraendert, %zu geaendert, %zu fehlen, %zu nicht lesbar, %zu fehlgeschlagen\n",
                verdicts[Verdict::Unchanged], verdicts[Verdict::Changed], verdicts[Verdict::Missing],
                verdicts[Verdict::Unreadable], verdicts[Verdict::Failed]);
  // The failed and refused jobs by name; those not started after a stop
  // only counted (the table names them).
  size_t stopped = 0;
  bool headed = false;
  for (size_t j = 0; j < jobs.size(); ++j) {
    const JobResult& r = results[j];
    if (r.Succeeded()) continue;
    if (r.Phase == JobResult::State::NotStarted && stopSignal != 0) {
      ++stopped;
      continue;
    }
    if (!headed) std::printf("Fehlgeschlagen oder nicht gelaufen:\n");
    headed = true;
    std::string why = r.Ran() ? ExitText(r) : JobOutcome(r);
    if (!r.Note.empty()) why += ": " + r.Note;
    std::printf("  %s %s -> %s (%s)\n", jobs[j].Function.c_str(), Shown(jobs[j].Terminal).c_str(),
                Shown(jobs[j].Path).c_str(), Shown(why).c_str());
  }
  if (stopSignal != 0)
    std::printf("Abgebrochen durch %s, %zu Auftraege nicht gestartet.\n", SignalName(stopSignal), stopped);
  std::fflush(stdout);

  bool good = succeeded == jobs.size() && stopSignal == 0;
  if (options.Verify) good = good && verdicts[Verdict::Unchanged] + verdicts[Verdict::InChain] == jobs.size();
  if (csv != nullptr) {
    const bool written = WriteCsv(csv, jobs, results);
    if (std::fclose(csv) != 0 || !written) {
      std::printf("CSV-Datei %s konnte nicht geschrieben werden!\n", options.Csv.c_str());
      good = false;
    }
  }
  return good ? 0 : 1;
}
