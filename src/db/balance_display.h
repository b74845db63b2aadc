// Balance display definitions of a balance set, terminal level and badge
// level.
#pragma once
#include <cstdint>

#include "db/session.h"

struct BalanceDisplaySlot {
  int32_t MsdLfd;
  int32_t MsdSpl;
  char DisplayText[14];
  char ValueCode[11];
  char ValueText[23];
};
// Entry n-1 holds the definition whose MsdLfd is n (1 to 8).
struct BalanceDisplayTable {
  BalanceDisplaySlot Slots[8];
};

StatementResult OpenTerminalDisplayCursor(const char* terminalName);
StatementResult FetchTerminalDisplay(BalanceDisplaySlot* slot);
void CloseTerminalDisplayCursor();
StatementResult OpenBadgeDisplayCursor(const char* badgeNumber);
StatementResult FetchBadgeDisplay(BalanceDisplaySlot* slot);
void CloseBadgeDisplayCursor();
