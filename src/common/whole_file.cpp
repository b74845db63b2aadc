// Reading a whole file into memory: see whole_file.h.
#include "common/whole_file.h"

#include <cerrno>

bool ReadWholeFile(FILE* file, std::string* content) {
  char buffer[4096];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) content->append(buffer, count);
  return !std::ferror(file);
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  const bool read = ReadWholeFile(file, content);
  const int error = errno;
  std::fclose(file);
  if (!read) errno = error;
  return read;
}
