// Terminal lookup against the real data source: model, balance set and the
// number of client rows, and what stays when the terminal is not found.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "badge_rows.h"
#include "connected_installation.h"
#include "db/records.h"
#include "db/session.h"
#include "db/terminal.h"
#include "installation.h"

namespace {

// A statement result as one comparable text: "Row 0", "NoRow 100",
// "Done 0", "Failed -1".
std::string ResultText(StatementResult r) {
  const char* names[] = {"Done", "Row", "NoRow", "Failed"};
  return std::string(names[static_cast<int>(r.Is)]) + " " + std::to_string(r.Code);
}

class TerminalLookup : public ConnectedInstallationTest {
 protected:
  // As the driver prepares it: every byte "0", then the name.
  static TerminalRecord Record(const std::string& name) {
    TerminalRecord record;
    std::memset(&record, '0', sizeof record);
    std::memcpy(record.TrmNam, name.c_str(), name.size() + 1);
    return record;
  }
};

constexpr int32_t ZeroFill = 0x30303030;  // four "0" characters

TEST_F(TerminalLookup, FoundTerminalGetsTrimmedModelAndSalAndCountsLiveClientRows) {
  AddTerminal(*Inst, "T-FOUND", "'7600-100   '", "'SAL01 '");
  Inst->Exec(
      "INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd, TfzSta) VALUES "
      "('T-FOUND', 1, 1, NULL), ('T-FOUND', 1, 2, 0), ('T-FOUND', 2, 1, 8), ('OTHER', 1, 1, NULL)");
  TerminalRecord t = Record("T-FOUND");
  EXPECT_EQ(ResultText(LookUpTerminal(*Db, &t)), "Row 0");
  EXPECT_STREQ(t.TrmMod, "7600-100");
  EXPECT_STREQ(t.TrmSal, "SAL01");
  EXPECT_EQ(t.TfzCount, 2);
  EXPECT_EQ(Db->SqlCode, 0);

  // Twelve characters arrive as the first ten; no client rows count 0.
  AddTerminal(*Inst, "T-LONG", "'ABCDEFGHIJKL'", "NULL");
  TerminalRecord l = Record("T-LONG");
  EXPECT_EQ(ResultText(LookUpTerminal(*Db, &l)), "Row 0");
  EXPECT_STREQ(l.TrmMod, "ABCDEFGHIJ");
  EXPECT_STREQ(l.TrmSal, "");
  EXPECT_EQ(l.TfzCount, 0);
}

TEST_F(TerminalLookup, DeletedOrUnknownTerminalKeepsTheZeroFill) {
  AddTerminal(*Inst, "T-DEL4", "'M4'", "'S4'", "4");
  AddTerminal(*Inst, "T-DEL8", "'M8'", "'S8'", "8");
  Inst->Exec("INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd) VALUES ('T-DEL8', 1, 1)");
  for (const char* name : {"T-DEL4", "T-DEL8", "T-NONE"}) {
    SCOPED_TRACE(name);
    TerminalRecord t = Record(name);
    EXPECT_EQ(ResultText(LookUpTerminal(*Db, &t)), "NoRow 100");
    EXPECT_EQ(Db->SqlCode, 100);
    EXPECT_EQ(std::string(t.TrmMod, sizeof t.TrmMod), std::string(11, '0'));
    EXPECT_EQ(std::string(t.TrmSal, sizeof t.TrmSal), std::string(11, '0'));
    EXPECT_EQ(t.TfzCount, ZeroFill);
    // The writers read an unset field as empty text.
    EXPECT_STREQ(TerminalText(t.TrmMod), "");
    EXPECT_STREQ(TerminalText(t.TrmSal), "");
  }
  // A status other than 4 and 8 is found.
  AddTerminal(*Inst, "T-STA1", "'M1'", "'S1'", "1");
  TerminalRecord t = Record("T-STA1");
  EXPECT_EQ(ResultText(LookUpTerminal(*Db, &t)), "Row 0");
  EXPECT_STREQ(TerminalText(t.TrmMod), "M1");
}

TEST_F(TerminalLookup, SendsBothQueriesExactlyWithTheNameQuoted) {
  AddTerminal(*Inst, "O'Brien", "'7598-002'", "'SAL02'");
  Inst->Exec("INSERT INTO Xel115Tfz (TfzTrm, TfzLiz, TfzMnd) VALUES ('O''Brien', 1, 1)");
  Inst->ClearStatementLog();
  TerminalRecord t = Record("O'Brien");
  EXPECT_EQ(ResultText(LookUpTerminal(*Db, &t)), "Row 0");
  EXPECT_STREQ(t.TrmMod, "7598-002");
  EXPECT_EQ(t.TfzCount, 1);
  const std::vector<std::string> expected = {
      "SELECT TRMMOD, TRMSAL  FROM  Dravonix.Xel1140Trm  WHERE TrmNam = 'O''Brien'  AND   ((TrmSta <> 4 AND TrmSta "
      "<> 8) OR TrmSta IS NULL)",
      " SELECT COUNT(*)  FROM  Dravonix.Xel115Tfz  WHERE TfzTrm = 'O''Brien'  AND  ((TfzSta <> 4 AND TfzSta <> 8) OR "
      "TfzSta IS NULL) ",
  };
  EXPECT_EQ(Inst->StatementLog(), expected);
}

}  // namespace
