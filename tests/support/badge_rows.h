// Test rows for the badge, terminal, permission and balance display tables,
// the query texts of the badge cursor as they reach the data source, and the
// trace lines of the balance display reading.
#pragma once
#include <string>
#include <vector>

#include "installation.h"

// text as an SQL string literal, single quotes doubled.
inline std::string SqlString(const std::string& text) {
  std::string literal = "'";
  for (char c : text) literal += c == '\'' ? std::string("''") : std::string(1, c);
  return literal + "'";
}
// text as an SQL string literal, or NULL for nullptr.
inline std::string SqlOrNull(const char* text) { return text == nullptr ? std::string("NULL") : SqlString(text); }

// A badge valid since 2020-01-01 without end date, licence 1 client 1, with
// one location row (AwvSto as given, an SQL expression). `changes` are
// "column = value" assignments applied to the badge row afterwards.
inline void AddBadge(ScratchInstallation& inst, const std::string& number, const std::string& changes = "",
                     const std::string& awvSto = "NULL") {
  std::string sql = "INSERT INTO Xel301Asw (AswNum, AswLiz, AswMnd, AswGvo) VALUES (" + SqlString(number) +
                    ", 1, 1, '20200101');"
                    "INSERT INTO Xel113Awv (AwvNum, AwvSto) VALUES (" + SqlString(number) + ", " + awvSto + ");";
  if (!changes.empty()) sql += "UPDATE Xel301Asw SET " + changes + " WHERE AswNum = " + SqlString(number) + ";";
  inst.Exec(sql);
}

// A terminal row; sal and model as SQL expressions.
inline void AddTerminal(ScratchInstallation& inst, const std::string& name, const std::string& model = "'7744-010'",
                        const std::string& sal = "'SAL01'", const std::string& status = "NULL") {
  inst.Exec("INSERT INTO Xel1140Trm (TrmNam, TrmMod, TrmSal, TrmSta) VALUES (" + SqlString(name) + ", " + model + ", " + sal +
            ", " + status + ")");
}

// A class of the terminal (kind '1' time booking, '0' access) and a class of
// the badge.
inline void AddTerminalClass(ScratchInstallation& inst, const std::string& terminal, const std::string& cls,
                             const std::string& kind) {
  inst.Exec("INSERT INTO MGSST35P (M35Trm, M35Bkl, M35Bch) VALUES (" + SqlString(terminal) + ", " + SqlString(cls) +
            ", " + SqlString(kind) + ")");
}
inline void AddBadgeClass(ScratchInstallation& inst, const std::string& badge, const std::string& cls) {
  inst.Exec("INSERT INTO Xel301Awb (AwbAsw, AwbBkl) VALUES (" + SqlString(badge) + ", " + SqlString(cls) + ")");
}

// The badge cursor's two query texts, written out; terminal as it appears
// between the quotes.
inline std::string TerminalBoundBadgeQuery(const std::string& terminal) {
  return "SELECT  AswNum, CONVERT(char(8),AswGvo,112), CONVERT(char(8),AswGbi,112), AswPnr, AswBkl, AswGrp, AswAan, "
         "AswAtp, AwvSto, AswSal, AswBk2,  AswSpr, AswPin  FROM  Dravonix.Xel301Asw, Dravonix.Xel113Awv, "
         "Dravonix.Xel115Tfz  WHERE TFZTRM = '" +
         terminal +
         "'  AND ASWLIZ = TFZLIZ  AND ASWMND = TFZMND  AND ASWNUM = AWVNUM  AND ((convert(char(8), "
         "CURRENT_TIMESTAMP, 112) >= AswGvo AND AswGbi IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) <= "
         "AswGbi AND AswGvo IS NULL)   OR (convert(char(8), CURRENT_TIMESTAMP, 112) >= AswGvo       AND "
         "convert(char(8), CURRENT_TIMESTAMP, 112) <= AswGbi))  AND (AWVCOD <> 8 OR AWVCOD IS NULL)  AND ((AwvSta "
         "<> 4 AND AwvSta <> 8) OR AwvSta IS NULL)  AND ((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  ORDER BY "
         "AswNum, AswGvo, AswBkl ";
}
inline const std::string AllBadgesQueryText =
    "SELECT  AswNum, CONVERT(char(8),AswGvo,112), CONVERT(char(8),AswGbi,112), AswPnr, AswBkl, AswGrp, AswAan, "
    "AswAtp, AwvSto, AswSal, AswBk2,  AswSpr, AswPin  FROM  Dravonix.Xel301Asw, Dravonix.Xel113Awv  WHERE ASWNUM = "
    "AWVNUM  AND   AswGvo <= convert(char(8), CURRENT_TIMESTAMP, 112)  AND  (AswGbi IS NULL OR AswGbi >= "
    "convert(char(8), CURRENT_TIMESTAMP, 112))  AND  (AWVCOD <> 8 OR AWVCOD IS NULL)  AND ((AwvSta <> 4 AND AwvSta "
    "<> 8) OR AwvSta IS NULL)  AND ((AswSta <> 4 AND AswSta <> 8) OR AswSta IS NULL)  ORDER BY AswNum, AswGvo, "
    "AswBkl ";

// Badge numbers in the order the badge cursor delivered them, read from the
// time permission trace lines ("Aws: %s Zeitberechtigung: %d") of a /d run.
inline std::vector<std::string> TracedBadges(const std::string& output) {
  std::vector<std::string> badges;
  const std::string head = "Aws: ";
  const std::string tail = " Zeitberechtigung: ";
  size_t at = 0;
  while ((at = output.find(head, at)) != std::string::npos) {
    size_t end = output.find(tail, at);
    if (end == std::string::npos) break;
    badges.push_back(output.substr(at + head.size(), end - at - head.size()));
    at = end;
  }
  return badges;
}

// One balance display definition: set and position, the column selector
// (SQL text: a number or NULL), the definition's own text, and the texts of
// its list entries in Language: the display text (list 220001) and the
// value code (list 220002); nullptr: no such list row.
struct DisplayDefinition {
  const char* Set;
  int Lfd;
  const char* Spl;
  const char* Own;
  const char* List;
  const char* Code;
  int Language = 1;
  int Liz = 1, Mnd = 1;
  const char* Creator = "ADMIN";
  const char* Status = "NULL";  // SQL text
};

// The definition row with its list rows, under list entry number `entry`
// (one of its own for each definition).
inline void AddDisplayDefinition(ScratchInstallation& inst, int entry, const DisplayDefinition& d) {
  const std::string number = std::to_string(entry), language = std::to_string(d.Language);
  inst.Exec("INSERT INTO Xel119Msd VALUES (" + SqlOrNull(d.Set) + ", " + std::to_string(d.Lfd) + ", " + d.Spl + ", " +
            SqlOrNull(d.Own) + ", " + number + ", " + number + ", " + std::to_string(d.Liz) + ", " +
            std::to_string(d.Mnd) + ", " + SqlOrNull(d.Creator) + ", " + d.Status + ")");
  if (d.List != nullptr)
    inst.Exec("INSERT INTO Xel102Whl VALUES (220001, " + number + ", " + language + ", NULL, " + SqlOrNull(d.List) +
              ")");
  if (d.Code != nullptr)
    inst.Exec("INSERT INTO Xel102Whl VALUES (220002, " + number + ", " + language + ", " + SqlOrNull(d.Code) +
              ", NULL)");
}

// Trace lines of the balance display reading: a definition fetched, and a
// value looked up, with their return codes.
inline const std::string DefinitionTrace0 = "Fetch Sal_DspTxtVar_Read! RC:0!\n";
inline const std::string DefinitionTrace100 = "Fetch Sal_DspTxtVar_Read! RC:100!\n";
inline const std::string ValueTrace0 = "SQLFetch Saldenwerte! RC: 0\n";
inline const std::string ValueTrace100 = "SQLFetch Saldenwerte! RC: 100\n";
