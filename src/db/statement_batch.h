// The statements of one badge, sent to the server in one request where the
// driver can: their texts joined with ";" and a line end in one
// SQLExecDirect, their results read in order with SQLMoreResults. Each
// statement is still run by its query family as before: it formats its
// text and executes it, and when the text is the next one of the open
// batch, the statement takes that statement's result instead of sending
// the text again. So the texts, the buffers, the codes and the NULL rule
// stay as they are, and a driver that cannot batch (the SQLite driver: one
// statement per call) gets one statement per call as before.
//
// A statement of the batch whose answer may not be needed (sent ahead: it
// depends on an earlier answer of the badge) is read and checked all the
// same: any error in any statement of the batch is a failure, and so are
// fewer results than statements. A run sends statements ahead only while
// those it sent for nothing stay under a tenth of what it sent in batches
// (MaySendAhead); otherwise such a statement runs on its own when it is
// needed. While a batch is open no other statement may run on the
// connection (its results keep the connection busy); one that tries fails.
// The batch closes when the result of its last statement has been read, or
// at End.
#pragma once
#include <sql.h>

#include <cstddef>
#include <string>
#include <vector>

class Session;

class StatementBatch {
 public:
  StatementBatch() = default;
  ~StatementBatch();
  StatementBatch(const StatementBatch&) = delete;
  StatementBatch& operator=(const StatementBatch&) = delete;

  // Starts collecting the statements of a new batch. A batch still open
  // is given up (the writers end theirs first).
  void Start(Session& db);
  // Adds the session's current statement text; query names it in messages.
  void Add(const Session& db, const char* query);
  // Sends the collected statements in one request when the session's
  // driver takes several (with one statement, or none, nothing is sent
  // ahead). false when the request failed (the session's LastFailure
  // names the first statement).
  [[nodiscard]] bool Send(Session& db);
  // Reads every result of the open batch to its end and closes it. false
  // when a statement failed or a result was missing (LastFailure names the
  // statement). No batch open: true.
  [[nodiscard]] bool End(Session& db);
  // Gives the open batch up (after a failure): the rest of its results are
  // discarded.
  void Abandon(Session& db);

  // Whether a statement that the badge may not need can go along: counted
  // as sent for nothing, the run's statements sent for nothing stay under a
  // tenth of all the statements it sent.
  bool MaySendAhead() const noexcept;

  // For the statement type: whether text is the next statement of the open
  // batch, whose result a statement then takes.
  bool Expects(const char* text) const noexcept;
  // The handle the results are read from, moved on to the result of the
  // next statement (the one Expects named). false with LastFailure set
  // when that statement failed or its result is missing.
  [[nodiscard]] bool TakeNext(Session& db, SQLHSTMT* handle);
  // The statement that took the current result is done with it (ended: it
  // read it to SQL_NO_DATA). After the last statement's result the batch
  // is read to its end and closed, so that the connection is free for
  // statements that were not sent with it. false when that failed.
  [[nodiscard]] bool ResultDone(Session& db, bool ended);
  bool IsOpen() const noexcept { return Open_; }
  // How a failure of the statement named query is named: when it is the
  // statement whose result is being read and others follow it in the open
  // batch, the failure may be theirs (a driver reports the error of the
  // next statement at the end of the rows before it), so it is named with
  // them: "query/next/...". Else query.
  const char* NameOfFailure(const char* query) noexcept;
  // Frees the batch's handle (before its connection goes).
  void Release(Session& db);

  // The statements the run sent, on their own or in batches, and those of
  // them whose result no statement took (the server ran them for nothing).
  unsigned long Sent = 0;
  unsigned long Unused = 0;

 private:
  SQLRETURN EndCurrentResult(Session& db, const char* next);
  bool MoveToNextResult(Session& db);
  void Close() noexcept;

  SQLHSTMT Handle_ = SQL_NULL_HSTMT;
  std::string Joined_;
  std::vector<size_t> Starts_;        // where each statement's text begins in Joined_
  std::vector<const char*> Queries_;  // the statements' names
  size_t Next_ = 0;                   // the statement whose result is taken next
  bool Open_ = false;                 // sent, results not read to their end
  bool CurrentEnded_ = false;         // the current result was read to SQL_NO_DATA
  std::string FailureName_;           // NameOfFailure's last answer
};
