// What the writers share: placing fields into a fixed-width record, the
// reader groups of MGDNL17P and MGDNL60P, what a record can hold, and the
// walk over the badge cursor. Where a field goes and how wide it is comes
// from the record layouts (layouts/record_layouts.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/download_file.h"
#include "db/access_rights.h"
#include "db/badges.h"
#include "db/balance_values.h"
#include "db/location.h"
#include "db/records.h"
#include "layouts/record_layouts.h"

// Copies text into a fixed-width record from a 1-based position, without
// its terminator; never past the record's end.
inline void PlaceText(char* record, size_t recordLength, size_t position, const char* text) {
  size_t start = position - 1;
  if (start >= recordLength) return;
  size_t n = std::strlen(text);
  if (n > recordLength - start) n = recordLength - start;
  std::memcpy(record + start, text, n);
}

// Copies at most maxLength characters of text, as PlaceText.
inline void PlaceTextCut(char* record, size_t recordLength, size_t position, const char* text,
                         size_t maxLength) {
  size_t start = position - 1;
  if (start >= recordLength) return;
  size_t n = strnlen(text, maxLength);
  if (n > recordLength - start) n = recordLength - start;
  std::memcpy(record + start, text, n);
}

// A date column (8 positions unless told) that the copy left all blank
// becomes all zeros.
inline void ZeroFillBlankDate(char* record, size_t position, size_t width = 8) {
  char* p = record + position - 1;
  for (size_t i = 0; i < width; ++i)
    if (p[i] != ' ') return;
  std::memset(p, '0', width);
}

// ------------------------------------------------- fields by their layout
// A field of a fixed-width layout table, e.g. Mgdnl31pFields[Mgdnl31p::ValidFrom].

// Its first character in the record, 0-based: record[FieldOffset(f)].
constexpr size_t FieldOffset(const FieldLayout& field) { return field.Position - 1u; }

// Copies at most the field's width of text into the field, without its
// terminator; the positions the text does not reach keep what they had.
inline void PlaceField(char* record, size_t recordLength, const FieldLayout& field, const char* text) {
  PlaceTextCut(record, recordLength, field.Position, text, field.Width);
}

// Writes the fixed text of a Constant field.
inline void PlaceConstant(char* record, const FieldLayout& field) {
  std::memcpy(record + FieldOffset(field), field.Constant, field.Width);
}

// A date field that the copy left all blank becomes all zeros.
inline void ZeroFillBlankDate(char* record, const FieldLayout& date) {
  ZeroFillBlankDate(record, date.Position, date.Width);
}

// ------------------------------------------------------- the reader groups
// MGDNL17P and MGDNL60P begin alike (badge number, valid-from, time and
// access permission, balance) and go on with reader groups of one form: two
// digits of the reader number, then three characters. Their tables agree
// in index, place and width up to the last group of MGDNL60P, so the
// helpers below take either table with the indexes of MGDNL17P.
constexpr bool SameField(const FieldLayout& a, const FieldLayout& b) {
  return a.Position == b.Position && a.Width == b.Width && a.Kind == b.Kind;
}
constexpr bool ReaderRecordsAgree() {
  for (int f = Mgdnl17p::BadgeNumber; f <= Mgdnl17p::Balance; ++f)
    if (!SameField(Mgdnl17pFields[f], Mgdnl60pFields[f])) return false;
  for (int k = 1; k <= Mgdnl60p::GroupCount; ++k) {
    if (static_cast<int>(Mgdnl17p::ReaderField(k)) != static_cast<int>(Mgdnl60p::ReaderField(k)) ||
        static_cast<int>(Mgdnl17p::ClassField(k)) != static_cast<int>(Mgdnl60p::ClassField(k)) ||
        !SameField(Mgdnl17pFields[Mgdnl17p::ReaderField(k)], Mgdnl60pFields[Mgdnl60p::ReaderField(k)]) ||
        !SameField(Mgdnl17pFields[Mgdnl17p::ClassField(k)], Mgdnl60pFields[Mgdnl60p::ClassField(k)]))
      return false;
  }
  return static_cast<int>(Mgdnl17p::BadgeNumber) == static_cast<int>(Mgdnl60p::BadgeNumber) &&
         static_cast<int>(Mgdnl17p::ValidFrom) == static_cast<int>(Mgdnl60p::ValidFrom);
}
static_assert(ReaderRecordsAgree(), "MGDNL17P and MGDNL60P differ where the reader helpers need them alike");

// The reader number and class fields of reader group k (1-based) in the
// table of MGDNL17P or MGDNL60P.
inline const FieldLayout& ReaderNumberField(const FieldLayout* fields, int group) {
  return fields[Mgdnl17p::ReaderField(group)];
}
inline const FieldLayout& GroupClassField(const FieldLayout* fields, int group) {
  return fields[Mgdnl17p::ClassField(group)];
}

// First position (1-based) of reader group k, in either file.
inline size_t GroupPosition(int group) { return ReaderNumberField(Mgdnl17pFields, group).Position; }

// What the fixed-width download files can hold: 13 positions for the badge
// number, 3 for an access class. A value that does not fit is never written
// (it would run into the next field and could even name another badge); the
// badge or class is left out with a message that is printed always.

constexpr size_t BadgeNumberWidth = Mgdnl17pFields[Mgdnl17p::BadgeNumber].Width;
constexpr size_t ClassWidth = Mgdnl31pFields[Mgdnl31p::AccessClass].Width;
static_assert(Mgdnl18pFields[Mgdnl18p::BadgeNumber].Width == BadgeNumberWidth &&
                  Mgdnl31pFields[Mgdnl31p::BadgeNumber].Width == BadgeNumberWidth &&
                  Mgdnl60pFields[Mgdnl60p::BadgeNumber].Width == BadgeNumberWidth,
              "the badge number has one width in every file");
static_assert(Mgdnl17pFields[Mgdnl17p::ClassField(1)].Width == ClassWidth, "the access class has one width");

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

static_assert(Mgdnl17pFields[Mgdnl17p::ReaderField(1)].Width == sizeof BadgeRecord::ZoneSlots[0] - 1,
              "a reader slot holds the two digits of the reader number field");

// Writes the reader numbers of the filled slots 1 to count into their
// groups' reader number fields (fields: MGDNL17P's or MGDNL60P's table).
inline void PlaceReaderNumbers(char* record, const FieldLayout* fields, const BadgeRecord& badge, int count) {
  for (int k = 1; k <= count; ++k)
    if (ReaderSlotFilled(badge, k))
      std::memcpy(record + FieldOffset(ReaderNumberField(fields, k)), badge.ZoneSlots[k - 1], 2);
}

// Writes an access class into the class fields of the filled reader groups
// 1 to count.
inline void PlaceClass(char* record, const FieldLayout* fields, const BadgeRecord& badge, int count,
                       const char* entry) {
  for (int k = 1; k <= count; ++k)
    if (ReaderSlotFilled(badge, k)) std::memcpy(record + FieldOffset(GroupClassField(fields, k)), entry, ClassWidth);
}

// Starts the record of a badge in MGDNL17P or MGDNL60P (fields: its table):
// reader slots 1 to readers cleared, the record blank, the badge number and
// the valid-from date ("00000000" when there is none) in their fields.
inline void StartReaderRecord(char* record, const FieldLayout* fields, size_t length, BadgeRecord& badge,
                              int readers) {
  ClearReaderSlots(badge, readers);
  std::memset(record, ' ', length);
  PlaceField(record, length, fields[Mgdnl17p::BadgeNumber], badge.AswNum);
  PlaceField(record, length, fields[Mgdnl17p::ValidFrom], badge.AswGvo);
  ZeroFillBlankDate(record, fields[Mgdnl17p::ValidFrom]);
}

// Writes the record once per entry of the badge's access classes (zones)
// that fits (a longer class would run into the next field), after
// placeClass(record, entry) put the entry where the file wants it. Returns
// true when at least one record went into the file.
template <typename PlaceClassFn>
inline bool WriteClassRecords(char* record, size_t length, const BadgeRecord& badge, const ZoneListArray& zones,
                              const char* fileName, RunObserver& observer, PlaceClassFn placeClass) {
  bool written = false;
  for (int32_t e = 0; e < zones.Count; ++e) {
    const char* entry = zones.Entries[e];
    if (!ZoneClassFits(entry, badge, fileName)) continue;
    placeClass(record, entry);
    WriteDownloadRecord(record, length);
    NoteTo(observer, "Satz geschrieben (Zutrittsklasse '%s')", entry);
    written = true;
  }
  return written;
}

// WriteClassRecords with the entry in the class fields of the filled reader
// groups 1 to classGroups (MGDNL17P, MGDNL60P; fields: the file's table).
inline bool WriteReaderClassRecords(char* record, const FieldLayout* fields, size_t length, const BadgeRecord& badge,
                                    const ZoneListArray& zones, int classGroups, const char* fileName,
                                    RunObserver& observer) {
  return WriteClassRecords(record, length, badge, zones, fileName, observer, [&](char* out, const char* entry) {
    PlaceClass(out, fields, badge, classGroups, entry);
  });
}

// What a writer did with one badge: left it out, put it into the file, or
// stopped at it because a query failed (LastFailure names the query); a
// badge it stopped at has nothing in the file.
enum class BadgeOutcome { Skipped, Written, Failed };
inline BadgeOutcome WrittenIf(bool written) { return written ? BadgeOutcome::Written : BadgeOutcome::Skipped; }

// Writes one badge with its statements in one request where the driver
// takes several: addStatements() formats each statement text the badge
// needs, in the order write() runs them, and adds it to the session's
// batch (AddToBatch); write() then runs the writer's queries as always and
// each takes its result from the batch. The batch is read to its end
// before the badge cursor moves on; an error in any of its statements, a
// statement sent ahead included, fails the badge. A driver that cannot
// batch gets one statement per call, as write() runs them.
template <typename AddFn, typename WriteFn>
inline BadgeOutcome WriteInOneRequest(Session& db, AddFn addStatements, WriteFn write) {
  if (db.CanBatch()) {
    db.Batch.Start(db);
    addStatements();
    if (!db.Batch.Send(db)) return BadgeOutcome::Failed;
  }
  const BadgeOutcome outcome = write();
  if (outcome == BadgeOutcome::Failed) {
    db.Batch.Abandon(db);
    return outcome;
  }
  if (!db.Batch.End(db)) return BadgeOutcome::Failed;
  return outcome;
}

// Adds the session's current statement text, just formatted by its query
// family (whose Format function returns the query's name), to the batch.
inline void AddToBatch(Session& db, const char* query) { db.Batch.Add(db, query); }

// One run of MGDNL17P or MGDNL60P: what it keeps from badge to badge.
template <size_t RecordLength>
struct ReaderRecordRun {
  Session& Db;
  // Built once per badge; the class loop changes only the class positions.
  char Record[RecordLength];
  ZoneListArray Zones;
  // The terminal's reader rows up to the file's last reader group, read at
  // the first badge of the run.
  ReaderSnapshot Readers;
};

// The statements of a badge in MGDNL17P and MGDNL60P, in the order they run
// them: balance, time permission, the reader rows up to limit (first badge
// of the run), access classes.
inline void AddReaderRecordStatements(Session& db, const BadgeRecord& badge, const TerminalRecord& terminal,
                                      const ReaderSnapshot& readers, int32_t limit) {
  AddToBatch(db, FormatBalanceQuery(db, badge.AswNum));
  AddToBatch(db, FormatTimePermissionQuery(db, badge.AswNum, terminal.TrmNam));
  if (!readers.Taken) {
    AddToBatch(db, FormatReaderQuery(db, terminal.TrmNam, limit));
  }
  AddToBatch(db, FormatZoneClassQuery(db, badge.AswNum, terminal.TrmNam));
}

// Prints the line of a failed query of the badge walk (the session's
// LastFailure): the badge it failed at, or the terminal and the last badge
// read when the badge query itself failed.
inline void PrintWalkFailure(const Session& db, const TerminalRecord& terminal, const char* badgeNumber,
                             bool badgeQuery) {
  char subject[sizeof terminal.TrmNam + sizeof BadgeRecord::AswNum + 64];
  if (!badgeQuery)
    std::snprintf(subject, sizeof subject, "Ausweis %s auf Terminal %s", badgeNumber, terminal.TrmNam);
  else if (badgeNumber[0] != '\0')
    std::snprintf(subject, sizeof subject, "Terminal %s nach Ausweis %s", terminal.TrmNam, badgeNumber);
  else
    std::snprintf(subject, sizeof subject, "Terminal %s", terminal.TrmNam);
  db.PrintStatementFailure(subject);
}

// The badge walk of the writers: fetches every badge into badge (cleared
// before each fetch) and hands those the observer takes to
// writeBadge(badge) (a callable giving a BadgeOutcome). Every fetched badge
// counts in the total, those that writeBadge put into the file in the
// written count; with skipRepeatedNumber, consecutive rows of one badge
// number (several assignments or clients) are one badge and the first row
// wins. A failed statement, of the badge query or of the writer's queries
// for a badge, ends the walk there: its line is printed, the badge is not
// written. The observer learns the counts; returns 100 when the badges
// were read to the end, -1 when a statement failed.
template <typename WriteBadgeFn>
inline int WalkBadgeCursor(Session& db, const TerminalRecord& terminal, BadgeRecord& badge, WriteBadgeFn writeBadge,
                           bool skipRepeatedNumber) {
  RunObserver& observer = *db.Observer;
  BadgeCursor cursor(db);
  int32_t total = 0;
  int32_t written = 0;
  char previousNumber[sizeof badge.AswNum] = "";
  std::memset(&badge, 0, sizeof badge);
  StatementResult fetched = OpenBadgeCursor(cursor, &terminal);
  if (!fetched.Failed()) fetched = FetchBadge(cursor, &badge);
  bool writerFailed = false;
  while (fetched.IsRow()) {
    const bool repeated = skipRepeatedNumber && std::strcmp(badge.AswNum, previousNumber) == 0;
    if (!repeated) ++total;
    BadgeOutcome outcome = BadgeOutcome::Skipped;
    if (observer.Takes(badge, repeated) && !repeated) outcome = writeBadge(badge);
    if (outcome == BadgeOutcome::Failed) {
      writerFailed = true;
      break;
    }
    if (outcome == BadgeOutcome::Written) ++written;
    // The last badge read, for the message of a failing badge query.
    std::memcpy(previousNumber, badge.AswNum, sizeof previousNumber);
    std::memset(&badge, 0, sizeof badge);
    fetched = FetchBadge(cursor, &badge);
  }
  CloseBadgeCursor(cursor);
  const int rc = writerFailed || fetched.Failed() ? -1 : 100;
  if (writerFailed) PrintWalkFailure(db, terminal, badge.AswNum, false);
  if (fetched.Failed()) PrintWalkFailure(db, terminal, previousNumber, true);
  observer.WalkEnded(rc, total, written);
  return rc;
}

// The walk of the writers that take every row: 1 when the badges were read
// to the end, else 0.
template <typename WriteBadgeFn>
inline int WalkBadges(Session& db, const TerminalRecord& terminal, BadgeRecord& badge, WriteBadgeFn writeBadge) {
  return WalkBadgeCursor(db, terminal, badge, writeBadge, false) == 100 ? 1 : 0;
}
