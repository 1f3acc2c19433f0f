// The logbook of a flight library, "logbook.csv": a file that pilots keep for
// years and open in a spreadsheet, so it is a format. The library's own list
// of its flights, "records/flights.csv", is written in the same format.
//
// RFC 4180: fields separated by commas, a field with a comma, a quote or a
// line end in quotes (a quote in it doubled), lines ending in CR LF. The
// first line names the columns, with their units. One row per flight, sorted
// by the flight's start; the column "Name" is the flight's name, that of its
// files, and "Flight (UTC start)" the time of its first record. Columns are
// only ever added at the end, and every version reads what older versions
// wrote: columns are found by their names, missing ones are empty, and
// columns this version does not know (the pilot's own) are kept, after its
// own. The reader also takes what a spreadsheet saves (quotes around every
// field, semicolons or tabs between them, LF line ends, a byte-order mark),
// and the file is written back in the form it was read in; a line it cannot
// read is never dropped: it is named on standard error and kept in
// "logbook.unreadable.txt" beside it.
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
    Distance, MaxSpeed, PossiblyCut, Files, Aircraft, Registration, OverLimits, CruiseTime, CruiseRpm, CruiseT1,
    CruiseT2, Count
};
constexpr std::size_t columnCount = static_cast<std::size_t>(Column::Count);
// The header text of a column.
const char* columnHeader(std::size_t k);
inline const char* columnHeader(Column c) { return columnHeader(static_cast<std::size_t>(c)); }

constexpr const char* logbookName = "logbook.csv";
constexpr const char* unreadableName = "logbook.unreadable.txt";

// One flight of the logbook.
struct LogbookRow {
    uint32_t start = 0;  // the log time of its first record
    std::string stem;    // its name, the name of its files
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
    // The row with its first `count` fields, then `others`.
    LogbookRow withOthers(std::size_t count, const std::vector<std::string>& others) const;
    // Lists `more` formats in its Files column too, after those it lists.
    void addFiles(FormatSet more);

private:
    std::string text_;
    std::vector<uint32_t> ends_;
};

// How a logbook file was written, so that it is written back so.
struct LogbookForm {
    char separator = ',';
    bool byteOrderMark = false;
    bool crlf = true;  // else LF
};

struct Logbook {
    LogbookForm form;
    std::vector<std::string> otherColumns;  // columns of the file that this version does not write, kept at the end
    std::vector<LogbookRow> rows;           // in the file's order
    std::string unreadable;                 // lines that could not be read, as they stood
    std::string unreadableThen = std::string("it is kept in ") + unreadableName;  // what becomes of them, as said
    bool sayUnreadable = true;                                                    // name them on standard error
};

// The row of a flight from its figures; `files` are the formats written.
LogbookRow logbookRow(const FlightFigures& f, const std::string& stem, FormatSet files, std::size_t otherColumns);
// What a row must have to be read: a name, or also the flight's start and
// its number of points (a row of the library's own list, or of a logbook
// that an earlier version wrote).
enum class RowsNeed { Name, Identity };
// Reads the text of a logbook into `book`; every line that cannot be read
// is named on standard error (as a line of `name`) and kept in `book.unreadable`.
void readLogbook(const std::string& text, const std::string& name, RowsNeed need, Logbook& book);
// Hands the logbook to `emit` as a file holds it, a line at a time: the
// header, then `rows` in their order.
using Emit = std::function<void(const std::string&)>;
void writeLogbook(const LogbookForm& form, const std::vector<std::string>& otherColumns,
                  const std::vector<const LogbookRow*>& rows, const Emit& emit);
// A logbook as a file holds it, whole, in its rows' order.
std::string logbookText(const Logbook& book);
// One row as a line of a file in `form`.
std::string logbookLine(const LogbookForm& form, const LogbookRow& row);

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

// Durations "H:MM:SS" back in seconds; also "H:MM". False for anything else.
bool parseDuration(std::string_view text, uint32_t& seconds);
// True when `cell`, as a spreadsheet may have saved it, still says `value`,
// a text this version writes: a duration as a time of day ("12:58:21 AM"),
// a date and time in a local form ("01.05.2024 10:00", "5/1/2024 10:00:10
// AM"), a number with a decimal comma, thousands separators, or fewer
// decimals. Anything else is the pilot's edit.
bool saysTheSame(std::string_view value, std::string_view cell);
