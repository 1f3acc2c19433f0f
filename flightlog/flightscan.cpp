// The flight scan: the log read record by record, its point records split
// into flights.
#include "flightscan.h"

#include "logfile.h"
#include "record.h"

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
    bool startsFlight() const { return ::startsFlight(last_timestamp, timestamp, split); }
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

}  // namespace

bool scanFlights(const FlightVisit& visit, FlightSplit split)
{
    Scan s;
    s.split = split;
    while (scanRecord(s, visit))
        s.offset = s.position;
    return !logReadFailed();
}
