// Running the jobs of gentrmx-batch: each job one gentrmx process, up to a
// number at once, with its output kept, progress shown and, with --verify,
// the file it would write compared with the one in place.
#pragma once
#include <string>
#include <vector>

#include "batch_jobs.h"

// What a run printed: all of it, or when long its start and its end.
class KeptOutput {
 public:
  void Add(const char* bytes, size_t size);
  // The bytes kept; a note of what was left out stands between start and end.
  std::string Text() const;
  bool Empty() const { return Head_.empty(); }

 private:
  std::string Head_, Tail_;
  size_t Dropped_ = 0;
};

enum class Verdict {
  None,        // no --verify, or not decided (the job did not run)
  Unchanged,   // the file in place has the bytes a run writes
  Changed,     // it differs (gentrmx-diff's counts in Added, Removed, Differing)
  Missing,     // there is no file in place
  Unreadable,  // the file in place cannot be read
  Failed,      // the run failed: nothing to compare
  InChain,     // a later job writes the same file; the verdict is on the last one
};

struct JobResult {
  enum class State { Waiting, Running, Comparing, Finished, NotStarted, Refused };
  State Phase = State::Waiting;
  int ExitCode = 0;  // as the process exited (255 for gentrmx's -1)
  int Signal = 0;    // the signal that ended it, or 0
  double Seconds = 0;
  KeptOutput Output;
  int BadgesRead = -1, BadgesWritten = -1;  // from the run's summary line; -1 when it printed none
  Verdict Check = Verdict::None;
  int Added = -1, Removed = -1, Differing = -1;  // badges, from gentrmx-diff; -1 unknown
  std::string Note;  // German: why not started or refused, or about the comparison

  bool Ran() const { return Phase == State::Finished; }
  bool Succeeded() const { return Ran() && Signal == 0 && ExitCode == 0; }
};

struct BatchSettings {
  int Jobs = 4;              // at most this many at once
  bool Verify = false;       // write into TempFolder, compare, leave the files in place alone
  bool Verbose = false;      // every job's output, not only a failed one's
  bool Progress = false;     // standard output is a terminal: one line, redrawn
  std::string Gentrmx;       // the program of each job
  std::string GentrmxDiff;   // with Verify: counts what changed
  std::string TempFolder;    // with Verify: where the runs write
};

// Runs the jobs that are not refused. Jobs that write the same file (the
// same path once made absolute) run one after the other in list order; when
// one of them fails the rest are not started. SIGINT, SIGTERM and SIGHUP
// stop the starting of jobs and are passed on to the running ones. Prints a
// line per finished job (or, with Progress, one progress line redrawn and
// the failed jobs). results has one entry per job. Returns the signal that
// stopped the batch, 0 when none did.
int RunBatch(const std::vector<BatchJob>& jobs, const BatchSettings& settings, std::vector<JobResult>* results);

// The exit status as gentrmx documents it (255 is its -1), or "Signal <n>".
std::string StatusText(const JobResult& result);
// "Exitstatus <status>" or "beendet durch Signal <n>".
std::string ExitText(const JobResult& result);
// A text for the terminal: kept as it is when it is UTF-8, else each byte
// taken as Latin-1 (gentrmx's messages, names from the database).
std::string Shown(const std::string& text);
