// In-process test suites on a scratch installation: see
// connected_installation.h.
#include "connected_installation.h"

#include <cstring>

std::optional<ScratchInstallation> ConnectedInstallationTest::Inst;
std::optional<Session> ConnectedInstallationTest::Db;

void ConnectedInstallationTest::SetUpTestSuite() {
  Inst.emplace(ScratchInstallation::Empty());
  Inst->UseInThisProcess();
  Db.emplace();
  ASSERT_EQ(Db->Connect("u", "p", Inst->Dsn.c_str(), ""), 0);
}

void ConnectedInstallationTest::TearDownTestSuite() {
  Db.reset();
  Inst.reset();
}

BadgeRecord ZeroedBadge(const std::string& number) {
  BadgeRecord badge;
  std::memset(&badge, 0, sizeof badge);
  std::strcpy(badge.AswNum, number.c_str());
  return badge;
}

TerminalRecord ZeroedTerminal(const std::string& name) {
  TerminalRecord terminal;
  std::memset(&terminal, 0, sizeof terminal);
  std::strcpy(terminal.TrmNam, name.c_str());
  return terminal;
}
