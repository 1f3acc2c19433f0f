// kxconvert: a few exact lines of its files, its names and its failures. The
// readers that pilots use check the rest (check_converter.py).
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <tuple>
#include <filesystem>
#include <map>

#include "converter.h"
#include "logbook.h"
#include "logfile.h"
#include "logreader.h"
#include "platform.h"
#include "support.h"

namespace {

// The converter works out UTC dates by arithmetic; the C library is the judge,
// for the first and last second of every day that a log time can name.
TEST(UtcDates, EveryDayFrom1970To2106AsTheCLibrarySeesIt)
{
    for (uint64_t day = 0; day * 86400 <= UINT32_MAX; ++day) {
        for (const uint64_t second : {day * 86400, day * 86400 + 86399}) {
            if (second > UINT32_MAX)
                break;
            const std::time_t t = static_cast<std::time_t>(second);
            const std::tm* c = std::gmtime(&t);
            ASSERT_NE(c, nullptr);
            const UtcTime u = utcOf(static_cast<uint32_t>(second));
            ASSERT_EQ(std::vector<int>({u.year, u.month, u.day, u.hour, u.minute, u.second}),
                      std::vector<int>({c->tm_year + 1900, c->tm_mon + 1, c->tm_mday, c->tm_hour, c->tm_min, c->tm_sec}))
                << "log time " << second;
            ASSERT_EQ(secondsOf(u), static_cast<int64_t>(second)) << "and back";
        }
    }
}

// A pilot's remark over two lines comes back as the file had it, with the
// file's own line ends around it and inside it.
TEST(LogbookReader, RemarkOverTwoLinesIsWrittenBackInTheFilesForm)
{
    Logbook written;
    FlightFigures f;
    f.firstTime = f.lastTime = t0;
    f.points = 10;
    written.rows.push_back(logbookRow(f, flightStem(utcOf(f.firstTime), 1), 1, 0));
    std::string crlf = logbookText(written);
    crlf.insert(crlf.find("\r\n"), ",Remarks");
    crlf.insert(crlf.size() - 2, ",\"Oil changed;\r\nplug gap checked\"");
    std::string lf = crlf;
    for (std::size_t at = lf.find("\r\n"); at != std::string::npos; at = lf.find("\r\n", at))
        lf.erase(at, 1);
    for (const std::string& text : {crlf, lf}) {
        Logbook book;
        readLogbook(text, "logbook.csv", RowsNeed::Name, book);
        ASSERT_EQ(book.rows.size(), 1u);
        EXPECT_EQ(logbookText(book), text) << (&text == &crlf ? "CR LF" : "LF");
    }
}

// What a hand or a spreadsheet leaves of the logbook: rows without the
// header line, a header whose flight column was renamed, a count that is no
// number. Rows found by their place are kept; a line that is no row is set aside.
TEST(LogbookReader, RowsWithoutTheirHeaderAreReadByPlace)
{
    Logbook written;
    for (uint32_t k = 0; k < 3; ++k) {
        FlightFigures f;
        f.firstTime = f.lastTime = t0 + 3600 * k;
        f.points = 10 + k;
        written.rows.push_back(logbookRow(f, flightStem(utcOf(f.firstTime), k + 1), 1, 0));
    }
    const std::string text = logbookText(written);
    const std::string rows = text.substr(text.find("\r\n") + 2);
    const auto read = [](const std::string& book) {
        Logbook l;
        OutputCapture quiet;
        readLogbook(book, "logbook.csv", RowsNeed::Identity, l);
        return std::make_pair(l.rows.size(), l.unreadable);
    };
    EXPECT_EQ(read(rows), std::make_pair(std::size_t{3}, std::string()));
    EXPECT_EQ(read("Start" + text.substr(text.find(',')) ).first, 3u) << "the header is no row, the rows are kept";
    std::string counted = rows;
    counted.replace(counted.find(",11,"), 4, ",n/a,");
    const auto [kept, aside] = read(counted);
    EXPECT_EQ(kept, 2u);
    EXPECT_NE(aside.find(",n/a,"), std::string::npos) << "a row whose points are no number is set aside";
}

// The pilot's details: printable, at most 80 bytes of a value wherever it
// comes from, the settings file read from its first line; an aircraft's
// section, and the run's options over the run's aircraft.
TEST(Settings, ValuesAreTakenAsTheOptionsTakeThem)
{
    Settings settings;
    const std::string name75(75, 'n');
    OutputCapture capture;
    readSettings("pilot = " + name75 + "\naircraft=" + std::string(90, 'a') + "\nregistration = D-\x01MX\x7fYZ\n",
                 "kxconvert.conf", settings);
    EXPECT_EQ(capture.stop().err, "");
    EXPECT_EQ(settings.pilot.pilot, name75);
    EXPECT_EQ(settings.pilot.aircraft, std::string(80, 'a'));
    EXPECT_EQ(settings.pilot.registration, "D-MXYZ");

    Settings s;
    s.pilot.aircraft = "Paramotor";
    s.runAircraft.limits[limitIndex("t1")] = 240;
    s.limitGiven[limitIndex("t1")] = true;
    OutputCapture again;
    readSettings("[Paramotor]\nlimit rpm = 7800\nlimit t1 = 230\nname t1 = CHT\nservice every = 25\nservice at = 12,5\n"
                 "limit speed = 80\n[Trike]\nregistration = D-MTRK\ntakeoff speed = 45\n", "kxconvert.conf", s);
    EXPECT_EQ(again.stop().err, "kxconvert: kxconvert.conf line 7 is not one of pilot, aircraft, registration or "
                                "competition-id = value, nor, in an aircraft's [section], a limit, name, takeoff, engine "
                                "hours or service line (see man kxconvert); it is left out.\n");
    const AircraftProfile paramotor = s.profileOf("Paramotor"), trike = s.profileOf("Trike");
    EXPECT_EQ(paramotor.limits[limitIndex("rpm")], 7800.0);
    EXPECT_EQ(paramotor.limits[limitIndex("t1")], 240.0) << "the option over the settings";
    EXPECT_EQ(paramotor.temperatureName(1), "CHT (T1)");
    EXPECT_EQ(paramotor.temperatureName(2), "T2");
    EXPECT_EQ(std::make_pair(paramotor.serviceAt, paramotor.serviceEvery),
              std::make_pair(std::optional<double>(12.5), std::optional<double>(25)));
    EXPECT_EQ(std::make_tuple(trike.registration, trike.takeoffSpeedKmh, trike.limits[limitIndex("t1")].has_value()),
              std::make_tuple(std::string("D-MTRK"), 45.0, false));
}

// Time over a limit: each record over it stands for the time to the next
// record (the last for the time since the one before); at the limit is not
// over; stretches apart are apart; a minimum is gone under.
TEST(Figures, TimeOverALimitIsTheTimeOfTheRecordsOverIt)
{
    const int16_t t1[] = {231, 230, 230, 240, 262, 250, 230, 229, 231};
    LogBuilder log;
    for (uint32_t i = 0; i < std::size(t1); ++i) {
        sim::PointFields p = example(t0 + (i < 8 ? i : 10), 50.0f, 8.0f);
        p.t1 = t1[i];
        p.rpm = 780;  // 7800 rpm: at the limit
        p.fuel = static_cast<uint8_t>(i == 4 ? 19 : 25);
        log.point(p);
    }
    AircraftProfile paramotor;
    paramotor.limits[limitIndex("t1")] = 230;
    paramotor.limits[limitIndex("rpm")] = 7800;
    paramotor.limits[limitIndex("fuel")] = 20;
    FlightFigures f;
    useLogBytes(log.bytes);
    ASSERT_TRUE(workOutFigures(0, static_cast<uint32_t>(log.bytes.size() - 32), paramotor, f));
    std::vector<std::tuple<std::string, uint32_t, uint32_t, double>> got;
    for (const Exceedance& e : f.exceedances)
        got.emplace_back(limitTable[e.limit].key, e.from - t0, e.seconds, e.peak);
    EXPECT_EQ(got, (std::vector<std::tuple<std::string, uint32_t, uint32_t, double>>{
                       {"t1", 0, 1, 231}, {"t1", 3, 3, 262}, {"fuel", 4, 1, 19}, {"t1", 10, 3, 231}}));
    EXPECT_EQ(logbookRow(f, "x", 0, 0).at(Column::OverLimits), "T1 262 for 0:00:07; fuel 19 for 0:00:01");
}

class Converter : public InTempDir {
protected:
    // A flight across midnight UTC: no position yet, then a position each second.
    void SetUp() override
    {
        InTempDir::SetUp();
        LogBuilder log;
        for (uint32_t i = 0; i < 3; ++i) {
            // 2024-03-30 23:59:58 UTC on; climbing down and freezing outside, to show the signs.
            sim::PointFields p = example(1711843198 + i, i == 0 ? 0.0f : 47.5f, 8.25f, 480);
            p.tz = -3;
            p.vario = -7;
            log.point(p);
        }
        log.save();
    }
};

TEST_F(Converter, FlightAcrossMidnightLineByLine)
{
    const RunResult r = runConverterCaptured();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "1. 2024-03-30 23:59:58 UTC, 3 points, 1 without a usable "
                                                     "position, possibly cut: new 2024-03-30-XXX-KXP-01.igc .gpx .html\n");
    // Named after the flight's UTC date; the time of day starts again past
    // midnight; the point before the first fix is there, at the first fix.
    const std::string igc = readFile("2024-03-30-XXX-KXP-01.igc");
    EXPECT_EQ(igc.find("AXXXKXP\r\nHFDTEDATE:300324,01\r\n"), 0u) << igc;
    EXPECT_NE(igc.find("\r\nB2359584730000N00815000EV004800025010009007-0703000-03\r\n"
                       "B2359594730000N00815000EA004800025010009007-0703000-03\r\n"
                       "B0000004730000N00815000EA004800025010009007-0703000-03\r\n"),
              std::string::npos)
        << igc;
    EXPECT_EQ(igc.find("\r\nG"), std::string::npos) << "not signed";
    EXPECT_NE(readFile("2024-03-30-XXX-KXP-01.gpx")
                  .find("<trkpt lat=\"47.500000\" lon=\"8.250000\"><ele>250</ele><time>2024-03-30T23:59:59Z</time>"
                        "<sat>7</sat><extensions><kx:speed>100</kx:speed><kx:course>90</kx:course><kx:climb>-0.70"
                        "</kx:climb><kx:rpm>3000</kx:rpm><kx:t1>85</kx:t1><kx:t2>90</kx:t2><kx:oat>-3</kx:oat>"
                        "<kx:fuel>60</kx:fuel><kx:baroalt>480</kx:baroalt><kx:pressure>0</kx:pressure>"
                        "</extensions></trkpt>\n"),
              std::string::npos);
    EXPECT_EQ(listFolder("."), (std::vector<std::string>{"2024-03-30-XXX-KXP-01.gpx", "2024-03-30-XXX-KXP-01.html",
                                                          "2024-03-30-XXX-KXP-01.igc", "index.html", "logbook.csv",
                                                          "raw.dat", "records"}));
}

TEST_F(Converter, PilotOptionKeepsEveryPrintableByte)
{
    ASSERT_EQ(runConverterCaptured({"--pilot", "A~B\x7f"}).status, 0);
    EXPECT_NE(readFile("2024-03-30-XXX-KXP-01.igc").find("\r\nHFPLTPILOTINCHARGE:A~B\r\n"), std::string::npos);
}

// A format whose file cannot be made stops there: nothing is written into a
// file that is not open, however long the flight, and the others go on.
TEST_F(Converter, FormatFileThatCannotBeMadeLeavesTheOthers)
{
    LogBuilder log;
    for (uint32_t i = 0; i < 3000; ++i)
        log.point(example(1711843200 + i, 47.5f + static_cast<float>(i) * 1e-5f, 8.25f));
    log.save();
    for (const char* ext : {".igc.part", ".gpx.part", ".kml.part"})
        std::filesystem::create_directories("flights/2024-03-31-XXX-KXP-01" + std::string(ext) + "/in-the-way");
    const RunResult r = runConverterCaptured({"-f", "igc,gpx,kml", "-o", "flights"});
    EXPECT_EQ(r.status, 2);
    for (const char* ext : {".igc", ".gpx", ".kml"})
        EXPECT_NE(r.err.find("kxconvert: " + (std::filesystem::path("flights") / "2024-03-31-XXX-KXP-01").string() +
                             ext + " was not written."),
                  std::string::npos)
            << r.err;
}

TEST_F(Converter, FileNotWrittenWholeKeepsNoFinalName)
{
    if (!failNextCloseOf("2024-03-30-XXX-KXP-01.igc.part"))
        GTEST_SKIP() << "closes are made to fail on Linux";
    const RunResult r = runConverterCaptured({"-o", "flights"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Input/output error"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("kxconvert: flights/2024-03-30-XXX-KXP-01.igc was not written."), std::string::npos) << r.err;
    EXPECT_EQ(listFolder("flights"), (std::vector<std::string>{"2024-03-30-XXX-KXP-01.gpx", "2024-03-30-XXX-KXP-01.html",
                                                                "index.html", "logbook.csv", "records"}));
    EXPECT_NE(r.out.find(": new 2024-03-30-XXX-KXP-01.gpx .html\n"), std::string::npos) << r.out;
}

// Ctrl-C (or the console window closed) noted before each of a run's file
// operations: the run ends with 130 and the library whole, and the next run
// makes it what one run without the interrupt makes, byte for byte. The
// crash tests (check_crashes.py) stop real processes; this one runs on both
// systems.
namespace interrupts {
unsigned long at = 0, seen = 0;
void noteAt(const char*, const char*)
{
    if (++seen == at)
        platform::interruptSignal = SIGINT;
}
}  // namespace interrupts

TEST_F(Converter, InterruptAtEveryFileOperationLeavesTheLibraryWhole)
{
    namespace fs = std::filesystem;
    LogBuilder first, second;
    for (uint32_t i = 0; i < 40; ++i) {
        first.point(example(t0 + i, 50.0f + static_cast<float>(i) * 1e-4f, 8.0f));
        second.point(example(t0 + i, 50.0f + static_cast<float>(i) * 1e-4f, 8.0f));
    }
    for (uint32_t i = 0; i < 40; ++i)
        second.point(example(t0 + 40 + i, 50.0f + static_cast<float>(40 + i) * 1e-4f, 8.0f));
    for (uint32_t i = 0; i < 40; ++i)
        second.point(example(t0 + 7200 + i, 47.0f, 11.0f + static_cast<float>(i) * 1e-4f));
    for (LogBuilder* log : {&first, &second}) {
        log->bytes.resize(1 << 20, '\xff');  // whole downloads
        log->save(log == &first ? "first.dat" : "second.dat");
    }
    ASSERT_EQ(runConverterCaptured({"-o", "start", "first.dat"}).status, 0);
    const auto files = [](const std::string& folder) {
        std::map<std::string, std::string> all;
        for (const auto& e : fs::recursive_directory_iterator(folder))
            if (e.is_regular_file() && e.path().filename() != "kxconvert.lock")
                all[fs::relative(e.path(), folder).generic_string()] = readFile(e.path().string());
        return all;
    };
    fs::copy("start", "wanted", fs::copy_options::recursive);
    interrupts::seen = 0;
    platform::beforeFileChange = interrupts::noteAt;
    ASSERT_EQ(runConverterCaptured({"-o", "wanted", "second.dat"}).status, 0);
    const unsigned long count = interrupts::seen;
    const auto wanted = files("wanted");
    unsigned interrupted = 0;
    for (interrupts::at = 1; interrupts::at <= count; ++interrupts::at) {
        const std::string trial = "trial" + std::to_string(interrupts::at);
        fs::copy("start", trial, fs::copy_options::recursive);
        interrupts::seen = 0;
        const RunResult r = runConverterCaptured({"-o", trial, "second.dat"});
        EXPECT_TRUE(r.status == 0 || r.status == 130) << interrupts::at << ": " << r.status;
        if (r.status == 130) {
            ++interrupted;
            EXPECT_NE(r.err.find("converting the log again completes it."), std::string::npos) << r.err;
        }
        ASSERT_EQ(runConverterCaptured({"-q", "-o", trial, "second.dat"}).status, 0) << interrupts::at;
        const auto got = files(trial);
        std::string differ;
        for (const auto& [name, bytes] : wanted)
            differ += got.count(name) && got.at(name) == bytes ? "" : " " + name;
        for (const auto& [name, bytes] : got)
            differ += wanted.count(name) ? "" : " +" + name;
        EXPECT_EQ(differ, "") << "interrupted at file operation " << interrupts::at << " of " << count;
        fs::remove_all(trial);
    }
    platform::beforeFileChange = nullptr;
    EXPECT_GT(interrupted, count / 2);
}

// The logbook or the lines it cannot read that cannot be written: status 2,
// said, and the logbook as it was; the same log again ends well.
TEST_F(Converter, LogbookThatCannotBeWrittenIsSaidAndStaysAsItWas)
{
    ASSERT_EQ(runConverterCaptured({"-q"}).status, 0);
    RunResult r = runConverterCaptured({"-q"});
    EXPECT_EQ(r.status, 0) << "the same log again, nothing to change: " << r.err;
    // The pilot's remark ends the file, without a line end, at byte 65,537: the read takes the last byte.
    std::string book = readFile("logbook.csv");
    const std::size_t header = book.find("\r\n");
    book.insert(header, ",Remarks");
    book.pop_back();
    book.pop_back();
    book += ",";
    book += std::string(65537 - book.size(), 'x');
    writeFile("logbook.csv", book);
    ASSERT_EQ(runConverterCaptured({"-q"}).status, 0);
    const std::string kept = readFile("logbook.csv");
    EXPECT_EQ(kept.substr(kept.size() - 4), "xx\r\n");
    EXPECT_EQ(std::count(kept.begin(), kept.end(), 'x'), std::count(book.begin(), book.end(), 'x'));

    if (failNextCloseOf("logbook.csv.part")) {
        writeFile("logbook.csv", book);  // so that it is written again
        r = runConverterCaptured({"-q"});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("cannot write ./logbook.csv: Input/output error. It is as it was"), std::string::npos)
            << r.err;
        EXPECT_TRUE(readFile("logbook.csv") == book);
    }
    writeFile("logbook.csv", book);  // written again also where no close can be made to fail (Windows)
    std::filesystem::create_directories("logbook.csv.part/in-the-way");
    r = runConverterCaptured({"-q"});
    EXPECT_EQ(r.status, 2);
    const std::string here = platform::windows ? ".\\" : "./";
    EXPECT_NE(r.err.find("cannot write " + here + "logbook.csv: "), std::string::npos) << r.err;
    EXPECT_TRUE(readFile("logbook.csv") == book);
    std::filesystem::remove_all("logbook.csv.part");

    writeFile("logbook.csv", book + "\r\n\"open quote\r\n");
    std::filesystem::create_directories("logbook.unreadable.txt/in-the-way");
    r = runConverterCaptured({"-q"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot keep the lines it could not read in " + here + "logbook.unreadable.txt"), std::string::npos)
        << r.err;
    EXPECT_TRUE(readFile("logbook.csv") == book + "\r\n\"open quote\r\n");
}

// The summary counts a flight of this year in this year.
TEST_F(Converter, SummaryCountsThisYearsFlights)
{
    const uint32_t now = static_cast<uint32_t>(std::time(nullptr)) - 7 * 86400;
    LogBuilder().point(example(now)).point(example(now + 60)).save();
    const RunResult r = runConverterCaptured();
    EXPECT_NE(r.out.find("The library: in " + std::to_string(utcOf(now).year) + " 1 flight, "), std::string::npos)
        << r.out;
}

// A log named on the command line is named again when reading it fails.
TEST_F(Converter, ReadFailureNamesTheLogThatWasRead)
{
    std::filesystem::rename("raw.dat", "season.dat");
    const char* reason = "";
    ASSERT_TRUE(openLogAt("season.dat", reason));
    const int folder = open(".", O_RDONLY);
    if (folder < 0)
        GTEST_SKIP() << "a folder cannot stand in for the file here";
    dup2(folder, fileno(data));  // every read now fails
    close(folder);
    OutputCapture capture;
    EXPECT_EQ(recordAt(0), nullptr);
    closeLog();
    EXPECT_NE(capture.stop().err.find("Cannot read \"season.dat\": "), std::string::npos);
}

}  // namespace
