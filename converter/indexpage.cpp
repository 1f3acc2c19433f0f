// The library's index, index.html: every flight with its figures and links,
// the totals of the library and of each aircraft by month, by year and in
// all, each aircraft's engine hours and next service, and its trends over
// the season (the peak and the cruise of both temperatures and the fuel
// burn of each flight, the engine hours of each month) with a cursor.
#include <algorithm>
#include <cmath>
#include <map>

#include "pagefiles.h"
#include "pagetext.h"
#include "textformat.h"

namespace page {
namespace {

constexpr int plotLeft = 64, plotWidth = 800, plotTop = 10, chartWidth = 880, chartHeight = 170;
constexpr int plotHeight = chartHeight - 40;

std::string totalsTable(const std::vector<const LogbookRow*>& rows, const std::string& caption,
                        const std::string& aircraft)
{
    std::map<std::string, Totals> months, years;
    Totals all;
    for (const LogbookRow* row : rows) {
        const std::string day = localDate(row->start);
        for (Totals* t : {&months[day.substr(0, 7)], &years[day.substr(0, 4)], &all})
            t->add(*row);
    }
    std::string out = (aircraft.empty() && caption.empty() ? std::string("<table class=\"totals\">")
                                                           : element("table", {{"class", "aircraft-totals"},
                                                                               {"data-aircraft", aircraft}})) +
                      "<caption>" + escaped(caption.empty() ? "Flights, flight time and engine time (h:mm:ss) by month, "
                                                              "by year and in all" : caption) +
                      "; a flight counts in the month of its local date (this computer's time zone)" +
                      "</caption><thead><tr><th scope=\"col\">Period</th><th scope=\"col\">Flights</th><th scope=\"col\">"
                      "Flight time</th><th scope=\"col\">Engine time</th></tr></thead><tbody>";
    const auto line = [&](const std::string& period, const Totals& t, const char* kind) {
        out += element("tr", {{"class", kind}, {"data-period", period}}) + "<th scope=\"row\">" + period +
               "</th><td class=\"n\">" + std::to_string(t.flights) + "</td><td class=\"n\">" +
               duration(t.flightSeconds) + "</td><td class=\"n\">" + duration(t.engineSeconds) + "</td></tr>";
    };
    for (const auto& [month, t] : months)
        line(month, t, "month");
    for (const auto& [year, t] : years)
        line(year, t, "year");
    line("In all", all, "all");
    return out + "</tbody></table>";
}

// What the index shows of each flight, as logbook columns.
constexpr Column indexColumns[] = {Column::DateUtc,     Column::TakeoffLocal, Column::LandingLocal,
                                   Column::FlightTime,  Column::EngineTime,   Column::MaxAltitude,
                                   Column::Distance,    Column::MaxRpm,       Column::FuelUsed,
                                   Column::PossiblyCut, Column::Aircraft,     Column::OverLimits};

void flightRow(std::string& out, const LogbookRow& row, const std::function<bool(const std::string&)>& exists)
{
    const auto has = [&](std::size_t k) { return (row.files & formatBit(k)) && exists(row.stem + formatTable[k].ending); };
    const auto link = [&](std::size_t k, const std::string& text) {
        appendEscaped(out.append("<a href=\""), row.stem).append(formatTable[k].ending).append("\">");
        appendEscaped(out, text).append("</a>");
    };
    const std::size_t page = std::find_if(formatTable, formatTable + formatCount, [](const FormatInfo& f) {
                                 return std::string_view(f.ending) == ".html";
                             }) - formatTable;
    out += element("tr", {{"class", row.at(Column::OverLimits).empty() ? "" : "over"},
                          {"data-aircraft", std::string(row.at(Column::Aircraft))}, {"data-date", localDate(row.start)}}) +
           "<th scope=\"row\">";
    if (page < formatCount && has(page))
        link(page, row.stem);
    else
        appendEscaped(out, row.stem);
    out += "</th>";
    for (const Column c : indexColumns)
        appendEscaped(out.append("<td>"), row.at(c)).append("</td>");
    out += "<td>";
    for (std::size_t k = 0; k < formatCount; ++k)
        if (formatTable[k].linkedFromIndex && has(k))
            link(k, formatTable[k].name);
    out += "</td></tr>\n";
}

// The trends drawn for each aircraft, a point per flight: one entry each.
struct TrendInfo {
    const char* key;   // its column in the data
    Column column;     // the logbook column it reads
    int chart;         // in trendCharts
    const char* colour;
    const char* label;
};
constexpr TrendInfo trends[] = {
    {"peakT1", Column::MaxT1, 0, "#b5272d", "highest"},
    {"cruiseT1", Column::CruiseT1, 0, "#e98e91", "mean at cruise"},
    {"peakT2", Column::MaxT2, 1, "#7a3fa0", "highest"},
    {"cruiseT2", Column::CruiseT2, 1, "#b99bd1", "mean at cruise"},
    {"burn", Column::FuelBurn, 2, "#8a6a00", "per engine hour"},
};
constexpr int trendChartCount = 4;  // the temperatures, the fuel burn, the engine hours of each month

std::string trendTitle(int chart, const AircraftProfile& a)
{
    switch (chart) {
    case 0: return a.temperatureName(1) + " [\xC2\xB0" "C]";
    case 1: return a.temperatureName(2) + " [\xC2\xB0" "C]";
    case 2: return "Fuel burn [%/h of engine time]";
    default: return "Engine hours by month [h]";
    }
}

// One aircraft's flights on a time axis from the first to the last.
struct Season {
    const AircraftProfile& aircraft;
    std::vector<const LogbookRow*> rows;
    uint32_t t0 = 0, t1 = 1;
    double x(uint32_t t) const { return plotLeft + (static_cast<double>(t) - t0) * plotWidth / (t1 - t0); }
};

bool numberIn(std::string_view text, double& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const std::string s(text);
    value = std::strtod(s.c_str(), &end);
    return end == s.c_str() + s.size();
}

// Engine hours of each month of the season, by "YYYY-MM" of the local date.
std::map<std::string, double> hoursByMonth(const Season& s)
{
    std::map<std::string, double> hours;
    for (const LogbookRow* row : s.rows) {
        uint32_t seconds = 0;
        parseDuration(row->at(Column::EngineTime), seconds);
        hours[localDate(row->start).substr(0, 7)] += seconds / 3600.0;
    }
    return hours;
}

// The first second of the month "YYYY-MM", and of the next.
std::pair<uint32_t, uint32_t> monthSpan(const std::string& month)
{
    const int year = std::stoi(month.substr(0, 4)), m = std::stoi(month.substr(5, 2));
    const int64_t from = secondsOf(UtcTime{year, m, 1, 0, 0, 0});
    const int64_t to = secondsOf(UtcTime{m == 12 ? year + 1 : year, m == 12 ? 1 : m + 1, 1, 0, 0, 0});
    return {static_cast<uint32_t>(from), static_cast<uint32_t>(to)};
}

std::string dateAxis(const Season& s)
{
    std::string out;
    const uint32_t span = s.t1 - s.t0;
    const uint32_t step = span > 120 * 86400u ? 0 : span > 21 * 86400u ? 7 * 86400 : 86400;  // 0: months
    uint32_t t = step ? (s.t0 + step - 1) / step * step : monthSpan(shaped(yearMonth, utcOf(s.t0))).second;
    for (int k = 0; t <= s.t1 && k < 40; ++k) {
        const std::string x = tenths(s.x(t));
        out += element("line", {{"class", "grid"}, {"x1", x}, {"x2", x}, {"y1", std::to_string(plotTop)},
                                {"y2", std::to_string(plotTop + plotHeight)}}, "/>") +
               element("text", {{"class", "tick"}, {"x", x}, {"y", std::to_string(plotTop + plotHeight + 14)},
                                {"text-anchor", "middle"}}) +
               (step ? shaped(isoDate, utcOf(t)).substr(5) : shaped(yearMonth, utcOf(t))) + "</text>";
        t = step ? t + step : monthSpan(shaped(yearMonth, utcOf(t))).second;
    }
    return out;
}

std::string valueAxis(double low, double high, double step, const std::function<double(double)>& y)
{
    std::string out;
    const int digits = decimalsOf(step);
    for (int k = 0; low + k * step <= high + step / 2; ++k) {
        const double v = low + k * step;
        out += element("line", {{"class", "grid"}, {"x1", std::to_string(plotLeft)},
                                {"x2", std::to_string(plotLeft + plotWidth)}, {"y1", tenths(y(v))}, {"y2", tenths(y(v))}},
                       "/>") +
               element("text", {{"class", "tick"}, {"x", std::to_string(plotLeft - 6)}, {"y", tenths(y(v) + 4)},
                                {"text-anchor", "end"}}) +
               decimals(std::fabs(v) < step / 2 ? 0.0 : v, digits) + "</text>";
    }
    return out;
}

// One trend chart of an aircraft: a point per flight for each of its
// trends, or a bar per month for the engine hours.
std::string trendChart(const Season& s, int chart, const std::string& id)
{
    std::vector<std::pair<uint32_t, double>> bars;
    double low = 1e300, high = -1e300;
    if (chart == 3)
        for (const auto& [month, hours] : hoursByMonth(s)) {
            bars.emplace_back(monthSpan(month).first, hours);
            low = 0, high = std::max(high, hours);
        }
    for (const TrendInfo& t : trends)
        for (const LogbookRow* row : s.rows)
            if (double v = 0; t.chart == chart && numberIn(row->at(t.column), v))
                low = std::min(low, v), high = std::max(high, v);
    const std::string title = escaped(trendTitle(chart, s.aircraft));
    if (low > high)
        return "";
    if (high - low < 1e-9)
        low -= 1, high += 1;
    const double step = niceStep(high - low), from = std::floor(low / step) * step, to = std::ceil(high / step) * step;
    const auto y = [&](double v) { return plotTop + plotHeight - (v - from) / (to - from) * plotHeight; };
    std::string out = "<figure>" + element("svg", {{"class", "trend"}, {"id", id}, {"viewBox", "0 0 880 170"},
                                                   {"role", "img"}, {"aria-labelledby", id + "-t"}}) +
                      element("title", {{"id", id + "-t"}}) + title + ", a point for each flight of " +
                      escaped(s.aircraft.name.empty() ? std::string("no aircraft named") : s.aircraft.name) + "</title>" +
                      element("rect", {{"class", "plot"}, {"x", std::to_string(plotLeft)}, {"y", std::to_string(plotTop)},
                                       {"width", std::to_string(plotWidth)}, {"height", std::to_string(plotHeight)}},
                              "/>") +
                      valueAxis(from, to, step, y) + dateAxis(s);
    for (const auto& [start, hours] : bars) {
        const double x0 = std::max<double>(plotLeft, s.x(start)), x1 = std::min<double>(plotLeft + plotWidth, s.x(start + 30 * 86400));
        out += element("rect", {{"class", "bar"}, {"x", tenths(x0)}, {"y", tenths(y(hours))},
                                {"width", tenths(std::max(x1 - x0 - 2, 2.0))}, {"height", tenths(y(0) - y(hours))},
                                {"data-hours", tenths(hours)}}, "/>");
    }
    std::string keys;
    for (const TrendInfo& t : trends) {
        if (t.chart != chart)
            continue;
        std::string path, dots;
        for (const LogbookRow* row : s.rows)
            if (double v = 0; numberIn(row->at(t.column), v)) {
                const std::string x = tenths(s.x(row->start)), yv = tenths(y(v));
                path += (path.empty() ? "M" : "L") + x + " " + yv;
                dots += element("circle", {{"cx", x}, {"cy", yv}, {"r", "2.5"}}, "/>");
            }
        out += element("path", {{"class", "series"}, {"data-series", t.key}, {"stroke", t.colour}, {"d", path}}, "/>") +
               element("g", {{"class", "dots"}, {"fill", t.colour}}) + dots + "</g>";
        keys += " " + element("span", {{"class", "key"}, {"style", std::string("border-color:") + t.colour}}) + t.label +
                "</span>";
    }
    out += element("line", {{"class", "cursor"}, {"x1", "0"}, {"x2", "0"}, {"y1", std::to_string(plotTop)},
                            {"y2", std::to_string(plotTop + plotHeight)}}, "/>");
    return out + "</svg><figcaption>" + title + keys + "</figcaption></figure>\n";
}

// What the script draws the trends again from, as JSON: the season's time
// axis, each chart with its series and bars, and each flight's values.
std::string trendData(const Season& s, const std::string& id)
{
    std::string t, name, date;
    std::vector<std::string> columns(std::size(trends));
    for (const LogbookRow* row : s.rows) {
        const std::string sep = t.empty() ? "" : ",";
        t += sep + std::to_string(row->start);
        name += sep + jsonString(row->stem);
        date += sep + "\"" + localDate(row->start) + "\"";
        for (std::size_t k = 0; k < std::size(trends); ++k) {
            double v = 0;
            columns[k] += sep + (numberIn(row->at(trends[k].column), v) ? tenths(v) : std::string("null"));
        }
    }
    std::string charts;
    for (int c = 0; c < trendChartCount; ++c) {
        std::string keys, bars;
        for (const TrendInfo& trend : trends)
            if (trend.chart == c)
                keys += std::string(keys.empty() ? "" : ",") + "[\"" + trend.key + "\",\"" + trend.colour + "\"]";
        if (c == 3)
            for (const auto& [month, hours] : hoursByMonth(s)) {
                const auto [from, to] = monthSpan(month);
                bars += std::string(bars.empty() ? "" : ",") + "[" + std::to_string(from) + "," + std::to_string(to) + "," +
                        tenths(hours) + "]";
            }
        charts += std::string(c ? "," : "") + "{\"id\":\"" + id + "-trend" + std::to_string(c) + "\",\"title\":" +
                  jsonString(trendTitle(c, s.aircraft)) + ",\"keys\":[" + keys + "],\"bars\":[" + bars + "]}";
    }
    std::string out = "{\"t0\":" + std::to_string(s.t0) + ",\"t1\":" + std::to_string(s.t1) + ",\"charts\":[" + charts +
                      "],\"flights\":{\"t\":[" + t + "],\"name\":[" + name + "],\"date\":[" + date + "]";
    for (std::size_t k = 0; k < std::size(trends); ++k)
        out += ",\"" + std::string(trends[k].key) + "\":[" + columns[k] + "]";
    return out + "}}";
}

// The trends' read-out: the flight at the cursor and its values.
std::string trendReadout(const Season& s)
{
    const auto cell = [](const std::string& label, const char* field) {
        return "<div><dt>" + label + "</dt>" + element("dd", {{"data-field", field}}) + "\xE2\x80\x93</dd></div>";
    };
    std::string cells = cell("Flight", "name") + cell("Date", "date");
    for (const TrendInfo& t : trends) {
        const std::string chart = trendTitle(t.chart, s.aircraft);
        cells += cell(escaped(chart.substr(0, chart.find(" ["))) + ", " + t.label, t.key);
    }
    return "<div class=\"trend-readout\"><p>At the cursor: point at a chart, tap it, or Tab to it and use the arrow "
           "keys.</p><dl>" + cells + "</dl></div>";
}

std::string aircraftSection(const Season& s, int index)
{
    const AircraftProfile& a = s.aircraft;
    const std::string name = a.name.empty() ? "No aircraft named" : a.name;
    const std::string id = "aircraft" + std::to_string(index);
    uint64_t engine = 0;
    for (const LogbookRow* row : s.rows) {
        uint32_t seconds = 0;
        parseDuration(row->at(Column::EngineTime), seconds);
        engine += seconds;
    }
    const EngineHours hours = engineHoursOf(a, engine);
    std::string out = element("section", {{"class", "aircraft"}, {"data-aircraft", a.name}, {"aria-labelledby", id + "-h"}}) +
                      element("h3", {{"id", id + "-h"}}) + escaped(name) +
                      (a.registration.empty() ? "" : " (" + escaped(a.registration) + ")") + "</h3>\n" +
                      element("p", {{"class", hours.until && *hours.until < 2 ? "engine due" : "engine"}}) +
                      "Engine: " + escaped(hours.said()) + ".</p>\n" +
                      totalsTable(s.rows, name + ": flights, flight time and engine time (h:mm:ss) by month, by year and "
                                          "in all", a.name) + "\n";
    std::string charts;
    for (int c = 0; c < trendChartCount; ++c)
        charts += trendChart(s, c, id + "-trend" + std::to_string(c));
    if (charts.empty())
        return out + "</section>\n";
    return out + "<h4>Trends over the season</h4>\n" + trendReadout(s) + charts +
           "<script type=\"application/json\" class=\"trend-data\">" + trendData(s, id) + "</script>\n</section>\n";
}

}  // namespace

void indexPage(const std::vector<const LogbookRow*>& rows, const std::function<bool(const std::string&)>& exists,
               const Settings& settings, const Emit& emit)
{
    std::map<std::string, std::vector<const LogbookRow*>> byAircraft;
    for (const LogbookRow* row : rows)
        byAircraft[std::string(row->at(Column::Aircraft))].push_back(row);
    fillTemplate(pagefiles::index, [&](std::string_view name, const Emit& out) {
        if (name == "totals") {
            out(totalsTable(rows, "", ""));
        } else if (name == "aircraft") {
            int index = 0;
            for (const auto& [aircraft, flights] : byAircraft) {
                const AircraftProfile profile = settings.profileOf(aircraft);
                Season season{profile, flights, flights.front()->start, std::max(flights.back()->start, flights.front()->start + 86400)};
                out(aircraftSection(season, ++index));
            }
        } else if (name == "count") {
            out(std::to_string(rows.size()));
        } else if (name == "columns") {
            std::string heads;
            for (const Column c : indexColumns)
                heads += "<th scope=\"col\">" + escaped(columnHeader(c)) + "</th>";
            out(heads);
        } else if (name == "flights") {
            std::string text;
            for (const LogbookRow* row : rows) {
                flightRow(text, *row, exists);
                if (text.size() > 60000) {
                    out(text);
                    text.clear();
                }
            }
            out(text);
        }
    }, emit);
}

}  // namespace page
