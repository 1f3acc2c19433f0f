// Log records as the instrument stores them, and the built-in sample log.
#include "logsample.h"

#include <cmath>
#include <cstring>

#include "sim.h"

namespace sim {

static void put16(uint8_t* p, uint16_t v) { wire::putBigEndian(p, v, 2); }
static void put32(uint8_t* p, uint32_t v) { wire::putBigEndian(p, v, 4); }

static void putFloat(uint8_t* p, float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    put32(p, bits);
}

void encodePoint(uint8_t* out, const PointFields& p)
{
    out[0] = 1;
    put32(out + 1, p.time);
    putFloat(out + 5, p.lat);
    putFloat(out + 9, p.lon);
    out[13] = p.speed;
    put16(out + 14, static_cast<uint16_t>(p.altitudeGps));
    out[16] = p.course;
    out[17] = p.satellites;
    put16(out + 18, p.rpm);
    put16(out + 20, static_cast<uint16_t>(p.t1));
    put16(out + 22, static_cast<uint16_t>(p.t2));
    out[24] = static_cast<uint8_t>(p.tz);
    out[25] = p.fuel;
    put16(out + 26, p.pressure);
    put16(out + 28, static_cast<uint16_t>(p.altitude));
    put16(out + 30, static_cast<uint16_t>(p.vario));
}

void encodeOther(uint8_t* out, uint8_t type, uint32_t time)
{
    std::memset(out, 0, 32);
    out[0] = type;
    put32(out + 1, time);
    for (int i = 5; i < 32; ++i)
        out[i] = static_cast<uint8_t>(i * 7);
}

namespace {

constexpr double pi = 3.14159265358979323846;

struct FlightPlan {
    uint32_t start;
    int samples;
    uint32_t step;
    float lat0, lon0, heading;
    int lostFixFrom, lostFixTo;  // samples without a position fix
};

// One sample of a short flight: climb, cruise, descent, engine and
// temperatures following the phase.
PointFields sampleAt(const FlightPlan& f, int i)
{
    const double phase = static_cast<double>(i) / (f.samples - 1);
    const double climb = std::sin(phase * pi);  // 0 on the ground, 1 at the top
    const double dist = phase * 0.25;             // degrees travelled
    PointFields p;
    p.time = f.start + static_cast<uint32_t>(i) * f.step;
    p.lat = static_cast<float>(f.lat0 + dist * std::cos(f.heading) + 0.01 * std::sin(phase * 9));
    p.lon = static_cast<float>(f.lon0 + dist * std::sin(f.heading) * 1.5);
    p.speed = static_cast<uint8_t>(40 + 120 * std::sqrt(climb));
    p.altitude = static_cast<int16_t>(110 + 1350 * climb);
    p.altitudeGps = static_cast<int16_t>(p.altitude + 12);
    p.course = static_cast<uint8_t>(static_cast<int>(f.heading * 180 / pi / 2 + 8 * std::sin(phase * 7) + 180) % 180);
    p.satellites = static_cast<uint8_t>(7 + i % 5);
    p.rpm = static_cast<uint16_t>(480 + 70 * climb);  // 4800..5500 rpm
    p.t1 = static_cast<int16_t>(62 + 25 * std::sqrt(climb));
    p.t2 = static_cast<int16_t>(70 + 22 * std::sqrt(climb));
    p.tz = static_cast<int8_t>(18 - 9 * climb);
    p.fuel = static_cast<uint8_t>(92 - 30 * phase);
    p.pressure = static_cast<uint16_t>(10132 - 1500 * climb);
    p.vario = static_cast<int16_t>(45 * std::cos(phase * pi));
    if (i >= f.lostFixFrom && i <= f.lostFixTo)
        p.lat = p.lon = 0.0f;
    return p;
}

}  // namespace

std::vector<uint8_t> sampleLog()
{
    std::vector<uint8_t> log(logBytes, 0xFF);
    const FlightPlan flights[] = {
        {1714551120, 420, 2, 50.1109f, 8.6821f, 0.6f, -1, -1},      // 2024-05-01 08:12:00 UTC, 14 min
        {1714562400, 300, 1, 50.3301f, 8.9902f, 3.8f, 100, 104},   // 2024-05-01 11:20:00 UTC, 5 min
    };
    std::size_t at = 0;
    for (const FlightPlan& f : flights) {
        encodeOther(&log[at], 3, f.start);  // switched on
        at += 32;
        for (int i = 0; i < f.samples; ++i, at += 32) {
            if (i == f.samples / 2) {
                encodeOther(&log[at], 2, f.start + static_cast<uint32_t>(i) * f.step);  // a marker
                at += 32;
            }
            encodePoint(&log[at], sampleAt(f, i));
        }
    }
    return log;
}

}  // namespace sim
