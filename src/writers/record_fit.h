// What the fixed-width download files can hold: 13 positions for the badge
// number, 3 for an access class. A value that does not fit is never written
// (it would run into the next field and could even name another badge); the
// badge or class is left out with a message that is printed always.
#pragma once
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "db/access_rights.h"
#include "db/badges.h"
#include "db/records.h"

constexpr size_t BadgeNumberWidth = 13;
constexpr size_t ClassWidth = 3;

inline bool BadgeNumberFits(const BadgeRecord& badge, const char* fileName) {
  if (std::strlen(badge.AswNum) <= BadgeNumberWidth) return true;
  std::printf("Ausweis %s passt nicht in die Datei %s (Ausweisnummer laenger als 13 Zeichen) und wird ausgelassen!\n",
              badge.AswNum, fileName);
  return false;
}

// A ZoneList entry is blank-filled to at least three characters; it fits
// when it is at most three without its trailing blanks.
inline bool ZoneClassFits(const char* entry, const BadgeRecord& badge, const char* fileName) {
  size_t n = strnlen(entry, ZoneEntrySize);
  while (n > 0 && entry[n - 1] == ' ') --n;
  if (n <= ClassWidth) return true;
  std::printf("Zutrittsklasse %.*s von Ausweis %s passt nicht in die Datei %s und wird ausgelassen!\n",
              static_cast<int>(n), entry, badge.AswNum, fileName);
  return false;
}

// Reader slots 1 to count set to two blanks: a slot that BuildZoneList does
// not fill then means the terminal has no such reader.
inline void ClearReaderSlots(BadgeRecord& badge, int count) {
  for (int k = 0; k < count; ++k) {
    badge.ZoneSlots[k][0] = ' ';
    badge.ZoneSlots[k][1] = ' ';
    badge.ZoneSlots[k][2] = '\0';
  }
}

inline bool ReaderSlotFilled(const BadgeRecord& badge, int reader) {
  const char* slot = badge.ZoneSlots[reader - 1];
  return slot[0] != ' ' || slot[1] != ' ';
}

// The badge walk of the writers without a duplicate test: every fetched
// badge counts in the total, those that writeBadge put into the file in the
// written count. Prints the summary line; returns 1 when the badges were read
// to the end, else 0.
inline int WalkBadges(TerminalRecord* terminal, BadgeRecord& badge,
                      bool (*writeBadge)(const TerminalRecord* terminal)) {
  int32_t total = 0;
  int32_t written = 0;
  std::memset(&badge, 0, sizeof badge);
  OpenBadgeCursor(terminal);
  int rc = FetchBadge(&badge);
  while (rc == 0) {
    ++total;
    if (writeBadge(terminal)) ++written;
    std::memset(&badge, 0, sizeof badge);
    rc = FetchBadge(&badge);
  }
  CloseBadgeCursor();
  std::printf("Ausweise gesamt: %d davon in Datei gestellt: %d\n", total, written);
  return rc == 100 ? 1 : 0;
}
