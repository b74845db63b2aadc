// Tests that run the tool's database code in this process: one scratch
// installation per test suite, this process's ODBC configuration pointed at
// it, and one session of the tool connected to it (Db), shared by the
// suite's tests. The driver manager keeps the data source set-up of its
// first connection, so a process runs tests of one such suite only (ctest
// runs each test in a process of its own).
#pragma once
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "db/records.h"
#include "db/session.h"
#include "installation.h"

class ConnectedInstallationTest : public ::testing::Test {
 protected:
  // A suite that needs rows for all its tests calls this first and adds
  // them to Inst after.
  static void SetUpTestSuite();
  static void TearDownTestSuite();

  static std::optional<ScratchInstallation> Inst;
  // Connected by SetUpTestSuite; reports to no observer.
  static std::optional<Session> Db;
};

// Records as a caller hands them over before a lookup: zero bytes, then the
// badge number or terminal name.
BadgeRecord ZeroedBadge(const std::string& number);
TerminalRecord ZeroedTerminal(const std::string& name);
