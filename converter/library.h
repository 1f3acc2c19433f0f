// What a run of kxconvert works with: its options, the library it writes
// into (the output folder with its logbook), and the flights of the log.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "converter.h"
#include "logbook.h"
#include "flightscan.h"
#include "logfile.h"

// The command line.
struct Options {
    FormatSet formats = defaultFormats();
    bool quiet = false;
    std::string input = rawFileName;
    std::string output = ".";
    PilotDetails pilot;
};
constexpr int badUsage = 1;
// Reads the command line into `o`; -1 when the run goes on, else the exit
// status (help, version, bad usage).
int parseOptions(int argc, char** argv, Options& o);
// Fills in what the options left open from the settings file, if there is one.
void takeSettings(Options& o);

// A flight of the log being converted.
struct LogFlight {
    Flight flight;
    FlightFigures figures;
};

// What became of a flight of the log in the library.
enum class Fate { New, Unchanged, Replaced, KeptLonger, Count };

// The output folder as a library: its logbook and the names in use.
struct Library {
    std::string folder;
    Logbook book;
    std::string bookText;                   // the logbook as it was read
    std::set<std::string> stems;            // names that flights of the logbook have
    std::map<uint32_t, unsigned> highest;   // by UTC day: the highest number of a flight in it
};
// Reads the library's logbook; false (with the reason) when there is one
// that cannot be read at all, so that nothing is written over it.
bool openLibrary(const std::string& folder, Library& library);
// A name for a flight new to the library: the next number of its UTC day
// after the highest there, skipping any name whose files are already there.
std::string newStem(Library& library, uint32_t start);
// The path of a file of the library.
std::string libraryPath(const Library& library, const std::string& name);
// Writes the logbook if it changed, and keeps aside the lines it could not
// read; false (with the reason) when either could not be written.
bool saveLibrary(Library& library);
// Writes index.html anew from the logbook; false (with the reason) when it could not.
bool saveIndex(const Library& library);
// The totals of the run and of the library on standard output.
void printSummary(const Library& library, const std::vector<LogFlight>& flights, const std::vector<Fate>& fates);
