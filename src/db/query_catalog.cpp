// The statement texts of all query families, and the tables in them.
#include "db/query_catalog.h"

#include <cctype>
#include <strings.h>

#include <cstring>

#include "db/access_rights.h"
#include "db/badges.h"
#include "db/balance_display.h"
#include "db/balance_values.h"
#include "db/location.h"
#include "db/terminal.h"

std::vector<std::string> QueryTexts(Session& db, const char* terminalName, const char* badgeNumber) {
  std::vector<std::string> texts;
  auto keep = [&] { texts.emplace_back(db.SqlText); };
  FormatTerminalQuery(db, terminalName);
  keep();
  FormatClientCountQuery(db, terminalName);
  keep();
  FormatBadgeQuery(db, terminalName, true);
  keep();
  FormatBadgeQuery(db, terminalName, false);
  keep();
  FormatBalanceQuery(db, badgeNumber);
  keep();
  FormatTimePermissionQuery(db, badgeNumber, terminalName);
  keep();
  FormatReaderQuery(db, terminalName, 11);
  keep();
  FormatZoneClassQuery(db, badgeNumber, terminalName);
  keep();
  FormatLocationQuery(db, badgeNumber);
  keep();
  for (const bool terminalLevel : {true, false}) {
    const DisplayCursor display(db, terminalLevel);
    const char* key = terminalLevel ? terminalName : badgeNumber;
    db.FormatSqlText(display.DefinitionQuery, key);
    keep();
    db.FormatSqlText(display.ValueCodeQuery, key, 1L);
    keep();
  }
  return texts;
}

std::vector<TableSpellings> TablesOfQueries(Session& db) {
  std::vector<TableSpellings> tables;
  for (const std::string& text : QueryTexts(db, "T", "A")) {
    // Every name behind the schema, "Dravonix." in any case.
    for (size_t at = 0; at + 9 < text.size(); ++at) {
      if (strncasecmp(text.c_str() + at, "Dravonix.", 9) != 0) continue;
      size_t end = at + 9;
      while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) ++end;
      const std::string spelling = text.substr(at, end - at);
      const std::string name = spelling.substr(9);
      TableSpellings* table = nullptr;
      for (TableSpellings& known : tables)
        if (strcasecmp(known.Table.c_str(), name.c_str()) == 0) table = &known;
      if (table == nullptr) {
        tables.push_back({name, {}});
        table = &tables.back();
      }
      bool listed = false;
      for (const std::string& s : table->Spellings) listed = listed || s == spelling;
      if (!listed) table->Spellings.push_back(spelling);
      at = end - 1;
    }
  }
  return tables;
}
