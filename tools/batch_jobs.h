// The jobs of gentrmx-batch: each one gentrmx call with its exact
// arguments, read from a list (one job a line) or built from terminals,
// functions and a path pattern. No database code, no processes.
#pragma once
#include <string>
#include <vector>

// What gentrmx takes at most (it refuses longer arguments).
constexpr size_t TerminalNameLimit = 255;
constexpr size_t PathLimit = 199;

struct BatchJob {
  std::string Function;  // upper case, a known download function
  std::string Terminal;
  std::string Path;      // as gentrmx gets it (relative to the working folder)
  char Mode = '1';       // '1' start a new file, '0' append
  int Line = 0;          // its line in the list; 0 when built from --terminals
  std::string Refused;   // not empty: the job is not run, for this reason (German)
};

// The download function of that name in any case, in upper case; empty
// when there is none.
std::string KnownFunction(const std::string& name);
// "MGDNL17P, MGDNL18P, ..." for messages.
std::string FunctionNames();

// One line of a job list: "FUNCTION TERMINAL PATH [MODE]", fields apart by
// blanks or tabs; a field in double quotes may hold blanks ("" stands for
// one double quote). Blank lines and lines whose first non-blank character
// is "#" are skipped (*skip). A trailing CR is ignored. Returns false with
// the reason (German) for a line that is not a job.
bool ParseListLine(const std::string& line, BatchJob* job, bool* skip, std::string* reason);

// Why a terminal name cannot stand in a file name (empty, "." or "..", a
// "/", a control character); empty when it can.
std::string FileNameProblem(const std::string& terminal);

// The pattern with every {terminal} and {function} replaced.
std::string ExpandPattern(const std::string& pattern, const std::string& terminal, const std::string& function);

// "A,B,,C" -> A, B, C (empty items dropped, each kept once, in order).
std::vector<std::string> SplitCommaList(const std::string& text);
