// The production path: the tool through FreeTDS and SQL Server's wire
// protocol (the TDS test server answering from the installation's database
// file), held against the same runs through the SQLite ODBC driver. The
// badge cursor is a server cursor there, every other query a default result
// set, text passes the driver's character-set conversion, and connect
// failures come from the network and the login.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "installation.h"

namespace {

const char* const Functions[] = {"MGDNL17P", "MGDNL18P", "MGDNL31P", "MGDNL60P", "IDSTAMM"};

struct Outcome {
  int ExitCode;
  std::string Stdout, File;
  std::vector<std::string> Statements;
};

Outcome RunTraced(ScratchInstallation& inst, const std::string& function, const std::string& terminal,
                  const std::string& file) {
  RunResult r = inst.Run({function, terminal, inst.Root + "/" + file, "1", "/d"}, true);
  return {r.ExitCode, r.Stdout, inst.FileExists(file) ? inst.ReadFile(file) : "", inst.StatementLog()};
}

// Every function on every terminal of the installation gives the same exit
// status, messages, file and statement texts through both drivers (through
// FreeTDS also the statements sent ahead in a badge's batch that the run did
// not need: fewer than a tenth, counted in *sentAhead), and no run through
// FreeTDS cancels a statement. MGDNL17P and IDSTAMM take at most 1.2
// requests per badge. Returns all files and messages.
std::string ExpectSameThroughBothDrivers(ScratchInstallation& inst, const std::vector<std::string>& terminals,
                                         size_t* sentAhead = nullptr) {
  std::string everything;
  for (const std::string& terminal : terminals) {
    for (const char* function : Functions) {
      SCOPED_TRACE(std::string(function) + " " + terminal);
      inst.ServeBy(ServedBy::SqliteDriver);
      const Outcome sqlite = RunTraced(inst, function, terminal, "sqlite.dnl");
      inst.ServeBy(ServedBy::FreeTds);
      inst.ClearRequestLog();
      const Outcome tds = RunTraced(inst, function, terminal, "tds.dnl");
      EXPECT_EQ(tds.ExitCode, sqlite.ExitCode);
      EXPECT_EQ(tds.Stdout, sqlite.Stdout);
      EXPECT_EQ(tds.File, sqlite.File);
      const std::vector<std::string> used = WithoutStatementsSentAhead(tds.Statements, sqlite.Statements);
      EXPECT_EQ(used, sqlite.Statements);
      EXPECT_LT((tds.Statements.size() - used.size()) * 10, tds.Statements.size() + 1) << "sent ahead";
      if (sentAhead != nullptr) *sentAhead += tds.Statements.size() - used.size();
      const size_t at = sqlite.Stdout.find("Ausweise gesamt: ");
      EXPECT_NE(at, std::string::npos) << sqlite.Stdout;
      const size_t badges = at == std::string::npos ? 0 : std::stoul(sqlite.Stdout.substr(at + 17));
      size_t fetches = 0, attentions = 0, opens = 0, readerQueries = 0, requests = 0;
      for (const std::string& request : inst.RequestLog()) {
        if (request.rfind("PRELOGIN", 0) != 0 && request.rfind("LOGIN7", 0) != 0) ++requests;
        if (request.rfind("RPC:sp_cursorfetch", 0) == 0) ++fetches;
        if (request.rfind("ATTENTION", 0) == 0) ++attentions;
        if (request.rfind("SQLBATCH\tSELECT ZlsLes, ZlsZko ", 0) == 0) ++readerQueries;
        if (request.rfind("RPC:sp_cursoropen\t", 0) != 0) continue;
        // Only the badge query, which stays open while the statements of
        // each badge run, is a server cursor, and it locks nothing: no
        // scroll locks (concurrency option 0x0002).
        ++opens;
        EXPECT_EQ(request.rfind("RPC:sp_cursoropen\tSELECT  AswNum, ", 0), 0u) << request;
        const size_t at = request.rfind("\tscrollopt 0x");
        const size_t cc = at == std::string::npos ? at : request.find(" ccopt 0x", at);
        if (cc == std::string::npos) {
          ADD_FAILURE() << "no concurrency option: " << request;
          continue;
        }
        EXPECT_EQ(std::stoul(request.substr(cc + 9), nullptr, 16) & 0x0002u, 0u) << "scroll locks: " << request;
      }
      EXPECT_EQ(opens, 1u) << "the badge query";
      EXPECT_GT(fetches, 0u) << "the badge query is a server cursor";
      EXPECT_LE(readerQueries, 1u) << "the reader rows are read once per run";
      EXPECT_EQ(attentions, 0u) << "a normal run cancels nothing";
      // Each badge's statements in one request (1.2 per badge with the
      // cursor's fetches), and ten for the run: the terminal lookup, the
      // cursor's open, option and close, the first fetch, and the location
      // lookups of the first badges, before the run has sent enough to
      // send any ahead.
      if (std::string(function) == "MGDNL17P" || std::string(function) == "IDSTAMM") {
        EXPECT_LE(requests * 5, badges * 6 + 50) << badges << " badges";
      }
      everything += sqlite.File + sqlite.Stdout;
    }
  }
  return everything;
}

// The sample installation: a terminal bound to clients with eight balance
// displays (TERM01), one serving all badges (TERM02), one with a
// blank-padded model (TERM03), a deleted one (TERM09), a missing one.
TEST(FreeTds, SampleInstallationGivesTheSameRunsAsTheSqliteDriver) {
  ScratchInstallation inst = ScratchInstallation::Generated(120, 1, true);
  size_t sentAhead = 0;
  ExpectSameThroughBothDrivers(inst, {"TERM01", "TERM02", "TERM03", "TERM09", "NOSUCH"}, &sentAhead);
  // Statements went ahead through FreeTDS that the runs did not need; the
  // SQLite driver, one statement per call, got none of them.
  EXPECT_GT(sentAhead, 0u);

  // The badge cursor fetches its rows in blocks: far fewer requests than
  // badges. It is the first cursor opened; the cursors of each badge are
  // opened and closed between two of its fetches.
  inst.ClearRequestLog();
  const Outcome run = RunTraced(inst, "IDSTAMM", "TERM02", "blocks.dnl");
  const size_t at = run.Stdout.find("Ausweise gesamt: ");
  ASSERT_NE(at, std::string::npos) << run.Stdout;
  const long badges = std::stol(run.Stdout.substr(at + 17));
  size_t fetches = 0;
  int open = 0;
  for (const std::string& request : inst.RequestLog()) {
    if (request.rfind("RPC:sp_cursoropen", 0) == 0) ++open;
    if (request.rfind("RPC:sp_cursorclose", 0) == 0) --open;
    if (request.rfind("RPC:sp_cursorfetch", 0) == 0 && open == 1) ++fetches;
  }
  EXPECT_GT(badges, 64);
  EXPECT_LE(static_cast<long>(fetches), badges / 8) << badges << " badges";
}

// Values at the edges of what crosses the wire: Windows-1252 bytes that
// ISO-8859-1 lacks (0x80 to 0x9F) and Latin-1 letters in texts, a quote in
// a badge number and a terminal name, texts longer than their buffers, NULL
// in text and integer columns, a badge number too long for the fixed-width
// records and a class too long for them.
TEST(FreeTds, EdgeValuesGiveTheSameRunsAsTheSqliteDriver) {
  ScratchInstallation inst = ScratchInstallation::Generated(40, 7, true);
  inst.Exec(
      "UPDATE Xel1140Trm SET TrmNam = 'O''Brien T' WHERE TrmNam = 'TERM03';"
      "UPDATE Xel115Tfz SET TfzTrm = 'O''Brien T' WHERE TfzTrm = 'TERM03';"
      "UPDATE Xel401Zls SET ZlsTrm = 'O''Brien T' WHERE ZlsTrm = 'TERM03';"
      "UPDATE MGSST35P SET M35Trm = 'O''Brien T' WHERE M35Trm = 'TERM03';"
      "UPDATE Xel113Sto SET StoKtx = CAST(X'808A8E969C9FE4F6FCDF' AS TEXT) || StoKtx;"
      "UPDATE Xel301Asw SET AswPnr = NULL, AswSpr = NULL, AswAtp = NULL WHERE rowid % 5 = 0;"
      "UPDATE Xel301Asw SET AswAan = 'Anrede ' || CAST(X'809A9F' AS TEXT) || ' und ein Text, der l\xE4nger ist als "
      "f\xFCnfzig Zeichen, also abgeschnitten wird' WHERE rowid % 3 = 0;");
  // A quote in a badge number, and a number one character too long, each
  // a copy of the first badge with its classes and location.
  for (const char* number : {"Q''1", "12345678901234"}) {
    const std::string n = number;
    inst.Exec("INSERT INTO Xel301Asw (AswNum, AswLiz, AswMnd, AswGvo, AswGbi, AswPnr, AswBkl, AswBk2, AswGrp, "
              "AswAan, AswAtp, AswSal, AswSpr, AswPin, AswSta) SELECT '" + n + "', AswLiz, AswMnd, '20200101', NULL, "
              "AswPnr, AswBkl, AswBk2, AswGrp, AswAan, AswAtp, AswSal, AswSpr, AswPin, NULL FROM Xel301Asw "
              "WHERE AswNum = (SELECT MIN(AwbAsw) FROM Xel301Awb);"
              "INSERT INTO Xel113Awv (AwvNum, AwvSto) SELECT '" + n + "', MIN(StoNum) FROM Xel113Sto;"
              "INSERT INTO Xel301Awb (AwbAsw, AwbBkl) SELECT '" + n + "', AwbBkl FROM Xel301Awb "
              "WHERE AwbAsw = (SELECT MIN(AwbAsw) FROM Xel301Awb);");
  }
  const std::string everything = ExpectSameThroughBothDrivers(inst, {"TERM01", "TERM02", "O'Brien T"});
  // The edge values reached the files.
  for (const char* part : {"\x80\x8A\x8E", "\x80\x9A\x9F", "\"Q'", "Ausweis 12345678901234 passt nicht"})
    EXPECT_NE(everything.find(part), std::string::npos) << part;
}

// The operator's explanation of a badge in the file and of one left out
// (its why-not queries included) reads the same through both drivers.
TEST(FreeTds, ExplainGivesTheSameAnswersAsWithTheSqliteDriver) {
  ScratchInstallation inst = ScratchInstallation::Generated(30, 2, true);
  for (const char* number : {"EXPL-IN", "EXPL-OUT"})
    inst.Exec(std::string("INSERT INTO Xel301Asw (AswNum, AswLiz, AswMnd, AswGvo, AswPnr, AswBkl, AswAan, AswSal, "
                          "AswSpr, AswSta) SELECT '") + number + "', AswLiz, AswMnd, '20200101', AswPnr, AswBkl, AswAan, "
              "AswSal, AswSpr, NULL FROM Xel301Asw WHERE AswNum = (SELECT MIN(AwbAsw) FROM Xel301Awb);"
              "INSERT INTO Xel113Awv (AwvNum, AwvSto) SELECT '" + number + "', MIN(StoNum) FROM Xel113Sto;"
              "INSERT INTO Xel301Awb (AwbAsw, AwbBkl) SELECT '" + number + "', AwbBkl FROM Xel301Awb "
              "WHERE AwbAsw = (SELECT MIN(AwbAsw) FROM Xel301Awb);");
  inst.Exec("UPDATE Xel301Asw SET AswSta = 4 WHERE AswNum = 'EXPL-OUT'");
  for (const char* function : Functions) {
    for (const char* badge : {"EXPL-IN", "EXPL-OUT"}) {
      SCOPED_TRACE(std::string(function) + " " + badge);
      inst.ServeBy(ServedBy::SqliteDriver);
      const RunResult sqlite = inst.RunTool(GENTRMX_EXPLAIN_EXE, {function, "TERM02", badge, "--sql"});
      inst.ServeBy(ServedBy::FreeTds);
      const RunResult tds = inst.RunTool(GENTRMX_EXPLAIN_EXE, {function, "TERM02", badge, "--sql"});
      EXPECT_EQ(sqlite.ExitCode, 0) << sqlite.Stdout << sqlite.Stderr;
      EXPECT_EQ(tds.ExitCode, sqlite.ExitCode);
      EXPECT_EQ(tds.Stdout, sqlite.Stdout);
      EXPECT_NE(sqlite.Stdout.find(std::string(badge) == "EXPL-IN" ? "Bytes wie in der Datei: " : "Grund:"),
                std::string::npos)
          << sqlite.Stdout;
    }
  }
  // The installer's check of the terminal holds through FreeTDS too.
  const RunResult check = inst.RunTool(GENTRMX_CONFIG_EXE, {"check", "--terminal", "TERM02"});
  EXPECT_EQ(check.ExitCode, 0) << check.Stdout;
}

// ---------------------------------------------------------------------------
// Connect failures come from the network and the login

std::string ConnectError(const ScratchInstallation& inst) {
  return "DB-Connect-Error: -1!Name:gentrmx Pwd:*** Net:" + inst.TdsDsn + " Schema:DRAVONIX\n";
}

TEST(FreeTds, ConnectFailuresEndTheRunAndTellTheCauseWithTrace) {
  ScratchInstallation inst = ScratchInstallation::Empty();

  // Nothing listens on the data source's port.
  inst.SetConfig("DATABASE", inst.TdsDsn);
  RunResult quiet = inst.Run({"IDSTAMM", "T1", inst.Root + "/out.dnl", "1"});
  EXPECT_EQ(quiet.ExitCode, 255);
  EXPECT_EQ(quiet.Stdout, ConnectError(inst));
  RunResult traced = inst.Run({"IDSTAMM", "T1", inst.Root + "/out.dnl", "1", "/d"});
  EXPECT_EQ(traced.ExitCode, 255);
  EXPECT_EQ(traced.Stdout.rfind(ConnectError(inst), 0), 0u) << traced.Stdout;
  EXPECT_NE(traced.Stdout.find("DB-Diagnose: SQLSTATE 08001"), std::string::npos) << traced.Stdout;
  EXPECT_EQ(traced.Stdout.find("18456"), std::string::npos) << traced.Stdout;
  EXPECT_FALSE(inst.FileExists("out.dnl"));

  // The server runs, the password is wrong.
  inst.ServeBy(ServedBy::FreeTds);
  inst.SetConfig("PASS", "falsch!");
  quiet = inst.Run({"IDSTAMM", "T1", inst.Root + "/out.dnl", "1"});
  EXPECT_EQ(quiet.ExitCode, 255);
  EXPECT_EQ(quiet.Stdout, ConnectError(inst));
  traced = inst.Run({"IDSTAMM", "T1", inst.Root + "/out.dnl", "1", "/d"});
  EXPECT_EQ(traced.ExitCode, 255);
  EXPECT_EQ(traced.Stdout.rfind(ConnectError(inst), 0), 0u) << traced.Stdout;
  EXPECT_NE(traced.Stdout.find("DB-Diagnose: SQLSTATE 42000, Fehlernummer 18456, Meldung: "
                               "[unixODBC][FreeTDS][SQL Server]Login failed for user 'gentrmx'.\n"),
            std::string::npos)
      << traced.Stdout;
  EXPECT_NE(traced.Stdout.find("DB-Diagnose: SQLSTATE 08001"), std::string::npos) << traced.Stdout;
  EXPECT_EQ(traced.Stdout.find("falsch"), std::string::npos) << "the password never shows";
  EXPECT_FALSE(inst.FileExists("out.dnl"));

  // The installer's check names the same cause at its connect step.
  RunResult check = inst.RunTool(GENTRMX_CONFIG_EXE, {"check"});
  EXPECT_EQ(check.ExitCode, 1) << check.Stdout;
  EXPECT_NE(check.Stdout.find("18456"), std::string::npos) << check.Stdout;
  EXPECT_EQ(check.Stdout.find("falsch"), std::string::npos) << check.Stdout;
  inst.SetConfig("PASS", "geheim");
  check = inst.RunTool(GENTRMX_CONFIG_EXE, {"check"});
  EXPECT_EQ(check.ExitCode, 0) << check.Stdout;
}

// The server drops the connection part-way through a run: the next request
// fails, the run ends with -1 and its abort message, nothing hangs, and the
// file is as before: none, or the old one in either mode.
TEST(FreeTds, ServerThatDropsTheConnectionEndsTheRunWithError) {
  ScratchInstallation inst = ScratchInstallation::Generated(60, 1, true);
  inst.ServeBy(ServedBy::SqliteDriver);
  const RunResult whole = inst.Run({"MGDNL31P", "TERM02", inst.Root + "/whole.dnl", "1"});
  ASSERT_EQ(whole.ExitCode, 0) << whole.Stdout;

  ScratchInstallation dropping = ScratchInstallation::Generated(60, 1, true);
  dropping.ServeBy(ServedBy::FreeTds, 60);
  RunResult r = dropping.Run({"MGDNL31P", "TERM02", dropping.Root + "/out.dnl", "1"});
  EXPECT_EQ(r.ExitCode, 255) << r.Stdout;
  EXPECT_NE(r.Stdout.find("Programmabbruch: Fehler bei Erstellung der Datei MGDNL31P!\n"), std::string::npos)
      << r.Stdout;
  EXPECT_NE(r.Stdout.find("Datenbankfehler bei "), std::string::npos) << r.Stdout;
  EXPECT_FALSE(dropping.FileExists("out.dnl"));
  const std::string old = inst.ReadFile("whole.dnl").substr(0, 480);
  for (const char* mode : {"1", "0"}) {
    SCOPED_TRACE(mode);
    std::FILE* f = std::fopen((dropping.Root + "/out.dnl").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(old.data(), 1, old.size(), f);
    std::fclose(f);
    r = dropping.Run({"MGDNL31P", "TERM02", dropping.Root + "/out.dnl", mode});
    EXPECT_EQ(r.ExitCode, 255) << r.Stdout;
    EXPECT_EQ(dropping.ReadFile("out.dnl"), old);
  }
}

}  // namespace
