// Helpers of the download file tests: see writer_checks.h.
#include "writer_checks.h"

#include <utility>

std::string Blanks(size_t n) { return std::string(n, ' '); }

std::string SummaryLine(int total, int written) {
  return "Ausweise gesamt: " + std::to_string(total) + " davon in Datei gestellt: " + std::to_string(written) + "\n";
}

std::vector<std::string> CutRecords(const std::string& file, size_t recordLength) {
  EXPECT_EQ(file.size() % recordLength, 0u) << "file of " << file.size() << " bytes";
  std::vector<std::string> records;
  for (size_t at = 0; at + recordLength <= file.size(); at += recordLength)
    records.push_back(file.substr(at, recordLength));
  return records;
}

std::string ReaderGroup(const std::string& reader, const std::string& text) {
  return reader + text + Blanks(3 - text.size());
}

std::vector<std::string> PerBadgeQueries(const std::vector<std::string>& log) {
  const std::pair<const char*, const char*> kinds[] = {
      {"DRAVONIX.O2002TSW", "balance"},       {"SELECT COUNT(*) FROM  Dravonix.MGSST35P", "time"},
      {"Dravonix.Xel401Zls", "readers"},      {"SELECT DISTINCT M35BKL", "classes"},
      {"Dravonix.Xel113Sto", "location"},
  };
  std::vector<std::string> asked;
  for (const std::string& statement : log)
    for (const auto& kind : kinds)
      if (statement.find(kind.first) != std::string::npos) asked.push_back(kind.second);
  return asked;
}

std::string ReaderQuery(int limit) {
  return "SELECT ZlsLes, ZlsZko  FROM  Dravonix.Xel401Zls  WHERE ZlsTrm = 'T1'  AND ZlsLes <= " +
         std::to_string(limit) + "  AND ((ZlsSta <> 4 AND ZlsSta <> 8) OR ZlsSta IS NULL)  ORDER BY ZlsLes ";
}

void ExpectOverlongMessages(const std::string& out, const std::string& file) {
  EXPECT_NE(out.find("Ausweis 12345678901234 passt nicht in die Datei " + file +
                     " (Ausweisnummer laenger als 13 Zeichen) und wird ausgelassen!\n"),
            std::string::npos)
      << out;
  EXPECT_NE(
      out.find("Zutrittsklasse ABCD von Ausweis K1 passt nicht in die Datei " + file + " und wird ausgelassen!\n"),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("Zutrittsklasse WXYZ von Ausweis K2 passt"), std::string::npos) << out;
  EXPECT_NE(out.find(SummaryLine(4, 2)), std::string::npos) << out;
}

void ExpectQuietRun(const RunResult& quiet, const std::string& permission, int total, int written) {
  EXPECT_EQ(quiet.ExitCode, 0);
  EXPECT_EQ(quiet.Stdout.find("ohne " + permission), std::string::npos) << quiet.Stdout;
  EXPECT_NE(quiet.Stdout.find(SummaryLine(total, written)), std::string::npos) << quiet.Stdout;
}

void ExpectRefusal(const RunResult& traced, const std::string& permission, const std::string& refused,
                   const std::string& permitted) {
  EXPECT_NE(traced.Stdout.find("Ausweis " + refused + " ohne " + permission + " auf Terminal T1\n"), std::string::npos)
      << traced.Stdout;
  EXPECT_EQ(traced.Stdout.find("Ausweis " + permitted + " ohne"), std::string::npos);
}

void WriterFileTest::SetUp() {
  Inst.Exec("INSERT INTO Xel1140Trm (TrmNam, TrmMod, TrmSal) VALUES ('T1', 'M1', 'S1')");
}

void WriterFileTest::AddBadge(const std::string& number, const std::string& location, const std::string& until) {
  Inst.Exec("INSERT INTO Xel301Asw (AswNum, AswGvo, AswGbi, AswPnr) VALUES ('" + number + "', '20240301', " + until +
            ", 'P" + number + "');INSERT INTO Xel113Awv (AwvNum, AwvSto) VALUES ('" + number + "', '" + location +
            "')");
}

void WriterFileTest::AddClientBadgeWithoutValidFrom(const std::string& number, int locationRows) {
  Inst.Exec(
      "INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd) VALUES ('T1', 1, 2);"
      "INSERT INTO Xel301Asw (AswNum, AswLiz, AswMnd, AswGvo, AswGbi) VALUES ('" +
      number + "', 1, 2, NULL, '29991231')");
  for (int i = 0; i < locationRows; ++i) Inst.Exec("INSERT INTO Xel113Awv (AwvNum) VALUES ('" + number + "')");
}

void WriterFileTest::AddLocation(const std::string& location, const std::string& text) {
  Inst.Exec("INSERT INTO Xel113Sto (StoNum, StoKtx) VALUES ('" + location + "', " + text + ")");
}

void WriterFileTest::AddClass(const std::string& number, const std::string& cls, const char* kind) {
  Inst.Exec("INSERT INTO MGSST35P (M35Trm, M35Bkl, M35Bch) VALUES ('T1', '" + cls + "', '" + kind +
            "');INSERT INTO Xel301Awb (AwbAsw, AwbBkl) VALUES ('" + number + "', '" + cls + "')");
}

void WriterFileTest::AddReaders(std::initializer_list<int> numbers) {
  for (int n : numbers)
    Inst.Exec("INSERT INTO Xel401Zls (ZlsTrm, ZlsLes, ZlsZko) VALUES ('T1', " + std::to_string(n) + ", 'Z')");
}

void WriterFileTest::AddOverlongBadges(const std::string& cls, const char* kind,
                                       std::initializer_list<const char*> k1Classes) {
  for (const char* number : {"12345678901234", "1234567890123"}) {
    AddBadge(number);
    AddClass(number, cls, kind);
  }
  AddBadge("K1");
  for (const char* k1Class : k1Classes) AddClass("K1", k1Class, "0");
  AddBadge("K2");
  AddClass("K2", "WXYZ", "0");
}

RunResult WriterFileTest::Run(bool debug, bool sqlLog) {
  std::vector<std::string> args = {Writer, "T1", Inst.Root + "/out.dnl", "1"};
  if (debug) args.push_back("/d");
  return Inst.RunBothWays(args, sqlLog);
}

void WriterFileTest::RunOverBadgeDeliveredTwice(std::string* record) {
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find(SummaryLine(2, 2)), std::string::npos) << r.Stdout;
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], records[1]);
  *record = records[0];
}
