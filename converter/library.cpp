// The output folder as a flight library: its list of flights, the records
// each is made from, the names of flights new to it, the logbook as the
// pilot's view, the index and the totals.
#include "library.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "pagetext.h"

namespace {

constexpr const char* listName = "flights.csv";
constexpr const char* recordsEnding = ".kxr";
constexpr const char* recordsColumn = "Records";
constexpr const char* cutColumn = "Cut";
constexpr uint64_t unknownSize = UINT64_MAX;  // of records not looked at

std::string said(const Totals& t)
{
    return std::to_string(t.flights) + (t.flights == 1 ? " flight" : " flights") + ", flight time " +
           duration(t.flightSeconds) + ", engine time " + duration(t.engineSeconds);
}

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The place of a column of the list after the program's, made when missing.
std::size_t listColumn(Library& library, const char* name)
{
    const auto it = std::find(library.listColumns.begin(), library.listColumns.end(), name);
    if (it != library.listColumns.end())
        return columnCount + static_cast<std::size_t>(it - library.listColumns.begin());
    library.listColumns.emplace_back(name);
    return columnCount + library.listColumns.size() - 1;
}

// The flight's aircraft as its row names it.
void takeAircraftOf(KeptFlight& flight)
{
    flight.aircraft = std::string(flight.row.at(Column::Aircraft));
    flight.registration = std::string(flight.row.at(Column::Registration));
}

std::string cutText(bool start, bool end) { return start && end ? "start end" : start ? "start" : end ? "end" : ""; }

// A row of the list with the columns of its own filled from `flight`.
void fillListColumns(Library& library, KeptFlight& flight)
{
    const std::size_t records = listColumn(library, recordsColumn), cut = listColumn(library, cutColumn);
    std::vector<std::string> fields = flight.row.fields();
    fields.resize(columnCount + library.listColumns.size());
    fields[records] = flight.hasRecords ? "kept" : "";
    fields[cut] = cutText(flight.cutStart, flight.cutEnd);
    flight.row.assign(fields);
}

bool readRecordsFile(const std::string& path, Records& records)
{
    std::string reason;
    records.clear();
    if (!readWhole(path, records, reason)) {
        fprintf(stderr, "kxconvert: cannot read the records %s: %s\n", path.c_str(), reason.c_str());
        return false;
    }
    records.resize(records.size() - records.size() % recordSize);
    return !records.empty();
}

std::string listPath(const Library& library)
{
    return (std::filesystem::path(library.folder) / "records" / listName).string();
}

// The list of the library, records/flights.csv.
void readList(Library& library)
{
    const std::string path = listPath(library);
    std::string text, reason;
    library.listFound = platform::exists(path.c_str());
    if (library.listFound && !readWhole(path, text, reason))
        fprintf(stderr, "kxconvert: cannot read %s: %s; the flights' records make it again.\n", path.c_str(),
                reason.c_str());
    Logbook list;
    list.unreadableThen = "its flight's row is made again from its records";
    readLogbook(text, path, RowsNeed::Identity, list);
    library.listColumns = list.otherColumns;
    const std::size_t records = listColumn(library, recordsColumn), cut = listColumn(library, cutColumn);
    for (LogbookRow& row : list.rows) {
        KeptFlight flight;
        flight.hasRecords = row.size() > records && row.field(records) == "kept";
        const std::string_view cutAt = row.size() > cut ? row.field(cut) : std::string_view();
        flight.cutStart = cutAt.find("start") != std::string_view::npos;
        flight.cutEnd = cutAt.find("end") != std::string_view::npos;
        flight.row = std::move(row);
        takeAircraftOf(flight);
        const std::string name = flight.row.stem;
        library.flights.emplace(name, std::move(flight));
    }
}

// A library that an earlier version made: its flights from the logbook.
void takeOver(Library& library)
{
    Logbook old;
    old.sayUnreadable = false;  // the logbook is read again as the pilot's view, which names them
    readLogbook(library.bookText, logbookName, RowsNeed::Identity, old);
    for (LogbookRow& row : old.rows) {
        KeptFlight flight;
        flight.cutEnd = row.at(Column::PossiblyCut) == "yes";
        const auto it = library.flights.find(row.stem);
        if (it == library.flights.end() || it->second.row.points < row.points) {
            flight.row = std::move(row);
            takeAircraftOf(flight);
            library.flights[flight.row.stem] = std::move(flight);
        }
    }
    if (!library.flights.empty())
        fprintf(stderr, "kxconvert: %s has no list of its flights yet (%s): %zu flights taken from its logbook; "
                        "their records are kept the next time a log holds them.\n",
                library.folder.c_str(), (std::filesystem::path("records") / listName).string().c_str(),
                library.flights.size());
}

// The formats whose files of `name` are in the folder.
FormatSet filesThere(const Library& library, const std::string& name)
{
    FormatSet there = 0;
    for (std::size_t k = 0; k < formatCount; ++k)
        if (library.names.has(name + formatTable[k].ending))
            there |= formatBit(k);
    return there;
}

// Records that the list does not know, or knows with another number of
// points (a run stopped after it kept them), are made into their flight's
// row and files again; a flight whose records and files are gone has left.
void reconcile(Library& library)
{
    std::set<std::string> withRecords;
    for (const platform::FolderEntry& e : library.recordFiles) {
        const std::string name = e.name.substr(0, e.name.size() - std::strlen(recordsEnding));
        if (!e.regular || !endsWith(e.name, recordsEnding) || dayNumberOf(name) == 0 || e.size < recordSize)
            continue;
        withRecords.insert(name);
        KeptFlight& flight = library.flights[name];
        flight.hasRecords = true;
        const bool sized = e.size != unknownSize;
        // Files that a stopped run made from the records, before the list said so.
        const FormatSet made = flight.row.size() > 0 && sized ? filesThere(library, name) & ~flight.row.files : 0;
        if (made) {
            flight.changing();
            flight.row.addFiles(made);
        }
        if ((sized && flight.row.points != e.size / recordSize) || flight.row.stem != name) {
            flight.remake = true;
            flight.remakeFormats = (flight.row.files ? flight.row.files : defaultFormats()) | filesThere(library, name);
        }
        library.names.add(name);
    }
    for (auto it = library.flights.begin(); it != library.flights.end();) {
        KeptFlight& flight = it->second;
        if (flight.hasRecords && !withRecords.count(it->first)) {
            flight.hasRecords = false;
            if (!filesThere(library, it->first)) {
                fprintf(stderr, "kxconvert: %s: its records and files were removed; it leaves the library.\n",
                        it->first.c_str());
                it = library.flights.erase(it);
                continue;
            }
        }
        ++it;
    }
}

// The aircraft and the registration that the pilot wrote into the logbook
// for a flight: its aircraft from now on, its figures made again with that
// aircraft's limits.
void takeAircraftFromLogbook(Library& library)
{
    for (const LogbookRow& row : library.book.rows) {
        const auto it = library.flights.find(row.stem);
        if (it == library.flights.end())
            continue;
        KeptFlight& f = it->second;
        const std::string aircraft(row.at(Column::Aircraft)), registration(row.at(Column::Registration));
        if ((aircraft.empty() || aircraft == f.aircraft) && (registration.empty() || registration == f.registration))
            continue;
        f.aircraft = aircraft.empty() ? f.aircraft : aircraft;
        f.registration = registration.empty() ? f.registration : registration;
        fprintf(stderr, "kxconvert: %s: its aircraft is %s%s%s from now on, as the logbook says.\n", row.stem.c_str(),
                f.aircraft.c_str(), f.registration.empty() ? "" : ", registration ", f.registration.c_str());
        f.changing();
        f.row.set(static_cast<std::size_t>(Column::Aircraft), f.aircraft);
        f.row.set(static_cast<std::size_t>(Column::Registration), f.registration);
        if (f.hasRecords) {
            f.remake = true;
            f.remakeFormats |= f.row.files;
        }
    }
}

// The row of a flight made again from its records, its list columns kept.
bool refreshRow(Library& library, const std::string& name, const AircraftProfile& profile, FlightFigures& figures)
{
    KeptFlight& flight = library.flights.at(name);
    const Records& records = recordsOf(library, name);
    if (records.empty())
        return false;
    useLogBytes(records);
    workOutFigures(0, static_cast<uint32_t>(records.size() - recordSize), profile, figures);
    figures.possiblyCut = flight.cutStart || flight.cutEnd;
    flight.changing();
    flight.row = logbookRow(figures, name, flight.row.files, library.listColumns.size());
    fillListColumns(library, flight);
    return true;
}

// Every flight's name and the highest number of each day.
void noteNames(Library& library)
{
    for (const auto& [name, flight] : library.flights) {
        library.names.add(name);
        unsigned& highest = library.highest[flight.row.start / 86400];
        highest = std::max(highest, dayNumberOf(name));
    }
}

bool openShared(const std::string& folder, Library& library)
{
    library.folder = folder;
    if (!lockLibrary(library.store, folder))
        return false;
    const std::string book = libraryPath(library, logbookName);
    std::string reason;
    if (platform::exists(book.c_str()) && !readWhole(book, library.bookText, reason)) {
        fprintf(stderr, "kxconvert: cannot read %s: %s. Nothing was written, so that nothing of it is lost.\n",
                book.c_str(), reason.c_str());
        return false;
    }
    readList(library);
    if (!library.listFound)
        takeOver(library);
    return true;
}

// The names in the library's folder and in its records, from one listing each.
// The sizes of the records are looked at only after a run that may have
// been stopped: a library that the last run left complete agrees with its list.
void listFolders(Library& library)
{
    library.names.listed = platform::fileNames(library.folder);
    std::sort(library.names.listed.begin(), library.names.listed.end());
    const std::string records = (std::filesystem::path(library.folder) / "records").string();
    if (!library.store.lastRunComplete) {
        platform::folderEntries(records, library.recordFiles);
        return;
    }
    for (const std::string& name : platform::fileNames(records)) {
        platform::FolderEntry e;
        e.name = name;
        e.regular = true;
        e.size = unknownSize;
        library.recordFiles.push_back(e);
    }
}

}  // namespace

std::string libraryPath(const Library& library, const std::string& name)
{
    return (std::filesystem::path(library.folder) / name).string();
}

std::string recordsPath(const Library& library, const std::string& name)
{
    return (std::filesystem::path(library.folder) / "records" / (name + recordsEnding)).string();
}

const Records& recordsOf(Library& library, const std::string& name)
{
    Records& records = library.records[name];
    const auto it = library.flights.find(name);
    if (records.empty() && it != library.flights.end() && it->second.hasRecords)
        readRecordsFile(recordsPath(library, name), records);
    return records;
}

bool openLibrary(const std::string& folder, const Settings& settings, Library& library)
{
    library.settings = &settings;
    if (!openShared(folder, library))
        return false;
    removeLeftovers(folder);
    listFolders(library);
    reconcile(library);
    readLogbook(library.bookText, libraryPath(library, logbookName), RowsNeed::Name, library.book);
    takeAircraftFromLogbook(library);
    for (auto it = library.flights.begin(); it != library.flights.end();) {
        FlightFigures figures;
        KeptFlight& flight = it->second;
        if (flight.remake && !refreshRow(library, it->first, profileOf(library, flight), figures)) {
            flight.remake = flight.hasRecords = false;
            if (flight.row.stem.empty()) {  // records that cannot be read, of no flight the list knows
                it = library.flights.erase(it);
                continue;
            }
        }
        ++it;
    }
    noteNames(library);
    return true;
}

bool readLibrary(const std::string& folder, const Settings& settings, Library& library)
{
    library.settings = &settings;
    if (!openShared(folder, library))
        return false;
    listFolders(library);
    noteNames(library);
    readLogbook(library.bookText, libraryPath(library, logbookName), RowsNeed::Name, library.book);
    return true;
}

std::pair<uint32_t, uint32_t> timeSpan(Library& library, const std::string& name)
{
    const auto records = library.records.find(name);
    if (records != library.records.end() && !records->second.empty())
        return {firstTime(records->second), lastTime(records->second)};
    const LogbookRow& row = library.flights.at(name).row;
    uint32_t span = 0;
    parseDuration(row.at(Column::RecordSpan), span);
    return {row.start, row.start + span};
}

void dropJoined(Library& library, const std::string& name, const std::string& into, std::vector<std::string>& removals)
{
    const KeptFlight& flight = library.flights.at(name);
    for (std::size_t k = 0; k < formatCount; ++k)
        if (flight.row.files & formatBit(k))
            removals.push_back(libraryPath(library, name + formatTable[k].ending));
    removals.push_back(recordsPath(library, name));
    fprintf(stderr, "kxconvert: %s holds part of the same flight as %s: its records are joined to %s's, and its "
                    "files and row are no more.\n", name.c_str(), into.c_str(), into.c_str());
    library.flights.erase(name);
    library.records.erase(name);
}

void joinRepeatedFlights(Library& library, Batch& batch, std::vector<std::string>& removals)
{
    if (std::none_of(library.flights.begin(), library.flights.end(), [](const auto& f) { return f.second.remake; }))
        return;
    std::vector<std::pair<uint32_t, std::string>> starts;
    for (const auto& [name, flight] : library.flights)
        if (flight.hasRecords)
            starts.emplace_back(timeSpan(library, name).first, name);
    std::sort(starts.begin(), starts.end());
    std::string into;
    uint32_t reach = 0;  // the last record of the flights from `into` on
    for (const auto& [start, name] : starts) {
        // Only a flight whose records changed since the list was written can repeat another.
        const bool changed = library.flights.at(into.empty() ? name : into).remake || library.flights.at(name).remake;
        if (!into.empty() && start <= reach && changed &&
            overlapOf(recordsOf(library, into), recordsOf(library, name)) == Overlap::Same) {
            KeptFlight& kept = library.flights.at(into);
            library.records[into] = joined(recordsOf(library, into), recordsOf(library, name));
            if (!stageRecords(library, batch, into, library.records[into]))
                return;
            kept.remake = true;
            kept.remakeFormats |= kept.row.files | library.flights.at(name).row.files;
            kept.row.points = 0;  // the list's row is no longer the records'
            dropJoined(library, name, into, removals);
            reach = std::max(reach, lastTime(library.records[into]));
            continue;
        }
        into = name;
        reach = timeSpan(library, name).second;
    }
}

std::string newStem(Library& library, uint32_t start)
{
    unsigned& number = library.highest[start / 86400];
    const auto taken = [&](const std::string& stem) {
        if (library.names.has(stem))
            return true;
        for (std::size_t k = 0; k < formatCount; ++k)
            if (library.names.has(stem + formatTable[k].ending))
                return true;
        return false;
    };
    std::string stem;
    do
        stem = flightStem(utcOf(start), ++number);
    while (taken(stem));
    library.names.add(stem);
    return stem;
}

bool stageRecords(Library& library, Batch& batch, const std::string& name, const Records& records)
{
    std::string reason;
    const std::string path = recordsPath(library, name);
    if (stage(batch, path, [&](const Emit& emit) { emit(records); }, reason))
        return true;
    fprintf(stderr, "kxconvert: %s was not written: %s\n", path.c_str(), reason.c_str());
    return false;
}

AircraftProfile profileOf(const Library& library, const KeptFlight& flight)
{
    AircraftProfile profile = library.settings ? library.settings->profileOf(flight.aircraft) : AircraftProfile{};
    profile.name = flight.aircraft;
    if (!flight.registration.empty())
        profile.registration = flight.registration;
    return profile;
}

bool remakeFlights(Library& library, Batch& batch)
{
    bool ok = true;
    for (auto& [name, flight] : library.flights) {
        if (!flight.remake)
            continue;
        if (platform::pendingInterrupt())
            break;
        FlightFigures figures;
        const AircraftProfile profile = profileOf(library, flight);
        if (!refreshRow(library, name, profile, figures))
            continue;
        PilotDetails pilot = library.settings ? library.settings->pilot : PilotDetails{};
        pilot.aircraft = profile.name;
        pilot.registration = profile.registration;
        FlightFile target;
        target.dayNumber = dayNumberOf(name);
        target.title = flightTitle(utcOf(figures.firstTime), target.dayNumber);
        target.figures = &figures;
        target.pilot = &pilot;
        target.row = &flight.row;
        FormatSet written = flight.row.files & ~flight.remakeFormats & filesThere(library, name);
        const Records& records = recordsOf(library, name);
        for (std::size_t k = 0; k < formatCount; ++k) {
            const FormatInfo& format = formatTable[k];
            if (!(flight.remakeFormats & formatBit(k)) || (format.needsPosition && !figures.hasPosition))
                continue;
            const std::string path = libraryPath(library, name + format.ending);
            target.path = temporaryName(path);
            useLogBytes(records);
            if (format.write(0, static_cast<uint32_t>(records.size() - recordSize), target)) {
                stageWritten(batch, path);
                library.names.add(name + format.ending);
                written |= formatBit(k);
            } else {
                fprintf(stderr, "kxconvert: %s was not written.\n", path.c_str());
                ok = false;
            }
        }
        flight.changing();
        flight.row = logbookRow(figures, name, written, library.listColumns.size());
        fillListColumns(library, flight);
        flight.remake = false;
    }
    return ok;
}

namespace {

// Rows in the order of their flights' starts, and of their names at one start.
std::vector<const LogbookRow*> inOrder(std::vector<const LogbookRow*> rows)
{
    std::sort(rows.begin(), rows.end(), [](const LogbookRow* a, const LogbookRow* b) {
        return a->start != b->start ? a->start < b->start : a->stem < b->stem;
    });
    return rows;
}

// The pilot's view: each flight's row from the list, then the pilot's own
// columns as the logbook holds them for its name. A program cell that says
// neither what the list held (what the logbook was written with) nor what
// the records give now is the pilot's edit: it is kept in a column of the
// pilot's, "<column> (pilot)", and said.
struct PilotView {
    std::vector<std::string> otherColumns;
    std::vector<LogbookRow> rows;
};

PilotView pilotView(Library& library)
{
    Logbook& book = library.book;
    PilotView view;
    view.otherColumns = book.otherColumns;
    const auto column = [&](const std::string& name) {
        const auto it = std::find(view.otherColumns.begin(), view.otherColumns.end(), name);
        if (it != view.otherColumns.end())
            return static_cast<std::size_t>(it - view.otherColumns.begin());
        view.otherColumns.push_back(name);
        return view.otherColumns.size() - 1;
    };
    std::map<std::string, std::vector<std::string>> own;  // the pilot's cells by name, where there are any
    for (const LogbookRow& row : book.rows) {
        const auto flight = library.flights.find(row.stem);
        if (flight == library.flights.end()) {
            book.unreadable += logbookLine(book.form, row);
            fprintf(stderr, "kxconvert: %s: its row names no flight of the library; it is kept in %s.\n",
                    row.stem.c_str(), unreadableName);
            continue;
        }
        for (std::size_t k = 0; k < book.otherColumns.size() && columnCount + k < row.size(); ++k) {
            const std::string_view cell = row.field(columnCount + k);
            if (cell.empty())
                continue;
            std::vector<std::string>& cells = own[row.stem];
            cells.resize(std::max(cells.size(), k + 1));
            if (cells[k].empty())
                cells[k] = std::string(cell);
        }
        const LogbookRow& before = flight->second.asListed();
        for (std::size_t k = 0; k < columnCount; ++k) {
            const std::string_view made = flight->second.row.field(k), cell = row.field(k);
            if (saysTheSame(made, cell) || (k < before.size() && saysTheSame(before.field(k), cell)))
                continue;
            const std::string header = columnHeader(k) + std::string(" (pilot)");
            const std::size_t at = column(header);
            std::vector<std::string>& cells = own[row.stem];
            cells.resize(std::max(cells.size(), at + 1));
            if (cells[at] != cell) {
                fprintf(stderr, "kxconvert: %s: %s's \"%s\" reads \"%s\" where its records give \"%s\"; it is kept "
                                "as \"%s\".\n", logbookName, row.stem.c_str(), columnHeader(k),
                        std::string(cell).c_str(), std::string(made).c_str(), header.c_str());
                cells[at] = std::string(cell);
            }
        }
    }
    for (const auto& [name, flight] : library.flights) {
        if (flight.row.size() == 0)
            continue;  // a flight new to the library, made by the next run from its records
        const auto it = own.find(name);
        std::vector<std::string> cells = it != own.end() ? it->second : std::vector<std::string>();
        cells.resize(view.otherColumns.size());
        view.rows.push_back(flight.row.withOthers(columnCount, cells));
    }
    return view;
}

}  // namespace

bool saveLibrary(Library& library)
{
    // The lines that could not be read go aside first, so that no line is
    // lost; then the logbook, the index and the list take their names
    // together, the logbook first: the list never runs ahead of the logbook
    // whose cells it tells the pilot's edits by.
    PilotView view = pilotView(library);
    std::string reason;
    const std::string aside = libraryPath(library, unreadableName);
    if (!library.book.unreadable.empty() && !appendOnce(aside, library.book.unreadable, reason)) {
        fprintf(stderr, "kxconvert: cannot keep the lines it could not read in %s: %s. The logbook was not updated, "
                        "so that none of them is lost.\n", aside.c_str(), reason.c_str());
        return false;
    }
    std::vector<const LogbookRow*> rows, listed;
    for (const LogbookRow& row : view.rows)
        rows.push_back(&row);
    for (const auto& [name, flight] : library.flights)
        if (flight.row.size() > 0)
            listed.push_back(&flight.row);
    const std::vector<const LogbookRow*> ordered = inOrder(rows);
    std::string text;
    writeLogbook(library.book.form, view.otherColumns, ordered, [&](const std::string& line) { text += line; });
    Batch batch;
    const std::string book = libraryPath(library, logbookName);
    if (text != library.bookText && !stage(batch, book, [&](const Emit& emit) { emit(text); }, reason)) {
        fprintf(stderr, "kxconvert: cannot write %s: %s. It is as it was; the flights' records are kept, and the "
                        "next run writes it.\n", book.c_str(), reason.c_str());
        return false;
    }
    const auto exists = [&](const std::string& name) { return library.names.has(name); };
    const std::string index = libraryPath(library, "index.html");
    static const Settings none;
    const Settings& settings = library.settings ? *library.settings : none;
    bool ok = stage(batch, index, [&](const Emit& emit) { page::indexPage(ordered, exists, settings, emit); }, reason);
    if (!ok)
        fprintf(stderr, "kxconvert: cannot write %s: %s. It is as it was.\n", index.c_str(), reason.c_str());
    const std::string list = listPath(library);
    if (!stage(batch, list, [&](const Emit& emit) { writeLogbook(LogbookForm{}, library.listColumns, inOrder(listed), emit); },
               reason)) {
        fprintf(stderr, "kxconvert: cannot write %s: %s. The flights' records are kept; the next run makes it.\n",
                list.c_str(), reason.c_str());
        ok = false;
    }
    ok = commit(library.store, batch) && ok;
    if (ok)
        library.bookText = text;
    return ok;
}

namespace {

// What the summary calls each fate.
struct FateWord {
    Fate id;
    const char* word;
};
constexpr FateWord fateWords[] = {{Fate::New, "new"},
                                  {Fate::Unchanged, "unchanged"},
                                  {Fate::Replaced, "replaced by a longer copy"},
                                  {Fate::KeptLonger, "kept as the longer copy"}};
static_assert(followsEnum(fateWords, static_cast<std::size_t>(Fate::Count)), "a word for every fate, in its order");

}  // namespace

void printSummary(const Library& library, const RunCounts& run)
{
    // Each aircraft's engine and next service; one due within two hours is said first.
    std::map<std::string, uint64_t> engine;
    for (const auto& [name, flight] : library.flights) {
        uint32_t seconds = 0;
        parseDuration(flight.row.at(Column::EngineTime), seconds);
        engine[flight.aircraft] += seconds;
    }
    std::string first, after;
    for (const auto& [aircraft, seconds] : engine) {
        const AircraftProfile profile = library.settings ? library.settings->profileOf(aircraft) : AircraftProfile{};
        if (aircraft.empty() || !profile.serviceEvery)
            continue;
        const EngineHours hours = engineHoursOf(profile, seconds);
        (hours.until && *hours.until < 2 ? first : after) += aircraft + ": engine " + hours.said() + ".\n";
    }
    fputs(first.c_str(), stdout);
    Totals all, year;
    const int thisYear = utcOf(static_cast<uint32_t>(std::time(nullptr))).year;
    for (const auto& [name, flight] : library.flights) {
        all.add(flight.row);
        if (utcOf(flight.row.start).year == thisYear)
            year.add(flight.row);
    }
    std::string kinds;
    for (const FateWord& f : fateWords)
        if (const unsigned n = run.fates[static_cast<std::size_t>(f.id)])
            kinds += (kinds.empty() ? " (" : ", ") + std::to_string(n) + " " + f.word;
    printf("This run: %s%s.\n", said(run.flights).c_str(), kinds.empty() ? "" : (kinds + ")").c_str());
    printf("The library: in %d %s; in all %s.\n", thisYear, said(year).c_str(), said(all).c_str());
    fputs(after.c_str(), stdout);
}

namespace {

// What --check knows of a flight, or of a flight's IGC file that no row names.
struct Holder {
    std::string name;    // the flight's, or the file's
    uint32_t first = 0, last = 0;
    bool records = false;
    std::map<uint32_t, std::string> fixes;  // the IGC file's B records by UTC time
};

// The B records of an IGC file by UTC time, from its date and the times of day.
bool readIgc(const std::string& path, Holder& h)
{
    std::string text, reason;
    if (!readWhole(path, text, reason))
        return false;
    const std::size_t date = text.find("HFDTE");
    const std::size_t digits = date == std::string::npos ? date : text.find_first_of("0123456789", date);
    if (digits == std::string::npos || digits + 6 > text.size())
        return false;
    const auto two = [&](std::size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
    int64_t day = secondsOf(UtcTime{2000 + two(digits + 4), two(digits + 2), two(digits), 0, 0, 0});
    int64_t previous = -1;
    for (std::size_t at = text.find("\nB"); at != std::string::npos; at = text.find("\nB", at + 1)) {
        const std::size_t end = text.find_first_of("\r\n", at + 1);
        const std::string line = text.substr(at + 1, end - at - 1);
        if (line.size() < 7 || line.find_first_not_of("0123456789", 1) < 7)
            continue;
        const int64_t ofDay = std::stoi(line.substr(1, 2)) * 3600 + std::stoi(line.substr(3, 2)) * 60 + std::stoi(line.substr(5, 2));
        if (ofDay < previous)
            day += 86400;  // past midnight
        previous = ofDay;
        h.fixes[static_cast<uint32_t>(day + ofDay)] = line.substr(7);
    }
    if (h.fixes.empty())
        return false;
    h.first = h.fixes.begin()->first;
    h.last = h.fixes.rbegin()->first;
    return true;
}

// True when two holders hold one flight: the same records, or the same B
// records, for the time they share.
bool oneFlight(Library& library, const Holder& a, const Holder& b)
{
    if (a.records && b.records)
        return overlapOf(recordsOf(library, a.name), recordsOf(library, b.name)) == Overlap::Same;
    if (a.fixes.empty() || b.fixes.empty())
        return false;
    const uint32_t from = std::max(a.first, b.first), to = std::min(a.last, b.last);
    const auto window = [&](const Holder& h) {
        return std::map<uint32_t, std::string>(h.fixes.lower_bound(from), h.fixes.upper_bound(to));
    };
    const auto inA = window(a);
    return !inA.empty() && inA == window(b);
}

}  // namespace

int checkLibrary(Library& library)
{
    int status = 0;
    const auto found = [&](int bit, const std::string& what, const std::string& name) {
        printf("%s: %s\n", what.c_str(), name.c_str());
        status |= bit;
    };
    std::set<std::string> kept;
    for (const platform::FolderEntry& e : library.recordFiles)
        if (endsWith(e.name, recordsEnding))
            kept.insert(e.name.substr(0, e.name.size() - std::strlen(recordsEnding)));
    std::vector<Holder> holders;
    std::vector<std::string> files = library.names.listed;
    files.insert(files.end(), library.names.added.begin(), library.names.added.end());
    for (const std::string& file : files) {
        for (std::size_t k = 0; k < formatCount; ++k) {
            const std::string ending = formatTable[k].ending;
            const std::string stem = endsWith(file, ending) ? file.substr(0, file.size() - ending.size()) : "";
            if (dayNumberOf(stem) == 0)
                continue;
            const auto flight = library.flights.find(stem);
            if (flight == library.flights.end() || !(flight->second.row.files & formatBit(k)))
                found(checkStatus::filesWithoutRow, "a file that no row names", file);
            Holder h;
            h.name = file;
            if (ending == ".igc" && flight == library.flights.end() && readIgc(libraryPath(library, file), h))
                holders.push_back(std::move(h));
        }
        if (isLeftover(file))
            found(checkStatus::leftovers, "left by a stopped run", file);
    }
    for (const std::string& stem : kept)
        if (!library.flights.count(stem))
            found(checkStatus::filesWithoutRow, "records that no row names", "records/" + stem + recordsEnding);
    for (const platform::FolderEntry& e : library.recordFiles)
        if (isLeftover(e.name))
            found(checkStatus::leftovers, "left by a stopped run", "records/" + e.name);
    for (auto& [name, flight] : library.flights) {
        for (std::size_t k = 0; k < formatCount; ++k)
            if ((flight.row.files & formatBit(k)) && !library.names.has(name + formatTable[k].ending))
                found(checkStatus::rowsWithoutFiles, "a row whose file is missing", name + formatTable[k].ending);
        flight.hasRecords = kept.count(name) > 0;
        if (!flight.hasRecords)
            found(checkStatus::withoutRecords, "a flight whose records the library does not keep", name);
        Holder h;
        h.name = name;
        readIgc(libraryPath(library, name + ".igc"), h);
        const auto [first, last] = timeSpan(library, name);
        h.first = first;
        h.last = last;
        h.records = flight.hasRecords;
        holders.push_back(std::move(h));
    }
    std::sort(holders.begin(), holders.end(), [](const Holder& a, const Holder& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < holders.size(); ++i)
        for (std::size_t j = i + 1; j < holders.size() && holders[j].first <= holders[i].last; ++j)
            if (oneFlight(library, holders[i], holders[j]))
                found(checkStatus::oneFlightTwice, "one flight under two names", holders[i].name + " " + holders[j].name);
    printf("%s: %zu flights, %s.\n", library.folder.c_str(), library.flights.size(),
           status ? "see above" : "nothing to mend");
    return status;
}
