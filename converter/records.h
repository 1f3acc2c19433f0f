// A flight's own records, the source of everything the library holds of it.
//
// The file "records/NAME.kxr" of a library keeps them: the flight's point
// records, 32 bytes each exactly as the instrument's log holds them (byte 0
// the type 1, bytes 1 to 4 the time, big-endian: see flightlog/record.h), in
// the order of their times, one after the other, nothing before or after.
// So it is itself a log that every reader of "raw.dat" reads. A later
// version that needs more keeps it readable by this one: anything it adds
// goes into records of another type, which readers of logs pass over.
//
// A flight is known by its records, not by its first second: two pieces
// are one flight when they hold the same records for the time they share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flightscan.h"

// Whole 32-byte point records, in the order of their times.
using Records = std::string;

inline std::size_t pointCount(const Records& r) { return r.size() / recordSize; }
uint32_t firstTime(const Records& r);
uint32_t lastTime(const Records& r);

// A flight as one log holds it, which may be only a piece of it.
struct Piece {
    Records records;
    uint16_t number = 0;    // its place among the log's flights, from 1, oldest first
    bool cutStart = false;  // the log may have lost its first records (the oldest of a memory that wrapped)
    bool cutEnd = false;    // the log may lack its last records (the last flight of a partial log)
};

// The flights of the open log, read oldest first: split where two records
// lie more than 600 s apart or the time steps back; a flight that the end
// of a wrapped memory cut in two (its head at the end of the log, its tail
// at the start) is one. `partial`: the log is not the whole memory, so its
// last flight may be cut. False when reading the log failed.
bool readPieces(bool partial, std::vector<Piece>& pieces);

// What two flights' records say of each other: no time in common, the same
// records for the time they share, or other records there (two instruments).
enum class Overlap { None, Same, Different };
Overlap overlapOf(const Records& a, const Records& b);
// The records of both, one flight: `a`'s, and `b`'s where `a` has none.
Records joined(const Records& a, const Records& b);
