// The records that the queries fill and the writers format.
#pragma once
#include <cstdint>
#include <cstring>

// One terminal, looked up once per run. The driver fills every byte with
// "0" and puts the name at the start; the terminal lookup sets the rest.
struct TerminalRecord {
  char TrmNam[256];
  char TrmMod[11];
  char TrmSal[11];
  int32_t TfzCount;
};

constexpr int ZoneSlotCount = 11;

// One fetched badge: fixed-width, zero-terminated text fields (widths
// include the terminator). Cleared to zero bytes before every fetch.
struct BadgeRecord {
  char AswNum[51];
  char AswGvo[15];
  char AswGbi[19];
  char AswSal[11];
  char AswSpr[15];
  char AswBkl[6];
  char AswBk2[6];
  char StoKtx[4];
  char AwvSto[9];
  char AswGrp[6];
  char AswPnr[9];
  char AswAan[51];
  char AswAtp[50];
  char AswPin[33];
  // Balance values in record order (not column order).
  char TswW02[8];
  char TswW09[8];
  char TswW10[8];
  char TswW11[8];
  char TswW12[8];
  char TswW13[8];
  char TswW14[8];
  char TswW15[8];
  char TswW16[8];
  char TswW08[8];
  char TswW05[8];
  char TswW06[8];
  char TswW07[8];
  char TswW03[8];
  char TswW04[8];
  char TswF[10][21];  // TswF01 to TswF10
  // Slot k-1 belongs to reader number k (1 to 11).
  char ZoneSlots[ZoneSlotCount][3];
};

// Text of a TerminalRecord's TrmMod / TrmSal: the field up to its
// terminator, or empty when the lookup did not set it (the field then holds
// the "0" fill with no terminator inside).
inline const char* TerminalText(const char (&field)[11]) {
  return std::memchr(field, '\0', sizeof field) != nullptr ? field : "";
}

// A TerminalRecord before the terminal lookup: every byte the character
// "0", then the terminal's name (shorter than TrmNam) with its terminator.
inline void StartTerminalRecord(TerminalRecord* terminal, const char* name) {
  std::memset(terminal, '0', sizeof *terminal);
  std::memcpy(terminal->TrmNam, name, std::strlen(name) + 1);
}
