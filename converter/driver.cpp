// The run of kxconvert: the log's flights, what each is to the library (new,
// unchanged, a longer copy, a shorter one), their records and files, the
// list, the logbook and the totals; or the library made again from its
// records, or checked.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "converter.h"
#include "exitcodes.h"
#include "library.h"
#include "logfile.h"
#include "platform.h"

namespace {

// What a piece of the log is to the library, and what that asks to write.
struct Decision {
    Fate fate = Fate::New;
    std::string name;
    uint32_t keptPoints = 0;        // the library's copy, before
    Records records;                // the flight's records, when they change
    std::vector<std::string> alsoJoined;  // flights of the library that turn out to be this one too
};

// The flights of the library that the piece is: the same records where they
// share a time, or, for a flight whose records the library does not keep
// yet, a time in common.
std::vector<std::string> flightsOf(const Piece& piece, const std::string& aircraft, Library& library)
{
    std::vector<std::pair<uint32_t, std::string>> found;
    const uint32_t from = firstTime(piece.records), to = lastTime(piece.records);
    for (const auto& [name, flight] : library.flights) {
        const auto [start, last] = timeSpan(library, name);
        if (last < from || start > to)
            continue;
        // Without records, only a time in common tells; an aircraft named otherwise tells apart.
        const bool sameAircraft = aircraft.empty() || flight.aircraft.empty() || aircraft == flight.aircraft;
        if (flight.hasRecords ? overlapOf(piece.records, recordsOf(library, name)) == Overlap::Same : sameAircraft)
            found.emplace_back(start, name);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (const auto& [start, name] : found)
        names.push_back(name);
    return names;
}

Decision decide(const Piece& piece, const std::string& aircraft, Library& library)
{
    const std::vector<std::string> found = flightsOf(piece, aircraft, library);
    if (found.empty())
        return {Fate::New, newStem(library, firstTime(piece.records)), 0, piece.records, {}};
    Decision d{Fate::Unchanged, found.front(), library.flights.at(found.front()).row.points, {}, {}};
    const KeptFlight& kept = library.flights.at(d.name);
    if (!kept.hasRecords) {
        // An earlier version's flight: it takes the piece's records when they hold all of it.
        const bool whole = firstTime(piece.records) <= kept.row.start && pointCount(piece.records) >= kept.row.points;
        d.fate = !whole ? Fate::KeptLonger : pointCount(piece.records) > kept.row.points ? Fate::Replaced : Fate::Unchanged;
        if (whole)
            d.records = piece.records;
        return d;
    }
    Records all = joined(recordsOf(library, d.name), piece.records);
    for (std::size_t k = 1; k < found.size(); ++k)
        if (library.flights.at(found[k]).hasRecords) {
            all = joined(all, recordsOf(library, found[k]));
            d.alsoJoined.push_back(found[k]);
        }
    if (all.size() > recordsOf(library, d.name).size()) {
        d.fate = Fate::Replaced;
        d.records = std::move(all);
    } else if (pointCount(piece.records) < d.keptPoints) {
        d.fate = Fate::KeptLonger;
    }
    return d;
}


void printFlightLine(const Piece& piece, const FlightFigures& f, const Decision& d, FormatSet written)
{
    std::string endings;
    for (std::size_t k = 0; k < formatCount; ++k)
        if (written & formatBit(k))
            endings += (endings.empty() ? "." : " .") + std::string(formatTable[k].name);
    const std::string positions = f.hasPosition ? std::to_string(f.unusable) + " without a usable position"
                                                : "none with a usable position";
    std::string said = d.fate == Fate::New         ? "new"
                       : d.fate == Fate::Unchanged ? "unchanged"
                       : d.fate == Fate::Replaced  ? "replaced the shorter copy (" + std::to_string(d.keptPoints) + " points)"
                                                   : "kept the longer copy (" + std::to_string(d.keptPoints) + " points)";
    if (d.fate == Fate::Unchanged && written)
        said += ", added";
    printf("%u. %s UTC, %u points, %s%s: %s %s%s%s\n", piece.number, shaped(dateAndTime, utcOf(f.firstTime)).c_str(),
           f.points, positions.c_str(), piece.cutStart || piece.cutEnd ? ", possibly cut" : "", said.c_str(),
           d.name.c_str(), endings.c_str(), f.hasPosition ? "" : " (in the logbook only: no track without a position)");
}

struct Conversion {
    const Options& options;
    Library& library;
    AircraftProfile aircraft;  // the run's: of the flights new to the library
    Batch records;   // the records of new and longer flights
    std::vector<std::string> removals;  // files of flights joined to another
    bool failed = false;
    RunCounts counts;
    // What each piece of the log became, for its line once its files are made.
    struct Taken {
        const Piece* piece;
        FlightFigures figures;
        Decision decision;
        FormatSet before;
    };
    std::vector<Taken> taken;
};

// Whether the flight may lack records at its ends is told by the last piece
// that reached them: a whole log's flight is whole there, a partial log's last
// flight and the oldest of a memory that wrapped may not be.
void noteCuts(const Piece& piece, Library& library, const std::string& name)
{
    const auto flight = library.flights.find(name);
    if (flight == library.flights.end() || !flight->second.hasRecords)
        return;
    KeptFlight& f = flight->second;
    const auto [first, last] = timeSpan(library, name);
    const bool start = firstTime(piece.records) == first ? piece.cutStart : f.cutStart;
    const bool end = lastTime(piece.records) == last ? piece.cutEnd : f.cutEnd;
    if (start == f.cutStart && end == f.cutEnd)
        return;
    f.cutStart = start;
    f.cutEnd = end;
    f.remake = true;
    f.remakeFormats |= f.row.files;
}

// Decides what the piece is to the library and keeps its records where they change.
void takePiece(const Piece& piece, Conversion& run)
{
    Library& library = run.library;
    Conversion::Taken t{&piece, {}, decide(piece, run.aircraft.name, library), 0};
    useLogBytes(piece.records);
    workOutFigures(0, static_cast<uint32_t>(piece.records.size() - recordSize), run.aircraft, t.figures);
    const Decision& d = t.decision;
    KeptFlight& flight = library.flights[d.name];
    t.before = flight.row.files & (d.fate == Fate::New ? 0 : ~FormatSet{0});
    if (d.fate == Fate::New) {
        flight.aircraft = run.aircraft.name;
        flight.registration = run.aircraft.registration;
    }
    if (!d.records.empty()) {
        if (!stageRecords(library, run.records, d.name, d.records)) {
            run.failed = true;
            if (d.fate == Fate::New)
                library.flights.erase(d.name);
            return;
        }
        flight.hasRecords = true;
        library.records[d.name] = d.records;
        flight.row.points = static_cast<uint32_t>(pointCount(d.records));
        flight.row.stem = d.name;
        flight.remake = true;
        flight.remakeFormats |= run.options.formats | flight.row.files;
        for (const std::string& other : d.alsoJoined)
            dropJoined(library, other, d.name, run.removals);
        library.flights.at(d.name).row.start = firstTime(d.records);
    } else if (d.fate == Fate::Unchanged && flight.hasRecords) {
        // Formats asked for that the library lacks are added; nothing is written over.
        const FormatSet missing = run.options.formats & ~flight.row.files;
        if (missing) {
            flight.remake = true;
            flight.remakeFormats |= missing;
        }
    }
    noteCuts(piece, library, d.name);
    run.counts.flights.add(t.figures.flightSeconds(), t.figures.engineSeconds);
    ++run.counts.fates[static_cast<std::size_t>(d.fate)];
    run.taken.push_back(std::move(t));
}

bool makeOutputFolder(const std::string& folder)
{
    std::error_code error;
    platform::noteFileChange("create", folder.c_str());
    std::filesystem::create_directories(folder, error);
    if (std::filesystem::is_directory(folder))
        return true;
    fprintf(stderr, "kxconvert: cannot make the folder %s: %s\n", folder.c_str(),
            error ? error.message().c_str() : "a file of that name is in the way");
    return false;
}

// The flights of the log named on the command line, oldest first; false
// with the reason when it cannot be read.
bool readLog(const Options& options, std::vector<Piece>& pieces, bool& readOk)
{
    const char* reason = "";
    uint64_t size = 0;
    std::time_t modified = 0;
    constexpr uint64_t most = 64ull << 20;  // 64 downloads of the instrument's memory
    if (platform::regularFileInfo(options.input.c_str(), size, modified) && size > most) {
        fprintf(stderr, "kxconvert: %s is %llu bytes; a log of the instrument is 1 MiB, and kxconvert reads logs of "
                        "up to 64 MiB. Nothing was converted.\n", options.input.c_str(),
                static_cast<unsigned long long>(size));
        return false;
    }
    if (!openLogAt(options.input.c_str(), reason)) {
        fprintf(stderr, "kxconvert: cannot read %s: %s\n", options.input.c_str(), reason);
        return false;
    }
    const bool partial = describeLog(options.input.c_str(), false);
    readOk = readPieces(partial, pieces);
    closeLog();
    return true;
}

// Records, then the files made from them, then the list, the logbook and
// the index: each step whole before the next (store.h).
bool finishRun(Conversion& run)
{
    Library& library = run.library;
    bool ok = commit(library.store, run.records);
    for (const std::string& path : run.removals)
        platform::removeFile(path.c_str());
    Batch files;
    ok = remakeFlights(library, files) && ok;
    ok = commit(library.store, files) && ok;
    return saveLibrary(library) && ok;
}

// The exit status of a run whose library could not be opened: Ctrl-C while
// it waited for another run, or the library that cannot be locked.
int notOpened()
{
    const int signal = platform::pendingInterrupt();
    platform::releaseInterrupts();
    return signal ? exitcode::interrupted(signal) : exitcode::incomplete;
}

void printLines(const Conversion& run)
{
    for (const Conversion::Taken& t : run.taken) {
        const auto flight = run.library.flights.find(t.decision.name);
        const FormatSet files = flight == run.library.flights.end() ? 0 : flight->second.row.files;
        const FormatSet written = t.decision.fate == Fate::Unchanged    ? files & ~t.before
                                  : t.decision.fate == Fate::KeptLonger ? 0
                                                                        : files;
        printFlightLine(*t.piece, t.figures, t.decision, written);
    }
}

int convert(Options& options)
{
    std::vector<Piece> pieces;
    bool readOk = true;
    if (!readLog(options, pieces, readOk))
        return exitcode::incomplete;
    if (!makeOutputFolder(options.output))
        return exitcode::incomplete;
    takeSettings(options);
    platform::catchInterrupts();
    Library library;
    if (!openLibrary(options.output, options.settings, library))
        return notOpened();
    Conversion run{options, library, options.settings.profileOf(options.settings.pilot.aircraft), {}, {}, false, {}, {}};
    joinRepeatedFlights(library, run.records, run.removals);
    std::size_t taken = 0;
    for (; taken < pieces.size() && !platform::pendingInterrupt(); ++taken)
        takePiece(pieces[taken], run);
    const bool saved = finishRun(run);
    const int signal = platform::pendingInterrupt();
    if (saved && !signal && !run.failed)
        markComplete(library.store);
    platform::releaseInterrupts();
    if (!options.quiet)
        printLines(run);
    fflush(stdout);
    if (readOk && pieces.empty())
        fprintf(stderr, "kxconvert: no flight in %s\n", options.input.c_str());
    if (signal) {
        fprintf(stderr, "kxconvert: interrupted: %zu of the %zu flights of %s are in the library %s; converting the "
                        "log again completes it.\n", taken, pieces.size(), options.input.c_str(), options.output.c_str());
        return exitcode::interrupted(signal);
    }
    if (!options.quiet)
        printSummary(library, run.counts);
    return readOk && saved && !run.failed ? exitcode::ok : exitcode::incomplete;
}

// Every flight's files and rows made again from its records.
int rebuild(Options& options)
{
    takeSettings(options);
    platform::catchInterrupts();
    Library library;
    if (!openLibrary(options.output, options.settings, library))
        return notOpened();
    unsigned made = 0, without = 0;
    for (auto& [name, flight] : library.flights) {
        if (!flight.hasRecords) {
            ++without;
            continue;
        }
        flight.remake = true;
        flight.remakeFormats |= (flight.row.files ? flight.row.files : defaultFormats()) |
                                (options.formatsGiven ? options.formats : 0);
        ++made;
    }
    Batch files;
    bool ok = remakeFlights(library, files);
    ok = commit(library.store, files) && ok;
    ok = saveLibrary(library) && ok;
    const int signal = platform::pendingInterrupt();
    if (ok && !signal)
        markComplete(library.store);
    platform::releaseInterrupts();
    if (!options.quiet)
        printf("Made again from their records: %u flights. Kept as they are, their records not in the library: %u.\n",
               made, without);
    if (signal) {
        fprintf(stderr, "kxconvert: interrupted: the flights not made again yet are made by the next run.\n");
        return exitcode::interrupted(signal);
    }
    return ok ? exitcode::ok : exitcode::incomplete;
}

}  // namespace

bool createFlightFile(ExportFile& file, const FlightFile& target, const char* head)
{
    if (!file.createAt(target.path.c_str()))
        return false;
    file.writeBackOnClose();
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
    startLogRun();
    platform::interruptSignal = 0;
}

int runConverter(int argc, char** argv)
{
    startConverterRun();
    platform::consoleBytesAsIs();
    Options options;
    if (const int status = parseOptions(argc, argv, options); status >= 0)
        return status;
    switch (options.mode) {
    case Mode::Rebuild: return rebuild(options);
    case Mode::Check: {
        Library library;
        platform::catchInterrupts();
        takeSettings(options);
        const bool opened = readLibrary(options.output, options.settings, library);
        platform::releaseInterrupts();
        return opened ? checkLibrary(library) : exitcode::incomplete;
    }
    case Mode::Convert: break;
    }
    return convert(options);
}
