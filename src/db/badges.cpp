// The badge cursor: the badges valid today, either those of the terminal's
// licence and client pairs (Xel115Tfz) or all of them, in badge number order.
#include "db/badges.h"

#include <cstring>

#include "common/text.h"
#include "db/session.h"

namespace {

Statement BadgeCursor;

// On once a terminal with client rows opened the cursor; stays on for the
// rest of the run.
bool TerminalBinding = false;

// Receiving buffers, one per column of the query, in column order.
char AswNumBuffer[51];
char AswGvoBuffer[15];
char AswGbiBuffer[15];
char AswPnrBuffer[9];
char AswBklBuffer[6];
char AswGrpBuffer[6];
char AswAanBuffer[51];
int32_t AswAtpBuffer;
char AwvStoBuffer[9];
char AswSalBuffer[11];
char AswBk2Buffer[6];
int32_t AswSprBuffer;
char AswPinBuffer[33];

const ColumnBinding BadgeColumns[] = {
    {SQL_C_CHAR, AswNumBuffer, sizeof AswNumBuffer},
    {SQL_C_CHAR, AswGvoBuffer, sizeof AswGvoBuffer},
    {SQL_C_CHAR, AswGbiBuffer, sizeof AswGbiBuffer},
    {SQL_C_CHAR, AswPnrBuffer, sizeof AswPnrBuffer},
    {SQL_C_CHAR, AswBklBuffer, sizeof AswBklBuffer},
    {SQL_C_CHAR, AswGrpBuffer, sizeof AswGrpBuffer},
    {SQL_C_CHAR, AswAanBuffer, sizeof AswAanBuffer},
    {SQL_C_LONG, &AswAtpBuffer, sizeof AswAtpBuffer},
    {SQL_C_CHAR, AwvStoBuffer, sizeof AwvStoBuffer},
    {SQL_C_CHAR, AswSalBuffer, sizeof AswSalBuffer},
    {SQL_C_CHAR, AswBk2Buffer, sizeof AswBk2Buffer},
    {SQL_C_LONG, &AswSprBuffer, sizeof AswSprBuffer},
    {SQL_C_CHAR, AswPinBuffer, sizeof AswPinBuffer},
};
constexpr int BadgeColumnCount = sizeof BadgeColumns / sizeof BadgeColumns[0];

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

StatementResult OpenBadgeCursor(const TerminalRecord* terminal) {
  if (terminal->TfzCount > 0) TerminalBinding = true;
  if (TerminalBinding) {
    FormatSqlText(GENTRMX_BADGE_COLUMNS
                  "Dravonix.Xel301Asw, Dravonix.Xel113Awv, Dravonix.Xel115Tfz  WHERE TFZTRM = '%q'  AND " GENTRMX_CLIENT_MATCH
                  "  AND ASWNUM = AWVNUM  AND " GENTRMX_BOUND_DATES "  AND " GENTRMX_ASSIGNMENT_CODE
                  "  AND " GENTRMX_ASSIGNMENT_STATUS "  AND " GENTRMX_BADGE_STATUS "  ORDER BY AswNum, AswGvo, AswBkl ",
                  terminal->TrmNam);
  } else {
    FormatSqlText("%s", GENTRMX_BADGE_COLUMNS "Dravonix.Xel301Asw, Dravonix.Xel113Awv  WHERE ASWNUM = AWVNUM  AND   "
                  GENTRMX_ALL_DATES "  AND  " GENTRMX_ASSIGNMENT_CODE "  AND " GENTRMX_ASSIGNMENT_STATUS
                  "  AND " GENTRMX_BADGE_STATUS "  ORDER BY AswNum, AswGvo, AswBkl ");
  }
  return NameFailedQuery("Ausweisabfrage", OpenCursor(BadgeCursor));
}

StatementResult FetchBadge(BadgeRecord* record) {
  std::memset(AswNumBuffer, 0, sizeof AswNumBuffer);
  std::memset(AswGvoBuffer, 0, sizeof AswGvoBuffer);
  std::memset(AswGbiBuffer, 0, sizeof AswGbiBuffer);
  std::memset(AswPnrBuffer, 0, sizeof AswPnrBuffer);
  std::memset(AswBklBuffer, 0, sizeof AswBklBuffer);
  std::memset(AswGrpBuffer, 0, sizeof AswGrpBuffer);
  std::memset(AswAanBuffer, 0, sizeof AswAanBuffer);
  AswAtpBuffer = 0;
  std::memset(AwvStoBuffer, 0, sizeof AwvStoBuffer);
  std::memset(AswSalBuffer, 0, sizeof AswSalBuffer);
  std::memset(AswBk2Buffer, 0, sizeof AswBk2Buffer);
  AswSprBuffer = 1;
  std::memset(AswPinBuffer, 0, sizeof AswPinBuffer);

  const StatementResult fetched = FetchCursor(BadgeCursor, BadgeColumns, BadgeColumnCount);
  if (fetched.IsNoRow()) return NoRowFound(SQL_NO_DATA);
  if (!fetched.IsRow()) {
    SqlCode = -1;
    return NameFailedQuery("Ausweisabfrage", Failure());
  }
  SqlCode = 0;

  TrimRight(AswNumBuffer);
  TrimRight(AswGvoBuffer);
  TrimRight(AswGbiBuffer);
  TrimRight(AswPnrBuffer);
  TrimRight(AswBklBuffer);
  TrimRight(AswGrpBuffer);
  TrimRight(AswAanBuffer);
  TrimRight(AwvStoBuffer);
  TrimRight(AswSalBuffer);
  TrimRight(AswPinBuffer);

  CopyField(record->AswNum, AswNumBuffer);
  CopyField(record->AswGvo, AswGvoBuffer);
  CopyField(record->AswGbi, AswGbiBuffer);
  CopyField(record->AswPnr, AswPnrBuffer);
  FormatLeftAligned(record->AswBkl, sizeof record->AswBkl, AswBklBuffer, 3);
  CopyField(record->AswGrp, AswGrpBuffer);
  CopyField(record->AswAan, AswAanBuffer);
  FormatDecimal(record->AswAtp, AswAtpBuffer);
  FormatZeroFilled(record->AwvSto, sizeof record->AwvSto, AwvStoBuffer, 8);
  CopyField(record->AswSal, AswSalBuffer);
  // The second booking class keeps the blanks it arrives with.
  FormatLeftAligned(record->AswBk2, sizeof record->AswBk2, AswBk2Buffer, 3);
  FormatDecimal(record->AswSpr, AswSprBuffer);
  CopyField(record->AswPin, AswPinBuffer);
  return RowFound();
}

void CloseBadgeCursor() { CloseCursor(BadgeCursor); }
