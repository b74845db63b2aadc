#include "common/download_file.h"

#include <cstring>

DownloadFileStream DownloadFile = {nullptr, false};

namespace {
// Records are small and many: one large buffer keeps the writes cheap.
char StreamBuffer[1 << 16];
}  // namespace

bool OpenDownloadFile(const char* path, bool startNew) {
  DownloadFile.File = std::fopen(path, startNew ? "w" : "a");
  DownloadFile.WriteFailed = false;
  if (DownloadFile.File == nullptr) return false;
  std::setvbuf(DownloadFile.File, StreamBuffer, _IOFBF, sizeof StreamBuffer);
  return true;
}

bool OpenDownloadMemory(char** bytes, size_t* size) {
  DownloadFile.File = open_memstream(bytes, size);
  DownloadFile.WriteFailed = false;
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
  bool ok = !DownloadFile.WriteFailed;
  if (std::fflush(DownloadFile.File) != 0) ok = false;
  if (std::ferror(DownloadFile.File)) ok = false;
  if (std::fclose(DownloadFile.File) != 0) ok = false;
  DownloadFile.File = nullptr;
  return ok;
}
