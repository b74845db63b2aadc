// The run driver: checks the command line, reads the login from the
// configuration file, connects, opens the download file, looks up the
// terminal and runs the one writer that the function name selects.
#include "driver/run.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/config_file.h"
#include "config/settings.h"
#include "db/records.h"
#include "db/session.h"
#include "db/terminal.h"
#include "common/download_file.h"
#include "common/text.h"
#include "writers/writers.h"

namespace {

constexpr size_t FunctionNameSize = 20;
constexpr size_t PathSize = 200;

void PrintUsage(int given) {
  std::printf("Anzahl Parameter(mind. 4) unterschritten! AnzParam: %d", given);
  std::printf("Aufruf: GENTRMX [Param1] [Param2] [Param3] [Param4] /d \n");
  std::printf("Param1: DNL-Funktion\n");
  std::printf("Param2: Terminal-Name\n");
  std::printf("Param3: Pfad der DNL-Datei\n");
  std::printf("Param4: 1: neu 0: dran h\xE4ngen\n");
}

// An argument longer than its field is refused before anything is opened.
bool ArgumentFits(int number, const char* argument, size_t fieldSize) {
  if (std::strlen(argument) < fieldSize) return true;
  std::printf("Parameter %d zu lang: hoechstens %d Zeichen erlaubt!\n", number, static_cast<int>(fieldSize - 1));
  return false;
}

// A download function name, as the writer table holds it, or none: the
// message names the five that there are.
const WriterEntry* KnownFunction(const char* given) {
  char name[FunctionNameSize];
  std::memcpy(name, given, std::strlen(given) + 1);
  UpperCase(name);
  const WriterEntry* writer = WriterByFunction(name);
  if (writer != nullptr) return writer;
  std::printf("Unbekannte DNL-Funktion %s! Gueltig sind:", given);
  for (const WriterEntry& entry : WriterTable) std::printf(" %s", entry.Name);
  std::printf("\n");
  return nullptr;
}

// A timeout in seconds from the environment, or its default when the
// variable is not set. false, with a message, for anything but digits.
bool ReadTimeout(const char* variable, unsigned long* seconds) {
  const char* text = std::getenv(variable);
  if (text == nullptr || text[0] == '\0') return true;
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (text[0] < '0' || text[0] > '9' || *end != '\0' || errno != 0 || value > 86400UL * 365) {
    std::printf("Ungueltiger Wert fuer %s: %s (Sekunden erwartet, 0 wartet unbegrenzt)!\n", variable, text);
    return false;
  }
  *seconds = value;
  return true;
}

// Ends a run that failed after the download file was opened: the file as it
// was, the function's abort message, status -1.
int AbortRun(const char* function) {
  AbandonDownloadFile();
  std::printf("Programmabbruch: Fehler bei Erstellung der Datei %s!\n", function);
  return -1;
}

}  // namespace

int RunGentrmx(int argc, char** argv) {
  EndRunOnSignals();
  if (argc < 5) {
    PrintUsage(argc - 1);
    return -1;
  }
  if (!ArgumentFits(1, argv[1], FunctionNameSize) || !ArgumentFits(2, argv[2], sizeof TerminalRecord::TrmNam) ||
      !ArgumentFits(3, argv[3], PathSize))
    return -1;
  // A mistyped function must not touch the file, nor connect.
  if (KnownFunction(argv[1]) == nullptr) return -1;
  // The trace switch: with a fifth argument "/d" the writers and the
  // queries print their skip and lookup-failure messages, a failed
  // statement all its records and a failed connect its diagnostics.
  RunTrace trace(argc == 6 && std::strcmp(argv[5], "/d") == 0);
  Session db(trace);
  if (!ReadTimeout("GENTRMX_LOGIN_TIMEOUT", &db.Timeouts.Login) ||
      !ReadTimeout("GENTRMX_QUERY_TIMEOUT", &db.Timeouts.Query))
    return -1;

  TerminalRecord terminal;
  StartTerminalRecord(&terminal, argv[2]);
  char functionName[FunctionNameSize];
  std::memcpy(functionName, argv[1], std::strlen(argv[1]) + 1);
  char path[PathSize];
  std::memcpy(path, argv[3], std::strlen(argv[3]) + 1);
  const bool startNew = argv[4][0] == '1';

  LoginSettings settings;
  ReadLoginSettings(&settings);

  if (db.Connect(settings.Login, settings.Pass, settings.Database, settings.Schema) != 0) {
    std::printf("DB-Connect-Error: %d!", -1);
    // The password never reaches the output.
    std::printf("Name:%s Pwd:%s Net:%s Schema:%s\n", settings.Login, settings.Pass[0] != '\0' ? "***" : "",
                settings.Database, settings.Schema);
    // With the trace switch, what the driver manager and driver said; the
    // password is masked wherever a message repeats it.
    if (trace.Debug) {
      db.PrintFailureRecord(settings.Pass);
      // Started from the wrong folder, every setting reads as empty: say
      // where the configuration was looked for.
      std::printf("DB-Diagnose: Konfigurationsdatei %s %s\n", ConfigFilePath,
                  access(ConfigFilePath, R_OK) == 0 ? "gelesen" : "nicht gefunden oder nicht lesbar");
    }
    std::memset(&settings, 0, sizeof settings);
    return -1;
  }
  std::memset(settings.Pass, 0, sizeof settings.Pass);

  UpperCase(functionName);
  std::printf("Mit Datenbank verbunden! Schema: %s\n", settings.Schema);

  if (!OpenDownloadFile(path, startNew)) {
    std::printf("Downloadfile %s konnte nicht geoeffnet werden!\n", path);
    return -1;
  }

  const WriterEntry* writer = WriterByFunction(functionName);
  // Not found: the terminal's model and balance set read as empty. A
  // failed lookup ends the run.
  if (LookUpTerminal(db, &terminal).Failed()) {
    char subject[sizeof terminal.TrmNam + 16];
    std::snprintf(subject, sizeof subject, "Terminal %s", terminal.TrmNam);
    db.PrintStatementFailure(subject);
    return AbortRun(writer->Name);
  }

  if (writer->Writer(db, &terminal) == 0) return AbortRun(writer->Name);

  if (!CloseDownloadFile()) {
    std::printf("Downloadfile %s konnte nicht geschrieben werden!\n", path);
    return -1;
  }
  return 0;
}
