// gentrmx-diff: what changed between two download files of one function,
// badge by badge.
//
//   gentrmx-diff OLD NEW [--function NAME]
//   gentrmx-diff --help | --version
//
// Lists the badges that were added or removed and, for a badge in both,
// each field whose value changed. Order counts, as the terminal reads the
// file in order: a badge whose records come in another order, or that
// stands elsewhere among the other badges, is changed too. The access
// class fields (one record per class) are compared as the set of classes
// on each reader group, "gained" or "lost"; every other field by its
// values. Added and changed badges come in the new file's order, removed
// ones after them in the old file's order; a summary line closes the
// output.
//
// Memory: the old file's records are kept, indexed by badge; the new file
// is read record by record. A file too large for that is a message and
// exit status 2, never an abort. Exit status as diff's: 0 no difference,
// 1 differences, 2 trouble (wrong call, unreadable or damaged file, a
// folder or a device, files of different functions, too little memory).
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/visible_text.h"
#include "layouts/download_reader.h"

namespace {

const char Usage[] =
    "Aufruf: gentrmx-diff ALT NEU [--function NAME]\n"
    "        gentrmx-diff --help | --version\n";

const char Help[] =
    "\n"
    "Vergleicht zwei Download-Dateien einer Funktion Ausweis fuer Ausweis: neue,\n"
    "entfernte und geaenderte Ausweise mit jedem geaenderten Feld; eine andere\n"
    "Reihenfolge der Saetze oder der Ausweise gilt als Aenderung.\n"
    "Ende mit 0: keine Unterschiede; 1: Unterschiede; 2: falscher Aufruf, Datei\n"
    "nicht lesbar oder beschaedigt (auch Verzeichnis, Geraet), verschiedene\n"
    "Funktionen, zu wenig Speicher.\n";

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
  if (RecordSet(before, old) == RecordSet(after, now)) {
    bool sameOrder = old.size() == now.size();
    for (size_t i = 0; sameOrder && i < old.size(); ++i)
      sameOrder = before.Records[old[i]].Values == after.Records[now[i]].Values;
    if (!sameOrder) lines.push_back("Reihenfolge der Saetze geaendert");
    return lines;
  }
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

// A badge of the old file: its records' bytes one after the other, and
// where it stands among the old file's badges.
struct OldBadge {
  std::string Bytes;
  size_t Records = 0;
  size_t Ordinal = 0;
  bool Seen = false;
};

std::vector<size_t> AllIndexes(size_t n) {
  std::vector<size_t> indexes(n);
  for (size_t i = 0; i < n; ++i) indexes[i] = i;
  return indexes;
}

// Reports a damaged file or a read error; true when the step is one.
bool Trouble(DownloadFileReader::Step step, const DownloadFileReader& reader, const RecordLayout& layout,
             const std::string& path) {
  if (step == DownloadFileReader::Step::ReadError) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", reader.Error.c_str());
    return true;
  }
  if (step == DownloadFileReader::Step::Damage) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: Datei %s beschaedigt ab Offset %zu: %s\n", layout.Function, path.c_str(),
                 reader.DamageOffset, reader.Damage.c_str());
    return true;
  }
  return false;
}

// The comparison; 0, 1 or 2 as the program's exit status.
int Compare(DownloadFileReader* readers, const std::string* paths, const RecordLayout& layout) {
  std::string error;
  // The old file, indexed by badge.
  std::unordered_map<std::string, OldBadge> before;
  std::vector<const std::string*> oldOrder;
  if (!readers[0].Start(layout, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  DownloadRecord record;
  std::string raw;
  for (;;) {
    const DownloadFileReader::Step step = readers[0].Next(&record, &raw);
    if (step == DownloadFileReader::Step::End) break;
    if (Trouble(step, readers[0], layout, paths[0])) return 2;
    auto entry = before.try_emplace(WithoutTrailingBlanks(record.Values[layout.KeyField]));
    OldBadge& badge = entry.first->second;
    if (entry.second) {
      badge.Ordinal = oldOrder.size();
      oldOrder.push_back(&entry.first->first);
    }
    badge.Bytes += raw;
    ++badge.Records;
  }

  std::printf("Vergleich %s: %s -> %s\n", layout.Function, Latin1ToUtf8(paths[0]).c_str(),
              Latin1ToUtf8(paths[1]).c_str());
  Counts counts;
  std::unordered_set<std::string> added;
  const std::string* previous = nullptr;  // the last badge of both files, in the new file's order
  size_t previousOrdinal = 0;

  // One badge's run of records in the new file, compared when it ends.
  std::string runBadge;
  DownloadContent run;
  run.Layout = &layout;
  auto finishRun = [&]() {
    if (run.Records.empty()) return;
    const std::string name = Latin1ToUtf8(runBadge);
    auto was = before.find(runBadge);
    std::vector<std::string> lines;
    if (was == before.end()) {
      if (added.insert(runBadge).second) {
        ++counts.Added;
        std::printf("+ Ausweis %s: neu (%s)\n", name.c_str(), RecordCount(run.Records.size()).c_str());
      } else {
        ++counts.Changed;
        std::printf("~ Ausweis %s: geaendert\n    weitere %s an anderer Stelle (ab Offset %zu)\n", name.c_str(),
                    RecordCount(run.Records.size()).c_str(), run.Records[0].Offset);
      }
      run.Records.clear();
      return;
    }
    OldBadge& old = was->second;
    if (old.Seen) {
      lines.push_back("weitere " + RecordCount(run.Records.size()) + " an anderer Stelle (ab Offset " +
                      std::to_string(run.Records[0].Offset) + ")");
    } else {
      old.Seen = true;
      const DownloadContent oldContent = SplitDownload(old.Bytes, layout);
      lines = CompareBadge(layout, oldContent, AllIndexes(oldContent.Records.size()), run,
                           AllIndexes(run.Records.size()));
      if (previous != nullptr && old.Ordinal < previousOrdinal)
        lines.push_back("Reihenfolge: steht in NEU nach Ausweis " + Quoted(*previous) + ", in ALT davor");
      previous = &was->first;
      previousOrdinal = old.Ordinal;
      // Its records are no longer needed.
      std::string().swap(old.Bytes);
    }
    run.Records.clear();
    if (lines.empty()) {
      ++counts.Same;
      return;
    }
    ++counts.Changed;
    std::printf("~ Ausweis %s: geaendert\n", name.c_str());
    for (const std::string& line : lines) std::printf("    %s\n", line.c_str());
  };

  if (!readers[1].Start(layout, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  for (;;) {
    const DownloadFileReader::Step step = readers[1].Next(&record);
    if (step == DownloadFileReader::Step::End) break;
    if (Trouble(step, readers[1], layout, paths[1])) return 2;
    std::string badge = WithoutTrailingBlanks(record.Values[layout.KeyField]);
    if (badge != runBadge) {
      finishRun();
      runBadge = std::move(badge);
    }
    run.Records.push_back(record);
  }
  finishRun();

  for (const std::string* key : oldOrder) {
    const OldBadge& badge = before.at(*key);
    if (badge.Seen) continue;
    ++counts.Removed;
    std::printf("- Ausweis %s: entfernt (%s)\n", Latin1ToUtf8(*key).c_str(), RecordCount(badge.Records).c_str());
  }
  std::printf("Ausweise: %d neu, %d entfernt, %d geaendert, %d gleich\n", counts.Added, counts.Removed,
              counts.Changed, counts.Same);
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "Ausgabe konnte nicht geschrieben werden\n");
    return 2;
  }
  return counts.Added + counts.Removed + counts.Changed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> paths;
  const char* function = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("gentrmx-diff %s\n", GENTRMX_VERSION);
      return 0;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("%s%s", Usage, Help);
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

  DownloadFileReader readers[2];
  std::string heads[2];
  for (int i = 0; i < 2; ++i) {
    std::string error;
    if (!readers[i].Open(paths[i], &error) || !readers[i].ReadHead(&heads[i], &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    }
  }

  const RecordLayout* layout = nullptr;
  if (function != nullptr) {
    layout = LayoutOfOption(function);
    if (layout == nullptr) return 2;
  } else {
    // A file whose function its own name and content leave open takes the
    // other file's.
    std::string reason[2];
    const RecordLayout* found[2] = {DetectLayout(paths[0], heads[0], readers[0].Size(), &reason[0]),
                                    DetectLayout(paths[1], heads[1], readers[1].Size(), &reason[1])};
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

  try {
    return Compare(readers, paths.data(), *layout);
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "Zu wenig Speicher fuer den Vergleich: die Saetze von %s (%llu Bytes) passen nicht in den "
                         "Speicher\n",
                 paths[0].c_str(), static_cast<unsigned long long>(readers[0].Size()));
    return 2;
  }
}
