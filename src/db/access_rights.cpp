// Access rights of one badge on one terminal: whether the terminal takes one
// of the badge's classes for time booking, which of them it takes for
// access (the ZoneList), and on request the terminal's reader numbers,
// marked in the badge's ZoneSlots.
#include "db/access_rights.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "common/trace.h"
#include "db/session.h"

ZoneListArray ZoneList = {0, nullptr};

namespace {

// Entries the ZoneList storage can hold. The storage grows one entry at a
// time, as the list does, but is kept from one build to the next, so a run
// allocates only when a badge has more classes than any badge before it.
int32_t ZoneListCapacity = 0;

int32_t TimePermissionBuffer;

Statement ReaderCursor;
// The reader rows of a build that keeps no snapshot.
ReaderSnapshot BuildReaders;
int32_t ZlsLesBuffer;
char ZlsZkoBuffer[6];
const ColumnBinding ReaderColumns[] = {
    {SQL_C_LONG, &ZlsLesBuffer, sizeof ZlsLesBuffer},
    {SQL_C_CHAR, ZlsZkoBuffer, sizeof ZlsZkoBuffer},
};

Statement ZoneClassCursor;
char M35BklBuffer[6];
const ColumnBinding ZoneClassColumns[] = {
    {SQL_C_CHAR, M35BklBuffer, sizeof M35BklBuffer},
};

}  // namespace

Permission HasTimePermission(const BadgeRecord* badge, const TerminalRecord* terminal) {
  int32_t count = 0;
  if (CountTimePermissions(badge->AswNum, terminal->TrmNam, &count).Failed()) {
    ExplainNote("Zeitberechtigung auf Terminal %s: Abfrage fehlgeschlagen", terminal->TrmNam);
    return Permission::Failed;
  }
  int answer = count > 0 ? 1 : 0;
  ExplainNote("Zeitberechtigung auf Terminal %s: %d Buchungsklasse(n) mit M35Bch '1' -> %s", terminal->TrmNam,
              static_cast<int>(count), answer ? "ja" : "nein");
  if (DebugTrace) std::printf("Aws: %s Zeitberechtigung: %d\n", badge->AswNum, answer);
  return answer ? Permission::Granted : Permission::Denied;
}

StatementResult CountTimePermissions(const char* badgeNumber, const char* terminalName, int32_t* count) {
  FormatSqlText(
      "SELECT COUNT(*) " GENTRMX_TIME_PERMISSION_FROM,
      terminalName, badgeNumber);
  TimePermissionBuffer = 0;
  const ColumnBinding columns[] = {{SQL_C_LONG, &TimePermissionBuffer, sizeof TimePermissionBuffer}};
  const StatementResult counted = LookupSingleRow(columns, 1);
  // A count always gives its row; none is as wrong as a failure.
  if (counted.IsNoRow()) SetOwnFailure("Zaehlung ohne Ergebnis");
  if (!counted.IsRow()) return NameFailedQuery("Zeitberechtigungsabfrage", Failure());
  *count = TimePermissionBuffer;
  return counted;
}

const std::vector<ReaderRow>* ReaderRowsFor(const char* terminalName, int32_t limit, ReaderSnapshot* snapshot) {
  if (snapshot->Taken && snapshot->Limit == limit && std::strcmp(snapshot->Terminal, terminalName) == 0)
    return &snapshot->Rows;
  snapshot->Taken = false;
  snapshot->Rows.clear();
  StatementResult fetched = OpenReaderCursor(terminalName, limit);
  ReaderRow row;
  while (!fetched.Failed() && (fetched = FetchReader(&row.Number, row.Zone)).IsRow()) {
    if (!KeepRow(snapshot->Rows, row)) {
      SetOwnFailure("kein Speicher fuer die Leserzeilen");
      fetched = NameFailedQuery("Leserabfrage", Failure());
    }
  }
  CloseReaderCursor();
  if (fetched.Failed()) return nullptr;
  const size_t n = strnlen(terminalName, sizeof snapshot->Terminal - 1);
  std::memcpy(snapshot->Terminal, terminalName, n);
  snapshot->Terminal[n] = '\0';
  snapshot->Limit = limit;
  snapshot->Taken = true;
  return &snapshot->Rows;
}

Permission BuildZoneList(BadgeRecord* badge, const TerminalRecord* terminal, int32_t limit, int fillSlots,
                         ReaderSnapshot* readers) {
  ZoneList.Count = 0;

  if (fillSlots != 0) {
    if (readers == nullptr) {
      readers = &BuildReaders;
      readers->Taken = false;
    }
    const std::vector<ReaderRow>* rows = ReaderRowsFor(terminal->TrmNam, limit, readers);
    if (rows == nullptr) return Permission::Failed;
    for (const ReaderRow& row : *rows) {
      const int32_t number = row.Number;
      // There are slots for reader numbers 1 to 11 only.
      if (number < 1 || number > ZoneSlotCount) {
        ExplainNote("Leser %d (Zone '%s'): ohne Platz im Satz, uebergangen", static_cast<int>(number), row.Zone);
        continue;
      }
      ExplainNote("Leser %d (Zone '%s') belegt Leserplatz %02d", static_cast<int>(number), row.Zone,
                  static_cast<int>(number));
      char* slot = badge->ZoneSlots[number - 1];
      slot[0] = static_cast<char>('0' + number / 10);
      slot[1] = static_cast<char>('0' + number % 10);
      slot[2] = '\0';
    }
  }

  StatementResult fetched = OpenZoneClassCursor(badge->AswNum, terminal->TrmNam);
  char entry[ZoneEntrySize] = {};
  while (!fetched.Failed() && (fetched = FetchZoneClass(entry)).IsRow()) {
    // Without storage for the entry the list would be short: a wrong file.
    if (AppendZoneEntry(entry) == nullptr) {
      SetOwnFailure("kein Speicher fuer die Zutrittsklassen");
      fetched = NameFailedQuery("Zutrittsklassenabfrage", Failure());
      break;
    }
    ExplainNote("Zutrittsklasse '%s' (M35Bch '0')", entry);
  }
  CloseZoneClassCursor();
  if (fetched.Failed()) return Permission::Failed;
  ExplainNote("Zutrittsklassen auf Terminal %s: %d -> Zutrittsberechtigung %s", terminal->TrmNam,
              static_cast<int>(ZoneList.Count), ZoneList.Count > 0 ? "ja" : "nein");

  return ZoneList.Count > 0 ? Permission::Granted : Permission::Denied;
}

char (*AppendZoneEntry(const char* entry))[ZoneEntrySize] {
  if (ZoneList.Count >= ZoneListCapacity) {
    const int32_t capacity = ZoneList.Count + 1;
    const size_t bytes = static_cast<size_t>(capacity) * ZoneEntrySize;
    if (ZoneList.Entries == nullptr) {
      auto* entries = static_cast<char(*)[ZoneEntrySize]>(std::malloc(bytes));
      if (entries == nullptr) {
        std::printf("Fehler beim allokieren von Speicher");
        return nullptr;
      }
      ZoneList.Entries = entries;
    } else {
      auto* entries = static_cast<char(*)[ZoneEntrySize]>(std::realloc(ZoneList.Entries, bytes));
      if (entries == nullptr) {
        std::printf("Fehler beim reallokieren von Speicher");
        return nullptr;
      }
      ZoneList.Entries = entries;
    }
    ZoneListCapacity = capacity;
  }
  std::memcpy(ZoneList.Entries[ZoneList.Count], entry, ZoneEntrySize);
  ++ZoneList.Count;
  return ZoneList.Entries;
}

StatementResult OpenReaderCursor(const char* terminalName, int32_t limit) {
  FormatSqlText(
      "SELECT ZlsLes, ZlsZko  FROM  Dravonix.Xel401Zls  WHERE ZlsTrm = '%q'  AND ZlsLes <= %ld  AND ((ZlsSta <> 4 AND ZlsSta <> 8) OR ZlsSta IS NULL)  ORDER BY ZlsLes ",
      terminalName, static_cast<long>(limit));
  return NameFailedQuery("Leserabfrage", OpenResultSet(ReaderCursor));
}

StatementResult FetchReader(int32_t* number, char* text) {
  ZlsLesBuffer = 0;
  std::memset(ZlsZkoBuffer, 0, sizeof ZlsZkoBuffer);
  const StatementResult fetched = FetchCursor(ReaderCursor, ReaderColumns, 2);
  if (!fetched.IsRow()) return NameFailedQuery("Leserabfrage", fetched);
  SqlCode = 0;
  *number = ZlsLesBuffer;
  std::memcpy(text, TrimRight(ZlsZkoBuffer), sizeof ZlsZkoBuffer);
  return fetched;
}

void CloseReaderCursor() { CloseCursor(ReaderCursor); }

StatementResult OpenZoneClassCursor(const char* badgeNumber, const char* terminalName) {
  FormatSqlText(
      "SELECT DISTINCT M35BKL FROM   Dravonix.MGSST35P, Dravonix.Xel301Awb WHERE  M35TRM = '%q' AND    AWBASW = '%q' AND    M35Bch = '0' AND    M35Bkl = AWBBKL ORDER BY M35BKL",
      terminalName, badgeNumber);
  return NameFailedQuery("Zutrittsklassenabfrage", OpenResultSet(ZoneClassCursor));
}

StatementResult FetchZoneClass(char* entry) {
  std::memset(M35BklBuffer, 0, sizeof M35BklBuffer);
  const StatementResult fetched = FetchCursor(ZoneClassCursor, ZoneClassColumns, 1);
  if (!fetched.IsRow()) return NameFailedQuery("Zutrittsklassenabfrage", fetched);
  SqlCode = 0;
  // The class arrives as stored: no trimming, only filled to three.
  FormatLeftAligned(entry, ZoneEntrySize, M35BklBuffer, 3);
  return fetched;
}

void CloseZoneClassCursor() { CloseCursor(ZoneClassCursor); }
