// What a flight school writes into its logbook and engine log, worked out of
// the points of one flight in one walk: takeoff and landing, engine time,
// engine speed and temperatures, fuel, altitudes, climb, distance, speed.
#include <algorithm>
#include <cmath>

#include "converter.h"

namespace {

constexpr double earthRadiusKm = 6371.0;
constexpr double degree = 3.14159265358979323846 / 180.0;

double greatCircleKm(const LatLon& a, const LatLon& b)
{
    const double dLat = (b.lat - a.lat) * degree;
    const double dLon = (b.lon - a.lon) * degree;
    const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(a.lat * degree) * std::cos(b.lat * degree) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * earthRadiusKm * std::asin(std::min(1.0, std::sqrt(h)));
}

// The walk's state beside the figures themselves.
struct Walk {
    FlightFigures& f;
    uint32_t previousTime = 0;
    bool previousRunning = false;
    int16_t previousAltitude = 0;
    int16_t groundAltitude = 0;  // the barometric altitude of the first point
    bool havePosition = false;
    LatLon previous{};
    double latSum = 0;           // of the usable positions
    uint32_t running = 0;        // points with the engine running
    uint64_t rpmSum = 0;
    int64_t t1Sum = 0, t2Sum = 0;
    // The airborne stretch going on, and the first and last one of at least airborneForS.
    bool inStretch = false;
    uint32_t stretchFrom = 0, stretchTo = 0;
};

// Airborne: moving at takeoff speed with a usable position, or high above
// where the flight started.
bool airborne(const Walk& w, const MMdata& d)
{
    return (usablePosition(d) && d.speed >= airborneSpeedKmh) || d.Altitude >= w.groundAltitude + airborneHeightM;
}

void endStretch(Walk& w)
{
    if (w.inStretch && w.stretchTo - w.stretchFrom >= airborneForS) {
        if (!w.f.airborne)
            w.f.takeoff = w.stretchFrom;
        w.f.airborne = true;
        w.f.landing = w.stretchTo;
    }
    w.inStretch = false;
}

void firstPoint(Walk& w, const MMdata& d, uint32_t time)
{
    FlightFigures& f = w.f;
    f.firstTime = time;
    f.maxRpm = d.RPM;
    f.maxT1 = d.T1;
    f.maxT2 = d.T2;
    f.minOat = f.maxOat = d.Tz;
    f.fuelStart = d.Fuel;
    f.maxAltitude = d.Altitude;
    f.bestClimb = f.bestSink = d.Vario;
    w.groundAltitude = w.previousAltitude = d.Altitude;
}

void engineAndAir(Walk& w, const MMdata& d, uint32_t time)
{
    FlightFigures& f = w.f;
    if (w.previousRunning)
        f.engineSeconds += time - w.previousTime;
    w.previousRunning = d.RPM >= engineRunningRpm;
    if (w.previousRunning) {
        ++w.running;
        w.rpmSum += d.RPM;
        w.t1Sum += d.T1;
        w.t2Sum += d.T2;
    }
    f.maxRpm = std::max(f.maxRpm, d.RPM);
    f.maxT1 = std::max(f.maxT1, d.T1);
    f.maxT2 = std::max(f.maxT2, d.T2);
    f.minOat = std::min(f.minOat, d.Tz);
    f.maxOat = std::max(f.maxOat, d.Tz);
    f.fuelEnd = d.Fuel;
    f.maxAltitude = std::max(f.maxAltitude, d.Altitude);
    f.totalClimb += static_cast<uint32_t>(std::max(0, d.Altitude - w.previousAltitude));
    w.previousAltitude = d.Altitude;
    f.bestClimb = std::max(f.bestClimb, d.Vario);
    f.bestSink = std::min(f.bestSink, d.Vario);
}

void position(Walk& w, const MMdata& d)
{
    FlightFigures& f = w.f;
    if (!usablePosition(d)) {
        ++f.unusable;
        return;
    }
    const LatLon here{d.lat, d.lon};
    if (w.havePosition) {
        f.distanceKm += greatCircleKm(w.previous, here);
        f.maxAltitudeGps = std::max(f.maxAltitudeGps, d.AltitudeGPS);
        f.maxSpeed = std::max(f.maxSpeed, d.speed);
    } else {
        f.hasPosition = w.havePosition = true;
        f.firstPosition = f.south_west = f.north_east = here;
        f.maxAltitudeGps = d.AltitudeGPS;
        f.maxSpeed = d.speed;
    }
    f.south_west = {std::min(f.south_west.lat, here.lat), std::min(f.south_west.lon, here.lon)};
    f.north_east = {std::max(f.north_east.lat, here.lat), std::max(f.north_east.lon, here.lon)};
    w.latSum += here.lat;
    w.previous = here;
}

void stretch(Walk& w, const MMdata& d, uint32_t time)
{
    if (!airborne(w, d)) {
        endStretch(w);
        return;
    }
    if (!w.inStretch)
        w.stretchFrom = time;
    w.inStretch = true;
    w.stretchTo = time;
}

}  // namespace

bool workOutFigures(uint32_t start, uint32_t stop, FlightFigures& figures)
{
    figures = FlightFigures{};
    Walk w{figures};
    const bool readOk = forEachPoint(start, stop, [&](const uint8_t* record, uint32_t time) {
        const MMdata d = decodePoint(record);
        if (figures.points++ == 0)
            firstPoint(w, d, time);
        engineAndAir(w, d, time);
        position(w, d);
        stretch(w, d, time);
        figures.lastTime = w.previousTime = time;
        return true;
    });
    endStretch(w);
    if (figures.points > figures.unusable)
        figures.meanLat = w.latSum / (figures.points - figures.unusable);
    if (w.running > 0) {
        figures.meanRpm = static_cast<uint32_t>((w.rpmSum + w.running / 2) / w.running);
        figures.meanT1 = static_cast<double>(w.t1Sum) / w.running;
        figures.meanT2 = static_cast<double>(w.t2Sum) / w.running;
    }
    return readOk;
}
