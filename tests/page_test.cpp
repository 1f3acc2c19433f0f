// A flight's page read as text, without a browser: its series, paths, axis
// labels, track and figures, and the data its script reads. The browser test
// (check_pages.py) is left what only a browser shows.
#include <cmath>
#include <map>
#include <set>

#include "converter.h"
#include "pagetext.h"
#include "support.h"

namespace {

// What the page says of itself, taken apart by plain searching (the
// standard library's regular expressions recurse per character and overflow
// the stack on a path of a few thousand points).
struct PageText {
    std::string html;
    // The attribute `name` of every element whose text starts with `tag` (`<path class="series"`).
    std::vector<std::string> attributes(const std::string& tag, const std::string& name) const
    {
        std::vector<std::string> found;
        for (std::size_t at = html.find(tag); at != std::string::npos; at = html.find(tag, at + 1)) {
            const std::size_t end = html.find('>', at);
            const std::size_t from = html.find(" " + name + "=\"", at);
            if (from < end)
                found.push_back(html.substr(from + name.size() + 3, html.find('"', from + name.size() + 3) -
                                                                          (from + name.size() + 3)));
        }
        return found;
    }
    // The texts of the elements that start with `open` and end their start tag with `openEnd`.
    std::vector<std::string> texts(const std::string& open, const std::string& openEnd, const std::string& close) const
    {
        std::vector<std::string> found;
        for (std::size_t at = html.find(open); at != std::string::npos; at = html.find(open, at + 1)) {
            const std::size_t end = html.find('>', at);
            if (html.compare(end + 1 - openEnd.size(), openEnd.size(), openEnd) != 0)
                continue;
            found.push_back(html.substr(end + 1, html.find(close, end) - end - 1));
        }
        return found;
    }
    // The charts, each from its <svg> to its </svg>, in the page's order.
    std::vector<PageText> charts() const
    {
        std::vector<PageText> found;
        for (std::size_t at = html.find("<svg class=\"chart\""); at != std::string::npos;
             at = html.find("<svg class=\"chart\"", at + 1))
            found.push_back({html.substr(at, html.find("</svg>", at) - at)});
        return found;
    }
    // The chart with this title.
    PageText chart(const std::string& title) const
    {
        for (const PageText& c : charts())
            if (c.html.find(">" + title + "</title>") != std::string::npos)
                return c;
        ADD_FAILURE() << "no chart " << title;
        return {};
    }
    std::vector<std::string> valueLabels() const { return texts("<text class=\"tick\"", "text-anchor=\"end\">", "</text>"); }
};

// A path's points, as the x and y of each M or L.
std::vector<std::pair<double, double>> pathPoints(const std::string& d)
{
    std::vector<std::pair<double, double>> points;
    for (std::size_t at = d.find_first_of("ML"); at != std::string::npos; at = d.find_first_of("ML", at + 1)) {
        char* end = nullptr;
        const double x = std::strtod(d.c_str() + at + 1, &end);
        points.emplace_back(x, std::strtod(end, nullptr));
    }
    return points;
}

class Page : public InTempDir {
protected:
    // The page of the one flight of the log, written by kxconvert.
    PageText convert(const LogBuilder& log)
    {
        log.save();
        const RunResult r = runConverterCaptured({"-f", "html"});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> names = listFolder(".");
        for (const std::string& n : names)
            if (endsWith(n, "-01.html"))
                return {readFile(n)};
        ADD_FAILURE() << "no page written";
        return {};
    }
};

constexpr uint32_t start = 1714550400;  // 2024-05-01 08:00:00 UTC
constexpr double plotLeft = 64, plotRight = 864, plotTop = 10;

// A flight of 20 minutes at 48 N, a point a second, the pressure altitude
// climbing from 100 m, with a spike to 500 m in its second second.
LogBuilder climbingFlight()
{
    LogBuilder log;
    for (uint32_t i = 0; i < 1200; ++i) {
        sim::PointFields p = example(start + i, 48.1f + static_cast<float>(i) * 1e-5f, 11.5f, 0);
        p.altitude = static_cast<int16_t>(i == 1 ? 500 : 100 + i / 12);
        p.vario = static_cast<int16_t>(i % 3);  // 0.0 to 0.2 m/s: a scale of hundredths
        log.point(p);
    }
    return log;
}

TEST_F(Page, SeriesAreDrawnWholeInsideTheirPlotsWithTheirPeaks)
{
    const PageText page = convert(climbingFlight());
    const std::vector<std::string> series = page.attributes("<path class=\"series\"", "data-series");
    EXPECT_EQ(series, (std::vector<std::string>{"baro", "gps", "rpm", "t1", "t2", "fuel", "oat", "climb", "track"}));
    for (const std::string& d : page.attributes("<path class=\"series\"", "d")) {
        const auto points = pathPoints(d);
        ASSERT_FALSE(points.empty());
        EXPECT_EQ(d[0], 'M') << "a path starts with a move";
        EXPECT_EQ(std::count(d.begin(), d.end(), 'M'), 1) << "a flight without gaps is one line: " << d.substr(0, 80);
    }
    const std::string baro = page.chart("Barogram").attributes("<path class=\"series\"", "d").at(0);
    const auto points = pathPoints(baro);
    EXPECT_GE(points.front().first, plotLeft) << "no point before the plot: " << baro.substr(0, 40);
    EXPECT_DOUBLE_EQ(points.front().first, plotLeft) << "the first record at the plot's left edge";
    EXPECT_DOUBLE_EQ(points.back().first, plotRight) << "the last record at its right edge";
    double top = 1e9;
    for (const auto& [x, y] : points) {
        EXPECT_TRUE(x >= plotLeft && x <= plotRight) << x;
        top = std::min(top, y);
    }
    EXPECT_DOUBLE_EQ(top, plotTop) << "the spike of the flight's second second reaches the top of the plot";
    // 1,200 records into 800 columns keep at most four values a column.
    EXPECT_LE(points.size(), 4u * 800u);
}

TEST_F(Page, AxisLabelsAreTheirValuesToTheDecimalsOfTheirStep)
{
    const PageText page = convert(climbingFlight());
    EXPECT_EQ(page.charts().size(), 6u);
    for (const PageText& chart : page.charts()) {
        const std::vector<std::string> labels = chart.valueLabels();
        ASSERT_GE(labels.size(), 2u) << chart.html.substr(0, 80);
        EXPECT_EQ(std::set<std::string>(labels.begin(), labels.end()).size(), labels.size()) << chart.html.substr(0, 80);
    }
    EXPECT_EQ(page.chart("Climb rate").valueLabels(),
              (std::vector<std::string>{"0.00", "0.05", "0.10", "0.15", "0.20"}));
    EXPECT_EQ(page.chart("Barogram").valueLabels(),
              (std::vector<std::string>{"100", "200", "300", "400", "500"}));
    // Every step the scale can choose: its multiples stay apart, and whole steps have no decimals.
    for (double power = 1e-6; power < 1e5; power *= 10)
        for (const double m : {1.0, 2.0, 5.0}) {
            const double step = m * power;
            std::set<std::string> seen;
            for (int i = -3; i <= 3; ++i)
                seen.insert(page::decimals(i * step, page::decimalsOf(step)));
            EXPECT_EQ(seen.size(), 7u) << "step " << step;
            if (step >= 1) {
                EXPECT_EQ(page::decimals(3 * step, page::decimalsOf(step)).find('.'), std::string::npos) << step;
            }
        }
}

TEST_F(Page, TrackAroundTheFlightsLatitudeAndGapsWithoutAFix)
{
    LogBuilder log = climbingFlight();
    log.point(example(start + 1200, 0.0f, 0.0f)).point(example(start + 1201, 48.2f, 11.6f));
    const PageText page = convert(log);
    EXPECT_NE(page.html.find("Drawn around latitude 48.1\xC2\xB0."), std::string::npos);
    const std::string track = page.attributes("<path class=\"series\" data-series=\"track\"", "d").at(0);
    EXPECT_EQ(std::count(track.begin(), track.end(), 'M'), 2) << "no line across the point without a fix";
    for (const auto& [x, y] : pathPoints(track))
        EXPECT_TRUE(x >= 20 && x <= 580 && y >= 20 && y <= 360) << x << " " << y;
    const std::string gps = page.chart("Barogram").attributes("<path class=\"series\" data-series=\"gps\"", "d").at(0);
    EXPECT_EQ(std::count(gps.begin(), gps.end(), 'M'), 2) << "the GPS altitude breaks where the fix is lost";
}

// The page's data holds a column of every record for each quantity the
// read-out shows, and a name the pilot gave cannot end its script early.
TEST_F(Page, DataHoldsEveryQuantityAndNothingEndsItsScript)
{
    climbingFlight().save();
    const RunResult r = runConverterCaptured({"-f", "html", "--aircraft", "Trike", "--name", "t1=</script><b>CHT"});
    ASSERT_EQ(r.status, 0) << r.err;
    const PageText page{readFile("2024-05-01-XXX-KXP-01.html")};
    const std::string open = "<script type=\"application/json\" id=\"kx-data\">";
    const std::size_t from = page.html.find(open) + open.size();
    ASSERT_NE(from, std::string::npos + open.size());
    const std::string data = page.html.substr(from, page.html.find("</script>", from) - from);
    EXPECT_EQ(data.substr(data.size() - 2), "}}") << "the data whole up to its end";
    EXPECT_NE(data.find("\\u003c/script\\u003e\\u003cb\\u003eCHT"), std::string::npos);
    const std::string columns = data.substr(data.find("\"columns\":{"));
    std::set<std::string> keys;
    for (std::size_t at = data.find("{\"key\":\""); at < data.find("\"charts\""); at = data.find("{\"key\":\"", at + 1))
        keys.insert(data.substr(at + 8, data.find('"', at + 8) - at - 8));
    EXPECT_EQ(keys.size(), 14u);
    for (const std::string& key : keys)
        EXPECT_NE(columns.find("\"" + key + "\":\""), std::string::npos) << key;
    EXPECT_NE(data.find("\"n\":1200,"), std::string::npos);
}

// The figures are the logbook row's, and what comes from the pilot is escaped.
TEST_F(Page, FiguresAreTheLogbooksAndUserTextIsEscaped)
{
    climbingFlight().save();
    const RunResult r = runConverterCaptured({"-f", "html", "--pilot", "Jo <b>\"&\"</b>"});
    ASSERT_EQ(r.status, 0) << r.err;
    const PageText page{readFile("2024-05-01-XXX-KXP-01.html")};
    EXPECT_NE(page.html.find("Pilot: Jo &lt;b&gt;&quot;&amp;&quot;&lt;/b&gt;. "), std::string::npos);
    const std::string book = readFile("logbook.csv");
    const std::string header = book.substr(0, book.find("\r\n"));
    const std::string row = book.substr(header.size() + 2, book.find("\r\n", header.size() + 2) - header.size() - 2);
    std::vector<std::string> values;
    for (std::size_t at = page.html.find("<tr><th scope=\"row\">"); at != std::string::npos;
         at = page.html.find("<tr><th scope=\"row\">", at + 1)) {
        const std::size_t cell = page.html.find("</th><td>", at) + 9;
        values.push_back(page.html.substr(cell, page.html.find("</td></tr>", cell) - cell));
    }
    std::string joined;
    for (const std::string& v : values)
        joined += (joined.empty() ? "" : ",") + v;
    std::string withoutFiles = row;
    withoutFiles.replace(withoutFiles.find(",html,"), 5, "");  // the page links its files instead
    EXPECT_EQ(joined, withoutFiles) << "every column's value in the page's figures, in the logbook's order";
}

}  // namespace
