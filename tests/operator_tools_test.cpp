// The operator tools over files the tool wrote for a generated sample
// installation: gentrmx-view decodes every function's records through the
// layout tables, field by field against the database, and reports damaged
// files; gentrmx-diff finds exactly the changes planted in the database
// between two downloads.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/visible_text.h"
#include "installation.h"
#include "layouts/download_reader.h"
#include "layouts/record_layouts.h"

namespace {

const char* const Functions[] = {"MGDNL17P", "MGDNL18P", "MGDNL31P", "MGDNL60P", "IDSTAMM"};

// What the database says of one badge.
struct BadgeRow {
  std::string From, Until, BookingClass, Pnr;
  std::set<std::string> Classes;
  std::string W02, W09;  // empty: no balance row or no value
};

std::vector<std::vector<std::string>> Query(const std::string& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  std::vector<std::vector<std::string>> rows;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(handle);
    throw std::runtime_error("cannot open " + db);
  }
  char* error = nullptr;
  auto collect = [](void* out, int n, char** values, char**) {
    std::vector<std::string> row;
    for (int i = 0; i < n; ++i) row.push_back(values[i] ? values[i] : "");
    static_cast<std::vector<std::vector<std::string>>*>(out)->push_back(row);
    return 0;
  };
  int rc = sqlite3_exec(handle, sql.c_str(), collect, &rows, &error);
  std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(handle);
  if (rc != SQLITE_OK) throw std::runtime_error(sql + ": " + message);
  return rows;
}

std::map<std::string, BadgeRow> ReadBadges(const std::string& db) {
  std::map<std::string, BadgeRow> badges;
  for (auto& r : Query(db, "SELECT AswNum, ifnull(AswGvo,''), ifnull(AswGbi,''), ifnull(AswBkl,''), ifnull(AswPnr,'') "
                           "FROM Xel301Asw"))
    badges[r[0]] = {r[1], r[2], r[3], r[4], {}, "", ""};
  for (auto& r : Query(db, "SELECT AwbAsw, AwbBkl FROM Xel301Awb")) badges[r[0]].Classes.insert(r[1]);
  for (auto& r : Query(db, "SELECT TswIdn, ifnull(TswW02,''), ifnull(TswW09,'') FROM O2002TSW")) {
    badges[r[0]].W02 = r[1];
    badges[r[0]].W09 = r[2];
  }
  return badges;
}

// A balance column ("+" or "-" and up to six digits) as the files show it:
// the digits right-aligned in six, then a blank for "+" or the sign.
std::string BalanceText(const std::string& column) {
  std::string digits = column.substr(1);
  char sign = column[0] == '+' ? ' ' : column[0];
  return std::string(6 - digits.size(), ' ') + digits + sign;
}

// "%-3s"
std::string Padded(const std::string& text) { return text.size() < 3 ? text + std::string(3 - text.size(), ' ') : text; }

std::string Two(int n) {
  char text[3];
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}

// A simple RFC 4180 reader for the tool's CSV: CR LF lines.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') rows.back().back() += text[++i];
      else if (c == '"') quoted = false;
      else rows.back().back() += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      if (i + 1 < text.size()) rows.emplace_back(1);
    } else {
      rows.back().back() += c;
    }
  }
  return rows;
}

// One generated installation for the whole program; each function's file
// of terminal TERM01 (model 7744-010, readers 1 to 11) is written to
// files/<function>.dat below its root.
class OperatorTools : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Inst.reset(new ScratchInstallation(ScratchInstallation::Generated(120, 7)));
    RunAll("files");
  }
  static void TearDownTestSuite() { Inst.reset(); }

  static void RunAll(const std::string& folder) {
    for (const char* function : Functions) {
      RunResult r = Inst->Run({function, "TERM01", Path(folder, function), "1"});
      ASSERT_EQ(r.ExitCode, 0) << function << r.Stdout;
    }
  }
  static std::string Path(const std::string& folder, const std::string& function) {
    return Inst->Root + "/" + folder + "/" + function + ".dat";
  }
  static DownloadContent Decode(const std::string& folder, const char* function) {
    return SplitDownload(Inst->ReadFile(Path(folder, function)), *LayoutByFunction(function));
  }
  static RunResult Tool(const std::vector<std::string>& argv) { return RunProgram(argv, Inst->Root); }

  static std::unique_ptr<ScratchInstallation> Inst;
};
std::unique_ptr<ScratchInstallation> OperatorTools::Inst;

// Every field of every record of every function, as gentrmx-view shows it
// in CSV, stands where the layout says: the badge is in the database, its
// dates, balance, classes and reader numbers are the database's.
TEST_F(OperatorTools, ViewDecodesEveryFunctionAgainstTheDatabase) {
  const std::map<std::string, BadgeRow> db = ReadBadges(Inst->DbPath);
  for (const char* function : Functions) {
    SCOPED_TRACE(function);
    const RecordLayout& layout = *LayoutByFunction(function);
    const DownloadContent content = Decode("files", function);
    ASSERT_TRUE(content.Whole) << content.Damage;
    ASSERT_GE(content.Records.size(), 10u);

    // The tool finds the function by the file name and shows the same.
    RunResult csv = Tool({GENTRMX_VIEW_EXE, Path("files", function), "--csv"});
    ASSERT_EQ(csv.ExitCode, 0) << csv.Stderr;
    std::vector<std::vector<std::string>> rows = ParseCsv(csv.Stdout);
    ASSERT_EQ(rows.size(), content.Records.size() + 1);
    for (size_t f = 0; f < layout.FieldCount; ++f) EXPECT_EQ(rows[0][f], layout.Fields[f].Name);
    // The date of a balance display group shows whole, as one value.
    const std::string today = TodayYmd();
    const std::string shortDate = today.substr(6, 2) + "." + today.substr(4, 2) + "." + today.substr(2, 2);
    size_t dates = 0;
    for (size_t r = 0; r < content.Records.size(); ++r) {
      ASSERT_EQ(rows[r + 1].size(), layout.FieldCount);
      const std::vector<std::string> shown = ShownValues(layout, content.Records[r]);
      for (size_t f = 0; f < layout.FieldCount; ++f) {
        EXPECT_EQ(rows[r + 1][f], Latin1ToUtf8(shown[f]));
        if (rows[r + 1][f] == shortDate) {
          ++dates;
          EXPECT_EQ(content.Records[r].Values[f], shortDate.substr(1));
          EXPECT_EQ(rows[r + 1][f - 1], WithoutTrailingBlanks(rows[r + 1][f - 1]).empty() ? rows[r + 1][f - 1]
                                                                                         : content.Records[r].Values[f - 1].substr(0, 12));
        }
      }
    }
    EXPECT_EQ(dates > 0, function == std::string("MGDNL18P")) << shortDate;

    const bool fixed = layout.Form == RecordForm::FixedWidth;
    const std::string noDate = fixed ? "00000000" : "";
    for (const DownloadRecord& record : content.Records) {
      auto value = [&](const char* name) {
        int f = FieldIndexByName(layout, name);
        EXPECT_GE(f, 0) << name;
        return f < 0 ? std::string() : record.Values[static_cast<size_t>(f)];
      };
      const std::string badge = WithoutTrailingBlanks(value("Ausweis"));
      SCOPED_TRACE("badge " + badge + " at offset " + std::to_string(record.Offset));
      auto found = db.find(badge);
      ASSERT_NE(found, db.end());
      const BadgeRow& row = found->second;
      if (fixed) {
        EXPECT_EQ(value("Ausweis"), badge + std::string(13 - badge.size(), ' '));
      }
      EXPECT_TRUE(RecordLooksRight(layout, record));
      // The balance display file carries no dates of the badge.
      if (FieldIndexByName(layout, "GueltigAb") >= 0) {
        EXPECT_EQ(value("GueltigAb"), row.From.empty() ? noDate : row.From);
      }
      if (FieldIndexByName(layout, "GueltigBis") >= 0) {
        EXPECT_EQ(value("GueltigBis"), row.Until.empty() ? noDate : row.Until);
      }

      const std::string function_ = function;
      if (function_ == "MGDNL18P") {
        EXPECT_FALSE(row.Pnr.empty());
      } else if (function_ == "IDSTAMM") {
        EXPECT_EQ(value("Ausweis2"), badge);
        EXPECT_EQ(value("Anzahl"), "001");
        const std::string cls = value("Klasse");
        if (value("Zutritt") == "1") {
          EXPECT_EQ(row.Classes.count(WithoutTrailingBlanks(cls)), 1u) << cls;
        } else {
          EXPECT_EQ(cls, Padded(row.BookingClass));
        }
      } else if (function_ == "MGDNL31P") {
        EXPECT_EQ(value("Zutritt"), "1");
        EXPECT_EQ(row.Classes.count(WithoutTrailingBlanks(value("Klasse"))), 1u) << value("Klasse");
      } else {
        // The access and reader files: balance, reader numbers and classes.
        const bool access17 = function_ == "MGDNL17P";
        const std::string& balance = access17 ? row.W02 : row.W09;
        if (balance.size() >= 2) {
          EXPECT_EQ(value("Saldo"), BalanceText(balance));
        }
        const int readers = access17 ? 11 : 3;
        const int classGroups = access17 ? 6 : 3;
        if (value("Zutritt") == "1") {
          for (int k = 1; k <= readers; ++k) EXPECT_EQ(value(("L" + std::to_string(k)).c_str()), Two(k)) << k;
          const std::string cls = value("K1");
          EXPECT_EQ(row.Classes.count(WithoutTrailingBlanks(cls)), 1u) << cls;
          for (int k = 2; k <= classGroups; ++k) EXPECT_EQ(value(("K" + std::to_string(k)).c_str()), cls) << k;
        } else {
          EXPECT_EQ(value("L1"), "  ");
          EXPECT_EQ(value("K1"), "   ");
        }
      }
    }
  }

  // The people's view: a header with names and positions, one line a record.
  RunResult view = Tool({GENTRMX_VIEW_EXE, Path("files", "MGDNL31P")});
  EXPECT_EQ(view.ExitCode, 0) << view.Stderr;
  EXPECT_NE(view.Stdout.find("Satz|Ausweis      |GueltigAb|GueltigBis|Zeit|Zutritt|Betrag  |Anzahl|Klasse|Ort\n"
                             "    |1-13         |14-21    |22-29     |30  |31     |32-39   |40-42 |43-45 |46-48\n"
                             "1   |"),
            std::string::npos)
      << view.Stdout;
  EXPECT_EQ(Tool({GENTRMX_VIEW_EXE, "--version"}).Stdout, std::string("gentrmx-view ") + GENTRMX_VERSION + "\n");
}

// Without a function name in the file name, the content settles it or the
// tool asks for --function; a file that does not split into whole records
// is shown up to the damage and reported with the damage's offset.
TEST_F(OperatorTools, ViewFindsTheFunctionAndReportsDamage) {
  const std::string mgdnl60p = Inst->ReadFile(Path("files", "MGDNL60P"));
  const std::string idstamm = Inst->ReadFile(Path("files", "IDSTAMM"));
  auto write = [](const std::string& name, const std::string& bytes) {
    std::ofstream(Inst->Root + "/" + name, std::ios::binary) << bytes;
    return Inst->Root + "/" + name;
  };

  // By content: 16 MGDNL60P records are as long as 15 MGDNL31P records;
  // only the MGDNL60P records look right.
  ASSERT_GE(mgdnl60p.size(), 16u * 45);
  RunResult byContent = Tool({GENTRMX_VIEW_EXE, write("reader.bin", mgdnl60p.substr(0, 16 * 45)), "--csv"});
  EXPECT_EQ(byContent.ExitCode, 0) << byContent.Stderr;
  EXPECT_EQ(byContent.Stdout.rfind("Ausweis,GueltigAb,Zeit,Zutritt,Saldo,L1,K1,L2,K2,L3,K3\r\n", 0), 0u) << byContent.Stdout;
  RunResult lines = Tool({GENTRMX_VIEW_EXE, write("master.txt", idstamm)});
  EXPECT_EQ(lines.ExitCode, 0) << lines.Stderr;
  EXPECT_EQ(lines.Stdout.rfind("IDSTAMM (Ausweisstammdatei)", 0), 0u) << lines.Stdout;
  RunResult blank = Tool({GENTRMX_VIEW_EXE, write("blank.bin", std::string(720, ' '))});
  EXPECT_EQ(blank.ExitCode, 2);
  EXPECT_EQ(blank.Stdout, "");
  EXPECT_NE(blank.Stderr.find("--function"), std::string::npos) << blank.Stderr;

  // A cut last record: the records before it are shown.
  const size_t whole = mgdnl60p.size() / 45;
  RunResult cut = Tool({GENTRMX_VIEW_EXE, write("cut.dnl", mgdnl60p.substr(0, mgdnl60p.size() - 7)), "--function",
                        "mgdnl60p", "--csv"});
  EXPECT_EQ(cut.ExitCode, 1);
  EXPECT_EQ(ParseCsv(cut.Stdout).size(), whole);  // header and all but the last record
  EXPECT_EQ(cut.Stderr, "MGDNL60P: Datei " + Inst->Root + "/cut.dnl beschaedigt ab Offset " +
                            std::to_string((whole - 1) * 45) + ": letzter Satz unvollstaendig: 38 von 45 Zeichen\n");

  // An IDSTAMM line with 13 fields after two good lines.
  const size_t second = idstamm.find("\r\n") + 2;
  const size_t third = idstamm.find("\r\n", second) + 2;
  std::string bad = idstamm.substr(0, third) + "\"1\",\"2\",\"3\",\"\",\"1\",\"0\",\"1\",\"\",\"001\",\"A\",\"\",\"1\",\"0\"\r\n" +
                    idstamm.substr(third);
  RunResult damaged = Tool({GENTRMX_VIEW_EXE, write("IDSTAMM.bad", bad)});
  EXPECT_EQ(damaged.ExitCode, 1);
  EXPECT_NE(damaged.Stdout.find("\n2   |"), std::string::npos) << damaged.Stdout;
  EXPECT_EQ(damaged.Stdout.find("\n3   |"), std::string::npos) << damaged.Stdout;
  EXPECT_NE(damaged.Stderr.find("beschaedigt ab Offset " + std::to_string(third) +
                                ": Zeile laesst sich nicht in 14 Felder in Anfuehrungszeichen zerlegen: nach Feld 13 "
                                "fehlt das Komma"),
            std::string::npos)
      << damaged.Stderr;
}

// Four changes in the database between two downloads: exactly those come
// out, in the access file and in the badge master file.
TEST_F(OperatorTools, DiffFindsExactlyThePlantedChanges) {
  const DownloadContent before = Decode("files", "MGDNL17P");
  const auto badges = RecordsByBadge(before);
  std::string lostClassBadge, lostClass, blocked, moved, movedFrom, rebalanced, oldBalance;
  for (const auto& b : badges) {
    const DownloadRecord& first = before.Records[b.second[0]];
    const std::string from = first.Values[Mgdnl17p::ValidFrom];
    const std::string balance = first.Values[Mgdnl17p::Balance];
    if (lostClassBadge.empty() && b.second.size() >= 2 && first.Values[Mgdnl17p::AccessPermission] == "1") {
      lostClassBadge = b.first;
      lostClass = WithoutTrailingBlanks(before.Records[b.second.back()].Values[Mgdnl17p::Class1]);
    } else if (blocked.empty()) {
      blocked = b.first;
    } else if (moved.empty() && from != "00000000") {
      moved = b.first;
      movedFrom = from;
    } else if (rebalanced.empty() && balance != "       " && balance != "  4711-") {
      rebalanced = b.first;
      oldBalance = balance;
    }
  }
  ASSERT_FALSE(lostClassBadge.empty() || moved.empty() || rebalanced.empty());
  const std::string movedTo =
      Query(Inst->DbPath, "SELECT strftime('%Y%m%d', date('" + movedFrom.substr(0, 4) + "-" + movedFrom.substr(4, 2) +
                              "-" + movedFrom.substr(6, 2) + "', '-1 day'))")[0][0];

  Inst->Exec("DELETE FROM Xel301Awb WHERE AwbAsw = '" + lostClassBadge + "' AND AwbBkl = '" + lostClass + "';" +
             "UPDATE Xel301Asw SET AswSta = 4 WHERE AswNum = '" + blocked + "';" +
             "UPDATE Xel301Asw SET AswGvo = '" + movedTo + "' WHERE AswNum = '" + moved + "';" +
             "UPDATE O2002TSW SET TswW02 = '-4711' WHERE TswIdn = '" + rebalanced + "'");
  ASSERT_EQ(mkdir((Inst->Root + "/after").c_str(), 0755), 0);
  ASSERT_NO_FATAL_FAILURE(RunAll("after"));

  RunResult access = Tool({GENTRMX_DIFF_EXE, Path("files", "MGDNL17P"), Path("after", "MGDNL17P")});
  std::map<std::string, std::string> report;
  std::string lost;
  for (int k = 1; k <= Mgdnl17p::ClassGroups; ++k)
    lost += "    Lesergruppe " + std::to_string(k) + ": Klasse \"" + lostClass + "\" entfallen\n";
  report[lostClassBadge] = "~ Ausweis " + lostClassBadge + ": geaendert\n" + lost;
  report[blocked] = "- Ausweis " + blocked + ": entfernt (" +
                    (badges.at(blocked).size() == 1 ? "1 Satz" : std::to_string(badges.at(blocked).size()) + " Saetze") +
                    ")\n";
  report[moved] = "~ Ausweis " + moved + ": geaendert\n    gueltig ab (GueltigAb): \"" + movedFrom + "\" -> \"" +
                  movedTo + "\"\n";
  report[rebalanced] = "~ Ausweis " + rebalanced + ": geaendert\n    Saldo W02 (Saldo): \"" + oldBalance +
                       "\" -> \"  4711-\"\n";
  std::string expected = "Vergleich MGDNL17P: " + Path("files", "MGDNL17P") + " -> " + Path("after", "MGDNL17P") + "\n";
  // Added and changed badges in the new file's order, removed ones last.
  for (const auto& r : report)
    if (r.first != blocked) expected += r.second;
  expected += report[blocked];
  expected += "Ausweise: 0 neu, 1 entfernt, 3 geaendert, " + std::to_string(badges.size() - 4) + " gleich\n";
  EXPECT_EQ(access.Stdout, expected);
  EXPECT_EQ(access.ExitCode, 1) << access.Stderr;

  // The badge master file has no balance: three of the four.
  const auto masterBadges = RecordsByBadge(Decode("files", "IDSTAMM"));
  RunResult master = Tool({GENTRMX_DIFF_EXE, Path("files", "IDSTAMM"), Path("after", "IDSTAMM")});
  EXPECT_EQ(master.ExitCode, 1) << master.Stderr;
  EXPECT_NE(master.Stdout.find("~ Ausweis " + lostClassBadge + ": geaendert\n    Klasse \"" + lostClass +
                               "\" entfallen\n"),
            std::string::npos)
      << master.Stdout;
  EXPECT_NE(master.Stdout.find("- Ausweis " + blocked + ": entfernt"), std::string::npos) << master.Stdout;
  EXPECT_EQ(master.Stdout.find(rebalanced), std::string::npos) << master.Stdout;
  EXPECT_NE(master.Stdout.find("Ausweise: 0 neu, 1 entfernt, 2 geaendert, " + std::to_string(masterBadges.size() - 3) +
                               " gleich\n"),
            std::string::npos)
      << master.Stdout;

  // No difference: 0; files of different functions: 2; reversed: added.
  RunResult same = Tool({GENTRMX_DIFF_EXE, Path("files", "MGDNL60P"), Path("files", "MGDNL60P")});
  EXPECT_EQ(same.ExitCode, 0);
  EXPECT_NE(same.Stdout.find(" 0 neu, 0 entfernt, 0 geaendert, "), std::string::npos) << same.Stdout;
  RunResult mixed = Tool({GENTRMX_DIFF_EXE, Path("files", "MGDNL17P"), Path("after", "MGDNL31P")});
  EXPECT_EQ(mixed.ExitCode, 2);
  EXPECT_NE(mixed.Stderr.find("verschiedenen Funktionen"), std::string::npos) << mixed.Stderr;
  RunResult reversed = Tool({GENTRMX_DIFF_EXE, Path("after", "MGDNL17P"), Path("files", "MGDNL17P")});
  EXPECT_EQ(reversed.ExitCode, 1);
  EXPECT_NE(reversed.Stdout.find("+ Ausweis " + blocked + ": neu"), std::string::npos) << reversed.Stdout;
  EXPECT_EQ(Tool({GENTRMX_DIFF_EXE, "--version"}).Stdout, std::string("gentrmx-diff ") + GENTRMX_VERSION + "\n");
}

// The same records in another order are a difference: the terminal reads
// the file in order. Swapped records of one badge, and badges that changed
// places.
TEST_F(OperatorTools, DiffReportsReorderedRecordsAndBadges) {
  const std::string old = Inst->ReadFile(Path("files", "MGDNL31P"));
  const DownloadContent content = Decode("files", "MGDNL31P");
  const auto badges = RecordsByBadge(content);
  std::string twoRecords, firstBadge, secondBadge;
  for (const auto& b : badges)
    if (twoRecords.empty() && b.second.size() >= 2) twoRecords = b.first;
  ASSERT_FALSE(twoRecords.empty());
  firstBadge = WithoutTrailingBlanks(content.Records[0].Values[Mgdnl31p::BadgeNumber]);
  const size_t L = Mgdnl31p::RecordLength;
  auto record = [&](size_t i) { return old.substr(i * L, L); };

  // The first two records of twoRecords swapped.
  const size_t at = badges.at(twoRecords)[0];
  std::string swapped = old;
  swapped.replace(at * L, L, record(at + 1));
  swapped.replace((at + 1) * L, L, record(at));
  // The whole file reversed, badge by badge.
  std::string reversed;
  for (auto b = badges.rbegin(); b != badges.rend(); ++b)
    for (size_t i : b->second) reversed += record(i);
  ASSERT_EQ(reversed.size(), old.size());
  secondBadge = WithoutTrailingBlanks(content.Records[badges.begin()->second.size()].Values[Mgdnl31p::BadgeNumber]);

  const std::string folder = Inst->Root + "/reordered";
  mkdir(folder.c_str(), 0755);
  std::ofstream(folder + "/MGDNL31P.swapped", std::ios::binary) << swapped;
  std::ofstream(folder + "/MGDNL31P.reversed", std::ios::binary) << reversed;

  RunResult inBadge = Tool({GENTRMX_DIFF_EXE, Path("files", "MGDNL31P"), folder + "/MGDNL31P.swapped"});
  EXPECT_EQ(inBadge.ExitCode, 1) << inBadge.Stderr;
  EXPECT_NE(inBadge.Stdout.find("~ Ausweis " + twoRecords + ": geaendert\n    Reihenfolge der Saetze geaendert\n"),
            std::string::npos)
      << inBadge.Stdout;
  EXPECT_NE(inBadge.Stdout.find("Ausweise: 0 neu, 0 entfernt, 1 geaendert, "), std::string::npos) << inBadge.Stdout;

  RunResult places = Tool({GENTRMX_DIFF_EXE, Path("files", "MGDNL31P"), folder + "/MGDNL31P.reversed"});
  EXPECT_EQ(places.ExitCode, 1) << places.Stderr;
  // Every badge but the new file's first stands after one it used to precede.
  EXPECT_NE(places.Stdout.find("~ Ausweis " + firstBadge + ": geaendert\n    Reihenfolge: steht in NEU nach Ausweis \"" +
                               secondBadge + "\", in ALT davor\n"),
            std::string::npos)
      << places.Stdout;
  EXPECT_NE(places.Stdout.find("Ausweise: 0 neu, 0 entfernt, " + std::to_string(badges.size() - 1) + " geaendert, 1 gleich\n"),
            std::string::npos)
      << places.Stdout;
}

// What is no download file is trouble (exit 2) for both tools, and so is
// what cannot be read; records that do not fit their layout make view
// exit 1 and are named with their offsets.
TEST_F(OperatorTools, ToolsRefuseWhatIsNoDownloadFile) {
  const std::string good = Path("files", "MGDNL31P");
  const std::string folder = Inst->Root + "/odd";
  mkdir(folder.c_str(), 0755);
  struct Unreadable {
    std::string Path;
    const char* Message;
  };
  const Unreadable unreadable[] = {
      {folder, " ist ein Verzeichnis"},
      {"/dev/zero", " ist keine gewoehnliche Datei"},
      {folder + "/missing.dat", " kann nicht gelesen werden: No such file or directory"},
  };
  for (const Unreadable& u : unreadable) {
    SCOPED_TRACE(u.Path);
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{GENTRMX_VIEW_EXE, u.Path}, {GENTRMX_VIEW_EXE, u.Path, "--function", "MGDNL31P"},
          {GENTRMX_DIFF_EXE, good, u.Path}, {GENTRMX_DIFF_EXE, u.Path, good, "--function", "MGDNL31P"}}) {
      RunResult r = Tool(argv);
      EXPECT_EQ(r.ExitCode, 2) << argv[0];
      EXPECT_EQ(r.Stdout, "") << argv[0];
      EXPECT_NE(r.Stderr.find(u.Path + u.Message), std::string::npos) << r.Stderr;
    }
  }

  // 4800 random bytes split into 100 MGDNL31P records; not one fits.
  std::string noise(4800, '\0');
  unsigned state = 12345;
  for (char& c : noise) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  std::ofstream(folder + "/noise.bin", std::ios::binary) << noise;
  RunResult random = Tool({GENTRMX_VIEW_EXE, folder + "/noise.bin", "--function", "MGDNL31P"});
  EXPECT_EQ(random.ExitCode, 1);
  EXPECT_NE(random.Stderr.find("Satz 1 (Offset 0) passt nicht zum Satzaufbau: Feld "), std::string::npos) << random.Stderr;
  EXPECT_NE(random.Stderr.find("Satz 100 (Offset 4752) passt nicht"), std::string::npos) << random.Stderr;
  EXPECT_NE(random.Stderr.find(": 100 Saetze passen nicht zum Satzaufbau\n"), std::string::npos) << random.Stderr;

  // Records one byte too long: from the second on they are shifted.
  const std::string records = Inst->ReadFile(good);
  std::string shifted;
  for (size_t at = 0; at + 48 <= records.size() && shifted.size() < 48 * 49; at += 48) shifted += records.substr(at, 48) + " ";
  std::ofstream(folder + "/MGDNL31P.shifted", std::ios::binary) << shifted.substr(0, 48 * 48);
  RunResult wide = Tool({GENTRMX_VIEW_EXE, folder + "/MGDNL31P.shifted", "--csv"});
  EXPECT_EQ(wide.ExitCode, 1);
  EXPECT_EQ(wide.Stderr.find("Satz 1 "), std::string::npos) << wide.Stderr;
  EXPECT_NE(wide.Stderr.find("Satz 2 (Offset 48) passt nicht zum Satzaufbau: Feld "), std::string::npos) << wide.Stderr;

  // Help on standard output with exit 0, for every helper.
  for (const char* program :
       {GENTRMX_VIEW_EXE, GENTRMX_DIFF_EXE, GENTRMX_EXPLAIN_EXE, GENTRMX_CONFIG_EXE, GENTRMX_SAMPLE_EXE}) {
    RunResult help = Tool({program, "--help"});
    EXPECT_EQ(help.ExitCode, 0) << program;
    EXPECT_EQ(help.Stdout.rfind("Aufruf: ", 0), 0u) << program << help.Stdout;
    EXPECT_EQ(help.Stderr, "") << program;
    RunResult wrong = Tool({program, "--no-such-option"});
    EXPECT_EQ(wrong.ExitCode, 2) << program;
    EXPECT_NE(wrong.Stderr.find("Aufruf: "), std::string::npos) << program;
  }
}

// The converter the tools show bytes with, byte by byte in each form and
// in the plain conversion of tables and CSV; the printing form writes what
// the text form gives, a zero byte included.
TEST(VisibleText, EveryByteInEachForm) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::string byte(1, static_cast<char>(b));
    char code[5];
    std::snprintf(code, sizeof code, "\\x%02X", b);
    const std::string utf8 =
        b < 0x80 ? byte : std::string{static_cast<char>(0xC0 | (b >> 6)), static_cast<char>(0x80 | (b & 0x3F))};
    const bool control = b < 0x20 || b == 0x7F;
    const bool noCharacter = control || (b >= 0x80 && b < 0xA0);
    EXPECT_EQ(VisibleText(byte, VisibleForm::Utf8), noCharacter ? code : utf8);
    EXPECT_EQ(VisibleText(byte, VisibleForm::Bytes), control ? code : byte);
    EXPECT_EQ(Latin1ToUtf8(byte), utf8);
  }
  const std::string mixed("a\0\xE4\x85\x7F" "b", 6);
  EXPECT_EQ(VisibleText(mixed, VisibleForm::Utf8), "a\\x00\xC3\xA4\\x85\\x7Fb");
  EXPECT_EQ(VisibleText(mixed, VisibleForm::Bytes), "a\\x00\xE4\x85\\x7Fb");
  for (VisibleForm form : {VisibleForm::Utf8, VisibleForm::Bytes}) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    ASSERT_NE(out, nullptr);
    PrintVisibleText(mixed.data(), mixed.size(), out, form);
    std::fclose(out);
    EXPECT_EQ(std::string(buffer, size), VisibleText(mixed, form));
    std::free(buffer);
  }
}

}  // namespace
