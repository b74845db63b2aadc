// Running the jobs of gentrmx-batch: see batch_runner.h.
//
// One loop waits (poll) on the output pipes of the running processes and on
// a pipe that the signal handler writes to. A job's process gets /dev/null
// as standard input, one pipe for standard output and standard error, the
// batch's working folder and environment, and a process group of its own,
// so that a signal reaches it once: passed on by the batch.
#include "batch_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "common/visible_text.h"

extern char** environ;

namespace fs = std::filesystem;

void KeptOutput::Add(const char* bytes, size_t size) {
  constexpr size_t HeadLimit = 64 * 1024, TailLimit = 64 * 1024;
  if (Head_.size() < HeadLimit) {
    const size_t take = std::min(size, HeadLimit - Head_.size());
    Head_.append(bytes, take);
    bytes += take;
    size -= take;
  }
  if (size == 0) return;
  Tail_.append(bytes, size);
  if (Tail_.size() > 2 * TailLimit) {
    const size_t drop = Tail_.size() - TailLimit;
    Tail_.erase(0, drop);
    Dropped_ += drop;
  }
}

std::string KeptOutput::Text() const {
  if (Dropped_ == 0) return Head_ + Tail_;
  return Head_ + "\n[... " + std::to_string(Dropped_) + " Bytes ausgelassen ...]\n" + Tail_;
}

std::string StatusText(const JobResult& result) {
  if (result.Signal != 0) return "Signal " + std::to_string(result.Signal);
  return std::to_string(result.ExitCode == 255 ? -1 : result.ExitCode);
}

std::string ExitText(const JobResult& result) {
  if (result.Signal != 0) return "beendet durch Signal " + std::to_string(result.Signal);
  return "Exitstatus " + StatusText(result);
}

namespace {

bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

}  // namespace

std::string Shown(const std::string& text) { return IsUtf8(text) ? text : Latin1ToUtf8(text); }

namespace {

// ---- signals -------------------------------------------------------------------
int SignalPipe[2] = {-1, -1};

void OnStopSignal(int signal) {
  const int saved = errno;
  const char number = static_cast<char>(signal);
  ssize_t ignored = write(SignalPipe[1], &number, 1);
  (void)ignored;
  errno = saved;
}

const int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Catches the stop signals (one that was ignored when the batch started
// stays ignored, as for any program started in the background).
void CatchStopSignals() {
  if (pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  for (int signal : StopSignals) {
    struct sigaction old {};
    sigaction(signal, nullptr, &old);
    if (old.sa_handler == SIG_IGN && signal != SIGTERM) continue;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
  // A reader of the batch's output that goes away must not end the batch
  // with its jobs still running.
  signal(SIGPIPE, SIG_IGN);
}

// ---- processes -------------------------------------------------------------------
struct Child {
  pid_t Pid = -1;
  int Fd = -1;  // read end of its output pipe; -1 after the end of its output
};

// Starts program with argv; its output (standard output and error) goes to
// the pipe in child->Fd. Returns 0 or the error number.
int Spawn(const std::vector<std::string>& argv, Child* child) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, empty;
  sigemptyset(&defaults);
  for (int signal : StopSignals) sigaddset(&defaults, signal);
  sigaddset(&defaults, SIGPIPE);
  sigemptyset(&empty);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &empty);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int error = posix_spawn(&child->Pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(fds[1]);
  if (error != 0) {
    close(fds[0]);
    child->Pid = -1;
    return error;
  }
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  child->Fd = fds[0];
  return 0;
}

// Reads what is there; true at the end of the output (the pipe is closed).
bool Drain(Child* child, KeptOutput* output) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(child->Fd, buffer, sizeof buffer);
    if (n > 0) {
      if (output != nullptr) output->Add(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return false;
    close(child->Fd);
    child->Fd = -1;
    return true;
  }
}

// Waits for the process (its output has ended); its wait status.
int Reap(Child* child) {
  int status = 0;
  while (waitpid(child->Pid, &status, 0) < 0 && errno == EINTR) {
  }
  child->Pid = -1;
  return status;
}

// ---- the run's own figures ---------------------------------------------------------
// The last "Ausweise gesamt: <n> davon in Datei gestellt: <m>" of the output.
void ReadSummaryLine(const std::string& output, JobResult* result) {
  static const char Key[] = "Ausweise gesamt: ";
  const size_t at = output.rfind(Key);
  if (at == std::string::npos) return;
  int read = 0, written = 0;
  if (std::sscanf(output.c_str() + at + sizeof Key - 1, "%d davon in Datei gestellt: %d", &read, &written) == 2) {
    result->BadgesRead = read;
    result->BadgesWritten = written;
  }
}

// gentrmx-diff's closing line "Ausweise: <a> neu, <r> entfernt, <c> geaendert, <s> gleich".
bool ReadDiffCounts(const std::string& output, JobResult* result) {
  static const char Key[] = "Ausweise: ";
  const size_t at = output.rfind(Key);
  int same = 0;
  return at != std::string::npos &&
         std::sscanf(output.c_str() + at + sizeof Key - 1, "%d neu, %d entfernt, %d geaendert, %d gleich",
                     &result->Added, &result->Removed, &result->Differing, &same) == 4;
}

enum class Compared { Same, Different, Missing, Unreadable };

// Compares the two files chunk by chunk: memory stays flat in their size.
Compared CompareFiles(const std::string& written, const std::string& inPlace, std::string* note) {
  struct stat info {};
  if (stat(inPlace.c_str(), &info) != 0 && errno == ENOENT) return Compared::Missing;
  std::FILE* old = std::fopen(inPlace.c_str(), "rb");
  std::FILE* fresh = old != nullptr ? std::fopen(written.c_str(), "rb") : nullptr;
  if (fresh == nullptr) {
    *note = (old == nullptr ? inPlace : written) + ": " + std::strerror(errno);
    if (old != nullptr) std::fclose(old);
    return Compared::Unreadable;
  }
  Compared result = Compared::Same;
  constexpr size_t Chunk = 1 << 16;
  std::vector<char> a(Chunk), b(Chunk);
  for (;;) {
    const size_t na = std::fread(a.data(), 1, Chunk, old);
    const size_t nb = std::fread(b.data(), 1, Chunk, fresh);
    if (std::ferror(old) || std::ferror(fresh)) {
      *note = "Lesefehler";
      result = Compared::Unreadable;
      break;
    }
    if (na != nb || std::memcmp(a.data(), b.data(), na) != 0) {
      result = Compared::Different;
      break;
    }
    if (na == 0) break;
  }
  std::fclose(old);
  std::fclose(fresh);
  return result;
}

std::string Clock(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%02ld:%02ld", s / 60, s % 60);
  return text;
}

std::string Indented(const std::string& output) {
  std::string text = Latin1ToUtf8(output), out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out += "    | " + line + "\n";
    at = end + 1;
  }
  return out;
}

using Clocks = std::chrono::steady_clock;

class Batch {
 public:
  Batch(const std::vector<BatchJob>& jobs, const BatchSettings& settings, std::vector<JobResult>* results)
      : Jobs_(jobs), Settings_(settings), Results_(*results), Children_(jobs.size()), Started_(jobs.size()) {
    Results_.assign(jobs.size(), JobResult());
    // Jobs on the same file form one chain, in list order.
    std::map<std::string, size_t> chainOfPath;
    ChainOf_.resize(jobs.size());
    for (size_t j = 0; j < jobs.size(); ++j) {
      if (!jobs[j].Refused.empty()) {
        Results_[j].Phase = JobResult::State::Refused;
        Results_[j].Note = jobs[j].Refused;
        ++Done_;
        ++Failed_;
        continue;
      }
      std::error_code error;
      fs::path absolute = fs::absolute(jobs[j].Path, error);
      const std::string key = error ? jobs[j].Path : absolute.lexically_normal().string();
      auto found = chainOfPath.emplace(key, Chains_.size());
      if (found.second) Chains_.push_back(Chain());
      ChainOf_[j] = found.first->second;
      Chains_[found.first->second].Jobs.push_back(j);
    }
    Begin_ = Clocks::now();
  }

  int Run() {
    while (true) {
      if (StopSignal_ == 0) StartJobs();
      if (Running_ == 0) break;
      ShowProgress();
      struct pollfd fds[1 + 256];
      std::vector<size_t> polled;
      nfds_t count = 0;
      if (SignalPipe[0] >= 0) fds[count++] = {SignalPipe[0], POLLIN, 0};
      for (size_t j = 0; j < Jobs_.size() && count < sizeof fds / sizeof fds[0]; ++j) {
        if (Children_[j].Fd < 0) continue;
        fds[count++] = {Children_[j].Fd, POLLIN, 0};
        polled.push_back(j);
      }
      if (poll(fds, count, Settings_.Progress ? 250 : -1) < 0 && errno != EINTR) break;
      TakeSignals();
      for (size_t j : polled) {
        Child& child = Children_[j];
        const bool comparing = Results_[j].Phase == JobResult::State::Comparing;
        if (!Drain(&child, comparing ? &DiffOutput_[j] : &Results_[j].Output)) continue;
        const int status = Reap(&child);
        --Running_;
        if (comparing)
          DiffFinished(j, status);
        else
          RunFinished(j, status);
      }
    }
    // Whatever was not started stays so.
    for (size_t j = 0; j < Jobs_.size(); ++j) {
      if (Results_[j].Phase != JobResult::State::Waiting) continue;
      Results_[j].Phase = JobResult::State::NotStarted;
      if (Results_[j].Note.empty()) Results_[j].Note = "Abbruch durch Signal";
    }
    ClearProgress();
    return StopSignal_;
  }

 private:
  struct Chain {
    std::vector<size_t> Jobs;
    size_t Next = 0;       // the next of Jobs to start
    bool Busy = false;     // one of its jobs is running
    std::string TempPath;  // with --verify: the file its jobs write
  };

  // Starts jobs, at most Settings_.Jobs at once, the first waiting job of
  // each chain that is not busy, in list order.
  void StartJobs() {
    for (size_t j = 0; j < Jobs_.size() && Running_ < Settings_.Jobs; ++j) {
      if (Results_[j].Phase != JobResult::State::Waiting) continue;
      Chain& chain = Chains_[ChainOf_[j]];
      if (chain.Busy || chain.Jobs[chain.Next] != j) continue;
      Start(j);
    }
  }

  void Start(size_t j) {
    const BatchJob& job = Jobs_[j];
    Chain& chain = Chains_[ChainOf_[j]];
    std::string path = job.Path;
    if (Settings_.Verify) {
      if (chain.TempPath.empty()) {
        chain.TempPath = Settings_.TempFolder + "/" + std::to_string(ChainOf_[j] + 1) + "." + job.Function;
        // A list that appends to the file in place is compared as it would
        // leave the file: the appending starts from a copy.
        std::error_code error;
        if (job.Mode != '1' && fs::exists(job.Path, error))
          fs::copy_file(job.Path, chain.TempPath, fs::copy_options::overwrite_existing, error);
        if (error) {
          Fail(j, "Kopie der Datei zum Anhaengen nicht moeglich: " + error.message());
          return;
        }
      }
      path = chain.TempPath;
    }
    const std::vector<std::string> argv = {Settings_.Gentrmx, job.Function, job.Terminal, path,
                                           std::string(1, job.Mode)};
    Started_[j] = Clocks::now();
    const int error = Spawn(argv, &Children_[j]);
    if (error != 0) {
      Fail(j, Settings_.Gentrmx + " nicht startbar: " + std::strerror(error));
      return;
    }
    Results_[j].Phase = JobResult::State::Running;
    chain.Busy = true;
    ++Running_;
  }

  // A job that could not be run: it counts as failed, and so ends its chain.
  void Fail(size_t j, const std::string& note) {
    Results_[j].Phase = JobResult::State::Finished;
    Results_[j].ExitCode = -1;
    Results_[j].Note = note;
    if (Settings_.Verify) Results_[j].Check = Verdict::Failed;
    EndOfJob(j);
  }

  void RunFinished(size_t j, int status) {
    JobResult& result = Results_[j];
    result.Seconds = std::chrono::duration<double>(Clocks::now() - Started_[j]).count();
    result.Phase = JobResult::State::Finished;
    if (WIFSIGNALED(status)) result.Signal = WTERMSIG(status);
    else result.ExitCode = WEXITSTATUS(status);
    ReadSummaryLine(result.Output.Text(), &result);
    Chain& chain = Chains_[ChainOf_[j]];
    const bool last = chain.Jobs.back() == j;
    if (Settings_.Verify) {
      if (!result.Succeeded()) {
        result.Check = Verdict::Failed;
      } else if (!last) {
        result.Check = Verdict::InChain;
      } else {
        switch (CompareFiles(chain.TempPath, Jobs_[j].Path, &result.Note)) {
          case Compared::Same: result.Check = Verdict::Unchanged; break;
          case Compared::Missing: result.Check = Verdict::Missing; break;
          case Compared::Unreadable: result.Check = Verdict::Unreadable; break;
          case Compared::Different:
            result.Check = Verdict::Changed;
            if (StopSignal_ != 0) result.Note = "Vergleich wegen des Abbruchs nicht ausgefuehrt";
            else if (StartDiff(j)) return;
            break;
        }
      }
    }
    EndOfJob(j);
  }

  // gentrmx-diff between the file in place and the one the run wrote.
  bool StartDiff(size_t j) {
    const std::vector<std::string> argv = {Settings_.GentrmxDiff, "--function", Jobs_[j].Function, Jobs_[j].Path,
                                           Chains_[ChainOf_[j]].TempPath};
    const int error = Spawn(argv, &Children_[j]);
    if (error != 0) {
      Results_[j].Note = Settings_.GentrmxDiff + " nicht startbar: " + std::strerror(error);
      return false;
    }
    Results_[j].Phase = JobResult::State::Comparing;
    ++Running_;
    return true;
  }

  void DiffFinished(size_t j, int status) {
    JobResult& result = Results_[j];
    result.Phase = JobResult::State::Finished;
    const std::string output = DiffOutput_[j].Text();
    DiffOutput_.erase(j);
    if (!ReadDiffCounts(output, &result)) {
      // The file in place is damaged, or the comparison was stopped.
      std::string said = output.substr(0, output.find('\n'));
      result.Note = "gentrmx-diff: " + (said.empty() ? "Exitstatus " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) : said);
    }
    EndOfJob(j);
  }

  void EndOfJob(size_t j) {
    JobResult& result = Results_[j];
    Chain& chain = Chains_[ChainOf_[j]];
    chain.Busy = false;
    ++chain.Next;
    ++Done_;
    if (!result.Succeeded()) {
      ++Failed_;
      // The next jobs of the chain would build on a file that is not there.
      for (; chain.Next < chain.Jobs.size(); ++chain.Next) {
        const size_t k = chain.Jobs[chain.Next];
        Results_[k].Phase = JobResult::State::NotStarted;
        Results_[k].Note = "der Auftrag davor auf dieselbe Datei ist fehlgeschlagen";
        ++Done_;
      }
    }
    if (Settings_.Verify && chain.Next == chain.Jobs.size() && !chain.TempPath.empty()) {
      std::error_code ignored;
      fs::remove(chain.TempPath, ignored);
    }
    Report(j);
  }

  // One line for the finished job; its output when it failed (or always
  // with Verbose).
  void Report(size_t j) {
    const bool failed = !Results_[j].Succeeded();
    const bool shown = !Settings_.Progress || failed || Settings_.Verbose;
    if (!shown) return;
    ClearProgress();
    const BatchJob& job = Jobs_[j];
    const JobResult& result = Results_[j];
    std::string state = failed ? "FEHLER" : "ok";
    if (result.Check == Verdict::Changed) state = "geaendert";
    else if (result.Check == Verdict::Missing) state = "fehlt";
    else if (result.Check == Verdict::Unreadable) state = "unlesbar";
    else if (result.Check == Verdict::Unchanged) state = "unveraendert";
    char counter[32];
    std::snprintf(counter, sizeof counter, "[%*zu/%zu]", static_cast<int>(std::to_string(Jobs_.size()).size()), Done_,
                  Jobs_.size());
    std::string line = std::string(counter) + " " + state + " " + job.Function + " " + Shown(job.Terminal) + " -> " +
                       Shown(job.Path) + ": ";
    if (result.Phase != JobResult::State::Finished) {
      line += result.Note;
    } else {
      line += ExitText(result);
      if (result.BadgesRead >= 0)
        line += ", " + std::to_string(result.BadgesRead) + " Ausweise, " + std::to_string(result.BadgesWritten) +
                " in Datei";
      if (result.Added >= 0)
        line += ", Ausweise " + std::to_string(result.Added) + " neu, " + std::to_string(result.Removed) +
                " entfernt, " + std::to_string(result.Differing) + " geaendert";
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, ", %.2f s", result.Seconds);
      line += seconds;
      if (!result.Note.empty()) line += " (" + Shown(result.Note) + ")";
    }
    std::printf("%s\n", line.c_str());
    if ((failed || Settings_.Verbose) && !result.Output.Empty())
      std::printf("%s", Indented(result.Output.Text()).c_str());
    std::fflush(stdout);
    // A chain's jobs that were not started are reported with it.
    const Chain& chain = Chains_[ChainOf_[j]];
    for (size_t k : chain.Jobs)
      if (Results_[k].Phase == JobResult::State::NotStarted && !Reported_[k]) {
        Reported_[k] = true;
        std::printf("       nicht gestartet: %s %s -> %s (Auftrag davor fehlgeschlagen)\n", Jobs_[k].Function.c_str(),
                    Shown(Jobs_[k].Terminal).c_str(), Shown(Jobs_[k].Path).c_str());
      }
    std::fflush(stdout);
  }

  void TakeSignals() {
    char numbers[16];
    ssize_t n;
    while (SignalPipe[0] >= 0 && (n = read(SignalPipe[0], numbers, sizeof numbers)) > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        const int signal = numbers[i];
        if (StopSignal_ == 0) {
          ClearProgress();
          std::printf("Signal %d: keine weiteren Auftraege, die laufenden werden beendet.\n", signal);
          std::fflush(stdout);
        }
        StopSignal_ = signal;
        for (const Child& child : Children_)
          if (child.Pid > 0) kill(child.Pid, signal);
      }
    }
  }

  void ShowProgress() {
    if (!Settings_.Progress) return;
    // Redrawn when a job starts or ends, else a few times a second.
    const auto now = Clocks::now();
    const size_t state = Done_ * 1000 + static_cast<size_t>(Running_);
    if (ProgressShown_ && state == LastState_ && now - LastDrawn_ < std::chrono::milliseconds(250)) return;
    LastState_ = state;
    LastDrawn_ = now;
    const double elapsed = std::chrono::duration<double>(now - Begin_).count();
    std::string left = "?";
    if (Done_ > 0 && Done_ < Jobs_.size()) left = Clock(elapsed / Done_ * (Jobs_.size() - Done_));
    std::printf("\r\033[K%zu/%zu fertig, %zu fehlgeschlagen, %d laufend, %s vergangen, noch etwa %s", Done_,
                Jobs_.size(), Failed_, Running_, Clock(elapsed).c_str(), left.c_str());
    std::fflush(stdout);
    ProgressShown_ = true;
  }

  void ClearProgress() {
    if (!ProgressShown_) return;
    std::printf("\r\033[K");
    std::fflush(stdout);
    ProgressShown_ = false;
  }

  const std::vector<BatchJob>& Jobs_;
  const BatchSettings& Settings_;
  std::vector<JobResult>& Results_;
  std::vector<Child> Children_;
  std::vector<Clocks::time_point> Started_;
  std::vector<size_t> ChainOf_;
  std::vector<Chain> Chains_;
  std::map<size_t, KeptOutput> DiffOutput_;
  std::map<size_t, bool> Reported_;
  Clocks::time_point Begin_, LastDrawn_;
  size_t LastState_ = 0;
  int Running_ = 0;
  size_t Done_ = 0, Failed_ = 0;
  int StopSignal_ = 0;
  bool ProgressShown_ = false;
};

}  // namespace

int RunBatch(const std::vector<BatchJob>& jobs, const BatchSettings& settings, std::vector<JobResult>* results) {
  CatchStopSignals();
  Batch batch(jobs, settings, results);
  return batch.Run();
}
