// The TDS test server (tests/tds/tds_server.py) as a child process: a stand-in
// for SQL Server that FreeTDS's ODBC driver talks to, answering from a SQLite
// database file with the gentrmx_sqlext extension loaded.
//
// The server listens on 127.0.0.1 on a port the system picks. It ends when
// this object is destroyed (its standard input is closed and it gets
// SIGTERM), or with this process, since it also ends when its standard input
// reaches end of file. Its standard error is this process's.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

struct TdsServerOptions {
  std::string DbPath;         // the SQLite database file
  std::string ExtensionPath;  // gentrmx_sqlext.so (default: the build's)
  std::string User;           // the only login accepted, with Password
  std::string Password;
  std::string LogPath;        // request log ("" for none), one line a request:
                              // kind, then a tab and the statement text if any
  // Requests count from 1 per connection: 1 is the pre-login, 2 the login,
  // 3 the first statement message.
  int DropAfter = 0;          // > 0: drop each connection at its N-th request
  int SilentAfter = 0;        // > 0: answer nothing from each connection's N-th
                              // request on, keeping it open (a server that hangs)
  bool AbortBatchOnError = false;  // a failing statement ends its batch (SQL Server's
                                   // batch-aborting errors); else every statement runs
  std::vector<std::string> ExtraEnv;  // "NAME=value" for the server's environment
                                      // (GENTRMX_SQL_LOG=..., TZ=...)
};

class TdsTestServer {
 public:
  // Starts the server and waits (up to 20 s) for the port it announces;
  // throws std::runtime_error when it cannot start or announces none.
  explicit TdsTestServer(const TdsServerOptions& options);
  ~TdsTestServer();  // Stop()
  TdsTestServer(TdsTestServer&& other) noexcept;
  TdsTestServer& operator=(TdsTestServer&& other) noexcept;
  TdsTestServer(const TdsTestServer&) = delete;
  TdsTestServer& operator=(const TdsTestServer&) = delete;

  int Port() const { return ServerPort; }
  pid_t Pid() const { return ServerPid; }

  // Ends the server and waits for it; nothing happens on a second call.
  void Stop();

  // The lines of the request log so far (LogPath), without line ends.
  std::vector<std::string> RequestLog() const;

 private:
  pid_t ServerPid = -1;
  int StdinFd = -1;
  int ServerPort = 0;
  std::string LogPath;
};
