// Access rights of a badge on a terminal: time permission, access classes
// (ZoneList) and the terminal's reader numbers (ZoneSlots).
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "db/records.h"
#include "db/session.h"

// The zone class query is a plain statement, opened, fetched to its end
// and closed within one build of a ZoneList.
struct ZoneClassCursor {
  explicit ZoneClassCursor(Session& db) : Cursor(db) {}
  Statement Cursor;
  char M35Bkl[6] = {};
};

constexpr int ZoneEntrySize = 16;
// The access classes of one badge: rebuilt by every BuildZoneList, read by
// the writer between builds. A writer keeps one for its run. The storage
// grows one entry at a time, as the list does, but is kept from one build
// to the next, so a run allocates only when a badge has more classes than
// any badge before it.
struct ZoneListArray {
  int32_t Count = 0;
  char (*Entries)[ZoneEntrySize] = nullptr;
  int32_t Capacity = 0;  // entries the storage holds
  // The query that fills it, kept with its row storage for the next build.
  std::optional<ZoneClassCursor> Query;

  ZoneListArray() = default;
  ~ZoneListArray();
  ZoneListArray(const ZoneListArray&) = delete;
  ZoneListArray& operator=(const ZoneListArray&) = delete;
};

// What the database says of one right: granted, denied, or the query failed
// (LastFailure holds the records and names the query). A failure is never a
// "no".
enum class Permission { Granted, Denied, Failed };

// Granted when the terminal takes one of the badge's booking classes for
// time booking.
Permission HasTimePermission(Session& db, const BadgeRecord* badge, const TerminalRecord* terminal);
// The statement texts of the queries below, into the session's SqlText;
// each returns its query's name as messages give it.
const char* FormatTimePermissionQuery(Session& db, const char* badgeNumber, const char* terminalName);
const char* FormatReaderQuery(Session& db, const char* terminalName, int32_t limit);
const char* FormatZoneClassQuery(Session& db, const char* badgeNumber, const char* terminalName);
// Row with *count set, or Failed.
StatementResult CountTimePermissions(Session& db, const char* badgeNumber, const char* terminalName, int32_t* count);
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
const std::vector<ReaderRow>* ReaderRowsFor(Session& db, const char* terminalName, int32_t limit,
                                            ReaderSnapshot* snapshot);

// Rebuilds list from the badge's access classes on the terminal and,
// with fillSlots, marks the terminal's reader numbers up to limit in the
// badge's ZoneSlots, from the rows of readers (ReaderRowsFor; null: read
// for this build alone). Granted when the list is not empty.
Permission BuildZoneList(Session& db, ZoneListArray& list, BadgeRecord* badge, const TerminalRecord* terminal,
                         int32_t limit, int fillSlots, ReaderSnapshot* readers = nullptr);
// Appends one entry; null (the list as it was) when memory ran out.
char (*AppendZoneEntry(ZoneListArray& list, const char* entry))[ZoneEntrySize];

// The reader and zone class queries are plain statements: each is opened,
// fetched to its end and closed before the next statement runs.
struct ReaderCursor {
  explicit ReaderCursor(Session& db) : Cursor(db) {}
  Statement Cursor;
  int32_t ZlsLes = 0;
  char ZlsZko[6] = {};
};
StatementResult OpenReaderCursor(ReaderCursor& cursor, const char* terminalName, int32_t limit);
StatementResult FetchReader(ReaderCursor& cursor, int32_t* number, char* text);
void CloseReaderCursor(ReaderCursor& cursor);
StatementResult OpenZoneClassCursor(ZoneClassCursor& cursor, const char* badgeNumber, const char* terminalName);
StatementResult FetchZoneClass(ZoneClassCursor& cursor, char* entry);
void CloseZoneClassCursor(ZoneClassCursor& cursor);
