// The logbook's rows, and reading and writing them as logbook.csv holds them.
#include "logbook.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

const char* const logbookColumns[static_cast<int>(Column::Count)] = {
    "Flight (UTC start)", "Name", "Date (UTC)", "Takeoff (UTC)", "Landing (UTC)", "Takeoff (local)",
    "Landing (local)", "Flight time [h:mm:ss]", "Last record (UTC)", "Record span [h:mm:ss]", "Points",
    "Points without position", "Engine time [h:mm:ss]", "Max engine speed [rpm]",
    "Mean engine speed running [rpm]", "Max T1 [deg C]", "Mean T1 running [deg C]", "Max T2 [deg C]",
    "Mean T2 running [deg C]", "Min outside air [deg C]", "Max outside air [deg C]", "Fuel at start [%]",
    "Fuel at end [%]", "Fuel used [%]", "Fuel burn [%/h of engine time]", "Max pressure altitude [m]",
    "Max GPS altitude [m]", "Total climb [m]", "Best climb [m/s]", "Best sink [m/s]", "Distance [km]",
    "Max ground speed [km/h]", "Possibly cut", "Files"};

namespace {

constexpr int columnCount = static_cast<int>(Column::Count);

std::string number(double value, int decimals)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string utcText(uint32_t t)
{
    char text[24];
    char* end = clockTime(isoDate(text, utcOf(t)) + 1, utcOf(t));
    text[10] = ' ';
    return std::string(text, end);
}

std::string isoText(uint32_t t)
{
    char text[24];
    return std::string(text, isoDateTime(text, utcOf(t)));
}

// "2024-05-01T08:12:00Z", or with a blank and without the Z, as a spreadsheet may save it.
bool parseUtc(const std::string& text, uint32_t& seconds)
{
    UtcTime t;
    char sep = 0;
    char zone[4] = "";
    const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%3s", &t.year, &t.month, &t.day, &sep, &t.hour,
                              &t.minute, &t.second, zone);
    if (n < 7 || (sep != 'T' && sep != ' ') || (n == 8 && std::string(zone) != "Z") || t.month < 1 || t.month > 12 ||
        t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59)
        return false;
    const int64_t s = secondsOf(t);
    if (s < 0 || s > UINT32_MAX || utcOf(static_cast<uint32_t>(s)).day != t.day)
        return false;
    seconds = static_cast<uint32_t>(s);
    return true;
}

bool parseCount(const std::string& text, uint32_t& value)
{
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), ::isdigit))
        return false;
    value = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
    return true;
}

// A name the library made: it becomes part of paths, so nothing that could
// lead out of the folder.
bool safeStem(const std::string& stem)
{
    return !stem.empty() && stem.size() < 100 && stem[0] != '.' &&
           std::all_of(stem.begin(), stem.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) ||
                                                                     c == '-' || c == '_' || c == '.'; });
}

std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t");
    const auto e = s.find_last_not_of(" \t");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::string lowered(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// One record of the file: its fields, and whether a quote was left open.
struct Record {
    std::vector<std::string> fields;
    bool open = false;
};

// The record that starts at `lines[from]`, over as many lines as its quoted
// fields take (`lines` are the file's lines without their ends); how many
// lines it took goes to `used`. With `oneLine`, a quote left open ends with
// its line.
Record parseRecord(const std::vector<std::string>& lines, std::size_t from, char delimiter, bool oneLine,
                   std::size_t& used)
{
    Record r;
    std::string field;
    bool quoted = false;
    std::size_t line = from;
    for (std::size_t i = 0;; ++i) {
        const std::string& text = lines[line];
        if (i == text.size()) {
            if (quoted && !oneLine && line + 1 < lines.size()) {
                field += "\r\n";
                ++line;
                i = static_cast<std::size_t>(-1);
                continue;
            }
            r.open = quoted;
            break;
        }
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            ++i;
        } else if (c == '"' && (quoted || field.empty())) {
            quoted = !quoted;
        } else if (c == delimiter && !quoted) {
            r.fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    r.fields.push_back(field);
    used = line - from + 1;
    return r;
}

// The separator a spreadsheet saved with: the one of comma, semicolon and
// tab that makes the first line name the flight's column; else the most
// frequent of them outside quotes.
char delimiterOf(const std::vector<std::string>& lines, std::size_t header)
{
    const char candidates[3] = {',', ';', '\t'};
    for (const char c : candidates) {
        std::size_t used = 0;
        for (const std::string& name : parseRecord(lines, header, c, false, used).fields)
            if (lowered(trimmed(name)) == lowered(logbookColumns[0]))
                return c;
    }
    std::size_t counts[3] = {};
    bool quoted = false;
    for (const char c : lines[header]) {
        quoted = c == '"' ? !quoted : quoted;
        for (int k = 0; k < 3 && !quoted; ++k)
            counts[k] += c == candidates[k];
    }
    const auto most = std::max_element(counts, counts + 3) - counts;
    return counts[most] > 0 ? candidates[most] : ',';
}

// Where each column of the file goes: this version's column k, or past
// them, one of the others; -1 for a column without a name, which is dropped.
struct Layout {
    std::vector<int> target;
    bool hasHeader = false;
};

Layout layoutOf(const Record& header, Logbook& book)
{
    Layout l;
    for (const std::string& name : header.fields) {
        const std::string key = lowered(trimmed(name));
        const auto known = std::find_if(logbookColumns, logbookColumns + columnCount,
                                         [&](const char* c) { return lowered(c) == key; });
        if (known != logbookColumns + columnCount) {
            l.target.push_back(static_cast<int>(known - logbookColumns));
            l.hasHeader = l.hasHeader || known == logbookColumns;
        } else if (!key.empty()) {
            l.target.push_back(columnCount + static_cast<int>(book.otherColumns.size()));
            book.otherColumns.push_back(trimmed(name));
        } else {
            l.target.push_back(-1);
        }
    }
    if (!l.hasHeader) {  // no header: this version's columns, in order
        book.otherColumns.clear();
        l.target.clear();
        for (int k = 0; k < columnCount; ++k)
            l.target.push_back(k);
    }
    return l;
}

// The row a record holds, or why it is none.
const char* rowOf(const Record& r, const Layout& l, std::size_t others, LogbookRow& row)
{
    if (r.open)
        return "a quote is left open";
    row.fields.assign(columnCount + others, "");
    for (std::size_t k = 0; k < r.fields.size() && k < l.target.size(); ++k)
        if (l.target[k] >= 0)
            row.fields[static_cast<std::size_t>(l.target[k])] = trimmed(r.fields[k]);
    if (r.fields.size() > l.target.size())
        return "more fields than the logbook has columns";
    if (!parseUtc(row.at(Column::Flight), row.start))
        return "no flight start (YYYY-MM-DDTHH:MM:SSZ) where the logbook has it";
    row.stem = row.at(Column::Name);
    if (!safeStem(row.stem))
        return "no file name of the library where the logbook has it";
    if (!parseCount(row.at(Column::Points), row.points))
        return "no number of points where the logbook has it";
    return nullptr;
}

void keepAside(Logbook& book, const std::vector<std::string>& lines, std::size_t from, std::size_t count,
               const std::string& name, const char* why)
{
    for (std::size_t k = from; k < from + count; ++k)
        book.unreadable += lines[k] + "\r\n";
    std::fprintf(stderr, "kxconvert: %s line %zu cannot be read (%s); it is kept in %s.\n", name.c_str(), from + 1,
                 why, unreadableName);
}

std::vector<std::string> linesOf(std::string text)
{
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

// Takes a row into the book; of two rows of one flight the longer stays.
void take(Logbook& book, LogbookRow row, const std::vector<std::string>& lines, std::size_t from, std::size_t used,
          const std::string& name)
{
    const auto [it, added] = book.rows.emplace(row.start, row);
    if (added)
        return;
    if (row.points > it->second.points)
        std::swap(it->second, row);
    keepAside(book, lines, from, used, name, "the same flight as another row, which has at least as many points");
}

std::string quoted(const std::string& field)
{
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string out = "\"";
    for (const char c : field)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string csvLine(const std::vector<std::string>& fields)
{
    std::string line;
    for (std::size_t k = 0; k < fields.size(); ++k)
        line += (k ? "," : "") + quoted(fields[k]);
    return line + "\r\n";
}

}  // namespace

bool parseDuration(const std::string& text, uint32_t& seconds)
{
    unsigned h = 0, m = 0, s = 0;
    int end = 0;
    const int n = std::sscanf(text.c_str(), "%u:%2u%n:%2u%n", &h, &m, &end, &s, &end);
    if (n < 2 || static_cast<std::size_t>(end) != text.size() || m > 59 || s > 59 || h > 1000000)
        return false;
    seconds = h * 3600 + m * 60 + s;
    return true;
}

void readLogbook(const std::string& text, const std::string& name, Logbook& book)
{
    const std::vector<std::string> lines = linesOf(text);
    std::size_t at = 0;
    while (at < lines.size() && trimmed(lines[at]).empty())
        ++at;
    if (at == lines.size())
        return;
    const char delimiter = delimiterOf(lines, at);
    std::size_t used = 0;
    const Layout layout = layoutOf(parseRecord(lines, at, delimiter, false, used), book);
    at = layout.hasHeader ? at + used : at;
    while (at < lines.size()) {
        if (trimmed(lines[at]).empty()) {
            ++at;
            continue;
        }
        LogbookRow row;
        const char* why = rowOf(parseRecord(lines, at, delimiter, false, used), layout, book.otherColumns.size(), row);
        if (why && used > 1) {  // a stray quote: the line alone
            used = 1;
            why = rowOf(parseRecord(lines, at, delimiter, true, used), layout, book.otherColumns.size(), row);
        }
        if (why)
            keepAside(book, lines, at, used, name, why);
        else
            take(book, row, lines, at, used, name);
        at += used;
    }
}

std::string logbookText(const Logbook& book)
{
    std::vector<std::string> header(logbookColumns, logbookColumns + columnCount);
    header.insert(header.end(), book.otherColumns.begin(), book.otherColumns.end());
    std::string text = csvLine(header);
    for (const auto& [start, row] : book.rows)
        text += csvLine(row.fields);
    return text;
}

LogbookRow logbookRow(const FlightFigures& f, const std::string& stem, const std::string& files,
                      std::size_t otherColumns)
{
    LogbookRow row;
    row.start = f.firstTime;
    row.stem = stem;
    row.points = f.points;
    const bool ran = f.engineSeconds > 0;
    const std::vector<std::string> fields = {
        isoText(f.firstTime),
        stem,
        utcText(f.firstTime).substr(0, 10),
        f.airborne ? utcText(f.takeoff) : "",
        f.airborne ? utcText(f.landing) : "",
        f.airborne ? localWithOffset(f.takeoff) : "",
        f.airborne ? localWithOffset(f.landing) : "",
        duration(f.flightSeconds()),
        isoText(f.lastTime),
        duration(f.lastTime - f.firstTime),
        std::to_string(f.points),
        std::to_string(f.unusable),
        duration(f.engineSeconds),
        std::to_string(f.maxRpm),
        ran ? std::to_string(f.meanRpm) : "",
        std::to_string(f.maxT1),
        ran ? number(f.meanT1, 1) : "",
        std::to_string(f.maxT2),
        ran ? number(f.meanT2, 1) : "",
        std::to_string(f.minOat),
        std::to_string(f.maxOat),
        std::to_string(f.fuelStart),
        std::to_string(f.fuelEnd),
        std::to_string(f.fuelStart - f.fuelEnd),
        f.engineSeconds >= 60 ? number((f.fuelStart - f.fuelEnd) * 3600.0 / f.engineSeconds, 1) : "",
        std::to_string(f.maxAltitude),
        f.hasPosition ? std::to_string(f.maxAltitudeGps) : "",
        std::to_string(f.totalClimb),
        number(f.bestClimb, 1),
        number(f.bestSink, 1),
        number(f.distanceKm, 1),
        f.hasPosition ? std::to_string(f.maxSpeed) : "",
        f.possiblyCut ? "yes" : "",
        files,
    };
    row.fields = fields;
    row.fields.resize(fields.size() + otherColumns);
    return row;
}
