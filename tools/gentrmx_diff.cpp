// gentrmx-diff: what changed between two download files of one function,
// badge by badge.
//
//   gentrmx-diff OLD NEW [--function NAME]
//   gentrmx-diff --version
//
// Lists the badges that were added or removed and, for a badge in both,
// each field whose value changed. A badge's records are taken as a set:
// the access class fields (one record per class) are compared as the set
// of classes on each reader group, "gained" or "lost"; every other field
// by its values. A summary line closes the output. Exit status as diff's:
// 0 no difference, 1 differences, 2 trouble (wrong call, unreadable or
// damaged file, files of different functions).
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "layouts/download_reader.h"

namespace {

const char Usage[] = "Aufruf: gentrmx-diff ALT NEU [--function NAME]\n";

struct Counts {
  int Added = 0, Removed = 0, Changed = 0, Same = 0;
};

std::string Quoted(const std::string& latin1) { return "\"" + Latin1ToUtf8(latin1) + "\""; }

std::string RecordCount(size_t n) { return std::to_string(n) + (n == 1 ? " Satz" : " Saetze"); }

// The distinct values of field f over the records, in file order, joined
// with " / " (one value for nearly every field).
std::string FieldValues(const DownloadContent& content, const std::vector<size_t>& records, size_t f) {
  std::vector<std::string> seen;
  for (size_t r : records) {
    const std::string& value = content.Records[r].Values[f];
    bool known = false;
    for (const std::string& s : seen) known = known || s == value;
    if (!known) seen.push_back(value);
  }
  std::string out;
  for (const std::string& s : seen) out += (out.empty() ? "" : " / ") + Quoted(s);
  return out;
}

// The non-blank classes that field f holds over the records.
std::set<std::string> ClassSet(const DownloadContent& content, const std::vector<size_t>& records, size_t f) {
  std::set<std::string> classes;
  for (size_t r : records) {
    std::string value = WithoutTrailingBlanks(content.Records[r].Values[f]);
    if (!value.empty()) classes.insert(value);
  }
  return classes;
}

std::multiset<std::vector<std::string>> RecordSet(const DownloadContent& content, const std::vector<size_t>& records) {
  std::multiset<std::vector<std::string>> all;
  for (size_t r : records) all.insert(content.Records[r].Values);
  return all;
}

// The differences of one badge in both files, one line each.
std::vector<std::string> CompareBadge(const RecordLayout& layout, const DownloadContent& before,
                                      const std::vector<size_t>& old, const DownloadContent& after,
                                      const std::vector<size_t>& now) {
  std::vector<std::string> lines;
  if (RecordSet(before, old) == RecordSet(after, now)) return lines;
  for (size_t f = 0; f < layout.FieldCount; ++f) {
    const FieldLayout& field = layout.Fields[f];
    if (f == layout.KeyField) continue;
    if (field.Kind == FieldKind::AccessClass) {
      std::set<std::string> was = ClassSet(before, old, f), is = ClassSet(after, now, f);
      const std::string where = field.Group != 0 ? "Lesergruppe " + std::to_string(field.Group) + ": " : "";
      for (const std::string& c : is)
        if (!was.count(c)) lines.push_back(where + "Klasse " + Quoted(c) + " hinzugekommen");
      for (const std::string& c : was)
        if (!is.count(c)) lines.push_back(where + "Klasse " + Quoted(c) + " entfallen");
      continue;
    }
    std::string was = FieldValues(before, old, f), is = FieldValues(after, now, f);
    if (was != is) lines.push_back(std::string(field.Meaning) + " (" + field.Name + "): " + was + " -> " + is);
  }
  // Same fields, same classes: the badge only comes with more or fewer of
  // the same records.
  if (lines.empty()) lines.push_back("Saetze: " + std::to_string(old.size()) + " -> " + std::to_string(now.size()));
  return lines;
}

bool Load(const std::string& path, std::string* bytes) {
  std::string error;
  if (ReadWholeFile(path, bytes, &error)) return true;
  std::fprintf(stderr, "%s\n", error.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> paths;
  const char* function = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("gentrmx-diff %s\n", GENTRMX_VERSION);
      return 0;
    } else if (std::strcmp(argv[i], "--function") == 0 && i + 1 < argc) {
      function = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "Unbekannte Option %s\n%s", argv[i], Usage);
      return 2;
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (paths.size() != 2) {
    std::fprintf(stderr, "%s", Usage);
    return 2;
  }

  std::string bytes[2];
  if (!Load(paths[0], &bytes[0]) || !Load(paths[1], &bytes[1])) return 2;

  const RecordLayout* layout = nullptr;
  if (function != nullptr) {
    layout = LayoutOfOption(function);
    if (layout == nullptr) return 2;
  } else {
    // A file whose function its own name and content leave open takes the
    // other file's.
    std::string reason[2];
    const RecordLayout* found[2] = {DetectLayout(paths[0], bytes[0], &reason[0]),
                                    DetectLayout(paths[1], bytes[1], &reason[1])};
    if (found[0] != nullptr && found[1] != nullptr && found[0] != found[1]) {
      std::fprintf(stderr, "Die Dateien gehoeren zu verschiedenen Funktionen: %s ist %s, %s ist %s\n",
                   paths[0].c_str(), found[0]->Function, paths[1].c_str(), found[1]->Function);
      return 2;
    }
    layout = found[0] != nullptr ? found[0] : found[1];
    if (layout == nullptr) {
      std::fprintf(stderr, "%s: %s. %s: %s. Bitte die Funktion mit --function NAME angeben.\n", paths[0].c_str(),
                   reason[0].c_str(), paths[1].c_str(), reason[1].c_str());
      return 2;
    }
  }

  DownloadContent content[2] = {SplitDownload(bytes[0], *layout), SplitDownload(bytes[1], *layout)};
  for (int i = 0; i < 2; ++i) {
    if (!content[i].Whole) {
      std::fprintf(stderr, "%s: Datei %s beschaedigt ab Offset %zu: %s\n", layout->Function, paths[i].c_str(),
                   content[i].DamageOffset, content[i].Damage.c_str());
      return 2;
    }
  }

  std::printf("Vergleich %s: %s -> %s\n", layout->Function, Latin1ToUtf8(paths[0]).c_str(),
              Latin1ToUtf8(paths[1]).c_str());
  const auto before = RecordsByBadge(content[0]);
  const auto after = RecordsByBadge(content[1]);
  std::set<std::string> badges;
  for (const auto& b : before) badges.insert(b.first);
  for (const auto& b : after) badges.insert(b.first);

  Counts counts;
  for (const std::string& badge : badges) {
    auto was = before.find(badge);
    auto is = after.find(badge);
    const std::string name = Latin1ToUtf8(badge);
    if (was == before.end()) {
      ++counts.Added;
      std::printf("+ Ausweis %s: neu (%s)\n", name.c_str(), RecordCount(is->second.size()).c_str());
    } else if (is == after.end()) {
      ++counts.Removed;
      std::printf("- Ausweis %s: entfernt (%s)\n", name.c_str(), RecordCount(was->second.size()).c_str());
    } else {
      std::vector<std::string> lines = CompareBadge(*layout, content[0], was->second, content[1], is->second);
      if (lines.empty()) {
        ++counts.Same;
        continue;
      }
      ++counts.Changed;
      std::printf("~ Ausweis %s: geaendert\n", name.c_str());
      for (const std::string& line : lines) std::printf("    %s\n", line.c_str());
    }
  }
  std::printf("Ausweise: %d neu, %d entfernt, %d geaendert, %d gleich\n", counts.Added, counts.Removed,
              counts.Changed, counts.Same);
  return counts.Added + counts.Removed + counts.Changed == 0 ? 0 : 1;
}
