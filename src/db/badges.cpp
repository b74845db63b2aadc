// The badge cursor: the badges valid today, either those of the terminal's
// licence and client pairs (Xel115Tfz) or all of them, in badge number order.
#include "db/badges.h"

#include <cstring>

#include "common/text.h"
#include "db/session.h"

namespace {

// Copies a terminated buffer into a record field at least as wide.
template <size_t FieldSize, size_t BufferSize>
void CopyField(char (&field)[FieldSize], const char (&buffer)[BufferSize]) {
  static_assert(FieldSize >= BufferSize, "record field narrower than its buffer");
  std::memcpy(field, buffer, std::strlen(buffer) + 1);
}

// "%d" of value into field (wide enough for any 32-bit value).
template <size_t FieldSize>
void FormatDecimal(char (&field)[FieldSize], int32_t value) {
  static_assert(FieldSize >= 12, "field too narrow for a 32-bit decimal");
  char digits[11];
  int n = 0;
  // Negative magnitudes are taken digit by digit so that INT32_MIN works.
  int64_t v = value;
  bool negative = v < 0;
  if (negative) v = -v;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  char* out = field;
  if (negative) *out++ = '-';
  while (n > 0) *out++ = digits[--n];
  *out = '\0';
}

}  // namespace

// The conditions of the two badge queries, each written once: the query
// texts below are put together from them, and an explanation asks them one
// by one (BadgeConditions).
#define GENTRMX_BOUND_DATES                                                                                    \
  "((convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo AND AswGbi IS NULL)   OR (convert(char(8), "           \
  "CURRENT_TIMESTAMP, 112) <= AswGbi AND AswGvo IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo " \
  "      AND convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi))"
#define GENTRMX_ALL_DATES                                                                 \
  "AswGvo <= convert(char(8), CURRENT_TIMESTAMP, 112)  AND  (AswGbi IS NULL OR AswGbi >= " \
  "convert(char(8), CURRENT_TIMESTAMP, 112))"
#define GENTRMX_BADGE_STATUS "((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)"
#define GENTRMX_ASSIGNMENT_CODE "(AWVCOD <> 8 OR AWVCOD IS NULL)"
#define GENTRMX_ASSIGNMENT_STATUS "((AwvSta <> 4 AND AwvSta <> 8) OR AwvSta IS NULL)"
#define GENTRMX_CLIENT_MATCH "ASWLIZ = TFZLIZ  AND ASWMND = TFZMND"
#define GENTRMX_BADGE_COLUMNS                                                                                 \
  "SELECT  AswNum, CONVERT(char(8),AswGvo,112), CONVERT(char(8),AswGbi,112), AswPnr, AswBkl, AswGrp, AswAan, " \
  "AswAtp, AwvSto, AswSal, AswBk2,  AswSpr, AswPin  FROM  "

const BadgeQueryConditions BadgeConditions = {
    GENTRMX_BOUND_DATES,     GENTRMX_ALL_DATES,         GENTRMX_BADGE_STATUS,
    GENTRMX_ASSIGNMENT_CODE, GENTRMX_ASSIGNMENT_STATUS, GENTRMX_CLIENT_MATCH,
};

BadgeCursor::BadgeCursor(Session& db)
    : Cursor(db),
      Columns{
          {SQL_C_CHAR, AswNum, sizeof AswNum}, {SQL_C_CHAR, AswGvo, sizeof AswGvo},
          {SQL_C_CHAR, AswGbi, sizeof AswGbi}, {SQL_C_CHAR, AswPnr, sizeof AswPnr},
          {SQL_C_CHAR, AswBkl, sizeof AswBkl}, {SQL_C_CHAR, AswGrp, sizeof AswGrp},
          {SQL_C_CHAR, AswAan, sizeof AswAan}, {SQL_C_LONG, &AswAtp, sizeof AswAtp},
          {SQL_C_CHAR, AwvSto, sizeof AwvSto}, {SQL_C_CHAR, AswSal, sizeof AswSal},
          {SQL_C_CHAR, AswBk2, sizeof AswBk2}, {SQL_C_LONG, &AswSpr, sizeof AswSpr},
          {SQL_C_CHAR, AswPin, sizeof AswPin},
      } {}

void FormatBadgeQuery(Session& db, const char* terminalName, bool bound) {
  if (bound) {
    db.FormatSqlText(GENTRMX_BADGE_COLUMNS
                     "Dravonix.Xel301Asw, Dravonix.Xel113Awv, Dravonix.Xel115Tfz  WHERE TFZTRM = '%q'  AND " GENTRMX_CLIENT_MATCH
                     "  AND ASWNUM = AWVNUM  AND " GENTRMX_BOUND_DATES "  AND " GENTRMX_ASSIGNMENT_CODE
                     "  AND " GENTRMX_ASSIGNMENT_STATUS "  AND " GENTRMX_BADGE_STATUS "  ORDER BY AswNum, AswGvo, AswBkl ",
                     terminalName);
  } else {
    db.FormatSqlText("%s", GENTRMX_BADGE_COLUMNS "Dravonix.Xel301Asw, Dravonix.Xel113Awv  WHERE ASWNUM = AWVNUM  AND   "
                     GENTRMX_ALL_DATES "  AND  " GENTRMX_ASSIGNMENT_CODE "  AND " GENTRMX_ASSIGNMENT_STATUS
                     "  AND " GENTRMX_BADGE_STATUS "  ORDER BY AswNum, AswGvo, AswBkl ");
  }
}

StatementResult OpenBadgeCursor(BadgeCursor& cursor, const TerminalRecord* terminal) {
  Session& db = cursor.Cursor.Db();
  if (terminal->TfzCount > 0) cursor.TerminalBinding = true;
  FormatBadgeQuery(db, terminal->TrmNam, cursor.TerminalBinding);
  return NameFailedQuery(db, "Ausweisabfrage", OpenCursor(cursor.Cursor));
}

StatementResult FetchBadge(BadgeCursor& cursor, BadgeRecord* record) {
  Session& db = cursor.Cursor.Db();
  BadgeCursor& c = cursor;
  std::memset(c.AswNum, 0, sizeof c.AswNum);
  std::memset(c.AswGvo, 0, sizeof c.AswGvo);
  std::memset(c.AswGbi, 0, sizeof c.AswGbi);
  std::memset(c.AswPnr, 0, sizeof c.AswPnr);
  std::memset(c.AswBkl, 0, sizeof c.AswBkl);
  std::memset(c.AswGrp, 0, sizeof c.AswGrp);
  std::memset(c.AswAan, 0, sizeof c.AswAan);
  c.AswAtp = 0;
  std::memset(c.AwvSto, 0, sizeof c.AwvSto);
  std::memset(c.AswSal, 0, sizeof c.AswSal);
  std::memset(c.AswBk2, 0, sizeof c.AswBk2);
  c.AswSpr = 1;
  std::memset(c.AswPin, 0, sizeof c.AswPin);

  const StatementResult fetched = FetchCursor(c.Cursor, c.Columns, BadgeCursor::ColumnCount);
  if (fetched.IsNoRow()) return NoRowFound(SQL_NO_DATA);
  if (!fetched.IsRow()) {
    db.SqlCode = -1;
    return NameFailedQuery(db, "Ausweisabfrage", Failure());
  }
  db.SqlCode = 0;

  TrimRight(c.AswNum);
  TrimRight(c.AswGvo);
  TrimRight(c.AswGbi);
  TrimRight(c.AswPnr);
  TrimRight(c.AswBkl);
  TrimRight(c.AswGrp);
  TrimRight(c.AswAan);
  TrimRight(c.AwvSto);
  TrimRight(c.AswSal);
  TrimRight(c.AswPin);

  CopyField(record->AswNum, c.AswNum);
  CopyField(record->AswGvo, c.AswGvo);
  CopyField(record->AswGbi, c.AswGbi);
  CopyField(record->AswPnr, c.AswPnr);
  FormatLeftAligned(record->AswBkl, sizeof record->AswBkl, c.AswBkl, 3);
  CopyField(record->AswGrp, c.AswGrp);
  CopyField(record->AswAan, c.AswAan);
  FormatDecimal(record->AswAtp, c.AswAtp);
  FormatZeroFilled(record->AwvSto, sizeof record->AwvSto, c.AwvSto, 8);
  CopyField(record->AswSal, c.AswSal);
  // The second booking class keeps the blanks it arrives with.
  FormatLeftAligned(record->AswBk2, sizeof record->AswBk2, c.AswBk2, 3);
  FormatDecimal(record->AswSpr, c.AswSpr);
  CopyField(record->AswPin, c.AswPin);
  return RowFound();
}

void CloseBadgeCursor(BadgeCursor& cursor) { CloseCursor(cursor.Cursor); }
