// A run of the tool with a FIFO as its download file: see fault_checks.h.
#include "fault_checks.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace {

// Empty when the process has gone.
std::string ReadProcFile(const std::string& path) {
  std::string text;
  ReadWholeFile(path, &text);
  return text;
}

}  // namespace

FifoRun::FifoRun(ScratchInstallation& inst, const std::string& function, const std::string& terminal)
    : Path(inst.Root + "/download.fifo") {
  unlink(Path.c_str());
  if (mkfifo(Path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo " + Path + ": " + std::strerror(errno));
  Runner = std::thread([this, &inst, function, terminal] {
    try {
      Result = inst.Run({function, terminal, Path, "1"});
    } catch (const std::exception& e) {
      RunnerError = e.what();
    }
    Done = true;
  });
}

FifoRun::~FifoRun() {
  if (Runner.joinable()) {
    std::string ignored;
    Finish(&ignored);
  }
  if (Reader >= 0) close(Reader);
  unlink(Path.c_str());
}

// The tool is the child of this process named gentrmx (RunProgram forks it
// from the runner thread; its parent is this process all the same).
pid_t FifoRun::FindTool() const {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return -1;
  pid_t found = -1;
  while (dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    const std::string stat = ReadProcFile(std::string("/proc/") + entry->d_name + "/stat");
    size_t open = stat.find('(');
    size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 >= stat.size()) continue;
    if (stat.substr(open + 1, close - open - 1) != "gentrmx") continue;
    // ") S ppid ..."
    std::istringstream rest(stat.substr(close + 2));
    std::string state;
    long parent = 0;
    rest >> state >> parent;
    if (parent == static_cast<long>(getpid())) {
      found = static_cast<pid_t>(std::atol(entry->d_name));
      break;
    }
  }
  closedir(proc);
  return found;
}

// Polls the tool's kernel state: the wait channel of a blocked FIFO open or
// pipe write, or, on kernels that hide it, the same system call seen twice
// in a row.
bool FifoRun::WaitBlocked(const char* const* channels, const char* syscallNumber, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const std::string syscallPrefix = std::string(syscallNumber) + " ";
  std::string lastSyscall;
  while (std::chrono::steady_clock::now() < deadline) {
    if (ToolEnded()) return false;
    pid_t pid = FindTool();
    if (pid > 0) {
      const std::string base = "/proc/" + std::to_string(pid);
      const std::string wchan = ReadProcFile(base + "/wchan");
      for (const char* const* channel = channels; *channel != nullptr; ++channel)
        if (wchan.find(*channel) != std::string::npos) return true;
      const std::string syscall = ReadProcFile(base + "/syscall");
      if (syscall.rfind(syscallPrefix, 0) == 0 && syscall == lastSyscall) return true;
      lastSyscall = syscall;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

bool FifoRun::WaitBlockedInOpen(std::chrono::seconds limit) {
  static const char* const channels[] = {"wait_for_partner", "fifo_open", nullptr};
  return WaitBlocked(channels, "257", limit);  // openat
}

bool FifoRun::WaitBlockedInWrite(std::chrono::seconds limit) {
  OpenReader();
  static const char* const channels[] = {"pipe_write", "pipe_wait", nullptr};
  return WaitBlocked(channels, "1", limit);  // write
}

void FifoRun::OpenReader() {
  if (Reader >= 0) return;
  Reader = open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (Reader < 0) ADD_FAILURE() << "cannot open " << Path << ": " << std::strerror(errno);
}

RunResult FifoRun::Finish(std::string* downloadBytes) {
  OpenReader();
  downloadBytes->clear();
  char buffer[65536];
  for (;;) {
    // Read what is there; read gives 0 while no writer has the FIFO open
    // (not yet, or no more) and -1 with EAGAIN while the writer is quiet.
    ssize_t n = Reader >= 0 ? read(Reader, buffer, sizeof buffer) : 0;
    if (n > 0) {
      downloadBytes->append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (ToolEnded()) {
      // The tool has exited: whatever it wrote is in the pipe.
      while (Reader >= 0 && (n = read(Reader, buffer, sizeof buffer)) > 0)
        downloadBytes->append(buffer, static_cast<size_t>(n));
      break;
    }
    if (n == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } else {
      pollfd wait = {Reader, POLLIN, 0};
      poll(&wait, 1, 50);
    }
  }
  Runner.join();
  if (!RunnerError.empty()) ADD_FAILURE() << RunnerError;
  return Result;
}
