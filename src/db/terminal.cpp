// Terminal lookup: one row of Xel1140Trm and the count of its client rows
// in Xel115Tfz.
#include "db/terminal.h"

#include <cstring>

#include "common/text.h"
#include "db/session.h"

void FormatTerminalQuery(Session& db, const char* terminalName) {
  db.FormatSqlText(
      "SELECT TRMMOD, TRMSAL  FROM  Dravonix.Xel1140Trm  WHERE TrmNam = '%q'  AND   ((TrmSta <> 4 AND TrmSta <> 8) OR TrmSta IS NULL)",
      terminalName);
}

void FormatClientCountQuery(Session& db, const char* terminalName) {
  db.FormatSqlText(
      " SELECT COUNT(*)  FROM  Dravonix.Xel115Tfz  WHERE TfzTrm = '%q'  AND  ((TfzSta <> 4 AND TfzSta <> 8) OR TfzSta IS NULL) ",
      terminalName);
}

StatementResult LookUpTerminal(Session& db, TerminalRecord* terminal) {
  char TrmModBuffer[11] = {};
  char TrmSalBuffer[11] = {};
  FormatTerminalQuery(db, terminal->TrmNam);
  const ColumnBinding terminalColumns[] = {
      {SQL_C_CHAR, TrmModBuffer, sizeof TrmModBuffer},
      {SQL_C_CHAR, TrmSalBuffer, sizeof TrmSalBuffer},
  };
  StatementResult found = LookupSingleRow(db, terminalColumns, 2);
  if (!found.IsRow()) return NameFailedQuery(db, "Terminalabfrage", found);
  std::memcpy(terminal->TrmMod, TrimRight(TrmModBuffer), sizeof terminal->TrmMod);
  std::memcpy(terminal->TrmSal, TrimRight(TrmSalBuffer), sizeof terminal->TrmSal);

  int32_t TfzCountBuffer = 0;
  FormatClientCountQuery(db, terminal->TrmNam);
  const ColumnBinding countColumns[] = {{SQL_C_LONG, &TfzCountBuffer, sizeof TfzCountBuffer}};
  const StatementResult counted = LookupSingleRow(db, countColumns, 1);
  // A count always gives its row; none is as wrong as a failure.
  if (counted.IsNoRow()) db.SetOwnFailure("Zaehlung der Mandantenzeilen ohne Ergebnis");
  if (!counted.IsRow()) return NameFailedQuery(db, "Mandantenabfrage des Terminals", Failure());
  terminal->TfzCount = TfzCountBuffer;
  return RowFound();
}
