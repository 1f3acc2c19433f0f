// The pages' shared helpers and the figures tables.
#include "pagetext.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "textformat.h"

namespace page {

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

std::string plain(double value)
{
    const std::string t = tenths(value);
    return t.size() > 2 && t.compare(t.size() - 2, 2, ".0") == 0 ? t.substr(0, t.size() - 2) : t;
}

std::string decimals(double value, int decimals)
{
    char text[text::maxNumber];
    return std::string(text, text::fixedDecimals(text, value, decimals));
}

std::string jsonString(std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            out.append(1, '\\').append(1, c);
        else if (u < 0x20 || c == '<' || c == '>' || c == '&')
            out.append("\\u00").append(1, hex[u >> 4]).append(1, hex[u & 15]);
        else
            out += c;
    }
    return out + "\"";
}

double niceStep(double range)
{
    const double rough = range / 4;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= rough)
            return m * power;
    return 10 * power;
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

}  // namespace page
