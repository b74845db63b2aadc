// The busy check of test builds.
#include "db/busy_guard.h"

#ifdef GENTRMX_BUSY_CHECK
#include <cstdio>
#include <cstdlib>

void BusyGuard::Executing(bool ownPending, const char* sqlText) const noexcept {
  if (PendingDefaultResults_ - (ownPending ? 1 : 0) <= 0) return;
  std::fprintf(stderr,
               "BUSY-RULE VIOLATION: statement executed while another statement without cursor "
               "attributes has unread rows (SQL Server: \"Connection is busy with results for "
               "another hstmt\")\nStatement: %s\n",
               sqlText);
  std::abort();
}

void BusyGuard::Opened() noexcept { ++PendingDefaultResults_; }
void BusyGuard::Closed() noexcept { --PendingDefaultResults_; }
#endif
