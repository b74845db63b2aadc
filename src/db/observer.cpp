// The observer hooks' defaults and the trace of a download run.
#include "db/observer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "db/balance_display.h"
#include "db/session.h"

void RunObserver::ShowDatabaseText(const char* text, size_t length) { std::fwrite(text, 1, length, stdout); }

void FormatNote(RunObserver& observer, const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n >= 0) observer.Note(text);
}

void RunTrace::FailureDetails(const FailureRecord& failure) {
  if (Debug && failure.Count > 1) PrintFailureRecords(failure, nullptr, *this);
}

void RunTrace::WalkEnded(int /*rc*/, int32_t total, int32_t written) {
  std::printf("Ausweise gesamt: %d davon in Datei gestellt: %d\n", total, written);
}

void RunTrace::TimePermission(const BadgeRecord& badge, const TerminalRecord& /*terminal*/, int32_t count,
                              bool granted) {
  if (Debug && count >= 0) std::printf("Aws: %s Zeitberechtigung: %d\n", badge.AswNum, granted ? 1 : 0);
}

void RunTrace::NoBalanceRow(const char* function, const BadgeRecord& badge, int code) {
  if (!Debug) return;
  if (std::strcmp(function, "MGDNL17P") == 0)
    std::printf("Saldo Ermitteln. Pnr: %s SQLCode:%ld\n", badge.AswPnr, static_cast<long>(code));
  else
    std::printf("Ausweis:%s Person:%s Saldodaten nicht gefunden! %d\n", badge.AswNum, badge.AswPnr, code);
}

void RunTrace::DisplayDefinition(bool terminalLevel, const BalanceDisplaySlot& slot) {
  if (Debug && terminalLevel)
    std::printf("Wert: %s  Txt: %s  Con: %s !\n", slot.ValueText, slot.DisplayText, slot.ValueCode);
}

void RunTrace::Skipped(const BadgeRecord& badge, const TerminalRecord& terminal, SkipReason why) {
  if (!Debug) return;
  switch (why) {
    case SkipReason::NoRights:
    case SkipReason::NoRightsLine:
      std::printf("Ausweis %s ohne Zeit-/Zutrittsberechtigung auf Terminal %s\n", badge.AswNum, terminal.TrmNam);
      break;
    case SkipReason::NoAccess:
      std::printf("Ausweis %s ohne Zutrittsberechtigung auf Terminal %s\n", badge.AswNum, terminal.TrmNam);
      break;
    case SkipReason::NoTime:
      std::printf("Ausweis %s auf Terminal %s nicht zulaessig!\n", badge.AswNum, terminal.TrmNam);
      break;
    case SkipReason::NoPersonnelNumber:
    case SkipReason::AlreadyWritten:
      break;
  }
}
