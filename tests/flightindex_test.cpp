// Splitting "raw.dat" into flights, the flight lines and the export folder.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "logfile.h"
#include "logreader.h"
#include "platform.h"
#include "support.h"

namespace {

class FlightIndex : public InTempDir {
protected:
    RunResult exportOnly() { return runLogreaderCaptured({"-"}); }
    // The one export folder of the run.
    std::string exportFolder()
    {
        for (const std::string& name : listFolder("."))
            if (name != "raw.dat")
                return name;
        return "";
    }
    // Rows of a flight's CSV file (title, header and the empty last line left out).
    std::vector<std::string> csvRows(const std::string& name)
    {
        std::vector<std::string> rows;
        std::string text = readFile(exportFolder() + "/" + name);
        size_t at = 0;
        for (int line = 0; (at = text.find("\r\n")) != std::string::npos; ++line) {
            if (line >= 2 && at > 0)
                rows.push_back(text.substr(0, at));
            text.erase(0, at + 2);
        }
        return rows;
    }
};

TEST_F(FlightIndex, GapsOfMoreThan600SecondsSplitAndLengthsPickTheirUnit)
{
    LogBuilder()
        .point(t0).point(t0 + 600)                    // one flight of 10 min
        .point(t0 + 1201).point(t0 + 1500)            // 601 s later: 299 s.
        .point(t0 + 5000).point(t0 + 5300)            // 300 s: 5 min
        .point(t0 + 9000).point(t0 + 9359)            // 359 s: 5 min
        .save();
    const RunResult r = exportOnly();
    EXPECT_EQ(r.status, 0);
    const std::string folder = exportFolder();
    EXPECT_TRUE(std::regex_match(folder, std::regex(R"(\d{4}-\d\d-\d\d_\d\d-\d\d)"))) << folder;
    const std::string ok = " exported to -> KML OK ,CVS OK \r\n\r\n";
    char created[80];
    snprintf(created, sizeof created, platform::dirCreatedFormat, folder.c_str());
    EXPECT_EQ(r.out.substr(r.out.find("Reading data")),
              "Reading data \r\n" + std::string(created) +
                  "1.Flight betwen 2024-05-01 10:20:30 and 2024-05-01 10:30:30 \r\n Len: 10 min\r\n" + ok +
                  "2.Flight betwen 2024-05-01 10:40:31 and 2024-05-01 10:45:30 \r\n Len: 299 s.\r\n" + ok +
                  "3.Flight betwen 2024-05-01 11:43:50 and 2024-05-01 11:48:50 \r\n Len: 5 min\r\n" + ok +
                  "4.Flight betwen 2024-05-01 12:50:30 and 2024-05-01 12:56:29 \r\n Len: 5 min\r\n" + ok +
                  "All data exported have a nice day. Press key to exit\r\n");
    EXPECT_EQ(listFolder(folder).size(), 8u);
}

TEST_F(FlightIndex, EveryPointIsExportedOnceWithItsFlightWhateverLiesBetween)
{
    LogBuilder()
        .other(3, t0 - 5).other(1, 1614890433)        // not points: before the first flight
        .point(t0).other(2, t0 + 1).point(t0 + 10)
        .other(7, t0 + 20).other(0xFF, 0xFFFFFFFF)    // not points: between flights
        .point(t0 + 3600).point(t0 + 3590)            // backwards in time: still the same flight
        .other(4, t0 + 3700).point(t0 + 3620)
        .other(2, t0 + 3700)                          // after the last flight
        .save();
    writeFile("raw.dat", readFile("raw.dat") + std::string(7, '\x01'));  // a partial last record
    const RunResult r = exportOnly();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(csvRows(exportName(t0, platform::csvNameFormat)),
              (std::vector<std::string>{"0,10:20:30,8.000000,50.000000,0,0,0,0,0,0,0,0,0.00,0",
                                        "10,10:20:40,8.000000,50.000000,0,0,0,0,0,0,0,0,0.00,0"}));
    EXPECT_EQ(csvRows(exportName(t0 + 3600, platform::csvNameFormat)),
              (std::vector<std::string>{"0,11:20:30,8.000000,50.000000,0,0,0,0,0,0,0,0,0.00,0",
                                        "-10,11:20:20,8.000000,50.000000,0,0,0,0,0,0,0,0,0.00,0",
                                        "20,11:20:50,8.000000,50.000000,0,0,0,0,0,0,0,0,0.00,0"}));
    EXPECT_NE(r.out.find("2.Flight betwen 2024-05-01 11:20:30 and 2024-05-01 11:20:50 \r\n Len: 20 s.\r\n"),
              std::string::npos);
}

TEST_F(FlightIndex, LogLargerThanOneReadIsExportedWhole)
{
    // "raw.dat" is read a mebibyte at a time: a flight across that boundary,
    // and one after it, come out whole.
    LogBuilder log;
    while (log.bytes.size() < (1u << 20) - 64)
        log.other(3, t0);
    log.point(t0).point(t0 + 1).point(t0 + 2).point(t0 + 3).point(t0 + 5000).save();
    const RunResult r = exportOnly();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(csvRows(exportName(t0, platform::csvNameFormat)).size(), 4u);
    EXPECT_EQ(csvRows(exportName(t0 + 5000, platform::csvNameFormat)).size(), 1u);
    EXPECT_NE(r.out.find("1.Flight betwen 2024-05-01 10:20:30 and 2024-05-01 10:20:33 \r\n Len: 3 s."), std::string::npos);
}

TEST_F(FlightIndex, SingleAndBackwardFlightsShowSeconds)
{
    LogBuilder().point(t0).point(t0 + 1000).point(t0 + 990).save();
    const RunResult r = exportOnly();
    EXPECT_NE(r.out.find("1.Flight betwen 2024-05-01 10:20:30 and 2024-05-01 10:20:30 \r\n Len: 0 s.\r\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("2.Flight betwen 2024-05-01 10:37:10 and 2024-05-01 10:37:00 \r\n Len: -10 s.\r\n"),
              std::string::npos);
}

TEST_F(FlightIndex, EmptyOrPointlessLogStillMakesTheFolder)
{
    for (const std::string& content : {std::string(), LogBuilder().other(2, t0).other(0xFF, 0).bytes}) {
        writeFile("raw.dat", content);
        const RunResult r = exportOnly();
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("\nAll data exported have a nice day. Press key to exit\r\n"), std::string::npos);
        EXPECT_EQ(r.out.find("Flight"), std::string::npos);
        EXPECT_EQ(listFolder(".").size(), 2u);
    }
}

TEST_F(FlightIndex, SecondRunInTheSameMinuteUsesTheSameFolder)
{
    LogBuilder().point(t0).save();
    exportOnly();
    const std::string folder = exportFolder();
    LogBuilder().point(t0 + 60).save();
    const RunResult again = exportOnly();
    if (listFolder(".").size() == 2) {  // not across a minute's turn
        const std::string message = platform::windows ? "Directory created fail: File exists\n"
                                                      : "Directory already created " + folder + "\n";
        EXPECT_NE((platform::windows ? again.err : again.out).find(message), std::string::npos);
        EXPECT_EQ(listFolder(folder).size(), 4u);  // both runs' files
        EXPECT_EQ(again.status, 0);
    }
}

TEST_F(FlightIndex, MissingOrUnusableLogIsRefusedAndMakesNoFolder)
{
    const auto refused = [this](const char* reason) {
        const RunResult r = runWithDeadline(runLogreaderCaptured, {"x"});
        EXPECT_EQ(r.status, 2) << reason;
        EXPECT_TRUE(r.out.size() > 14 && r.out.substr(r.out.size() - 15) == "Reading data \r\n") << r.out;
        EXPECT_NE(r.err.find(std::string("Cannot read \"raw.dat\" in the working folder: ") + reason), std::string::npos)
            << r.err;
        EXPECT_EQ(listFolder(".").size(), std::filesystem::exists("raw.dat") ? 1u : 0u);
    };
    refused("No such file or directory");
    std::filesystem::create_directory("raw.dat");
    refused(platform::windows ? "" : "Is a directory");
    std::filesystem::remove("raw.dat");
    if (makeFifo("raw.dat"))
        refused("not a regular file");  // and no wait for a writer
}

TEST_F(FlightIndex, ReadErrorIsNeverTakenForTheEndOfTheLog)
{
    // A first flight closed by the second's first point, then the file goes on
    // past what one read takes in and fails there.
    LogBuilder log;
    log.point(t0).point(t0 + 4000);
    while (log.bytes.size() < (1u << 20) + 64)
        log.other(3, t0 + 4000);
    FILE* failing = failingStream(log.bytes.substr(0, (1u << 20) + 32));
    if (!failing)
        GTEST_SKIP() << "no way to make a failing stream here";
    useLogStream(failing);
    OutputCapture capture;
    const int status = indexFlights();
    const RunResult r = capture.stop();
    EXPECT_EQ(status, 2);
    EXPECT_NE(r.out.find("1.Flight betwen 2024-05-01 10:20:30 and 2024-05-01 10:20:30 \r\n Len: 0 s.\r\n"
                         " exported to -> KML OK ,CVS OK \r\n\r\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("2.Flight"), std::string::npos);
    EXPECT_EQ(r.out.find("All data exported"), std::string::npos);
    EXPECT_NE(r.err.find("Cannot read \"raw.dat\": Input/output error."), std::string::npos) << r.err;
    EXPECT_EQ(listFolder(exportFolder()).size(), 2u);  // the first flight's files stay
}

TEST_F(FlightIndex, TimesAreTheComputersLocalTime)
{
    setTimeZone("CET-1");
    LogBuilder().point(t0).save();
    const RunResult r = exportOnly();
    setTimeZone("UTC0");
    EXPECT_NE(r.out.find("1.Flight betwen 2024-05-01 11:20:30 and 2024-05-01 11:20:30"), std::string::npos);
    const std::vector<std::string> local = platform::windows
        ? std::vector<std::string>{"2024-05-01_11-20-30.csv", "2024-05-01_11_20_30.kml"}
        : std::vector<std::string>{"2024-05-01_11:20:30.csv", "2024-05-01_11:20:30.kml"};
    EXPECT_EQ(listFolder(exportFolder()), local);
}

// At the end of summer time two flights an hour apart start at the same
// local time: the later one's files get a name of their own, and it is said.
TEST_F(FlightIndex, FlightsStartingAtTheSameLocalTimeKeepTheirOwnFiles)
{
    if (platform::windows)
        GTEST_SKIP() << "the Windows C runtime takes no rules of the change from a TZ";
    setTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
    const uint32_t summer = 1729989000;  // 2024-10-27 02:30:00 CEST
    LogBuilder().point(example(summer)).point(example(summer + 1)).point(example(summer + 3600)).save();
    const RunResult r = exportOnly();
    setTimeZone("UTC0");
    EXPECT_EQ(r.status, 0);
    // 02:30:00 as the names give it under UTC+0
    const std::string csv = exportName(summer + 7200, platform::csvNameFormat);
    const std::string kml = exportName(summer + 7200, platform::kmlNameFormat);
    const auto second = [](const std::string& n) { return n.substr(0, n.size() - 4) + "-2" + n.substr(n.size() - 4); };
    std::vector<std::string> expected = {csv, kml, second(csv), second(kml)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listFolder(exportFolder()), expected);
    EXPECT_TRUE(endsWith(r.err, "Flight 2 starts at 2024-10-27 02:30:00 local time, as flight 1 does (the clock went "
                                "back): its files are named " + second(kml) + " and " + second(csv) + ".\n"))
        << r.err;
    EXPECT_EQ(csvRows(csv).size(), 2u);
    EXPECT_EQ(csvRows(second(csv)).size(), 1u);
}

// Local starts a minute apart are apart, also across the hour: 02:59:30 in
// summer time and 03:00:30 after the clock went back, an hour later.
TEST_F(FlightIndex, FlightsStartingInNeighbouringMinutesAreNotNamedApart)
{
    if (platform::windows)
        GTEST_SKIP() << "the Windows C runtime takes no rules of the change from a TZ";
    setTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
    const uint32_t summer = 1729990770;  // 2024-10-27 02:59:30 CEST
    LogBuilder().point(example(summer)).point(example(summer + 3660)).save();
    const RunResult r = exportOnly();
    setTimeZone("UTC0");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find("the clock went back"), std::string::npos) << r.err;
    for (const std::string& name : listFolder(exportFolder()))
        EXPECT_EQ(name.find("-2."), std::string::npos) << name;
    EXPECT_EQ(listFolder(exportFolder()).size(), 4u);
}

}  // namespace
