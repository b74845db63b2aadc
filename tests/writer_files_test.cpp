// What the access file MGDNL17P, the access class file MGDNL31P and the
// reader file MGDNL60P do alike, through whole runs of the tool: an empty
// badge cursor, and a badge cursor that fails. Each file's own layout is
// tested in its own test file.
#include <gtest/gtest.h>

#include <ostream>
#include <cstdio>
#include <string>
#include <tuple>

#include "installation.h"
#include "writer_checks.h"

namespace {

struct WriterCase {
  const char* Name;
  size_t RecordLength;
  // A class, and its kind, that gets a badge a record in this file.
  const char* Class;
  const char* Kind;
  // The line the writer's end prints when the run fails; nullptr: the run
  // prints no "FehlerCode" line.
  const char* EndWorkLine;
};

void PrintTo(const WriterCase& c, std::ostream* os) { *os << c.Name; }

const WriterCase Writers[] = {
    {"MGDNL17P", 85, "Z", "1", "FehlerCode EndWorkMgDnl17P: -1\n"},
    {"MGDNL31P", 48, "A", "0", nullptr},
    {"MGDNL60P", 45, "Z", "1", nullptr},
};

class WriterFiles : public WriterFileTest, public ::testing::WithParamInterface<WriterCase> {
 protected:
  WriterFiles() : WriterFileTest(GetParam().Name, GetParam().RecordLength) {}
};

TEST_P(WriterFiles, EmptyCursorWritesNothing) {
  RunResult r = Run();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Stdout.find(SummaryLine(0, 0)), std::string::npos) << r.Stdout;
  EXPECT_EQ(Inst.ReadFile("out.dnl"), "");
}

INSTANTIATE_TEST_SUITE_P(Writers, WriterFiles, ::testing::ValuesIn(Writers),
                         [](const ::testing::TestParamInfo<WriterCase>& info) { return std::string(info.param.Name); });

// The badge cursor fails at its 20th row (inside the second block of rows):
// at the open when the driver reads whole results; at that row with StepAPI
// and through FreeTDS, after the 19 badges before it were written.
enum class Path { Sqlite, SqliteStepApi, FreeTds };

class WriterCursor : public ::testing::TestWithParam<std::tuple<WriterCase, Path>> {};

TEST_P(WriterCursor, FailingBadgeCursorEndsTheRunWithError) {
  const WriterCase& c = std::get<0>(GetParam());
  const Path path = std::get<1>(GetParam());
  ScratchInstallation inst = ScratchInstallation::Empty(path == Path::SqliteStepApi);
  std::string badges, permissions, classes;
  for (int i = 1; i <= 20; ++i) {
    const std::string number = (i < 10 ? "'0" : "'") + std::to_string(i) + "'";
    const char* sep = i > 1 ? ", " : "";
    badges += sep + ("(" + number + (i < 20 ? ", '20200101')" : ", '2020-13-01')"));
    permissions += sep + ("(" + number + ")");
    classes += sep + ("(" + number + ", '" + c.Class + "')");
  }
  inst.Exec(std::string("INSERT INTO Xel1140Trm (TrmNam) VALUES ('T1');"
                        "INSERT INTO Xel301Asw (AswNum, AswGvo) VALUES ") +
            badges + ";INSERT INTO Xel113Awv (AwvNum) VALUES " + permissions +
            ";INSERT INTO MGSST35P (M35Trm, M35Bkl, M35Bch) VALUES ('T1', '" + c.Class + "', '" + c.Kind +
            "');INSERT INTO Xel301Awb (AwbAsw, AwbBkl) VALUES " + classes);
  if (path == Path::FreeTds) inst.ServeBy(ServedBy::FreeTds);
  const std::string old = "alter Inhalt\r\n";
  std::FILE* f = std::fopen((inst.Root + "/out.dnl").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(old.c_str(), f);
  std::fclose(f);
  RunResult r = inst.Run({c.Name, "T1", inst.Root + "/out.dnl", "1"});
  EXPECT_EQ(r.ExitCode, 255);
  const std::string failure = "Datenbankfehler bei Ausweisabfrage fuer Terminal T1";
  EXPECT_NE(r.Stdout.find(failure + (path == Path::Sqlite ? ": SQLSTATE " : " nach Ausweis 19: SQLSTATE ")),
            std::string::npos)
      << r.Stdout;
  const int written = path == Path::Sqlite ? 0 : 19;
  EXPECT_NE(r.Stdout.find(SummaryLine(written, written) + (c.EndWorkLine ? c.EndWorkLine : "") +
                          "Programmabbruch: Fehler bei Erstellung der Datei " + c.Name + "!\n"),
            std::string::npos)
      << r.Stdout;
  if (c.EndWorkLine == nullptr) {
    EXPECT_EQ(r.Stdout.find("FehlerCode"), std::string::npos) << r.Stdout;
  }
  // The 19 records written before stay nowhere: the old file stands.
  EXPECT_EQ(inst.ReadFile("out.dnl"), old);
}

INSTANTIATE_TEST_SUITE_P(Writers, WriterCursor,
                         ::testing::Combine(::testing::ValuesIn(Writers),
                                            ::testing::Values(Path::Sqlite, Path::SqliteStepApi, Path::FreeTds)),
                         [](const ::testing::TestParamInfo<std::tuple<WriterCase, Path>>& info) {
                           const Path path = std::get<1>(info.param);
                           return std::string(std::get<0>(info.param).Name) +
                                  (path == Path::Sqlite ? "_StepAPI0" : path == Path::SqliteStepApi ? "_StepAPI1" : "_FreeTds");
                         });

}  // namespace
