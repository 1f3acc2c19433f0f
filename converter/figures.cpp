// What a flight school writes into its logbook and an engine monitor into
// its analysis, worked out of the points of one flight: takeoff and landing,
// engine time, engine speed and temperatures, the limits gone over and the
// cruise, fuel, altitudes, climb, distance, speed.
#include <algorithm>
#include <cmath>

#include "converter.h"

const LimitInfo limitTable[limitCount] = {
    {"rpm", "rpm", "rpm", LimitKind::Maximum, [](const MMdata& d) -> double { return d.RPM; }},
    {"t1", "T1", "\xC2\xB0" "C", LimitKind::Maximum, [](const MMdata& d) -> double { return d.T1; }},
    {"t2", "T2", "\xC2\xB0" "C", LimitKind::Maximum, [](const MMdata& d) -> double { return d.T2; }},
    {"fuel", "fuel", "%", LimitKind::Minimum, [](const MMdata& d) -> double { return d.Fuel; }},
    {"oat", "OAT", "\xC2\xB0" "C", LimitKind::Minimum, [](const MMdata& d) -> double { return d.Tz; }},
};

std::size_t limitIndex(std::string_view key)
{
    std::size_t k = 0;
    while (k < limitCount && key != limitTable[k].key)
        ++k;
    return k;
}

std::string AircraftProfile::temperatureName(int which) const
{
    const std::string& name = which == 1 ? t1Name : t2Name;
    const std::string plain = which == 1 ? "T1" : "T2";
    return name.empty() ? plain : name + " (" + plain + ")";
}

std::string hoursText(double hours)
{
    const long long minutes = std::llround(std::fabs(hours) * 60);
    const std::string mm = std::to_string(minutes % 60);
    return std::to_string(minutes / 60) + ":" + (mm.size() < 2 ? "0" : "") + mm + " h";
}

EngineHours engineHoursOf(const AircraftProfile& a, uint64_t seconds)
{
    EngineHours h;
    h.all = a.engineHoursBefore + static_cast<double>(seconds) / 3600;
    if (a.serviceAt)
        h.since = h.all - *a.serviceAt;
    if (a.serviceAt && a.serviceEvery)
        h.until = *a.serviceEvery - *h.since;
    return h;
}

std::string EngineHours::said() const
{
    std::string text = hoursText(all) + " in all";
    if (since)
        text += ", " + hoursText(*since) + " since the service at " + hoursText(all - *since);
    if (until)
        text += *until < 0 ? "; the next service is overdue by " + hoursText(-*until)
                           : "; the next service at " + hoursText(all + *until) + ", in " + hoursText(*until);
    return text;
}

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

// One point as the figures after the walk need it.
struct Sample {
    uint32_t t;
    MMdata d;
    bool usable;
};

// The time a point stands for: up to the next point (a minute at most), the
// last one as long as the one before it.
uint32_t durationOf(const std::vector<Sample>& s, std::size_t i)
{
    if (s.size() == 1)
        return 1;
    const uint32_t gap = i + 1 < s.size() ? s[i + 1].t - s[i].t : s[i].t - s[i - 1].t;
    return std::min<uint32_t>(std::max<uint32_t>(gap, 1), 60);
}

void firstPoint(FlightFigures& f, const MMdata& d, uint32_t time)
{
    f.firstTime = time;
    f.maxRpm = d.RPM;
    f.maxT1 = d.T1;
    f.maxT2 = d.T2;
    f.minOat = f.maxOat = d.Tz;
    f.fuelStart = d.Fuel;
    f.maxAltitude = d.Altitude;
    f.bestClimb = f.bestSink = d.Vario;
}

// Engine time, engine speed and temperatures while it ran, outside air,
// fuel, altitudes and climb, point by point.
void engineAndAir(FlightFigures& f, const std::vector<Sample>& s)
{
    uint32_t running = 0;
    uint64_t rpmSum = 0;
    int64_t t1Sum = 0, t2Sum = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const MMdata& d = s[i].d;
        if (i > 0 && s[i - 1].d.RPM >= engineRunningRpm)
            f.engineSeconds += s[i].t - s[i - 1].t;
        if (d.RPM >= engineRunningRpm) {
            ++running;
            rpmSum += d.RPM;
            t1Sum += d.T1;
            t2Sum += d.T2;
        }
        f.maxRpm = std::max(f.maxRpm, d.RPM);
        f.maxT1 = std::max(f.maxT1, d.T1);
        f.maxT2 = std::max(f.maxT2, d.T2);
        f.minOat = std::min(f.minOat, d.Tz);
        f.maxOat = std::max(f.maxOat, d.Tz);
        f.fuelEnd = d.Fuel;
        f.maxAltitude = std::max(f.maxAltitude, d.Altitude);
        if (i > 0)
            f.totalClimb += static_cast<uint32_t>(std::max(0, d.Altitude - s[i - 1].d.Altitude));
        f.bestClimb = std::max(f.bestClimb, d.Vario);
        f.bestSink = std::min(f.bestSink, d.Vario);
    }
    if (running > 0) {
        f.meanRpm = static_cast<uint32_t>((rpmSum + running / 2) / running);
        f.meanT1 = static_cast<double>(t1Sum) / running;
        f.meanT2 = static_cast<double>(t2Sum) / running;
    }
}

// Distance, GPS altitude, ground speed and the extent, at usable positions.
void positions(FlightFigures& f, const std::vector<Sample>& s)
{
    double latSum = 0;
    LatLon previous{};
    for (const Sample& p : s) {
        if (!p.usable) {
            ++f.unusable;
            continue;
        }
        const LatLon here{p.d.lat, p.d.lon};
        if (f.hasPosition) {
            f.distanceKm += greatCircleKm(previous, here);
            f.maxAltitudeGps = std::max(f.maxAltitudeGps, p.d.AltitudeGPS);
            f.maxSpeed = std::max(f.maxSpeed, p.d.speed);
        } else {
            f.hasPosition = true;
            f.firstPosition = f.south_west = f.north_east = here;
            f.maxAltitudeGps = p.d.AltitudeGPS;
            f.maxSpeed = p.d.speed;
        }
        f.south_west = {std::min(f.south_west.lat, here.lat), std::min(f.south_west.lon, here.lon)};
        f.north_east = {std::max(f.north_east.lat, here.lat), std::max(f.north_east.lon, here.lon)};
        latSum += here.lat;
        previous = here;
    }
    if (f.points > f.unusable)
        f.meanLat = latSum / (f.points - f.unusable);
}

// The median of the pressure altitudes of `n` points from `from`: the
// ground where the aircraft stood.
double groundAt(const std::vector<Sample>& s, std::size_t from, std::size_t n)
{
    std::vector<int16_t> alt;
    for (std::size_t i = from; i < from + n; ++i)
        alt.push_back(s[i].d.Altitude);
    std::nth_element(alt.begin(), alt.begin() + static_cast<long>(alt.size() / 2), alt.end());
    return alt[alt.size() / 2];
}

// Takeoff and landing: a point is airborne `height` above the ground (the
// field it took off from, or the one it landed on, whichever is higher
// under it), or moving at flying speed with a usable position off the
// ground (2 m up, or climbing or sinking at 0.5 m/s). Takeoff is the first
// point of the first airborne stretch of at least 30 s, landing the last
// point of the last one. A flight whose first point is already airborne
// (a piece of a flight) took off there.
void takeoffAndLanding(FlightFigures& f, const std::vector<Sample>& s, const AircraftProfile& a)
{
    // Ten points at the start and at the end, or fewer for a short flight (an eighth of it).
    const std::size_t n = std::clamp<std::size_t>(s.size() / 8, 1, 10);
    const double start = groundAt(s, 0, n), end = groundAt(s, s.size() - n, n);
    const auto moving = [&](const Sample& p) { return p.usable && p.d.speed >= a.takeoffSpeedKmh; };
    const bool inAir = s[0].d.Altitude - end >= a.takeoffHeightM && (moving(s[0]) || std::fabs(s[0].d.Vario) >= 0.5f);
    const auto height = [&](const Sample& p) {
        return inAir ? p.d.Altitude - end : std::min(p.d.Altitude - start, p.d.Altitude - end);
    };
    const auto airborne = [&](const Sample& p) {
        const double h = height(p);
        return h >= a.takeoffHeightM || (moving(p) && (h >= 2 || std::fabs(p.d.Vario) >= 0.5f));
    };
    bool in = false;
    uint32_t from = 0, to = 0;
    const auto endStretch = [&] {
        if (in && (to - from >= airborneForS || (inAir && from == s[0].t))) {
            f.takeoff = f.airborne ? f.takeoff : from;
            f.landing = to;
            f.airborne = true;
        }
        in = false;
    };
    for (const Sample& p : s) {
        if (!airborne(p)) {
            endStretch();
            continue;
        }
        from = in ? from : p.t;
        to = p.t;
        in = true;
    }
    endStretch();
}

// The stretches over each limit of the aircraft that has one.
void exceedances(FlightFigures& f, const std::vector<Sample>& s, const AircraftProfile& a)
{
    for (std::size_t k = 0; k < limitCount; ++k) {
        if (!a.limits[k])
            continue;
        const LimitInfo& limit = limitTable[k];
        const double bound = *a.limits[k];
        bool in = false;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const double v = limit.value(s[i].d);
            const bool over = limit.kind == LimitKind::Maximum ? v > bound : v < bound;
            if (!over) {
                in = false;
                continue;
            }
            if (!in)
                f.exceedances.push_back({k, s[i].t, s[i].t, 0, v});
            Exceedance& e = f.exceedances.back();
            e.seconds += durationOf(s, i);
            e.to = s[i].t + durationOf(s, i);
            e.peak = limit.kind == LimitKind::Maximum ? std::max(e.peak, v) : std::min(e.peak, v);
            in = true;
        }
    }
    std::stable_sort(f.exceedances.begin(), f.exceedances.end(),
                     [](const Exceedance& x, const Exceedance& y) { return x.from < y.from; });
}

// Cruise: the engine above a share of its top speed (its limit, else the
// flight's highest) and steady, within a few percent of its mean, for a
// minute or more; every point of such a minute cruises.
void cruise(FlightFigures& f, const std::vector<Sample>& s, const AircraftProfile& a)
{
    const std::size_t rpm = limitIndex("rpm");
    const double top = a.limits[rpm] ? *a.limits[rpm] : f.maxRpm;
    std::vector<bool> cruising(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        double low = 1e9, high = 0, sum = 0;
        std::size_t j = i;
        for (; j < s.size() && s[j].d.RPM >= cruiseShare * top && s[j].t - s[i].t <= cruiseForS; ++j) {
            low = std::min<double>(low, s[j].d.RPM);
            high = std::max<double>(high, s[j].d.RPM);
            sum += s[j].d.RPM;
        }
        const double mean = j > i ? sum / static_cast<double>(j - i) : 0;
        const bool minute = j > i && s[j - 1].t - s[i].t >= cruiseForS;
        if (minute && high <= mean * (1 + cruiseSteadiness) && low >= mean * (1 - cruiseSteadiness))
            std::fill(cruising.begin() + static_cast<long>(i), cruising.begin() + static_cast<long>(j), true);
    }
    uint32_t n = 0;
    double rpmSum = 0, t1Sum = 0, t2Sum = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (!cruising[i])
            continue;
        f.cruiseSeconds += durationOf(s, i);
        ++n;
        rpmSum += s[i].d.RPM;
        t1Sum += s[i].d.T1;
        t2Sum += s[i].d.T2;
    }
    if (n > 0) {
        f.cruiseRpm = static_cast<uint32_t>(std::lround(rpmSum / n));
        f.cruiseT1 = t1Sum / n;
        f.cruiseT2 = t2Sum / n;
    }
}

}  // namespace

bool workOutFigures(uint32_t start, uint32_t stop, const AircraftProfile& aircraft, FlightFigures& figures)
{
    figures = FlightFigures{};
    figures.aircraft = &aircraft;
    std::vector<Sample> samples;
    const bool readOk = forEachPoint(start, stop, [&](const uint8_t* record, uint32_t time) {
        const MMdata d = decodePoint(record);
        samples.push_back({time, d, usablePosition(d)});
        return true;
    });
    if (samples.empty())
        return readOk;
    figures.points = static_cast<uint32_t>(samples.size());
    figures.lastTime = samples.back().t;
    firstPoint(figures, samples[0].d, samples[0].t);
    engineAndAir(figures, samples);
    positions(figures, samples);
    takeoffAndLanding(figures, samples, aircraft);
    exceedances(figures, samples, aircraft);
    cruise(figures, samples, aircraft);
    return readOk;
}
