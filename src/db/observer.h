// Who watches a run: the download run's trace (the summary line always, the
// "/d" lines when asked for) or the recorder of an explanation. The run is
// given one observer and reports each decision to it once; what is printed
// for it, and where, is the observer's business. Every hook of this base
// class does nothing: a run given it prints none of these lines.
#pragma once
#include <cstddef>
#include <cstdint>

#include "db/records.h"

struct BalanceDisplaySlot;
struct FailureRecord;

// Why a writer leaves a badge out of its file (the reasons that the trace
// or an explanation name; the fit messages are printed always).
enum class SkipReason {
  NoRights,           // neither time nor access permission (MGDNL17P, MGDNL60P)
  NoRightsLine,       // the same in IDSTAMM, which writes lines
  NoAccess,           // no access class (MGDNL31P)
  NoTime,             // no time permission (MGDNL18P)
  NoPersonnelNumber,  // AswPnr empty (MGDNL18P)
  AlreadyWritten,     // a further row of a badge already written (MGDNL18P)
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;

  // Texts from the database and the driver, as this observer's output shows
  // them: the Latin-1 bytes as they are, unless overridden.
  virtual void ShowDatabaseText(const char* text, size_t length);
  // A statement text, just before it is sent.
  virtual void Sending(const char* /*sqlText*/) {}
  // The diagnostic records of a failed statement after the first, whose
  // line the run prints always.
  virtual void FailureDetails(const FailureRecord& /*failure*/) {}

  // Whether a fetched badge row goes to the writer (repeated: a further row
  // of the badge number before, which the walk passes over).
  virtual bool Takes(const BadgeRecord& /*badge*/, bool /*repeated*/) { return true; }
  // The walk over the badge cursor ended: 100 read to the end, -1 a
  // statement failed; every badge counted, those put into the file.
  virtual void WalkEnded(int /*rc*/, int32_t /*total*/, int32_t /*written*/) {}

  // The answer of the time permission query: count classes (-1 the query
  // failed) and what it means.
  virtual void TimePermission(const BadgeRecord& /*badge*/, const TerminalRecord& /*terminal*/, int32_t /*count*/,
                              bool /*granted*/) {}
  // A writer's balance lookup that found no row; code is its fetch code.
  virtual void NoBalanceRow(const char* /*function*/, const BadgeRecord& /*badge*/, int /*code*/) {}
  // A balance display definition, of the terminal's set or the badge's.
  virtual void DisplayDefinition(bool /*terminalLevel*/, const BalanceDisplaySlot& /*slot*/) {}
  // A badge a writer leaves out.
  virtual void Skipped(const BadgeRecord& /*badge*/, const TerminalRecord& /*terminal*/, SkipReason /*why*/) {}

  // Whether the details of the decisions are wanted (Note costs nothing
  // when they are not).
  virtual bool WantsNotes() const { return false; }
  // One detail of a decision, formatted as printf does.
  virtual void Note(const char* /*text*/) {}
};

// Formats a note for the observer when it wants notes; its arguments are
// not evaluated otherwise.
void FormatNote(RunObserver& observer, const char* format, ...) __attribute__((format(printf, 2, 3)));
#define NoteTo(observer, ...) ((observer).WantsNotes() ? FormatNote((observer), __VA_ARGS__) : (void)0)

// The observer of a download run: the summary line of the badge walk, and
// with the trace switch ("/d") the trace lines of the decisions and every
// record of a failed statement.
class RunTrace : public RunObserver {
 public:
  explicit RunTrace(bool debug) : Debug(debug) {}
  void FailureDetails(const FailureRecord& failure) override;
  void WalkEnded(int rc, int32_t total, int32_t written) override;
  void TimePermission(const BadgeRecord& badge, const TerminalRecord& terminal, int32_t count,
                      bool granted) override;
  void NoBalanceRow(const char* function, const BadgeRecord& badge, int code) override;
  void DisplayDefinition(bool terminalLevel, const BalanceDisplaySlot& slot) override;
  void Skipped(const BadgeRecord& badge, const TerminalRecord& terminal, SkipReason why) override;

  const bool Debug;
};
