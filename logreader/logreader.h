// kxlogreader: downloads the instrument's log memory into "raw.dat", splits it
// into flights and exports every flight as KML and CSV into a dated folder.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "devlink.h"
#include "logfile.h"

// Where a download is written until all its pages are in; it becomes
// "raw.dat" only then, and a download that fails leaves its whole pages here.
constexpr const char* partialFileName = "raw-partial.dat";

// The receive buffer of command 14.
extern std::array<uint8_t, reportSize> inputBuffer;
// The export folder of this run, empty until it exists.
extern char folder[80];

// The whole run; the exit status.
int runLogreader(int argc, char** argv);
// Puts everything a run of kxlogreader keeps back to the start of a fresh
// program: the link's and the log reader's globals, the window on "raw.dat",
// the stored texts of a flight with their local-time cache, and the noted
// interrupt. Every run begins with it, and so does every test.
void startLogreaderRun();
// Fetches log pages 256..511 into "raw.dat"; exitcode::ok, or exitcode::failed
// when the download was given up.
int downloadLog(hid_device* device);
// Opens "raw.dat" for reading into `data`; false, with the reason on standard
// error, when it is missing, unreadable or not a regular file.
bool openLog();
// Reads "raw.dat", splits it into flights and exports each; the exit status.
int flightIndex();
// The part of the flight index after "raw.dat" was opened into `data`: makes
// the export folder, exports every flight and closes the file.
int indexFlights();

// Makes the export folder of this run and sets `folder`.
void create_timestamp_dir();
// Write one flight, records from offset `start` to the record at `stop`
// inclusive; 1 for success, 0 for failure. Both leave `data` at stop + 32.
int exportPoints(uint32_t start, uint32_t stop);
int exportCSV(uint32_t start, uint32_t stop);
