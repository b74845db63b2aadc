// Every statement text the download functions send, as their query
// families format them, and the tables they read in each spelling they
// use: for the installer's check, which probes exactly these.
#pragma once
#include <string>
#include <vector>

#include "db/session.h"

// The texts, formatted for a terminal and a badge of these names.
std::vector<std::string> QueryTexts(Session& db, const char* terminalName, const char* badgeNumber);

// A table and the spellings (schema and name, as written) the texts use
// for it, in the order they first appear.
struct TableSpellings {
  std::string Table;
  std::vector<std::string> Spellings;
};
std::vector<TableSpellings> TablesOfQueries(Session& db);
