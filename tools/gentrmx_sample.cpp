// gentrmx-sample: builds a sample installation database (a SQLite file) for
// the demo, the tests and the benchmarks.
//
//   gentrmx-sample --db <file> [--badges N] [--seed S] [--schema <schema.sql>] [--empty]
//   gentrmx-sample --version | --help
//
// An existing file is replaced. --empty creates the tables only. The schema
// is sqlite/schema.sql, built into the program (--schema reads another).
// Messages are in German, like those of the other tools. The content
// depends on the seed and on today's date (the local date, which the data
// source's convert(char(8), CURRENT_TIMESTAMP, 112) gives): validity dates are set
// relative to today, so the same badges are valid whenever the file is
// generated. The same seed on the same day gives the same file.
//
// Sample terminals (Xel1140Trm):
//
//   TERM01  model "7744-010", balance set SAL01, language 1, licence 1 client 1.
//           One Xel115Tfz row (1, 1): gets only the badges of that pair.
//           Readers 1 to 11 and 12 (plus a deleted second reader 4).
//           Time classes 100, 110; access classes 7, A01, A02, B1.
//   TERM02  model "7598-002", balance set SAL02, language 2, licence 1 client 1.
//           No Xel115Tfz rows: gets all valid badges of every licence.
//           Readers 1, 3, 5 (reader 2 deleted).
//           Time classes 100, 120, A03; access classes A01, A03.
//   TERM03  model "7600-100" (stored blank-padded), balance set SAL01,
//           language 1, licence 1 client 2. One Xel115Tfz row (1, 2).
//           Readers 1, 2 (reader 3 in status 4).
//           Time class 110; access classes A02 (listed twice), A03.
//           No display definitions reach it (those of SAL01 belong to
//           client 1), so its MGDNL18P records carry no texts.
//   TERM09  deleted terminal (status 8): not found by the tool.
//
// Badges: about 70 % licence 1 client 1, 20 % licence 1 client 2, 10 %
// licence 2 client 1 (served by TERM02 only). Each has 0 to 3 permission
// classes out of 100, 110, 120 (time on some terminals) and 7, A01, A02,
// A03, B1 (access). Some are not valid today (expired, not yet valid, no
// dates, status 4 or 8, location assignment blocked with AWVCOD 8), some
// have no from-date (found by the terminal-bound query only), some are
// delivered twice (two valid location assignments). Most have a balance row
// (O2002TSW). Balance sets SAL01 (eight display definitions, licence 1
// client 1) and SAL02 (five, created by ORVELIX) show texts of language
// text list 220001, among them one with "&#241;", and value codes of list
// 220002 (#W1, #W2, #W3, #W9, #W10, #W16, #W21, #W22). Texts are Latin-1.
#include <sqlite3.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/whole_file.h"
#include "sample_schema.h"

namespace {

// Deterministic on every platform (the standard distributions are not).
class Random {
 public:
  explicit Random(uint64_t seed) : State(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
  uint64_t Next() {
    uint64_t z = (State += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 to n - 1.
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  // True in percent out of 100 cases.
  bool Chance(int percent) { return Below(100) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& values) { return values[static_cast<size_t>(Below(static_cast<int>(values.size())))]; }

 private:
  uint64_t State;
};

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::string Ymd(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld%02u%02u", static_cast<long long>(y), m, d);
  return text;
}

int64_t TodayDays() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                       static_cast<unsigned>(local.tm_mday));
}

std::string Format(const char* format, long value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

class Database {
 public:
  explicit Database(const std::string& path) {
    if (sqlite3_open(path.c_str(), &Handle) != SQLITE_OK) {
      std::string message = Handle ? sqlite3_errmsg(Handle) : "out of memory";
      sqlite3_close(Handle);
      throw std::runtime_error("Datenbank " + path + " kann nicht geoeffnet werden: " + message);
    }
  }
  ~Database() { sqlite3_close(Handle); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(Handle, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string message = error ? error : sqlite3_errmsg(Handle);
      sqlite3_free(error);
      throw std::runtime_error(message);
    }
  }
  sqlite3* Get() const { return Handle; }

 private:
  sqlite3* Handle = nullptr;
};

// A NULL, an integer or a text for one column of an insert.
struct Value {
  enum Kind { Null, Integer, Text } Type;
  long Number;
  std::string String;
  Value() : Type(Null), Number(0) {}
  Value(int n) : Type(Integer), Number(n) {}
  Value(long n) : Type(Integer), Number(n) {}
  Value(const char* s) : Type(Text), Number(0), String(s) {}
  Value(std::string s) : Type(Text), Number(0), String(std::move(s)) {}
};
const Value NUL;

// One prepared INSERT, run once per row.
class Insert {
 public:
  Insert(Database& db, const std::string& table, int columns) : Db(db) {
    std::string sql = "INSERT INTO " + table + " VALUES (";
    for (int i = 1; i <= columns; i++) sql += i == 1 ? "?" : ", ?";
    sql += ")";
    if (sqlite3_prepare_v2(db.Get(), sql.c_str(), -1, &Statement, nullptr) != SQLITE_OK)
      throw std::runtime_error("Anweisung " + sql + " kann nicht vorbereitet werden: " + sqlite3_errmsg(db.Get()));
    Count = columns;
  }
  ~Insert() { sqlite3_finalize(Statement); }
  Insert(const Insert&) = delete;
  Insert& operator=(const Insert&) = delete;

  void Row(const std::vector<Value>& values) {
    if (static_cast<int>(values.size()) != Count) throw std::logic_error("falsche Anzahl Werte");
    for (int i = 0; i < Count; i++) {
      const Value& v = values[static_cast<size_t>(i)];
      if (v.Type == Value::Integer) sqlite3_bind_int64(Statement, i + 1, v.Number);
      else if (v.Type == Value::Text) sqlite3_bind_text(Statement, i + 1, v.String.data(), static_cast<int>(v.String.size()), SQLITE_TRANSIENT);
      else sqlite3_bind_null(Statement, i + 1);
    }
    if (sqlite3_step(Statement) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(Db.Get()));
    sqlite3_reset(Statement);
    Rows++;
  }
  long Rows = 0;

 private:
  Database& Db;
  sqlite3_stmt* Statement = nullptr;
  int Count = 0;
};

// The schema text of --schema.
std::string ReadSchema(const std::string& path) {
  std::string text;
  if (!ReadWholeFile(path, &text)) throw std::runtime_error("Schema " + path + " kann nicht gelesen werden");
  return text;
}

// Terminals, their classes, readers and clients; locations; balance display
// definitions and their language texts.
void WriteInstallation(Database& db) {
  Insert terminal(db, "Xel1140Trm", 7);
  terminal.Row({"TERM01", "7744-010", "SAL01", 1, 1, 1, NUL});
  terminal.Row({"TERM02", "7598-002", "SAL02", 1, 1, 2, 0});
  terminal.Row({"TERM03", "7600-100  ", "SAL01", 1, 2, 1, NUL});
  terminal.Row({"TERM09", "7600-100", "SAL01", 1, 1, 1, 8});

  Insert clients(db, "Xel115Tfz", 4);
  clients.Row({"TERM01", 1, 1, NUL});
  clients.Row({"TERM03", 1, 2, 0});
  clients.Row({"TERM09", 1, 1, 8});

  Insert classes(db, "MGSST35P", 3);
  for (const char* c : {"100", "110"}) classes.Row({"TERM01", c, "1"});
  for (const char* c : {"A01", "A02", "B1", "7"}) classes.Row({"TERM01", c, "0"});
  for (const char* c : {"100", "120", "A03"}) classes.Row({"TERM02", c, "1"});
  for (const char* c : {"A01", "A03"}) classes.Row({"TERM02", c, "0"});
  classes.Row({"TERM03", "110", "1"});
  for (const char* c : {"A02", "A03", "A02"}) classes.Row({"TERM03", c, "0"});

  Insert readers(db, "Xel401Zls", 4);
  for (int n = 1; n <= 12; n++) readers.Row({"TERM01", n, Format("Z%02ld", n), n % 2 ? NUL : Value(0)});
  readers.Row({"TERM01", 4, "Z99", 8});
  for (int n : {1, 3, 5}) readers.Row({"TERM02", n, Format("Z%02ld", n), NUL});
  readers.Row({"TERM02", 2, "Z02", 8});
  readers.Row({"TERM03", 1, "E1", NUL});
  readers.Row({"TERM03", 2, "E2", NUL});
  readers.Row({"TERM03", 3, "E3", 4});

  Insert locations(db, "Xel113Sto", 3);
  locations.Row({"1", "HAL", NUL});
  locations.Row({"2", "LAG", 0});
  locations.Row({"3", "VERWALTUNG", NUL});
  locations.Row({"4", "K  ", NUL});
  locations.Row({"5", "W1", NUL});
  locations.Row({"6", "PRD", NUL});
  locations.Row({"7", "EMP", NUL});
  locations.Row({"8", "   ", NUL});
  locations.Row({"9", "ALT", 8});
  locations.Row({"10", "KAN", NUL});
  locations.Row({"11", "WER", 4});
  locations.Row({"12", "B\xDCR", NUL});

  // Language texts: list 220001 display texts (languages 1 and 2), list
  // 220002 value codes.
  Insert texts(db, "Xel102Whl", 5);
  const std::vector<std::pair<const char*, const char*>> displayTexts = {
      {"Gleitzeitsaldo", "Flexitime"},
      {"Resturlaub", "Holiday left"},
      {"Datum", "Date"},
      {"\xDC" "berstunden", "Overtime"},
      {"Ma&#241;ana Schicht", "Ma&#241;ana shift"},
      {"Kontostand Monat", "Month balance"},
      {"Info", "Info"},
      {"Abwesenheit", "Absence"},
      {"Zeitkonto Vorjahresende", "Previous year end"},
  };
  for (size_t i = 0; i < displayTexts.size(); i++) {
    texts.Row({220001, static_cast<long>(i + 1), 1, NUL, displayTexts[i].first});
    texts.Row({220001, static_cast<long>(i + 1), 2, NUL, displayTexts[i].second});
  }
  const std::vector<const char*> valueCodes = {"#W1", "#W2", "#W9", "#W10", "#W21", "#W3", "#W16", "#W22"};
  for (size_t i = 0; i < valueCodes.size(); i++) {
    for (int language : {1, 2}) texts.Row({220002, static_cast<long>(i + 1), language, valueCodes[i], NUL});
  }

  // Display definitions: set, number, column selector, own text, display
  // text entry, value code entry, licence, client, creator, status.
  Insert displays(db, "Xel119Msd", 10);
  displays.Row({"SAL01", 1, 1, NUL, 1, 2, 1, 1, "ADMIN", NUL});
  displays.Row({"SAL01", 2, NUL, NUL, 2, 3, 1, 1, "ADMIN", NUL});
  displays.Row({"SAL01", 3, 1, NUL, 3, 1, 1, 1, "ADMIN", 0});
  displays.Row({"SAL01", 3, 1, NUL, 9, 2, 1, 1, "ADMIN", 8});
  displays.Row({"SAL01", 4, 1, "", 4, 4, 1, 1, "ADMIN", NUL});
  displays.Row({"SAL01", 5, 2, NUL, 5, 6, 1, 1, "ADMIN", NUL});
  displays.Row({"SAL01", 6, 1, "Monatskonto", 6, 5, 1, 1, "ADMIN", NUL});
  displays.Row({"SAL01", 7, 2, "   ", 7, 7, 1, 1, "ADMIN", NUL});
  displays.Row({"SAL01", 8, 1, NUL, 8, 8, 1, 1, "ADMIN", NUL});
  displays.Row({"SAL02", 1, 1, NUL, 1, 2, 9, 9, "ORVELIX", NUL});
  displays.Row({"SAL02", 2, 1, NUL, 3, 1, 9, 9, "ORVELIX", NUL});
  displays.Row({"SAL02", 3, NUL, NUL, 2, 4, 9, 9, "ORVELIX", NUL});
  displays.Row({"SAL02", 4, 1, NUL, 9, 5, 9, 9, "ORVELIX", NUL});
  displays.Row({"SAL02", 5, 2, NUL, 6, 3, 9, 9, "ORVELIX", NUL});
}

// A balance value: sign character and up to nine characters, '+000123' or '-12'.
Value BalanceValue(Random& rng) {
  int kind = rng.Below(100);
  if (kind < 8) return NUL;
  if (kind < 11) return "+";
  const char* sign = rng.Chance(30) ? "-" : "+";
  long amount = rng.Below(kind < 60 ? 100000 : 1000);
  return std::string(sign) + Format(rng.Chance(40) ? "%06ld" : "%ld", amount);
}

struct Counts {
  long Badges = 0, Classes = 0, Balances = 0;
};

Counts WriteBadges(Database& db, int badges, unsigned seed, int64_t today) {
  Random rng(seed);
  Insert badge(db, "Xel301Asw", 15);
  Insert assignment(db, "Xel113Awv", 4);
  Insert permission(db, "Xel301Awb", 2);
  Insert balance(db, "O2002TSW", 27);

  const std::vector<const char*> surnames = {"M\xFCller", "Schmidt", "Schneider", "Fischer", "Wei\xDF", "Meyer",
                                             "Wagner", "Becker", "Sch\xE4" "fer", "Koch", "Bauer", "Richter",
                                             "Klein", "Wolf", "Schr\xF6" "der", "Neumann", "Zimmermann", "Braun",
                                             "Kr\xFCger", "Hofmann", "Hartmann", "Lange", "Schmitt", "Werner"};
  const std::vector<const char*> firstNames = {"Anna", "J\xFCrgen", "Maria", "Stefan", "Bj\xF6rn", "Claudia",
                                               "Thomas", "Sabine", "Andreas", "Ren\xE9", "Monika", "Michael"};
  const std::vector<const char*> allClasses = {"100", "110", "120", "7", "A01", "A02", "A03", "B1"};
  const std::vector<const char*> bookingClasses = {"100", "110", "120", "110", "100"};
  const std::vector<const char*> balanceTexts = {"Resturlaub 12.5", "Gleitzeit ok", "Schicht Fr\xFCh",
                                                 "Kappung 10:00", "Vortrag 3,5 Tage", "Sp\xE4tschicht",
                                                 "ohne Befund", "Nachtzuschlag 8%"};

  long number = 10000;
  for (int i = 0; i < badges; i++) {
    number += 1 + rng.Below(3);
    const std::string num = Format("%08ld", number);

    int clientDraw = rng.Below(100);
    int liz = clientDraw < 90 ? 1 : 2;
    int mnd = clientDraw < 70 ? 1 : clientDraw < 90 ? 2 : 1;

    Value from, until;
    int validity = rng.Below(1000);
    if (validity < 5) {
      // neither date: never delivered
    } else if (validity < 25) {
      until = Ymd(today + 1 + rng.Below(400));
    } else if (validity < 45) {
      from = Ymd(today - 400 - rng.Below(2000));
      until = Ymd(today - 1 - rng.Below(300));
    } else if (validity < 60) {
      from = Ymd(today + 1 + rng.Below(200));
    } else if (validity < 70) {
      from = Ymd(today);
    } else if (validity < 80) {
      from = Ymd(today - rng.Below(1000));
      until = Ymd(today);
    } else {
      from = Ymd(today - rng.Below(3000));
      if (rng.Chance(30)) until = Ymd(today + 1 + rng.Below(1000));
    }
    int statusDraw = rng.Below(1000);
    Value status = statusDraw < 15 ? Value(4) : statusDraw < 30 ? Value(8) : statusDraw < 530 ? NUL : Value(0);

    Value pnr = rng.Chance(3) ? NUL : Value(Format("%06ld", 100000 + i % 900000));
    Value bkl = rng.Chance(4) ? NUL : rng.Chance(6) ? Value("7  ") : Value(rng.Pick(bookingClasses));
    Value bk2 = rng.Chance(50) ? NUL : Value(rng.Pick(std::vector<const char*>{"01 ", "02 ", "1  "}));
    Value group = rng.Chance(10) ? NUL : Value(Format("G%02ld", 1 + rng.Below(20)));
    Value name = rng.Chance(5) ? NUL : Value(std::string(rng.Pick(surnames)) + ", " + rng.Pick(firstNames));
    int typeDraw = rng.Below(10);
    Value type = typeDraw < 6 ? Value(1) : typeDraw < 8 ? Value(2) : typeDraw < 9 ? Value(0) : NUL;
    int setDraw = rng.Below(100);
    Value balanceSet = setDraw < 80 ? Value("SAL01") : setDraw < 88 ? Value("SAL02") : setDraw < 94 ? NUL : Value("");
    int languageDraw = rng.Below(100);
    Value language = languageDraw < 80 ? Value(1) : languageDraw < 95 ? Value(2) : NUL;
    Value pin = rng.Chance(30) ? NUL : Value(Format("%04ld", rng.Below(10000)));
    badge.Row({num, liz, mnd, from, until, pnr, bkl, bk2, group, name, type, balanceSet, language, pin, status});

    // Location assignments: most one, a few none, some an old deleted one,
    // a few a second valid one (the badge is then delivered twice).
    if (!rng.Chance(1) || rng.Chance(50)) {
      int locationDraw = rng.Below(100);
      Value location = locationDraw < 2 ? NUL : locationDraw < 4 ? Value("99") : Value(Format("%ld", 1 + rng.Below(12)));
      int codeDraw = rng.Below(100);
      Value code = codeDraw < 1 ? Value(8) : codeDraw < 50 ? NUL : Value(codeDraw % 2);
      int assignmentDraw = rng.Below(200);
      Value assignmentStatus = assignmentDraw < 2 ? Value(4) : assignmentDraw < 3 ? Value(8) : NUL;
      assignment.Row({num, location, code, assignmentStatus});
      if (rng.Chance(1)) assignment.Row({num, Format("%ld", 1 + rng.Below(12)), NUL, 8});
      if (rng.Below(1000) < 3) assignment.Row({num, Format("%ld", 1 + rng.Below(12)), NUL, NUL});
    }

    // Permission classes: 0 to 3 different ones.
    int classCount = rng.Chance(3) ? 0 : 1 + rng.Below(3);
    std::vector<const char*> chosen;
    while (static_cast<int>(chosen.size()) < classCount) {
      const char* c = rng.Pick(allClasses);
      bool seen = false;
      for (const char* d : chosen) seen = seen || std::strcmp(c, d) == 0;
      if (!seen) chosen.push_back(c);
    }
    for (const char* c : chosen) permission.Row({num, c});

    if (rng.Below(100) < 90) {
      std::vector<Value> row;
      row.reserve(27);
      row.push_back(num);
      for (int w = 1; w <= 16; w++) row.push_back(BalanceValue(rng));
      for (int f = 1; f <= 10; f++) row.push_back(rng.Chance(60) ? NUL : Value(rng.Pick(balanceTexts)));
      balance.Row(row);
    }
  }
  Counts counts;
  counts.Badges = badge.Rows;
  counts.Classes = permission.Rows;
  counts.Balances = balance.Rows;
  return counts;
}

void PrintUsage(FILE* out = stderr) {
  std::fputs(
      "Aufruf: gentrmx-sample --db <Datei> [--badges N] [--seed S] [--schema <schema.sql>] [--empty]\n"
      "        gentrmx-sample --help | --version\n"
      "\n"
      "  Legt eine Beispiel-Installation als SQLite-Datenbank <Datei> an; eine\n"
      "  vorhandene Datei wird ersetzt. Gleicher Startwert am gleichen Tag ergibt\n"
      "  die gleiche Datei.\n"
      "  --badges   Anzahl Ausweise (Vorgabe 1000, hoechstens 10000000)\n"
      "  --seed     Startwert des Zufallsgenerators (Vorgabe 1)\n"
      "  --schema   Schema aus dieser Datei statt des eingebauten\n"
      "  --empty    nur die Tabellen anlegen\n"
      "  --version  zeigt die Version\n",
      out);
}

bool ParseNumber(const char* text, unsigned long max, unsigned long* out) {
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value > max || text[0] == '-') return false;
  *out = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dbPath;
  std::string schemaPath;  // empty: the schema built into the program
  unsigned long badges = 1000;
  unsigned long seed = 1;
  bool empty = false;
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("gentrmx-sample %s\n", GENTRMX_VERSION);
    return 0;
  }
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    PrintUsage(stdout);
    return 0;
  }
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--db" && hasValue) {
      dbPath = argv[++i];
    } else if (arg == "--schema" && hasValue) {
      schemaPath = argv[++i];
    } else if (arg == "--badges" && hasValue && ParseNumber(argv[i + 1], 10000000, &badges)) {
      i++;
    } else if (arg == "--seed" && hasValue && ParseNumber(argv[i + 1], 0xFFFFFFFFul, &seed)) {
      i++;
    } else if (arg == "--empty") {
      empty = true;
    } else {
      std::fprintf(stderr, "Fehler: unbekannte oder unvollstaendige Angabe \"%s\"\n\n", argv[i]);
      PrintUsage();
      return 2;
    }
  }
  if (dbPath.empty()) {
    std::fprintf(stderr, "Fehler: --db <Datei> fehlt\n\n");
    PrintUsage();
    return 2;
  }

  try {
    const std::string schema = schemaPath.empty() ? std::string(SampleSchema) : ReadSchema(schemaPath);
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      std::string file = dbPath + suffix;
      if (unlink(file.c_str()) != 0 && errno != ENOENT)
        throw std::runtime_error(file + " kann nicht ersetzt werden: " + std::strerror(errno));
    }
    Database db(dbPath);
    db.Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
    db.Exec("BEGIN");
    db.Exec(schema);
    Counts counts;
    const int64_t today = TodayDays();
    if (!empty) {
      WriteInstallation(db);
      counts = WriteBadges(db, static_cast<int>(badges), static_cast<unsigned>(seed), today);
    }
    db.Exec("COMMIT");
    if (!empty) db.Exec("ANALYZE");
    if (empty) {
      std::printf("gentrmx-sample: %s: nur Tabellen angelegt\n", dbPath.c_str());
    } else {
      std::printf("gentrmx-sample: %s: %ld Ausweise, %ld Berechtigungsklassen, %ld Saldenzeilen, 4 Terminals "
                  "(Startwert %lu, heute %s)\n",
                  dbPath.c_str(), counts.Badges, counts.Classes, counts.Balances, seed, Ymd(today).c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Fehler: %s\n", e.what());
    return 1;
  }
  return 0;
}
