// Access rights of a badge on a terminal: time permission, access classes
// (ZoneList) and the terminal's reader numbers (ZoneSlots).
#pragma once
#include <cstdint>
#include <vector>

#include "db/records.h"
#include "db/session.h"

constexpr int ZoneEntrySize = 16;
struct ZoneListArray {
  int32_t Count;
  char (*Entries)[ZoneEntrySize];
};
// Rebuilt by every BuildZoneList; read by the writers between builds.
extern ZoneListArray ZoneList;

// What the database says of one right: granted, denied, or the query failed
// (LastFailure holds the records and names the query). A failure is never a
// "no".
enum class Permission { Granted, Denied, Failed };

// Granted when the terminal takes one of the badge's booking classes for
// time booking.
Permission HasTimePermission(const BadgeRecord* badge, const TerminalRecord* terminal);
// Row with *count set, or Failed.
StatementResult CountTimePermissions(const char* badgeNumber, const char* terminalName, int32_t* count);
// The time-permission query after its select list (terminal name, then
// badge number, as %q): the terminal's time booking classes among the
// badge's. An explanation of a badge lists the classes with it.
#define GENTRMX_TIME_PERMISSION_FROM                                                          \
  "FROM  Dravonix.MGSST35P WHERE M35Trm = '%q' AND   M35BCH = '1' AND   M35Bkl IN (SELECT " \
  "AwbBkl FROM  Dravonix.Xel301Awb WHERE AWBASW = '%q')"
// One row of the reader query: the reader number (0 when NULL) and its
// zone, trimmed (fetched, not used).
struct ReaderRow {
  int32_t Number;
  char Zone[6];
};
// The reader rows of one terminal up to one limit, as one read of the
// reader query gave them to its end. They depend on nothing else, so a
// writer run keeps one snapshot: the reader query is sent at the first
// badge that fills slots, and every later badge of the run is filled from
// the same rows (rows changed in the database during the run are not seen).
// A run starts with Taken false.
struct ReaderSnapshot {
  bool Taken = false;
  int32_t Limit = 0;
  char Terminal[sizeof TerminalRecord::TrmNam] = {};
  std::vector<ReaderRow> Rows;
};
// The reader rows of the terminal up to limit: those of snapshot when it
// holds them for that terminal and limit, else read now (and kept in
// snapshot when the read reached its end). Null when the read failed
// (LastFailure names the reader query; the snapshot is not taken).
const std::vector<ReaderRow>* ReaderRowsFor(const char* terminalName, int32_t limit, ReaderSnapshot* snapshot);

// Rebuilds ZoneList from the badge's access classes on the terminal and,
// with fillSlots, marks the terminal's reader numbers up to limit in the
// badge's ZoneSlots, from the rows of readers (ReaderRowsFor; null: read
// for this build alone). Granted when the list is not empty.
Permission BuildZoneList(BadgeRecord* badge, const TerminalRecord* terminal, int32_t limit, int fillSlots,
                         ReaderSnapshot* readers = nullptr);
char (*AppendZoneEntry(const char* entry))[ZoneEntrySize];

// The reader and zone class queries are plain statements: each is opened,
// fetched to its end and closed before the next statement runs.
StatementResult OpenReaderCursor(const char* terminalName, int32_t limit);
StatementResult FetchReader(int32_t* number, char* text);
void CloseReaderCursor();
StatementResult OpenZoneClassCursor(const char* badgeNumber, const char* terminalName);
StatementResult FetchZoneClass(char* entry);
void CloseZoneClassCursor();
