// The run of kxconvert: options, the log, every flight in each format asked for.
#include <getopt.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include "cli.h"
#include "converter.h"
#include "exitcodes.h"
#include "logfile.h"
#include "logreader.h"
#include "platform.h"
#include "sampletexts.h"

namespace {

constexpr int badUsage = 1;

constexpr const char* helpText =
    "Usage: kxconvert [OPTIONS] [RAW.DAT]\n"
    "Writes every flight of a KX+ log (default: raw.dat in the working folder) as\n"
    "IGC for flight-log and scoring sites, GPX for maps and phones, or KML with time\n"
    "for Google Earth's replay. Flights are found as kxlogreader finds them; all\n"
    "times are UTC. Files are named YYYY-MM-DD-XXX-KXP-NN after the flight's UTC date\n"
    "and its number of that day.\n"
    "\n"
    "  -f, --format LIST  formats to write, comma-separated: igc, gpx, kml\n"
    "                     (default igc,gpx)\n"
    "  -o, --output DIR   folder for the files (default: the working folder; made\n"
    "                     when missing)\n"
    "  -q, --quiet        no line per flight\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "Exit status: 0 all written; 1 bad usage; 2 the log could not be read or a file\n"
    "not written. The IGC files are not signed (no G record).\n"
    "See man kxconvert.\n";

struct Options {
    bool igc = true, gpx = true, kml = false;
    bool quiet = false;
    std::string input = rawFileName;
    std::string output = ".";
};

int usageError(const char* what, const char* value)
{
    fprintf(stderr, "kxconvert: %s%s\nTry 'kxconvert --help'.\n", what, value);
    return badUsage;
}

// "igc,gpx,kml" in any order and number; false for anything else.
bool parseFormats(const char* list, Options& o)
{
    o.igc = o.gpx = o.kml = false;
    std::string rest = list;
    do {
        const size_t comma = rest.find(',');
        const std::string word = rest.substr(0, comma);
        if (word == "igc") o.igc = true;
        else if (word == "gpx") o.gpx = true;
        else if (word == "kml") o.kml = true;
        else return false;
        rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
    } while (!rest.empty());
    return true;
}

// The options; -1 when the run goes on, else the exit status.
int parseOptions(int argc, char** argv, Options& o)
{
    static const option longOptions[] = {{"format", required_argument, nullptr, 'f'},
                                         {"output", required_argument, nullptr, 'o'},
                                         {"quiet", no_argument, nullptr, 'q'},
                                         {nullptr, 0, nullptr, 0}};
    optind = 0;  // each run reads its own command line from the start
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, "f:o:q", longOptions, nullptr)) != -1;) {
        if (c == 'f' && !parseFormats(optarg, o))
            return usageError("unknown format list (igc, gpx, kml): ", optarg);
        if (c == 'o')
            o.output = optarg;
        if (c == 'q')
            o.quiet = true;
        if (c == '?')
            return usageError("unknown option or missing value: ", argv[optind - 1]);
    }
    if (argc - optind > 1)
        return usageError("one log at most, not also ", argv[optind + 1]);
    if (argc - optind == 1)
        o.input = argv[optind];
    return -1;
}

struct Conversion {
    const Options& options;
    std::map<uint32_t, unsigned> flightsOfDay;  // by days since 1970
    unsigned withPosition = 0;                  // flights with a usable position
    bool failed = false;
};

// Points and points without a usable position; the log time of the first usable one.
struct Census {
    uint32_t points = 0, unusable = 0, firstUsable = 0;
};

Census takeCensus(const Flight& f)
{
    Census c;
    forEachPoint(f.start, f.stop, [&](const uint8_t* record, uint32_t time) {
        ++c.points;
        if (!usablePosition(decodePoint(record)))
            ++c.unusable;
        else if (c.points - c.unusable == 1)
            c.firstUsable = time;
        return true;
    });
    return c;
}

// Writes the file through a temporary name: only a whole file takes its final name.
template <typename Format>
bool writeFlightFile(const Flight& f, FlightFile& target, const std::string& finalPath)
{
    target.path = finalPath + ".part";
    Format format{target};
    const bool ok = exportFlight(f.start, f.stop, format) == 1 && platform::replaceFile(target.path.c_str(), finalPath.c_str());
    if (!ok) {
        std::remove(target.path.c_str());
        fprintf(stderr, "kxconvert: %s was not written.\n", finalPath.c_str());
    }
    return ok;
}

void convertFlight(const Flight& f, Conversion& run)
{
    const Census census = takeCensus(f);
    char when[32];
    *isoDateTime(when, utcOf(f.startTime)) = '\0';
    when[10] = ' ';
    when[19] = '\0';
    if (census.points == census.unusable) {
        if (!run.options.quiet)
            printf("%u. %s UTC, %u points, none with a usable position: skipped\n", f.number, when, census.points);
        return;
    }
    FlightFile target;
    target.dateTime = census.firstUsable;
    target.dayNumber = ++run.flightsOfDay[census.firstUsable / 86400];
    const std::string stem = flightStem(utcOf(census.firstUsable), target.dayNumber);
    target.title = flightTitle(utcOf(census.firstUsable), target.dayNumber);
    const std::string base = (std::filesystem::path(run.options.output) / stem).string();
    std::string names;
    const auto write = [&](bool wanted, bool (*writer)(const Flight&, FlightFile&, const std::string&), const char* ext) {
        if (!wanted)
            return;
        if (writer(f, target, base + ext))
            names += (names.empty() ? stem : std::string(" ")) + ext;
        else
            run.failed = true;
    };
    write(run.options.igc, writeFlightFile<IgcFormat>, ".igc");
    write(run.options.gpx, writeFlightFile<GpxFormat>, ".gpx");
    write(run.options.kml, writeFlightFile<TimedKmlFormat>, ".kml");
    ++run.withPosition;
    if (!run.options.quiet)
        printf("%u. %s UTC, %u points, %u without a usable position: %s\n", f.number, when, census.points,
               census.unusable, names.empty() ? "nothing written" : names.c_str());
    fflush(stdout);
}

bool makeOutputFolder(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (std::filesystem::is_directory(folder))
        return true;
    fprintf(stderr, "kxconvert: cannot make the folder %s: %s\n", folder.c_str(),
            error ? error.message().c_str() : "a file of that name is in the way");
    return false;
}

int convert(const Options& options)
{
    const char* reason = "";
    if (!openLogAt(options.input.c_str(), reason)) {
        fprintf(stderr, "kxconvert: cannot read %s: %s\n", options.input.c_str(), reason);
        return exitcode::incomplete;
    }
    if (!makeOutputFolder(options.output)) {
        closeLog();
        return exitcode::incomplete;
    }
    Conversion run{options, {}, 0, false};
    const bool readOk = scanFlights([&](const Flight& f) { convertFlight(f, run); });
    closeLog();
    if (readOk && run.withPosition == 0)
        fprintf(stderr, "kxconvert: no flight with a usable position in %s\n", options.input.c_str());
    return readOk && !run.failed ? exitcode::ok : exitcode::incomplete;
}

}  // namespace

bool createFlightFile(ExportFile& file, const FlightFile& target, const char* head)
{
    if (!file.createAt(target.path.c_str()))
        return false;
    file.put(head);
    return true;
}

bool usablePosition(const MMdata& p)
{
    return p.lat != 0.0f && std::isfinite(p.lat) && std::isfinite(p.lon) && std::fabs(p.lat) <= 90.0f &&
           std::fabs(p.lon) <= 180.0f;
}

void startConverterRun()
{
    data = nullptr;
    resetLogWindow();
    sampletexts::forget();
}

int runConverter(int argc, char** argv)
{
    startConverterRun();
    platform::consoleBytesAsIs();
    if (const int status = answerHelpOrVersion(argc, argv, "kxconvert", KX_PACKAGE_VERSION, helpText); status >= 0)
        return status;
    Options options;
    if (const int status = parseOptions(argc, argv, options); status >= 0)
        return status;
    return convert(options);
}
