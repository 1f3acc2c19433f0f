// Flights in a log: the point records read in file order and split where
// two samples lie more than 600 s apart (and, for kxconvert, where the time
// steps back). Both programs find their flights here.
#pragma once

#include <cstdint>
#include <functional>

#include "record.h"

// One flight: the point records from offset `start` to the one at `stop`
// (inclusive) in file order, no one more than 600 s after the one before.
struct Flight {
    uint32_t start = 0;
    uint32_t stop = 0;
    uint32_t startTime = 0;  // log times of its first and last point record
    uint32_t stopTime = 0;
    uint16_t number = 0;     // its place among the log's flights, from 1
};
using FlightVisit = std::function<void(const Flight&)>;
// Where flights end: at gaps of more than 600 s (kxlogreader), or also where
// the time steps back (kxconvert: a reset clock, or a log memory that
// wrapped, so that no flight joins one that came before it).
enum class FlightSplit { AtGaps, AtGapsAndBackwardSteps };
// True when a point record at `time` after one at `last` starts a new flight.
constexpr bool startsFlight(uint32_t last, uint32_t time, FlightSplit split)
{
    return time > last + flightGapSeconds || (split == FlightSplit::AtGapsAndBackwardSteps && time < last);
}
// Reads the open log record by record and hands each flight to `visit` as
// soon as it is closed, in file order; false when reading the log failed
// (the flights before the failure were handed over).
bool scanFlights(const FlightVisit& visit, FlightSplit split = FlightSplit::AtGaps);
