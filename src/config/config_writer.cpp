// Writing and listing the configuration file. Records are found the way
// the reader pairs lines, so that the record replaced here is the one that
// a lookup by key reads.
#include "config/config_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/config_file.h"

char ConfigWriterError[512] = "";

namespace {

void SetError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(ConfigWriterError, sizeof ConfigWriterError, format, args);
  va_end(args);
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

bool ReadWholeFile(FILE* file, std::string* content) {
  char buffer[4096];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) content->append(buffer, count);
  return !std::ferror(file);
}

// Writes content to a new file beside target and moves it over target, so
// that a failed write leaves the old file as it was.
int ReplaceFile(const char* target, const std::string& content, bool existed, mode_t mode) {
  std::string temporary = std::string(target) + ".XXXXXX";
  const int fd = mkstemp(&temporary[0]);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      SetError("Verzeichnis der Datei %s existiert nicht", target);
    } else {
      SetError("Datei %s kann nicht geschrieben werden: %s", target, std::strerror(errno));
    }
    return -1;
  }
  if (existed) {
    fchmod(fd, mode & 07777);
  } else {
    // mkstemp creates with 0600; a new file gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    done += static_cast<size_t>(n);
  }
  const bool written = done == content.size() && fsync(fd) == 0;
  const int savedErrno = errno;
  if (close(fd) != 0 || !written) {
    SetError("Datei %s kann nicht geschrieben werden: %s", target,
             std::strerror(written ? errno : savedErrno));
    unlink(temporary.c_str());
    return -1;
  }
  if (std::rename(temporary.c_str(), target) != 0) {
    SetError("Datei %s kann nicht ersetzt werden: %s", target, std::strerror(errno));
    unlink(temporary.c_str());
    return -1;
  }
  return 0;
}

void PrintVisible(const char* text, FILE* out) { std::fputs(VisibleText(text).c_str(), out); }

}  // namespace

int SetConfigValue(const char* path, const char* key, const char* plainValue) {
  ConfigWriterError[0] = '\0';
  const size_t keyLength = std::strlen(key);
  if (keyLength == 0) {
    SetError("Der Schluessel ist leer");
    return -1;
  }
  if (keyLength > static_cast<size_t>(ConfigMaxKey)) {
    SetError("Der Schluessel ist laenger als %d Zeichen", ConfigMaxKey);
    return -1;
  }
  if (std::strpbrk(key, ";\r\n") != nullptr) {
    SetError("Der Schluessel darf weder \";\" noch einen Zeilenumbruch enthalten");
    return -1;
  }
  if (std::strlen(plainValue) > static_cast<size_t>(ConfigMaxPlainValue)) {
    SetError("Der Wert ist laenger als %d Zeichen", ConfigMaxPlainValue);
    return -1;
  }

  // Replace the file a link points to, not the link.
  std::string target = path;
  char resolved[PATH_MAX];
  if (realpath(path, resolved) != nullptr) target = resolved;

  std::string content;
  ScanResult scan;
  bool existed = false;
  mode_t mode = 0;
  FILE* file = std::fopen(target.c_str(), "rb");
  if (file != nullptr) {
    existed = true;
    struct stat info;
    if (fstat(fileno(file), &info) == 0) mode = info.st_mode;
    const bool read = ReadWholeFile(file, &content);
    if (read) {
      std::rewind(file);
      ScanRecords(file, key, &scan);
    }
    const bool failed = !read || std::ferror(file);
    std::fclose(file);
    if (failed) {
      SetError("Datei %s kann nicht gelesen werden", path);
      return -1;
    }
  } else if (errno != ENOENT) {
    SetError("Datei %s kann nicht geoeffnet werden: %s", path, std::strerror(errno));
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
      SetError("Der Eintrag %s in Datei %s wuerde laenger als %d Zeichen; bitte die Datei pruefen",
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
      SetError("Datei %s endet mit einem unvollstaendigen Eintrag (ungerade Zeilenzahl); "
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

  return ReplaceFile(target.c_str(), updated, existed, mode);
}

int ListConfigValues(const char* path, FILE* out) {
  ConfigWriterError[0] = '\0';
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    if (errno == ENOENT) {
      SetError("Datei %s existiert nicht", path);
    } else {
      SetError("Datei %s kann nicht geoeffnet werden: %s", path, std::strerror(errno));
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
    std::fputc('\n', out);
    ++records;
  }
  const bool failed = std::ferror(file);
  std::fclose(file);
  if (failed) {
    SetError("Datei %s kann nicht gelesen werden", path);
    return -1;
  }
  return records;
}

std::string VisibleText(const char* text) {
  std::string shown;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    if (*p < 0x20 || *p == 0x7F) {
      char code[5];
      std::snprintf(code, sizeof code, "\\x%02X", *p);
      shown += code;
    } else {
      shown += static_cast<char>(*p);
    }
  }
  return shown;
}
