// What the access file MGDNL17P, the access class file MGDNL31P and the
// reader file MGDNL60P do alike, through whole runs of the tool: an empty
// badge cursor, and a badge cursor that fails. Each file's own layout is
// tested in its own test program.
#include <gtest/gtest.h>

#include <ostream>
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

// The badge cursor fails: at the open when the driver reads whole results,
// at the bad row with StepAPI, after the badges before it were written.
class WriterCursor : public ::testing::TestWithParam<std::tuple<WriterCase, bool>> {};

TEST_P(WriterCursor, FailingBadgeCursorEndsTheRunWithError) {
  const WriterCase& c = std::get<0>(GetParam());
  const bool stepApi = std::get<1>(GetParam());
  ScratchInstallation inst = ScratchInstallation::Empty(stepApi);
  inst.Exec(std::string("INSERT INTO Xel1140Trm (TrmNam) VALUES ('T1');"
                        "INSERT INTO Xel301Asw (AswNum, AswGvo) VALUES ('1', '20200101'), ('2', '2020-13-01');"
                        "INSERT INTO Xel113Awv (AwvNum) VALUES ('1'), ('2');"
                        "INSERT INTO MGSST35P (M35Trm, M35Bkl, M35Bch) VALUES ('T1', '") +
            c.Class + "', '" + c.Kind + "');INSERT INTO Xel301Awb (AwbAsw, AwbBkl) VALUES ('1', '" + c.Class +
            "'), ('2', '" + c.Class + "')");
  RunResult r = inst.Run({c.Name, "T1", inst.Root + "/out.dnl", "1"});
  EXPECT_EQ(r.ExitCode, 255);
  const int written = stepApi ? 1 : 0;
  EXPECT_NE(r.Stdout.find(SummaryLine(written, written) + (c.EndWorkLine ? c.EndWorkLine : "") +
                          "Programmabbruch: Fehler bei Erstellung der Datei " + c.Name + "!\n"),
            std::string::npos)
      << r.Stdout;
  if (c.EndWorkLine == nullptr) {
    EXPECT_EQ(r.Stdout.find("FehlerCode"), std::string::npos) << r.Stdout;
  }
  EXPECT_EQ(inst.ReadFile("out.dnl").size(), written * c.RecordLength);
}

INSTANTIATE_TEST_SUITE_P(Writers, WriterCursor, ::testing::Combine(::testing::ValuesIn(Writers), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<WriterCase, bool>>& info) {
                           return std::string(std::get<0>(info.param).Name) +
                                  (std::get<1>(info.param) ? "_StepAPI1" : "_StepAPI0");
                         });

}  // namespace
