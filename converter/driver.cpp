// The run of kxconvert: the log's flights, what each is to the library (new,
// unchanged, a longer copy, a shorter one), its files, the logbook, the totals.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <string>
#include <system_error>

#include "converter.h"
#include "exitcodes.h"
#include "library.h"
#include "logfile.h"
#include "platform.h"

namespace {

struct Conversion {
    const Options& options;
    Library& library;
    bool failed = false;
};

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

using Writer = bool (*)(const Flight&, FlightFile&, const std::string&);
struct FormatWriter {
    const char* name;  // as the command line and the logbook's Files column call it
    Writer write;
};
constexpr FormatWriter formats[] = {{"igc", writeFlightFile<IgcFormat>},
                                    {"gpx", writeFlightFile<GpxFormat>},
                                    {"kml", writeFlightFile<TimedKmlFormat>},
                                    {"html", writeFlightFile<PageFormat>}};

bool listed(const std::string& files, const char* name)
{
    return (" " + files + " ").find(std::string(" ") + name + " ") != std::string::npos;
}

bool wanted(const Options& o, const char* name) { return o.formats.count(name) > 0; }

// Writes the flight's files of the formats that `write` picks (no track
// without a position: only the page); the formats written, as the Files
// column lists them, and their endings for the flight's line.
template <typename Pick>
std::string writeFiles(const LogFlight& lf, const std::string& stem, unsigned dayNumber, Conversion& run,
                       std::string& endings, Pick write)
{
    FlightFile target;
    target.dayNumber = dayNumber;
    target.title = flightTitle(utcOf(lf.figures.firstTime), dayNumber);
    target.figures = &lf.figures;
    target.pilot = &run.options.pilot;
    const LogbookRow row = logbookRow(lf.figures, stem, "", 0);
    target.row = &row;
    std::string files;
    for (const FormatWriter& format : formats) {
        if (!write(format.name) || (!lf.figures.hasPosition && format.name != std::string("html")))
            continue;
        if (format.write(lf.flight, target, libraryPath(run.library, stem + "." + format.name))) {
            files += (files.empty() ? "" : " ") + std::string(format.name);
            endings += std::string(endings.empty() ? "" : " ") + "." + format.name;
        } else {
            run.failed = true;
        }
    }
    return files;
}

// The row of a flight taken into the logbook, keeping what its other
// columns (the pilot's own) held.
void record(Conversion& run, const LogFlight& lf, const std::string& stem, const std::string& files)
{
    Logbook& book = run.library.book;
    LogbookRow row = logbookRow(lf.figures, stem, files, book.otherColumns.size());
    const auto old = book.rows.find(row.start);
    for (std::size_t k = static_cast<std::size_t>(Column::Count); old != book.rows.end() && k < row.size(); ++k)
        row.set(k, old->second.field(k));
    book.rows[row.start] = row;
}

// Decides what the flight is to the library, writes what that asks for,
// and says it on the flight's line.
Fate takeFlight(const LogFlight& lf, Conversion& run)
{
    const FlightFigures& f = lf.figures;
    Logbook& book = run.library.book;
    const auto known = book.rows.find(f.firstTime);
    Fate fate = Fate::New;
    std::string stem, endings, said;
    if (known == book.rows.end()) {
        stem = newStem(run.library, f.firstTime);
        record(run, lf, stem, writeFiles(lf, stem, dayNumberOf(stem), run, endings,
                                         [&](const char* name) { return wanted(run.options, name); }));
        said = "new";
    } else {
        const LogbookRow old = known->second;
        stem = old.stem;
        const std::string oldFiles(old.at(Column::Files));
        if (f.points > old.points) {
            fate = Fate::Replaced;
            record(run, lf, stem, writeFiles(lf, stem, dayNumberOf(stem), run, endings, [&](const char* name) {
                       return wanted(run.options, name) || listed(oldFiles, name);
                   }));
            said = "replaced the shorter copy (" + std::to_string(old.points) + " points)";
        } else if (f.points == old.points) {
            fate = Fate::Unchanged;
            // Formats asked for that the library lacks are written; nothing is written over.
            const std::string added = writeFiles(lf, stem, dayNumberOf(stem), run, endings, [&](const char* name) {
                return wanted(run.options, name) && !listed(oldFiles, name);
            });
            if (!added.empty())
                known->second.set(static_cast<std::size_t>(Column::Files), oldFiles + (oldFiles.empty() ? "" : " ") + added);
            said = endings.empty() ? "unchanged" : "unchanged, added";
        } else {
            fate = Fate::KeptLonger;
            said = "kept the longer copy (" + std::to_string(old.points) + " points)";
        }
    }
    if (!run.options.quiet) {
        char when[32];
        char* end = clockTime(isoDate(when, utcOf(f.firstTime)) + 1, utcOf(f.firstTime));
        when[10] = ' ';
        const std::string positions = f.hasPosition ? std::to_string(f.unusable) + " without a usable position"
                                                    : "none with a usable position";
        printf("%u. %s UTC, %u points, %s%s: %s %s%s%s%s\n", lf.flight.number, std::string(when, end).c_str(),
               f.points, positions.c_str(), f.possiblyCut ? ", possibly cut" : "", said.c_str(), stem.c_str(),
               endings.empty() ? "" : ".", endings.empty() ? "" : endings.c_str() + 1,
               f.hasPosition ? "" : " (in the logbook only: no track without a position)");
    }
    fflush(stdout);
    return fate;
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

// Every flight of the open log with its figures, in file order; false when
// reading the log failed (the flights before are there).
bool readFlights(std::vector<LogFlight>& flights)
{
    bool readOk = true;
    const bool scanned = scanFlights(
        [&](const Flight& f) {
            LogFlight lf{f, {}};
            readOk = workOutFigures(f.start, f.stop, lf.figures) && readOk;
            flights.push_back(lf);
        },
        FlightSplit::AtGapsAndBackwardSteps);
    return scanned && readOk;
}

int convert(Options& options)
{
    const char* reason = "";
    if (!openLogAt(options.input.c_str(), reason)) {
        fprintf(stderr, "kxconvert: cannot read %s: %s\n", options.input.c_str(), reason);
        return exitcode::incomplete;
    }
    const bool partial = describeLog(options.input.c_str(), false);
    Library library;
    if (!makeOutputFolder(options.output) || !openLibrary(options.output, library)) {
        closeLog();
        return exitcode::incomplete;
    }
    takeSettings(options);
    std::vector<LogFlight> flights;
    const bool readOk = readFlights(flights);
    if (partial && !flights.empty())
        flights.back().figures.possiblyCut = true;
    // In the order of their starts, so that the new flights of a day number by time.
    std::vector<std::size_t> order(flights.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return flights[a].figures.firstTime < flights[b].figures.firstTime;
    });
    Conversion run{options, library, false};
    std::vector<Fate> fates(flights.size());
    for (const std::size_t i : order)
        fates[i] = takeFlight(flights[i], run);
    closeLog();
    const bool saved = saveLibrary(library) && saveIndex(library);
    if (readOk && flights.empty())
        fprintf(stderr, "kxconvert: no flight in %s\n", options.input.c_str());
    if (!options.quiet)
        printSummary(library, flights, fates);
    return readOk && saved && !run.failed ? exitcode::ok : exitcode::incomplete;
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

void startConverterRun() { startLogRun(); }

int runConverter(int argc, char** argv)
{
    startConverterRun();
    platform::consoleBytesAsIs();
    Options options;
    if (const int status = parseOptions(argc, argv, options); status >= 0)
        return status;
    return convert(options);
}
