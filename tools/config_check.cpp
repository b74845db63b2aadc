// gentrmx-config check: the settings as gentrmx reads them, then the data
// source, the driver, the connect, the database's date, the tables the
// queries read and, for one terminal, its lookup and its badge query. Every
// statement only reads.
#include "config_check.h"

#include <dlfcn.h>
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text.h"
#include "common/visible_text.h"
#include "config/settings.h"
#include "db/badges.h"
#include "db/records.h"
#include "db/query_catalog.h"
#include "db/session.h"
#include "db/terminal.h"

namespace {

int Failures = 0;

// One report line: a tag of fixed width, then the text.
void Report(const char* tag, const char* format, va_list args) {
  std::fputs(tag, stdout);
  std::vprintf(format, args);
  std::fputc('\n', stdout);
}

void Ok(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Ok(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Report("[OK]      ", format, args);
  va_end(args);
}

void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Report("[FEHLER]  ", format, args);
  va_end(args);
  ++Failures;
}

void Warn(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Warn(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Report("[WARNUNG] ", format, args);
  va_end(args);
}

// A text of the report on one line: control characters as \xNN, every
// other byte as it is.
std::string VisibleText(const std::string& text) { return ::VisibleText(text, VisibleForm::Bytes); }

// An environment variable's value, or that it is not set.
const char* EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "(nicht gesetzt)";
}

// ---------------------------------------------------------------- settings

void ShowSettings(const char* path, const LoginSettings& settings) {
  std::printf("Konfigurationsdatei: %s\n", path);
  std::printf("Einstellungen, wie gentrmx sie liest:\n");
  std::printf("  LOGIN     = %s\n", VisibleText(settings.Login).c_str());
  std::printf("  PASS      = %s\n", settings.Pass[0] != '\0' ? "***" : "");
  std::printf("  DATABASE  = %s\n", VisibleText(settings.Database).c_str());
  std::printf("  DB_SYSTEM = %s\n", VisibleText(settings.DbSystem).c_str());
  std::printf("  SCHEMA    = %s   (gespeicherter Wert ohne sein letztes Zeichen, in Grossbuchstaben)\n",
              VisibleText(settings.Schema).c_str());
  std::printf("\n");
}

bool CheckFile(const char* path) {
  FILE* file = std::fopen(path, "r");
  if (file == nullptr) {
    const int error = errno;
    char folder[4096];
    const char* here = getcwd(folder, sizeof folder) != nullptr ? folder : "?";
    if (error == ENOENT) {
      Fail("Datei %s nicht gefunden (Arbeitsverzeichnis %s)", path, here);
    } else {
      Fail("Datei %s kann nicht gelesen werden: %s (Arbeitsverzeichnis %s)", path, std::strerror(error), here);
    }
    return false;
  }
  struct stat info;
  const bool known = fstat(fileno(file), &info) == 0;
  std::fclose(file);
  Ok("Datei %s gefunden und lesbar", path);
  // The cipher key is part of every gentrmx program: whoever can read the
  // file can read the password.
  if (known && (info.st_mode & 077) != 0)
    Warn("Datei %s ist auch fuer Gruppe oder andere zugaenglich (Modus %04o); wer sie lesen kann, kann das "
         "Datenbank-Passwort entschluesseln: chmod 600 %s",
         path, static_cast<unsigned>(info.st_mode & 07777), path);
  return true;
}

void CheckKeys(const LoginSettings& settings, const SettingSource* sources) {
  for (int i = 0; i < LoginSettingCount; ++i) {
    const char* key = LoginSettingKeys[i];
    const SettingSource& source = sources[i];
    if (!source.Taken) {
      Fail("Schluessel %s fehlt", key);
      continue;
    }
    if (std::strcmp(source.Key, key) != 0) {
      // Taken for its group or its id 0: it answers every lookup.
      Fail("Schluessel %s fehlt; gelesen wird statt dessen der Eintrag \"%s\" mit Id %d", key,
           VisibleText(source.Key).c_str(), static_cast<int>(source.Id));
      continue;
    }
    Ok("Schluessel %s vorhanden", key);
    const int limit = StoredValueLimit(key);
    if (static_cast<int>(source.ValueLength) > limit)
      Warn("Wert von %s hat %d Zeichen; gentrmx liest nur die ersten %d", key,
           static_cast<int>(source.ValueLength), limit);
  }
  if (sources[4].Taken && std::strcmp(settings.Schema, "DRAVONIX") != 0)
    Warn("SCHEMA ergibt \"%s\"; die Abfragen lesen immer das Schema Dravonix (SCHEMA erscheint nur in Meldungen)",
         VisibleText(settings.Schema).c_str());
}

// ---------------------------------------------------------------- data source

// The data source names the driver manager lists, user and system alike.
bool DataSourceKnown(const char* name, std::string* known) {
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return false;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), SQL_IS_INTEGER);
  bool found = false;
  SQLCHAR server[SQL_MAX_DSN_LENGTH + 1];
  SQLCHAR description[512];
  SQLSMALLINT serverLength = 0, descriptionLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDataSources(env, direction, server, sizeof server, &serverLength, description,
                                     sizeof description, &descriptionLength))) {
    direction = SQL_FETCH_NEXT;
    const char* listed = reinterpret_cast<const char*>(server);
    if (strcasecmp(listed, name) == 0) found = true;
    if (!known->empty()) *known += ", ";
    *known += listed;
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return found;
}

std::string ProfileString(const char* section, const char* key, const char* file) {
  char value[1024] = "";
  SQLGetPrivateProfileString(section, key, "", value, sizeof value, file);
  return value;
}

// The library the driver manager loads for a driver name: the driver's
// entry in odbcinst.ini (Driver64 first, as the driver manager asks), or
// the name itself when it is no section there.
std::string DriverLibrary(const std::string& driver) {
  std::string library = ProfileString(driver.c_str(), "Driver64", "ODBCINST.INI");
  if (library.empty()) library = ProfileString(driver.c_str(), "Driver", "ODBCINST.INI");
  return library;
}

bool LooksLikeLibrary(const std::string& name) {
  return name.find('/') != std::string::npos || name.find(".so") != std::string::npos;
}

// The extension libraries the SQLite ODBC driver loads at connect
// (LoadExt, a comma-separated list). The driver only prints to standard
// error when one fails to load and connects all the same; every query then
// fails, so a library that cannot be loaded is named here.
std::string LoadExtension;

bool CheckExtension(const char* dsn) {
  LoadExtension = ProfileString(dsn, "LoadExt", "ODBC.INI");
  if (LoadExtension.empty()) return true;
  bool loadable = true;
  size_t at = 0;
  while (at <= LoadExtension.size()) {
    size_t end = LoadExtension.find(',', at);
    if (end == std::string::npos) end = LoadExtension.size();
    std::string library = LoadExtension.substr(at, end - at);
    at = end + 1;
    if (library.empty()) continue;
    // SQLite tries the name as given, then with ".so".
    void* loaded = dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (loaded == nullptr && library.find(".so") == std::string::npos)
      loaded = dlopen((library + ".so").c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (loaded == nullptr) {
      const char* why = dlerror();
      Fail("SQLite-Erweiterung %s (LoadExt der Datenquelle %s) kann nicht geladen werden: %s", library.c_str(), dsn,
           why != nullptr ? why : "?");
      loadable = false;
      continue;
    }
    dlclose(loaded);
    Ok("SQLite-Erweiterung %s (LoadExt) ist ladbar", library.c_str());
  }
  return loadable;
}

bool CheckDataSource(const char* dsn) {
  if (dsn[0] == '\0') {
    Fail("DATABASE ist leer: keine Datenquelle angegeben");
    return false;
  }
  std::string known;
  if (!DataSourceKnown(dsn, &known)) {
    Fail("Datenquelle %s ist dem Treiber-Manager nicht bekannt (ODBCINI=%s, ODBCSYSINI=%s; bekannt: %s)",
         VisibleText(dsn).c_str(), EnvironmentText("ODBCINI"), EnvironmentText("ODBCSYSINI"),
         known.empty() ? "keine" : known.c_str());
    return false;
  }
  Ok("Datenquelle %s ist dem Treiber-Manager bekannt", dsn);

  const std::string driver = ProfileString(dsn, "Driver", "ODBC.INI");
  if (driver.empty()) {
    Fail("Datenquelle %s nennt keinen Treiber (Eintrag Driver= fehlt)", dsn);
    return false;
  }
  std::string library = DriverLibrary(driver);
  if (library.empty()) {
    if (!LooksLikeLibrary(driver)) {
      Fail("Treiber \"%s\" der Datenquelle %s ist in odbcinst.ini nicht eingetragen (ODBCSYSINI=%s)",
           driver.c_str(), dsn, EnvironmentText("ODBCSYSINI"));
      return false;
    }
    library = driver;
  }
  Ok("Datenquelle %s nennt den Treiber \"%s\" (Bibliothek %s)", dsn, driver.c_str(), library.c_str());

  // A path must exist; a bare file name is searched as the loader does.
  struct stat info;
  if (library.find('/') != std::string::npos && stat(library.c_str(), &info) != 0) {
    Fail("Treiberbibliothek %s existiert nicht", library.c_str());
    return false;
  }
  void* loaded = dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (loaded == nullptr) {
    const char* why = dlerror();
    Fail("Treiberbibliothek %s kann nicht geladen werden: %s", library.c_str(), why != nullptr ? why : "?");
    return false;
  }
  dlclose(loaded);
  Ok("Treiberbibliothek %s ist ladbar", library.c_str());
  return CheckExtension(dsn);
}

// ---------------------------------------------------------------- database

bool CheckConnect(Session& db, const LoginSettings& settings) {
  if (db.Connect(settings.Login, settings.Pass, settings.Database, settings.Schema) != 0) {
    Fail("Verbindung zur Datenquelle %s als Benutzer %s fehlgeschlagen", VisibleText(settings.Database).c_str(),
         VisibleText(settings.Login).c_str());
    db.PrintFailureRecord(settings.Pass);
    return false;
  }
  Ok("Verbindung zur Datenquelle %s als Benutzer %s hergestellt", settings.Database, VisibleText(settings.Login).c_str());
  return true;
}

// The password, so that no driver message shows it.
const char* Secret = "";

void CheckDate(Session& db) {
  char today[16] = "";
  db.FormatSqlText("%s", "select convert(char(8), CURRENT_TIMESTAMP, 112)");
  const ColumnBinding column = {SQL_C_CHAR, today, sizeof today};
  if (!LookupSingleRow(db, &column, 1).IsRow()) {
    Fail("Datum der Datenbank nicht lesbar (convert(char(8), CURRENT_TIMESTAMP, 112))");
    db.PrintFailureRecord(Secret);
    if (!LoadExtension.empty())
      std::printf("Hinweis: convert() und das Schema Dravonix kommen aus der SQLite-Erweiterung %s (LoadExt); "
                  "sie hat sich beim Verbinden nicht einrichten lassen (Meldung des Treibers auf der "
                  "Standardfehlerausgabe), z.B. weil die Datenbankdatei keine SQLite-Datenbank ist oder "
                  "gesperrt ist.\n",
                  LoadExtension.c_str());
    return;
  }
  Ok("Datum der Datenbank (heute): %s", TrimRight(today));
}

// Every table the queries read, in each spelling their texts use.
void CheckTables(Session& db) {
  for (const TableSpellings& table : TablesOfQueries(db)) {
    std::string names;
    bool readable = true;
    for (const std::string& text : table.Spellings) {
      const char* spelling = text.c_str();
      names += names.empty() ? text : ", " + text;
      int32_t count = 0;
      db.FormatSqlText("select count(*) from %s where 1=0", spelling);
      const ColumnBinding column = {SQL_C_LONG, &count, sizeof count};
      if (!LookupSingleRow(db, &column, 1).IsRow()) {
        Fail("Tabelle %s nicht lesbar als %s", table.Table.c_str(), spelling);
        db.PrintFailureRecord(Secret);
        readable = false;
      }
    }
    if (readable) Ok("Tabelle %s lesbar (%s)", table.Table.c_str(), names.c_str());
  }
}

void CheckTerminal(Session& db, const char* name) {
  TerminalRecord terminal;
  StartTerminalRecord(&terminal, name);
  const StatementResult found = LookUpTerminal(db, &terminal);
  if (found.IsNoRow()) {
    Fail("Terminal %s nicht gefunden (keine Zeile in Xel1140Trm ausser mit Status 4 oder 8)", VisibleText(name).c_str());
    return;
  }
  if (found.Failed()) {
    Fail("Terminal %s: Abfrage fehlgeschlagen (Ergebnis %d)", VisibleText(name).c_str(), found.Code);
    db.PrintFailureRecord(Secret);
    return;
  }
  Ok("Terminal %s gefunden: Modell %s, Saldensatz %s", VisibleText(name).c_str(),
     VisibleText(TerminalText(terminal.TrmMod)).c_str(), VisibleText(TerminalText(terminal.TrmSal)).c_str());
  if (terminal.TfzCount > 0) {
    Ok("Terminal %s ist an Mandanten gebunden (%d Zeilen in Xel115Tfz): es gelten die Ausweise dieser Mandanten",
       VisibleText(name).c_str(), static_cast<int>(terminal.TfzCount));
  } else {
    Ok("Terminal %s ist an keine Mandanten gebunden (keine Zeile in Xel115Tfz): es gelten alle gueltigen Ausweise",
       VisibleText(name).c_str());
  }

  BadgeCursor cursor(db);
  if (OpenBadgeCursor(cursor, &terminal).Failed()) {
    Fail("Ausweisabfrage fuer Terminal %s fehlgeschlagen", VisibleText(name).c_str());
    db.PrintFailureRecord(Secret);
    return;
  }
  int rows = 0;
  StatementResult fetched = Done();
  BadgeRecord badge;
  for (;;) {
    std::memset(&badge, 0, sizeof badge);
    fetched = FetchBadge(cursor, &badge);
    if (!fetched.IsRow()) break;
    ++rows;
  }
  CloseBadgeCursor(cursor);
  if (fetched.Failed()) {
    Fail("Ausweisabfrage fuer Terminal %s nach %d Zeilen abgebrochen", VisibleText(name).c_str(), rows);
    db.PrintFailureRecord(Secret);
  } else if (rows == 0) {
    Warn("Ausweisabfrage fuer Terminal %s liefert keine Zeile: die Download-Dateien bleiben leer",
         VisibleText(name).c_str());
  } else {
    Ok("Ausweisabfrage fuer Terminal %s liefert %d Zeilen", VisibleText(name).c_str(), rows);
  }
}

int Finish(bool complete) {
  if (!complete) std::printf("Weitere Pruefungen entfallen.\n");
  if (Failures == 0) {
    std::printf("\nErgebnis: alle Pruefungen bestanden, gentrmx kann laufen.\n");
  } else {
    std::printf("\nErgebnis: %d Pruefung(en) fehlgeschlagen.\n", Failures);
  }
  std::fflush(stdout);
  return Failures == 0 ? 0 : 1;
}

}  // namespace

int RunConfigCheck(const char* path, const char* terminal) {
  LoginSettings settings;
  SettingSource sources[LoginSettingCount];
  ReadLoginSettings(&settings, path, sources);
  ShowSettings(path, settings);

  if (!CheckFile(path)) return Finish(false);
  CheckKeys(settings, sources);
  if (!CheckDataSource(settings.Database)) return Finish(false);
  Session db;
  if (!CheckConnect(db, settings)) {
    std::memset(settings.Pass, 0, sizeof settings.Pass);
    return Finish(false);
  }
  Secret = settings.Pass;
  CheckDate(db);
  CheckTables(db);
  if (terminal != nullptr) CheckTerminal(db, terminal);
  Secret = "";
  std::memset(settings.Pass, 0, sizeof settings.Pass);
  return Finish(true);
}
