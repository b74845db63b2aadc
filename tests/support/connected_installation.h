// Tests that run the tool's database code in this process: one scratch
// installation per test suite, this process's ODBC configuration pointed at
// it, and the tool's connection made. The session is process-wide and the
// driver manager keeps the data source set-up of its first connection, so a
// test program holds one such suite.
#pragma once
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "db/records.h"
#include "installation.h"

class ConnectedInstallationTest : public ::testing::Test {
 protected:
  // A suite that needs rows for all its tests calls this first and adds
  // them to Inst after.
  static void SetUpTestSuite();
  static void TearDownTestSuite();

  static std::optional<ScratchInstallation> Inst;
};

// Records as a caller hands them over before a lookup: zero bytes, then the
// badge number or terminal name.
BadgeRecord ZeroedBadge(const std::string& number);
TerminalRecord ZeroedTerminal(const std::string& name);
