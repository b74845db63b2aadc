// gentrmx-explain: why a badge is, or is not, in a terminal's download file.
//
//   gentrmx-explain FUNCTION TERMINAL BADGE [--sql]
//   gentrmx-explain --help | --version
//
// Runs where gentrmx runs (same configuration file, same data source) and
// runs the same writer, with the explain switch on: the badge walk hands
// only the badge's rows to the writer, the queries and the writer print
// their decisions with the values they rest on, and the download file is
// an in-memory stream, so the records shown are the bytes a real run writes
// for the badge. Nothing is written to disk or to the database. When the
// badge query does not deliver the badge, queries of its own, built from
// the badge query's conditions, say which condition keeps it out.
//
// Exit status: 0 explained, 1 trouble (unknown function, no connection, a
// database error in the walk), 2 wrong call.
//
// The output is UTF-8 throughout: texts from the database and the file's
// bytes are Latin-1 and shown as their characters, a byte that has none
// (a control byte) as \xNN.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/download_file.h"
#include "common/text.h"
#include "common/visible_text.h"
#include "config/settings.h"
#include "db/access_rights.h"
#include "db/badges.h"
#include "db/balance_display.h"
#include "db/observer.h"
#include "db/records.h"
#include "db/session.h"
#include "db/terminal.h"
#include "layouts/download_reader.h"
#include "layouts/record_layouts.h"
#include "writers/writers.h"

namespace {

const char Usage[] =
    "Aufruf: gentrmx-explain FUNKTION TERMINAL AUSWEIS [--sql]\n"
    "        gentrmx-explain --help | --version\n";

const char Help[] =
    "\n"
    "Erklaert, warum ein Ausweis in der Download-Datei eines Terminals steht oder\n"
    "nicht: liest wie gentrmx (../../files/quillnest.ini vom Arbeitsverzeichnis aus,\n"
    "dieselbe Datenquelle) und laesst den Schreiber der Funktion nur fuer diesen\n"
    "Ausweis laufen. Schreibt nichts, weder Datei noch Datenbank. --sql zeigt jede\n"
    "Abfrage. Ausgabe in UTF-8.\n"
    "Ende mit 0: erklaert; 1: Fehler (unbekannte Funktion, keine Verbindung,\n"
    "Datenbankfehler); 2: falscher Aufruf.\n";

// Latin-1 text (from the database, the file or the command line, which
// the queries take byte for byte) as UTF-8, control bytes as \xNN.
std::string Text(const std::string& latin1) { return VisibleText(latin1, VisibleForm::Utf8); }

// The badge query's conditions, as the badge cursor sends them.
const BadgeQueryConditions& Conditions = BadgeConditions;

// The recorder of an explanation: only the badge's rows reach the writer,
// and every decision is printed as a note with the values it rests on;
// with --sql every statement text before it is sent. Everything is shown
// in UTF-8.
class ExplainRecorder : public RunObserver {
 public:
  ExplainRecorder(const char* badge, bool sql) : Badge_(badge), Sql_(sql) {}

  void ShowDatabaseText(const char* text, size_t length) override { PrintVisibleText(text, length, stdout, VisibleForm::Utf8); }
  void Sending(const char* sqlText) override {
    if (!Sql_) return;
    std::fputs("SQL> ", stdout);
    PrintVisibleText(sqlText, std::strlen(sqlText), stdout, VisibleForm::Utf8);
    std::fputs("\n", stdout);
  }
  bool Takes(const BadgeRecord& badge, bool repeated) override {
    if (!Following_ || std::strcmp(badge.AswNum, Badge_) != 0) return false;
    ++RowsDelivered;
    NoteTo(*this,
           "Ausweisabfrage liefert Zeile %d: AswNum '%s' AswGvo '%s' AswGbi '%s' AswPnr '%s' AswBkl '%s' "
           "AswBk2 '%s' AswGrp '%s' AswSal '%s' AwvSto '%s' AswSpr %s AswAtp %s AswAan '%s' AswPin '%s'",
           RowsDelivered, badge.AswNum, badge.AswGvo, badge.AswGbi, badge.AswPnr, badge.AswBkl, badge.AswBk2,
           badge.AswGrp, badge.AswSal, badge.AwvSto, badge.AswSpr, badge.AswAtp, badge.AswAan, badge.AswPin);
    if (repeated) Note("weitere Zeile derselben Ausweisnummer: es zaehlt nur die erste, diese wird uebergangen");
    return true;
  }
  void WalkEnded(int rc, int32_t total, int32_t written) override {
    NoteTo(*this, "Ausweisabfrage zu Ende (Code %d): %d Ausweise gesamt, %d Zeile(n) von Ausweis %s, in Datei gestellt: %d",
           rc, total, RowsDelivered, Badge_, written);
  }
  void TimePermission(const BadgeRecord& /*badge*/, const TerminalRecord& terminal, int32_t count,
                      bool granted) override {
    if (count < 0)
      NoteTo(*this, "Zeitberechtigung auf Terminal %s: Abfrage fehlgeschlagen", terminal.TrmNam);
    else
      NoteTo(*this, "Zeitberechtigung auf Terminal %s: %d Buchungsklasse(n) mit M35Bch '1' -> %s", terminal.TrmNam,
             static_cast<int>(count), granted ? "ja" : "nein");
  }
  void DisplayDefinition(bool terminalLevel, const BalanceDisplaySlot& slot) override {
    NoteTo(*this, "Saldenanzeige (%s): Nr. %d Spalte %d Text '%s' Wertcode '%s'",
           terminalLevel ? "Terminal" : "Ausweis", static_cast<int>(slot.MsdLfd), static_cast<int>(slot.MsdSpl),
           slot.DisplayText, slot.ValueCode);
  }
  void Skipped(const BadgeRecord& /*badge*/, const TerminalRecord& /*terminal*/, SkipReason why) override {
    switch (why) {
      case SkipReason::NoRights: Note("kein Satz: weder Zeit- noch Zutrittsberechtigung"); break;
      case SkipReason::NoRightsLine: Note("keine Zeile: weder Zeit- noch Zutrittsberechtigung"); break;
      case SkipReason::NoAccess:
        Note("kein Satz: keine Zutrittsberechtigung (MGDNL31P braucht eine Zutrittsklasse)");
        break;
      case SkipReason::NoTime: Note("kein Satz: keine Zeitberechtigung"); break;
      case SkipReason::NoPersonnelNumber: Note("kein Satz: keine Personalnummer (AswPnr leer)"); break;
      case SkipReason::AlreadyWritten: Note("kein Satz: Ausweis schon geschrieben (weitere Zeile)"); break;
    }
  }
  bool WantsNotes() const override { return Following_; }
  // "  <text>\n", shown in UTF-8.
  void Note(const char* text) override {
    std::fputs("  ", stdout);
    PrintVisibleText(text, std::strlen(text), stdout, VisibleForm::Utf8);
    std::putchar('\n');
  }

  // The writer's walk is followed (its decisions noted) between these.
  void Follow(bool on) { Following_ = on; }
  // Rows of the badge that the badge query delivered in the walk.
  int RowsDelivered = 0;

 private:
  const char* Badge_;
  bool Sql_;
  bool Following_ = false;
};

// A query's rows as texts; a NULL column reads as empty.
constexpr int MaxQueryColumns = 10;
using Row = std::vector<std::string>;

bool QueryRows(Session& db, int columnCount, std::vector<Row>* rows) {
  char buffers[MaxQueryColumns][64];
  ColumnBinding columns[MaxQueryColumns];
  for (int i = 0; i < columnCount; ++i) columns[i] = {SQL_C_CHAR, buffers[i], sizeof buffers[i]};
  Statement cursor(db);
  if (OpenCursor(cursor).Failed()) {
    std::printf("Abfrage fehlgeschlagen:\n");
    db.PrintFailureRecord(nullptr);
    return false;
  }
  for (;;) {
    for (int i = 0; i < columnCount; ++i) buffers[i][0] = '\0';
    const StatementResult fetched = FetchCursor(cursor, columns, columnCount);
    if (fetched.Failed()) {
      CloseCursor(cursor);
      std::printf("Abfrage fehlgeschlagen:\n");
      db.PrintFailureRecord(nullptr);
      return false;
    }
    if (!fetched.IsRow()) break;
    Row row;
    for (int i = 0; i < columnCount; ++i) row.push_back(TrimRight(buffers[i]));
    rows->push_back(row);
  }
  CloseCursor(cursor);
  return true;
}

std::string Shown(const std::string& value) { return value.empty() ? "(leer)" : Text(value); }

void Reason(const std::string& text) {
  std::printf("Grund: ");
  PrintVisibleText(text.c_str(), text.size(), stdout, VisibleForm::Utf8);
  std::printf("\n");
}

// A condition a row fails while another row of its table meets them all:
// the row does not count, but it is not what keeps the badge out.
void Aside(const std::string& text) {
  std::printf("  diese Zeile zaehlt nicht: ");
  PrintVisibleText(text.c_str(), text.size(), stdout, VisibleForm::Utf8);
  std::printf("\n");
}

// Which of the badge query's conditions keep the badge out. Returns false
// when a query failed.
bool ExplainExclusion(Session& db, const TerminalRecord& terminal, const char* badge, bool bound) {
  std::printf("Die Ausweisabfrage liefert Ausweis %s nicht.\n", Text(badge).c_str());
  // The badge rows, each with the date and status conditions evaluated by
  // the database and, for a bound terminal, its matching client rows.
  std::string dates = bound ? Conditions.BoundDates : std::string("(") + Conditions.AllDates + ")";
  std::string query = "SELECT CONVERT(char(8),AswGvo,112), CONVERT(char(8),AswGbi,112), AswSta, AswLiz, AswMnd, "
                      "convert(char(8), CURRENT_TIMESTAMP, 112), CASE WHEN " +
                      dates + " THEN 1 ELSE 0 END, CASE WHEN " + Conditions.BadgeStatus + " THEN 1 ELSE 0 END";
  if (bound)
    query += std::string(", (SELECT COUNT(*) FROM  Dravonix.Xel115Tfz WHERE TFZTRM = '%q'  AND ") + Conditions.ClientMatch + ")";
  query += " FROM  Dravonix.Xel301Asw WHERE AswNum = '%q' ORDER BY AswGvo";
  if (bound)
    db.FormatSqlText(query.c_str(), terminal.TrmNam, badge);
  else
    db.FormatSqlText(query.c_str(), badge);
  std::vector<Row> badgeRows;
  if (!QueryRows(db, bound ? 9 : 8, &badgeRows)) return false;
  if (badgeRows.empty()) {
    Reason(std::string("kein Ausweis mit der Nummer ") + badge + " (Xel301Asw)");
    return true;
  }

  db.FormatSqlText(
      (std::string("SELECT AwvSto, AwvCod, AwvSta, CASE WHEN ") + Conditions.AssignmentCode + " THEN 1 ELSE 0 END, CASE WHEN " +
       Conditions.AssignmentStatus + " THEN 1 ELSE 0 END FROM  Dravonix.Xel113Awv WHERE AwvNum = '%q'")
          .c_str(),
      badge);
  std::vector<Row> assignments;
  if (!QueryRows(db, 5, &assignments)) return false;

  std::vector<Row> clients;
  if (bound) {
    db.FormatSqlText("SELECT TfzLiz, TfzMnd, TfzSta FROM  Dravonix.Xel115Tfz WHERE TFZTRM = '%q' ORDER BY TfzLiz, TfzMnd",
                     terminal.TrmNam);
    if (!QueryRows(db, 3, &clients)) return false;
  }

  bool badgeRowPasses = false;
  for (const Row& r : badgeRows)
    badgeRowPasses = badgeRowPasses || (r[6] == "1" && r[7] == "1" && (!bound || r[8] != "0"));
  void (*const badgeReason)(const std::string&) = badgeRowPasses ? Aside : Reason;
  bool assignmentPasses = false;
  for (const Row& a : assignments) assignmentPasses = assignmentPasses || (a[3] == "1" && a[4] == "1");
  void (*const assignmentReason)(const std::string&) = assignmentPasses ? Aside : Reason;

  for (size_t i = 0; i < badgeRows.size(); ++i) {
    const Row& r = badgeRows[i];
    const std::string& from = r[0];
    const std::string& until = r[1];
    const std::string& today = r[5];
    std::printf("Ausweiszeile %zu: gueltig ab %s bis %s (heute %s), AswSta %s, Lizenz %s Mandant %s\n", i + 1,
                Shown(from).c_str(), Shown(until).c_str(), Text(today).c_str(), Shown(r[2]).c_str(), Shown(r[3]).c_str(),
                Shown(r[4]).c_str());
    if (r[6] != "1") {
      if (from.empty() && until.empty())
        badgeReason("ohne Gueltigkeitsdaten (AswGvo und AswGbi leer), heute " + today);
      else if (from.empty() && !bound)
        badgeReason("ohne Gueltig-ab-Datum (gueltig bis " + until + ", heute " + today +
                    "): die Ausweisabfrage ohne Terminalbindung verlangt AswGvo");
      else if (!from.empty() && today < from)
        badgeReason("noch nicht gueltig: gueltig ab " + from + " bis " + Shown(until) + ", heute " + today);
      else if (!until.empty() && today > until)
        badgeReason("nicht mehr gueltig: gueltig ab " + Shown(from) + " bis " + until + ", heute " + today);
      else
        badgeReason("nicht heute gueltig: gueltig ab " + Shown(from) + " bis " + Shown(until) + ", heute " + today);
    }
    if (r[7] != "1") {
      badgeReason("Ausweisstatus AswSta = " + r[2] + " (gesperrt oder geloescht)");
    }
    if (bound && r[8] == "0") {
      std::string pairs;
      for (const Row& c : clients)
        pairs += (pairs.empty() ? "" : ", ") + Shown(c[0]) + "/" + Shown(c[1]) +
                 (c[2].empty() ? "" : " (TfzSta " + c[2] + ")");
      badgeReason("Lizenz/Mandant " + Shown(r[3]) + "/" + Shown(r[4]) + " nicht unter denen von Terminal " +
                  terminal.TrmNam + " (Xel115Tfz: " + pairs + ")");
    }
  }

  if (assignments.empty())
    Reason("keine Zuordnung in Xel113Awv (die Ausweisabfrage verbindet ASWNUM = AWVNUM)");
  for (size_t i = 0; i < assignments.size(); ++i) {
    const Row& a = assignments[i];
    std::printf("Zuordnung %zu (Xel113Awv): AwvSto %s, AwvCod %s, AwvSta %s\n", i + 1, Shown(a[0]).c_str(),
                Shown(a[1]).c_str(), Shown(a[2]).c_str());
    if (a[3] != "1") {
      assignmentReason("Zuordnungscode AwvCod = " + a[1]);
    }
    if (a[4] != "1") {
      assignmentReason("Zuordnungsstatus AwvSta = " + a[2] + " (gesperrt oder geloescht)");
    }
  }
  if (badgeRowPasses && assignmentPasses)
    std::printf("Alle Bedingungen der Ausweisabfrage sind erfuellt; die Nummer wird dort vielleicht anders "
                "geschrieben (Leerzeichen, Gross-/Kleinschreibung).\n");
  return true;
}

// The booking classes that give the badge time permission on the terminal:
// the time permission query's conditions, listing the classes.
bool ExplainTimeClasses(Session& db, const TerminalRecord& terminal, const char* badge) {
  db.FormatSqlText("SELECT M35Bkl " GENTRMX_TIME_PERMISSION_FROM " ORDER BY M35Bkl", terminal.TrmNam, badge);
  std::vector<Row> rows;
  if (!QueryRows(db, 1, &rows)) return false;
  std::string classes;
  for (const Row& r : rows) classes += (classes.empty() ? "'" : ", '") + Text(r[0]) + "'";
  std::printf("Zeitberechtigung gewaehrt durch Buchungsklasse(n): %s\n", classes.empty() ? "keine" : classes.c_str());
  return true;
}

// The bytes as the file holds them (as UTF-8 characters, control bytes as
// \xNN), then each record by field.
void ShowRecords(const RecordLayout& layout, const std::string& bytes) {
  const bool fixed = layout.Form == RecordForm::FixedWidth;
  std::printf("Bytes wie in der Datei: %zu (%s)\n", bytes.size(),
              fixed ? "je Satz eine Zeile" : "Zeilen mit CR LF, hier ohne");
  size_t at = 0;
  while (at < bytes.size()) {
    size_t length = layout.RecordLength;
    size_t shown = length;
    if (!fixed) {
      const size_t end = bytes.find("\r\n", at);
      length = end == std::string::npos ? bytes.size() - at : end + 2 - at;
      shown = end == std::string::npos ? length : length - 2;
    } else if (at + length > bytes.size()) {
      break;
    }
    std::printf("%s\n", Text(bytes.substr(at, shown)).c_str());
    at += length;
  }
  std::printf("Nach Feldern:\n");
  const DownloadContent content = SplitDownload(bytes, layout);
  for (size_t r = 0; r < content.Records.size(); ++r) {
    std::printf("Satz %zu:\n", r + 1);
    const std::vector<std::string> values = ShownValues(layout, content.Records[r]);
    for (size_t f = 0; f < layout.FieldCount; ++f) {
      const FieldLayout& field = layout.Fields[f];
      if (field.Kind == FieldKind::Filler) continue;
      std::string position = FieldPositionText(field);
      const char* meaning = field.Meaning;
      if (values[f] != content.Records[r].Values[f]) {
        // One value over two fields (the MGDNL18P date).
        const bool date = field.Kind == FieldKind::DisplayValue;
        const FieldLayout over = date ? Mgdnl18p::DateColumn(field.Group) : field;
        position = date ? FieldPositionText(over) : std::to_string(field.Position) + "-" +
                                                        std::to_string(field.Position + field.Width - 2);
        if (date) meaning = over.Meaning;
      }
      std::printf("  %-12s %-7s '%s'  %s\n", field.Name, position.c_str(), Text(values[f]).c_str(), meaning);
    }
  }
  if (!content.Whole) std::printf("Achtung: %s\n", content.Damage.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> positional;
  bool sql = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("gentrmx-explain %s\n", GENTRMX_VERSION);
      return 0;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("%s%s", Usage, Help);
      return 0;
    } else if (std::strcmp(argv[i], "--sql") == 0) {
      sql = true;
    } else if (argv[i][0] == '-' && argv[i][1] == '-') {
      std::fprintf(stderr, "Unbekannte Option %s\n%s", argv[i], Usage);
      return 2;
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (positional.size() != 3) {
    std::fprintf(stderr, "%s", Usage);
    return 2;
  }
  // The function name as gentrmx takes it, in any case.
  const RecordLayout* layout = LayoutOfOption(positional[0]);
  if (layout == nullptr) return 1;
  const WriterEntry* writer = WriterByFunction(layout->Function);
  if (writer == nullptr) return 1;  // every layout has its writer
  const char* function = writer->Name;
  TerminalRecord terminal;
  if (std::strlen(positional[1]) >= sizeof terminal.TrmNam) {
    std::fprintf(stderr, "Terminalname zu lang: hoechstens %zu Zeichen\n%s", sizeof terminal.TrmNam - 1, Usage);
    return 2;
  }
  const char* badge = positional[2];
  if (badge[0] == '\0' || std::strlen(badge) >= sizeof BadgeRecord::AswNum) {
    std::fprintf(stderr, "Ausweisnummer leer oder laenger als %zu Zeichen\n%s", sizeof BadgeRecord::AswNum - 1,
                 Usage);
    return 2;
  }

  LoginSettings settings;
  ReadLoginSettings(&settings);
  ExplainRecorder recorder(badge, sql);
  Session db(recorder);
  if (db.Connect(settings.Login, settings.Pass, settings.Database, settings.Schema) != 0) {
    std::printf("Keine Verbindung zur Datenbank (Datenquelle %s, Benutzer %s)!\n", Text(settings.Database).c_str(),
                Text(settings.Login).c_str());
    db.PrintFailureRecord(settings.Pass);
    std::memset(&settings, 0, sizeof settings);
    return 1;
  }
  std::memset(settings.Pass, 0, sizeof settings.Pass);

  std::printf("Ausweis %s auf Terminal %s, Funktion %s\n", Text(badge).c_str(), Text(positional[1]).c_str(), function);
  StartTerminalRecord(&terminal, positional[1]);
  const StatementResult found = LookUpTerminal(db, &terminal);
  if (found.Failed()) {
    std::printf("Datenbankfehler bei der Terminalabfrage: keine Erklaerung moeglich.\n");
    db.PrintFailureRecord(nullptr);
    return 1;
  }
  if (found.IsRow())
    std::printf("Terminal: Modell %s, Saldensatz %s, Lizenz-/Mandantenzeilen (Xel115Tfz) %d\n",
                Text(TerminalText(terminal.TrmMod)).c_str(), Text(TerminalText(terminal.TrmSal)).c_str(),
                static_cast<int>(terminal.TfzCount));
  else
    std::printf("Terminal nicht gefunden (oder Status 4/8): Modell und Saldensatz bleiben leer\n");
  const bool bound = terminal.TfzCount > 0;
  std::printf("Ausweisabfrage: %s\n", bound ? "nur Ausweise mit Lizenz/Mandant des Terminals (Xel115Tfz)"
                                            : "alle gueltigen Ausweise (keine Terminalbindung)");

  char* bytes = nullptr;
  size_t size = 0;
  if (!OpenDownloadMemory(&bytes, &size)) {
    std::printf("Speicher fuer die Saetze nicht verfuegbar!\n");
    return 1;
  }
  recorder.Follow(true);
  std::printf("Entscheidungen von %s:\n", function);
  const int written = writer->Writer(db, &terminal);
  recorder.Follow(false);
  CloseDownloadFile();
  const std::string records(bytes != nullptr ? bytes : "", size);
  std::free(bytes);
  if (written == 0) {
    std::printf("Datenbankfehler: die Erklaerung ist unvollstaendig.\n");
    db.PrintFailureRecord(nullptr);
    return 1;
  }

  if (records.empty())
    std::printf("Ergebnis: Ausweis %s steht nicht in der Datei %s.\n", Text(badge).c_str(), function);
  else
    std::printf("Ergebnis: Ausweis %s steht in der Datei %s.\n", Text(badge).c_str(), function);
  if (!records.empty()) ShowRecords(*layout, records);

  // From here on queries of the explanation's own, not of the run.
  std::printf("Nachgefragt (eigene Abfragen, nicht Teil des Laufs):\n");
  bool ok = recorder.RowsDelivered == 0 ? ExplainExclusion(db, terminal, badge, bound)
                                         : ExplainTimeClasses(db, terminal, badge);
  std::fflush(stdout);
  return ok ? 0 : 1;
}
