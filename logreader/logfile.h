// "raw.dat" as the flight index and the exports read it: opened only when it
// is a regular file, and read through one window of the file kept in memory,
// so that a log of the instrument's size comes from the disk in one read
// however often the exports go over its flights.
#pragma once

#include <cstdint>
#include <cstdio>

// Opens "raw.dat" for reading into `data`; false, with the reason on standard
// error, when it is missing, unreadable or not a regular file.
bool openLog();
// Opens the log at `path` into `data`; false, with the reason in `reason`,
// when it is missing, unreadable or not a regular file.
bool openLogAt(const char* path, const char*& reason);
// Reads the log from `stream`, already open, as from "raw.dat" (openLog hands
// it the file; the tests hand it a stream that fails where they want).
void useLogStream(FILE* stream);
void closeLog();
// Before exporting a log that this run did not download: its date and how
// much of the instrument's log memory it holds, on standard error, always or
// only when it is partial (fewer than 256 pages, or a piece of a page). True
// when it is partial; nothing is said of a file that is not there.
bool describeLog(const char* path, bool always);
// The 32-byte record at `offset`. nullptr at the end of the file, for a last
// record of fewer than 32 bytes, and once reading the file has failed (then
// logReadFailed() is true and the reason has been printed).
const uint8_t* recordAt(uint32_t offset);
bool logReadFailed();
// Forgets the window: nothing of any "raw.dat" is held.
void resetLogWindow();
