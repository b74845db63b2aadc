// The jobs of gentrmx-batch: see batch_jobs.h.
#include "batch_jobs.h"

#include <algorithm>

#include "layouts/record_layouts.h"

std::string KnownFunction(const std::string& name) {
  const RecordLayout* layout = LayoutByFunction(name.c_str());
  return layout != nullptr ? layout->Function : "";
}

std::string FunctionNames() {
  std::string names;
  for (size_t i = 0; i < LayoutCount; ++i) names += (i ? ", " : "") + std::string(AllLayouts[i].Function);
  return names;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits a line into fields; false with the reason when a quote is not
// closed or a closing quote is not followed by a blank.
bool SplitFields(const std::string& line, std::vector<std::string>* fields, std::string* reason) {
  size_t at = 0;
  for (;;) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at == line.size()) return true;
    std::string field;
    if (line[at] == '"') {
      const size_t opened = at++;
      for (;;) {
        if (at == line.size()) {
          *reason = "Anfuehrungszeichen an Stelle " + std::to_string(opened + 1) + " nicht geschlossen";
          return false;
        }
        if (line[at] == '"') {
          if (at + 1 < line.size() && line[at + 1] == '"') {
            field += '"';
            at += 2;
            continue;
          }
          ++at;
          break;
        }
        field += line[at++];
      }
      if (at < line.size() && !IsBlank(line[at])) {
        *reason = "nach dem schliessenden Anfuehrungszeichen an Stelle " + std::to_string(at) + " fehlt ein Leerzeichen";
        return false;
      }
    } else {
      while (at < line.size() && !IsBlank(line[at])) field += line[at++];
    }
    fields->push_back(field);
  }
}

}  // namespace

bool ParseListLine(const std::string& text, BatchJob* job, bool* skip, std::string* reason) {
  std::string line = text;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t first = line.find_first_not_of(" \t");
  *skip = first == std::string::npos || line[first] == '#';
  if (*skip) return true;
  if (line.find('\0') != std::string::npos) {
    *reason = "enthaelt ein Nullbyte";
    return false;
  }
  std::vector<std::string> fields;
  if (!SplitFields(line, &fields, reason)) return false;
  if (fields.size() < 3 || fields.size() > 4) {
    *reason = std::to_string(fields.size()) + (fields.size() == 1 ? " Feld" : " Felder") +
              ", erwartet: FUNKTION TERMINAL PFAD [MODUS]";
    return false;
  }
  job->Function = KnownFunction(fields[0]);
  if (job->Function.empty()) {
    *reason = "unbekannte Funktion \"" + fields[0] + "\" (bekannt: " + FunctionNames() + ")";
    return false;
  }
  job->Terminal = fields[1];
  if (job->Terminal.empty()) {
    *reason = "Terminalname leer";
    return false;
  }
  if (job->Terminal.size() > TerminalNameLimit) {
    *reason = "Terminalname laenger als " + std::to_string(TerminalNameLimit) + " Zeichen";
    return false;
  }
  job->Path = fields[2];
  if (job->Path.empty()) {
    *reason = "Pfad leer";
    return false;
  }
  if (job->Path.size() > PathLimit) {
    *reason = "Pfad laenger als " + std::to_string(PathLimit) + " Zeichen";
    return false;
  }
  job->Mode = '1';
  if (fields.size() == 4) {
    if (fields[3] != "1" && fields[3] != "0") {
      *reason = "Modus \"" + fields[3] + "\": erwartet 1 (neue Datei) oder 0 (anhaengen)";
      return false;
    }
    job->Mode = fields[3][0];
  }
  return true;
}

std::string FileNameProblem(const std::string& terminal) {
  if (terminal.empty()) return "leerer Name";
  if (terminal == "." || terminal == "..") return "\"" + terminal + "\" ist kein Dateiname";
  if (terminal.find('/') != std::string::npos) return "enthaelt \"/\"";
  for (unsigned char c : terminal)
    if (c < 0x20 || c == 0x7F) return "enthaelt ein Steuerzeichen";
  return "";
}

std::string ExpandPattern(const std::string& pattern, const std::string& terminal, const std::string& function) {
  static constexpr char TerminalKey[] = "{terminal}", FunctionKey[] = "{function}";
  constexpr size_t TerminalKeyLength = sizeof TerminalKey - 1, FunctionKeyLength = sizeof FunctionKey - 1;
  std::string path;
  for (size_t at = 0; at < pattern.size();) {
    if (pattern.compare(at, TerminalKeyLength, TerminalKey) == 0) {
      path += terminal;
      at += TerminalKeyLength;
    } else if (pattern.compare(at, FunctionKeyLength, FunctionKey) == 0) {
      path += function;
      at += FunctionKeyLength;
    } else {
      path += pattern[at++];
    }
  }
  return path;
}

std::vector<std::string> SplitCommaList(const std::string& text) {
  std::vector<std::string> items;
  size_t at = 0;
  for (;;) {
    const size_t comma = text.find(',', at);
    std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    if (!item.empty() && std::find(items.begin(), items.end(), item) == items.end()) items.push_back(item);
    if (comma == std::string::npos) return items;
    at = comma + 1;
  }
}
