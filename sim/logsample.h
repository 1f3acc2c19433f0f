// Log records as the instrument stores them, for the simulator's sample log,
// the tests and the benchmarks.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

// The values of one point record as stored (scaled as the instrument keeps them).
struct PointFields {
    uint32_t time = 0;
    float lat = 0, lon = 0;
    uint8_t speed = 0;
    int16_t altitudeGps = 0;
    uint8_t course = 0;      // steps of 2 degrees
    uint8_t satellites = 0;
    uint16_t rpm = 0;        // steps of 10 rpm
    int16_t t1 = 0, t2 = 0;
    int8_t tz = 0;
    uint8_t fuel = 0;
    uint16_t pressure = 0;
    int16_t altitude = 0;
    int16_t vario = 0;       // steps of 0.1 m/s
};

// Writes a 32-byte point record (type 1), all fields big-endian.
void encodePoint(uint8_t* out, const PointFields& p);
// Writes a 32-byte record of another type with a time and filler bytes.
void encodeOther(uint8_t* out, uint8_t type, uint32_t time);

// The built-in log: two flights of a few hundred samples with a gap of more
// than 600 s, a few records that are not points, lost-fix samples, and erased
// 0xFF space up to 1 MiB.
std::vector<uint8_t> sampleLog();

}  // namespace sim
