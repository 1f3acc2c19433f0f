// One flight as a page that opens offline by a double-click: its figures
// from the logbook, the barogram and the engine charts stacked on one UTC
// time axis with a cursor across all of them, and the track drawn to scale.
// Everything is inline (SVG, CSS and a small script for the cursor); nothing
// comes from the network. Every series is reduced to the chart's pixel
// columns keeping each column's first, lowest, highest and last value, so a
// 9-hour flight loses no peak and the page stays small.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "converter.h"
#include "logbook.h"
#include "pagetext.h"
#include "textformat.h"

namespace {

using page::escaped;
using page::tenths;

constexpr int plotLeft = 64, plotWidth = 800, chartWidth = 880;
constexpr int columns = plotWidth;
constexpr double trackWidth = 600, trackHeight = 400;
constexpr double kmPerDegree = 6371.0 * 3.14159265358979323846 / 180.0;

// The quantities charted, each from a decoded point; `missing` where it has none.
enum Quantity { Baro, Gps, Rpm, T1, T2, Fuel, Oat, Climb, Quantities };
struct QuantityInfo {
    const char* name;   // in the page and its data
    const char* label;  // in the legend and the read-out
    const char* colour;
};
constexpr QuantityInfo quantities[Quantities] = {
    {"baro", "Pressure altitude", "#1f5fa8"}, {"gps", "GPS altitude", "#b2461f"},
    {"rpm", "Engine speed", "#2c7a2c"},       {"t1", "T1", "#b5272d"},
    {"t2", "T2", "#7a3fa0"},                  {"fuel", "Fuel", "#8a6a00"},
    {"oat", "Outside air", "#1d7f86"},        {"climb", "Climb rate", "#3b3b3b"}};

struct Chart {
    const char* title;
    const char* unit;
    std::vector<Quantity> series;
    int height;
};
const Chart charts[] = {{"Barogram", "m", {Baro, Gps}, 200},
                        {"Engine speed", "rpm", {Rpm}, 140},
                        {"Engine temperatures", "\xC2\xB0" "C", {T1, T2}, 140},
                        {"Fuel", "%", {Fuel}, 120},
                        {"Outside air temperature", "\xC2\xB0" "C", {Oat}, 120},
                        {"Climb rate", "m/s", {Climb}, 140}};

bool valueOf(const MMdata& d, Quantity q, double& v)
{
    switch (q) {
    case Baro: v = d.Altitude; return true;
    case Gps: v = d.AltitudeGPS; return usablePosition(d);
    case Rpm: v = d.RPM; return true;
    case T1: v = d.T1; return true;
    case T2: v = d.T2; return true;
    case Fuel: v = d.Fuel; return true;
    case Oat: v = d.Tz; return true;
    case Climb: v = d.Vario2 / 10.0; return true;
    default: return false;
    }
}

struct Kept {
    uint32_t t;
    double v;
    bool move;  // a gap lies before it
};

// One series reduced to its pixel columns: of each column's run of values
// the first, lowest, highest and last, in their order of time.
struct Reduced {
    std::vector<Kept> kept;
    double low = 1e300, high = -1e300;
    uint32_t first = 0, last = 0;
    bool any = false;
    int column = -1;
    Kept in[4]{};  // first, lowest, highest, last of the column going on
    bool gap = true;
    void flush()
    {
        if (column < 0)
            return;
        Kept k[4] = {in[0], in[1], in[2], in[3]};
        std::sort(k, k + 4, [](const Kept& a, const Kept& b) { return a.t < b.t; });
        for (int i = 0; i < 4; ++i)
            if (kept.empty() || i == 0 || k[i].t != k[i - 1].t)
                kept.push_back({k[i].t, k[i].v, i == 0 && in[0].move});
        column = -1;
    }
    void add(int col, uint32_t t, double v)
    {
        if (col != column || gap)
            flush();
        if (column < 0) {
            column = col;
            in[0] = in[1] = in[2] = in[3] = {t, v, gap};
        }
        if (v < in[1].v) in[1] = {t, v, false};
        if (v > in[2].v) in[2] = {t, v, false};
        in[3] = {t, v, false};
        gap = false;
        low = std::min(low, v);
        high = std::max(high, v);
        first = any ? first : t;
        last = t;
        any = true;
    }
};

// A record the cursor shows: the first of each pixel column, and the last.
struct Shown {
    uint32_t t;
    MMdata d;
};

// A track point, in km east and north of the extent's south-west corner.
struct TrackPoint {
    double east, north;
    bool move;
};

}  // namespace

struct Drawing {
    uint32_t t0 = 0, t1 = 1;
    Reduced series[Quantities];
    std::vector<Shown> shown;
    int lastShownColumn = -1;
    std::vector<TrackPoint> track;
    bool trackGap = true;
    double kmPerLonDegree = kmPerDegree;
    double trackScale = 1;  // px per km
    double trackLeft = 20, trackBottom = 360;
    double thinKm = 0;
    MMdata lastPoint{};
    uint32_t lastTime = 0;
    int column(uint32_t t) const
    {
        return std::min(columns - 1, static_cast<int>(static_cast<uint64_t>(t - t0) * columns / (t1 - t0 + 1)));
    }
};

namespace {

double xOf(const Drawing& d, uint32_t t) { return plotLeft + static_cast<double>(t - d.t0) * plotWidth / (d.t1 - d.t0); }

// A step of 1, 2 or 5 times a power of ten that cuts `range` into about four.
double niceStep(double range)
{
    const double rough = range / 4;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= rough)
            return m * power;
    return 10 * power;
}

std::string clock(uint32_t t)
{
    char text[16];
    return std::string(text, clockTime(text, utcOf(t)) - 3);  // HH:MM
}

// The time axis under a chart: a line per step, labelled HH:MM (UTC).
std::string timeAxis(const Drawing& d, int top, int height)
{
    static const uint32_t steps[] = {60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600};
    const uint32_t span = d.t1 - d.t0;
    uint32_t step = steps[0];
    for (const uint32_t s : steps)
        if (span / s <= 8) {
            step = s;
            break;
        }
    std::string out;
    for (uint64_t t = (d.t0 + step - 1) / step * step; t <= d.t1; t += step) {
        const std::string x = tenths(xOf(d, static_cast<uint32_t>(t)));
        out += "<line class=\"grid\" x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + std::to_string(top) + "\" y2=\"" +
               std::to_string(top + height) + "\"/><text class=\"tick\" x=\"" + x + "\" y=\"" +
               std::to_string(top + height + 14) + "\" text-anchor=\"middle\">" + clock(static_cast<uint32_t>(t)) +
               "</text>";
    }
    return out;
}

struct Scale {
    double low, high;
    int top, height;
    double y(double v) const { return top + height - (v - low) / (high - low) * height; }
};

Scale scaleFor(const Chart& c, const Drawing& d, int top)
{
    double low = 1e300, high = -1e300;
    for (const Quantity q : c.series)
        if (d.series[q].any) {
            low = std::min(low, d.series[q].low);
            high = std::max(high, d.series[q].high);
        }
    if (low > high)
        low = 0, high = 1;
    if (high - low < 1e-9)
        low -= 1, high += 1;
    const double step = niceStep(high - low);
    return {std::floor(low / step) * step, std::ceil(high / step) * step, top, c.height - 40};
}

std::string valueAxis(const Scale& s, const char* unit)
{
    const double step = niceStep(s.high - s.low);
    std::string out;
    for (double v = s.low; v <= s.high + step / 2; v += step) {
        const std::string y = tenths(s.y(v));
        char label[32];
        std::snprintf(label, sizeof label, step < 1 ? "%.1f" : "%.0f", std::fabs(v) < step / 2 ? 0.0 : v);
        out += "<line class=\"grid\" x1=\"" + std::to_string(plotLeft) + "\" x2=\"" +
               std::to_string(plotLeft + plotWidth) + "\" y1=\"" + y + "\" y2=\"" + y + "\"/><text class=\"tick\" x=\"" +
               std::to_string(plotLeft - 6) + "\" y=\"" + tenths(s.y(v) + 4) + "\" text-anchor=\"end\">" + label +
               "</text>";
    }
    return out + "<text class=\"unit\" x=\"8\" y=\"" + std::to_string(s.top + 10) + "\">" + unit + "</text>";
}

std::string seriesPath(const Drawing& d, Quantity q, const Scale& s)
{
    const Reduced& r = d.series[q];
    if (!r.any)
        return "";  // a GPS altitude without any usable position
    std::string path;
    for (std::size_t i = 0; i < r.kept.size(); ++i) {
        path += (i == 0 || r.kept[i].move) ? "M" : "L";
        path += tenths(xOf(d, r.kept[i].t)) + " " + tenths(s.y(r.kept[i].v));
    }
    return "<path class=\"series\" data-series=\"" + std::string(quantities[q].name) + "\" data-first=\"" +
           std::to_string(r.first) + "\" data-last=\"" + std::to_string(r.last) + "\" stroke=\"" +
           quantities[q].colour + "\" d=\"" + path + "\"/>";
}

std::string description(const Chart& c, const Drawing& d)
{
    std::string text = c.title + std::string(" against UTC time, ") + clock(d.t0) + " to " + clock(d.t1) + ": ";
    for (const Quantity q : c.series) {
        const Reduced& r = d.series[q];
        text += std::string(quantities[q].label) + (r.any ? " from " + tenths(r.low) + " to " + tenths(r.high) + " " +
                                                            c.unit
                                                      : " not recorded") + "; ";
    }
    return escaped(text.substr(0, text.size() - 2) + ".");
}

// Takeoff and landing as dashed lines on the barogram.
std::string events(const Drawing& d, const FlightFigures& f, int top, int height)
{
    if (!f.airborne)
        return "";
    std::string out;
    for (const auto& [t, label] : {std::pair{f.takeoff, "takeoff"}, std::pair{f.landing, "landing"}}) {
        const bool after = t == f.takeoff;  // the label on the side of the flight
        const std::string x = tenths(xOf(d, t));
        out += "<line class=\"event\" x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + std::to_string(top) + "\" y2=\"" +
               std::to_string(top + height) + "\"/><text class=\"event-label\" x=\"" +
               tenths(xOf(d, t) + (after ? 3 : -3)) + "\" y=\"" + std::to_string(top + 12) + "\" text-anchor=\"" +
               (after ? "start" : "end") + "\">" + label + "</text>";
    }
    return out;
}

std::string chartSvg(const Chart& c, const Drawing& d, const FlightFigures& f, int index)
{
    const Scale s = scaleFor(c, d, 10);
    const std::string id = "chart" + std::to_string(index);
    std::string out = "<figure><svg class=\"chart\" id=\"" + id + "\" viewBox=\"0 0 " + std::to_string(chartWidth) +
                      " " + std::to_string(c.height) + "\" role=\"img\" aria-labelledby=\"" + id + "-t " + id +
                      "-d\"><title id=\"" + id + "-t\">" + c.title + "</title><desc id=\"" + id + "-d\">" +
                      description(c, d) + "</desc><rect class=\"plot\" x=\"" + std::to_string(plotLeft) +
                      "\" y=\"10\" width=\"" + std::to_string(plotWidth) + "\" height=\"" + std::to_string(s.height) +
                      "\"/>" + valueAxis(s, c.unit) + timeAxis(d, 10, s.height) +
                      (index == 0 ? events(d, f, 10, s.height) : "");
    for (const Quantity q : c.series)
        out += seriesPath(d, q, s);
    out += "<line class=\"cursor\" x1=\"0\" x2=\"0\" y1=\"10\" y2=\"" + std::to_string(10 + s.height) + "\"/></svg>";
    out += "<figcaption>" + std::string(c.title);
    for (const Quantity q : c.series)
        out += " <span class=\"key\" style=\"border-color:" + std::string(quantities[q].colour) + "\">" +
               quantities[q].label + "</span>";
    return out + " (" + c.unit + ", time in UTC)</figcaption></figure>\n";
}

}  // namespace

namespace {

// The track to scale: a local projection around the flight's mean latitude,
// north up, takeoff and landing marked, a scale bar; no line across a gap.
std::string trackSvg(Drawing& d, const FlightFigures& f)
{
    std::string out = "<section aria-labelledby=\"track-h\"><h2 id=\"track-h\">Track</h2>\n";
    if (d.track.empty())
        return out + "<p>No usable position was recorded in this flight: there is no track to draw.</p></section>\n";
    const double spanE = std::max((f.north_east.lon - f.south_west.lon) * d.kmPerLonDegree, 0.05);
    const double spanN = std::max((f.north_east.lat - f.south_west.lat) * kmPerDegree, 0.05);
    d.trackScale = std::min((trackWidth - 40) / spanE, (trackHeight - 60) / spanN);  // px per km
    // The track in the middle of the box, its south-west corner at (left, bottom).
    d.trackLeft = 20 + ((trackWidth - 40) - spanE * d.trackScale) / 2;
    d.trackBottom = trackHeight - 40 - ((trackHeight - 60) - spanN * d.trackScale) / 2;
    const auto x = [&](double east) { return tenths(d.trackLeft + east * d.trackScale); };
    const auto y = [&](double north) { return tenths(d.trackBottom - north * d.trackScale); };
    std::string path;
    for (const TrackPoint& p : d.track)
        path += (p.move ? "M" : "L") + x(p.east) + " " + y(p.north);
    const double barKm = niceStep((trackWidth - 40) / d.trackScale);  // about a quarter of the box
    char km[32];
    std::snprintf(km, sizeof km, barKm < 1 ? "%.1f km" : "%.0f km", barKm);
    const TrackPoint& from = d.track.front();
    const TrackPoint& to = d.track.back();
    out += "<svg class=\"track\" viewBox=\"0 0 600 400\" role=\"img\" aria-labelledby=\"track-t track-d\">"
           "<title id=\"track-t\">Track</title><desc id=\"track-d\">The flight's track to scale, north up, " +
           tenths(spanE) + " km from west to east and " + tenths(spanN) + " km from south to north, from the takeoff "
           "(a green circle) to the landing (a red square); " + tenths(f.distanceKm) + " km flown.</desc>"
           "<rect class=\"plot\" x=\"0\" y=\"0\" width=\"600\" height=\"400\"/><path class=\"series\" "
           "data-series=\"track\" stroke=\"#1f5fa8\" d=\"" + path + "\"/><circle class=\"takeoff\" cx=\"" +
           x(from.east) + "\" cy=\"" + y(from.north) + "\" r=\"6\"/><rect class=\"landing\" x=\"" +
           tenths(d.trackLeft + to.east * d.trackScale - 5) + "\" y=\"" +
           tenths(d.trackBottom - to.north * d.trackScale - 5) + "\" width=\"10\" height=\"10\"/>"
           "<line class=\"scale\" x1=\"20\" x2=\"" + tenths(20 + barKm * d.trackScale) + "\" y1=\"385\" y2=\"385\" "
           "data-km=\"" + tenths(barKm) + "\"/><text class=\"tick\" x=\"20\" y=\"378\">" + km +
           "</text><circle class=\"cursor\" r=\"5\" cx=\"-10\" cy=\"-10\"/></svg>\n"
           "<p class=\"note\">Takeoff: green circle. Landing: red square. Drawn around latitude " +
           tenths(f.meanLat) + "\xC2\xB0.</p>";
    return out + "</section>\n";
}

// What the cursor shows, one record of each pixel column, as JSON: arrays by
// quantity, with null where a record has no usable position.
std::string cursorData(const Drawing& d, const FlightFigures& f)
{
    std::string t, baro, gps, rpm, t1, t2, fuel, oat, climb, speed, lat, lon;
    char number[64];
    const auto add = [](std::string& list, const std::string& value) { list += (list.empty() ? "" : ",") + value; };
    for (const Shown& s : d.shown) {
        const bool fix = usablePosition(s.d);
        add(t, std::to_string(s.t));
        add(baro, std::to_string(s.d.Altitude));
        add(gps, fix ? std::to_string(s.d.AltitudeGPS) : "null");
        add(rpm, std::to_string(s.d.RPM));
        add(t1, std::to_string(s.d.T1));
        add(t2, std::to_string(s.d.T2));
        add(fuel, std::to_string(s.d.Fuel));
        add(oat, std::to_string(s.d.Tz));
        add(climb, tenths(s.d.Vario2 / 10.0));
        add(speed, fix ? std::to_string(s.d.speed) : "null");
        add(lat, fix ? std::string(number, text::percentF(number, s.d.lat)) : "null");
        add(lon, fix ? std::string(number, text::percentF(number, s.d.lon)) : "null");
    }
    std::string view = "null";
    if (!d.track.empty())
        view = "{\"west\":" + std::string(number, text::percentF(number, f.south_west.lon)) + ",\"south\":" +
               std::string(number, text::percentF(number, f.south_west.lat)) + ",\"kmLon\":" +
               tenths(d.kmPerLonDegree) + ",\"kmLat\":" + tenths(kmPerDegree) + ",\"scale\":" +
               tenths(d.trackScale) + ",\"left\":" + tenths(d.trackLeft) + ",\"bottom\":" + tenths(d.trackBottom) +
               "}";
    return "<script type=\"application/json\" id=\"kx-data\">{\"t0\":" + std::to_string(d.t0) + ",\"t1\":" +
           std::to_string(d.t1) + ",\"x0\":" + std::to_string(plotLeft) + ",\"width\":" + std::to_string(plotWidth) +
           ",\"track\":" + view + ",\"records\":{\"t\":[" + t + "],\"baro\":[" + baro + "],\"gps\":[" + gps +
           "],\"rpm\":[" + rpm + "],\"t1\":[" + t1 + "],\"t2\":[" + t2 + "],\"fuel\":[" + fuel + "],\"oat\":[" +
           oat + "],\"climb\":[" + climb + "],\"speed\":[" + speed + "],\"lat\":[" + lat + "],\"lon\":[" + lon +
           "]}}</script>\n";
}

}  // namespace

bool PageFormat::begin(ExportFile& file, uint32_t firstTime)
{
    if (!createFlightFile(file, target, page::head(target.title).c_str()))
        return false;
    drawing = new Drawing;
    Drawing& d = *drawing;
    const FlightFigures& f = *target.figures;
    d.t0 = firstTime;
    d.t1 = std::max(f.lastTime, firstTime + 1);
    d.kmPerLonDegree = kmPerDegree * std::cos(f.meanLat * 3.14159265358979323846 / 180.0);
    d.thinKm = std::max((f.north_east.lat - f.south_west.lat) * kmPerDegree,
                        (f.north_east.lon - f.south_west.lon) * d.kmPerLonDegree) / 2000;
    file.put(page::introduction(target).c_str());
    file.put(page::figuresTable(*target.row).c_str());
    return true;
}

void PageFormat::row(ExportFile&, const FlightPoint& p)
{
    Drawing& d = *drawing;
    const int col = d.column(p.time);
    for (int q = 0; q < Quantities; ++q) {
        double v = 0;
        if (valueOf(p.values, static_cast<Quantity>(q), v))
            d.series[q].add(col, p.time, v);
        else
            d.series[q].gap = true;
    }
    if (col != d.lastShownColumn)
        d.shown.push_back({p.time, p.values});
    d.lastShownColumn = col;
    d.lastPoint = p.values;
    d.lastTime = p.time;
    if (!usablePosition(p.values)) {
        d.trackGap = true;
        return;
    }
    const FlightFigures& f = *target.figures;
    const TrackPoint here{(p.values.lon - f.south_west.lon) * d.kmPerLonDegree,
                          (p.values.lat - f.south_west.lat) * kmPerDegree, d.trackGap};
    if (d.trackGap || d.track.empty() ||
        std::hypot(here.east - d.track.back().east, here.north - d.track.back().north) >= d.thinKm)
        d.track.push_back(here);
    d.trackGap = false;
}

bool PageFormat::finish(ExportFile& file, uint32_t, uint32_t)
{
    Drawing& d = *drawing;
    for (Reduced& r : d.series)
        r.flush();
    if (d.shown.empty() || d.shown.back().t != d.lastTime)
        d.shown.push_back({d.lastTime, d.lastPoint});
    file.put("<section aria-labelledby=\"charts-h\"><h2 id=\"charts-h\">Charts</h2>\n");
    file.put(page::readoutTable().c_str());
    for (std::size_t i = 0; i < sizeof charts / sizeof charts[0]; ++i)
        file.put(chartSvg(charts[i], d, *target.figures, static_cast<int>(i)).c_str());
    file.put("</section>\n");
    file.put(trackSvg(d, *target.figures).c_str());
    file.put(cursorData(d, *target.figures).c_str());
    return true;
}

void PageFormat::tail(ExportFile& file) { file.put(page::script()); }

PageFormat::~PageFormat() { delete drawing; }
