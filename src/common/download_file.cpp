#include "common/download_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/ending_signals.h"

DownloadFileStream DownloadFile = {nullptr, false};

namespace {

// Records are small and many: one large buffer keeps the writes cheap.
char StreamBuffer[1 << 16];

// How the open file reaches the path. Read by the signal handler: plain
// values only, set while the signals are blocked.
enum Placement : int {
  NoFile,
  Memory,
  Replace,  // a temporary file that takes the place of Target at the end
  Append,   // Target itself, cut back to Length (or removed when Created)
  InPlace,  // the path itself; nothing to restore
};
volatile sig_atomic_t How = NoFile;
char Target[PATH_MAX];   // the file the run ends up in (a link's target)
char Temp[PATH_MAX];     // Replace: the temporary file
char ShownPath[PATH_MAX];  // the path as given, for the signal message
off_t Length = 0;        // Append: the length before the run
volatile sig_atomic_t Created = 0;  // Append: there was no file before the run
int Fd = -1;

// Blocks the ending signals for the life of the object, so that a signal
// never meets a half-changed placement.
class SignalsBlocked {
 public:
  SignalsBlocked() { BlockEndingSignals(&Old); }
  ~SignalsBlocked() { RestoreSignalMask(Old); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t Old;
};

bool CopyPath(char* out, const char* in) {
  const size_t n = std::strlen(in);
  if (n >= PATH_MAX) return false;
  std::memcpy(out, in, n + 1);
  return true;
}

// Undoes what the run did at the path; async-signal-safe.
void RestorePath() {
  switch (How) {
    case Replace: unlink(Temp); break;
    case Append:
      if (Created) unlink(Target);
      else if (Fd >= 0) (void)ftruncate(Fd, Length);
      break;
    default: break;
  }
}

FILE* Start(FILE* file, Placement how) {
  if (file == nullptr) return nullptr;
  std::setvbuf(file, StreamBuffer, _IOFBF, sizeof StreamBuffer);
  DownloadFile.File = file;
  DownloadFile.WriteFailed = false;
  Fd = fileno(file);
  How = how;
  return file;
}

// A new file in place of the old one: a hidden temporary file beside it
// ("." + name + "." + six random characters, so that it neither shows nor
// ends like a download file), with the old file's permissions and, for
// root, its owner.
bool OpenReplacement(const char* path) {
  char resolved[PATH_MAX];
  struct stat link;
  const char* target = path;
  if (lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
    // The link stays; the file it points to is replaced.
    if (realpath(path, resolved) == nullptr) return Start(std::fopen(path, "w"), InPlace) != nullptr;
    target = resolved;
  }
  struct stat old;
  const bool exists = stat(target, &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) return Start(std::fopen(path, "w"), InPlace) != nullptr;
  if (!CopyPath(Target, target)) return false;

  const char* slash = std::strrchr(Target, '/');
  const size_t folderLength = slash != nullptr ? static_cast<size_t>(slash - Target + 1) : 0;
  const char* name = Target + folderLength;
  if (folderLength + 1 + std::strlen(name) + 7 >= sizeof Temp) return false;
  std::memcpy(Temp, Target, folderLength);
  std::snprintf(Temp + folderLength, sizeof Temp - folderLength, ".%s.XXXXXX", name);
  const int fd = mkstemp(Temp);
  if (fd < 0) {
    // No file can be made in the folder: the path itself, when it can be
    // written, is written in place.
    if (exists && access(target, W_OK) == 0) return Start(std::fopen(path, "w"), InPlace) != nullptr;
    return false;
  }
  mode_t mode;
  if (exists) {
    mode = old.st_mode & 07777;
    if (geteuid() == 0) (void)fchown(fd, old.st_uid, old.st_gid);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  FILE* file = fchmod(fd, mode) == 0 ? fdopen(fd, "w") : nullptr;
  if (file == nullptr) {
    close(fd);
    unlink(Temp);
    return false;
  }
  return Start(file, Replace) != nullptr;
}

// Appending: the length before the run is noted, or that there was no file.
bool OpenAppend(const char* path) {
  struct stat old;
  const bool exists = stat(path, &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) return Start(std::fopen(path, "a"), InPlace) != nullptr;
  FILE* file = std::fopen(path, "a");
  if (file == nullptr) return false;
  char resolved[PATH_MAX];
  if (realpath(path, resolved) == nullptr || !CopyPath(Target, resolved)) {
    std::fclose(file);
    if (!exists) unlink(path);
    return false;
  }
  Length = exists ? old.st_size : 0;
  Created = exists ? 0 : 1;
  return Start(file, Append) != nullptr;
}

bool FlushToDisk(FILE* file) {
  bool ok = !DownloadFile.WriteFailed;
  if (std::fflush(file) != 0) ok = false;
  if (std::ferror(file)) ok = false;
  if (ok && fsync(fileno(file)) != 0 && errno != EINVAL && errno != EROFS) ok = false;
  return ok;
}

// The folder's entry of a renamed file reaches the disk with the folder.
void SyncFolder(const char* file) {
  char folder[PATH_MAX];
  const char* slash = std::strrchr(file, '/');
  if (slash == nullptr) {
    std::strcpy(folder, ".");
  } else {
    const size_t n = slash == file ? 1 : static_cast<size_t>(slash - file);
    std::memcpy(folder, file, n);
    folder[n] = '\0';
  }
  const int fd = open(folder, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  (void)fsync(fd);
  close(fd);
}

void Forget() {
  DownloadFile.File = nullptr;
  Fd = -1;
  How = NoFile;
  Created = 0;
}

void WriteText(const char* text) { (void)!write(STDOUT_FILENO, text, std::strlen(text)); }

void EndOnSignal(int signalNumber) {
  RestorePath();
  char number[12];
  int n = 0;
  char digits[12];
  unsigned value = static_cast<unsigned>(signalNumber);
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && n < 11);
  int k = 0;
  while (n > 0) number[k++] = digits[--n];
  number[k] = '\0';
  WriteText("Programmabbruch: Signal ");
  WriteText(number);
  if (How != NoFile && How != Memory) {
    WriteText(" empfangen, Downloaddatei ");
    WriteText(ShownPath);
    WriteText(How == InPlace ? " wurde an Ort und Stelle geschrieben!\n" : " unveraendert!\n");
  } else {
    WriteText(" empfangen!\n");
  }
  _exit(255);
}

}  // namespace

bool OpenDownloadFile(const char* path, bool startNew) {
  SignalsBlocked blocked;
  DownloadFile.WriteFailed = false;
  if (!CopyPath(ShownPath, path)) return false;
  return startNew ? OpenReplacement(path) : OpenAppend(path);
}

bool OpenDownloadMemory(char** bytes, size_t* size) {
  DownloadFile.File = open_memstream(bytes, size);
  DownloadFile.WriteFailed = false;
  How = DownloadFile.File != nullptr ? Memory : NoFile;
  return DownloadFile.File != nullptr;
}

void WriteDownloadRecord(const char* record, size_t length) {
  if (std::fwrite(record, 1, length, DownloadFile.File) != length) DownloadFile.WriteFailed = true;
}

void WriteDownloadLine(const char* text, size_t length) {
  const char* end = text + length;
  while (text < end) {
    const char* lf = static_cast<const char*>(std::memchr(text, '\n', static_cast<size_t>(end - text)));
    size_t chunk = static_cast<size_t>((lf != nullptr ? lf : end) - text);
    if (chunk > 0) WriteDownloadRecord(text, chunk);
    if (lf == nullptr) break;
    WriteDownloadRecord("\r\n", 2);
    text = lf + 1;
  }
}

bool CloseDownloadFile() {
  if (DownloadFile.File == nullptr) return true;
  SignalsBlocked blocked;
  FILE* file = DownloadFile.File;
  bool ok;
  switch (How) {
    case Replace:
    case Append:
      ok = FlushToDisk(file);
      if (std::fclose(file) != 0) ok = false;
      Fd = -1;
      if (ok && How == Replace) {
        ok = std::rename(Temp, Target) == 0;
        if (ok) SyncFolder(Target);
      }
      if (!ok) {
        if (How == Append && !Created) (void)truncate(Target, Length);
        else RestorePath();
      }
      break;
    default:
      ok = !DownloadFile.WriteFailed;
      if (std::fflush(file) != 0) ok = false;
      if (std::ferror(file)) ok = false;
      if (std::fclose(file) != 0) ok = false;
      break;
  }
  Forget();
  return ok;
}

void AbandonDownloadFile() {
  if (DownloadFile.File == nullptr) return;
  SignalsBlocked blocked;
  // Cut back before the close, which would write what is still buffered.
  RestorePath();
  std::fclose(DownloadFile.File);
  if (How == Append && !Created) (void)truncate(Target, Length);
  Forget();
}

bool DownloadFileInPlace() { return How == InPlace; }

void EndRunOnSignals() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = EndOnSignal;
  sigfillset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}
