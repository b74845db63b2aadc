// Shared pieces of the fault tests: the download functions, the messages a
// caller sees, checks on standard error, and a run whose download file is a
// FIFO, so that a test can act on the database while the tool is under way.
#pragma once
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "installation.h"

struct DownloadFunction {
  const char* Name;
  size_t RecordLength;  // 0: text lines (IDSTAMM)
};
inline const DownloadFunction DownloadFunctions[] = {
    {"MGDNL17P", 85}, {"MGDNL18P", 173}, {"MGDNL31P", 48}, {"MGDNL60P", 45}, {"IDSTAMM", 0},
};

inline const std::string ConnectedMessage = "Mit Datenbank verbunden! Schema: DRAVONIX\n";

inline std::string AbortMessage(const std::string& function) {
  return "Programmabbruch: Fehler bei Erstellung der Datei " + function + "!\n";
}

inline std::string SummaryMessage(int total, int written) {
  return "Ausweise gesamt: " + std::to_string(total) + " davon in Datei gestellt: " + std::to_string(written) + "\n";
}

// What a writer prints when its badge cursor failed before the first badge:
// the summary with 0 and 0 (MGDNL17P adds its error code), then the abort.
inline std::string FailedBeforeFirstBadge(const std::string& function) {
  std::string text = SummaryMessage(0, 0);
  if (function == "MGDNL17P") text += "FehlerCode EndWorkMgDnl17P: -1\n";
  return text + AbortMessage(function);
}

inline bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A run that failed at its first query, the terminal lookup: the connect
// line, the one line that names the failed query with the driver's
// diagnostics, the abort message; nothing else.
inline ::testing::AssertionResult FailedAtTheTerminalLookup(const std::string& out, const std::string& function,
                                                            const std::string& query = "Terminalabfrage") {
  const std::string head = ConnectedMessage + "Datenbankfehler bei " + query + " fuer Terminal T1: SQLSTATE ";
  const std::string tail = AbortMessage(function);
  if (out.compare(0, head.size(), head) != 0 || !EndsWith(out, tail) ||
      out.find('\n', head.size()) != out.size() - tail.size() - 1)
    return ::testing::AssertionFailure() << "not a run that failed at the terminal lookup:\n" << out;
  return ::testing::AssertionSuccess();
}

// The SQLite ODBC driver reports a LoadExt failure on standard error and
// connects all the same; with such a data source nothing but those lines
// may stand there (a sanitizer report or anything from the tool fails).
inline ::testing::AssertionResult OnlyDriverLoadWarnings(const std::string& stderrText, const std::string& reason) {
  if (stderrText.empty()) return ::testing::AssertionFailure() << "no driver warning on standard error";
  size_t at = 0;
  while (at < stderrText.size()) {
    size_t end = stderrText.find('\n', at);
    if (end == std::string::npos) end = stderrText.size();
    const std::string line = stderrText.substr(at, end - at);
    if (line.rfind("extension '", 0) != 0 || line.find("' did not load: ") == std::string::npos ||
        line.find(reason) == std::string::npos)
      return ::testing::AssertionFailure() << "unexpected standard error line: " << line;
    at = end + 1;
  }
  return ::testing::AssertionSuccess();
}

inline void WriteBytes(const std::string& path, const std::string& content) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), file), content.size()) << path;
  ASSERT_EQ(std::fclose(file), 0) << path;
}

// Sets the data source's busy timeout (milliseconds) in the installation's
// odbc.ini, in place of the fixture's.
inline void SetDataSourceTimeout(ScratchInstallation& inst, int milliseconds) {
  std::string ini = inst.ReadFile("odbc.ini");
  const std::string key = "Timeout=";
  size_t at = ini.find(key);
  ASSERT_NE(at, std::string::npos) << ini;
  size_t end = ini.find('\n', at);
  ini.replace(at, end - at, key + std::to_string(milliseconds));
  WriteBytes(inst.Root + "/odbc.ini", ini);
}

// A run of the tool whose download file is a FIFO. The tool blocks in its
// open of the download file (after the connect, before any query) until
// the test opens the reading end, and blocks in its writes while the test
// does not read. The test acts on the database at one of these points.
class FifoRun {
 public:
  FifoRun(ScratchInstallation& inst, const std::string& function, const std::string& terminal);
  ~FifoRun();
  FifoRun(const FifoRun&) = delete;
  FifoRun& operator=(const FifoRun&) = delete;

  // Waits until the tool sits in its open of the FIFO. false when it ended
  // or did not get there within the time limit.
  bool WaitBlockedInOpen(std::chrono::seconds limit);
  // Opens the reading end without waiting: the tool's open goes through.
  void OpenReader();
  // Opens the reader and waits until the tool sits in a write to the full
  // pipe: it has written a pipe's worth and its stream buffer besides, and
  // is between two records (each badge's queries are done before its
  // records are written). false when it ended or did not get there.
  bool WaitBlockedInWrite(std::chrono::seconds limit);
  // Reads everything up to the tool's end and waits for it.
  RunResult Finish(std::string* downloadBytes);

 private:
  pid_t FindTool() const;
  bool WaitBlocked(const char* const* channels, const char* syscallNumber, std::chrono::seconds limit);
  bool ToolEnded() const { return Done.load(); }

  std::string Path;
  int Reader = -1;
  std::thread Runner;
  std::atomic<bool> Done{false};
  RunResult Result{-1000, {}, {}};
  std::string RunnerError;
};
