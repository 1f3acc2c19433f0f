// Log records of "raw.dat": 32 bytes, multi-byte fields big-endian. Byte 0 is
// the type, bytes 1..4 the time in seconds since 1970 UTC; a point record
// (type 1, time inside the instrument's window) carries one sample.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t recordSize = 32;
constexpr uint8_t pointRecordType = 1;
// Times strictly between these two are the instrument's.
constexpr uint32_t earliestTimeExcluded = 1614890433;  // 2021-03-04 20:40:33 UTC
constexpr uint32_t latestTimeExcluded = 1854890433;    // 2028-10-11 15:20:33 UTC
// Samples further apart than this belong to different flights.
constexpr uint32_t flightGapSeconds = 600;

// Offsets in "raw.dat" are 32-bit: true when the offset just past the record
// at `offset` still is one. A file that goes on past 4 GiB ends there.
constexpr bool followedByOffset(uint32_t offset) { return offset <= UINT32_MAX - recordSize; }

// One decoded sample.
struct MMdata {
    float lat;
    float lon;
    uint8_t speed;          // km/h
    int16_t AltitudeGPS;    // m
    uint16_t Course;        // degrees
    uint8_t Satelites;
    uint16_t RPM;
    int16_t T1;             // degrees Celsius
    int16_t T2;
    int8_t Tz;              // outside
    uint8_t Fuel;           // percent
    uint16_t Pressure;
    int16_t Altitude;       // m
    float Vario;            // m/s
    int16_t Vario2;         // 0.1 m/s as stored
};

// Four stored bytes as a float; the bytes go in reversed, as the host is little-endian.
union int2float {
    uint8_t byte[4];
    float flo;
};

uint32_t recordTimestamp(const uint8_t* record);
bool isPointRecord(const uint8_t* record);
MMdata decodePoint(const uint8_t* record);

// Where a sample is shown on a map.
struct LatLon {
    float lat = 0.0f;
    float lon = 0.0f;
};
