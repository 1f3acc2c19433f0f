// What a run of kxconvert works with: its options, and the library it
// writes into.
//
// A library is a folder:
//   records/NAME.kxr     each flight's own records (records.h), the source of the rest
//   records/flights.csv  the library's own list of its flights: this program's
//                        row of each, in the logbook's format, and two columns
//                        of its own (Records: "kept" when NAME.kxr holds them;
//                        Cut: "start", "end" or both where its records may lack
//                        some); no spreadsheet ever opens it
//   records/kxconvert.lock  held by the run that changes the library
//   NAME.igc .gpx .kml .html  a flight's files, made from its records
//   logbook.csv          the pilot's view: this program's columns made from the
//                        list on every run, and the pilot's own columns and edits
//   logbook.unreadable.txt  lines of the logbook that could not be read
//   index.html           every flight, with totals
// store.h tells the order in which a run writes them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "converter.h"
#include "logbook.h"
#include "logfile.h"
#include "platform.h"
#include "records.h"
#include "store.h"

// What a run does: convert a log into the library, make every flight's files
// and rows again from its records, or check the library.
enum class Mode { Convert, Rebuild, Check };

// The command line.
struct Options {
    Mode mode = Mode::Convert;
    FormatSet formats = defaultFormats();
    bool formatsGiven = false;  // -f was given
    bool quiet = false;
    std::string input = rawFileName;
    std::string output = ".";
    Settings settings;
};
constexpr int badUsage = 1;
// Reads the command line into `o`; -1 when the run goes on, else the exit
// status (help, version, bad usage).
int parseOptions(int argc, char** argv, Options& o);
// Fills in what the options left open from the settings file, if there is one.
void takeSettings(Options& o);

// What became of a flight of the log in the library.
enum class Fate { New, Unchanged, Replaced, KeptLonger, Count };

// A flight of the library, as its list holds it.
struct KeptFlight {
    LogbookRow row;           // this program's row: its figures, made from its records
    // The row as the list held it when the run began (what the logbook was
    // written with, unless a run stopped between the two), kept once the row changes.
    LogbookRow listed;
    bool changed = false;
    const LogbookRow& asListed() const { return changed ? listed : row; }
    // The row is about to change: the row as listed stays.
    void changing()
    {
        if (!changed)
            listed = row;
        changed = true;
    }
    bool hasRecords = false;  // records/NAME.kxr holds them
    bool cutStart = false, cutEnd = false;
    bool remake = false;      // its files and row are made again from its records in this run
    FormatSet remakeFormats = 0;
    std::string aircraft, registration;  // the aircraft it belongs to, as its row names it
};

// Names of files and flights: the folder's, listed once and kept sorted (a
// library of years holds thousands), and those a run adds.
struct Names {
    std::vector<std::string> listed;
    std::set<std::string> added;
    bool has(const std::string& name) const
    {
        return std::binary_search(listed.begin(), listed.end(), name) || added.count(name) > 0;
    }
    void add(const std::string& name)
    {
        if (!has(name))
            added.insert(name);
    }
};

struct Library {
    std::string folder;
    const Settings* settings = nullptr;  // the pilot's, the aircraft's profiles
    Store store;
    std::vector<std::string> listColumns;     // the list's columns after the program's ("Records", "Cut", ...)
    std::map<std::string, KeptFlight> flights;  // by name
    std::map<std::string, Records> records;     // the records read in this run, by name
    Names names;                                // of the files in the folder, and of the flights
    std::vector<platform::FolderEntry> recordFiles;  // the files in records/
    std::map<uint32_t, unsigned> highest;       // by UTC day: the highest number of a flight in it
    Logbook book;                               // logbook.csv as the pilot left it
    std::string bookText;
    bool listFound = false;                     // records/flights.csv was there
};

// Takes the library's lock (waiting while another run holds it), removes
// what a stopped run left, reads the list and the logbook, and finds what a
// stopped run did not finish: records that the list does not know, or knows
// shorter. False (with the reason) when the library cannot be used or an
// interrupt came while waiting; nothing was changed then.
bool openLibrary(const std::string& folder, const Settings& settings, Library& library);
// The same for --check: the lock, the list and the logbook, nothing removed
// or made again.
bool readLibrary(const std::string& folder, const Settings& settings, Library& library);
// The path of a file of the library, and of a flight's records.
std::string libraryPath(const Library& library, const std::string& name);
std::string recordsPath(const Library& library, const std::string& name);
// The records of a flight of the library that keeps them; empty when they cannot be read.
const Records& recordsOf(Library& library, const std::string& name);
// The times of the first and last record of a flight of the library.
std::pair<uint32_t, uint32_t> timeSpan(Library& library, const std::string& name);
// Another flight of the library turned out to be part of `into`: its
// records and files are to go (their paths into `removals`), its name is no more.
void dropJoined(Library& library, const std::string& name, const std::string& into, std::vector<std::string>& removals);
// Joins the flights of the library whose records overlap and agree (a run
// stopped before it removed the second), the earlier name staying; only
// flights whose records changed since the list was written are compared.
void joinRepeatedFlights(Library& library, Batch& batch, std::vector<std::string>& removals);
// A name for a flight new to the library: the next number of its UTC day
// after the highest there, skipping any name whose files are already there.
std::string newStem(Library& library, uint32_t start);

// Writes the records of `name` under their temporary name into `batch`;
// false with the reason on standard error.
bool stageRecords(Library& library, Batch& batch, const std::string& name, const Records& records);
// Makes the files of every flight marked to be made again, from its records,
// into `batch`, and its row; false when a file could not be written (the
// others are). Stops early, leaving the rest marked, after an interrupt.
bool remakeFlights(Library& library, Batch& batch);
// The profile of the flight's aircraft: the settings' and the run's, with
// the registration its row gives.
AircraftProfile profileOf(const Library& library, const KeptFlight& flight);
// Writes the list, then the lines of the logbook that could not be read, the
// logbook and the index; false (with the reason) when one could not be written.
bool saveLibrary(Library& library);
// The totals of the run and of the library on standard output.
struct RunCounts {
    Totals flights;
    unsigned fates[static_cast<std::size_t>(Fate::Count)] = {};
};
void printSummary(const Library& library, const RunCounts& run);
// Lists what is wrong with the library without changing it; the exit
// status: 0 nothing, else the sum of checkStatus bits of what was found.
int checkLibrary(Library& library);
namespace checkStatus {
constexpr int filesWithoutRow = 4;      // a flight's file or records that no row of the list names
constexpr int rowsWithoutFiles = 8;     // a row whose listed files are missing
constexpr int withoutRecords = 16;      // a flight whose records the library does not keep
constexpr int oneFlightTwice = 32;      // two names that hold one flight
constexpr int leftovers = 64;           // temporary files a stopped run left
}  // namespace checkStatus
