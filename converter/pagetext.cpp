// The fixed parts of the library's pages, their tables, and index.html.
#include "pagetext.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace page {

namespace {

constexpr const char* style =
    "body{font:15px/1.45 system-ui,-apple-system,'Segoe UI',sans-serif;margin:0 auto;max-width:1100px;"
    "padding:0 16px 48px;color:#1a1a1a;background:#fff}"
    "h1{font-size:1.5em;margin:.8em 0 .2em}h2{font-size:1.2em;margin:1.4em 0 .4em}"
    "table{border-collapse:collapse;font-size:.92em}th,td{padding:2px 10px 2px 0;text-align:left;"
    "border-bottom:1px solid #e0e0e0;vertical-align:top}th{font-weight:600}td.n{text-align:right}"
    ".pair{display:flex;flex-wrap:wrap;gap:0 40px}.wide{overflow-x:auto}.flights th,.flights td{white-space:nowrap}"
    ".event{stroke:#555;stroke-dasharray:4 3}.event-label{font-size:11px;fill:#333}"
    "figure{margin:0 0 6px}figcaption{font-size:.88em;color:#333}"
    "svg{width:100%;height:auto;display:block;touch-action:none}"
    ".plot{fill:#fafafa;stroke:#8a8a8a}.grid{stroke:#e4e4e4}.tick{font-size:11px;fill:#333}"
    ".unit{font-size:12px;fill:#333}.series{fill:none;stroke-width:1.4}"
    "line.cursor{stroke:#000;stroke-width:1;visibility:hidden}circle.cursor{fill:#000;visibility:hidden}"
    ".takeoff{fill:#1a7f1a}.landing{fill:#c0392b}.scale{stroke:#000;stroke-width:2}"
    ".key{border-left:14px solid;padding-left:5px;margin-left:10px}"
    "#readout{position:sticky;top:0;background:#fff;z-index:1;margin-bottom:8px;box-shadow:0 2px 4px #0002}"
    "#readout th,#readout td{white-space:nowrap}.note{font-size:.88em;color:#333}"
    "nav a,td a{margin-right:.6em}";

// The cursor: the pointer's time on any chart picks the nearest record kept
// for it; a line marks that time on every chart, its place on the track, and
// the read-out shows its values, the time in UTC and in the viewer's local time.
constexpr const char* cursorScript = R"JS(<script>
(function () {
  var d = JSON.parse(document.getElementById('kx-data').textContent), r = d.records, n = r.t.length;
  var out = document.getElementById('readout'), cells = {};
  out.querySelectorAll('td[data-field]').forEach(function (c) { cells[c.getAttribute('data-field')] = c; });
  function two(v) { return (v < 10 ? '0' : '') + v; }
  function utc(t) { return new Date(t * 1000).toISOString().replace('T', ' ').slice(0, 19); }
  function local(t) {
    var x = new Date(t * 1000), o = -x.getTimezoneOffset(), a = Math.abs(o);
    return x.getFullYear() + '-' + two(x.getMonth() + 1) + '-' + two(x.getDate()) + ' ' + two(x.getHours()) + ':' +
      two(x.getMinutes()) + ':' + two(x.getSeconds()) + ' ' + (o < 0 ? '-' : '+') + two(Math.floor(a / 60)) + ':' +
      two(a % 60);
  }
  function nearest(t) {
    var lo = 0, hi = n - 1;
    while (lo < hi) { var m = (lo + hi) >> 1; if (r.t[m] < t) lo = m + 1; else hi = m; }
    if (lo > 0 && t - r.t[lo - 1] <= r.t[lo] - t) lo--;
    return lo;
  }
  function show(i) {
    var x = d.x0 + (r.t[i] - d.t0) / (d.t1 - d.t0) * d.width;
    document.querySelectorAll('line.cursor').forEach(function (l) {
      l.setAttribute('x1', x); l.setAttribute('x2', x); l.style.visibility = 'visible';
    });
    out.setAttribute('data-t', r.t[i]);
    cells.utc.textContent = utc(r.t[i]);
    cells.local.textContent = local(r.t[i]);
    ['baro', 'gps', 'rpm', 't1', 't2', 'fuel', 'oat', 'climb', 'speed'].forEach(function (k) {
      cells[k].textContent = r[k][i] === null ? 'no fix' : String(r[k][i]);
    });
    cells.position.textContent = r.lat[i] === null ? 'no fix' : r.lat[i].toFixed(6) + ', ' + r.lon[i].toFixed(6);
    var m = document.querySelector('circle.cursor');
    if (m && d.track && r.lat[i] !== null) {
      m.setAttribute('cx', d.track.left + (r.lon[i] - d.track.west) * d.track.kmLon * d.track.scale);
      m.setAttribute('cy', d.track.bottom - (r.lat[i] - d.track.south) * d.track.kmLat * d.track.scale);
      m.style.visibility = 'visible';
    }
  }
  document.querySelectorAll('svg.chart').forEach(function (svg) {
    svg.addEventListener('pointermove', function (e) {
      var p = svg.createSVGPoint();
      p.x = e.clientX; p.y = e.clientY;
      var q = p.matrixTransform(svg.getScreenCTM().inverse());
      show(nearest(d.t0 + (q.x - d.x0) / d.width * (d.t1 - d.t0)));
    });
  });
})();
</script>
</main>
</body>
</html>
)JS";

struct Field {
    const char* key;
    const char* label;
};
constexpr Field readoutFields[] = {
    {"utc", "Time (UTC)"}, {"local", "Local time"}, {"baro", "Pressure altitude [m]"}, {"gps", "GPS altitude [m]"},
    {"rpm", "Engine speed [rpm]"}, {"t1", "T1 [\xC2\xB0" "C]"}, {"t2", "T2 [\xC2\xB0" "C]"}, {"fuel", "Fuel [%]"},
    {"oat", "Outside air [\xC2\xB0" "C]"}, {"climb", "Climb rate [m/s]"}, {"speed", "Ground speed [km/h]"},
    {"position", "Position"}};

std::string totalsTable(const Logbook& book)
{
    std::map<std::string, Totals> months, years;
    Totals all;
    for (const auto& [start, row] : book.rows) {
        const std::string date(row.at(Column::DateUtc));
        for (Totals* t : {&months[date.substr(0, 7)], &years[date.substr(0, 4)], &all})
            t->add(row);
    }
    std::string out = "<table class=\"totals\"><caption>Flights, flight time and engine time (h:mm:ss) by month, "
                      "by year and in all</caption><thead><tr><th scope=\"col\">Period</th><th scope=\"col\">"
                      "Flights</th><th scope=\"col\">Flight time</th><th scope=\"col\">Engine time</th></tr></thead>"
                      "<tbody>";
    const auto line = [&](const std::string& period, const Totals& t, const char* kind) {
        out += "<tr class=\"" + std::string(kind) + "\" data-period=\"" + period + "\"><th scope=\"row\">" + period +
               "</th><td class=\"n\">" + std::to_string(t.flights) + "</td><td class=\"n\">" + duration(t.flightSeconds) +
               "</td><td class=\"n\">" + duration(t.engineSeconds) + "</td></tr>";
    };
    for (const auto& [month, t] : months)
        line(month, t, "month");
    for (const auto& [year, t] : years)
        line(year, t, "year");
    line("In all", all, "all");
    return out + "</tbody></table>\n";
}

// What the index shows of each flight, as logbook columns.
constexpr Column indexColumns[] = {Column::DateUtc,     Column::TakeoffLocal, Column::LandingLocal,
                                   Column::FlightTime,  Column::EngineTime,   Column::MaxAltitude,
                                   Column::Distance,    Column::MaxRpm,       Column::FuelUsed,
                                   Column::PossiblyCut};

void flightRow(std::string& out, const LogbookRow& row, const std::function<bool(const std::string&)>& exists)
{
    const std::string files = " " + std::string(row.at(Column::Files)) + " ";
    const auto has = [&](const char* ending) {
        return files.find(std::string(" ") + ending + " ") != std::string::npos && exists(row.stem + "." + ending);
    };
    const std::string name = escaped(row.stem);
    out += "<tr><th scope=\"row\">";
    if (has("html"))
        out.append("<a href=\"").append(name).append(".html\">").append(name).append("</a>");
    else
        out += name;
    out += "</th>";
    for (const Column c : indexColumns)
        out.append("<td>").append(escaped(row.at(c))).append("</td>");
    out += "<td>";
    for (const char* ending : {"igc", "gpx", "kml"})
        if (has(ending))
            out.append("<a href=\"").append(name).append(".").append(ending).append("\">").append(ending).append("</a>");
    out += "</td></tr>\n";
}

}  // namespace

std::string escaped(std::string_view text)
{
    if (std::none_of(text.begin(), text.end(), [](char c) { return c == '&' || c == '<' || c == '>' || c == '"'; }))
        return std::string(text);
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string tenths(double value)
{
    const long long t = std::llround(value * 10);
    const long long whole = (t < 0 ? -t : t) / 10;
    return (t < 0 ? "-" : "") + std::to_string(whole) + "." + std::to_string((t < 0 ? -t : t) % 10);
}

std::string head(const std::string& title)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<meta name=\"viewport\" "
           "content=\"width=device-width, initial-scale=1\">\n<title>" + escaped(title) + "</title>\n<style>" + style +
           "</style>\n</head>\n<body>\n<main>\n";
}

std::string introduction(const FlightFile& target)
{
    std::string out = "<h1>" + escaped(target.title) + "</h1>\n<p>";
    const PilotDetails& p = *target.pilot;
    for (const auto& [label, value] : {std::pair{"Pilot", p.pilot}, std::pair{"Aircraft", p.aircraft},
                                       std::pair{"Registration", p.registration}})
        if (!value.empty())
            out += std::string(label) + ": " + escaped(value) + ". ";
    return out + "Times in UTC unless said; the charts share one time axis: move the pointer over them to read "
                 "every value at that time. <a href=\"index.html\">All flights</a></p>\n";
}

std::string figuresTable(const LogbookRow& row)
{
    // In two tables side by side: times and engine, then the rest.
    const int split = static_cast<int>(Column::MeanT2) + 1;
    std::string out = "<section aria-labelledby=\"figures-h\"><h2 id=\"figures-h\">Figures</h2>\n"
                      "<p class=\"note\">As the logbook (logbook.csv) has them.</p><div class=\"pair\">";
    for (const auto& [from, to] : {std::pair{0, split}, std::pair{split, static_cast<int>(Column::Files)}}) {
        out += "<table class=\"figures\"><tbody>\n";
        for (int k = from; k < to; ++k)
            out += "<tr><th scope=\"row\">" + escaped(logbookColumns[k]) + "</th><td>" + escaped(row.field(static_cast<std::size_t>(k))) +
                   "</td></tr>\n";
        out += "</tbody></table>";
    }
    return out + "</div></section>\n";
}

std::string readoutTable()
{
    // Three rows of names, each with its row of values, so that it fits a narrow window.
    std::string out = "<table id=\"readout\"><caption>At the cursor (move the pointer over a chart)</caption>";
    const std::size_t count = sizeof readoutFields / sizeof readoutFields[0], row = count / 3;
    for (std::size_t from = 0; from < count; from += row) {
        std::string heads, cells;
        for (std::size_t k = from; k < from + row; ++k) {
            heads += "<th scope=\"col\">" + std::string(readoutFields[k].label) + "</th>";
            cells += "<td data-field=\"" + std::string(readoutFields[k].key) + "\">\xE2\x80\x93</td>";
        }
        out += "<tr>" + heads + "</tr><tr>" + cells + "</tr>";
    }
    return out + "</table>\n";
}

const char* script() { return cursorScript; }

void indexPage(const Logbook& book, const std::function<bool(const std::string&)>& exists, const Emit& emit)
{
    std::string out = head("KX+ flight library") +
                      "<h1>KX+ flight library</h1>\n<p>Every flight of the logbook (logbook.csv), newest last, "
                      "with its page and files. Times are local unless said.</p>\n<section aria-labelledby=\"t-h\">"
                      "<h2 id=\"t-h\">Totals</h2>\n" + totalsTable(book) + "</section>\n<section aria-labelledby="
                      "\"f-h\"><h2 id=\"f-h\">Flights</h2>\n<div class=\"wide\"><table class=\"flights\"><caption>" +
                      std::to_string(book.rows.size()) + " flights</caption><thead><tr><th scope=\"col\">Flight"
                      "</th>";
    for (const Column c : indexColumns)
        out += "<th scope=\"col\">" + escaped(logbookColumns[static_cast<int>(c)]) + "</th>";
    out += "<th scope=\"col\">Files</th></tr></thead><tbody>\n";
    for (const auto& [start, row] : book.rows) {
        flightRow(out, row, exists);
        if (out.size() > 60000) {
            emit(out);
            out.clear();
        }
    }
    emit(out + "</tbody></table></div></section>\n</main>\n</body>\n</html>\n");
}

}  // namespace page
