// Access rights of a badge on a terminal: time permission, access classes
// (ZoneList) and the terminal's reader numbers (ZoneSlots).
#pragma once
#include <cstdint>

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
// Rebuilds ZoneList from the badge's access classes on the terminal and,
// with fillSlots, marks the terminal's reader numbers up to limit in the
// badge's ZoneSlots. Granted when the list is not empty.
Permission BuildZoneList(BadgeRecord* badge, const TerminalRecord* terminal, int32_t limit, int fillSlots);
char (*AppendZoneEntry(const char* entry))[ZoneEntrySize];

StatementResult OpenReaderCursor(const char* terminalName, int32_t limit);
StatementResult FetchReader(int32_t* number, char* text);
void CloseReaderCursor();
StatementResult OpenZoneClassCursor(const char* badgeNumber, const char* terminalName);
StatementResult FetchZoneClass(char* entry);
void CloseZoneClassCursor();
