// SQL Server's busy rule, checked in test builds (GENTRMX_BUSY_CHECK): a
// statement executed without cursor attributes gets a default result set,
// which keeps the connection busy until its rows are read to the end or its
// handle is freed, and any execution meanwhile fails there. Each Statement
// knows whether it holds unread rows; the guard of its session counts the
// statements without cursor attributes that do, and ends the process
// loudly when a statement is executed while another one holds them. In
// other builds it is empty and costs nothing.
#pragma once

class BusyGuard {
 public:
  // A statement is about to be executed; ownPending: it holds unread rows of
  // a default result set itself (they go when it is executed again).
  // sqlText is named in the message.
  void Executing(bool ownPending, const char* sqlText) const noexcept;
  // A statement without cursor attributes got unread rows, or they were
  // read to the end or given up.
  void Opened() noexcept;
  void Closed() noexcept;

 private:
#ifdef GENTRMX_BUSY_CHECK
  int PendingDefaultResults_ = 0;
#endif
};

#ifndef GENTRMX_BUSY_CHECK
inline void BusyGuard::Executing(bool, const char*) const noexcept {}
inline void BusyGuard::Opened() noexcept {}
inline void BusyGuard::Closed() noexcept {}
#endif
