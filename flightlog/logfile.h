// A log as the programs read it ("raw.dat", or the log kxconvert is given):
// opened only when it is a regular file, and read through one window of the
// file kept in memory, so that a log of the instrument's size comes from the
// disk in one read however often the exports go over its flights.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The instrument's log memory, which a download fetches whole: pages 256 to
// 511, both inclusive, of 4096 bytes each.
constexpr uint16_t start_address = 256;
constexpr uint16_t stop_address = 511;
constexpr uint32_t logPages = stop_address - start_address + 1;
constexpr const char* rawFileName = "raw.dat";

// The log being read: "raw.dat" while kxlogreader's flight index runs; the
// exports read and seek on it.
extern FILE* data;

// Puts what reading a log keeps back to the start of a fresh program: no log
// open, nothing of one held in the window, no stored texts of a flight and
// their local-time cache forgotten. Every program's run begins with it.
void startLogRun();
// Opens the log at `path` into `data`; false, with the reason in `reason`,
// when it is missing, unreadable or not a regular file.
bool openLogAt(const char* path, const char*& reason);
// Reads the log from `stream`, already open (openLogAt hands it the file; the
// tests hand it a stream that fails where they want).
void useLogStream(FILE* stream);
// Reads the log from `bytes`, which stay where they are while it is read
// (kxconvert reads a flight's own records from memory).
void useLogBytes(const std::string& bytes);
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
