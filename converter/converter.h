// kxconvert: the flights of a "raw.dat" as IGC (flight-log and scoring sites,
// flight analysis), GPX (maps, phones, GPSBabel) and KML with time (Google
// Earth's replay). It finds the flights and decodes the records with the
// log reader's own code; everything it writes is in UTC, so the files are the
// same bytes under every time zone.
#pragma once

#include <cstdint>
#include <string>

#include "exportfile.h"
#include "record.h"

// The whole run; the exit status: 0 all written, 1 bad usage, 2 the log
// could not be read or a file not written.
int runConverter(int argc, char** argv);
// Puts what a run keeps back to the start of a fresh program.
void startConverterRun();

// A date and time of day in UTC.
struct UtcTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
UtcTime utcOf(uint32_t seconds);
// "YYYY-MM-DD"
char* isoDate(char* out, const UtcTime& t);
// "YYYY-MM-DDTHH:MM:SSZ"
char* isoDateTime(char* out, const UtcTime& t);
// A flight's files are named "YYYY-MM-DD-XXX-KXP-NN" after its UTC date and
// its number of that day; its title is "KX+ flight YYYY-MM-DD NN".
std::string flightStem(const UtcTime& day, unsigned number);
std::string flightTitle(const UtcTime& day, unsigned number);

// A position that maps and scorers take: latitude not 0 (the instrument's
// mark for no fix), both finite and within ±90 and ±180 degrees.
bool usablePosition(const MMdata& point);

// Where one flight goes and what names it.
struct FlightFile {
    std::string path;          // the file being written (a temporary name)
    std::string title;         // "KX+ flight YYYY-MM-DD NN"
    uint32_t dateTime = 0;     // the log time of its first usable position
    unsigned dayNumber = 1;    // NN: its place among the flights of that UTC date
};

// Creates the file of `target` (at its temporary name) and writes `head`;
// false, with the reason on standard error, when it cannot be made.
bool createFlightFile(ExportFile& file, const FlightFile& target, const char* head);

// The three formats, for exportFlight (exportfile.h).
struct IgcFormat {
    const FlightFile& target;
    bool fixed = false;  // a usable position has come
    float lat = 0.0f;    // the last usable position
    float lon = 0.0f;
    bool begin(ExportFile& file, uint32_t firstTime);
    void row(ExportFile& file, const FlightPoint& p);
    static bool finish(ExportFile&, uint32_t, uint32_t) { return true; }
    static void tail(ExportFile&) {}
};

struct GpxFormat {
    const FlightFile& target;
    bool begin(ExportFile& file, uint32_t firstTime);
    static void row(ExportFile& file, const FlightPoint& p);
    static bool finish(ExportFile&, uint32_t, uint32_t) { return true; }
    static void tail(ExportFile& file);
};

struct TimedKmlFormat {
    const FlightFile& target;
    bool begin(ExportFile& file, uint32_t firstTime);
    static void row(ExportFile& file, const FlightPoint& p);
    static bool finish(ExportFile& file, uint32_t start, uint32_t stop);
    static void tail(ExportFile& file);
};
