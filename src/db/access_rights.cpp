// Access rights of one badge on one terminal: whether the terminal takes one
// of the badge's classes for time booking, which of them it takes for
// access (the ZoneList), and on request the terminal's reader numbers,
// marked in the badge's ZoneSlots.
#include "db/access_rights.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "db/session.h"

namespace {
constexpr char TimePermissionQuery[] = "Zeitberechtigungsabfrage";
constexpr char ReaderQuery[] = "Leserabfrage";
constexpr char ZoneClassQuery[] = "Zutrittsklassenabfrage";
}  // namespace

ZoneListArray::~ZoneListArray() { std::free(Entries); }

Permission HasTimePermission(Session& db, const BadgeRecord* badge, const TerminalRecord* terminal) {
  int32_t count = 0;
  if (CountTimePermissions(db, badge->AswNum, terminal->TrmNam, &count).Failed()) {
    db.Observer->TimePermission(*badge, *terminal, -1, false);
    return Permission::Failed;
  }
  const bool granted = count > 0;
  db.Observer->TimePermission(*badge, *terminal, count, granted);
  return granted ? Permission::Granted : Permission::Denied;
}

const char* FormatTimePermissionQuery(Session& db, const char* badgeNumber, const char* terminalName) {
  db.FormatSqlText("SELECT COUNT(*) " GENTRMX_TIME_PERMISSION_FROM, terminalName, badgeNumber);
  return TimePermissionQuery;
}

StatementResult CountTimePermissions(Session& db, const char* badgeNumber, const char* terminalName, int32_t* count) {
  FormatTimePermissionQuery(db, badgeNumber, terminalName);
  int32_t counted = 0;
  const ColumnBinding columns[] = {{SQL_C_LONG, &counted, sizeof counted}};
  const StatementResult found = LookupSingleRow(db, columns, 1);
  // A count always gives its row; none is as wrong as a failure.
  if (found.IsNoRow()) db.SetOwnFailure("Zaehlung ohne Ergebnis");
  if (!found.IsRow()) return NameFailedQuery(db, TimePermissionQuery, Failure());
  *count = counted;
  return found;
}

const std::vector<ReaderRow>* ReaderRowsFor(Session& db, const char* terminalName, int32_t limit,
                                            ReaderSnapshot* snapshot) {
  if (snapshot->Taken && snapshot->Limit == limit && std::strcmp(snapshot->Terminal, terminalName) == 0)
    return &snapshot->Rows;
  snapshot->Taken = false;
  snapshot->Rows.clear();
  ReaderCursor cursor(db);
  StatementResult fetched = OpenReaderCursor(cursor, terminalName, limit);
  ReaderRow row;
  while (!fetched.Failed() && (fetched = FetchReader(cursor, &row.Number, row.Zone)).IsRow()) {
    if (!KeepRow(snapshot->Rows, row)) {
      db.SetOwnFailure("kein Speicher fuer die Leserzeilen");
      fetched = NameFailedQuery(db, ReaderQuery, Failure());
    }
  }
  CloseReaderCursor(cursor);
  if (fetched.Failed()) return nullptr;
  const size_t n = strnlen(terminalName, sizeof snapshot->Terminal - 1);
  std::memcpy(snapshot->Terminal, terminalName, n);
  snapshot->Terminal[n] = '\0';
  snapshot->Limit = limit;
  snapshot->Taken = true;
  return &snapshot->Rows;
}

Permission BuildZoneList(Session& db, ZoneListArray& list, BadgeRecord* badge, const TerminalRecord* terminal,
                         int32_t limit, int fillSlots, ReaderSnapshot* readers) {
  RunObserver& observer = *db.Observer;
  list.Count = 0;

  if (fillSlots != 0) {
    // The reader rows of a build that keeps no snapshot.
    ReaderSnapshot buildReaders;
    if (readers == nullptr) readers = &buildReaders;
    const std::vector<ReaderRow>* rows = ReaderRowsFor(db, terminal->TrmNam, limit, readers);
    if (rows == nullptr) return Permission::Failed;
    for (const ReaderRow& row : *rows) {
      const int32_t number = row.Number;
      // There are slots for reader numbers 1 to 11 only.
      if (number < 1 || number > ZoneSlotCount) {
        NoteTo(observer, "Leser %d (Zone '%s'): ohne Platz im Satz, uebergangen", static_cast<int>(number), row.Zone);
        continue;
      }
      NoteTo(observer, "Leser %d (Zone '%s') belegt Leserplatz %02d", static_cast<int>(number), row.Zone,
             static_cast<int>(number));
      char* slot = badge->ZoneSlots[number - 1];
      slot[0] = static_cast<char>('0' + number / 10);
      slot[1] = static_cast<char>('0' + number % 10);
      slot[2] = '\0';
    }
  }

  if (!list.Query) list.Query.emplace(db);
  ZoneClassCursor& cursor = *list.Query;
  StatementResult fetched = OpenZoneClassCursor(cursor, badge->AswNum, terminal->TrmNam);
  char entry[ZoneEntrySize] = {};
  while (!fetched.Failed() && (fetched = FetchZoneClass(cursor, entry)).IsRow()) {
    // Without storage for the entry the list would be short: a wrong file.
    if (AppendZoneEntry(list, entry) == nullptr) {
      db.SetOwnFailure("kein Speicher fuer die Zutrittsklassen");
      fetched = NameFailedQuery(db, ZoneClassQuery, Failure());
      break;
    }
    NoteTo(observer, "Zutrittsklasse '%s' (M35Bch '0')", entry);
  }
  CloseZoneClassCursor(cursor);
  if (fetched.Failed()) return Permission::Failed;
  NoteTo(observer, "Zutrittsklassen auf Terminal %s: %d -> Zutrittsberechtigung %s", terminal->TrmNam,
         static_cast<int>(list.Count), list.Count > 0 ? "ja" : "nein");

  return list.Count > 0 ? Permission::Granted : Permission::Denied;
}

char (*AppendZoneEntry(ZoneListArray& list, const char* entry))[ZoneEntrySize] {
  if (list.Count >= list.Capacity) {
    const int32_t capacity = list.Count + 1;
    const size_t bytes = static_cast<size_t>(capacity) * ZoneEntrySize;
    if (list.Entries == nullptr) {
      auto* entries = static_cast<char(*)[ZoneEntrySize]>(std::malloc(bytes));
      if (entries == nullptr) {
        std::printf("Fehler beim allokieren von Speicher");
        return nullptr;
      }
      list.Entries = entries;
    } else {
      auto* entries = static_cast<char(*)[ZoneEntrySize]>(std::realloc(list.Entries, bytes));
      if (entries == nullptr) {
        std::printf("Fehler beim reallokieren von Speicher");
        return nullptr;
      }
      list.Entries = entries;
    }
    list.Capacity = capacity;
  }
  std::memcpy(list.Entries[list.Count], entry, ZoneEntrySize);
  ++list.Count;
  return list.Entries;
}

StatementResult OpenReaderCursor(ReaderCursor& cursor, const char* terminalName, int32_t limit) {
  Session& db = cursor.Cursor.Db();
  FormatReaderQuery(db, terminalName, limit);
  return NameFailedQuery(db, ReaderQuery, OpenResultSet(cursor.Cursor));
}

const char* FormatReaderQuery(Session& db, const char* terminalName, int32_t limit) {
  db.FormatSqlText(
      "SELECT ZlsLes, ZlsZko  FROM  Dravonix.Xel401Zls  WHERE ZlsTrm = '%q'  AND ZlsLes <= %ld  AND ((ZlsSta <> 4 AND ZlsSta <> 8) OR ZlsSta IS NULL)  ORDER BY ZlsLes ",
      terminalName, static_cast<long>(limit));
  return ReaderQuery;
}

StatementResult FetchReader(ReaderCursor& cursor, int32_t* number, char* text) {
  Session& db = cursor.Cursor.Db();
  cursor.ZlsLes = 0;
  std::memset(cursor.ZlsZko, 0, sizeof cursor.ZlsZko);
  const ColumnBinding columns[] = {
      {SQL_C_LONG, &cursor.ZlsLes, sizeof cursor.ZlsLes},
      {SQL_C_CHAR, cursor.ZlsZko, sizeof cursor.ZlsZko},
  };
  const StatementResult fetched = FetchCursor(cursor.Cursor, columns, 2);
  if (!fetched.IsRow()) return NameFailedQuery(db, ReaderQuery, fetched);
  db.SqlCode = 0;
  *number = cursor.ZlsLes;
  std::memcpy(text, TrimRight(cursor.ZlsZko), sizeof cursor.ZlsZko);
  return fetched;
}

void CloseReaderCursor(ReaderCursor& cursor) { CloseCursor(cursor.Cursor); }

StatementResult OpenZoneClassCursor(ZoneClassCursor& cursor, const char* badgeNumber, const char* terminalName) {
  Session& db = cursor.Cursor.Db();
  FormatZoneClassQuery(db, badgeNumber, terminalName);
  return NameFailedQuery(db, ZoneClassQuery, OpenResultSet(cursor.Cursor));
}

const char* FormatZoneClassQuery(Session& db, const char* badgeNumber, const char* terminalName) {
  db.FormatSqlText(
      "SELECT DISTINCT M35BKL FROM   Dravonix.MGSST35P, Dravonix.Xel301Awb WHERE  M35TRM = '%q' AND    AWBASW = '%q' AND    M35Bch = '0' AND    M35Bkl = AWBBKL ORDER BY M35BKL",
      terminalName, badgeNumber);
  return ZoneClassQuery;
}

StatementResult FetchZoneClass(ZoneClassCursor& cursor, char* entry) {
  Session& db = cursor.Cursor.Db();
  std::memset(cursor.M35Bkl, 0, sizeof cursor.M35Bkl);
  const ColumnBinding columns[] = {{SQL_C_CHAR, cursor.M35Bkl, sizeof cursor.M35Bkl}};
  const StatementResult fetched = FetchCursor(cursor.Cursor, columns, 1);
  if (!fetched.IsRow()) return NameFailedQuery(db, ZoneClassQuery, fetched);
  db.SqlCode = 0;
  // The class arrives as stored: no trimming, only filled to three.
  FormatLeftAligned(entry, ZoneEntrySize, cursor.M35Bkl, 3);
  return fetched;
}

void CloseZoneClassCursor(ZoneClassCursor& cursor) { CloseCursor(cursor.Cursor); }
