// What the fixed-width download files can hold: 13 positions for the badge
// number, 3 for an access class. A value that does not fit is never written
// (it would run into the next field and could even name another badge); the
// badge or class is left out with a message that is printed always.
#pragma once
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "db/access_rights.h"
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
