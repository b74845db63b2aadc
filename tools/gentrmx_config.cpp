// gentrmx-config: writes encrypted values into the configuration file and
// lists them.
//
//   gentrmx-config set <file> <KEY> <value>   ("-" reads the value from stdin)
//   gentrmx-config list <file>
//
// Messages go to standard error; the listing to standard output. Exit
// status 0 on success, 1 on any failure.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "config/config_file.h"
#include "config/config_writer.h"

namespace {

void PrintUsage() {
  std::fputs(
      "Aufruf: gentrmx-config set <Datei> <SCHLUESSEL> <Wert>\n"
      "        gentrmx-config list <Datei>\n"
      "\n"
      "  set   verschluesselt <Wert> und speichert ihn unter <SCHLUESSEL>; ein\n"
      "        vorhandener Eintrag wird ersetzt, sonst ein neuer angehaengt. Die\n"
      "        Datei wird angelegt, wenn sie fehlt (das Verzeichnis muss bestehen).\n"
      "        Mit \"-\" als Wert wird die erste Zeile der Standardeingabe gelesen.\n"
      "  list  zeigt alle Eintraege als SCHLUESSEL=Wert (PASS als ***).\n"
      "\n"
      "Schluessel des Programms: LOGIN, PASS, DATABASE, DB_SYSTEM, SCHEMA.\n"
      "Vom SCHEMA-Wert wird beim Lesen das letzte Zeichen abgeschnitten.\n",
      stderr);
}

bool FolderExists(const char* path) {
  std::string folder = path;
  const size_t slash = folder.find_last_of('/');
  if (slash == std::string::npos) return true;  // the working directory
  folder.erase(slash == 0 ? 1 : slash);
  struct stat info;
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The first line of standard input without its line end.
bool ReadValueFromInput(std::string* value) {
  int c;
  while ((c = std::getchar()) != EOF && c != '\n') value->push_back(static_cast<char>(c));
  if (!value->empty() && value->back() == '\r') value->pop_back();
  return !std::ferror(stdin);
}

int RunSet(const char* path, const char* key, const char* valueArgument) {
  std::string value = valueArgument;
  if (value == "-") {
    value.clear();
    if (!ReadValueFromInput(&value)) {
      std::fprintf(stderr, "Fehler: Wert konnte nicht von der Standardeingabe gelesen werden\n");
      return 1;
    }
  }
  if (value.find('\0') != std::string::npos) {
    std::fprintf(stderr, "Fehler: Der Wert darf kein Nullbyte enthalten\n");
    return 1;
  }
  if (!FolderExists(path)) {
    std::fprintf(stderr, "Fehler: Das Verzeichnis der Datei %s existiert nicht\n", path);
    return 1;
  }
  if (SetConfigValue(path, key, value.c_str()) != 0) {
    std::fprintf(stderr, "Fehler: %s\n", ConfigWriterError);
    return 1;
  }
  // Read back the way the download tool does, with empty group and id 0:
  // an earlier record can still be the one it takes.
  ReadConfigValue("", key, 0, path);
  if (value != LastConfigRecord.Value || std::strcmp(LastConfigRecord.Key, key) != 0) {
    std::fprintf(stderr,
                 "Warnung: %s wurde gespeichert, beim Lesen liefert die Datei aber einen "
                 "anderen Eintrag (Schluessel \"%s\", Id %d); bitte die Datei pruefen\n",
                 key, LastConfigRecord.Key, static_cast<int>(LastConfigRecord.Id));
    return 1;
  }
  std::fprintf(stderr, "%s gespeichert in %s\n", key, path);
  return 0;
}

int RunList(const char* path) {
  if (ListConfigValues(path, stdout) < 0) {
    std::fprintf(stderr, "Fehler: %s\n", ConfigWriterError);
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
  if (argc == 5 && std::strcmp(argv[1], "set") == 0) return RunSet(argv[2], argv[3], argv[4]);
  if (argc == 3 && std::strcmp(argv[1], "list") == 0) return RunList(argv[2]);
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    PrintUsage();
    return 0;
  }
  if (argc >= 2 && (std::strcmp(argv[1], "set") == 0 || std::strcmp(argv[1], "list") == 0)) {
    std::fprintf(stderr, "Fehler: falsche Anzahl Parameter fuer \"%s\"\n\n", argv[1]);
  } else if (argc >= 2) {
    std::fprintf(stderr, "Fehler: unbekannter Befehl \"%s\"\n\n", argv[1]);
  }
  PrintUsage();
  return 1;
}
