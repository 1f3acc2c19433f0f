// The logbook of a flight library, "logbook.csv": a file that pilots keep for
// years and open in a spreadsheet, so it is a format.
//
// RFC 4180: fields separated by commas, a field with a comma, a quote or a
// line end in quotes (a quote in it doubled), lines ending in CR LF. The
// first line names the columns, with their units. One row per flight, sorted
// by the flight's start; the column "Flight (UTC start)" is the flight's
// identity, "Name" the name of its files. Columns are only ever added at the
// end, and every version reads what older versions wrote: columns are found
// by their names, missing ones are empty, and columns this version does not
// know are kept, after its own. The reader also takes what a spreadsheet
// saves (quotes around every field, semicolons or tabs between them, LF line
// ends, a byte-order mark); a line it cannot read is never dropped: it is
// named on standard error and kept in "logbook.unreadable.txt" beside it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "converter.h"

// The columns this version writes, in their order.
enum class Column {
    Flight, Name, DateUtc, TakeoffUtc, LandingUtc, TakeoffLocal, LandingLocal, FlightTime, LastRecordUtc,
    RecordSpan, Points, PointsWithoutPosition, EngineTime, MaxRpm, MeanRpm, MaxT1, MeanT1, MaxT2, MeanT2, MinOat,
    MaxOat, FuelStart, FuelEnd, FuelUsed, FuelBurn, MaxAltitude, MaxAltitudeGps, TotalClimb, BestClimb, BestSink,
    Distance, MaxSpeed, PossiblyCut, Files, Count
};
constexpr std::size_t columnCount = static_cast<std::size_t>(Column::Count);
// The header text of a column.
const char* columnHeader(std::size_t k);
inline const char* columnHeader(Column c) { return columnHeader(static_cast<std::size_t>(c)); }

constexpr const char* logbookName = "logbook.csv";
constexpr const char* unreadableName = "logbook.unreadable.txt";

// One flight of the logbook.
struct LogbookRow {
    uint32_t start = 0;  // the flight's identity: the log time of its first point
    std::string stem;    // the name of its files
    uint32_t points = 0;
    FormatSet files = 0; // the formats its Files column lists
    // Its columns, this version's first, then the others the file had. A
    // library of years holds thousands of rows, so they are kept in one text each.
    std::size_t size() const { return ends_.size(); }
    std::string_view field(std::size_t k) const
    {
        const std::size_t from = k ? ends_[k - 1] : 0;
        return std::string_view(text_).substr(from, ends_[k] - from);
    }
    std::string_view at(Column c) const { return field(static_cast<std::size_t>(c)); }
    void assign(const std::vector<std::string>& fields);
    void assign(const std::vector<std::string_view>& fields);
    std::vector<std::string> fields() const;
    void set(std::size_t k, std::string_view value);
    // Lists `more` formats in its Files column too, after those it lists.
    void addFiles(FormatSet more);

private:
    std::string text_;
    std::vector<uint32_t> ends_;
};

struct Logbook {
    std::vector<std::string> otherColumns;  // columns of the file that this version does not write, kept at the end
    std::map<uint32_t, LogbookRow> rows;    // by the flight's start
    std::string unreadable;                 // lines that could not be read, as they stood
};

// The row of a flight from its figures; `files` are the formats written.
LogbookRow logbookRow(const FlightFigures& f, const std::string& stem, FormatSet files, std::size_t otherColumns);
// Reads the text of a logbook into `book`; every line that cannot be read
// is named on standard error (as a line of `name`) and kept in `book.unreadable`.
void readLogbook(const std::string& text, const std::string& name, Logbook& book);
// Hands the logbook to `emit` as a file holds it, a line at a time.
using Emit = std::function<void(const std::string&)>;
void writeLogbook(const Logbook& book, const Emit& emit);
// The logbook as a file holds it, whole.
std::string logbookText(const Logbook& book);

// Flights and their flight and engine time, added up: for the summary and
// the index.
struct Totals {
    unsigned flights = 0;
    uint64_t flightSeconds = 0, engineSeconds = 0;
    void add(uint32_t flight, uint32_t engine)
    {
        ++flights;
        flightSeconds += flight;
        engineSeconds += engine;
    }
    // A row's times as the logbook holds them.
    void add(const LogbookRow& row);
};

// Durations "H:MM:SS" back in seconds; also "H:MM", and what a spreadsheet
// makes of them. False for anything else.
bool parseDuration(std::string_view text, uint32_t& seconds);
