// The flight index: reads "raw.dat" record by record, keeps the point records,
// splits them into flights at gaps of more than 600 s and exports each flight.
#include <cstdint>
#include <ctime>
#include <unordered_map>
#include <utility>

#include "exitcodes.h"
#include "exportfile.h"
#include "logfile.h"
#include "logreader.h"
#include "platform.h"
#include "record.h"

FILE* data = nullptr;

namespace {

struct Scan {
    uint32_t timestamp = 0;
    uint32_t start_timestamp = 0;  // 0: no flight open
    uint32_t start_pointer = 0;
    uint32_t last_timestamp = 0;
    uint32_t last_pointer = 0;     // just past the open flight's latest point record
    uint32_t offset = 0;           // file_size: the offset of the record being read
    uint32_t position = 0;         // where reading goes on: past the record read, or past a closed flight
    uint16_t flightNumber = 1;     // lp
    FlightSplit split = FlightSplit::AtGaps;
    // True when the point record just read opens a new flight.
    bool startsFlight() const
    {
        return timestamp > last_timestamp + flightGapSeconds ||
               (split == FlightSplit::AtGapsAndBackwardSteps && timestamp < last_timestamp);
    }
};

// Hands over the flight that ends with the latest point record, and opens
// the next flight at the record just read.
void closeFlight(Scan& s, const FlightVisit& visit)
{
    const uint32_t stop_pointer = s.last_pointer - recordSize;
    visit({s.start_pointer, stop_pointer, s.start_timestamp, s.last_timestamp, s.flightNumber});
    s.start_timestamp = s.timestamp;
    // The scan goes on just past the flight's last point record: the records
    // after it, the one that closed the flight included, are read again for
    // the next flight.
    s.position = stop_pointer + recordSize;
    s.start_pointer = s.position;
    ++s.flightNumber;
}

// The local time of a log time to the second, as one number.
uint64_t localKey(uint32_t time)
{
    std::tm t{};
    if (!platform::localTime(static_cast<std::time_t>(time), &t))
        return uint64_t{1} << 63 | time;
    return ((((static_cast<uint64_t>(t.tm_year + 1900) * 13 + static_cast<uint64_t>(t.tm_mon)) * 32 +
              static_cast<uint64_t>(t.tm_mday)) * 24 + static_cast<uint64_t>(t.tm_hour)) * 60 +
            static_cast<uint64_t>(t.tm_min)) * 61 + static_cast<uint64_t>(t.tm_sec);
}

// Gives the flight's files a suffix when an earlier flight of the run starts
// at the same local time, and says so; `starts` counts the local start times
// seen, with the number of the first flight at each.
void nameApart(const Flight& f, std::unordered_map<uint64_t, std::pair<unsigned, uint16_t>>& starts)
{
    auto& [seen, first] = starts.try_emplace(localKey(f.startTime), 0, f.number).first->second;
    flightNameSuffix[0] = '\0';
    if (++seen == 1)
        return;
    char start[32];
    platform::formatLocal(f.startTime, "%Y-%m-%d %H:%M:%S", start, sizeof start);
    snprintf(flightNameSuffix, sizeof flightNameSuffix, "-%u", seen);
    char kml[40];
    char csv[40];
    exportFileName(f.startTime, platform::kmlNameFormat, kml, sizeof kml);
    exportFileName(f.startTime, platform::csvNameFormat, csv, sizeof csv);
    fflush(stdout);
    fprintf(stderr, "Flight %u starts at %s local time, as flight %u does (the clock went back): its files are named "
                    "%s and %s.\n", f.number, start, first, kml, csv);
}

// Reads the record at `offset`; false after a partial read, which ends the
// scan, and after a failed read.
bool scanRecord(Scan& s, const FlightVisit& visit)
{
    const uint8_t* record = recordAt(s.offset);
    const bool full = record && followedByOffset(s.offset);
    if (!record && logReadFailed())
        return false;
    s.timestamp = full ? recordTimestamp(record) : 0;
    s.position = s.offset + recordSize;
    if (full && !isPointRecord(record))
        return true;
    if (s.start_timestamp == 0) {
        s.start_timestamp = s.timestamp;
        s.start_pointer = s.offset;
    } else if (!full || s.startsFlight()) {
        closeFlight(s, visit);
    }
    s.last_timestamp = s.timestamp;
    s.last_pointer = s.position;
    return full;
}

void printFlightLine(const Flight& f)
{
    char res[32];
    char res2[32];
    platform::formatLocal(f.startTime, "%Y-%m-%d %H:%M:%S", res, sizeof res);
    platform::formatLocal(f.stopTime, "%Y-%m-%d %H:%M:%S", res2, sizeof res2);
    // A flight that runs backwards in time shows its (negative) length in seconds.
    const int32_t flight_len = static_cast<int32_t>(f.stopTime - f.startTime);
    const bool seconds = flight_len <= 299;
    printf("%d.Flight betwen %s and %s \r\n Len: %d %s\r\n", f.number, res, res2,
           seconds ? flight_len : flight_len / 60, seconds ? "s." : "min");
}

}  // namespace

bool scanFlights(const FlightVisit& visit, FlightSplit split)
{
    Scan s;
    s.split = split;
    while (scanRecord(s, visit))
        s.offset = s.position;
    return !logReadFailed();
}

int flightIndex()
{
    printf("Reading data \r\n");
    fflush(stdout);
    return openLog() ? indexFlights() : exitcode::incomplete;
}

int indexFlights()
{
    create_timestamp_dir();
    bool exportFailed = false;
    std::unordered_map<uint64_t, std::pair<unsigned, uint16_t>> starts;
    const bool readOk = scanFlights([&](const Flight& f) {
        nameApart(f, starts);
        printFlightLine(f);
        const int kml = exportPoints(f.start, f.stop);
        printf(kml ? " exported to -> KML OK " : " KML fail ");
        const int csv = exportCSV(f.start, f.stop);
        printf(csv ? ",CVS OK \r\n" : ",CSV fail \r\n");
        printf("\r\n");
        fflush(stdout);
        exportFailed = exportFailed || !kml || !csv;
    });
    closeLog();
    if (!readOk) {
        fflush(stdout);
        return exitcode::incomplete;
    }
    printf("All data exported have a nice day. Press key to exit\r\n");
    fflush(stdout);
    return exportFailed ? exitcode::incomplete : exitcode::ok;
}
