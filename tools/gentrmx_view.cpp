// gentrmx-view: shows a download file one record a line, with named
// columns, for people (texts as UTF-8) or as CSV for a spreadsheet.
//
//   gentrmx-view FILE [--function NAME] [--csv]
//   gentrmx-view --help | --version
//
// The function comes from --function, else from the file's name or its
// content (see DetectLayout). Every record is checked against its layout;
// each one that does not fit is reported with its offset on standard error.
// The file is read record by record (twice for the table, whose columns
// are as wide as their widest entry), so memory stays flat whatever its
// size. Exit status: 0 the file was shown whole and every record fits its
// layout, 1 records that do not fit or a file that does not split into
// whole records (the records before the damage are shown, the damage is
// reported with its byte offset), 2 wrong call, a file that cannot be read
// (a folder, a device), unknown function.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/visible_text.h"
#include "layouts/download_reader.h"

namespace {

const char Usage[] =
    "Aufruf: gentrmx-view DATEI [--function NAME] [--csv]\n"
    "        gentrmx-view --help | --version\n";

const char Help[] =
    "\n"
    "Zeigt eine Download-Datei Satz fuer Satz mit benannten Spalten (Texte in UTF-8)\n"
    "oder mit --csv als CSV. Die Funktion (MGDNL17P, MGDNL18P, MGDNL31P, MGDNL60P,\n"
    "IDSTAMM) ergibt sich aus --function, sonst aus dem Dateinamen oder dem Inhalt.\n"
    "Jeder Satz wird gegen seinen Satzaufbau geprueft; Saetze, die nicht passen,\n"
    "werden mit ihrem Offset auf der Standardfehlerausgabe gemeldet.\n"
    "Ende mit 0: Datei ganz und stimmig; 1: unpassende Saetze oder beschaedigte\n"
    "Datei; 2: falscher Aufruf, Datei nicht lesbar (auch Verzeichnis, Geraet).\n";

// RFC 4180: a field with a comma, a double quote or a line break goes in
// double quotes, its double quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

// One pass over the file's records. onRecord gets each record; records
// that do not fit their layout are reported when report is set. Returns
// false on a read error (message printed); *damaged tells whether the file
// ended in damage (reported when report is set); *misfits counts records
// that do not fit.
template <typename OnRecord>
bool Walk(DownloadFileReader& reader, const RecordLayout& layout, const std::string& path, bool report,
          OnRecord onRecord, bool* damaged, size_t* misfits) {
  std::string error;
  if (!reader.Start(layout, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  *damaged = false;
  *misfits = 0;
  DownloadRecord record;
  size_t number = 0;
  for (;;) {
    const DownloadFileReader::Step step = reader.Next(&record);
    if (step == DownloadFileReader::Step::End) return true;
    if (step == DownloadFileReader::Step::ReadError) {
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", reader.Error.c_str());
      return false;
    }
    if (step == DownloadFileReader::Step::Damage) {
      *damaged = true;
      if (report) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: Datei %s beschaedigt ab Offset %zu: %s\n", layout.Function, path.c_str(),
                     reader.DamageOffset, reader.Damage.c_str());
      }
      return true;
    }
    ++number;
    const std::string fault = RecordFault(layout, record);
    if (!fault.empty()) {
      ++*misfits;
      if (report) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: Datei %s, Satz %zu (Offset %zu) passt nicht zum Satzaufbau: %s\n",
                     layout.Function, path.c_str(), number, record.Offset, fault.c_str());
      }
    }
    onRecord(number, record);
  }
}

int Show(DownloadFileReader& reader, const RecordLayout& layout, const std::string& path, bool csv) {
  bool damaged = false;
  size_t misfits = 0;
  if (csv) {
    std::string line;
    for (size_t f = 0; f < layout.FieldCount; ++f) line += (f ? "," : "") + CsvField(layout.Fields[f].Name);
    std::fputs((line + "\r\n").c_str(), stdout);
    const bool read = Walk(
        reader, layout, path, true,
        [&](size_t, const DownloadRecord& record) {
          const std::vector<std::string> values = ShownValues(layout, record);
          line.clear();
          for (size_t f = 0; f < layout.FieldCount; ++f) line += (f ? "," : "") + CsvField(Latin1ToUtf8(values[f]));
          std::fputs((line + "\r\n").c_str(), stdout);
        },
        &damaged, &misfits);
    if (!read) return 2;
  } else {
    // First pass: how many records, and how wide each column is; widths
    // count Latin-1 characters, so they are taken before the conversion to
    // UTF-8.
    std::vector<size_t> widths(layout.FieldCount);
    for (size_t f = 0; f < layout.FieldCount; ++f)
      widths[f] = std::max(std::strlen(layout.Fields[f].Name), FieldPositionText(layout.Fields[f]).size());
    size_t count = 0;
    if (!Walk(
            reader, layout, path, false,
            [&](size_t number, const DownloadRecord& record) {
              count = number;
              const std::vector<std::string> values = ShownValues(layout, record);
              for (size_t f = 0; f < layout.FieldCount; ++f) widths[f] = std::max(widths[f], values[f].size());
            },
            &damaged, &misfits))
      return 2;

    std::printf("%s (%s), Datei %s: %zu %s", layout.Function, layout.Title, Latin1ToUtf8(path).c_str(), count,
                count == 1 ? "Satz" : "Saetze");
    if (layout.Form == RecordForm::FixedWidth)
      std::printf(" zu %zu Zeichen\n", layout.RecordLength);
    else
      std::printf(" (Zeilen mit %zu Feldern)\n", layout.FieldCount);
    const std::string numberHeader = "Satz";
    const size_t numberWidth = std::max(numberHeader.size(), std::to_string(count).size());
    auto printRow = [&](const std::string& first, auto valueOf) {
      std::string line = Padded(first, numberWidth);
      for (size_t f = 0; f < layout.FieldCount; ++f) line += "|" + Latin1ToUtf8(Padded(valueOf(f), widths[f]));
      std::printf("%s\n", WithoutTrailingBlanks(line).c_str());
    };
    printRow(numberHeader, [&](size_t f) { return std::string(layout.Fields[f].Name); });
    printRow("", [&](size_t f) { return FieldPositionText(layout.Fields[f]); });
    if (!Walk(
            reader, layout, path, true,
            [&](size_t number, const DownloadRecord& record) {
              const std::vector<std::string> values = ShownValues(layout, record);
              printRow(std::to_string(number), [&](size_t f) { return values[f]; });
            },
            &damaged, &misfits))
      return 2;
  }
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "Ausgabe konnte nicht geschrieben werden\n");
    return 2;
  }
  if (misfits > 0)
    std::fprintf(stderr, "%s: Datei %s: %zu %s nicht zum Satzaufbau\n", layout.Function, path.c_str(), misfits,
                 misfits == 1 ? "Satz passt" : "Saetze passen");
  return damaged || misfits > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  const char* function = nullptr;
  bool csv = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("gentrmx-view %s\n", GENTRMX_VERSION);
      return 0;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("%s%s", Usage, Help);
      return 0;
    } else if (std::strcmp(argv[i], "--csv") == 0) {
      csv = true;
    } else if (std::strcmp(argv[i], "--function") == 0 && i + 1 < argc) {
      function = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "Unbekannte Option %s\n%s", argv[i], Usage);
      return 2;
    } else if (path.empty()) {
      path = argv[i];
    } else {
      std::fprintf(stderr, "%s", Usage);
      return 2;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "%s", Usage);
    return 2;
  }

  DownloadFileReader reader;
  std::string error;
  if (!reader.Open(path, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  const RecordLayout* layout = nullptr;
  if (function != nullptr) {
    layout = LayoutOfOption(function);
    if (layout == nullptr) return 2;
  } else {
    std::string head, reason;
    if (!reader.ReadHead(&head, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    }
    layout = DetectLayout(path, head, reader.Size(), &reason);
    if (layout == nullptr) {
      std::fprintf(stderr, "%s: %s. Bitte die Funktion mit --function NAME angeben.\n", path.c_str(), reason.c_str());
      return 2;
    }
  }
  return Show(reader, *layout, path, csv);
}
