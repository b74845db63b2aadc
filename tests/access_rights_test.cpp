// Access rights against the real data source: time permission, the access
// classes of the ZoneList and the reader slots.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "badge_rows.h"
#include "connected_installation.h"
#include "db/access_rights.h"
#include "db/records.h"
#include "db/observer.h"
#include "db/session.h"
#include "installation.h"

namespace {

class AccessRights : public ConnectedInstallationTest {
 protected:
  // The access classes as the last BuildZoneList left them.
  std::vector<std::string> Zones() const {
    std::vector<std::string> zones;
    for (int32_t i = 0; i < ZoneList.Count; ++i) zones.emplace_back(ZoneList.Entries[i]);
    return zones;
  }
  static std::string Slots(const BadgeRecord& b) {
    return std::string(&b.ZoneSlots[0][0], sizeof b.ZoneSlots);
  }

  // The list the test's builds fill, as a writer keeps one for its run.
  ZoneListArray ZoneList;
};

using Texts = std::vector<std::string>;

TEST_F(AccessRights, TimePermissionNeedsATimeClassOfTheTerminalThatTheBadgeHas) {
  AddTerminalClass(*Inst, "TP", "100", "1");
  AddTerminalClass(*Inst, "TP", "110", "1");
  AddTerminalClass(*Inst, "TP", "A01", "0");
  AddTerminalClass(*Inst, "OTHER", "120", "1");
  AddBadgeClass(*Inst, "TP-TIME", "100");
  AddBadgeClass(*Inst, "TP-TIME", "110");
  AddBadgeClass(*Inst, "TP-ACCESS", "A01");
  AddBadgeClass(*Inst, "TP-ELSEWHERE", "120");
  const TerminalRecord t = ZeroedTerminal("TP");

  int32_t count = -7;
  const StatementResult counted = CountTimePermissions(*Db, "TP-TIME", "TP", &count);
  EXPECT_TRUE(counted.IsRow());
  EXPECT_EQ(counted.Code, 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Db->SqlCode, 0);

  BadgeRecord time = ZeroedBadge("TP-TIME");
  BadgeRecord access = ZeroedBadge("TP-ACCESS");
  BadgeRecord elsewhere = ZeroedBadge("TP-ELSEWHERE");
  BadgeRecord none = ZeroedBadge("TP-NONE");
  EXPECT_EQ(HasTimePermission(*Db, &time, &t), Permission::Granted);
  EXPECT_EQ(HasTimePermission(*Db, &access, &t), Permission::Denied);
  EXPECT_EQ(HasTimePermission(*Db, &elsewhere, &t), Permission::Denied);
  EXPECT_EQ(HasTimePermission(*Db, &none, &t), Permission::Denied);

  // The trace line, only when the run's trace is switched on ("/d").
  RunTrace quiet(false);
  RunTrace debug(true);
  RunObserver* const suiteObserver = Db->Observer;
  testing::internal::CaptureStdout();
  Db->Observer = &quiet;
  EXPECT_EQ(HasTimePermission(*Db, &time, &t), Permission::Granted);
  Db->Observer = &debug;
  EXPECT_EQ(HasTimePermission(*Db, &time, &t), Permission::Granted);
  EXPECT_EQ(HasTimePermission(*Db, &none, &t), Permission::Denied);
  Db->Observer = suiteObserver;
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Aws: TP-TIME Zeitberechtigung: 1\nAws: TP-NONE Zeitberechtigung: 0\n");
}

TEST_F(AccessRights, ZoneListHoldsDistinctAccessClassesAscendingFilledToThree) {
  AddTerminalClass(*Inst, "TZ", "B1", "0");
  AddTerminalClass(*Inst, "TZ", "A02", "0");
  AddTerminalClass(*Inst, "TZ", "A02", "0");  // listed twice
  AddTerminalClass(*Inst, "TZ", "7", "0");
  AddTerminalClass(*Inst, "TZ", "7", "1");  // both kinds
  AddTerminalClass(*Inst, "TZ", "100", "1");
  AddTerminalClass(*Inst, "TZ", "C9", "0");  // the badge lacks it
  for (const char* cls : {"A02", "B1", "7", "100", "ZZ"}) AddBadgeClass(*Inst, "TZ-1", cls);
  const TerminalRecord t = ZeroedTerminal("TZ");
  BadgeRecord b = ZeroedBadge("TZ-1");

  EXPECT_EQ(HasTimePermission(*Db, &b, &t), Permission::Granted);
  EXPECT_EQ(BuildZoneList(*Db, ZoneList, &b, &t, 32, 0), Permission::Granted);
  EXPECT_EQ(Zones(), (Texts{"7  ", "A02", "B1 "}));
  // The entry is the class and its blanks, terminated.
  EXPECT_EQ(std::string(ZoneList.Entries[0], 4), std::string("7  \0", 4));
}

TEST_F(AccessRights, ZoneListIsRebuiltForEveryBadge) {
  for (const char* cls : {"K1", "K2", "K3", "K4", "K5"}) AddTerminalClass(*Inst, "TR", cls, "0");
  for (const char* cls : {"K1", "K2", "K3"}) AddBadgeClass(*Inst, "TR-THREE", cls);
  for (const char* cls : {"K1", "K2", "K3", "K4", "K5"}) AddBadgeClass(*Inst, "TR-FIVE", cls);
  AddBadgeClass(*Inst, "TR-ONE", "K5");
  const TerminalRecord t = ZeroedTerminal("TR");

  BadgeRecord three = ZeroedBadge("TR-THREE");
  BadgeRecord none = ZeroedBadge("TR-NONE");
  BadgeRecord five = ZeroedBadge("TR-FIVE");
  BadgeRecord one = ZeroedBadge("TR-ONE");
  EXPECT_EQ(BuildZoneList(*Db, ZoneList, &three, &t, 32, 0), Permission::Granted);
  EXPECT_EQ(Zones(), (Texts{"K1 ", "K2 ", "K3 "}));
  EXPECT_EQ(BuildZoneList(*Db, ZoneList, &none, &t, 32, 0), Permission::Denied);
  EXPECT_EQ(ZoneList.Count, 0);
  EXPECT_EQ(BuildZoneList(*Db, ZoneList, &five, &t, 32, 0), Permission::Granted);
  EXPECT_EQ(Zones(), (Texts{"K1 ", "K2 ", "K3 ", "K4 ", "K5 "}));
  EXPECT_EQ(BuildZoneList(*Db, ZoneList, &one, &t, 32, 0), Permission::Granted);
  EXPECT_EQ(Zones(), (Texts{"K5 "}));
}

TEST_F(AccessRights, ReaderSlotsUpToTheLimitFromLiveReadersOnly) {
  Inst->Exec(
      "INSERT INTO Xel401Zls (ZlsTrm, ZlsLes, ZlsZko, ZlsSta) VALUES "
      "('TS', 1, 'Z1', NULL), ('TS', 2, 'Z2', 0), ('TS', 4, 'Z4', NULL), ('TS', 5, 'Z5', NULL), "
      "('TS', 3, 'Z3', 4), ('TS', 6, 'Z6', 8), ('TS', 11, 'Z11', NULL), ('TS', 0, 'Z0', NULL), "
      "('TS', 12, 'Z12', NULL), ('TS', -1, NULL, NULL),"
      "('TS-DEAD', 1, 'Z1', 4), ('TS-DEAD', 2, 'Z2', 8)");
  AddTerminalClass(*Inst, "TS", "A", "0");
  AddBadgeClass(*Inst, "TS-ACCESS", "A");
  const TerminalRecord t = ZeroedTerminal("TS");

  // Limit 3: readers 1 and 2; slot 3's reader is deleted, the rest keep
  // what the writer put there.
  BadgeRecord b = ZeroedBadge("TS-NOACCESS");
  std::memset(b.ZoneSlots, ' ', sizeof b.ZoneSlots);
  for (auto& slot : b.ZoneSlots) slot[2] = '\0';
  EXPECT_EQ(BuildZoneList(*Db, ZoneList, &b, &t, 3, 1), Permission::Denied);  // readers alone do not count
  std::string limited = std::string("01\0" "02\0", 6);
  for (int k = 3; k <= 11; ++k) limited += std::string("  \0", 3);
  EXPECT_EQ(Slots(b), limited);

  // Limit 32: every live reader 1 to 11; numbers without a slot are left
  // out, untouched slots stay zero.
  BadgeRecord all = ZeroedBadge("TS-ACCESS");
  EXPECT_EQ(BuildZoneList(*Db, ZoneList, &all, &t, 32, 1), Permission::Granted);
  std::string expected(sizeof all.ZoneSlots, '\0');
  for (int n : {1, 2, 4, 5, 11}) {
    char text[3];
    std::snprintf(text, sizeof text, "%02d", n);
    expected.replace(static_cast<size_t>(n - 1) * 3, 2, text);
  }
  EXPECT_EQ(Slots(all), expected);

  // A terminal whose readers are all deleted fills nothing.
  BadgeRecord dead = ZeroedBadge("TS-NOACCESS");
  const TerminalRecord deadTerminal = ZeroedTerminal("TS-DEAD");
  EXPECT_EQ(BuildZoneList(*Db, ZoneList, &dead, &deadTerminal, 11, 1), Permission::Denied);
  EXPECT_EQ(Slots(dead), std::string(sizeof dead.ZoneSlots, '\0'));
}

TEST_F(AccessRights, SendsEachQueryExactlyAndOnlyTheReaderQueryWhenAsked) {
  Inst->Exec("INSERT INTO Xel401Zls (ZlsTrm, ZlsLes) VALUES ('O''Neil', 1)");
  AddTerminalClass(*Inst, "O'Neil", "Q1", "0");
  AddTerminalClass(*Inst, "O'Neil", "Q2", "1");
  AddBadgeClass(*Inst, "N'1", "Q1");
  AddBadgeClass(*Inst, "N'1", "Q2");
  const TerminalRecord t = ZeroedTerminal("O'Neil");
  BadgeRecord b = ZeroedBadge("N'1");

  const std::string time =
      "SELECT COUNT(*) FROM  Dravonix.MGSST35P WHERE M35Trm = 'O''Neil' AND   M35BCH = '1' AND   M35Bkl IN (SELECT "
      "AwbBkl FROM  Dravonix.Xel301Awb WHERE AWBASW = 'N''1')";
  const std::string readers =
      "SELECT ZlsLes, ZlsZko  FROM  Dravonix.Xel401Zls  WHERE ZlsTrm = 'O''Neil'  AND ZlsLes <= 11  AND ((ZlsSta <> "
      "4 AND ZlsSta <> 8) OR ZlsSta IS NULL)  ORDER BY ZlsLes ";
  const std::string zones =
      "SELECT DISTINCT M35BKL FROM   Dravonix.MGSST35P, Dravonix.Xel301Awb WHERE  M35TRM = 'O''Neil' AND    AWBASW "
      "= 'N''1' AND    M35Bch = '0' AND    M35Bkl = AWBBKL ORDER BY M35BKL";

  Inst->ClearStatementLog();
  EXPECT_EQ(HasTimePermission(*Db, &b, &t), Permission::Granted);
  EXPECT_EQ(BuildZoneList(*Db, ZoneList, &b, &t, 11, 1), Permission::Granted);
  EXPECT_EQ(Inst->StatementLog(), (Texts{time, readers, zones}));
  EXPECT_STREQ(b.ZoneSlots[0], "01");

  // Without the fill flag no reader is asked for and no slot changes.
  BadgeRecord c = ZeroedBadge("N'1");
  Inst->ClearStatementLog();
  EXPECT_EQ(BuildZoneList(*Db, ZoneList, &c, &t, 32, 0), Permission::Granted);
  EXPECT_EQ(Inst->StatementLog(), (Texts{zones}));
  EXPECT_EQ(Slots(c), std::string(sizeof c.ZoneSlots, '\0'));
  EXPECT_EQ(Zones(), (Texts{"Q1 "}));
}

}  // namespace
