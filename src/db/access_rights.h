// Access rights of a badge on a terminal: time permission, access classes
// (ZoneList) and the terminal's reader numbers (ZoneSlots).
#pragma once
#include <cstdint>

#include "db/records.h"

constexpr int ZoneEntrySize = 16;
struct ZoneListArray {
  int32_t Count;
  char (*Entries)[ZoneEntrySize];
};
// Rebuilt by every BuildZoneList; read by the writers between builds.
extern ZoneListArray ZoneList;

int HasTimePermission(const BadgeRecord* badge, const TerminalRecord* terminal);
int CountTimePermissions(const char* badgeNumber, const char* terminalName, int32_t* count);
// The time-permission query after its select list (terminal name, then
// badge number, as %q): the terminal's time booking classes among the
// badge's. An explanation of a badge lists the classes with it.
#define GENTRMX_TIME_PERMISSION_FROM                                                          \
  "FROM  Dravonix.MGSST35P WHERE M35Trm = '%q' AND   M35BCH = '1' AND   M35Bkl IN (SELECT " \
  "AwbBkl FROM  Dravonix.Xel301Awb WHERE AWBASW = '%q')"
int BuildZoneList(BadgeRecord* badge, const TerminalRecord* terminal, int32_t limit, int fillSlots);
char (*AppendZoneEntry(const char* entry))[ZoneEntrySize];

int OpenReaderCursor(const char* terminalName, int32_t limit);
int FetchReader(int32_t* number, char* text);
int CloseReaderCursor();
int OpenZoneClassCursor(const char* badgeNumber, const char* terminalName);
int FetchZoneClass(char* entry);
int CloseZoneClassCursor();
