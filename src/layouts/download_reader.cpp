// Reading a download file back: see download_reader.h.
#include "layouts/download_reader.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

DownloadFileReader::~DownloadFileReader() {
  if (File_ != nullptr) std::fclose(File_);
}

bool DownloadFileReader::Open(const std::string& path, std::string* error) {
  Path_ = path;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = "Datei " + path + " kann nicht gelesen werden: " + std::strerror(errno);
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    *error = "Datei " + path + " kann nicht gelesen werden: " + std::strerror(errno);
    close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = S_ISDIR(info.st_mode) ? "Datei " + path + " ist ein Verzeichnis"
                                   : "Datei " + path + " ist keine gewoehnliche Datei (Geraet, FIFO oder Socket)";
    close(fd);
    return false;
  }
  File_ = fdopen(fd, "rb");
  if (File_ == nullptr) {
    *error = "Datei " + path + " kann nicht gelesen werden: " + std::strerror(errno);
    close(fd);
    return false;
  }
  Size_ = static_cast<uint64_t>(info.st_size);
  return true;
}

bool DownloadFileReader::Fail(const char* what) {
  Error = "Datei " + Path_ + " kann nicht gelesen werden" + (what != nullptr ? std::string(": ") + what : "");
  return false;
}

bool DownloadFileReader::ReadHead(std::string* head, std::string* error) {
  std::rewind(File_);
  head->resize(HeadBytes);
  const size_t n = std::fread(&(*head)[0], 1, HeadBytes, File_);
  head->resize(n);
  if (std::ferror(File_)) {
    Fail(std::strerror(errno));
    *error = Error;
    return false;
  }
  return true;
}

bool DownloadFileReader::Start(const RecordLayout& layout, std::string* error) {
  Layout_ = &layout;
  Offset_ = 0;
  std::clearerr(File_);
  if (std::fseek(File_, 0, SEEK_SET) != 0) {
    Fail(std::strerror(errno));
    *error = Error;
    return false;
  }
  return true;
}

DownloadFileReader::Step DownloadFileReader::Next(DownloadRecord* record, std::string* raw) {
  const RecordLayout& layout = *Layout_;
  if (layout.Form == RecordForm::FixedWidth) {
    const size_t length = layout.RecordLength;
    Line_.resize(length);
    const size_t n = std::fread(&Line_[0], 1, length, File_);
    if (std::ferror(File_)) {
      Fail(std::strerror(errno));
      return Step::ReadError;
    }
    if (n == 0) return Step::End;
    if (n < length) {
      DamageOffset = Offset_;
      Damage = "letzter Satz unvollstaendig: " + std::to_string(n) + " von " + std::to_string(length) + " Zeichen";
      return Step::Damage;
    }
    record->Offset = Offset_;
    record->Values.resize(layout.FieldCount);
    for (size_t f = 0; f < layout.FieldCount; ++f)
      record->Values[f].assign(Line_, layout.Fields[f].Position - 1, layout.Fields[f].Width);
    Offset_ += length;
    if (raw != nullptr) *raw = Line_;
    return Step::Record;
  }
  // One line up to its CR LF.
  Line_.clear();
  int c;
  while ((c = getc_unlocked(File_)) != EOF) {
    Line_ += static_cast<char>(c);
    if (c == '\n' && Line_.size() >= 2 && Line_[Line_.size() - 2] == '\r') break;
    if (Line_.size() > MaxQuotedLineBytes) break;
  }
  if (std::ferror(File_)) {
    Fail(std::strerror(errno));
    return Step::ReadError;
  }
  if (Line_.empty()) return Step::End;
  DamageOffset = Offset_;
  if (Line_.size() > MaxQuotedLineBytes) {
    Damage = "Zeile laenger als " + std::to_string(MaxQuotedLineBytes) + " Zeichen";
    return Step::Damage;
  }
  size_t next = 0, faultAt = 0;
  std::string fault;
  if (!SplitLine(Line_, 0, layout.FieldCount, record, &next, &faultAt, &fault)) {
    Damage = "Zeile laesst sich nicht in " + std::to_string(layout.FieldCount) +
             " Felder in Anfuehrungszeichen zerlegen: " + fault + " (Offset " + std::to_string(Offset_ + faultAt) +
             ")";
    return Step::Damage;
  }
  record->Offset = Offset_;
  Offset_ += Line_.size();
  if (raw != nullptr) *raw = Line_;
  return Step::Record;
}

std::string RecordFault(const RecordLayout& layout, const DownloadRecord& record) {
  for (size_t f = 0; f < layout.FieldCount; ++f) {
    const FieldLayout& field = layout.Fields[f];
    const std::string& value = record.Values[f];
    const char* wrong = nullptr;
    switch (field.Kind) {
      case FieldKind::Flag:
        if (value != "0" && value != "1") wrong = "nicht 0 oder 1";
        break;
      case FieldKind::Date:
        if (!AllDigits(value) || (value.size() != 8 && !(value.empty() && field.Width == 0)))
          wrong = field.Width == 0 ? "weder 8 Ziffern noch leer" : "nicht 8 Ziffern";
        break;
      case FieldKind::Reader:
        if (value != std::string(value.size(), ' ') && !AllDigits(value)) wrong = "weder Ziffern noch leer";
        break;
      case FieldKind::Filler:
        if (value != std::string(value.size(), ' ')) wrong = "nicht leer";
        break;
      case FieldKind::Constant:
        if (value != field.Constant) wrong = field.Constant;
        break;
      default:
        break;
    }
    if (wrong != nullptr) {
      std::string text = std::string("Feld ") + field.Name + " (" + FieldPositionText(field) + ") \"" +
                         VisibleText(value, VisibleForm::Utf8) + "\": ";
      text += field.Kind == FieldKind::Constant ? std::string("nicht \"") + wrong + "\"" : wrong;
      return text;
    }
  }
  return std::string();
}

namespace {

bool LooksLikeShortDate(const std::string& text) {
  static const char pattern[] = "dd.dd.dd";
  if (text.size() != 8) return false;
  for (size_t i = 0; i < 8; ++i) {
    if (pattern[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != pattern[i]) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> ShownValues(const RecordLayout& layout, const DownloadRecord& record) {
  std::vector<std::string> values = record.Values;
  if (layout.Fields != Mgdnl18pFields) return values;
  for (int group = 1; group <= Mgdnl18p::GroupCount; ++group) {
    std::string& text = values[Mgdnl18p::TextField(group)];
    std::string& value = values[Mgdnl18p::ValueField(group)];
    if (text.empty()) continue;
    const std::string date = text.substr(text.size() - 1) + value;
    if (!LooksLikeShortDate(date)) continue;
    text.pop_back();
    value = date;
    break;  // only the first date group has the whole date
  }
  return values;
}

const RecordLayout* DetectLayout(const std::string& path, const std::string& head, uint64_t size,
                                 std::string* reason) {
  const std::string base = BaseName(path);
  for (size_t i = 0; i < LayoutCount; ++i) {
    const std::string function = AllLayouts[i].Function;
    if (base.size() >= function.size() && strncasecmp(base.c_str(), function.c_str(), function.size()) == 0)
      return &AllLayouts[i];
  }
  if (size == 0) {
    *reason = "Die Datei ist leer; ihre Funktion ist weder am Namen noch am Inhalt zu erkennen";
    return nullptr;
  }
  // Only whole lines of the head count when the file goes on after it.
  std::string lines = head;
  if (size > head.size()) {
    const size_t end = lines.rfind("\r\n");
    lines.erase(end == std::string::npos ? 0 : end + 2);
  }
  std::vector<const RecordLayout*> bySize;
  for (size_t i = 0; i < LayoutCount; ++i) {
    const RecordLayout& layout = AllLayouts[i];
    if (layout.Form == RecordForm::FixedWidth ? size % layout.RecordLength == 0
                                              : !lines.empty() && SplitDownload(lines, layout).Whole)
      bySize.push_back(&layout);
  }
  if (bySize.size() == 1) return bySize[0];
  const std::string sizeText = std::to_string(size);
  if (bySize.empty()) {
    *reason = "Die Dateigroesse " + sizeText +
              " Bytes passt zu keiner Satzlaenge, und die Datei besteht nicht aus IDSTAMM-Zeilen";
    return nullptr;
  }
  std::vector<const RecordLayout*> plausible;
  std::string names;
  for (const RecordLayout* layout : bySize) {
    names += (names.empty() ? "" : ", ") + std::string(layout->Function);
    std::string records = lines;
    if (layout->Form == RecordForm::FixedWidth) {
      records = head;
      records.erase(records.size() - records.size() % layout->RecordLength);
    }
    DownloadContent content = SplitDownload(records, *layout);
    bool right = true;
    for (const DownloadRecord& record : content.Records) right = right && RecordLooksRight(*layout, record);
    if (right) plausible.push_back(layout);
  }
  if (plausible.size() == 1) return plausible[0];
  *reason = "Die Dateigroesse " + sizeText + " Bytes passt zu mehreren Funktionen (" + names + ")";
  return nullptr;
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
