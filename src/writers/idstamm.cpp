// The IDSTAMM writer: the badge master file of a terminal, one text line of
// 14 quoted, comma-separated fields per badge, or per access class of a
// badge with access permission.
//
// Fields, in line order (IdStammFields in layouts/record_layouts.h):
//   1  AswNum              8  AswSal, else the terminal's TrmSal
//   2  AswGvo (YYYYMMDD)   9  "001"
//   3  AswGbi (YYYYMMDD)  10  ZoneList entry (access) or AswBkl (time only)
//   4  last five of AwvSto, empty when "00000"
//   5  time permission    11  AswAan
//   6  access permission  12  AswNum
//   7  AswSpr             13  AswAtp
//                         14  AswPin
#include <cstdio>
#include <cstring>

#include "db/access_rights.h"
#include "db/badges.h"
#include "db/records.h"
#include "common/download_file.h"
#include "writers/placement.h"
#include "writers/writers.h"

namespace {

// Longer than any line the record's fields can make.
constexpr size_t LineSize = 1024;

// One run of the writer: what it keeps from badge to badge.
struct IdStammRun {
  Session& Db;
  // The line being written: fields 1 to 9 are built once per badge, field
  // 10 and the rest once per line behind them.
  char Line[LineSize];
  // Fields 11 to 14 with their separators and the line feed, once per badge.
  char LineEnd[LineSize / 2];
  ZoneListArray Zones;
};

// Appends "text" and the separator; returns the position behind them.
char* AppendField(char* out, const char* text, char separator) {
  *out++ = '"';
  size_t n = std::strlen(text);
  std::memcpy(out, text, n);
  out += n;
  *out++ = '"';
  *out++ = separator;
  return out;
}

// A double quote inside a field would end the field early, a line feed or
// carriage return the line: such a line could not be split back into its
// 14 fields, so the badge is left out.
enum class Unsplittable { No, Quote, LineBreak };

Unsplittable Check(const char* text, size_t length) {
  Unsplittable found = Unsplittable::No;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '"') return Unsplittable::Quote;
    if (text[i] == '\n' || text[i] == '\r') found = Unsplittable::LineBreak;
  }
  return found;
}

Unsplittable CheckBadge(const BadgeRecord& badge, const ZoneListArray& zones, const char* location, bool access) {
  const char* const fields[] = {badge.AswNum, badge.AswGvo, badge.AswGbi, location, badge.AswSpr,
                                badge.AswSal, badge.AswAan, badge.AswAtp, badge.AswPin};
  Unsplittable worst = Unsplittable::No;
  auto note = [&worst](Unsplittable found) {
    if (found == Unsplittable::Quote || (found == Unsplittable::LineBreak && worst == Unsplittable::No))
      worst = found;
  };
  for (const char* field : fields) note(Check(field, std::strlen(field)));
  if (!access) {
    note(Check(badge.AswBkl, std::strlen(badge.AswBkl)));
  } else {
    for (int32_t i = 0; i < zones.Count; ++i) note(Check(zones.Entries[i], strnlen(zones.Entries[i], ZoneEntrySize)));
  }
  return worst;
}

// Writes one line: the prefix already in the run's Line, then field 10 and
// its LineEnd.
void WriteLine(IdStammRun& run, char* prefixEnd, const char* accessClass, size_t lineEndLength) {
  char* out = AppendField(prefixEnd, accessClass, ',');
  std::memcpy(out, run.LineEnd, lineEndLength);
  out += lineEndLength;
  WriteDownloadLine(run.Line, static_cast<size_t>(out - run.Line));
  NoteTo(*run.Db.Observer, "Zeile geschrieben (Feld 10 '%s')", accessClass);
}

// The statements of the badge, in the order WriteBadge runs them.
void AddStatements(Session& db, const BadgeRecord& badge, const TerminalRecord& terminal) {
  AddToBatch(db, FormatTimePermissionQuery(db, badge.AswNum, terminal.TrmNam));
  AddToBatch(db, FormatZoneClassQuery(db, badge.AswNum, terminal.TrmNam));
}

// Builds and writes the lines of the badge.
BadgeOutcome WriteBadge(IdStammRun& run, BadgeRecord& badge, const TerminalRecord& terminal) {
  Session& db = run.Db;
  const ZoneListArray& zones = run.Zones;
  if (badge.AswSal[0] == '\0') {
    const char* terminalSal = TerminalText(terminal.TrmSal);
    std::memcpy(badge.AswSal, terminalSal, std::strlen(terminalSal) + 1);
  }
  const Permission timePermission = HasTimePermission(db, &badge, &terminal);
  if (timePermission == Permission::Failed) return BadgeOutcome::Failed;
  const Permission accessPermission = BuildZoneList(db, run.Zones, &badge, &terminal, 32, 0);
  if (accessPermission == Permission::Failed) return BadgeOutcome::Failed;
  const bool time = timePermission == Permission::Granted;
  const bool access = accessPermission == Permission::Granted;

  if (!time && !access) {
    db.Observer->Skipped(badge, terminal, SkipReason::NoRightsLine);
    return BadgeOutcome::Skipped;
  }
  // The record holds AwvSto as eight characters: the location is its last
  // five, and none when they are all zero.
  size_t stoLength = std::strlen(badge.AwvSto);
  const char* location = badge.AwvSto + (stoLength > 5 ? stoLength - 5 : 0);
  if (std::strcmp(location, "00000") == 0) location = "";

  const Unsplittable unsplittable = CheckBadge(badge, zones, location, access);
  if (unsplittable == Unsplittable::Quote) {
    std::printf("Ausweis %s enthaelt ein Anfuehrungszeichen und wird nicht in die Datei IDSTAMM gestellt!\n",
                badge.AswNum);
    return BadgeOutcome::Skipped;
  }
  if (unsplittable == Unsplittable::LineBreak) {
    std::printf("Ausweis %s enthaelt einen Zeilenumbruch und wird nicht in die Datei IDSTAMM gestellt!\n",
                badge.AswNum);
    return BadgeOutcome::Skipped;
  }
  // The fields in the order of IdStammFields; the access class comes per
  // line in WriteLine.
  const char* text[IdStamm::FieldCount];
  text[IdStamm::BadgeNumber] = badge.AswNum;
  text[IdStamm::ValidFrom] = badge.AswGvo;
  text[IdStamm::ValidUntil] = badge.AswGbi;
  text[IdStamm::Location] = location;
  text[IdStamm::TimePermission] = time ? "1" : "0";
  text[IdStamm::AccessPermission] = access ? "1" : "0";
  text[IdStamm::Language] = badge.AswSpr;
  text[IdStamm::BalanceSet] = badge.AswSal;
  text[IdStamm::Count] = IdStammFields[IdStamm::Count].Constant;
  text[IdStamm::AccessClass] = nullptr;
  text[IdStamm::Name] = badge.AswAan;
  text[IdStamm::BadgeNumberAgain] = badge.AswNum;
  text[IdStamm::BadgeType] = badge.AswAtp;
  text[IdStamm::Pin] = badge.AswPin;

  char* out = run.Line;
  for (int f = 0; f < IdStamm::AccessClass; ++f) out = AppendField(out, text[f], ',');
  char* prefixEnd = out;

  out = run.LineEnd;
  for (int f = IdStamm::AccessClass + 1; f < IdStamm::FieldCount; ++f)
    out = AppendField(out, text[f], f + 1 < IdStamm::FieldCount ? ',' : '\n');
  const size_t lineEndLength = static_cast<size_t>(out - run.LineEnd);

  if (access) {
    for (int32_t i = 0; i < zones.Count; ++i) WriteLine(run, prefixEnd, zones.Entries[i], lineEndLength);
  } else {
    WriteLine(run, prefixEnd, badge.AswBkl, lineEndLength);
  }
  return BadgeOutcome::Written;
}

}  // namespace

int WorkIdStamm(Session& db, TerminalRecord* terminal) {
  IdStammRun run{db, {}, {}, {}};
  BadgeRecord badge;
  return WalkBadges(db, *terminal, badge, [&](BadgeRecord& b) {
    return WriteInOneRequest(
        db, [&] { AddStatements(db, b, *terminal); }, [&] { return WriteBadge(run, b, *terminal); });
  });
}
