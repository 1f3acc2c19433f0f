// kxlogreader: downloads the instrument's log memory into "raw.dat", splits it
// into flights and exports every flight as KML and CSV into a dated folder.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "devlink.h"

// Log pages fetched by a download, both inclusive.
constexpr uint16_t start_address = 256;
constexpr uint16_t stop_address = 511;
constexpr const char* rawFileName = "raw.dat";
// Where a download is written until all its pages are in; it becomes
// "raw.dat" only then, and a download that fails leaves its whole pages here.
constexpr const char* partialFileName = "raw-partial.dat";

// The receive buffer of command 14.
extern std::array<uint8_t, reportSize> inputBuffer;
// "raw.dat" while the flight index runs; the exports read and seek on it.
extern FILE* data;
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
// Reads "raw.dat", splits it into flights and exports each; the exit status.
int flightIndex();
// The part of the flight index after "raw.dat" was opened into `data`: makes
// the export folder, exports every flight and closes the file.
int indexFlights();

// One flight: the point records from offset `start` to the one at `stop`
// (inclusive) in file order, no one more than 600 s after the one before.
struct Flight {
    uint32_t start = 0;
    uint32_t stop = 0;
    uint32_t startTime = 0;  // log times of its first and last point record
    uint32_t stopTime = 0;
    uint16_t number = 0;     // its place among the log's flights, from 1
};
using FlightVisit = std::function<void(const Flight&)>;
// Where flights end: at gaps of more than 600 s (kxlogreader), or also where
// the time steps back (kxconvert: a reset clock, or a log memory that
// wrapped, so that no flight joins one that came before it).
enum class FlightSplit { AtGaps, AtGapsAndBackwardSteps };
// Reads the open log record by record and hands each flight to `visit` as
// soon as it is closed, in file order; false when reading the log failed
// (the flights before the failure were handed over).
bool scanFlights(const FlightVisit& visit, FlightSplit split = FlightSplit::AtGaps);
// Makes the export folder of this run and sets `folder`.
void create_timestamp_dir();
// Write one flight, records from offset `start` to the record at `stop`
// inclusive; 1 for success, 0 for failure. Both leave `data` at stop + 32.
int exportPoints(uint32_t start, uint32_t stop);
int exportCSV(uint32_t start, uint32_t stop);
