// gentrmx-view: shows a download file one record a line, with named
// columns, for people (texts as UTF-8) or as CSV for a spreadsheet.
//
//   gentrmx-view FILE [--function NAME] [--csv]
//   gentrmx-view --version
//
// The function comes from --function, else from the file's name or its
// content (see DetectLayout). Exit status: 0 the file was shown whole,
// 1 the file does not split into whole records (the records before the
// damage are shown, the damage is reported with its byte offset), 2 wrong
// call, unreadable file or unknown function.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "layouts/download_reader.h"

namespace {

const char Usage[] = "Aufruf: gentrmx-view DATEI [--function NAME] [--csv]\n";

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

void PrintCsv(const DownloadContent& content) {
  const RecordLayout& layout = *content.Layout;
  std::string line;
  for (size_t f = 0; f < layout.FieldCount; ++f) line += (f ? "," : "") + CsvField(layout.Fields[f].Name);
  std::fputs((line + "\r\n").c_str(), stdout);
  for (const DownloadRecord& record : content.Records) {
    line.clear();
    for (size_t f = 0; f < layout.FieldCount; ++f) line += (f ? "," : "") + CsvField(Latin1ToUtf8(record.Values[f]));
    std::fputs((line + "\r\n").c_str(), stdout);
  }
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

// Columns as wide as their widest entry; widths count Latin-1 characters,
// so they are taken before the conversion to UTF-8.
void PrintTable(const DownloadContent& content, const std::string& path) {
  const RecordLayout& layout = *content.Layout;
  std::printf("%s (%s), Datei %s: %zu %s", layout.Function, layout.Title, Latin1ToUtf8(path).c_str(),
              content.Records.size(), content.Records.size() == 1 ? "Satz" : "Saetze");
  if (layout.Form == RecordForm::FixedWidth)
    std::printf(" zu %zu Zeichen\n", layout.RecordLength);
  else
    std::printf(" (Zeilen mit %zu Feldern)\n", layout.FieldCount);

  const std::string numberHeader = "Satz";
  size_t numberWidth = std::max(numberHeader.size(), std::to_string(content.Records.size()).size());
  std::vector<size_t> widths(layout.FieldCount);
  for (size_t f = 0; f < layout.FieldCount; ++f) {
    widths[f] = std::max(std::strlen(layout.Fields[f].Name), FieldPositionText(layout.Fields[f]).size());
    for (const DownloadRecord& record : content.Records) widths[f] = std::max(widths[f], record.Values[f].size());
  }
  auto printRow = [&](const std::string& first, auto valueOf) {
    std::string line = Padded(first, numberWidth);
    for (size_t f = 0; f < layout.FieldCount; ++f) line += "|" + Latin1ToUtf8(Padded(valueOf(f), widths[f]));
    std::printf("%s\n", WithoutTrailingBlanks(line).c_str());
  };
  printRow(numberHeader, [&](size_t f) { return std::string(layout.Fields[f].Name); });
  printRow("", [&](size_t f) { return FieldPositionText(layout.Fields[f]); });
  for (size_t r = 0; r < content.Records.size(); ++r)
    printRow(std::to_string(r + 1), [&](size_t f) { return content.Records[r].Values[f]; });
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

  std::string bytes, error;
  if (!ReadWholeFile(path, &bytes, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  const RecordLayout* layout = nullptr;
  if (function != nullptr) {
    layout = LayoutOfOption(function);
    if (layout == nullptr) return 2;
  } else {
    std::string reason;
    layout = DetectLayout(path, bytes, &reason);
    if (layout == nullptr) {
      std::fprintf(stderr, "%s: %s. Bitte die Funktion mit --function NAME angeben.\n", path.c_str(), reason.c_str());
      return 2;
    }
  }

  DownloadContent content = SplitDownload(bytes, *layout);
  if (csv)
    PrintCsv(content);
  else
    PrintTable(content, path);
  std::fflush(stdout);
  if (!content.Whole) {
    std::fprintf(stderr, "%s: Datei %s beschaedigt ab Offset %zu: %s\n", layout->Function, path.c_str(),
                 content.DamageOffset, content.Damage.c_str());
    return 1;
  }
  return 0;
}
