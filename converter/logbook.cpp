// The logbook's rows, and reading and writing them as logbook.csv holds them.
#include "logbook.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string_view>

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
// The file's lines, without their ends, as views of its text.
using Lines = std::vector<std::string_view>;

std::string number(double value, int decimals)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// The number in `n` digits at `text[at]`, or -1.
int digitsAt(std::string_view text, std::size_t at, std::size_t n)
{
    int value = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i])))
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "2024-05-01T08:12:00Z", or with a blank and without the Z, as a spreadsheet may save it.
bool parseUtc(std::string_view text, uint32_t& seconds)
{
    const UtcTime t{digitsAt(text, 0, 4), digitsAt(text, 5, 2), digitsAt(text, 8, 2),
                    digitsAt(text, 11, 2), digitsAt(text, 14, 2), digitsAt(text, 17, 2)};
    const bool shape = text.size() >= 19 && text[4] == '-' && text[7] == '-' && (text[10] == 'T' || text[10] == ' ') &&
                       text[13] == ':' && text[16] == ':' && (text.size() == 19 || text.substr(19) == "Z");
    if (!shape || t.year < 0 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 || t.hour > 23 ||
        t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59)
        return false;
    const int64_t s = secondsOf(t);
    if (s < 0 || s > UINT32_MAX || utcOf(static_cast<uint32_t>(s)).day != t.day)
        return false;
    seconds = static_cast<uint32_t>(s);
    return true;
}

bool parseCount(std::string_view text, uint32_t& value)
{
    const int n = text.empty() || text.size() > 9 ? -1 : digitsAt(text, 0, text.size());
    value = static_cast<uint32_t>(n);
    return n >= 0;
}

// A name the library made: it becomes part of paths, so nothing that could
// lead out of the folder.
bool safeStem(std::string_view stem)
{
    return !stem.empty() && stem.size() < 100 && stem[0] != '.' &&
           std::all_of(stem.begin(), stem.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) ||
                                                                     c == '-' || c == '_' || c == '.'; });
}

std::string_view trimmed(std::string_view s)
{
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string lowered(std::string_view view)
{
    std::string s(view);
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// One record of the file: its fields (kept in one text), and whether a
// quote was left open.
struct Record {
    std::string text;
    std::vector<uint32_t> ends;  // where each field ends in `text`
    bool open = false;
    std::size_t size() const { return ends.size(); }
    std::string_view field(std::size_t k) const
    {
        const std::size_t from = k ? ends[k - 1] : 0;
        return std::string_view(text).substr(from, ends[k] - from);
    }
    void endField() { ends.push_back(static_cast<uint32_t>(text.size())); }
};

// The record that starts at `lines[from]`, over as many lines as its quoted
// fields take (`lines` are the file's lines without their ends); how many
// lines it took goes to `used`. With `oneLine`, a quote left open ends with
// its line.
Record parseRecord(const Lines& lines, std::size_t from, char delimiter, bool oneLine, std::size_t& used)
{
    Record r;
    r.text.reserve(lines[from].size());
    r.ends.reserve(columnCount + 8);
    bool quoted = false;
    bool fresh = true;  // nothing of the field yet
    std::size_t line = from;
    for (std::size_t i = 0;; ++i) {
        const std::string_view text = lines[line];
        // A field without quotes, the usual case: up to the next separator at once.
        if (!quoted && fresh && i < text.size() && text[i] != '"') {
            const std::size_t end = std::min(text.find(delimiter, i), text.size());
            r.text.append(text.substr(i, end - i));
            fresh = false;
            i = end;
        }
        if (i == text.size()) {
            if (quoted && !oneLine && line + 1 < lines.size()) {
                r.text += "\r\n";
                ++line;
                i = static_cast<std::size_t>(-1);
                continue;
            }
            r.open = quoted;
            break;
        }
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            r.text += '"';
            ++i;
        } else if (c == '"' && (quoted || fresh)) {
            quoted = !quoted;
            fresh = false;
        } else if (c == delimiter && !quoted) {
            r.endField();
            fresh = true;
        } else {
            r.text += c;
            fresh = false;
        }
    }
    r.endField();
    used = line - from + 1;
    return r;
}

// The separator a spreadsheet saved with: the one of comma, semicolon and
// tab that makes the first line name the flight's column; else the most
// frequent of them outside quotes.
char delimiterOf(const Lines& lines, std::size_t header)
{
    const char candidates[3] = {',', ';', '\t'};
    for (const char c : candidates) {
        std::size_t used = 0;
        const Record r = parseRecord(lines, header, c, false, used);
        for (std::size_t k = 0; k < r.size(); ++k)
            if (lowered(trimmed(r.field(k))) == lowered(logbookColumns[0]))
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
    for (std::size_t k = 0; k < header.size(); ++k) {
        const std::string_view name = header.field(k);
        const std::string key = lowered(trimmed(name));
        const auto known = std::find_if(logbookColumns, logbookColumns + columnCount,
                                         [&](const char* c) { return lowered(c) == key; });
        if (known != logbookColumns + columnCount) {
            l.target.push_back(static_cast<int>(known - logbookColumns));
            l.hasHeader = l.hasHeader || known == logbookColumns;
        } else if (!key.empty()) {
            l.target.push_back(columnCount + static_cast<int>(book.otherColumns.size()));
            book.otherColumns.emplace_back(trimmed(name));
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
    std::vector<std::string_view> fields(columnCount + others);
    for (std::size_t k = 0; k < r.size() && k < l.target.size(); ++k)
        if (l.target[k] >= 0)
            fields[static_cast<std::size_t>(l.target[k])] = trimmed(r.field(k));
    if (r.size() > l.target.size())
        return "more fields than the logbook has columns";
    row.assign(fields);
    if (!parseUtc(row.at(Column::Flight), row.start))
        return "no flight start (YYYY-MM-DDTHH:MM:SSZ) where the logbook has it";
    row.stem = std::string(row.at(Column::Name));
    if (!safeStem(row.stem))
        return "no file name of the library where the logbook has it";
    if (!parseCount(row.at(Column::Points), row.points))
        return "no number of points where the logbook has it";
    parseFormats(row.at(Column::Files), ' ', row.files);  // a later version's formats are passed over
    return nullptr;
}

void keepAside(Logbook& book, const Lines& lines, std::size_t from, std::size_t count,
               const std::string& name, const char* why)
{
    for (std::size_t k = from; k < from + count; ++k)
        book.unreadable.append(lines[k]).append("\r\n");
    std::fprintf(stderr, "kxconvert: %s line %zu cannot be read (%s); it is kept in %s.\n", name.c_str(), from + 1,
                 why, unreadableName);
}

Lines linesOf(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    Lines lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        end = end == std::string_view::npos ? text.size() : end;
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

// Takes a row into the book; of two rows of one flight the longer stays.
void take(Logbook& book, LogbookRow&& row, const Lines& lines, std::size_t from, std::size_t used,
          const std::string& name)
{
    const auto it = book.rows.find(row.start);
    if (it == book.rows.end()) {
        book.rows.emplace_hint(book.rows.end(), row.start, std::move(row));
        return;
    }
    if (row.points > it->second.points)
        std::swap(it->second, row);
    keepAside(book, lines, from, used, name, "the same flight as another row, which has at least as many points");
}

void appendQuoted(std::string& out, std::string_view field)
{
    if (std::none_of(field.begin(), field.end(), [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; })) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field)
        out.append(c == '"' ? 2 : 1, c);
    out += '"';
}

void appendLine(std::string& out, const std::vector<std::string>& fields)
{
    for (std::size_t k = 0; k < fields.size(); ++k) {
        if (k)
            out += ',';
        appendQuoted(out, fields[k]);
    }
    out += "\r\n";
}

void appendLine(std::string& out, const LogbookRow& row)
{
    for (std::size_t k = 0; k < row.size(); ++k) {
        if (k)
            out += ',';
        appendQuoted(out, row.field(k));
    }
    out += "\r\n";
}

}  // namespace

void Totals::add(const LogbookRow& row)
{
    uint32_t flight = 0, engine = 0;
    parseDuration(row.at(Column::FlightTime), flight);
    parseDuration(row.at(Column::EngineTime), engine);
    add(flight, engine);
}

bool parseDuration(std::string_view text, uint32_t& seconds)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 6 || (text.size() != colon + 3 && text.size() != colon + 6) ||
        (text.size() == colon + 6 && text[colon + 3] != ':'))
        return false;
    const int h = digitsAt(text, 0, colon), m = digitsAt(text, colon + 1, 2);
    const int s = text.size() == colon + 6 ? digitsAt(text, colon + 4, 2) : 0;
    if (h < 0 || m < 0 || m > 59 || s < 0 || s > 59)
        return false;
    seconds = static_cast<uint32_t>(h) * 3600 + static_cast<uint32_t>(m) * 60 + static_cast<uint32_t>(s);
    return true;
}

void readLogbook(const std::string& text, const std::string& name, Logbook& book)
{
    const Lines lines = linesOf(text);
    std::size_t at = 0;
    while (at < lines.size() && lines[at].find_first_not_of(" \t") == std::string_view::npos)
        ++at;
    if (at == lines.size())
        return;
    const char delimiter = delimiterOf(lines, at);
    std::size_t used = 0;
    const Layout layout = layoutOf(parseRecord(lines, at, delimiter, false, used), book);
    at = layout.hasHeader ? at + used : at;
    while (at < lines.size()) {
        if (lines[at].find_first_not_of(" \t") == std::string_view::npos) {
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
            take(book, std::move(row), lines, at, used, name);
        at += used;
    }
}

void writeLogbook(const Logbook& book, const Emit& emit)
{
    std::vector<std::string> header(logbookColumns, logbookColumns + columnCount);
    header.insert(header.end(), book.otherColumns.begin(), book.otherColumns.end());
    std::string line;
    appendLine(line, header);
    emit(line);
    for (const auto& [start, row] : book.rows) {
        line.clear();
        appendLine(line, row);
        emit(line);
    }
}

std::string logbookText(const Logbook& book)
{
    std::string text;
    writeLogbook(book, [&](const std::string& line) { text += line; });
    return text;
}

LogbookRow logbookRow(const FlightFigures& f, const std::string& stem, FormatSet files, std::size_t otherColumns)
{
    LogbookRow row;
    row.start = f.firstTime;
    row.stem = stem;
    row.points = f.points;
    row.files = files;
    const bool ran = f.engineSeconds > 0;
    const std::vector<std::string> fields = {
        shaped(isoDateTime, utcOf(f.firstTime)),
        stem,
        shaped(isoDate, utcOf(f.firstTime)),
        f.airborne ? shaped(dateAndTime, utcOf(f.takeoff)) : "",
        f.airborne ? shaped(dateAndTime, utcOf(f.landing)) : "",
        f.airborne ? localWithOffset(f.takeoff) : "",
        f.airborne ? localWithOffset(f.landing) : "",
        duration(f.flightSeconds()),
        shaped(isoDateTime, utcOf(f.lastTime)),
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
        formatNames(files, " "),
    };
    std::vector<std::string> all = fields;
    all.resize(fields.size() + otherColumns);
    row.assign(all);
    return row;
}

void LogbookRow::assign(const std::vector<std::string>& fields)
{
    assign(std::vector<std::string_view>(fields.begin(), fields.end()));
}

void LogbookRow::assign(const std::vector<std::string_view>& fields)
{
    text_.clear();
    ends_.clear();
    ends_.reserve(fields.size());
    for (const std::string_view f : fields) {
        text_ += f;
        ends_.push_back(static_cast<uint32_t>(text_.size()));
    }
}

std::vector<std::string> LogbookRow::fields() const
{
    std::vector<std::string> out;
    for (std::size_t k = 0; k < size(); ++k)
        out.emplace_back(field(k));
    return out;
}

void LogbookRow::addFiles(FormatSet more)
{
    const std::string added = formatNames(more & ~files, " ");
    const std::string_view listed = at(Column::Files);
    if (!added.empty())
        set(static_cast<std::size_t>(Column::Files), std::string(listed) + (listed.empty() ? "" : " ") + added);
    files |= more;
}

void LogbookRow::set(std::size_t k, std::string_view value)
{
    std::vector<std::string> all = fields();
    all[k] = std::string(value);
    assign(all);
}
