// Writing and listing the configuration file. Records are found the way
// the reader pairs lines, so that the record replaced here is the one that
// a lookup by key reads.
#include "config/config_writer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/ending_signals.h"
#include "common/visible_text.h"
#include "common/whole_file.h"
#include "config/config_file.h"

namespace {

// The reason of a failure into *error, formatted as printf does and cut to
// 511 bytes.
void SetError(std::string* error, const char* format, ...) __attribute__((format(printf, 2, 3)));
void SetError(std::string* error, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  *error = text;
}

// Where the matching record's value lies in the raw file bytes.
struct ScanResult {
  int Records = 0;
  bool Found = false;
  size_t LineStart = 0;  // the found record's second line
  size_t ValueStart = 0;
  bool Unpaired = false;
};

// Walks the records as the reader does, from the start of file.
void ScanRecords(FILE* file, const char* key, ScanResult* result) {
  char firstLine[ConfigFirstLineChars + 1];
  char secondLine[ConfigSecondLineChars + 1];
  size_t offset = 0;
  for (;;) {
    size_t firstBytes = 0;
    size_t secondBytes = 0;
    if (!ReadConfigLine(file, firstLine, ConfigFirstLineChars, &firstBytes)) return;
    if (!ReadConfigLine(file, secondLine, ConfigSecondLineChars, &secondBytes)) {
      result->Unpaired = true;
      return;
    }
    ConfigRecord record;
    ExtractConfigRecord(firstLine, secondLine, &record);
    ++result->Records;
    if (!result->Found && std::strcmp(record.Key, key) == 0) {
      // The key holds no ";", so both separators are real and lie before
      // any carriage return: positions in the line are file offsets.
      result->Found = true;
      result->LineStart = offset + firstBytes;
      result->ValueStart = offset + firstBytes + FindNthChar(secondLine, ';', 2) + 1;
    }
    offset += firstBytes + secondBytes;
  }
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True when line (without its line end) is a first line of a record as this
// program and the installation write them: "<n>;<group>;" and more fields.
bool IsGroupLine(const std::string& line) {
  return line.size() < static_cast<size_t>(ConfigFirstLineChars) && std::count(line.begin(), line.end(), ';') >= 2;
}

// True for "<id>;<key>;<hexadecimal value>": a number, a key without ";",
// and nothing but hexadecimal digits after the second ";".
bool IsValueLine(const std::string& line) {
  if (line.size() >= static_cast<size_t>(ConfigSecondLineChars)) return false;
  size_t p = 0;
  while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
  if (p < line.size() && (line[p] == '+' || line[p] == '-')) ++p;
  const size_t digits = p;
  while (p < line.size() && line[p] >= '0' && line[p] <= '9') ++p;
  if (p == digits || p >= line.size() || line[p] != ';') return false;
  const size_t keyEnd = line.find(';', p + 1);
  if (keyEnd == std::string::npos) return false;
  return line.find_first_not_of("0123456789ABCDEFabcdef", keyEnd + 1) == std::string::npos;
}

// Whether content is a configuration file of this format: text lines that
// pair into group lines and id/key/value lines. A last line without a
// partner is left to the caller, which names it. On false, *line is the
// 1-based number of the first line that does not fit.
bool IsConfigContent(const std::string& content, size_t* line) {
  size_t number = 0;
  size_t at = 0;
  while (at < content.size()) {
    size_t end = content.find('\n', at);
    const bool last = end == std::string::npos;
    if (last) end = content.size();
    std::string text = content.substr(at, end - at);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    ++number;
    *line = number;
    for (unsigned char c : text)
      if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
    if (number % 2 == 1 ? !IsGroupLine(text) : !IsValueLine(text)) {
      // An unpaired last line: the caller's message is the clearer one.
      if (number % 2 == 1 && (last || end + 1 == content.size())) return true;
      return false;
    }
    at = end + 1;
  }
  return true;
}

// The lock beside the configuration file (its name with ".lock"): created
// exclusively, so that one set at a time reads, changes and replaces the
// file. SIGINT, SIGTERM and SIGHUP wait while it is held, so that no lock
// is left behind by them.
class ConfigLock {
 public:
  ~ConfigLock() { Release(); }

  bool Acquire(const std::string& target, std::string* error) {
    path_ = target + ".lock";
    BlockEndingSignals(&saved_);
    blocked_ = true;
    for (int waited = 0;; ++waited) {
      const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0) {
        char pid[32];
        const int n = std::snprintf(pid, sizeof pid, "%ld\n", static_cast<long>(getpid()));
        if (write(fd, pid, static_cast<size_t>(n)) < 0) {
          // The lock holds without its note.
        }
        close(fd);
        held_ = true;
        return true;
      }
      if (errno == ENOENT || errno == ENOTDIR) {
        SetError(error, "Verzeichnis der Datei %s existiert nicht", target.c_str());
        break;
      }
      if (errno != EEXIST) {
        SetError(error, "Datei %s kann nicht geschrieben werden: Sperrdatei %s nicht anlegbar: %s", target.c_str(),
                 path_.c_str(), std::strerror(errno));
        break;
      }
      if (waited >= WaitSteps) {
        SetError(error,
                 "Datei %s wird von einem anderen Aufruf geaendert: die Sperrdatei %s besteht seit %d Sekunden; "
                 "laeuft kein gentrmx-config mehr, bitte die Sperrdatei loeschen",
                 target.c_str(), path_.c_str(), WaitSteps * StepMilliseconds / 1000);
        break;
      }
      const struct timespec step = {0, StepMilliseconds * 1000000L};
      nanosleep(&step, nullptr);
    }
    Release();
    return false;
  }

  void Release() {
    if (held_) unlink(path_.c_str());
    held_ = false;
    if (blocked_) RestoreSignalMask(saved_);
    blocked_ = false;
  }

 private:
  static constexpr int StepMilliseconds = 20;
  static constexpr int WaitSteps = 1000;  // 20 seconds
  std::string path_;
  sigset_t saved_;
  bool held_ = false;
  bool blocked_ = false;
};

// Writes content to a hidden new file beside target and renames it over
// target, so that the file is always either the old or the new one. The new
// file takes the old one's permission bits and, for root, its owner; a
// file that did not exist is created readable by its owner only.
int ReplaceFile(const std::string& target, const std::string& content, const struct stat* old, std::string* error) {
  const std::string folder = FolderOf(target);
  std::string temporary = folder + "/." + BaseNameOf(target) + ".XXXXXX";
  const int fd = mkstemp(&temporary[0]);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      SetError(error, "Verzeichnis der Datei %s existiert nicht", target.c_str());
    } else {
      SetError(error, "Datei %s kann nicht geschrieben werden: %s", target.c_str(), std::strerror(errno));
    }
    return -1;
  }
  bool written = true;
  int savedErrno = 0;
  if (old != nullptr) {
    if (geteuid() == 0 && fchown(fd, old->st_uid, old->st_gid) != 0) {
      written = false;
      savedErrno = errno;
    }
    if (written && fchmod(fd, old->st_mode & 07777) != 0) {
      written = false;
      savedErrno = errno;
    }
  } else if (fchmod(fd, 0600) != 0) {
    written = false;
    savedErrno = errno;
  }
  size_t done = 0;
  while (written && done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      written = false;
      savedErrno = errno;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (written && fsync(fd) != 0) {
    written = false;
    savedErrno = errno;
  }
  if (close(fd) != 0 && written) {
    written = false;
    savedErrno = errno;
  }
  if (!written) {
    SetError(error, "Datei %s kann nicht geschrieben werden: %s", target.c_str(), std::strerror(savedErrno));
    unlink(temporary.c_str());
    return -1;
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) {
    SetError(error, "Datei %s kann nicht ersetzt werden: %s", target.c_str(), std::strerror(errno));
    unlink(temporary.c_str());
    return -1;
  }
  // The rename itself lasts once the folder is on disk.
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return 0;
}

// The file set writes for path: path itself, or for a symbolic link the
// file it points to, which must exist. False with the reason in *error.
bool ResolveTarget(const char* path, std::string* target, std::string* error) {
  struct stat link;
  if (lstat(path, &link) != 0 || !S_ISLNK(link.st_mode)) {
    *target = path;
    return true;
  }
  char resolved[PATH_MAX];
  if (realpath(path, resolved) == nullptr) {
    SetError(error,
             "Datei %s ist ein Verweis auf eine Datei, die nicht besteht (%s); set schreibt hinter einem Verweis "
             "nur in eine bestehende Konfigurationsdatei",
             path, std::strerror(errno));
    return false;
  }
  *target = resolved;
  return true;
}

// A key or value of the listing: control characters as \xNN, every other
// byte as it stands in the file.
void PrintVisible(const char* text, FILE* out) {
  PrintVisibleText(text, std::strlen(text), out, VisibleForm::Bytes);
}

}  // namespace

int SetConfigValue(const char* path, const char* key, const char* plainValue, std::string* error) {
  std::string unused;
  if (error == nullptr) error = &unused;
  error->clear();
  const size_t keyLength = std::strlen(key);
  if (keyLength == 0) {
    SetError(error, "Der Schluessel ist leer");
    return -1;
  }
  if (keyLength > static_cast<size_t>(ConfigMaxKey)) {
    SetError(error, "Der Schluessel ist laenger als %d Zeichen", ConfigMaxKey);
    return -1;
  }
  if (std::strpbrk(key, ";\r\n") != nullptr) {
    SetError(error, "Der Schluessel darf weder \";\" noch einen Zeilenumbruch enthalten");
    return -1;
  }
  for (const char* c = key; *c != '\0'; ++c) {
    if ((static_cast<unsigned char>(*c) < 0x20 && *c != '\t') || *c == 0x7F) {
      SetError(error, "Der Schluessel darf keine Steuerzeichen enthalten");
      return -1;
    }
  }
  if (std::strlen(plainValue) > static_cast<size_t>(ConfigMaxPlainValue)) {
    SetError(error, "Der Wert ist laenger als %d Zeichen", ConfigMaxPlainValue);
    return -1;
  }

  // Replace the file a link points to, not the link.
  std::string target;
  if (!ResolveTarget(path, &target, error)) return -1;

  ConfigLock lock;
  if (!lock.Acquire(target, error)) return -1;

  std::string content;
  ScanResult scan;
  struct stat old;
  bool existed = false;
  const int fd = open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    existed = true;
    if (fstat(fd, &old) != 0 || !S_ISREG(old.st_mode)) {
      close(fd);
      SetError(error, "%s ist keine gewoehnliche Datei; set schreibt nur in Konfigurationsdateien", path);
      return -1;
    }
    if ((old.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0) {
      close(fd);
      SetError(error, "Datei %s ist schreibgeschuetzt (Modus %04o) und bleibt unveraendert", path,
               static_cast<unsigned>(old.st_mode & 07777));
      return -1;
    }
    FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
      close(fd);
      SetError(error, "Datei %s kann nicht gelesen werden: %s", path, std::strerror(errno));
      return -1;
    }
    const bool read = ReadWholeFile(file, &content);
    if (read) {
      std::rewind(file);
      ScanRecords(file, key, &scan);
    }
    const bool failed = !read || std::ferror(file);
    std::fclose(file);
    if (failed) {
      SetError(error, "Datei %s kann nicht gelesen werden", path);
      return -1;
    }
    size_t line = 0;
    if (!IsConfigContent(content, &line)) {
      SetError(error, "Datei %s ist keine Konfigurationsdatei in diesem Format (Zeile %zu passt nicht zu "
               "\"<Nr>;<Gruppe>;\" und \"<Nr>;<Schluessel>;<Hexwert>\"); sie bleibt unveraendert",
               path, line);
      return -1;
    }
  } else if (errno == ELOOP) {
    SetError(error, "Datei %s ist ein Verweis, der sich nicht aufloesen laesst", path);
    return -1;
  } else if (errno != ENOENT) {
    SetError(error, "Datei %s kann nicht geoeffnet werden: %s", path, std::strerror(errno));
    return -1;
  }

  // New lines follow the line end of the file's first line.
  const size_t firstLineFeed = content.find('\n');
  const bool crLf = firstLineFeed != std::string::npos && firstLineFeed > 0 &&
                    content[firstLineFeed - 1] == '\r';
  const char* lineEnd = crLf ? "\r\n" : "\n";

  // At most 12 blocks of 16 characters.
  char hex[16 * ((ConfigMaxPlainValue + 7) / 8) + 1];
  EncryptConfigValue(plainValue, hex, ConfigCipherKey);

  std::string updated;
  if (scan.Found) {
    // The reader splits a longer second line, and the new value would then
    // read back cut and shift the pairing of every later line.
    if (scan.ValueStart - scan.LineStart + std::strlen(hex) + 1 >
        static_cast<size_t>(ConfigSecondLineChars)) {
      SetError(error, "Der Eintrag %s in Datei %s wuerde laenger als %d Zeichen; bitte die Datei pruefen",
               key, path, ConfigSecondLineChars - 1);
      return -1;
    }
    // Replace the value up to the end of its line; the line end stays.
    const size_t lineFeed = content.find('\n', scan.ValueStart);
    if (lineFeed == std::string::npos) {
      updated = content.substr(0, scan.ValueStart) + hex + lineEnd;
    } else {
      size_t valueEnd = lineFeed;
      if (valueEnd > scan.ValueStart && content[valueEnd - 1] == '\r') --valueEnd;
      updated = content.substr(0, scan.ValueStart) + hex + content.substr(valueEnd);
    }
  } else {
    if (scan.Unpaired) {
      // A record appended now would pair with the unpaired line and could
      // be taken for any key.
      SetError(error, "Datei %s endet mit einem unvollstaendigen Eintrag (ungerade Zeilenzahl); "
               "bitte die Datei pruefen",
               path);
      return -1;
    }
    updated = content;
    if (!updated.empty() && updated.back() != '\n') updated += lineEnd;
    const std::string number = std::to_string(scan.Records + 1);
    updated += number + ";GENTRMX;" + lineEnd;
    updated += number + ";" + key + ";" + hex + lineEnd;
  }

  return ReplaceFile(target, updated, existed ? &old : nullptr, error);
}

int ListConfigValues(const char* path, FILE* out, std::string* error) {
  std::string unused;
  if (error == nullptr) error = &unused;
  error->clear();
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    if (errno == ENOENT) {
      SetError(error, "Datei %s existiert nicht", path);
    } else {
      SetError(error, "Datei %s kann nicht geoeffnet werden: %s", path, std::strerror(errno));
    }
    return -1;
  }
  char firstLine[ConfigFirstLineChars + 1];
  char secondLine[ConfigSecondLineChars + 1];
  int records = 0;
  while (ReadConfigLine(file, firstLine, ConfigFirstLineChars) &&
         ReadConfigLine(file, secondLine, ConfigSecondLineChars)) {
    ConfigRecord record;
    ExtractConfigRecord(firstLine, secondLine, &record);
    char plain[8 * ((sizeof record.Value + 15) / 16) + 1];
    DecryptConfigValue(record.Value, plain, ConfigCipherKey);
    PrintVisible(record.Key, out);
    std::fputc('=', out);
    if (std::strcmp(record.Key, "PASS") == 0 && plain[0] != '\0') {
      std::fputs("***", out);
    } else {
      PrintVisible(plain, out);
    }
    ClearSecret(plain, sizeof plain);
    std::fputc('\n', out);
    ++records;
  }
  const bool failed = std::ferror(file);
  std::fclose(file);
  if (failed) {
    SetError(error, "Datei %s kann nicht gelesen werden", path);
    return -1;
  }
  return records;
}
