// kxconvert keeps a pilot's flight library: every flight of a "raw.dat" as
// IGC (flight-log and scoring sites, flight analysis), GPX (maps, phones,
// GPSBabel) and KML with time (Google Earth's replay), one stable name per
// flight, and a logbook of flight and engine time merged across downloads.
// It finds the flights and decodes the records with the log reader's own
// code; the flight files are in UTC, the same bytes under every time zone.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
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

// The quantities that a limit can be set for, one entry each: a maximum
// for the engine's speed and temperatures, a minimum for fuel and outside air.
enum class LimitKind { Maximum, Minimum };
struct LimitInfo {
    const char* key;    // on the command line and in the settings: --limit rpm=7800
    const char* label;  // in the logbook's Over limits: "rpm 8400 for 0:01:30"
    const char* unit;
    LimitKind kind;
    double (*value)(const MMdata&);
};
constexpr std::size_t limitCount = 5;
extern const LimitInfo limitTable[limitCount];
// The place of the limit `key` in the table, or limitCount.
std::size_t limitIndex(std::string_view key);

// An aircraft as the settings file and the options describe it.
struct AircraftProfile {
    std::string name;          // empty: no aircraft named
    std::string registration;
    std::string t1Name, t2Name;  // what T1 and T2 measure, as the pilot wired them ("CHT", "EGT")
    std::array<std::optional<double>, limitCount> limits;
    // Airborne: at takeoffSpeedKmh with a usable position off the ground,
    // or takeoffHeightM above it (the manual page tells the rule).
    double takeoffSpeedKmh = 30;
    double takeoffHeightM = 10;
    double engineHoursBefore = 0;            // the engine's hours before its first flight in the library
    std::optional<double> serviceAt;         // the engine's hours at its last service
    std::optional<double> serviceEvery;      // hours from one service to the next
    // "T1" or "CHT (T1)": a temperature as the pages name it.
    std::string temperatureName(int which) const;
};

// An aircraft's engine hours and its next service, its flights in the
// library having run the engine `seconds` in all.
struct EngineHours {
    double all = 0;                   // hours, before the library and in it
    std::optional<double> since;      // hours since the last service
    std::optional<double> until;      // hours to the next service; below 0 when it is overdue
    // "43:12 h in all, 18:12 h since the service at 25:00 h; the next service at
    // 50:00 h, in 6:48 h" (or "overdue by 1:10 h").
    std::string said() const;
};
EngineHours engineHoursOf(const AircraftProfile& a, uint64_t seconds);
// "12:30 h": hours to the minute.
std::string hoursText(double hours);

// The pilot's details for the IGC header and the aircraft they fly: from the
// options, else from the settings file that the pilot fills in once.
struct PilotDetails {
    std::string pilot, aircraft, registration, competitionId;
};
struct Settings {
    PilotDetails pilot;                                // the run's: its aircraft is the flights' new to the library
    std::map<std::string, AircraftProfile> aircraft;   // by name, from the settings file's sections
    // The profile of the aircraft `name`: its section of the settings, the
    // run's options over it where it is the run's aircraft.
    AircraftProfile profileOf(const std::string& name) const;
    AircraftProfile runAircraft;  // what the options said of the run's aircraft
    std::array<bool, limitCount> limitGiven{};
};
// Reads `text` (the settings file: "key = value" lines, # for comments, and
// a section "[NAME]" for each aircraft) into `settings`, leaving alone what
// is already given; each line it cannot take is named on standard error with `name`.
void readSettings(const std::string& text, const std::string& name, Settings& settings);
// Where the settings file lives: the user's configuration folder.
std::string settingsPath();

// One stretch of a flight over a limit: from the first record over it to
// the end of the last one's time, and the worst value in it.
struct Exceedance {
    std::size_t limit;  // in limitTable
    uint32_t from = 0, to = 0;
    uint32_t seconds = 0;
    double peak = 0;
};

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
    std::vector<Exceedance> exceedances;   // in the order of time
    uint32_t cruiseSeconds = 0;            // the engine at a steady cruise
    uint32_t cruiseRpm = 0;                // mean engine speed at cruise
    double cruiseT1 = 0, cruiseT2 = 0;     // mean temperatures at cruise
    const AircraftProfile* aircraft = nullptr;  // whose limits and thresholds the figures took
    uint32_t flightSeconds() const { return airborne ? landing - takeoff : 0; }
};
// Thresholds of the figures; the manual page states the same.
constexpr uint16_t engineRunningRpm = 500;
constexpr uint32_t airborneForS = 30;
constexpr uint32_t cruiseForS = 60;        // steady for at least this long
constexpr double cruiseShare = 0.55;       // of the engine's top speed (its limit, else the flight's highest)
constexpr double cruiseSteadiness = 0.05;  // the speed within this share of its mean over the minute
// The figures of the flight from offset `start` to `stop` with the
// thresholds and limits of `aircraft`; false when reading the log failed.
bool workOutFigures(uint32_t start, uint32_t stop, const AircraftProfile& aircraft, FlightFigures& figures);

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
