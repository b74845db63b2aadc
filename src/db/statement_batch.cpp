// The statements of one badge in one request.
#include "db/statement_batch.h"

#include <sqlext.h>

#include <cstring>

#include "db/session.h"

namespace {
constexpr char Separator[] = ";\n";
constexpr size_t SeparatorLength = sizeof Separator - 1;
}  // namespace

// The session releases the handle before its connection goes.
StatementBatch::~StatementBatch() = default;

void StatementBatch::Start(Session& db) {
  Abandon(db);
  Joined_.clear();
  Starts_.clear();
  Queries_.clear();
}

void StatementBatch::Add(const Session& db, const char* query) {
  if (!Starts_.empty()) Joined_.append(Separator, SeparatorLength);
  Starts_.push_back(Joined_.size());
  Joined_.append(db.SqlText);
  Queries_.push_back(query);
}

bool StatementBatch::Send(Session& db) {
  // One statement gains nothing from a batch; a driver without several
  // results per call gets each statement when it runs.
  if (Starts_.size() < 2 || !db.CanBatch()) return true;
  // A statement that did not fit its text is empty: it fails where it runs.
  for (size_t i = 0; i < Starts_.size(); ++i) {
    const size_t end = i + 1 < Starts_.size() ? Starts_[i + 1] - SeparatorLength : Joined_.size();
    if (end == Starts_[i]) return true;
  }
  db.Busy.Executing(false, Joined_.c_str());
  // One handle for the batches of the session.
  if (Handle_ == SQL_NULL_HSTMT) Handle_ = db.NewStatementHandle();
  if (Handle_ == SQL_NULL_HSTMT) {
    db.LastFailure.Query = Queries_[0];
    return false;
  }
  const SQLRETURN rc = SQLExecDirect(Handle_, reinterpret_cast<SQLCHAR*>(&Joined_[0]), SQL_NTS);
  Sent += Starts_.size();
  Unused += Starts_.size();
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA) {
    db.CaptureFailure(SQL_HANDLE_STMT, Handle_, "Ausfuehrung fehlgeschlagen (ohne Diagnose des Treibers)");
    SQLFreeStmt(Handle_, SQL_CLOSE);
    db.LastFailure.Query = Queries_[0];
    return false;
  }
  Open_ = true;
  Next_ = 0;
  CurrentEnded_ = false;
  db.Busy.Opened();
  return true;
}

bool StatementBatch::MaySendAhead() const noexcept { return (Unused + 1) * 10 < Sent + 1; }

bool StatementBatch::ResultDone(Session& db, bool ended) {
  if (ended) CurrentEnded_ = true;
  if (!Open_ || Next_ < Starts_.size()) return true;
  return End(db);
}

const char* StatementBatch::NameOfFailure(const char* query) noexcept {
  if (!Open_ || Next_ == 0 || Next_ >= Starts_.size() || std::strcmp(query, Queries_[Next_ - 1]) != 0) return query;
  try {
    FailureName_ = query;
    for (size_t i = Next_; i < Queries_.size(); ++i) {
      if (std::strcmp(Queries_[i], Queries_[i - 1]) == 0) continue;
      FailureName_ += '/';
      FailureName_ += Queries_[i];
    }
    return FailureName_.c_str();
  } catch (...) {
    return query;
  }
}

bool StatementBatch::Expects(const char* text) const noexcept {
  if (!Open_ || Next_ >= Starts_.size()) return false;
  const size_t start = Starts_[Next_];
  const size_t end = Next_ + 1 < Starts_.size() ? Starts_[Next_ + 1] - SeparatorLength : Joined_.size();
  return std::strlen(text) == end - start && std::memcmp(text, Joined_.data() + start, end - start) == 0;
}

// Reads the rows of the current result to SQL_NO_DATA (unbound: nothing is
// written), then asks for what follows it (SQLMoreResults): SQL_SUCCESS or
// SQL_SUCCESS_WITH_INFO for a further result, SQL_NO_DATA for the end of
// the reply, else a failure (LastFailure set, naming the current statement
// when its rows failed, next when what follows did). The rows are read to
// SQL_NO_DATA first: FreeTDS answers SQLMoreResults after the last row but
// before SQL_NO_DATA with success and then fails the next result.
SQLRETURN StatementBatch::EndCurrentResult(Session& db, const char* next) {
  SQLFreeStmt(Handle_, SQL_UNBIND);
  SQLRETURN rc = SQL_NO_DATA;
  if (!CurrentEnded_) {
    do rc = SQLFetch(Handle_);
    while (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO);
  }
  CurrentEnded_ = false;
  if (rc != SQL_NO_DATA) {
    db.CaptureFailure(SQL_HANDLE_STMT, Handle_, "Lesen fehlgeschlagen (ohne Diagnose des Treibers)");
    db.LastFailure.Query = Queries_[Next_ - 1];
    return SQL_ERROR;
  }
  rc = SQLMoreResults(Handle_);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA) {
    db.CaptureFailure(SQL_HANDLE_STMT, Handle_, "Rest der Antwort nicht lesbar (ohne Diagnose des Treibers)");
    db.LastFailure.Query = next;
  }
  return rc;
}

// Moves from the current result to the next statement's.
bool StatementBatch::MoveToNextResult(Session& db) {
  const SQLRETURN rc = EndCurrentResult(db, Queries_[Next_]);
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) return true;
  if (rc == SQL_NO_DATA) {
    // No error, and yet no result: a missing result cannot be told from
    // "no row".
    db.SetOwnFailure("Ergebnis fehlt im Anweisungsstapel");
    db.LastFailure.Query = Queries_[Next_];
  }
  return false;
}

bool StatementBatch::TakeNext(Session& db, SQLHSTMT* handle) {
  if (Next_ > 0 && !MoveToNextResult(db)) {
    Abandon(db);
    return false;
  }
  ++Next_;
  --Unused;
  *handle = Handle_;
  return true;
}

bool StatementBatch::End(Session& db) {
  if (!Open_) return true;
  // The results no statement took: read and checked all the same.
  while (Next_ < Starts_.size()) {
    if (Next_ > 0 && !MoveToNextResult(db)) {
      Abandon(db);
      return false;
    }
    ++Next_;
  }
  // The last result, to the end of the reply.
  const SQLRETURN rc = EndCurrentResult(db, Queries_.back());
  if (rc != SQL_NO_DATA && rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
    Abandon(db);
    return false;
  }
  Close();
  db.Busy.Closed();
  return true;
}

void StatementBatch::Release(Session& db) {
  Abandon(db);
  if (Handle_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, Handle_);
  Handle_ = SQL_NULL_HSTMT;
}

void StatementBatch::Abandon(Session& db) {
  if (!Open_) return;
  Close();
  db.Busy.Closed();
}

void StatementBatch::Close() noexcept {
  SQLFreeStmt(Handle_, SQL_UNBIND);
  SQLFreeStmt(Handle_, SQL_CLOSE);
  Open_ = false;
  Next_ = 0;
  CurrentEnded_ = false;
}
