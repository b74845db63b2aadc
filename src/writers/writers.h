// The download file writers, one per download function. Each walks the
// badge cursor of the session, writes its records to the DownloadFile,
// reports the walk's counts to the session's observer (a download run
// prints them as the summary line) and returns 1 (badges read to the end)
// or 0 (a database error). What a writer keeps from badge to badge lives
// for its one call.
#pragma once
#include <cstring>

#include "db/records.h"
#include "db/session.h"

int WorkMgDnl17P(Session& db, TerminalRecord* terminal);
int WorkMgDnl18P(Session& db, TerminalRecord* terminal);
int WorkMgDnl31P(Session& db, TerminalRecord* terminal);
int WorkMgDnl60P(Session& db, TerminalRecord* terminal);
int WorkIdStamm(Session& db, TerminalRecord* terminal);

// The download functions by name (upper case) with their writers.
struct WriterEntry {
  const char* Name;
  int (*Writer)(Session& db, TerminalRecord* terminal);
};
inline constexpr WriterEntry WriterTable[] = {
    {"MGDNL17P", WorkMgDnl17P}, {"MGDNL18P", WorkMgDnl18P}, {"MGDNL31P", WorkMgDnl31P},
    {"MGDNL60P", WorkMgDnl60P}, {"IDSTAMM", WorkIdStamm},
};

// The writer of the function of that name, compared as it stands; nullptr
// when there is none.
inline const WriterEntry* WriterByFunction(const char* name) {
  for (const WriterEntry& entry : WriterTable)
    if (std::strcmp(name, entry.Name) == 0) return &entry;
  return nullptr;
}
