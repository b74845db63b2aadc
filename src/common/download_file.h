// The download file: opened and closed by the run driver, written by the
// writers. A leaf: it uses nothing of the tool.
#pragma once
#include <cstddef>
#include <cstdio>

// The open download file: a text stream in which each line feed of a line
// reaches the disk as carriage return and line feed. Fixed-width records
// are stored exactly as given.
struct DownloadFileStream {
  FILE* File;
  bool WriteFailed;
};
extern DownloadFileStream DownloadFile;

// Opens for "w" (create or empty) or "a" (create or append). false on failure.
bool OpenDownloadFile(const char* path, bool startNew);
// Opens an in-memory stream instead of a file: what the writers write is
// kept byte for byte, *bytes and *size are set by CloseDownloadFile (the
// caller frees *bytes). false on failure.
bool OpenDownloadMemory(char** bytes, size_t* size);
// Writes a fixed-width record as it stands (no line-feed translation).
void WriteDownloadRecord(const char* record, size_t length);
// Writes text in which each line feed becomes carriage return, line feed.
void WriteDownloadLine(const char* text, size_t length);
// Flushes and closes. false when any write, the flush or the close failed.
bool CloseDownloadFile();
