// The logbook's rows, and reading and writing them as logbook.csv holds them.
#include "logbook.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "textformat.h"

namespace {

// The file's lines, without their ends, as views of its text.
using Lines = std::vector<std::string_view>;

std::string number(double value, int decimals)
{
    char text[text::maxNumber];
    return std::string(text, text::fixedDecimals(text, value, decimals));
}

// What a row is made from.
struct RowSource {
    const FlightFigures& f;
    const std::string& stem;
    FormatSet files;
};

std::string utc(uint32_t t, char* (*shape)(char*, const UtcTime&)) { return shaped(shape, utcOf(t)); }

// "T1 262 for 0:03:00; rpm 8400 for 0:01:30": each limit gone over, its worst
// value and the time over it in all, in the order of the limits.
std::string overLimits(const FlightFigures& f)
{
    std::string text;
    for (std::size_t k = 0; k < limitCount; ++k) {
        uint32_t seconds = 0;
        double worst = 0;
        for (const Exceedance& e : f.exceedances) {
            if (e.limit != k)
                continue;
            worst = seconds == 0 || (limitTable[k].kind == LimitKind::Maximum ? e.peak > worst : e.peak < worst) ? e.peak
                                                                                                                : worst;
            seconds += e.seconds;
        }
        if (seconds > 0)
            text += (text.empty() ? "" : "; ") + std::string(limitTable[k].label) + " " +
                    std::to_string(std::lround(worst)) + " for " + duration(seconds);
    }
    return text;
}

// The columns this version writes: one entry each, in the order of the file,
// with the text of its header and how a flight's figures fill it.
struct ColumnInfo {
    Column id;
    const char* header;
    std::string (*value)(const RowSource&);
};
using S = const RowSource&;
constexpr ColumnInfo columns[] = {
    {Column::Flight, "Flight (UTC start)", [](S r) { return utc(r.f.firstTime, isoDateTime); }},
    {Column::Name, "Name", [](S r) { return r.stem; }},
    {Column::DateUtc, "Date (UTC)", [](S r) { return utc(r.f.firstTime, isoDate); }},
    {Column::TakeoffUtc, "Takeoff (UTC)", [](S r) { return r.f.airborne ? utc(r.f.takeoff, dateAndTime) : ""; }},
    {Column::LandingUtc, "Landing (UTC)", [](S r) { return r.f.airborne ? utc(r.f.landing, dateAndTime) : ""; }},
    {Column::TakeoffLocal, "Takeoff (local)", [](S r) { return r.f.airborne ? localWithOffset(r.f.takeoff) : ""; }},
    {Column::LandingLocal, "Landing (local)", [](S r) { return r.f.airborne ? localWithOffset(r.f.landing) : ""; }},
    {Column::FlightTime, "Flight time [h:mm:ss]", [](S r) { return duration(r.f.flightSeconds()); }},
    {Column::LastRecordUtc, "Last record (UTC)", [](S r) { return utc(r.f.lastTime, isoDateTime); }},
    {Column::RecordSpan, "Record span [h:mm:ss]", [](S r) { return duration(r.f.lastTime - r.f.firstTime); }},
    {Column::Points, "Points", [](S r) { return std::to_string(r.f.points); }},
    {Column::PointsWithoutPosition, "Points without position", [](S r) { return std::to_string(r.f.unusable); }},
    {Column::EngineTime, "Engine time [h:mm:ss]", [](S r) { return duration(r.f.engineSeconds); }},
    {Column::MaxRpm, "Max engine speed [rpm]", [](S r) { return std::to_string(r.f.maxRpm); }},
    {Column::MeanRpm, "Mean engine speed running [rpm]",
     [](S r) { return r.f.engineSeconds > 0 ? std::to_string(r.f.meanRpm) : ""; }},
    {Column::MaxT1, "Max T1 [deg C]", [](S r) { return std::to_string(r.f.maxT1); }},
    {Column::MeanT1, "Mean T1 running [deg C]", [](S r) { return r.f.engineSeconds > 0 ? number(r.f.meanT1, 1) : ""; }},
    {Column::MaxT2, "Max T2 [deg C]", [](S r) { return std::to_string(r.f.maxT2); }},
    {Column::MeanT2, "Mean T2 running [deg C]", [](S r) { return r.f.engineSeconds > 0 ? number(r.f.meanT2, 1) : ""; }},
    {Column::MinOat, "Min outside air [deg C]", [](S r) { return std::to_string(r.f.minOat); }},
    {Column::MaxOat, "Max outside air [deg C]", [](S r) { return std::to_string(r.f.maxOat); }},
    {Column::FuelStart, "Fuel at start [%]", [](S r) { return std::to_string(r.f.fuelStart); }},
    {Column::FuelEnd, "Fuel at end [%]", [](S r) { return std::to_string(r.f.fuelEnd); }},
    {Column::FuelUsed, "Fuel used [%]", [](S r) { return std::to_string(r.f.fuelStart - r.f.fuelEnd); }},
    {Column::FuelBurn, "Fuel burn [%/h of engine time]", [](S r) {
         return r.f.engineSeconds >= 60 ? number((r.f.fuelStart - r.f.fuelEnd) * 3600.0 / r.f.engineSeconds, 1) : "";
     }},
    {Column::MaxAltitude, "Max pressure altitude [m]", [](S r) { return std::to_string(r.f.maxAltitude); }},
    {Column::MaxAltitudeGps, "Max GPS altitude [m]",
     [](S r) { return r.f.hasPosition ? std::to_string(r.f.maxAltitudeGps) : ""; }},
    {Column::TotalClimb, "Total climb [m]", [](S r) { return std::to_string(r.f.totalClimb); }},
    {Column::BestClimb, "Best climb [m/s]", [](S r) { return number(r.f.bestClimb, 1); }},
    {Column::BestSink, "Best sink [m/s]", [](S r) { return number(r.f.bestSink, 1); }},
    {Column::Distance, "Distance [km]", [](S r) { return number(r.f.distanceKm, 1); }},
    {Column::MaxSpeed, "Max ground speed [km/h]",
     [](S r) { return r.f.hasPosition ? std::to_string(r.f.maxSpeed) : ""; }},
    {Column::PossiblyCut, "Possibly cut", [](S r) { return std::string(r.f.possiblyCut ? "yes" : ""); }},
    {Column::Files, "Files", [](S r) { return formatNames(r.files, " "); }},
    {Column::Aircraft, "Aircraft", [](S r) { return r.f.aircraft ? r.f.aircraft->name : std::string(); }},
    {Column::Registration, "Registration", [](S r) { return r.f.aircraft ? r.f.aircraft->registration : std::string(); }},
    {Column::OverLimits, "Over limits", [](S r) { return overLimits(r.f); }},
    {Column::CruiseTime, "Cruise time [h:mm:ss]", [](S r) { return duration(r.f.cruiseSeconds); }},
    {Column::CruiseRpm, "Mean engine speed cruise [rpm]",
     [](S r) { return r.f.cruiseSeconds ? std::to_string(r.f.cruiseRpm) : ""; }},
    {Column::CruiseT1, "Mean T1 cruise [deg C]", [](S r) { return r.f.cruiseSeconds ? number(r.f.cruiseT1, 1) : ""; }},
    {Column::CruiseT2, "Mean T2 cruise [deg C]", [](S r) { return r.f.cruiseSeconds ? number(r.f.cruiseT2, 1) : ""; }},
};
static_assert(followsEnum(columns, columnCount), "an entry for every column, in its order");

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
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
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

// Where reading a record stands: inside quotes, and whether anything of the
// field going on was read.
struct FieldState {
    bool quoted = false;
    bool fresh = true;
};

// Reads the fields of one line into `r`, going on from `s` (a field that a
// quote left open on the line before goes on here).
void parseLine(std::string_view text, char delimiter, Record& r, FieldState& s)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A field without quotes, the usual case: up to the next separator at once.
        if (!s.quoted && s.fresh && text[i] != '"') {
            const std::size_t end = std::min(text.find(delimiter, i), text.size());
            r.text.append(text.substr(i, end - i));
            s.fresh = false;
            i = end;
            if (i == text.size())
                break;
        }
        const char c = text[i];
        if (s.quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            r.text += '"';
            ++i;
        } else if (c == '"' && (s.quoted || s.fresh)) {
            s.quoted = !s.quoted;
            s.fresh = false;
        } else if (c == delimiter && !s.quoted) {
            r.endField();
            s.fresh = true;
        } else {
            r.text += c;
            s.fresh = false;
        }
    }
}

// The record that starts at `lines[from]`, over as many lines as its quoted
// fields take (`lines` are the file's lines without their ends; a field
// holds each line end inside it as "\n"); how many lines it took goes to
// `used`. With `oneLine`, a quote left open ends with
// its line.
Record parseRecord(const Lines& lines, std::size_t from, char delimiter, bool oneLine, std::size_t& used)
{
    Record r;
    r.text.reserve(lines[from].size());
    r.ends.reserve(columnCount + 8);
    FieldState state;
    std::size_t line = from;
    parseLine(lines[line], delimiter, r, state);
    while (state.quoted && !oneLine && line + 1 < lines.size()) {
        r.text += '\n';  // a line end inside a field, as the file's line ends are written back
        parseLine(lines[++line], delimiter, r, state);
    }
    r.open = state.quoted;
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
            if (lowered(trimmed(r.field(k))) == lowered(columns[0].header))
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
        const auto known = std::find_if(std::begin(columns), std::end(columns),
                                         [&](const ColumnInfo& c) { return lowered(c.header) == key; });
        if (known != std::end(columns)) {
            l.target.push_back(static_cast<int>(known - columns));
            l.hasHeader = l.hasHeader || known == columns;
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
        for (std::size_t k = 0; k < columnCount; ++k)
            l.target.push_back(static_cast<int>(k));
    }
    return l;
}

// The row a record holds, or why it is none.
const char* rowOf(const Record& r, const Layout& l, std::size_t others, RowsNeed need, LogbookRow& row)
{
    if (r.open)
        return "a quote is left open";
    thread_local std::vector<std::string_view> fields;  // one row's at a time, kept for the next
    fields.assign(columnCount + others, std::string_view());
    for (std::size_t k = 0; k < r.size() && k < l.target.size(); ++k)
        if (l.target[k] >= 0)
            fields[static_cast<std::size_t>(l.target[k])] = trimmed(r.field(k));
    if (r.size() > l.target.size())
        return "more fields than the logbook has columns";
    row.assign(fields);
    row.stem = std::string(row.at(Column::Name));
    if (!safeStem(row.stem))
        return "no file name of the library where the logbook has it";
    if (need == RowsNeed::Identity && !parseUtc(row.at(Column::Flight), row.start))
        return "no flight start (YYYY-MM-DDTHH:MM:SSZ) where the logbook has it";
    if (!parseCount(row.at(Column::Points), row.points) && need == RowsNeed::Identity)
        return "no number of points where the logbook has it";
    parseFormats(row.at(Column::Files), ' ', row.files);  // a later version's formats are passed over
    return nullptr;
}

void keepAside(Logbook& book, const Lines& lines, std::size_t from, std::size_t count,
               const std::string& name, const char* why)
{
    for (std::size_t k = from; k < from + count; ++k)
        book.unreadable.append(lines[k]).append("\r\n");
    if (book.sayUnreadable)
        std::fprintf(stderr, "kxconvert: %s line %zu cannot be read (%s); %s.\n", name.c_str(), from + 1, why,
                 book.unreadableThen.c_str());
}

Lines linesOf(std::string_view text, LogbookForm& form)
{
    form.byteOrderMark = text.substr(0, 3) == "\xEF\xBB\xBF";
    if (form.byteOrderMark)
        text.remove_prefix(3);
    const std::size_t firstEnd = text.find('\n');
    form.crlf = firstEnd == std::string_view::npos || (firstEnd > 0 && text[firstEnd - 1] == '\r');
    Lines lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        end = end == std::string_view::npos ? text.size() : end;
        std::string_view line = text.substr(at, end - at);
        if (form.crlf && !line.empty() && line.back() == '\r')  // in a file of LF line ends, a CR is the field's
            line.remove_suffix(1);
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

// A field in quotes when it holds the separator, a quote or a line end; a
// line end inside it is written as the form's line ends are.
void appendQuoted(std::string& out, std::string_view field, const LogbookForm& form)
{
    if (std::none_of(field.begin(), field.end(),
                     [&](char c) { return c == form.separator || c == '"' || c == '\r' || c == '\n'; })) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '\n' && form.crlf)
            out += '\r';  // the one that reading took away with the line end
        out.append(c == '"' ? 2 : 1, c);
    }
    out += '"';
}

// One line of `count` fields, `field(k)` each, in `form`.
template <typename Field>
void appendLine(std::string& out, const LogbookForm& form, std::size_t count, Field field)
{
    for (std::size_t k = 0; k < count; ++k) {
        if (k)
            out += form.separator;
        appendQuoted(out, field(k), form);
    }
    out += form.crlf ? "\r\n" : "\n";
}

}  // namespace

const char* columnHeader(std::size_t k) { return k < columnCount ? columns[k].header : ""; }

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

void readLogbook(const std::string& text, const std::string& name, RowsNeed need, Logbook& book)
{
    const Lines lines = linesOf(text, book.form);
    std::size_t at = 0;
    while (at < lines.size() && lines[at].find_first_not_of(" \t") == std::string_view::npos)
        ++at;
    if (at == lines.size())
        return;
    const char delimiter = delimiterOf(lines, at);
    book.form.separator = delimiter;
    std::size_t used = 0;
    const Layout layout = layoutOf(parseRecord(lines, at, delimiter, false, used), book);
    at = layout.hasHeader ? at + used : at;
    while (at < lines.size()) {
        if (lines[at].find_first_not_of(" \t") == std::string_view::npos) {
            ++at;
            continue;
        }
        LogbookRow row;
        const std::size_t others = book.otherColumns.size();
        const char* why = rowOf(parseRecord(lines, at, delimiter, false, used), layout, others, need, row);
        if (why && used > 1) {  // a stray quote: the line alone
            used = 1;
            why = rowOf(parseRecord(lines, at, delimiter, true, used), layout, others, need, row);
        }
        if (why)
            keepAside(book, lines, at, used, name, why);
        else
            book.rows.push_back(std::move(row));
        at += used;
    }
}

void writeLogbook(const LogbookForm& form, const std::vector<std::string>& otherColumns,
                  const std::vector<const LogbookRow*>& rows, const Emit& emit)
{
    std::string line = form.byteOrderMark ? "\xEF\xBB\xBF" : "";
    appendLine(line, form, columnCount + otherColumns.size(), [&](std::size_t k) {
        return k < columnCount ? std::string_view(columns[k].header) : std::string_view(otherColumns[k - columnCount]);
    });
    emit(line);
    for (const LogbookRow* row : rows) {
        line.clear();
        appendLine(line, form, row->size(), [&](std::size_t k) { return row->field(k); });
        emit(line);
    }
}

std::string logbookLine(const LogbookForm& form, const LogbookRow& row)
{
    std::string line;
    appendLine(line, form, row.size(), [&](std::size_t k) { return row.field(k); });
    return line;
}

std::string logbookText(const Logbook& book)
{
    std::vector<const LogbookRow*> rows;
    for (const LogbookRow& row : book.rows)
        rows.push_back(&row);
    std::string text;
    writeLogbook(book.form, book.otherColumns, rows, [&](const std::string& line) { text += line; });
    return text;
}

LogbookRow logbookRow(const FlightFigures& f, const std::string& stem, FormatSet files, std::size_t otherColumns)
{
    LogbookRow row;
    row.start = f.firstTime;
    row.stem = stem;
    row.points = f.points;
    row.files = files;
    const RowSource source{f, stem, files};
    std::vector<std::string> fields(columnCount + otherColumns);
    for (std::size_t k = 0; k < columnCount; ++k)
        fields[k] = columns[k].value(source);
    row.assign(fields);
    return row;
}

void LogbookRow::assign(const std::vector<std::string>& fields)
{
    assign(std::vector<std::string_view>(fields.begin(), fields.end()));
}

LogbookRow LogbookRow::withOthers(std::size_t count, const std::vector<std::string>& others) const
{
    LogbookRow row = *this;
    count = std::min(count, size());
    row.text_.resize(count ? ends_[count - 1] : 0);
    row.ends_.resize(count);
    for (const std::string& cell : others) {
        row.text_ += cell;
        row.ends_.push_back(static_cast<uint32_t>(row.text_.size()));
    }
    return row;
}

void LogbookRow::assign(const std::vector<std::string_view>& fields)
{
    text_.clear();
    ends_.clear();
    ends_.reserve(fields.size());
    std::size_t length = 0;
    for (const std::string_view f : fields)
        length += f.size();
    text_.reserve(length);
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

namespace {

// The digits from `at` as a number, and where they end; -1 when there are none.
long long numberAt(std::string_view text, std::size_t& at)
{
    long long value = -1;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && value < 1000000000; ++at)
        value = (value < 0 ? 0 : value * 10) + (text[at] - '0');
    return value;
}

// A time of day "H:MM[:SS]" with "AM" or "PM" after it or not, from `at`;
// -1 when there is none. `seconds` tells whether it gave them.
long long clockAt(std::string_view text, std::size_t& at, bool& seconds)
{
    const long long h = numberAt(text, at);
    if (h < 0 || at >= text.size() || text[at] != ':')
        return -1;
    const long long m = numberAt(text, ++at);
    long long s = 0;
    seconds = at < text.size() && text[at] == ':';
    if (seconds)
        s = numberAt(text, ++at);
    if (m < 0 || m > 59 || s < 0 || s > 59)
        return -1;
    long long hour = h;
    const std::string_view rest = trimmed(text.substr(at));
    const std::string marker = lowered(rest.substr(0, 2));
    if (marker == "am" || marker == "pm") {
        if (h < 1 || h > 12)
            return -1;
        hour = h % 12 + (marker == "pm" ? 12 : 0);
        at = text.size() - rest.size() + 2;
    }
    return hour * 3600 + m * 60 + s;
}

// A date "YYYY-MM-DD", "D.M.YYYY" or "M/D/YYYY" (also "D/M/YYYY", and
// two-digit years), then a time of day or not; every reading goes to `seen`.
struct DateReading {
    int year, month, day;
    long long clock;  // -1: no time of day
    bool seconds;
};
std::vector<DateReading> datesIn(std::string_view text)
{
    std::size_t at = 0;
    const long long a = numberAt(text, at);
    if (a < 0 || at >= text.size() || (text[at] != '-' && text[at] != '.' && text[at] != '/'))
        return {};
    const char mark = text[at];
    const long long b = numberAt(text, ++at);
    if (b < 0 || at >= text.size() || text[at] != mark)
        return {};
    const long long c = numberAt(text, ++at);
    if (c < 0)
        return {};
    DateReading r{0, 0, 0, -1, false};
    if (at < text.size() && (text[at] == ' ' || text[at] == 'T')) {
        std::size_t clockFrom = at + 1;
        r.clock = clockAt(text, clockFrom, r.seconds);
        at = r.clock < 0 ? at : clockFrom;
    }
    const std::string_view rest = trimmed(text.substr(at));
    if (!rest.empty() && rest != "Z" && rest[0] != '+' && rest[0] != '-')
        return {};
    const auto year = [](long long y) { return static_cast<int>(y < 100 ? 2000 + y : y); };
    std::vector<DateReading> readings;
    const auto add = [&](long long y, long long m, long long d) {
        if (m >= 1 && m <= 12 && d >= 1 && d <= 31)
            readings.push_back({year(y), static_cast<int>(m), static_cast<int>(d), r.clock, r.seconds});
    };
    if (mark == '-')
        add(a, b, c);
    else if (mark == '.')
        add(c, b, a);
    else
        add(c, a, b), add(c, b, a);
    return readings;
}

// The readings of a number: with a decimal point or a decimal comma, the
// other mark taken as a thousands separator; the decimals it shows.
std::vector<std::pair<double, int>> numbersIn(std::string_view text)
{
    std::vector<std::pair<double, int>> readings;
    for (const char decimal : {'.', ','}) {
        std::string plain;
        int decimals = -1;
        bool ok = !text.empty();
        for (std::size_t i = 0; i < text.size() && ok; ++i) {
            const char c = text[i];
            if (std::isdigit(static_cast<unsigned char>(c)))
                plain += c, decimals += decimals >= 0;
            else if (c == decimal && decimals < 0)
                plain += '.', decimals = 0;
            else if (c == '-' && i == 0)
                plain += c;
            else
                ok = (c == (decimal == '.' ? ',' : '.') || c == ' ') && decimals < 0;
        }
        if (ok && plain.find_first_of("0123456789") != std::string::npos)
            readings.emplace_back(std::strtod(plain.c_str(), nullptr), std::max(decimals, 0));
    }
    return readings;
}

}  // namespace

bool saysTheSame(std::string_view value, std::string_view cell)
{
    cell = trimmed(cell);
    if (cell == value || cell.empty())
        return true;  // an emptied cell is no edit: the program fills it again
    uint32_t seconds = 0;
    if (parseDuration(value, seconds)) {
        std::size_t at = 0;
        bool withSeconds = false;
        const long long clock = clockAt(cell, at, withSeconds);
        const long long wanted = cell.find_first_of("aApP") != std::string_view::npos ? seconds % 86400 : seconds;
        return at == cell.size() && clock >= 0 && (withSeconds ? clock == wanted : clock == wanted - wanted % 60);
    }
    const std::vector<DateReading> want = datesIn(value);
    if (!want.empty()) {
        const DateReading& w = want.front();
        for (const DateReading& r : datesIn(cell)) {
            const long long clock = r.seconds ? w.clock : w.clock - w.clock % 60;
            if (r.year == w.year && r.month == w.month && r.day == w.day && (w.clock < 0 ? r.clock < 0 : r.clock == clock))
                return true;
        }
        return false;
    }
    const std::vector<std::pair<double, int>> program = numbersIn(value);
    if (program.empty())
        return false;
    for (const auto& [x, decimals] : numbersIn(cell)) {
        double unit = 0.5;
        for (int k = 0; k < decimals; ++k)
            unit /= 10;
        if (std::fabs(x - program.front().first) <= unit * 1.000001)
            return true;
    }
    return false;
}
