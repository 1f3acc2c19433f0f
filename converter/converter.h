// kxconvert keeps a pilot's flight library: every flight of a "raw.dat" as
// IGC (flight-log and scoring sites, flight analysis), GPX (maps, phones,
// GPSBabel) and KML with time (Google Earth's replay), one stable name per
// flight, and a logbook of flight and engine time merged across downloads.
// It finds the flights and decodes the records with the log reader's own
// code; the flight files are in UTC, the same bytes under every time zone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exportfile.h"
#include "record.h"

// The whole run; the exit status: 0 all written, 1 bad usage, 2 the log
// could not be read, or a file or the logbook not written.
int runConverter(int argc, char** argv);
// Puts what a run keeps back to the start of a fresh program.
void startConverterRun();

// A date and time of day in UTC.
struct UtcTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
UtcTime utcOf(uint32_t seconds);
// Seconds since 1970 of a UTC date and time; the inverse of utcOf.
int64_t secondsOf(const UtcTime& t);
// "YYYY-MM-DD"
char* isoDate(char* out, const UtcTime& t);
// "YYYY-MM-DDTHH:MM:SSZ"
char* isoDateTime(char* out, const UtcTime& t);
// "HH:MM:SS"
char* clockTime(char* out, const UtcTime& t);
// "H:MM:SS" of a duration in seconds.
std::string duration(uint64_t seconds);
// "YYYY-MM-DD HH:MM:SS +HH:MM", the computer's local time of a log time.
std::string localWithOffset(uint32_t seconds);

// A flight's files are named "YYYY-MM-DD-XXX-KXP-NN" after its UTC date and
// its number of that day, as the IGC long names are. Past 99 the number is
// written "Z100" to "Z999", "ZZ1000" to "ZZ9999" and so on, so that the names
// still sort by number and stay valid on every file system. Its title is
// "KX+ flight YYYY-MM-DD NN", the number as a decimal.
std::string flightStem(const UtcTime& day, unsigned number);
std::string flightTitle(const UtcTime& day, unsigned number);
// The number of the day that a name made by flightStem carries; 0 for another name.
unsigned dayNumberOf(const std::string& stem);

// A position that maps and scorers take: latitude not 0 (the instrument's
// mark for no fix), both finite and within ±90 and ±180 degrees.
bool usablePosition(const MMdata& point);

// What is worked out of one flight, in one walk over its points: the
// logbook row and the flight's page show the same figures.
struct FlightFigures {
    uint32_t firstTime = 0, lastTime = 0;  // log times of the first and last point
    uint32_t points = 0, unusable = 0;     // points, and those without a usable position
    bool hasPosition = false;
    LatLon firstPosition;                  // the first usable position
    bool airborne = false;                 // a takeoff was found
    uint32_t takeoff = 0, landing = 0;
    uint32_t engineSeconds = 0;
    uint16_t maxRpm = 0;
    uint32_t meanRpm = 0;                  // while the engine ran
    int16_t maxT1 = 0, maxT2 = 0;
    double meanT1 = 0, meanT2 = 0;         // while the engine ran
    int8_t minOat = 0, maxOat = 0;
    uint8_t fuelStart = 0, fuelEnd = 0;
    int16_t maxAltitude = 0;               // barometric
    int16_t maxAltitudeGps = 0;            // at usable positions
    uint32_t totalClimb = 0;               // m, the barometric altitude's rises added up
    float bestClimb = 0, bestSink = 0;     // m/s, the logged climb rate
    double distanceKm = 0;                 // great circle, between usable positions
    uint8_t maxSpeed = 0;                  // km/h, at usable positions
    bool possiblyCut = false;              // the last flight of a partial log
    LatLon south_west, north_east;         // the usable positions' extent
    double meanLat = 0;                    // of the usable positions
    uint32_t flightSeconds() const { return airborne ? landing - takeoff : 0; }
};
// Thresholds of the figures; the manual page states the same.
constexpr uint16_t engineRunningRpm = 500;
constexpr uint8_t airborneSpeedKmh = 50;
constexpr int airborneHeightM = 100;
constexpr uint32_t airborneForS = 30;
// The figures of the flight from offset `start` to `stop`; false when reading
// the log failed.
bool workOutFigures(uint32_t start, uint32_t stop, FlightFigures& figures);

// The pilot's details for the IGC header: from the options, else from the
// settings file that the pilot fills in once.
struct PilotDetails {
    std::string pilot, aircraft, registration, competitionId;
};
// Reads `text` (the settings file: "key = value" lines, # for comments) into
// `details`, leaving alone what is already given; each line it cannot take
// is named on standard error with `name`.
void readSettings(const std::string& text, const std::string& name, PilotDetails& details);
// Where the settings file lives: the user's configuration folder.
std::string settingsPath();

// Where one flight goes and what names it.
struct LogbookRow;
struct FlightFile {
    std::string path;                 // the file being written (a temporary name)
    std::string title;                // "KX+ flight YYYY-MM-DD N"
    unsigned dayNumber = 1;           // its number among the flights of that UTC date
    const FlightFigures* figures = nullptr;
    const PilotDetails* pilot = nullptr;
    const LogbookRow* row = nullptr;  // its figures as the logbook has them
};

// Creates the file of `target` (at its temporary name) and writes `head`;
// false, with the reason on standard error, when it cannot be made.
bool createFlightFile(ExportFile& file, const FlightFile& target, const char* head);

// The formats, for exportFlight (exportfile.h).
struct IgcFormat {
    const FlightFile& target;
    LatLon at{};  // the last usable position; before the first one, the first
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

// The flight's page: its figures, the barogram and the engine charts on one
// time axis with a cursor, and the track drawn to scale (page.cpp).
struct PageFormat {
    const FlightFile& target;
    struct Drawing* drawing = nullptr;
    bool begin(ExportFile& file, uint32_t firstTime);
    void row(ExportFile& file, const FlightPoint& p);
    bool finish(ExportFile& file, uint32_t start, uint32_t stop);
    void tail(ExportFile& file);
    ~PageFormat();
};

struct TimedKmlFormat {
    const FlightFile& target;
    bool begin(ExportFile& file, uint32_t firstTime);
    static void row(ExportFile& file, const FlightPoint& p);
    static bool finish(ExportFile& file, uint32_t start, uint32_t stop);
    static void tail(ExportFile& file);
};
