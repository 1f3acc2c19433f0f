// One flight as a page that opens offline by a double-click: its figures
// from the logbook, the barogram and the engine charts stacked on one UTC
// time axis with a cursor across all of them, and the track drawn to scale.
// The page is the template converter/page/flight.html with its style and
// scripts inline; this file fills its places. The charts and the track are
// written as SVG for a reader without scripts and for paper, each series
// reduced to columns of the plot keeping each column's first, lowest,
// highest and last value, so that no peak is lost. The data for the script
// holds every record of the flight in a compact form (ColumnText): the
// script draws the charts again at the screen's width, zooms into them and
// reads out the exact record at the cursor.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "converter.h"
#include "logbook.h"
#include "pagefiles.h"
#include "pagetext.h"
#include "textformat.h"

namespace {

using page::Attribute;
using page::element;
using page::escaped;
using page::niceStep;
using page::tenths;

constexpr int plotLeft = 64, plotWidth = 800, plotTop = 10, chartWidth = 880;
constexpr int columns = plotWidth / 2;  // a column every two units of the plot's width: what the script draws again
// The track's box: the track inside its inset, the scale bar in its foot.
constexpr int trackWidth = 600, trackHeight = 400, trackInset = 20, trackFoot = 40;
constexpr double kmPerDegree = 6371.0 * 3.14159265358979323846 / 180.0;

// The charts, stacked in this order on one time axis.
enum ChartId { Barogram, EngineSpeed, EngineTemperatures, SecondTemperature, FuelLevel, OutsideAir, ClimbRate, NoChart = -1 };
struct ChartInfo {
    const char* title;
    const char* unit;
    int height;
};
// The second temperature has a chart of its own only when its range and the
// first's differ (a cylinder head at 200, an exhaust at 600).
constexpr ChartInfo charts[] = {{"Barogram", "m", 200},
                                {"Engine speed", "rpm", 140},
                                {"Engine temperatures", "\xC2\xB0" "C", 140},
                                {"T2", "\xC2\xB0" "C", 140},
                                {"Fuel", "%", 120},
                                {"Outside air temperature", "\xC2\xB0" "C", 120},
                                {"Climb rate", "m/s", 140}};
constexpr int chartCount = sizeof charts / sizeof charts[0];

// The quantities of a record, one entry each: the chart it is drawn on (if
// any), its column in the page's data and its cell in the read-out. Every
// value of a record is one of them, so the read-out shows the whole record.
struct QuantityInfo {
    const char* key;     // its column in the page's data
    const char* label;   // in the legend, the description and the read-out
    const char* unit;
    const char* colour;  // of its line
    ChartId chart;
    bool needsFix;       // only at a usable position
    int places;          // the value is the stored whole number over 10^places
    int64_t (*stored)(const MMdata&);
};
// A coordinate in millionths of a degree, as its text with six decimals has it.
int64_t millionths(float degrees);
constexpr QuantityInfo quantities[] = {
    {"baro", "Pressure altitude", "m", "#1f5fa8", Barogram, false, 0, [](const MMdata& d) -> int64_t { return d.Altitude; }},
    {"gps", "GPS altitude", "m", "#b2461f", Barogram, true, 0, [](const MMdata& d) -> int64_t { return d.AltitudeGPS; }},
    {"rpm", "Engine speed", "rpm", "#2c7a2c", EngineSpeed, false, 0, [](const MMdata& d) -> int64_t { return d.RPM; }},
    {"t1", "T1", "\xC2\xB0" "C", "#b5272d", EngineTemperatures, false, 0, [](const MMdata& d) -> int64_t { return d.T1; }},
    {"t2", "T2", "\xC2\xB0" "C", "#7a3fa0", EngineTemperatures, false, 0, [](const MMdata& d) -> int64_t { return d.T2; }},
    {"fuel", "Fuel", "%", "#8a6a00", FuelLevel, false, 0, [](const MMdata& d) -> int64_t { return d.Fuel; }},
    {"oat", "Outside air", "\xC2\xB0" "C", "#1d7f86", OutsideAir, false, 0, [](const MMdata& d) -> int64_t { return d.Tz; }},
    {"climb", "Climb rate", "m/s", "#3b3b3b", ClimbRate, false, 1, [](const MMdata& d) -> int64_t { return d.Vario2; }},
    {"speed", "Ground speed", "km/h", "", NoChart, true, 0, [](const MMdata& d) -> int64_t { return d.speed; }},
    {"course", "Course", "\xC2\xB0", "", NoChart, true, 0, [](const MMdata& d) -> int64_t { return d.Course; }},
    {"sats", "Satellites", "", "", NoChart, false, 0, [](const MMdata& d) -> int64_t { return d.Satelites; }},
    {"pressure", "Pressure (as logged)", "", "", NoChart, false, 0, [](const MMdata& d) -> int64_t { return d.Pressure; }},
    {"lat", "Latitude", "\xC2\xB0", "", NoChart, true, 6, [](const MMdata& d) { return millionths(d.lat); }},
    {"lon", "Longitude", "\xC2\xB0", "", NoChart, true, 6, [](const MMdata& d) { return millionths(d.lon); }},
};
constexpr int quantityCount = sizeof quantities / sizeof quantities[0];

int64_t millionths(float degrees)
{
    char text[text::maxNumber];
    const char* end = text::percentF(text, degrees);
    int64_t value = 0;
    for (const char* c = text; c < end && value < INT64_MAX / 100; ++c)
        if (*c >= '0' && *c <= '9')
            value = value * 10 + (*c - '0');
    return text[0] == '-' ? -value : value;
}

double valueOf(const QuantityInfo& q, const MMdata& d)
{
    return static_cast<double>(q.stored(d)) / std::pow(10.0, q.places);
}

// A column of the records in the page's data, written as the records come:
// each value's difference to the one before (the first's to 0) as a natural
// number (0, -1, 1, -2... zigzagged to 0, 1, 2, 3...), doubled, plus one when
// the same difference comes again; then the further times it comes, less
// one. Each number is written in 5-bit digits, the lowest first, each digit
// a character of "A-Za-z0-9-_" (0 to 63), 32 added to every digit but the
// last. A second a record and smooth values cost a character or two each,
// and a run of equal steps (the time, a steady engine) a few in all.
struct ColumnText {
    std::string text;
    int64_t last = 0;       // the value before
    int64_t step = 0;       // the difference waiting to be written
    uint64_t times = 0;     // how often it came in a row; 0: none waits
    void number(uint64_t v)
    {
        static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
        for (; v >= 32; v >>= 5)
            text += digits[32 + (v & 31)];
        text += digits[v];
    }
    void flush()
    {
        if (times == 0)
            return;
        const uint64_t zigzag = step < 0 ? (static_cast<uint64_t>(-(step + 1)) << 1) + 1 : static_cast<uint64_t>(step) << 1;
        number(zigzag * 2 + (times > 1));
        if (times > 1)
            number(times - 2);
        times = 0;
    }
    void add(int64_t value)
    {
        const int64_t difference = value - last;
        last = value;
        if (times > 0 && difference == step) {
            ++times;
            return;
        }
        flush();
        step = difference;
        times = 1;
    }
};

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
    int column = -1;  // the column going on; -1 before the first value and after a flush
    Kept in[4]{};     // first, lowest, highest, last of the column going on
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

// A track point, in km east and north of the extent's south-west corner.
struct TrackPoint {
    double east, north;
    bool move;
};

// How the track is drawn: a local projection around the flight's mean
// latitude, north up, scaled to fit the box and centred in it.
struct Projection {
    double kmPerLonDegree = kmPerDegree;
    double spanE = 0, spanN = 0;  // km of the extent
    double scale = 1;             // px per km
    double left = trackInset, bottom = trackHeight - trackFoot;  // the extent's south-west corner in the box
    double thinKm = 0;            // points closer than this to the last one drawn are left out
};

Projection projectionOf(const FlightFigures& f)
{
    Projection p;
    p.kmPerLonDegree = kmPerDegree * std::cos(f.meanLat * 3.14159265358979323846 / 180.0);
    const double width = trackWidth - 2 * trackInset, height = trackHeight - trackInset - trackFoot;  // px
    p.spanE = std::max((f.north_east.lon - f.south_west.lon) * p.kmPerLonDegree, 0.05);
    p.spanN = std::max((f.north_east.lat - f.south_west.lat) * kmPerDegree, 0.05);
    p.scale = std::min(width / p.spanE, height / p.spanN);
    p.left = trackInset + (width - p.spanE * p.scale) / 2;
    p.bottom = trackHeight - trackFoot - (height - p.spanN * p.scale) / 2;
    p.thinKm = std::max((f.north_east.lat - f.south_west.lat) * kmPerDegree,
                        (f.north_east.lon - f.south_west.lon) * p.kmPerLonDegree) / 2000;
    return p;
}

}  // namespace

// What the page gathers from the flight's points before it is written.
struct Drawing {
    const FlightFigures& figures;
    const Projection projection;
    uint32_t t0, t1;
    std::vector<Reduced> series = std::vector<Reduced>(quantityCount);
    std::vector<ColumnText> records = std::vector<ColumnText>(quantityCount);  // every record, for the script
    ColumnText times, fixes;
    uint32_t count = 0;
    std::vector<TrackPoint> track;
    bool trackGap = true;
    int chartOf[quantityCount];  // the chart each quantity is drawn on, once the flight is read
    Drawing(const FlightFigures& f, uint32_t firstTime)
        : figures(f), projection(projectionOf(f)), t0(firstTime), t1(std::max(f.lastTime, firstTime + 1))
    {
        for (int q = 0; q < quantityCount; ++q)
            chartOf[q] = quantities[q].chart;
    }
    int column(uint32_t t) const
    {
        return std::min(columns - 1, static_cast<int>(static_cast<uint64_t>(t - t0) * columns / (t1 - t0 + 1)));
    }
    double x(uint32_t t) const { return plotLeft + static_cast<double>(t - t0) * plotWidth / (t1 - t0); }
};

namespace {

std::string clock(uint32_t t) { return shaped(hourMinute, utcOf(t)); }

const AircraftProfile& aircraftOf(const Drawing& d)
{
    static const AircraftProfile none;
    return d.figures.aircraft ? *d.figures.aircraft : none;
}

// A quantity's name on the page: the temperatures as the pilot named them.
std::string labelOf(int q, const Drawing& d)
{
    const std::string_view key = quantities[q].key;
    return key == "t1" ? aircraftOf(d).temperatureName(1) : key == "t2" ? aircraftOf(d).temperatureName(2) : quantities[q].label;
}

int quantityIndex(std::string_view key)
{
    int q = 0;
    while (q < quantityCount && key != quantities[q].key)
        ++q;
    return q;
}

std::string titleOf(int chart, const Drawing& d)
{
    const bool split = d.chartOf[quantityIndex("t2")] == SecondTemperature;
    if (chart == EngineTemperatures && split)
        return aircraftOf(d).temperatureName(1);
    return chart == SecondTemperature ? aircraftOf(d).temperatureName(2) : charts[chart].title;
}

// The limit set for a quantity, if the aircraft has one.
std::optional<double> limitOf(int q, const Drawing& d)
{
    const std::size_t k = limitIndex(quantities[q].key);
    return k < limitCount ? aircraftOf(d).limits[k] : std::nullopt;
}

// The second temperature gets a chart of its own when its range and the
// first's differ: the higher top half again the other.
void splitTemperatures(Drawing& d)
{
    const int t1 = quantityIndex("t1"), t2 = quantityIndex("t2");
    const Reduced &a = d.series[t1], &b = d.series[t2];
    const double top = std::max(a.high, b.high), bottom = std::min(a.high, b.high);
    if (a.any && b.any && top > 1.5 * std::max(bottom, 1.0))
        d.chartOf[t2] = SecondTemperature;
}

std::string px(double v) { return tenths(v); }
std::string px(int v) { return std::to_string(v); }

// The time axis under a chart: a line per step, labelled HH:MM (UTC).
std::string timeAxis(const Drawing& d, int height)
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
        const std::string x = px(d.x(static_cast<uint32_t>(t)));
        out += element("line", {{"class", "grid"}, {"x1", x}, {"x2", x}, {"y1", std::to_string(plotTop)},
                                {"y2", std::to_string(plotTop + height)}}, "/>") +
               element("text", {{"class", "tick"}, {"x", x}, {"y", std::to_string(plotTop + height + 14)},
                                {"text-anchor", "middle"}}) +
               clock(static_cast<uint32_t>(t)) + "</text>";
    }
    return out;
}

struct Scale {
    double low, high, step;
    int height;
    double y(double v) const { return plotTop + height - (v - low) / (high - low) * height; }
};

Scale scaleFor(int chart, const Drawing& d)
{
    double low = 1e300, high = -1e300;
    for (int q = 0; q < quantityCount; ++q) {
        if (d.chartOf[q] != chart || !d.series[q].any)
            continue;
        low = std::min(low, d.series[q].low);
        high = std::max(high, d.series[q].high);
        if (const auto limit = limitOf(q, d)) {  // the limit's line in sight
            low = std::min(low, *limit);
            high = std::max(high, *limit);
        }
    }
    if (low > high)
        low = 0, high = 1;
    if (high - low < 1e-9)
        low -= 1, high += 1;
    const double step = niceStep(high - low);
    return {std::floor(low / step) * step, std::ceil(high / step) * step, step, charts[chart].height - 40};
}

// The value axis: a line and a label per step, each label told apart from
// its neighbours by as many decimals as the step has.
std::string valueAxis(const Scale& s, const char* unit)
{
    const int digits = page::decimalsOf(s.step);
    std::string out;
    for (int k = 0; s.low + k * s.step <= s.high + s.step / 2; ++k) {
        const double v = s.low + k * s.step;
        const std::string y = px(s.y(v));
        out += element("line", {{"class", "grid"}, {"x1", std::to_string(plotLeft)},
                                {"x2", std::to_string(plotLeft + plotWidth)}, {"y1", y}, {"y2", y}}, "/>") +
               element("text", {{"class", "tick"}, {"x", std::to_string(plotLeft - 6)}, {"y", px(s.y(v) + 4)},
                                {"text-anchor", "end"}}) +
               page::decimals(std::fabs(v) < s.step / 2 ? 0.0 : v, digits) + "</text>";
    }
    return out + element("text", {{"class", "unit"}, {"x", "8"}, {"y", std::to_string(plotTop + 10)}}) + unit +
           "</text>";
}

std::string seriesPath(const Drawing& d, int q, const Scale& s)
{
    const Reduced& r = d.series[q];
    if (!r.any)
        return "";  // a GPS altitude without any usable position
    std::string path;
    for (std::size_t i = 0; i < r.kept.size(); ++i) {
        path += (i == 0 || r.kept[i].move) ? "M" : "L";
        path += px(d.x(r.kept[i].t)) + " " + px(s.y(r.kept[i].v));
    }
    return element("path", {{"class", "series"}, {"data-series", quantities[q].key},
                            {"data-first", std::to_string(r.first)}, {"data-last", std::to_string(r.last)},
                            {"stroke", quantities[q].colour}, {"d", path}}, "/>");
}

std::string description(int chart, const Drawing& d)
{
    std::string text = titleOf(chart, d) + " against UTC time, " + clock(d.t0) + " to " + clock(d.t1) + ": ";
    for (int q = 0; q < quantityCount; ++q) {
        if (d.chartOf[q] != chart)
            continue;
        const Reduced& r = d.series[q];
        text += labelOf(q, d) +
                (r.any ? " from " + tenths(r.low) + " to " + tenths(r.high) + " " + charts[chart].unit : " not recorded");
        if (const auto limit = limitOf(q, d))
            text += ", limit " + tenths(*limit);
        text += "; ";
    }
    return escaped(text.substr(0, text.size() - 2) + ".");
}

// A quantity's limit as a dashed line, and the time over it shaded.
std::string limitMarks(int q, const Drawing& d, const Scale& s)
{
    const auto limit = limitOf(q, d);
    if (!limit)
        return "";
    std::string out;
    const std::size_t k = limitIndex(quantities[q].key);
    for (const Exceedance& e : d.figures.exceedances)
        if (e.limit == k) {
            const double from = std::max<double>(plotLeft, d.x(e.from)), to = std::min<double>(plotLeft + plotWidth, d.x(e.to));
            out += element("rect", {{"class", "over"}, {"data-limit", quantities[q].key}, {"x", px(from)},
                                    {"y", px(plotTop)}, {"width", px(std::max(to - from, 1.0))}, {"height", px(s.height)}},
                           "/>");
        }
    const std::string y = px(s.y(*limit));
    return out + element("line", {{"class", "limit"}, {"data-limit", quantities[q].key}, {"data-value", tenths(*limit)},
                                  {"x1", px(plotLeft)}, {"x2", px(plotLeft + plotWidth)}, {"y1", y}, {"y2", y}},
                         "/>") +
           element("text", {{"class", "limit-label"}, {"x", px(plotLeft + plotWidth - 4)}, {"y", px(s.y(*limit) - 3)},
                            {"text-anchor", "end"}}) +
           escaped(labelOf(q, d)) + " limit " + page::plain(*limit) + "</text>";
}

// Takeoff and landing as dashed lines on the barogram.
std::string events(const Drawing& d, int height)
{
    const FlightFigures& f = d.figures;
    if (!f.airborne)
        return "";
    std::string out;
    for (const auto& [t, label] : {std::pair{f.takeoff, "takeoff"}, std::pair{f.landing, "landing"}}) {
        const bool after = t == f.takeoff;  // the label on the side of the flight
        const std::string x = px(d.x(t));
        out += element("line", {{"class", "event"}, {"x1", x}, {"x2", x}, {"y1", std::to_string(plotTop)},
                                {"y2", std::to_string(plotTop + height)}}, "/>") +
               element("text", {{"class", "event-label"}, {"x", px(d.x(t) + (after ? 3 : -3))},
                                {"y", std::to_string(plotTop + 12)}, {"text-anchor", after ? "start" : "end"}}) +
               label + "</text>";
    }
    return out;
}

std::string chartSvg(int chart, const Drawing& d)
{
    const ChartInfo& c = charts[chart];
    const std::string title = escaped(titleOf(chart, d));
    const Scale s = scaleFor(chart, d);
    const std::string id = "chart" + std::to_string(chart);
    std::string out = "<figure>" +
                      element("svg", {{"class", "chart"}, {"id", id},
                                      {"viewBox", "0 0 " + std::to_string(chartWidth) + " " + std::to_string(c.height)},
                                      {"role", "img"}, {"aria-labelledby", id + "-t " + id + "-d"}}) +
                      element("title", {{"id", id + "-t"}}) + title + "</title>" +
                      element("desc", {{"id", id + "-d"}}) + description(chart, d) + "</desc>" +
                      element("rect", {{"class", "plot"}, {"x", std::to_string(plotLeft)}, {"y", std::to_string(plotTop)},
                                       {"width", std::to_string(plotWidth)}, {"height", std::to_string(s.height)}}, "/>") +
                      valueAxis(s, c.unit) + timeAxis(d, s.height) + (chart == Barogram ? events(d, s.height) : "");
    for (int q = 0; q < quantityCount; ++q)
        if (d.chartOf[q] == chart)
            out += limitMarks(q, d, s);
    for (int q = 0; q < quantityCount; ++q)
        if (d.chartOf[q] == chart)
            out += seriesPath(d, q, s);
    out += element("line", {{"class", "cursor"}, {"x1", "0"}, {"x2", "0"}, {"y1", std::to_string(plotTop)},
                            {"y2", std::to_string(plotTop + s.height)}}, "/>") + "</svg><figcaption>" + title;
    for (int q = 0; q < quantityCount; ++q)
        if (d.chartOf[q] == chart)
            out += " " + element("span", {{"class", "key"}, {"style", std::string("border-color:") + quantities[q].colour}}) +
                   escaped(labelOf(q, d)) + "</span>";
    return out + " (" + c.unit + ", time in UTC)</figcaption></figure>\n";
}

// The track to scale, north up, takeoff and landing marked, a scale bar; no
// line across a gap.
std::string trackSvg(const Drawing& d)
{
    const FlightFigures& f = d.figures;
    if (d.track.empty())
        return "<p>No usable position was recorded in this flight: there is no track to draw.</p>";
    const Projection& p = d.projection;
    const auto x = [&](double east) { return p.left + east * p.scale; };
    const auto y = [&](double north) { return p.bottom - north * p.scale; };
    std::string path;
    for (const TrackPoint& t : d.track)
        path += (t.move ? "M" : "L") + px(x(t.east)) + " " + px(y(t.north));
    const double barKm = niceStep((trackWidth - 2 * trackInset) / p.scale);  // about a quarter of the box
    const TrackPoint& from = d.track.front();
    const TrackPoint& to = d.track.back();
    const std::string width = px(trackWidth), height = px(trackHeight);
    return element("svg", {{"class", "track"}, {"viewBox", "0 0 " + width + " " + height}, {"role", "img"},
                           {"aria-labelledby", "track-t track-d"}}) +
           "<title id=\"track-t\">Track</title><desc id=\"track-d\">The flight's track to scale, north up, " +
           tenths(p.spanE) + " km from west to east and " + tenths(p.spanN) + " km from south to north, from the "
           "takeoff (a green circle) to the landing (a red square); " + tenths(f.distanceKm) + " km flown.</desc>" +
           element("rect", {{"class", "plot"}, {"x", "0"}, {"y", "0"}, {"width", width}, {"height", height}}, "/>") +
           element("path", {{"class", "series"}, {"data-series", "track"}, {"stroke", "#1f5fa8"}, {"d", path}}, "/>") +
           element("circle", {{"class", "takeoff"}, {"cx", px(x(from.east))}, {"cy", px(y(from.north))}, {"r", "6"}}, "/>") +
           element("rect", {{"class", "landing"}, {"x", px(x(to.east) - 5)}, {"y", px(y(to.north) - 5)}, {"width", "10"},
                            {"height", "10"}}, "/>") +
           element("line", {{"class", "scale"}, {"x1", px(trackInset)}, {"x2", px(trackInset + barKm * p.scale)},
                            {"y1", px(trackHeight - 15)}, {"y2", px(trackHeight - 15)}, {"data-km", tenths(barKm)}}, "/>") +
           element("text", {{"class", "tick"}, {"x", px(trackInset)}, {"y", px(trackHeight - 22)}}) +
           page::decimals(barKm, page::decimalsOf(barKm)) + " km</text>" +
           element("circle", {{"class", "cursor"}, {"r", "5"}, {"cx", "-10"}, {"cy", "-10"}}, "/>") +
           "</svg>\n<p class=\"note\">Takeoff: green circle. Landing: red square. Drawn around latitude " +
           tenths(f.meanLat) + "\xC2\xB0.</p>";
}

// What the script draws the charts again from, as JSON: the quantities,
// the charts with their limits, the stretches over a limit, takeoff and
// landing, the track's projection, and every record as a column per
// quantity (see ColumnText) with the time and whether it has a fix.
void pageData(const Drawing& d, const Emit& emit)
{
    using page::jsonString;
    const FlightFigures& f = d.figures;
    std::string out = "{\"t0\":" + std::to_string(d.t0) + ",\"t1\":" + std::to_string(d.t1) + ",\"n\":" +
                      std::to_string(d.count) + ",\"quantities\":[";
    for (int q = 0; q < quantityCount; ++q)
        out += std::string(q ? "," : "") + "{\"key\":\"" + quantities[q].key + "\",\"label\":" + jsonString(labelOf(q, d)) +
               ",\"unit\":" + jsonString(quantities[q].unit) + ",\"colour\":\"" + quantities[q].colour +
               "\",\"places\":" + std::to_string(quantities[q].places) + ",\"needsFix\":" +
               (quantities[q].needsFix ? "true" : "false") + "}";
    out += "],\"charts\":[";
    bool first = true;
    for (int c = 0; c < chartCount; ++c) {
        std::string keys, limits;
        for (int q = 0; q < quantityCount; ++q) {
            if (d.chartOf[q] != c)
                continue;
            keys += std::string(keys.empty() ? "\"" : ",\"") + quantities[q].key + "\"";
            if (const auto limit = limitOf(q, d))
                limits += std::string(limits.empty() ? "" : ",") + "{\"key\":\"" + quantities[q].key + "\",\"value\":" +
                          tenths(*limit) + ",\"label\":" + jsonString(labelOf(q, d) + " limit " + page::plain(*limit)) + "}";
        }
        if (keys.empty())
            continue;
        out += std::string(first ? "" : ",") + "{\"id\":\"chart" + std::to_string(c) + "\",\"title\":" +
               jsonString(titleOf(c, d)) + ",\"unit\":" + jsonString(charts[c].unit) + ",\"height\":" +
               std::to_string(charts[c].height) + ",\"events\":" + (c == Barogram ? "true" : "false") + ",\"keys\":[" +
               keys + "],\"limits\":[" + limits + "]}";
        first = false;
    }
    out += "],\"over\":[";
    for (std::size_t k = 0; k < f.exceedances.size(); ++k)
        out += std::string(k ? "," : "") + "{\"key\":\"" + limitTable[f.exceedances[k].limit].key + "\",\"from\":" +
               std::to_string(f.exceedances[k].from) + ",\"to\":" + std::to_string(f.exceedances[k].to) + "}";
    out += "],\"events\":[";
    if (f.airborne)
        out += "{\"t\":" + std::to_string(f.takeoff) + ",\"label\":\"takeoff\"},{\"t\":" + std::to_string(f.landing) +
               ",\"label\":\"landing\"}";
    char number[text::maxNumber];
    const auto degrees = [&](float v) { return std::string(number, text::percentF(number, v)); };
    const Projection& p = d.projection;
    out += "],\"track\":" +
           (d.track.empty() ? std::string("null")
                            : "{\"west\":" + degrees(f.south_west.lon) + ",\"south\":" + degrees(f.south_west.lat) +
                                  ",\"kmLon\":" + tenths(p.kmPerLonDegree) + ",\"kmLat\":" + tenths(kmPerDegree) +
                                  ",\"scale\":" + tenths(p.scale) + ",\"left\":" + tenths(p.left) + ",\"bottom\":" +
                                  tenths(p.bottom) + ",\"width\":" + std::to_string(trackWidth) + "}") +
           ",\"columns\":{\"t\":\"";
    emit(out);
    emit(d.times.text);
    emit("\",\"fix\":\"");
    emit(d.fixes.text);
    for (int q = 0; q < quantityCount; ++q) {
        emit("\",\"" + std::string(quantities[q].key) + "\":\"");
        emit(d.records[q].text);
    }
    emit("\"}}");
}

// A column's header with the temperatures named as the pilot wired them:
// "Max CHT (T1) [deg C]". The logbook's own headers stay as they are.
std::string namedHeader(std::size_t k, const AircraftProfile& a)
{
    std::string header = columnHeader(k);
    for (const int which : {1, 2}) {
        const std::string plain = which == 1 ? "T1" : "T2";
        const std::size_t at = header.find(plain + " ");
        if (at != std::string::npos)
            header.replace(at, plain.size(), a.temperatureName(which));
    }
    return header;
}

// Each stretch over a limit, with a link that puts the cursor at its start.
std::string limitsList(const Drawing& d)
{
    const AircraftProfile& a = aircraftOf(d);
    std::string set;
    for (std::size_t k = 0; k < limitCount; ++k)
        if (a.limits[k])
            set += (set.empty() ? "" : ", ") + std::string(limitTable[k].kind == LimitKind::Maximum ? "highest " : "lowest ") +
                   (limitTable[k].key == std::string_view("t1") ? a.temperatureName(1)
                    : limitTable[k].key == std::string_view("t2") ? a.temperatureName(2)
                                                                    : std::string(limitTable[k].label)) +
                   " " + page::plain(*a.limits[k]) + " " + limitTable[k].unit;
    if (set.empty())
        return "<p class=\"note\">No limits are set for " + (a.name.empty() ? std::string("flights without an aircraft")
                                                                          : escaped(a.name)) +
               " (kxconvert --limit, or the settings file: see man kxconvert).</p>";
    std::string out = "<p class=\"note\">" + escaped(a.name.empty() ? std::string("Limits") : a.name + "'s limits") + ": " +
                      escaped(set) + ".</p>";
    if (d.figures.exceedances.empty())
        return out + "<p>No limit was gone over.</p>";
    out += "<ul class=\"exceedances\">";
    for (const Exceedance& e : d.figures.exceedances) {
        const LimitInfo& l = limitTable[e.limit];
        const std::string name = l.key == std::string_view("t1")   ? a.temperatureName(1)
                                 : l.key == std::string_view("t2") ? a.temperatureName(2)
                                                                   : std::string(l.label);
        out += "<li>" + element("a", {{"class", "exceedance"}, {"href", "#charts-h"}, {"data-t", std::to_string(e.from)},
                                      {"data-to", std::to_string(e.to)},
                                      {"data-limit", l.key}}) +
               escaped(name) + (l.kind == LimitKind::Maximum ? " over " : " under ") + page::plain(*a.limits[e.limit]) +
               " " + l.unit + " from " + shaped(clockTime, utcOf(e.from)) + " UTC for " + duration(e.seconds) +
               (l.kind == LimitKind::Maximum ? ", up to " : ", down to ") + page::plain(e.peak) + " " + l.unit +
               "</a></li>";
    }
    return out + "</ul>";
}

std::string crew(const PilotDetails& p)
{
    std::string out;
    for (const auto& [label, value] : {std::pair{"Pilot", p.pilot}, std::pair{"Aircraft", p.aircraft},
                                       std::pair{"Registration", p.registration}})
        if (!value.empty())
            out += std::string(label) + ": " + escaped(value) + ". ";
    return out;
}

}  // namespace

PageFormat::PageFormat(const FlightFile& t) : target(t) {}

PageFormat::~PageFormat() = default;

bool PageFormat::begin(ExportFile& file, uint32_t firstTime)
{
    if (!createFlightFile(file, target, ""))
        return false;
    drawing = std::make_unique<Drawing>(*target.figures, firstTime);
    return true;
}

void PageFormat::row(ExportFile&, const FlightPoint& p)
{
    Drawing& d = *drawing;
    const int col = d.column(p.time);
    const bool fix = usablePosition(p.values);
    d.times.add(p.time);
    d.fixes.add(fix);
    ++d.count;
    for (int q = 0; q < quantityCount; ++q) {
        const QuantityInfo& info = quantities[q];
        // Without a fix a position's quantities are noise: the value before stands in.
        d.records[q].add(info.needsFix && !fix ? d.records[q].last : info.stored(p.values));
        if (info.chart == NoChart)
            continue;
        if (info.needsFix && !fix)
            d.series[q].gap = true;
        else
            d.series[q].add(col, p.time, valueOf(info, p.values));
    }
    if (!fix) {
        d.trackGap = true;
        return;
    }
    const FlightFigures& f = d.figures;
    const TrackPoint here{(p.values.lon - f.south_west.lon) * d.projection.kmPerLonDegree,
                          (p.values.lat - f.south_west.lat) * kmPerDegree, d.trackGap};
    if (d.trackGap || d.track.empty() ||
        std::hypot(here.east - d.track.back().east, here.north - d.track.back().north) >= d.projection.thinKm)
        d.track.push_back(here);
    d.trackGap = false;
}

bool PageFormat::finish(ExportFile& file, uint32_t, uint32_t)
{
    Drawing& d = *drawing;
    for (Reduced& r : d.series)
        r.flush();
    for (ColumnText& c : d.records)
        c.flush();
    d.times.flush();
    d.fixes.flush();
    splitTemperatures(d);
    page::fillTemplate(pagefiles::flight, [&](std::string_view name, const Emit& emit) {
        if (name == "title") {
            emit(escaped(target.title));
        } else if (name == "crew") {
            emit(crew(*target.pilot));
        } else if (name == "figures") {
            emit(page::figuresTables(*target.row, [&](std::size_t k) { return namedHeader(k, *d.figures.aircraft); }));
        } else if (name == "limits") {
            emit(limitsList(d));
        } else if (name == "charts") {
            for (int c = 0; c < chartCount; ++c)
                if (std::find(std::begin(d.chartOf), std::end(d.chartOf), c) != std::end(d.chartOf))
                    emit(chartSvg(c, d));
        } else if (name == "track") {
            emit(trackSvg(d));
        } else if (name == "data") {
            pageData(d, emit);
        }
    }, [&](const std::string& piece) { file.put(piece.data(), piece.size()); });
    return true;
}
