// Reading a download file back: see download_reader.h.
#include "layouts/download_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <strings.h>

namespace {

DownloadContent SplitFixed(const std::string& bytes, const RecordLayout& layout) {
  DownloadContent content;
  content.Layout = &layout;
  const size_t length = layout.RecordLength;
  size_t at = 0;
  for (; at + length <= bytes.size(); at += length) {
    DownloadRecord record;
    record.Offset = at;
    record.Values.reserve(layout.FieldCount);
    for (size_t f = 0; f < layout.FieldCount; ++f)
      record.Values.push_back(bytes.substr(at + layout.Fields[f].Position - 1, layout.Fields[f].Width));
    content.Records.push_back(std::move(record));
  }
  if (at < bytes.size()) {
    content.Whole = false;
    content.DamageOffset = at;
    content.Damage = "letzter Satz unvollstaendig: " + std::to_string(bytes.size() - at) + " von " +
                     std::to_string(length) + " Zeichen";
  }
  return content;
}

// One quoted line from at; false with the offset and reason of the fault.
bool SplitLine(const std::string& bytes, size_t at, size_t fieldCount, DownloadRecord* record, size_t* next,
               size_t* faultAt, std::string* fault) {
  record->Offset = at;
  record->Values.clear();
  size_t p = at;
  for (size_t f = 0; f < fieldCount; ++f) {
    if (p >= bytes.size() || bytes[p] != '"') {
      *faultAt = p;
      *fault = "Feld " + std::to_string(f + 1) + " beginnt nicht mit einem Anfuehrungszeichen";
      return false;
    }
    size_t start = ++p;
    while (p < bytes.size() && bytes[p] != '"' && bytes[p] != '\r' && bytes[p] != '\n') ++p;
    if (p >= bytes.size() || bytes[p] != '"') {
      *faultAt = p;
      *fault = "Feld " + std::to_string(f + 1) + " endet nicht mit einem Anfuehrungszeichen";
      return false;
    }
    record->Values.push_back(bytes.substr(start, p - start));
    ++p;
    const bool last = f + 1 == fieldCount;
    if (!last && (p >= bytes.size() || bytes[p] != ',')) {
      *faultAt = p;
      *fault = "nach Feld " + std::to_string(f + 1) + " fehlt das Komma (die Zeile hat nicht " +
               std::to_string(fieldCount) + " Felder)";
      return false;
    }
    if (!last) ++p;
  }
  if (bytes.compare(p, 2, "\r\n") != 0) {
    *faultAt = p;
    *fault = "nach Feld " + std::to_string(fieldCount) + " folgt kein Zeilenende CR LF";
    return false;
  }
  *next = p + 2;
  return true;
}

DownloadContent SplitLines(const std::string& bytes, const RecordLayout& layout) {
  DownloadContent content;
  content.Layout = &layout;
  size_t at = 0;
  while (at < bytes.size()) {
    DownloadRecord record;
    size_t next = 0, faultAt = 0;
    std::string fault;
    if (!SplitLine(bytes, at, layout.FieldCount, &record, &next, &faultAt, &fault)) {
      content.Whole = false;
      content.DamageOffset = at;
      content.Damage = "Zeile laesst sich nicht in " + std::to_string(layout.FieldCount) +
                       " Felder in Anfuehrungszeichen zerlegen: " + fault + " (Offset " + std::to_string(faultAt) +
                       ")";
      break;
    }
    content.Records.push_back(std::move(record));
    at = next;
  }
  return content;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool AllDigits(const std::string& text) {
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

DownloadContent SplitDownload(const std::string& bytes, const RecordLayout& layout) {
  return layout.Form == RecordForm::FixedWidth ? SplitFixed(bytes, layout) : SplitLines(bytes, layout);
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "Datei " + path + " kann nicht gelesen werden: " + std::strerror(errno);
    return false;
  }
  std::ostringstream all;
  all << in.rdbuf();
  if (in.bad()) {
    *error = "Datei " + path + " kann nicht gelesen werden";
    return false;
  }
  *bytes = all.str();
  return true;
}

bool RecordLooksRight(const RecordLayout& layout, const DownloadRecord& record) {
  for (size_t f = 0; f < layout.FieldCount; ++f) {
    const FieldLayout& field = layout.Fields[f];
    const std::string& value = record.Values[f];
    switch (field.Kind) {
      case FieldKind::Flag:
        if (value != "0" && value != "1") return false;
        break;
      case FieldKind::Date:
        if (!AllDigits(value) || (value.size() != 8 && !(value.empty() && field.Width == 0))) return false;
        break;
      case FieldKind::Constant:
        if (value != field.Constant) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

const RecordLayout* DetectLayout(const std::string& path, const std::string& bytes, std::string* reason) {
  const std::string base = BaseName(path);
  for (size_t i = 0; i < LayoutCount; ++i) {
    const std::string function = AllLayouts[i].Function;
    if (base.size() >= function.size() && strncasecmp(base.c_str(), function.c_str(), function.size()) == 0)
      return &AllLayouts[i];
  }
  if (bytes.empty()) {
    *reason = "Die Datei ist leer; ihre Funktion ist weder am Namen noch am Inhalt zu erkennen";
    return nullptr;
  }
  std::vector<const RecordLayout*> bySize;
  for (size_t i = 0; i < LayoutCount; ++i) {
    const RecordLayout& layout = AllLayouts[i];
    if (layout.Form == RecordForm::FixedWidth ? bytes.size() % layout.RecordLength == 0
                                              : SplitDownload(bytes, layout).Whole)
      bySize.push_back(&layout);
  }
  if (bySize.size() == 1) return bySize[0];
  if (bySize.empty()) {
    *reason = "Die Dateigroesse " + std::to_string(bytes.size()) +
              " Bytes passt zu keiner Satzlaenge, und die Datei besteht nicht aus IDSTAMM-Zeilen";
    return nullptr;
  }
  std::vector<const RecordLayout*> plausible;
  std::string names;
  for (const RecordLayout* layout : bySize) {
    names += (names.empty() ? "" : ", ") + std::string(layout->Function);
    DownloadContent content = SplitDownload(bytes, *layout);
    bool right = true;
    for (const DownloadRecord& record : content.Records) right = right && RecordLooksRight(*layout, record);
    if (right) plausible.push_back(layout);
  }
  if (plausible.size() == 1) return plausible[0];
  *reason = "Die Dateigroesse " + std::to_string(bytes.size()) + " Bytes passt zu mehreren Funktionen (" + names + ")";
  return nullptr;
}

std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string WithoutTrailingBlanks(const std::string& text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::map<std::string, std::vector<size_t>> RecordsByBadge(const DownloadContent& content) {
  std::map<std::string, std::vector<size_t>> badges;
  const size_t key = content.Layout->KeyField;
  for (size_t i = 0; i < content.Records.size(); ++i)
    badges[WithoutTrailingBlanks(content.Records[i].Values[key])].push_back(i);
  return badges;
}

const RecordLayout* LayoutOfOption(const char* function) {
  const RecordLayout* layout = LayoutByFunction(function);
  if (layout == nullptr)
    std::fprintf(stderr, "Unbekannte Funktion %s (bekannt: MGDNL17P, MGDNL18P, MGDNL31P, MGDNL60P, IDSTAMM)\n",
                 function);
  return layout;
}
