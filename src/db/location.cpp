// Location text lookup: the short text of the location a badge is assigned
// to (Xel113Awv -> Xel113Sto), three characters at most.
#include "db/location.h"

#include <cstring>

#include "common/text.h"
#include "db/session.h"

namespace {
constexpr char QueryName[] = "Ortsabfrage";
}  // namespace

const char* FormatLocationQuery(Session& db, const char* badgeNumber) {
  db.FormatSqlText(
      " SELECT StoKtx  FROM  Dravonix.Xel113Sto, Dravonix.Xel113Awv  WHERE AwvNum = '%q'  AND   AwvSto = StoNum  AND ((AwvSta <> 4 AND AwvSta <> 8) OR AwvSta IS NULL)  AND ((StoSta <> 4 AND StoSta <> 8) OR StoSta IS NULL) ",
      badgeNumber);
  return QueryName;
}

StatementResult LookupLocationText(Session& db, BadgeRecord* badge) {
  // Receives StoKtx (up to 10 characters); a NULL column reads as empty.
  char StoKtxBuffer[11] = {};
  FormatLocationQuery(db, badge->AswNum);
  const ColumnBinding columns[] = {{SQL_C_CHAR, StoKtxBuffer, sizeof StoKtxBuffer}};
  const StatementResult found = LookupSingleRow(db, columns, 1);
  if (!found.IsRow()) {
    NoteTo(*db.Observer, "Ortskurztext: %s (Code %d)", found.IsNoRow() ? "kein Ort gefunden" : "Abfrage fehlgeschlagen",
                found.Code);
    return NameFailedQuery(db, QueryName, found);
  }
  // Exactly three bytes: a longer text is cut, a shorter one zero-filled;
  // the fourth byte of the field stays the terminator.
  std::strncpy(badge->StoKtx, TrimRight(StoKtxBuffer), 3);
  NoteTo(*db.Observer, "Ortskurztext: StoKtx '%s' -> '%s'", StoKtxBuffer, badge->StoKtx);
  return RowFound();
}
