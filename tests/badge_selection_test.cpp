// Which badges the badge cursor selects, through whole runs of the tool (the
// terminal binding starts fresh in each): terminal-bound or all badges,
// the valid-today and status filters, the exact query texts, and a query
// that fails at a row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "badge_rows.h"
#include "installation.h"

namespace {

using Badges = std::vector<std::string>;

// The /d trace prints one time permission line per fetched badge, in
// cursor order.

struct Selection {
  Badges Delivered;
  std::vector<std::string> Statements;
};

Selection Select(ScratchInstallation& inst, const std::string& terminal) {
  RunResult run = inst.Run({"IDSTAMM", terminal, inst.Root + "/out.txt", "1", "/d"}, true);
  EXPECT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;
  return {TracedBadges(run.Stdout), inst.StatementLog()};
}

// The badge query among the statements of a run.
std::string BadgeQueryOf(const std::vector<std::string>& statements) {
  for (const std::string& s : statements)
    if (s.rfind("SELECT  AswNum,", 0) == 0) return s;
  return "(no badge query)";
}

TEST(BadgeSelection, ClientRowsBindTheTerminalToTheirLicenceAndClientPairs) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  // O'Hara serves (1,1) and (1,2); its (1,2) row is deleted but still joins
  // since one live row makes the terminal bound.
  AddTerminal(inst, "O'Hara");
  inst.Exec("INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd, TfzSta) VALUES ('O''Hara', 1, 1, NULL), ('O''Hara', 1, 2, 8)");
  // T-GONE has client rows only in status 4 and 8: it counts as unbound.
  AddTerminal(inst, "T-GONE");
  inst.Exec("INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd, TfzSta) VALUES ('T-GONE', 1, 1, 4), ('T-GONE', 2, 1, 8)");
  AddTerminal(inst, "T-FREE");
  AddBadge(inst, "B11");
  AddBadge(inst, "B12", "AswMnd = 2");
  AddBadge(inst, "B21", "AswLiz = 2");
  AddBadge(inst, "BNOFROM", "AswGvo = NULL, AswGbi = '20991231'");

  Selection bound = Select(inst, "O'Hara");
  EXPECT_EQ(bound.Delivered, (Badges{"B11", "B12", "BNOFROM"}));
  EXPECT_EQ(BadgeQueryOf(bound.Statements), TerminalBoundBadgeQuery("O''Hara"));

  for (const char* unbound : {"T-GONE", "T-FREE"}) {
    SCOPED_TRACE(unbound);
    Selection all = Select(inst, unbound);
    EXPECT_EQ(all.Delivered, (Badges{"B11", "B12", "B21"}));
    EXPECT_EQ(BadgeQueryOf(all.Statements), AllBadgesQueryText);
  }
}

TEST(BadgeSelection, ValidTodayAndStatusFiltersInBothQueries) {
  ScratchInstallation inst = ScratchInstallation::Empty();
  AddTerminal(inst, "T-BOUND");
  inst.Exec("INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd) VALUES ('T-BOUND', 1, 1)");
  AddTerminal(inst, "T-ALL");
  const std::string today = "'" + TodayYmd() + "'";
  const std::string yesterday = "'" + TodayYmd(-1) + "'";
  const std::string tomorrow = "'" + TodayYmd(1) + "'";

  // Dates.
  AddBadge(inst, "D01-from-today", "AswGvo = " + today);
  AddBadge(inst, "D02-until-today", "AswGbi = " + today);
  AddBadge(inst, "D03-today-only", "AswGvo = " + today + ", AswGbi = " + today);
  AddBadge(inst, "D04-ended-yesterday", "AswGbi = " + yesterday);
  AddBadge(inst, "D05-from-tomorrow", "AswGvo = " + tomorrow);
  AddBadge(inst, "D06-no-dates", "AswGvo = NULL");
  AddBadge(inst, "D07-no-from-until-today", "AswGvo = NULL, AswGbi = " + today);
  AddBadge(inst, "D08-no-from-ended", "AswGvo = NULL, AswGbi = " + yesterday);
  // Badge status.
  AddBadge(inst, "S01-status-4", "AswSta = 4");
  AddBadge(inst, "S02-status-8", "AswSta = 8");
  AddBadge(inst, "S03-status-0", "AswSta = 0");
  // Location row status and code.
  AddBadge(inst, "S04-awv-status-4");
  AddBadge(inst, "S05-awv-status-8");
  AddBadge(inst, "S06-awv-status-1");
  AddBadge(inst, "S07-awv-code-8");
  AddBadge(inst, "S08-awv-code-1");
  inst.Exec(
      "UPDATE Xel113Awv SET AwvSta = 4 WHERE AwvNum = 'S04-awv-status-4';"
      "UPDATE Xel113Awv SET AwvSta = 8 WHERE AwvNum = 'S05-awv-status-8';"
      "UPDATE Xel113Awv SET AwvSta = 1 WHERE AwvNum = 'S06-awv-status-1';"
      "UPDATE Xel113Awv SET AwvCod = 8 WHERE AwvNum = 'S07-awv-code-8';"
      "UPDATE Xel113Awv SET AwvCod = 1 WHERE AwvNum = 'S08-awv-code-1';"
      "INSERT INTO Xel301Asw (AswNum, AswLiz, AswMnd, AswGvo) VALUES ('S09-no-location', 1, 1, '20200101')");

  const Badges both = {"D01-from-today", "D02-until-today", "D03-today-only", "S03-status-0", "S06-awv-status-1",
                       "S08-awv-code-1"};
  EXPECT_EQ(Select(inst, "T-ALL").Delivered, both);
  Badges bound = both;
  bound.insert(bound.begin() + 3, "D07-no-from-until-today");
  EXPECT_EQ(Select(inst, "T-BOUND").Delivered, bound);
}

// With rows streamed (StepAPI=1) the same bad date fails at its row's
// fetch: the badges before it are delivered, then the walk ends in error.
TEST(BadgeSelection, QueryFailingAtARowEndsTheWalkThere) {
  ScratchInstallation inst = ScratchInstallation::Empty(true);
  AddTerminal(inst, "T-ALL");
  AddBadge(inst, "F1");
  AddBadge(inst, "F2", "AswGvo = '2020-13-01'");
  AddBadge(inst, "F3");
  RunResult run = inst.Run({"IDSTAMM", "T-ALL", inst.Root + "/out.txt", "1", "/d"});
  EXPECT_EQ(run.ExitCode, 255);
  EXPECT_EQ(TracedBadges(run.Stdout), Badges{"F1"});
}

}  // namespace
