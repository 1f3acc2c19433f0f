// kxconvert keeps a pilot's flight library: every flight of a "raw.dat" as
// IGC (flight-log and scoring sites, flight analysis), GPX (maps, phones,
// GPSBabel) and KML with time (Google Earth's replay), one stable name per
// flight, and a logbook of flight and engine time merged across downloads.
// It finds the flights and decodes the records with the log reader's own
// code; the flight files are in UTC, the same bytes under every time zone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "exportfile.h"
#include "record.h"
#include "utc.h"

// True when `table` has an entry for each of an enum's `count` values, each
// at the place of its `id`: a table that must follow an enum is checked with
// it at compile time.
template <typename Entry, std::size_t N>
constexpr bool followsEnum(const Entry (&table)[N], std::size_t count)
{
    for (std::size_t k = 0; k < N; ++k)
        if (static_cast<std::size_t>(table[k].id) != k)
            return false;
    return N == count;
}

// The whole run; the exit status: 0 all written, 1 bad usage, 2 the log
// could not be read, or a file or the logbook not written.
int runConverter(int argc, char** argv);
// Puts what a run keeps back to the start of a fresh program.
void startConverterRun();

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
    std::string path;                 // the file being written (a temporary name), written back when closed
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
// time axis with a cursor, and the track drawn to scale (page.cpp). The
// drawing is made for the flight before its first point is taken.
struct Drawing;
struct PageFormat {
    const FlightFile& target;
    std::unique_ptr<Drawing> drawing;
    explicit PageFormat(const FlightFile& t);
    PageFormat(const PageFormat&) = delete;
    PageFormat& operator=(const PageFormat&) = delete;
    ~PageFormat();
    bool begin(ExportFile& file, uint32_t firstTime);
    void row(ExportFile& file, const FlightPoint& p);
    bool finish(ExportFile& file, uint32_t start, uint32_t stop);
    static void tail(ExportFile&) {}
};

struct TimedKmlFormat {
    const FlightFile& target;
    bool begin(ExportFile& file, uint32_t firstTime);
    static void row(ExportFile& file, const FlightPoint& p);
    static bool finish(ExportFile& file, uint32_t start, uint32_t stop);
    static void tail(ExportFile& file);
};

// The formats kxconvert writes, one entry each in `formatTable`; everything
// that names a format (the command line, the default set, the names a
// flight's files take, the logbook's Files column, the index's links) reads
// it there. To add a format:
//   1. write its struct above (begin, row, finish, tail, as exportFlight in
//      exportfile.h calls them) in a file of its own, as kmltrack.cpp;
//   2. add its entry to `formatTable` in formats.cpp: name, ending, whether
//      it needs a usable position, whether it is written by default, whether
//      the index links it, and writeFlightFile<ItsFormat>;
//   3. say what it holds in the help text (options.cpp), the manual page and
//      the README, and read it back in tests/check_converter.py with the
//      program pilots open it with.
// The Files column lists the names of the formats written, so a name once
// given is a format of the logbook: never change one.
using FormatWriter = bool (*)(uint32_t start, uint32_t stop, const FlightFile& target);
struct FormatInfo {
    const char* name;       // on the command line and in the logbook's Files column
    const char* ending;     // of the flight's file: its name and this
    bool needsPosition;     // a flight without a usable position gets no such file
    bool byDefault;         // written when -f does not say otherwise
    bool linkedFromIndex;   // in the index's Files column (the page is linked by the flight's name)
    FormatWriter write;     // the file of the flight from offset `start` to `stop`, at the target's path
};
extern const FormatInfo formatTable[];
extern const std::size_t formatCount;
// A set of formats, a bit per entry of the table.
using FormatSet = uint32_t;
constexpr FormatSet formatBit(std::size_t k) { return FormatSet{1} << k; }
FormatSet defaultFormats();
// The formats named in `list`, separated by `separator` ("igc,gpx" on the
// command line, "igc gpx" in the Files column); false when a name is not a
// format's, the others are still taken.
bool parseFormats(std::string_view list, char separator, FormatSet& formats);
// The names of `formats` in the table's order, separated by `separator`.
std::string formatNames(FormatSet formats, const char* separator);
