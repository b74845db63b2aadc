// gentrmx-config check and the guards of gentrmx-config set, run as
// programs against scratch installations through the driver manager.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/config_writer.h"
#include "config/settings.h"
#include "config_folder.h"
#include "installation.h"

namespace {

RunResult Check(const ScratchInstallation& inst, const std::vector<std::string>& args = {}) {
  std::vector<std::string> all = {"check"};
  all.insert(all.end(), args.begin(), args.end());
  return inst.RunTool(GENTRMX_CONFIG_EXE, all);
}

// The report lines that begin with tag.
std::vector<std::string> Lines(const std::string& report, const std::string& tag) {
  std::vector<std::string> lines;
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, tag.size(), tag) == 0) lines.push_back(line);
  return lines;
}

void Overwrite(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// Every schema-qualified table name as the query texts spell it.
std::set<std::string> TableSpellingsInQueries() {
  std::set<std::string> spellings;
  const std::string folder = std::string(GENTRMX_SOURCE_DIR) + "/src/db";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return spellings;
  const std::regex name("\\b[Dd][Rr][Aa][Vv][Oo][Nn][Ii][Xx]\\.[A-Za-z0-9_]+");
  while (dirent* entry = readdir(dir)) {
    const std::string file = entry->d_name;
    if (file.size() < 4 || file.compare(file.size() - 4, 4, ".cpp") != 0) continue;
    const std::string text = ReadWholeFile(folder + "/" + file);
    for (std::sregex_iterator it(text.begin(), text.end(), name), end; it != end; ++it) spellings.insert(it->str());
  }
  closedir(dir);
  return spellings;
}

int Number(const std::string& text, const std::string& before) {
  const size_t at = text.find(before);
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + before.size());
}

TEST(ConfigCheck, PassesOnASampleInstallationAndOnlyReads) {
  ScratchInstallation inst = ScratchInstallation::Generated(60, 3);
  const std::string database = inst.ReadFile("db.sqlite");
  const std::string dayBefore = TodayYmd();
  const RunResult r = Check(inst, {"--terminal", "TERM01"});
  const std::string dayAfter = TodayYmd();
  EXPECT_EQ(r.ExitCode, 0) << r.Stdout;
  EXPECT_TRUE(Lines(r.Stdout, "[FEHLER]").empty()) << r.Stdout;
  EXPECT_EQ(r.Stderr, "");

  // The settings as gentrmx reads them, the password masked.
  EXPECT_NE(r.Stdout.find("  LOGIN     = gentrmx\n  PASS      = ***\n  DATABASE  = " + inst.Dsn +
                          "\n  DB_SYSTEM = MSSQL\n  SCHEMA    = DRAVONIX "),
            std::string::npos)
      << r.Stdout;
  EXPECT_EQ(r.Stdout.find("geheim"), std::string::npos);
  EXPECT_NE(r.Stdout.find("[OK]      Treiberbibliothek " GENTRMX_SQLITE_ODBC_DRIVER " ist ladbar\n"),
            std::string::npos);
  const int date = Number(r.Stdout, "Datum der Datenbank (heute): ");
  EXPECT_TRUE(std::to_string(date) == dayBefore || std::to_string(date) == dayAfter) << r.Stdout;

  // Every table spelling of the query texts is probed, and nothing else.
  std::set<std::string> probed;
  const std::regex listed("[A-Za-z]+\\.[A-Za-z0-9_]+");
  for (const std::string& line : Lines(r.Stdout, "[OK]      Tabelle "))
    for (std::sregex_iterator it(line.begin(), line.end(), listed), end; it != end; ++it) probed.insert(it->str());
  const std::set<std::string> queried = TableSpellingsInQueries();
  EXPECT_GE(queried.size(), 11u);
  EXPECT_EQ(probed, queried);

  EXPECT_NE(r.Stdout.find("[OK]      Terminal TERM01 gefunden: Modell 7744-010, Saldensatz SAL01\n"), std::string::npos)
      << r.Stdout;
  EXPECT_NE(r.Stdout.find("(1 Zeilen in Xel115Tfz)"), std::string::npos);
  // As many rows as a download reads.
  const RunResult download = inst.Run({"IDSTAMM", "TERM01", "out.txt", "1"});
  ASSERT_EQ(download.ExitCode, 0) << download.Stdout;
  const int rows = Number(r.Stdout, "Ausweisabfrage fuer Terminal TERM01 liefert ");
  EXPECT_GT(rows, 0);
  EXPECT_EQ(rows, Number(download.Stdout, "Ausweise gesamt: "));

  EXPECT_TRUE(inst.ReadFile("db.sqlite") == database) << "check changed the database";

  // Without a terminal the terminal steps are left out; an explicit file
  // is read like the default one.
  const std::string configPath = inst.Root + "/files/quillnest.ini";
  const RunResult plain = Check(inst, {configPath});
  EXPECT_EQ(plain.ExitCode, 0) << plain.Stdout;
  EXPECT_EQ(plain.Stdout.find("Terminal"), std::string::npos);

  // set made the file readable by its owner only; opened to others, the
  // check still passes but warns.
  struct stat info;
  ASSERT_EQ(stat(configPath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_TRUE(Lines(r.Stdout, "[WARNUNG]").empty()) << r.Stdout;
  ASSERT_EQ(chmod(configPath.c_str(), 0644), 0);
  const RunResult open = Check(inst, {configPath});
  EXPECT_EQ(open.ExitCode, 0) << open.Stdout;
  EXPECT_NE(open.Stdout.find("[WARNUNG] Datei " + configPath + " ist auch fuer Gruppe oder andere zugaenglich (Modus 0644)"),
            std::string::npos)
      << open.Stdout;
}

TEST(ConfigCheck, NamesTheFailingStep) {
  ScratchInstallation inst = ScratchInstallation::Generated(20, 4);
  const std::string configPath = inst.Root + "/files/quillnest.ini";
  const std::string config = inst.ReadFile(configPath);
  const std::string odbcIni = inst.ReadFile("odbc.ini");
  const std::string noLibrary = inst.Dsn + "_L", noFolder = inst.Dsn + "_F";
  Overwrite(inst.Root + "/odbc.ini", odbcIni + "[" + noLibrary + "]\nDriver=/nonexistent/libtdsodbc.so\n[" +
                                         noFolder + "]\nDriver=SQLite3 gentrmx\nDatabase=" + inst.Root +
                                         "/missing/db.sqlite\n");

  // The failures: exit 1, the expected failure lines and nothing else failing.
  auto expectFailure = [&](const std::vector<std::string>& args, const std::vector<std::string>& failures) -> RunResult {
    const RunResult r = Check(inst, args);
    EXPECT_EQ(r.ExitCode, 1) << r.Stdout;
    const std::vector<std::string> failed = Lines(r.Stdout, "[FEHLER]  ");
    EXPECT_EQ(failed.size(), failures.size()) << r.Stdout;
    for (size_t i = 0; i < failures.size() && i < failed.size(); ++i) EXPECT_EQ(failed[i].find(failures[i]), 10u) << r.Stdout;
    EXPECT_EQ(r.Stdout.find("geheim"), std::string::npos);
    return r;
  };

  {
    SCOPED_TRACE("missing file");
    std::rename(configPath.c_str(), (configPath + ".away").c_str());
    expectFailure({}, {"Datei ../../files/quillnest.ini nicht gefunden (Arbeitsverzeichnis " + inst.WorkDir + ")"});
    std::rename((configPath + ".away").c_str(), configPath.c_str());
  }
  {
    SCOPED_TRACE("missing key, overlong value");
    std::remove(configPath.c_str());
    // Written past the guard of set: gentrmx cuts it to 50 characters.
    ASSERT_EQ(SetConfigValue(configPath.c_str(), "LOGIN", std::string(60, 'u').c_str()), 0);
    for (const char* key : {"PASS", "DATABASE", "DB_SYSTEM"}) {
      ASSERT_EQ(SetConfigValue(configPath.c_str(), key, key == std::string("DATABASE") ? inst.Dsn.c_str() : "x"), 0);
    }
    const RunResult r = expectFailure({}, {"Schluessel SCHEMA fehlt"});
    EXPECT_NE(r.Stdout.find("  LOGIN     = " + std::string(50, 'u') + "\n"), std::string::npos) << r.Stdout;
    EXPECT_NE(r.Stdout.find("[WARNUNG] Wert von LOGIN hat 60 Zeichen; gentrmx liest nur die ersten 50\n"),
              std::string::npos);
    EXPECT_NE(r.Stdout.find("[OK]      Verbindung zur Datenquelle"), std::string::npos);
    Overwrite(configPath, config);
  }
  {
    SCOPED_TRACE("data source unknown");
    inst.SetConfig("DATABASE", "GENTRMX_NONE");
    expectFailure({}, {"Datenquelle GENTRMX_NONE ist dem Treiber-Manager nicht bekannt (ODBCINI=" + inst.Root +
                       "/odbc.ini"});
  }
  {
    SCOPED_TRACE("driver library missing");
    inst.SetConfig("DATABASE", noLibrary);
    expectFailure({}, {"Treiberbibliothek /nonexistent/libtdsodbc.so existiert nicht"});
  }
  {
    SCOPED_TRACE("database does not answer");
    inst.SetConfig("DATABASE", noFolder);
    const RunResult r = expectFailure({}, {"Verbindung zur Datenquelle " + noFolder + " als Benutzer gentrmx fehlgeschlagen"});
    EXPECT_NE(r.Stdout.find("fehlgeschlagen\nDB-Diagnose: SQLSTATE "), std::string::npos) << r.Stdout;
    inst.SetConfig("DATABASE", inst.Dsn);
  }
  {
    SCOPED_TRACE("extension missing");
    const std::string noExtension = inst.Dsn + "_X";
    Overwrite(inst.Root + "/odbc.ini", inst.ReadFile("odbc.ini") + "[" + noExtension +
                                           "]\nDriver=SQLite3 gentrmx\nDatabase=" + inst.DbPath +
                                           "\nLoadExt=/nonexistent/gentrmx_sqlext.so\n");
    inst.SetConfig("DATABASE", noExtension);
    expectFailure({}, {"SQLite-Erweiterung /nonexistent/gentrmx_sqlext.so (LoadExt der Datenquelle " + noExtension +
                       ") kann nicht geladen werden: "});
    inst.SetConfig("DATABASE", inst.Dsn);
  }
  {
    // The extension cannot set itself up on these files; it must fail
    // without leaving a function behind that points into the unloaded
    // library (a crash at the first query).
    SCOPED_TRACE("database file foreign or locked");
    const std::string foreign = inst.Dsn + "_R", locked = inst.Dsn + "_B";
    std::string noise(4800, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 13) % 251);
    Overwrite(inst.Root + "/noise.db", noise);
    Overwrite(inst.Root + "/odbc.ini",
              inst.ReadFile("odbc.ini") + "[" + foreign + "]\nDriver=SQLite3 gentrmx\nDatabase=" + inst.Root +
                  "/noise.db\nLoadExt=" GENTRMX_SQLEXT "\n[" + locked + "]\nDriver=SQLite3 gentrmx\nDatabase=" +
                  inst.DbPath + "\nLoadExt=" GENTRMX_SQLEXT "\nTimeout=100\n");
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(inst.DbPath.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    for (const std::string& dsn : {foreign, locked}) {
      SCOPED_TRACE(dsn);
      inst.SetConfig("DATABASE", dsn);
      const RunResult r = Check(inst);
      EXPECT_EQ(r.ExitCode, 1) << r.Stdout << r.Stderr;
      EXPECT_FALSE(Lines(r.Stdout, "[FEHLER]  Datum der Datenbank nicht lesbar").empty()) << r.Stdout;
      EXPECT_NE(r.Stdout.find("Hinweis: convert() und das Schema Dravonix kommen aus der SQLite-Erweiterung"),
                std::string::npos)
          << r.Stdout;
    }
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    inst.SetConfig("DATABASE", inst.Dsn);
  }
  {
    SCOPED_TRACE("terminal unknown");
    expectFailure({"--terminal", "TERM99"}, {"Terminal TERM99 nicht gefunden"});
  }
  {
    SCOPED_TRACE("table missing");
    inst.Exec("DROP TABLE Xel401Zls");
    const RunResult r = expectFailure({"--terminal", "TERM01"}, {"Tabelle Xel401Zls nicht lesbar als Dravonix.Xel401Zls"});
    EXPECT_NE(r.Stdout.find("Dravonix.Xel401Zls\nDB-Diagnose: SQLSTATE "), std::string::npos) << r.Stdout;
    EXPECT_NE(r.Stdout.find("[OK]      Ausweisabfrage fuer Terminal TERM01 liefert "), std::string::npos) << r.Stdout;
  }
}

TEST(ConfigCheck, WrongCommandLineEndsWithTwo) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"check", "a.ini", "b.ini"}, {"check", "--terminal"}, {"check", "--verbose"},
           {"check", "--terminal", "T1", "--terminal", "T2"}, {"check", "--terminal", std::string(256, 'T')}}) {
    std::vector<std::string> argv = {GENTRMX_CONFIG_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    const RunResult r = RunProgram(argv, "/tmp");
    EXPECT_EQ(r.ExitCode, 2) << args.back();
    EXPECT_EQ(r.Stdout, "");
    EXPECT_NE(r.Stderr.find("Fehler"), std::string::npos);
  }
}

class ConfigSetGuards : public ConfigFolderTest {
 protected:
  RunResult Tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {GENTRMX_CONFIG_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, folder_);
  }
};

TEST_F(ConfigSetGuards, RefusesWhatGentrmxCannotReadAndLeavesTheFile) {
  for (const char* key : {"LOGIN", "PASS", "DATABASE", "DB_SYSTEM", "SCHEMA"})
    ASSERT_EQ(Tool({"set", path_, key, "v."}).ExitCode, 0);
  const std::string before = ReadWholeFile(path_);

  struct Refusal {
    const char* Key;
    std::string Value;
    std::vector<std::string> Messages;
  };
  const Refusal refusals[] = {
      {"LOGIN", std::string(51, 'l'), {"LOGIN darf hoechstens 50 Zeichen haben"}},
      {"PASS", std::string(51, 'p'), {"PASS darf hoechstens 50 Zeichen haben"}},
      {"DB_SYSTEM", std::string(41, 's'), {"DB_SYSTEM darf hoechstens 40 Zeichen haben"}},
      {"SCHEMA", std::string(22, 'S'), {"SCHEMA darf hoechstens 21 Zeichen haben"}},
      {"DATABASE", std::string(33, 'D'), {"DATABASE darf hoechstens 32 Zeichen haben: laengster Datenquellenname"}},
      {"DATABASE",
       std::string(51, 'D'),
       {"DATABASE darf hoechstens 50 Zeichen haben", "DATABASE darf hoechstens 32 Zeichen haben"}},
      {"LOGIN", "dnl\nuser", {"keinen Zeilenumbruch"}},
      {"PASS", "geheim\r", {"keinen Zeilenumbruch"}},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.Key + (" " + std::to_string(refusal.Value.size())));
    const RunResult r = Tool({"set", path_, refusal.Key, refusal.Value});
    EXPECT_NE(r.ExitCode, 0);
    for (const std::string& message : refusal.Messages) EXPECT_NE(r.Stderr.find(message), std::string::npos) << r.Stderr;
    EXPECT_EQ(ReadWholeFile(path_), before);
  }

  // The longest values gentrmx reads whole are taken, and read back whole.
  EXPECT_EQ(Tool({"set", path_, "LOGIN", std::string(50, 'l')}).ExitCode, 0);
  EXPECT_EQ(Tool({"set", path_, "DATABASE", std::string(32, 'D')}).ExitCode, 0);
  const RunResult schema = Tool({"set", path_, "SCHEMA", "abcdefghijklmnopqrst."});
  EXPECT_EQ(schema.ExitCode, 0);
  EXPECT_EQ(schema.Stderr.find("Warnung"), std::string::npos) << schema.Stderr;
  LoginSettings settings;
  ReadLoginSettings(&settings, path_.c_str());
  EXPECT_EQ(std::string(settings.Login), std::string(50, 'l'));
  EXPECT_EQ(std::string(settings.Database), std::string(32, 'D'));
  EXPECT_STREQ(settings.Schema, "ABCDEFGHIJKLMNOPQRST");
}

TEST_F(ConfigSetGuards, KeyNoProgramReadsIsWrittenWithAWarning) {
  ASSERT_EQ(Tool({"set", path_, "LOGIN", "sa"}).ExitCode, 0);
  const RunResult r = Tool({"set", path_, "REPORT_PATH", std::string(80, 'r')});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stderr.find("Warnung: gentrmx liest den Schluessel REPORT_PATH nicht"), std::string::npos) << r.Stderr;
  // Case counts: "login" is another key.
  const RunResult lower = Tool({"set", path_, "login", "x"});
  EXPECT_EQ(lower.ExitCode, 0);
  EXPECT_NE(lower.Stderr.find("Warnung"), std::string::npos);

  const RunResult list = Tool({"list", path_});
  EXPECT_EQ(list.ExitCode, 0);
  EXPECT_EQ(list.Stdout, "LOGIN=sa\nREPORT_PATH=" + std::string(80, 'r') + "\nlogin=x\n");
}

}  // namespace
