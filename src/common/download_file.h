// The download file: opened and closed by the run driver, written by the
// writers. A leaf: it uses nothing of the tool.
//
// A run either completes the file or leaves it as it was. Starting a new
// file writes into a hidden temporary file in the same folder, which takes
// the place of the old one only when the run succeeds; appending notes the
// length the file had and cuts it back to that length when the run fails.
// A path that is no regular file (a device, a FIFO), or a folder in which
// no file can be created, is written in place as it stands.
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

// Opens for a new file (startNew: the old one is replaced at the end) or
// for appending. false on failure, with nothing changed at the path.
bool OpenDownloadFile(const char* path, bool startNew);
// Opens an in-memory stream instead of a file: what the writers write is
// kept byte for byte, *bytes and *size are set by CloseDownloadFile (the
// caller frees *bytes). false on failure.
bool OpenDownloadMemory(char** bytes, size_t* size);
// Writes a fixed-width record as it stands (no line-feed translation).
void WriteDownloadRecord(const char* record, size_t length);
// Writes text in which each line feed becomes carriage return, line feed.
void WriteDownloadLine(const char* text, size_t length);
// Completes the run's file: flushes it to the disk and, for a new file,
// puts it in the place of the old one. false when any write, the flush or
// the close failed; the file at the path is then as it was before the run
// (except when it is written in place).
bool CloseDownloadFile();
// Gives the run's file up: the file at the path is as it was before the
// run (except when it is written in place).
void AbandonDownloadFile();
// Whether the open file is written in place, so that a failure cannot
// restore what was there.
bool DownloadFileInPlace();

// From now on SIGINT, SIGTERM and SIGHUP end the process the way a failed
// run ends: the download file as it was, the message
// "Programmabbruch: Signal <n> empfangen, Downloaddatei <path> unveraendert!\n"
// (without the file part while none is open) and exit status -1. Standard
// output becomes line-buffered, so that the messages printed before stay.
void EndRunOnSignals();
