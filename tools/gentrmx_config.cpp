// gentrmx-config: writes encrypted values into the configuration file, lists
// them and checks whether gentrmx would run with them.
//
//   gentrmx-config set <file> <KEY> <value>   ("-": asked for on a terminal,
//                                              else the first line of stdin)
//   gentrmx-config list <file>
//   gentrmx-config check [<file>] [--terminal <name>]
//   gentrmx-config --help | --version
//
// Messages go to standard error; the listing, the check's report and the
// help to standard output. Exit status 0 on success, 1 on any failure
// (check: when a step fails), 2 for a wrong command line.
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <sqlext.h>

#include "config/config_file.h"
#include "config/config_writer.h"
#include "config/settings.h"
#include "config_check.h"
#include "db/records.h"

namespace {

void PrintUsage(FILE* out) {
  std::fputs(
      "Aufruf: gentrmx-config set <Datei> <SCHLUESSEL> <Wert>\n"
      "        gentrmx-config list <Datei>\n"
      "        gentrmx-config check [<Datei>] [--terminal <Name>]\n"
      "        gentrmx-config --help | --version\n"
      "\n"
      "  set   verschluesselt <Wert> und speichert ihn unter <SCHLUESSEL>; ein\n"
      "        vorhandener Eintrag wird ersetzt, sonst ein neuer angehaengt. Die\n"
      "        Datei wird angelegt (nur fuer ihren Besitzer lesbar, Modus 0600), wenn\n"
      "        sie fehlt; das Verzeichnis muss bestehen. Mit \"-\" als Wert wird der\n"
      "        Wert am Terminal abgefragt (PASS verdeckt und zweimal), sonst die erste\n"
      "        Zeile der Standardeingabe gelesen. Passwoerter nie auf der Befehlszeile\n"
      "        angeben: sie stuenden in der Shell-Historie und in der Prozessliste.\n"
      "  list  zeigt alle Eintraege als SCHLUESSEL=Wert (PASS als ***).\n"
      "  check liest die Einstellungen wie gentrmx (ohne <Datei>: ../../files/quillnest.ini\n"
      "        vom Arbeitsverzeichnis aus) und prueft Schritt fuer Schritt Datenquelle,\n"
      "        Treiber, Verbindung, Datum der Datenbank und Tabellen; mit --terminal\n"
      "        auch das Terminal und seine Ausweisabfrage. Liest nur. Ende mit 0, wenn\n"
      "        gentrmx laufen kann, 1 bei einem Fehler, 2 bei falschem Aufruf.\n"
      "\n"
      "Schluessel des Programms: LOGIN, PASS, DATABASE (je hoechstens 50 Zeichen,\n"
      "DATABASE hoechstens 32), DB_SYSTEM (40) und SCHEMA (21). Vom SCHEMA-Wert wird\n"
      "beim Lesen das letzte Zeichen abgeschnitten.\n",
      out);
}

bool FolderExists(const char* path) {
  std::string folder = path;
  const size_t slash = folder.find_last_of('/');
  if (slash == std::string::npos) return true;  // the working directory
  folder.erase(slash == 0 ? 1 : slash);
  struct stat info;
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int UsageError(const char* command) {
  std::fprintf(stderr, "Fehler: falsche Parameter fuer \"%s\"\n\n", command);
  PrintUsage(stderr);
  return 2;
}

static_assert(DataSourceNameLimit == SQL_MAX_DSN_LENGTH, "the driver manager's data source name limit");

// Refuses what gentrmx could not read back whole: a value longer than the
// field it reads the key into, a data source name longer than the driver
// manager takes, a line break. Prints every reason.
bool ValueFitsKey(const char* key, const std::string& value) {
  bool fits = true;
  if (value.find_first_of("\r\n") != std::string::npos) {
    std::fprintf(stderr,
                 "Fehler: Der Wert darf keinen Zeilenumbruch enthalten (die Datei liesse sich nicht mehr "
                 "lesen)\n");
    fits = false;
  }
  const int limit = StoredValueLimit(key);
  if (limit >= 0 && value.size() > static_cast<size_t>(limit)) {
    if (std::strcmp(key, "SCHEMA") == 0) {
      std::fprintf(stderr,
                   "Fehler: SCHEMA darf hoechstens %d Zeichen haben: gentrmx liest den Schemanamen mit "
                   "hoechstens %d Zeichen, nachdem es das letzte gespeicherte Zeichen abgeschnitten hat "
                   "(der Wert hat %d)\n",
                   limit, limit - 1, static_cast<int>(value.size()));
    } else {
      std::fprintf(stderr, "Fehler: %s darf hoechstens %d Zeichen haben, mehr liest gentrmx nicht (der Wert hat %d)\n",
                   key, limit, static_cast<int>(value.size()));
    }
    fits = false;
  }
  if (std::strcmp(key, "DATABASE") == 0 && value.size() > static_cast<size_t>(DataSourceNameLimit)) {
    std::fprintf(stderr,
                 "Fehler: DATABASE darf hoechstens %d Zeichen haben: laengster Datenquellenname des "
                 "ODBC-Treiber-Managers (der Wert hat %d)\n",
                 DataSourceNameLimit, static_cast<int>(value.size()));
    fits = false;
  }
  return fits;
}

// The first line of standard input without its line end.
bool ReadValueFromInput(std::string* value) {
  int c;
  while ((c = std::getchar()) != EOF && c != '\n') value->push_back(static_cast<char>(c));
  if (!value->empty() && value->back() == '\r') value->pop_back();
  return !std::ferror(stdin);
}

// The terminal's settings while echo is off, to be put back also when the
// user breaks off with Ctrl-C.
struct termios SavedTerminal;
volatile sig_atomic_t EchoOff = 0;

void RestoreEchoAndStop(int signal) {
  if (EchoOff) tcsetattr(STDIN_FILENO, TCSAFLUSH, &SavedTerminal);
  static const char lineEnd[] = "\n";
  if (write(STDERR_FILENO, lineEnd, 1) < 0) {
    // Nothing more to do on the way out.
  }
  std::signal(signal, SIG_DFL);
  raise(signal);
}

// One answer from the terminal after prompt (on standard error); with
// hidden, the typed characters are not echoed.
bool AskTerminal(const char* prompt, bool hidden, std::string* value) {
  std::fputs(prompt, stderr);
  std::fflush(stderr);
  if (hidden) {
    if (tcgetattr(STDIN_FILENO, &SavedTerminal) != 0) return false;
    std::signal(SIGINT, RestoreEchoAndStop);
    std::signal(SIGTERM, RestoreEchoAndStop);
    std::signal(SIGHUP, RestoreEchoAndStop);
    struct termios quiet = SavedTerminal;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK));
    quiet.c_lflag |= ECHONL;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) return false;
    EchoOff = 1;
  }
  const bool read = ReadValueFromInput(value);
  if (hidden) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &SavedTerminal);
    EchoOff = 0;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
  }
  return read && !std::feof(stdin);
}

// The value for "-": asked for when standard input is a terminal (a PASS
// value without echo and twice), else the first line of standard input.
bool ReadValue(const char* key, std::string* value) {
  if (!isatty(STDIN_FILENO)) {
    if (ReadValueFromInput(value)) return true;
    std::fprintf(stderr, "Fehler: Wert konnte nicht von der Standardeingabe gelesen werden\n");
    return false;
  }
  const bool secret = std::strcmp(key, "PASS") == 0;
  const std::string prompt = secret ? "Passwort (PASS): " : std::string("Wert fuer ") + key + ": ";
  if (!AskTerminal(prompt.c_str(), secret, value)) {
    std::fprintf(stderr, "\nFehler: keine Eingabe, nichts gespeichert\n");
    return false;
  }
  if (!secret) return true;
  std::string again;
  if (!AskTerminal("Passwort wiederholen: ", true, &again)) {
    std::fprintf(stderr, "\nFehler: keine Eingabe, nichts gespeichert\n");
    return false;
  }
  const bool same = again == *value;
  std::fill(again.begin(), again.end(), '\0');
  if (!same) {
    std::fprintf(stderr, "Fehler: Die beiden Eingaben stimmen nicht ueberein, nichts gespeichert\n");
    return false;
  }
  return true;
}

int RunSet(const char* path, const char* key, const char* valueArgument) {
  std::string value = valueArgument;
  if (value == "-") {
    value.clear();
    if (!ReadValue(key, &value)) return 1;
  }
  if (value.find('\0') != std::string::npos) {
    std::fprintf(stderr, "Fehler: Der Wert darf kein Nullbyte enthalten\n");
    return 1;
  }
  if (!ValueFitsKey(key, value)) return 1;
  if (!FolderExists(path)) {
    std::fprintf(stderr, "Fehler: Das Verzeichnis der Datei %s existiert nicht\n", path);
    return 1;
  }
  std::string error;
  if (SetConfigValue(path, key, value.c_str(), &error) != 0) {
    std::fprintf(stderr, "Fehler: %s\n", error.c_str());
    return 1;
  }
  // Read back the way the download tool does, with empty group and id 0:
  // an earlier record can still be the one it takes.
  ConfigRecord record;
  ReadConfigValue("", key, 0, path, &record);
  const bool same = value == record.Value && std::strcmp(record.Key, key) == 0;
  std::fill(value.begin(), value.end(), '\0');
  ClearSecret(record.Value, sizeof record.Value);
  if (!same) {
    std::fprintf(stderr,
                 "Warnung: %s wurde gespeichert, beim Lesen liefert die Datei aber einen "
                 "anderen Eintrag (Schluessel \"%s\", Id %d); bitte die Datei pruefen\n",
                 key, record.Key, static_cast<int>(record.Id));
    return 1;
  }
  std::fprintf(stderr, "%s gespeichert in %s\n", key, path);
  if (StoredValueLimit(key) < 0)
    std::fprintf(stderr,
                 "Warnung: gentrmx liest den Schluessel %s nicht (es liest LOGIN, PASS, DATABASE, DB_SYSTEM "
                 "und SCHEMA); der Eintrag wurde trotzdem gespeichert, da die Datei auch Schluessel anderer "
                 "Programme enthalten kann\n",
                 key);
  return 0;
}

// Check usage: [<file>] [--terminal <name>], in any order.
int RunCheck(int argc, char** argv) {
  const char* path = nullptr;
  const char* terminal = nullptr;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--terminal") == 0) {
      if (terminal != nullptr || i + 1 >= argc) return UsageError("check");
      terminal = argv[++i];
      if (std::strlen(terminal) >= sizeof TerminalRecord::TrmNam) {
        std::fprintf(stderr, "Fehler: Terminal-Name laenger als %d Zeichen\n",
                     static_cast<int>(sizeof TerminalRecord::TrmNam - 1));
        return 2;
      }
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return UsageError("check");
    } else {
      if (path != nullptr) return UsageError("check");
      path = argv[i];
    }
  }
  return RunConfigCheck(path != nullptr ? path : ConfigFilePath, terminal);
}

int RunList(const char* path) {
  std::string error;
  if (ListConfigValues(path, stdout, &error) < 0) {
    std::fprintf(stderr, "Fehler: %s\n", error.c_str());
    return 1;
  }
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "Fehler: Ausgabe konnte nicht geschrieben werden\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("gentrmx-config %s\n", GENTRMX_VERSION);
    return 0;
  }
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    PrintUsage(stdout);
    return 0;
  }
  if (argc == 5 && std::strcmp(argv[1], "set") == 0) return RunSet(argv[2], argv[3], argv[4]);
  if (argc == 3 && std::strcmp(argv[1], "list") == 0) return RunList(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "check") == 0) return RunCheck(argc, argv);
  if (argc >= 2 && (std::strcmp(argv[1], "set") == 0 || std::strcmp(argv[1], "list") == 0)) {
    std::fprintf(stderr, "Fehler: falsche Anzahl Parameter fuer \"%s\"\n\n", argv[1]);
  } else if (argc >= 2) {
    std::fprintf(stderr, "Fehler: unbekannter Befehl \"%s\"\n\n", argv[1]);
  }
  PrintUsage(stderr);
  return 2;
}
