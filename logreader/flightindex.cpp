// The flight index: reads "raw.dat" record by record, keeps the point records,
// splits them into flights at gaps of more than 600 s and exports each flight.
#include <cerrno>
#include <cstring>

#include "exitcodes.h"
#include "logreader.h"
#include "platform.h"
#include "record.h"

FILE* data = nullptr;

namespace {

struct Scan {
    uint8_t report[recordSize] = {};
    uint32_t timestamp = 0;
    uint32_t start_timestamp = 0;  // 0: no flight open
    uint32_t start_pointer = 0;
    uint32_t last_timestamp = 0;
    uint32_t last_pointer = 0;     // just past the open flight's latest point record
    uint32_t file_size = 0;        // offset of the record being read
    uint16_t lp = 1;
    bool exportFailed = false;
};

uint32_t position() { return static_cast<uint32_t>(std::ftell(data)); }

void printFlightLine(const Scan& s, uint32_t stop_timestamp)
{
    char res[32];
    char res2[32];
    platform::formatLocal(s.start_timestamp, "%Y-%m-%d %H:%M:%S", res, sizeof res);
    platform::formatLocal(stop_timestamp, "%Y-%m-%d %H:%M:%S", res2, sizeof res2);
    // A flight that runs backwards in time shows its (negative) length in seconds.
    const int32_t flight_len = static_cast<int32_t>(stop_timestamp - s.start_timestamp);
    const bool seconds = flight_len <= 299;
    printf("%d.Flight betwen %s and %s \r\n Len: %d %s\r\n", s.lp, res, res2,
           seconds ? flight_len : flight_len / 60, seconds ? "s." : "min");
}

// Prints the flight that ends with the latest point record, exports it, and
// opens the next flight at the record just read.
void closeFlight(Scan& s)
{
    const uint32_t stop_timestamp = s.last_timestamp;
    const uint32_t stop_pointer = s.last_pointer - recordSize;
    printFlightLine(s, stop_timestamp);
    const int kml = exportPoints(s.start_pointer, stop_pointer);
    printf(kml ? " exported to -> KML OK " : " KML fail ");
    const int csv = exportCSV(s.start_pointer, stop_pointer);
    printf(csv ? ",CVS OK \r\n" : ",CSV fail \r\n");
    printf("\r\n");
    fflush(stdout);
    s.exportFailed = s.exportFailed || !kml || !csv;
    s.start_timestamp = s.timestamp;
    s.start_pointer = position();  // the exports left it just past the closed flight
    ++s.lp;
}

// Reads one record; false after a partial read, which ends the scan.
bool scanRecord(Scan& s)
{
    const size_t odczytano = std::fread(s.report, 1, recordSize, data);
    const bool full = odczytano == recordSize;
    s.timestamp = recordTimestamp(s.report);
    if (full && !isPointRecord(s.report))
        return true;
    if (s.start_timestamp == 0) {
        s.start_timestamp = s.timestamp;
        s.start_pointer = s.file_size;
    } else if (!full || s.timestamp > s.last_timestamp + flightGapSeconds) {
        closeFlight(s);
    }
    s.last_timestamp = s.timestamp;
    s.last_pointer = position();
    return full;
}

}  // namespace

int flightIndex()
{
    printf("Reading data \r\n");
    fflush(stdout);
    data = std::fopen(rawFileName, "rb");
    if (!data) {
        fprintf(stderr, "Cannot read \"raw.dat\" in the working folder: %s. Nothing to export.\n",
                std::strerror(errno));
        return exitcode::incomplete;
    }
    create_timestamp_dir();
    Scan s;
    while (scanRecord(s))
        s.file_size = position();
    printf("All data exported have a nice day. Press key to exit\r\n");
    fflush(stdout);
    std::fclose(data);
    data = nullptr;
    return s.exportFailed ? exitcode::incomplete : exitcode::ok;
}
