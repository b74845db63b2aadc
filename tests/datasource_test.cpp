// The embedded data source: SQLite through unixODBC and the SQLite ODBC
// driver with the gentrmx_sqlext extension, the sample generator and the
// test installation itself.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "installation.h"

namespace {

// The tool's query texts with their values filled in, as they reach the
// data source.
const std::string ValidToday =
    "((convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo AND AswGbi IS NULL)   OR (convert(char(8), "
    "CURRENT_TIMESTAMP, 112) <= AswGbi AND AswGvo IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) >= "
    "AswGvo       AND convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi))";

const std::string BadgeColumns =
    "SELECT  AswNum, CONVERT(char(8),AswGvo,112), CONVERT(char(8),AswGbi,112), AswPnr, AswBkl, AswGrp, AswAan, "
    "AswAtp, AwvSto, AswSal, AswBk2,  AswSpr, AswPin  FROM  ";

std::string TerminalBadgeQuery(const std::string& terminal) {
  return BadgeColumns + "Dravonix.Xel301Asw, Dravonix.Xel113Awv, Dravonix.Xel115Tfz  WHERE TFZTRM = '" + terminal +
         "'  AND ASWLIZ = TFZLIZ  AND ASWMND = TFZMND  AND ASWNUM = AWVNUM  AND " + ValidToday +
         "  AND (AWVCOD <> 8 OR AWVCOD IS NULL)  AND ((AwvSta <> 4 AND AwvSta <> 8) OR AwvSta IS NULL)  AND "
         "((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  ORDER BY AswNum, AswGvo, AswBkl ";
}

const std::string AllBadgesQuery =
    BadgeColumns +
    "Dravonix.Xel301Asw, Dravonix.Xel113Awv  WHERE ASWNUM = AWVNUM  AND   AswGvo <= convert(char(8), "
    "CURRENT_TIMESTAMP, 112)  AND  (AswGbi IS NULL OR AswGbi >= convert(char(8), CURRENT_TIMESTAMP, 112))  AND  "
    "(AWVCOD <> 8 OR AWVCOD IS NULL)  AND ((AwvSta <> 4 AND AwvSta <> 8) OR AwvSta IS NULL)  AND ((AswSta <> 4 AND "
    "AswSta <> 8) OR AswSta IS NULL)  ORDER BY AswNum, AswGvo, AswBkl ";

std::string BalanceQuery(const std::string& badge) {
  std::string columns = "SELECT       TswW01, ";
  for (int w = 2; w <= 16; w++) {
    char pair[96];
    std::snprintf(pair, sizeof pair, "      substring(TswW%02d, 1, 1), substring(TswW%02d, 2, 9), ", w, w);
    columns += pair;
  }
  return columns +
         "      TswF01, TswF02, TswF03, TswF04, TswF05,       TswF06, TswF07, TswF08, TswF09, TswF10  FROM  "
         "DRAVONIX.O2002TSW WHERE TSWIDN = '" +
         badge + "' ";
}

// The per-badge and per-terminal queries, keyed by what they look up.
std::vector<std::pair<std::string, std::string>> LookupQueries(const std::string& terminal, const std::string& badge) {
  const std::string t = "'" + terminal + "'";
  const std::string b = "'" + badge + "'";
  return {
      {"terminal", "SELECT TRMMOD, TRMSAL  FROM  Dravonix.Xel1140Trm  WHERE TrmNam = " + t +
                       "  AND   ((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS NULL)"},
      {"terminal clients", " SELECT COUNT(*)  FROM  Dravonix.Xel115Tfz  WHERE TfzTrm = " + t +
                               "  AND  ((TfzSta <> 4 AND TfzSta <> 8) OR TfzSta IS NULL) "},
      {"time permission", "SELECT COUNT(*) FROM  Dravonix.MGSST35P WHERE M35Trm = " + t +
                              " AND   M35BCH = '1' AND   M35Bkl IN (SELECT AwbBkl FROM  Dravonix.Xel301Awb WHERE "
                              "AWBASW = " + b + ")"},
      {"readers", "SELECT ZlsLes, ZlsZko  FROM  Dravonix.Xel401Zls  WHERE ZlsTrm = " + t +
                      "  AND ZlsLes <= 11  AND ((ZlsSta <> 4 AND ZlsSta <> 8) OR ZlsSta IS NULL)  ORDER BY ZlsLes "},
      {"zone classes", "SELECT DISTINCT M35BKL FROM   Dravonix.MGSST35P, Dravonix.Xel301Awb WHERE  M35TRM = " + t +
                           " AND    AWBASW = " + b + " AND    M35Bch = '0' AND    M35Bkl = AWBBKL ORDER BY M35BKL"},
      {"location", " SELECT StoKtx  FROM  Dravonix.Xel113Sto, Dravonix.Xel113Awv  WHERE AwvNum = " + b +
                       "  AND   AwvSto = StoNum  AND ((AwvSta <> 4 AND AwvSta <> 8) OR AwvSta IS NULL)  AND ((StoSta "
                       "<> 4 AND StoSta <> 8) OR StoSta IS NULL) "},
      {"balance", BalanceQuery(badge)},
      {"terminal display", "SELECT  MsdLfd, COALESCE(MsdSpl, 1), SubString(FtxT50, 1, 17), substring(MsdTxt, 1, 12) "
                           "FROM  Dravonix.Xel1140Trm, Dravonix.Xel119Msd, Dravonix.Xel102Whl  WHERE TrmNam = " + t +
                               "  AND TrmSal = MsdSal  AND ((TrmMnd = MsdMnd AND TrmLiz = MsdLiz) OR  MsdErf = "
                               "'ORVELIX')  AND FtxNumSpr = 220001  AND FtxWhl = MsdAnz  AND FtxSpr = TrmSpr  AND "
                               "((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> 8) "
                               "OR MsdSta IS NULL)  ORDER BY MsdSal, MsdLfd "},
      {"badge display", "SELECT  MsdLfd, COALESCE(MsdSpl, 1), SubString(FtxT50, 1, 12), substring(MsdTxt, 1, 12) FROM "
                        "Dravonix.Xel301Asw, Dravonix.Xel119Msd, Dravonix.Xel102Whl  WHERE AswNum = " + b +
                            "  AND AswSal = MsdSal  AND FtxNumSpr = 220001  AND FtxWhl = MsdAnz  AND FtxSpr = AswSpr  "
                            "AND " + ValidToday +
                            "  AND ((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta <> "
                            "8) OR MsdSta IS NULL)  ORDER BY MsdSal, MsdLfd "},
      {"terminal value code", " SELECT FTXT10   FROM DRAVONIX.XEL1140TRM, DRAVONIX.XEL119MSD, DRAVONIX.XEL102WHL   "
                              "WHERE TRMNAM  = " + t +
                                  "   AND TRMSAL = MSDSAL   AND ((TrmMnd = MsdMnd AND TrmLiz = MsdLiz) OR  MsdErf = "
                                  "'ORVELIX')   AND FTXNUMSPR = 220002   AND FTXWHL = MSDWRT   AND FTXSPR  = TRMSPR   "
                                  "AND MSDLFD = 3   AND ((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS NULL)   AND "
                                  "((MsdSta <> 4 AND MsdSta <> 8) OR MsdSta IS NULL) "},
      {"badge value code", " SELECT FTXT10  FROM DRAVONIX.XEL301ASW, DRAVONIX.XEL119MSD, DRAVONIX.XEL102WHL  WHERE "
                           "ASWNUM  = " + b +
                               "  AND  ASWSAL = MSDSAL  AND FTXNUMSPR = 220002  AND  FTXWHL = MSDWRT  AND FTXSPR  = "
                               "ASWSPR  AND  MSDLFD = 3  AND " + ValidToday +
                               "  AND ((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  AND ((MsdSta <> 4 AND MsdSta "
                               "<> 8) OR MsdSta IS NULL) "},
  };
}

struct Cell {
  bool Null;
  std::string Text;
};
using Rows = std::vector<std::vector<Cell>>;

// What one statement did: the execute's return code, the rows fetched, and
// the return code and diagnostics that ended it.
struct Outcome {
  SQLRETURN Execute = SQL_ERROR;
  Rows Fetched;
  SQLRETURN LastFetch = SQL_ERROR;
  std::string Diagnostic;
};

std::string DiagnosticText(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {0};
  SQLCHAR message[1024] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length))) return "";
  return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
}

// A plain ODBC connection to the installation's data source, made in this
// process the way the tool makes it.
class Connection {
 public:
  explicit Connection(ScratchInstallation& installation) {
    installation.UseInThisProcess();
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &Env);
    SQLSetEnvAttr(Env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, Env, &Dbc);
    SQLRETURN rc = SQLConnect(Dbc, (SQLCHAR*)installation.Dsn.c_str(), SQL_NTS, (SQLCHAR*)"u", SQL_NTS,
                              (SQLCHAR*)"p", SQL_NTS);
    if (!SQL_SUCCEEDED(rc)) throw std::runtime_error("connect: " + DiagnosticText(SQL_HANDLE_DBC, Dbc));
  }
  ~Connection() {
    SQLDisconnect(Dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, Dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, Env);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Outcome Run(const std::string& sql) {
    Outcome outcome;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, Dbc, &stmt);
    outcome.Execute = SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS);
    if (!SQL_SUCCEEDED(outcome.Execute)) {
      outcome.Diagnostic = DiagnosticText(SQL_HANDLE_STMT, stmt);
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      return outcome;
    }
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    outcome.LastFetch = SQL_NO_DATA;
    while (columns > 0 && SQL_SUCCEEDED(outcome.LastFetch = SQLFetch(stmt))) {
      std::vector<Cell> row;
      for (SQLUSMALLINT c = 1; c <= columns; c++) {
        char buffer[4096];
        SQLLEN indicator = 0;
        SQLGetData(stmt, c, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
        row.push_back(indicator == SQL_NULL_DATA ? Cell{true, ""} : Cell{false, std::string(buffer, static_cast<size_t>(indicator))});
      }
      outcome.Fetched.push_back(row);
    }
    if (outcome.LastFetch != SQL_NO_DATA) outcome.Diagnostic = DiagnosticText(SQL_HANDLE_STMT, stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return outcome;
  }

  // Rows of a statement that must succeed.
  Rows Query(const std::string& sql) {
    Outcome outcome = Run(sql);
    if (!SQL_SUCCEEDED(outcome.Execute) || outcome.LastFetch != SQL_NO_DATA)
      throw std::runtime_error("query failed: " + outcome.Diagnostic + "\n" + sql);
    return outcome.Fetched;
  }
  // The single value of a one-row, one-column query ("<NULL>" for NULL).
  std::string Value(const std::string& sql) {
    Rows rows = Query(sql);
    if (rows.size() != 1 || rows[0].size() != 1) throw std::runtime_error("not a single value: " + sql);
    return rows[0][0].Null ? "<NULL>" : rows[0][0].Text;
  }

 private:
  SQLHENV Env = SQL_NULL_HENV;
  SQLHDBC Dbc = SQL_NULL_HDBC;
};

// Query plan of a statement, through the sqlite3 API with the extension.
std::vector<std::string> QueryPlan(const std::string& dbPath, const std::string& sql) {
  unsetenv("GENTRMX_SQL_LOG");  // possibly left by an earlier Connection
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot open " + dbPath);
  sqlite3_enable_load_extension(db, 1);
  char* error = nullptr;
  if (sqlite3_load_extension(db, GENTRMX_SQLEXT, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "?";
    sqlite3_free(error);
    sqlite3_close(db);
    throw std::runtime_error("cannot load extension: " + message);
  }
  sqlite3_stmt* stmt = nullptr;
  std::vector<std::string> plan;
  if (sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error("cannot plan: " + message + "\n" + sql);
  }
  while (sqlite3_step(stmt) == SQLITE_ROW)
    plan.push_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)));
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return plan;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

TEST(DataSource, ConvertGivesTheLocalDateAndPassesStoredDatesAndNull) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  Connection db(inst);
  const std::string before = TodayYmd();
  Rows rows = db.Query(
      "SELECT convert(char(8), CURRENT_TIMESTAMP, 112), convert(char(8), NULL, 112), "
      "CONVERT(char(8), '20240301', 112), convert(char(8), '2024-03-01', 112), "
      "convert(char(8), '2024', 112)");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0][0].Text == before || rows[0][0].Text == TodayYmd()) << rows[0][0].Text;
  EXPECT_TRUE(rows[0][1].Null);
  EXPECT_EQ(rows[0][2].Text, "20240301");
  EXPECT_EQ(rows[0][3].Text, "20240301");
  EXPECT_EQ(rows[0][4].Text, "2024    ");  // char(8): blank-padded
}

TEST(DataSource, ValidTodayFilterSeesTodayAsTheFirstAndLastValidDay) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  inst.Exec("INSERT INTO Xel301Asw (AswNum, AswGvo, AswGbi) VALUES ('FROM-TODAY', '" + TodayYmd() +
            "', NULL), ('UNTIL-YESTERDAY', '20000101', '" + TodayYmd(-1) + "'), ('UNTIL-TODAY', NULL, '" +
            TodayYmd() + "'), ('FROM-TOMORROW', '" + TodayYmd(1) + "', NULL), ('NO-DATES', NULL, NULL)");
  Connection db(inst);
  Rows rows = db.Query("SELECT AswNum FROM Dravonix.Xel301Asw WHERE " + ValidToday + " ORDER BY AswNum");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0].Text, "FROM-TODAY");
  EXPECT_EQ(rows[1][0].Text, "UNTIL-TODAY");
}

TEST(DataSource, SchemaDravonixIsTheDatabaseItselfInAnyCase) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  inst.Exec("INSERT INTO Xel301Asw (AswNum) VALUES ('4711'); INSERT INTO O2002TSW (TswIdn, TswW02) VALUES ('4711', '-123')");
  Connection db(inst);
  EXPECT_EQ(db.Value("SELECT AswNum FROM Dravonix.Xel301Asw"), "4711");
  EXPECT_EQ(db.Value("SELECT AswNum FROM DRAVONIX.XEL301ASW"), "4711");
  EXPECT_EQ(db.Value("SELECT substring(TswW02, 2, 9) FROM DRAVONIX.O2002TSW WHERE TSWIDN = '4711' "), "123");
  // A row written through the schema name is in the same file.
  db.Query("INSERT INTO Dravonix.Xel301Asw (AswNum) VALUES ('4712')");
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Xel301Asw"), "2");
}

TEST(DataSource, KeysCompareWithoutTrailingBlanksAsTheServerDoes) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  inst.Exec(
      "INSERT INTO Xel113Awv (AwvNum, AwvSto) VALUES ('12345   ', '7  ');"
      "INSERT INTO Xel113Sto (StoNum, StoKtx) VALUES ('7', 'HAL');"
      "INSERT INTO MGSST35P VALUES ('T1', 'A  ', '0'), ('T1', 'A', '0'), ('T1', 'B', '0');"
      "INSERT INTO Xel301Awb VALUES ('12345', 'A'), ('12345', 'B  ')");
  Connection db(inst);
  auto queries = LookupQueries("T1", "12345");
  for (const auto& [name, sql] : queries) {
    if (name == "location") {
      EXPECT_EQ(db.Value(sql), "HAL");
    } else if (name == "zone classes") {
      EXPECT_EQ(db.Query(sql).size(), 2u) << "A and B once each";
    }
  }
}

TEST(DataSource, Latin1BytesSurviveTheRoundTrip) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  const std::string name = "M\xFCller, J\xFCrgen \xE4\xF6\xDF\xF1";
  inst.Exec("INSERT INTO Xel301Asw (AswNum, AswAan) VALUES ('1', '" + name + "')");
  Connection db(inst);
  EXPECT_EQ(db.Value("SELECT AswAan FROM Dravonix.Xel301Asw"), name);
  EXPECT_EQ(db.Value("SELECT AswNum FROM Dravonix.Xel301Asw WHERE AswAan = '" + name + "'"), "1");
  EXPECT_EQ(db.Value("SELECT 'Ma\xF1" "ana'"), "Ma\xF1" "ana");
}

// The log is what proves that a query text reached the data source whole:
// long, with runs of blanks, a trailing blank and Latin-1 bytes.
void ExpectStatementLogKeepsTexts(bool stepApi) {
  ScratchInstallation inst = ScratchInstallation::Empty(stepApi);
  inst.Exec("INSERT INTO O2002TSW (TswIdn, TswW02) VALUES ('4711', '+42')");
  Connection db(inst);
  inst.ClearStatementLog();
  const std::string balance = BalanceQuery("4711");
  const std::string latin = "SELECT   'Gr\xFC\xDF" "e'  ,  1   ";
  ASSERT_GT(balance.size(), 900u);
  ASSERT_EQ(balance.back(), ' ');
  EXPECT_EQ(db.Query(balance).size(), 1u);
  EXPECT_EQ(db.Query(latin).size(), 1u);
  EXPECT_EQ(inst.StatementLog(), (std::vector<std::string>{balance, latin}));
}

TEST(DataSource, StatementLogKeepsEachTextByteForByte) { ExpectStatementLogKeepsTexts(false); }
TEST(DataSource, StatementLogKeepsEachTextByteForByteWithStepApi) { ExpectStatementLogKeepsTexts(true); }

// An impossible date makes convert fail like the server's conversion, which
// lets test data break a query at a chosen row: at the execute when the
// driver reads whole results, at that row's fetch with StepAPI.
TEST(DataSource, BadDateFailsTheQueryAtExecuteOrAtItsRow) {
  for (bool stepApi : {false, true}) {
    SCOPED_TRACE(stepApi ? "StepAPI=1" : "StepAPI=0");
    ScratchInstallation inst = ScratchInstallation::Empty(stepApi);
    inst.Exec(
        "INSERT INTO Xel301Asw (AswNum, AswGvo) VALUES ('1', '20200101'), ('2', '2020-13-01'), ('3', '20200101');"
        "INSERT INTO Xel113Awv (AwvNum) VALUES ('1'), ('2'), ('3')");
    Connection db(inst);
    Outcome outcome = db.Run(AllBadgesQuery);
    if (stepApi) {
      EXPECT_TRUE(SQL_SUCCEEDED(outcome.Execute));
      ASSERT_EQ(outcome.Fetched.size(), 1u);
      EXPECT_EQ(outcome.Fetched[0][0].Text, "1");
      EXPECT_EQ(outcome.LastFetch, SQL_ERROR);
    } else {
      EXPECT_EQ(outcome.Execute, SQL_ERROR);
    }
    EXPECT_NE(outcome.Diagnostic.find("Conversion failed"), std::string::npos) << outcome.Diagnostic;
  }
}

TEST(DataSource, InstallationRefusesADataSourceWithoutTheExtension) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  std::ofstream(inst.Root + "/odbc.ini", std::ios::app)
      << "\n[NOEXT]\nDriver=SQLite3 gentrmx\nDatabase=" << inst.DbPath << "\nLoadExt=" << inst.Root << "/missing.so\n";
  inst.Dsn = "NOEXT";
  try {
    inst.CheckDataSource();
    FAIL() << "a data source without convert() and Dravonix passed the check";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("probe query failed"), std::string::npos) << e.what();
  }
}

TEST(Installation, ConfigurationAndRunnerReachTheFolders) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  RunResult listed = RunProgram({GENTRMX_CONFIG_EXE, "list", inst.Root + "/files/quillnest.ini"}, inst.Root);
  ASSERT_EQ(listed.ExitCode, 0) << listed.Stderr;
  for (const std::string& line :
       std::vector<std::string>{"LOGIN=gentrmx\n", "DATABASE=" + inst.Dsn + "\n", "DB_SYSTEM=MSSQL\n", "SCHEMA=Dravonix.\n"})
    EXPECT_NE(listed.Stdout.find(line), std::string::npos) << listed.Stdout;
  inst.SetConfig("DATABASE", "OTHER");
  listed = RunProgram({GENTRMX_CONFIG_EXE, "list", "../../files/quillnest.ini"}, inst.WorkDir);
  EXPECT_NE(listed.Stdout.find("DATABASE=OTHER\n"), std::string::npos) << listed.Stdout;

  RunResult shell = RunProgram({"/bin/sh", "-c", "pwd; printf 'a\\0b'; echo err >&2; exit 3"}, inst.WorkDir);
  EXPECT_EQ(shell.ExitCode, 3);
  EXPECT_EQ(shell.Stdout, inst.WorkDir + "\na" + std::string(1, '\0') + "b");
  EXPECT_EQ(shell.Stderr, "err\n");
  EXPECT_EQ(RunProgram({"/bin/sh", "-c", "exit 255"}, inst.Root).ExitCode, 255);
  EXPECT_THROW(RunProgram({inst.Root + "/no-such-program"}, inst.Root), std::runtime_error);
}

// unixODBC serves odbc.ini values from a cache keyed by data source name
// while its installer library stays loaded (as long as any connection is
// open); each installation must still reach its own database.
TEST(Installation, EachInstallationIsReachedWhileAnotherIsConnected) {
  ScratchInstallation first = ScratchInstallation::Empty();
  first.Exec("INSERT INTO Xel1140Trm (TrmNam) VALUES ('FIRST')");
  Connection a(first);
  EXPECT_EQ(a.Value("SELECT TrmNam FROM Dravonix.Xel1140Trm"), "FIRST");
  ScratchInstallation second = ScratchInstallation::Empty();
  second.Exec("INSERT INTO Xel1140Trm (TrmNam) VALUES ('SECOND')");
  Connection b(second);
  EXPECT_EQ(b.Value("SELECT TrmNam FROM Dravonix.Xel1140Trm"), "SECOND");
  EXPECT_NE(first.Dsn, second.Dsn);
  RunResult listed = RunProgram({GENTRMX_CONFIG_EXE, "list", second.Root + "/files/quillnest.ini"}, second.Root);
  EXPECT_NE(listed.Stdout.find("DATABASE=" + second.Dsn + "\n"), std::string::npos) << listed.Stdout;
}

// unixODBC keeps the first ODBCSYSINI of a process and rereads the driver
// list from there after some 20 seconds; a removed installation's folder
// there made every later connection in the process fail.
TEST(Installation, InProcessConnectionsOutliveEarlierInstallations) {
  {
    ScratchInstallation first = ScratchInstallation::Empty();
    Connection db(first);
    EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Dravonix.Xel301Asw"), "0");
  }
  std::this_thread::sleep_for(std::chrono::seconds(25));
  ScratchInstallation second = ScratchInstallation::Empty();
  second.Exec("INSERT INTO Xel1140Trm (TrmNam) VALUES ('T')");
  Connection db(second);
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Dravonix.Xel1140Trm"), "1");
}

TEST(Installation, FolderIsRemovedWithTheLastOwner) {
  std::string root;
  {
    ScratchInstallation first = ScratchInstallation::Empty();
    root = first.Root;
    ScratchInstallation second = std::move(first);
    EXPECT_TRUE(second.FileExists(second.DbPath));
  }
  EXPECT_NE(access(root.c_str(), F_OK), 0) << root << " left behind";
}

TEST(SampleGenerator, SameSeedGivesTheSameFileAndAnotherSeedAnother) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  const std::string today = TodayYmd();
  auto generate = [&](const std::string& file, const char* seed) {
    RunResult r = RunProgram({GENTRMX_SAMPLE_EXE, "--db", inst.Root + "/" + file, "--badges", "3000", "--seed", seed}, inst.Root);
    EXPECT_EQ(r.ExitCode, 0) << r.Stderr;
    EXPECT_NE(r.Stdout.find("3000 Ausweise"), std::string::npos) << r.Stdout;
    return inst.ReadFile(file);
  };
  const std::string a = generate("a.sqlite", "17");
  const std::string b = generate("b.sqlite", "17");
  const std::string c = generate("c.sqlite", "18");
  if (TodayYmd() != today) GTEST_SKIP() << "the date changed while generating";
  EXPECT_TRUE(a == b) << "same seed, different files";
  EXPECT_FALSE(a == c) << "different seeds, same file";
}

TEST(SampleGenerator, RejectsBadArguments) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  for (std::vector<std::string> args : {std::vector<std::string>{}, {"--badges", "10"}, {"--db", "x", "--badges", "-1"},
                                        {"--db", "x", "--seed", "abc"}, {"--db", "x", "--what"}}) {
    args.insert(args.begin(), GENTRMX_SAMPLE_EXE);
    RunResult r = RunProgram(args, inst.Root);
    EXPECT_NE(r.ExitCode, 0) << Join(args);
    EXPECT_NE(r.Stderr.find("Aufruf: gentrmx-sample"), std::string::npos);
  }
}

// What the sample installation promises in gentrmx_sample.cpp, as the
// tool's own queries see it.
TEST(SampleGenerator, SampleTerminalsAreAsDocumented) {
  ScratchInstallation inst = ScratchInstallation::Generated(2000, 5);
  Connection db(inst);
  auto lookup = [&](const std::string& terminal, const std::string& what) {
    for (const auto& [name, sql] : LookupQueries(terminal, "x"))
      if (name == what) return db.Query(sql);
    throw std::logic_error("no query " + what);
  };
  Rows term01 = lookup("TERM01", "terminal");
  ASSERT_EQ(term01.size(), 1u);
  EXPECT_EQ(term01[0][0].Text, "7744-010");
  EXPECT_EQ(term01[0][1].Text, "SAL01");
  EXPECT_EQ(lookup("TERM02", "terminal")[0][0].Text, "7598-002");
  EXPECT_EQ(lookup("TERM03", "terminal")[0][0].Text, "7600-100  ");  // blank-padded model
  EXPECT_TRUE(lookup("TERM09", "terminal").empty()) << "TERM09 is deleted";
  EXPECT_EQ(lookup("TERM01", "terminal clients")[0][0].Text, "1");
  EXPECT_EQ(lookup("TERM02", "terminal clients")[0][0].Text, "0");
  EXPECT_EQ(lookup("TERM03", "terminal clients")[0][0].Text, "1");
  EXPECT_EQ(lookup("TERM01", "readers").size(), 11u);
  Rows term02Readers = lookup("TERM02", "readers");
  ASSERT_EQ(term02Readers.size(), 3u);
  EXPECT_EQ(term02Readers[0][0].Text + term02Readers[1][0].Text + term02Readers[2][0].Text, "135");
  EXPECT_EQ(lookup("TERM03", "readers").size(), 2u);

  Rows display = lookup("TERM01", "terminal display");
  ASSERT_EQ(display.size(), 8u);
  for (size_t i = 0; i < display.size(); i++) EXPECT_EQ(display[i][0].Text, std::to_string(i + 1));
  EXPECT_EQ(display[4][2].Text, "Ma&#241;ana Schic");
  EXPECT_EQ(lookup("TERM02", "terminal display").size(), 5u) << "SAL02 reached through ORVELIX";

  // Every terminal gets badges, the bound ones fewer than the unbound one;
  // some badges are valid today on no terminal at all.
  const size_t term01Badges = db.Query(TerminalBadgeQuery("TERM01")).size();
  const size_t term03Badges = db.Query(TerminalBadgeQuery("TERM03")).size();
  const size_t allBadges = db.Query(AllBadgesQuery).size();
  EXPECT_GT(term01Badges, 900u);
  EXPECT_GT(term03Badges, 200u);
  EXPECT_GT(allBadges, term01Badges + term03Badges);
  EXPECT_LT(allBadges, 2000u);
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Xel301Asw"), "2000");
  for (const char* kind : {"AswSta = 4", "AswSta = 8", "AswGbi < convert(char(8), CURRENT_TIMESTAMP, 112)",
                           "AswGvo > convert(char(8), CURRENT_TIMESTAMP, 112)", "AswGvo IS NULL AND AswGbi IS NOT NULL",
                           "AswNum IN (SELECT AwvNum FROM Xel113Awv WHERE AwvCod = 8)"})
    EXPECT_NE(db.Value(std::string("SELECT COUNT(*) FROM Xel301Asw WHERE ") + kind), "0") << kind;
}

TEST(SampleGenerator, LargeInstallationIsQuick) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  const std::time_t start = std::time(nullptr);
  RunResult r = RunProgram({GENTRMX_SAMPLE_EXE, "--db", inst.Root + "/big.sqlite", "--badges", "100000"}, inst.Root);
  ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
  EXPECT_LE(std::time(nullptr) - start, 20) << "100000 badges should take seconds";
}

// Every lookup that runs per badge or per terminal is an index search, and
// the badge cursor walks the badges in index order with an index search for
// the location assignment: no scan of a big table.
TEST(SampleGenerator, EveryLookupIsAnIndexSearch) {
  ScratchInstallation inst = ScratchInstallation::Generated(3000, 3);
  for (const auto& [name, sql] : LookupQueries("TERM01", "00010005")) {
    const std::vector<std::string> plan = QueryPlan(inst.DbPath, sql);
    for (const std::string& step : plan) {
      EXPECT_EQ(step.find("SCAN"), std::string::npos) << name << ":\n" << Join(plan);
      if (step.find("SEARCH") != std::string::npos) {
        EXPECT_NE(step.find("USING"), std::string::npos) << name << ":\n" << Join(plan);
      }
    }
  }
  for (const std::string& sql : {TerminalBadgeQuery("TERM01"), AllBadgesQuery}) {
    const std::vector<std::string> plan = QueryPlan(inst.DbPath, sql);
    bool awvSearched = false;
    for (const std::string& step : plan) {
      if (step.rfind("SCAN", 0) == 0) {
        EXPECT_NE(step.find("Xel301Asw USING INDEX"), std::string::npos) << Join(plan);
      }
      if (step.find("Xel113Awv USING INDEX") != std::string::npos) awvSearched = true;
    }
    EXPECT_TRUE(awvSearched) << Join(plan);
  }
}

}  // namespace

// gentrmx-odbc-setup looks for the driver when it runs: a driver that the
// driver manager's registry names is the one written, wherever it lies.
TEST(OdbcSetup, FindsTheDriverWhenItRunsAndAnswersHelp) {
  char pattern[] = "/tmp/gentrmx_odbcsetup_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folder = pattern;
  ASSERT_EQ(mkdir((folder + "/registry").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((folder + "/drivers").c_str(), 0700), 0);
  const std::string driver = folder + "/drivers/libtdsodbc.so";
  ASSERT_EQ(symlink(GENTRMX_FREETDS_ODBC_DRIVER, driver.c_str()), 0);
  std::ofstream(folder + "/registry/odbcinst.ini") << "[Other]\nDriver=/nonexistent/libother.so\n\n[FreeTDS]\n"
                                                   << "Description=FreeTDS\nDriver = " << driver << "\n";
  const RunResult set = RunProgram({GENTRMX_ODBC_SETUP, "freetds", folder + "/out", "TDS", "127.0.0.1", "1433"},
                                   folder, {"ODBCSYSINI=" + folder + "/registry"});
  EXPECT_EQ(set.ExitCode, 0) << set.Stderr;
  std::ifstream written(folder + "/out/odbcinst.ini");
  const std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Driver=" + driver + "\n"), std::string::npos) << text;

  const RunResult help = RunProgram({GENTRMX_ODBC_SETUP, "--help"}, folder);
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_EQ(help.Stdout.rfind("Aufruf: gentrmx-odbc-setup sqlite", 0), 0u) << help.Stdout;
  EXPECT_EQ(help.Stderr, "");
  EXPECT_EQ(RunProgram({GENTRMX_ODBC_SETUP, "--version"}, folder).Stdout,
            std::string("gentrmx-odbc-setup ") + GENTRMX_VERSION + "\n");
  const RunResult wrong = RunProgram({GENTRMX_ODBC_SETUP, "freetds", folder}, folder);
  EXPECT_EQ(wrong.ExitCode, 2);
  EXPECT_EQ(wrong.Stdout, "");
  EXPECT_NE(wrong.Stderr.find("Aufruf: "), std::string::npos);
  const RunResult missing = RunProgram({GENTRMX_ODBC_SETUP, "freetds", folder + "/out", "TDS", "h", "1"}, folder,
                                       {"GENTRMX_TDS_ODBC_DRIVER=" + folder + "/none.so"});
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_NE(missing.Stderr.find(folder + "/none.so (aus GENTRMX_TDS_ODBC_DRIVER) existiert nicht"), std::string::npos)
      << missing.Stderr;

  for (const char* file : {"/out/odbcinst.ini", "/out/odbc.ini", "/registry/odbcinst.ini", "/drivers/libtdsodbc.so"})
    std::remove((folder + file).c_str());
  for (const char* sub : {"/out", "/registry", "/drivers", ""}) rmdir((folder + sub).c_str());
}
