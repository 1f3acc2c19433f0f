// The pages' shared helpers, the figures tables, and index.html.
#include "pagetext.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "pagefiles.h"
#include "textformat.h"

namespace page {

namespace {

std::string totalsTable(const std::vector<const LogbookRow*>& rows)
{
    std::map<std::string, Totals> months, years;
    Totals all;
    for (const LogbookRow* row : rows) {
        const UtcTime day = utcOf(row->start);
        for (Totals* t : {&months[shaped(yearMonth, day)], &years[std::to_string(day.year)], &all})
            t->add(*row);
    }
    std::string out = "<table class=\"totals\"><caption>Flights, flight time and engine time (h:mm:ss) by month, "
                      "by year and in all</caption><thead><tr><th scope=\"col\">Period</th><th scope=\"col\">"
                      "Flights</th><th scope=\"col\">Flight time</th><th scope=\"col\">Engine time</th></tr></thead>"
                      "<tbody>";
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
                                   Column::PossiblyCut};

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
    out += "<tr><th scope=\"row\">";
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

}  // namespace

std::string& appendEscaped(std::string& out, std::string_view text)
{
    if (std::none_of(text.begin(), text.end(), [](char c) { return c == '&' || c == '<' || c == '>' || c == '"'; }))
        return out.append(text);
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

std::string escaped(std::string_view text)
{
    std::string out;
    return appendEscaped(out, text);
}

std::string tenths(double value)
{
    const long long t = std::llround(value * 10);
    const long long whole = (t < 0 ? -t : t) / 10;
    return (t < 0 ? "-" : "") + std::to_string(whole) + "." + std::to_string((t < 0 ? -t : t) % 10);
}

std::string decimals(double value, int decimals)
{
    char text[text::maxNumber];
    return std::string(text, text::fixedDecimals(text, value, decimals));
}

int decimalsOf(double step)
{
    int n = 0;
    for (double unit = 1; n < 9 && step < unit * 0.999; unit /= 10)
        ++n;
    return n;
}

std::string element(const char* name, std::initializer_list<Attribute> attributes, const char* close)
{
    std::string out = std::string("<") + name;
    for (const Attribute& a : attributes)
        out.append(" ").append(a.name).append("=\"").append(escaped(a.value)).append("\"");
    return out + close;
}

void fillTemplate(std::string_view templateText, const Place& place, const Emit& emit)
{
    for (std::size_t at = 0; at < templateText.size();) {
        const std::size_t open = std::min(templateText.find("{{", at), templateText.size());
        emit(std::string(templateText.substr(at, open - at)));
        if (open == templateText.size())
            break;
        const std::size_t close = templateText.find("}}", open);
        place(templateText.substr(open + 2, close - open - 2), emit);
        at = close + 2;
    }
}

std::string figuresTables(const LogbookRow& row, const std::function<std::string(std::size_t)>& label)
{
    // In two tables side by side: times and engine, then the rest; every
    // column of the program's but the files, which the page links to.
    const std::size_t split = static_cast<std::size_t>(Column::MeanT2) + 1;
    std::string out;
    for (const auto& [from, to] : {std::pair{std::size_t{0}, split}, std::pair{split, columnCount}}) {
        out += "<table class=\"figures\"><tbody>\n";
        for (std::size_t k = from; k < to && k < row.size(); ++k)
            if (k != static_cast<std::size_t>(Column::Files))
                out += "<tr><th scope=\"row\">" + escaped(label(k)) + "</th><td>" + escaped(row.field(k)) +
                       "</td></tr>\n";
        out += "</tbody></table>";
    }
    return out;
}

void indexPage(const std::vector<const LogbookRow*>& rows, const std::function<bool(const std::string&)>& exists,
               const Emit& emit)
{
    fillTemplate(pagefiles::index, [&](std::string_view name, const Emit& out) {
        if (name == "totals") {
            out(totalsTable(rows));
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
