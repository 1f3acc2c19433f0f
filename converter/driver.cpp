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

// What a flight of the log is to the library, and what that asks to write.
struct Decision {
    Fate fate = Fate::New;
    std::string stem;
    FormatSet write = 0;  // the formats to write
    std::string said;     // its fate, as the flight's line says it
};

Decision decide(const LogFlight& lf, Conversion& run)
{
    const FlightFigures& f = lf.figures;
    Library& library = run.library;
    const FormatSet wanted = run.options.formats;
    const auto known = library.book.rows.find(f.firstTime);
    if (known == library.book.rows.end())
        return {Fate::New, newStem(library, f.firstTime), wanted, "new"};
    const LogbookRow& old = known->second;
    const std::string copy = " copy (" + std::to_string(old.points) + " points)";
    if (f.points > old.points)
        return {Fate::Replaced, old.stem, wanted | old.files, "replaced the shorter" + copy};
    if (f.points < old.points)
        return {Fate::KeptLonger, old.stem, 0, "kept the longer" + copy};
    // Formats asked for that the library lacks are written; nothing is written over.
    return {Fate::Unchanged, old.stem, wanted & ~old.files, "unchanged"};
}

// Writes the flight's files of the formats in `write`, but no track without
// a position; the formats written.
FormatSet writeFiles(const LogFlight& lf, const std::string& stem, FormatSet write, Conversion& run)
{
    FlightFile target;
    target.dayNumber = dayNumberOf(stem);
    target.title = flightTitle(utcOf(lf.figures.firstTime), target.dayNumber);
    target.figures = &lf.figures;
    target.pilot = &run.options.pilot;
    const LogbookRow row = logbookRow(lf.figures, stem, 0, 0);
    target.row = &row;
    FormatSet written = 0;
    for (std::size_t k = 0; k < formatCount; ++k) {
        const FormatInfo& format = formatTable[k];
        if (!(write & formatBit(k)) || (format.needsPosition && !lf.figures.hasPosition))
            continue;
        if (format.write(lf.flight.start, lf.flight.stop, target, libraryPath(run.library, stem + format.ending)))
            written |= formatBit(k);
        else
            run.failed = true;
    }
    return written;
}

// Takes the flight's row into the logbook, keeping what its other columns
// (the pilot's own) held.
void record(Conversion& run, const LogFlight& lf, const std::string& stem, FormatSet files)
{
    Logbook& book = run.library.book;
    LogbookRow row = logbookRow(lf.figures, stem, files, book.otherColumns.size());
    const auto old = book.rows.find(row.start);
    for (std::size_t k = static_cast<std::size_t>(Column::Count); old != book.rows.end() && k < row.size(); ++k)
        row.set(k, old->second.field(k));
    book.rows[row.start] = row;
}

void printFlightLine(const LogFlight& lf, const Decision& d, FormatSet written)
{
    const FlightFigures& f = lf.figures;
    std::string endings;
    for (std::size_t k = 0; k < formatCount; ++k)
        if (written & formatBit(k))
            endings += (endings.empty() ? "." : " .") + std::string(formatTable[k].name);
    const std::string positions = f.hasPosition ? std::to_string(f.unusable) + " without a usable position"
                                                : "none with a usable position";
    printf("%u. %s UTC, %u points, %s%s: %s%s %s%s%s\n", lf.flight.number,
           shaped(dateAndTime, utcOf(f.firstTime)).c_str(), f.points, positions.c_str(),
           f.possiblyCut ? ", possibly cut" : "", d.said.c_str(),
           d.fate == Fate::Unchanged && written ? ", added" : "", d.stem.c_str(), endings.c_str(),
           f.hasPosition ? "" : " (in the logbook only: no track without a position)");
}

// Decides what the flight is to the library, writes what that asks for,
// takes its row, and says it on the flight's line.
Fate takeFlight(const LogFlight& lf, Conversion& run)
{
    const Decision d = decide(lf, run);
    const FormatSet written = d.write ? writeFiles(lf, d.stem, d.write, run) : 0;
    if (d.fate == Fate::New || d.fate == Fate::Replaced) {
        record(run, lf, d.stem, written);
    } else if (written) {
        run.library.book.rows.at(lf.figures.firstTime).addFiles(written);
    }
    if (!run.options.quiet)
        printFlightLine(lf, d, written);
    fflush(stdout);
    return d.fate;
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
