#include "tds_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace {

// The environment with entries of extra replacing those of the same name.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    std::string name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const std::string& e : extra) replaced = replaced || e.compare(0, name.size() + 1, name + "=") == 0;
    if (!replaced) result.push_back(text);
  }
  result.insert(result.end(), extra.begin(), extra.end());
  return result;
}

// Reads the first line the server writes, up to timeoutMs; "" if none came.
std::string ReadFirstLine(int fd, int timeoutMs) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (line.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return "";
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return "";
    char buffer[256];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "";
    line.append(buffer, static_cast<size_t>(n));
  }
  return line.substr(0, line.find('\n'));
}

}  // namespace

TdsTestServer::TdsTestServer(const TdsServerOptions& options) : LogPath(options.LogPath) {
  std::vector<std::string> args = {GENTRMX_PYTHON3,
                                   GENTRMX_TDS_SERVER_SCRIPT,
                                   "--db",
                                   options.DbPath,
                                   "--ext",
                                   options.ExtensionPath.empty() ? std::string(GENTRMX_SQLEXT) : options.ExtensionPath,
                                   "--user",
                                   options.User,
                                   "--password",
                                   options.Password};
  if (!options.LogPath.empty()) {
    args.push_back("--log");
    args.push_back(options.LogPath);
  }
  if (options.DropAfter > 0) {
    args.push_back("--drop-after");
    args.push_back(std::to_string(options.DropAfter));
  }
  if (options.SilentAfter > 0) {
    args.push_back("--silent-after");
    args.push_back(std::to_string(options.SilentAfter));
  }
  if (options.AbortBatchOnError) args.push_back("--abort-batch-on-error");
  std::vector<std::string> env = MergedEnvironment(options.ExtraEnv);

  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error(std::string("TDS test server: pipe: ") + strerror(errno));
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    throw std::runtime_error(std::string("TDS test server: pipe: ") + strerror(errno));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    throw std::runtime_error(std::string("TDS test server: cannot run ") + GENTRMX_PYTHON3 + ": " + strerror(rc));
  }
  ServerPid = pid;
  StdinFd = in[1];
  std::string line = ReadFirstLine(out[0], 20000);
  close(out[0]);
  if (line.compare(0, 5, "PORT ") == 0) ServerPort = std::atoi(line.c_str() + 5);
  if (ServerPort <= 0) {
    Stop();
    throw std::runtime_error("TDS test server (" + std::string(GENTRMX_TDS_SERVER_SCRIPT) +
                             ") announced no port within 20 s; first line: \"" + line +
                             "\" (its standard error is above)");
  }
}

TdsTestServer::~TdsTestServer() { Stop(); }

TdsTestServer::TdsTestServer(TdsTestServer&& other) noexcept
    : ServerPid(other.ServerPid), StdinFd(other.StdinFd), ServerPort(other.ServerPort), LogPath(other.LogPath) {
  other.ServerPid = -1;
  other.StdinFd = -1;
}

TdsTestServer& TdsTestServer::operator=(TdsTestServer&& other) noexcept {
  if (this != &other) {
    Stop();
    ServerPid = other.ServerPid;
    StdinFd = other.StdinFd;
    ServerPort = other.ServerPort;
    LogPath = other.LogPath;
    other.ServerPid = -1;
    other.StdinFd = -1;
  }
  return *this;
}

void TdsTestServer::Stop() {
  if (StdinFd >= 0) {
    close(StdinFd);
    StdinFd = -1;
  }
  if (ServerPid > 0) {
    kill(ServerPid, SIGTERM);
    int status = 0;
    while (waitpid(ServerPid, &status, 0) < 0 && errno == EINTR) {
    }
    ServerPid = -1;
  }
}

std::vector<std::string> TdsTestServer::RequestLog() const {
  std::vector<std::string> lines;
  std::ifstream in(LogPath, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}
