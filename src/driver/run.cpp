// The run driver: checks the command line, reads the login from the
// configuration file, connects, opens the download file, looks up the
// terminal and runs the one writer that the function name selects.
#include "driver/run.h"

#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "db/records.h"
#include "db/session.h"
#include "db/terminal.h"
#include "common/download_file.h"
#include "common/text.h"
#include "common/trace.h"
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

}  // namespace

int RunGentrmx(int argc, char** argv) {
  if (argc < 5) {
    PrintUsage(argc - 1);
    return -1;
  }
  if (!ArgumentFits(1, argv[1], FunctionNameSize) || !ArgumentFits(2, argv[2], sizeof TerminalRecord::TrmNam) ||
      !ArgumentFits(3, argv[3], PathSize))
    return -1;

  static TerminalRecord terminal;
  StartTerminalRecord(&terminal, argv[2]);
  char functionName[FunctionNameSize];
  std::memcpy(functionName, argv[1], std::strlen(argv[1]) + 1);
  char path[PathSize];
  std::memcpy(path, argv[3], std::strlen(argv[3]) + 1);
  const bool startNew = argv[4][0] == '1';

  if (argc == 6 && std::strcmp(argv[5], "/d") == 0) DebugTrace = true;

  LoginSettings settings;
  ReadLoginSettings(&settings);

  if (ConnectDatabase(settings.Login, settings.Pass, settings.Database, settings.Schema) != 0) {
    std::printf("DB-Connect-Error: %d!", -1);
    // The password never reaches the output.
    std::printf("Name:%s Pwd:%s Net:%s Schema:%s\n", settings.Login, settings.Pass[0] != '\0' ? "***" : "",
                settings.Database, settings.Schema);
    // With the trace switch, what the driver manager and driver said; the
    // password is masked wherever a message repeats it.
    if (DebugTrace) PrintFailureRecord(settings.Pass);
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

  LookUpTerminal(&terminal);

  int result = 0;
  // A name that names no download function writes nothing.
  const WriterEntry* writer = WriterByFunction(functionName);
  if (writer != nullptr && writer->Writer(&terminal) == 0) {
    std::printf("Programmabbruch: Fehler bei Erstellung der Datei %s!\n", writer->Name);
    result = -1;
  }

  if (!CloseDownloadFile()) {
    std::printf("Downloadfile %s konnte nicht geschrieben werden!\n", path);
    result = -1;
  }
  return result;
}
