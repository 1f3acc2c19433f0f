// The CSV and KML documents of a flight, byte for byte, and their failures.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "logexport.h"
#include "logfile.h"
#include "logreader.h"
#include "platform.h"
#include "support.h"

namespace {

class Export : public InTempDir {
protected:
    // The export folder of this run, made as the flight index makes it.
    std::string exportFolder()
    {
        if (folder[0] == '\0') {
            OutputCapture quiet;
            create_timestamp_dir();
            quiet.stop();
        }
        return folder;
    }
    std::string csvFile(uint32_t time = t0) { return exportFolder() + "/" + exportName(time, platform::csvNameFormat); }
    std::string kmlFile(uint32_t time = t0) { return exportFolder() + "/" + exportName(time, platform::kmlNameFormat); }
    // Runs one export over "raw.dat" into this run's export folder; its result.
    int run(int (*exporter)(uint32_t, uint32_t), uint32_t start, uint32_t stop)
    {
        exportFolder();
        EXPECT_TRUE(openLog());
        const int result = exporter(start, stop);
        closeLog();
        return result;
    }
};

const std::string csvTitle =
    "2024-05-01_10:20:30 points from Kestrix+\r\n"
    "Time_from_start[s],Time,Lon,Lat,speed[km/h],AltitudeGPS [m],Course [deg],RPM,T1[*C],T2[*C],Tz[*C],Fuel[%],"
    "Vario[m/s],Altitude [m]\r\n";

TEST_F(Export, CsvFileByteForByte)
{
    LogBuilder()
        .other(3, t0)
        .point(example(t0, 0.0f, 3.0f))       // no fix yet: 0/0
        .point(example(t0 + 5))
        .point(example(t0 + 10, 0.0f, 9.0f, -5))  // fix lost: held at the previous position
        .other(2, t0 + 11)
        .point(example(t0 + 15, 51.0f, 10.0f, 0))
        .point(example(t0 + 20))              // after stop: not exported
        .save();
    const int result = run(exportCSV, 0, 5 * 32);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(readFile(csvFile()),
              csvTitle +
                  "0,10:20:30,0.000000,0.000000,100,250,90,3000,85,90,21,60,1.20,240\r\n"
                  "5,10:20:35,8.000000,50.000000,100,250,90,3000,85,90,21,60,1.20,240\r\n"
                  "10,10:20:40,8.000000,50.000000,100,250,90,3000,85,90,21,60,1.20,-5\r\n"
                  "15,10:20:45,10.000000,51.000000,100,250,90,3000,85,90,21,60,1.20,0\r\n"
                  "\r\n");
}

// The pieces of the document around the placemarks and the track.
std::string kmlDocument(const std::string& placemarks, const std::string& track)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n"
           "<Document>\r\n<name>2024-05-01_10:20:30 points from Kestrix+</name>\r\n<open>1</open><Folder><name>Points"
           "</name>\r\n" +
           placemarks + "</Folder>\r\n<Placemark>\r\n<name>Track</name>\r\n<LineString><extrude>1</extrude>"
           "<tessellate>1</tessellate><altitudeMode>relativeToGround</altitudeMode><coordinates>\r\n" +
           track + "\r\n</coordinates></LineString></Placemark></Document></kml>\r\n";
}

std::string placemark(const std::string& time, const std::string& altitude, const std::string& coordinates)
{
    return "<Placemark>\r\n\r\n<name>" + time +
           "</name>\r\n<description>Speed:100 km/h\r\nAltitude: " + altitude +
           " m\r\nCourse: 90 \r\nRPM: 3000\r\nT1: 85 *C\r\nT2: 90 *C\r\nTz: 21 *C\r\nFuel: 60\r\nSatelites: 7\r\n"
           "Vario: 1.20\r\n</description>\r\n<Point><extrude>1</extrude><tessellate>1</tessellate><altitudeMode>"
           "relativeToGround</altitudeMode><coordinates>" +
           coordinates +
           "</coordinates></Point>\r\n<ExtendedData><Data name=\"RPM\"><value>3000</value></Data><Data name=\"T1\">"
           "<value>85</value></Data><Data name=\"T2\"><value>90</value></Data><Data name=\"Tout\"><value>21</value>"
           "</Data></ExtendedData></Placemark>\r\n\r\n\r\n";
}

TEST_F(Export, KmlOfOnePointByteForByte)
{
    LogBuilder().point(example()).save();
    const int result = run(exportPoints, 0, 0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(readFile(kmlFile()),
              kmlDocument(placemark("10:20:30", "240", "8.000000,50.000000,240"), "8.000000,50.000000,240 "));
}

TEST_F(Export, KmlHoldsPositionsAcrossBothPassesAndClampsHeights)
{
    LogBuilder()
        .point(example(t0, 0.0f, 3.0f, 120))   // no fix yet
        .point(example(t0 + 1, 50.0f, 8.0f, -5))
        .other(9, t0 + 2)
        .point(example(t0 + 3, 0.0f, 9.0f, 0)) // fix lost
        .point(example(t0 + 4, 51.0f, 10.0f, 240))
        .save();
    const int result = run(exportPoints, 0, 4 * 32);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(readFile(kmlFile()),
              kmlDocument(placemark("10:20:30", "120", "0.000000,0.000000,120") +
                              placemark("10:20:31", "-5", "8.000000,50.000000,1") +
                              placemark("10:20:33", "0", "8.000000,50.000000,1") +
                              placemark("10:20:34", "240", "10.000000,51.000000,240"),
                          // the second pass starts with the first pass's last fix
                          "10.000000,51.000000,120 8.000000,50.000000,1 8.000000,50.000000,1 "
                          "10.000000,51.000000,240 "));
}

// A flight that fills the whole log memory, 32,768 points a second apart,
// each at a latitude of its own; and the rows and placemarks that printf
// gives for them.
struct FullFlight {
    static constexpr uint32_t points = 32768;
    LogBuilder log;
    std::string csvRows, placemarks, track;
    FullFlight()
    {
        for (uint32_t i = 0; i < points; ++i) {
            const float lat = 50.0f + static_cast<float>(i) / 65536.0f;
            log.point(example(t0 + i, lat));
            const uint32_t day = (t0 + i) % 86400;
            char clock[16], position[64], row[160];
            snprintf(clock, sizeof clock, "%02u:%02u:%02u", day / 3600, day / 60 % 60, day % 60);
            snprintf(position, sizeof position, "8.000000,%f,240", static_cast<double>(lat));
            snprintf(row, sizeof row, "%u,%s,8.000000,%f,100,250,90,3000,85,90,21,60,1.20,240\r\n", i, clock,
                     static_cast<double>(lat));
            csvRows += row;
            placemarks += placemark(clock, "240", position);
            track += std::string(position) + " ";
        }
    }
};

TEST_F(Export, FlightLargerThanTheOutputBufferByteForByte)
{
    const FullFlight flight;
    flight.log.save();
    const uint32_t last = (FullFlight::points - 1) * 32;
    // The CSV name taken: its walk stops at the first point, whatever the flight's size.
    std::filesystem::create_directory(csvFile());
    ASSERT_TRUE(openLog());
    OutputCapture quiet;
    EXPECT_EQ(exportPoints(0, last), 1);
    EXPECT_EQ(exportCSV(0, last), 0);
    quiet.stop();
    closeLog();
    // As the flight index writes them: the KML first, then the CSV from the texts it stored.
    std::filesystem::remove(csvFile());
    ASSERT_TRUE(openLog());
    EXPECT_EQ(exportPoints(0, last), 1);
    EXPECT_EQ(exportCSV(0, last), 1);
    closeLog();
    EXPECT_TRUE(readFile(csvFile()) == csvTitle + flight.csvRows + "\r\n");
    EXPECT_TRUE(readFile(kmlFile()) == kmlDocument(flight.placemarks, flight.track));
}

TEST_F(Export, ReadErrorInsideAWalkFailsThatExport)
{
    const FullFlight flight;
    // The log as a disk that fails past the flight's last point.
    exportFolder();
    OutputCapture quiet;
    useLogStream(failingStream(flight.log.bytes));
    if (!data)
        GTEST_SKIP() << "no way to make a failing stream here";
    const uint32_t past = FullFlight::points * 32;
    EXPECT_EQ(exportPoints(0, past), 0);
    EXPECT_EQ(exportCSV(0, past), 0);
    closeLog();
    EXPECT_NE(quiet.stop().err.find("Cannot read \"raw.dat\": Input/output error"), std::string::npos);
    const std::string kml = readFile(kmlFile());
    EXPECT_EQ(kml.find("<name>Track</name>"), std::string::npos) << "no track after a failed first pass";
    EXPECT_TRUE(endsWith(kml, "</Placemark>\r\n\r\n\r\n</Document></kml>\r\n"));
    EXPECT_TRUE(readFile(csvFile()) == csvTitle + flight.csvRows + "\r\n");
}

TEST_F(Export, PutAcrossTheBufferEndKeepsEveryByteInOrder)
{
    // The export files gather their bytes in one buffer of 256 KiB; a text put
    // three bytes before its end is split across a write to the disk, and
    // its last byte alone waits for the close.
    constexpr std::size_t bufferBytes = 256 * 1024;
    exportFolder();
    ExportFile file;
    ASSERT_TRUE(createInExportFolder(file, "%s/%s", "crossing"));
    for (std::size_t filled = 0; filled < bufferBytes - 3;) {
        const std::size_t n = std::min<std::size_t>(4096, bufferBytes - 3 - filled);
        char* at = file.room(n);
        std::memset(at, 'a', n);
        file.commit(at + n);
        filled += n;
    }
    file.put("ABCD");
    ASSERT_TRUE(file.close());
    EXPECT_TRUE(readFile(exportFolder() + "/crossing") == std::string(bufferBytes - 3, 'a') + "ABCD");
}

TEST_F(Export, RangeWithoutPointsWritesNothingAndSucceeds)
{
    LogBuilder().other(2, t0).point(example(1854890433)).point(example()).save();
    for (auto exporter : {exportCSV, exportPoints}) {
        const int result = run(exporter, 0, 32);
        EXPECT_EQ(result, 1);
        EXPECT_TRUE(listFolder(exportFolder()).empty());
        // stop before start reads nothing
        EXPECT_EQ(run(exporter, 64, 32), 1);
        EXPECT_TRUE(listFolder(exportFolder()).empty());
    }
}

TEST_F(Export, ReadsEndAtTheEndOfTheFileWhateverStopSays)
{
    LogBuilder().point(example()).point(example(t0 + 1)).save();
    for (auto exporter : {exportCSV, exportPoints}) {
        const int result = run(exporter, 0, 0xFFFFFFE0u);
        EXPECT_EQ(result, 1);
    }
    EXPECT_NE(readFile(csvFile()).find("\r\n1,10:20:31,"), std::string::npos);
}

TEST_F(Export, WithoutAnExportFolderNothingIsWritten)
{
    LogBuilder().point(example()).save();
    ASSERT_TRUE(openLog());  // and no export folder made
    OutputCapture capture;
    EXPECT_EQ(exportCSV(0, 0), 0);
    EXPECT_EQ(exportPoints(0, 0), 0);
    const RunResult printed = capture.stop();
    closeLog();
    EXPECT_EQ(printed.out, "Error when creating file \r\n");
    EXPECT_NE(printed.err.find("No export folder for this run"), std::string::npos);
    EXPECT_EQ(listFolder("."), std::vector<std::string>{"raw.dat"});
    EXPECT_FALSE(std::filesystem::exists("/" + exportName(t0, platform::csvNameFormat)));
}

TEST_F(Export, FailedWritesAreFailures)
{
    LogBuilder().point(example()).save();
    if (platform::windows)
        GTEST_SKIP() << "a full disk is tried through /dev/full";
    std::filesystem::create_symlink("/dev/full", csvFile());
    std::filesystem::create_symlink("/dev/full", kmlFile());
    OutputCapture capture;
    EXPECT_EQ(run(exportCSV, 0, 0), 0);
    EXPECT_EQ(run(exportPoints, 0, 0), 0);
    const std::string err = capture.stop().err;
    EXPECT_NE(err.find("Cannot write " + csvFile() + ": No space left on device"), std::string::npos) << err;
    EXPECT_NE(err.find("Cannot write " + kmlFile() + ": No space left on device"), std::string::npos) << err;

    // Everything written, and closing the file fails: the reason is the close's.
    std::filesystem::remove(kmlFile());
    failNextCloseOf(exportName(t0, platform::kmlNameFormat));
    OutputCapture again;
    EXPECT_EQ(run(exportPoints, 0, 0), 0);
    const std::string err2 = again.stop().err;
    EXPECT_EQ(err2, "Cannot write " + kmlFile() + ": Input/output error. The file is incomplete.\n");
}

TEST_F(Export, FileThatCannotBeCreatedStopsTheWalkAndFailsOnlyItsExport)
{
    LogBuilder().point(example()).point(example(t0 + 1)).point(example(t0 + 2)).save();
    std::filesystem::create_directory(kmlFile());  // in the way of the KML file
    OutputCapture capture;
    EXPECT_EQ(run(exportPoints, 0, 64), 0);
    EXPECT_EQ(run(exportCSV, 0, 64), 1);
    const RunResult printed = capture.stop();
    EXPECT_EQ(printed.out, "Error when creating file \r\n");  // once, not per point
    EXPECT_EQ(printed.err.find("Cannot create " + exportFolder()), 0u) << printed.err;
    EXPECT_NE(printed.err.find(exportName(t0, platform::kmlNameFormat)), std::string::npos);
    EXPECT_EQ(std::count(printed.err.begin(), printed.err.end(), '\n'), 1);
    const std::string csvText = readFile(csvFile());
    EXPECT_EQ(std::count(csvText.begin(), csvText.end(), '\n'), 2 + 3 + 1);
    // Nothing else was made: the walk did not go on to name the file after a later point.
    EXPECT_EQ(listFolder(exportFolder()).size(), 2u);
}

TEST_F(Export, FlightIndexReportsEachExportsFailureAndGoesOn)
{
    LogBuilder().point(example()).point(example(t0 + 4000)).save();
    // The export folder of this run is a file: neither export can create its file.
    char name[32];
    const time_t now = time(nullptr);
    strftime(name, sizeof name, "%Y-%m-%d_%H-%M", localtime(&now));
    writeFile(name, "");
    const RunResult r = runLogreaderCaptured({"x"});
    if (listFolder(".").size() == 2) {  // still the same minute
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.out.find(" \r\n Len: 0 s.\r\nError when creating file \r\n KML fail ,CSV fail \r\n\r\n2.Flight"),
                  std::string::npos) << r.out;
    }
}

TEST_F(Export, OneFailedExportOfOneFlightMakesTheRunIncomplete)
{
    LogBuilder().point(example()).point(example(t0 + 4000)).save();
    const RunResult first = runLogreaderCaptured({"x"});
    ASSERT_EQ(first.status, 0);
    std::string folder;
    for (const std::string& name : listFolder("."))
        folder = name == "raw.dat" ? folder : name;
    // The next run in the same minute finds the first flight's CSV name taken by a folder.
    std::filesystem::remove(folder + "/" + exportName(t0, platform::csvNameFormat));
    std::filesystem::create_directory(folder + "/" + exportName(t0, platform::csvNameFormat));
    const RunResult r = runLogreaderCaptured({"x"});
    if (listFolder(".").size() == 2) {  // still the same minute
        EXPECT_NE(r.out.find(" exported to -> KML OK ,CSV fail \r\n\r\n2.Flight"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(" exported to -> KML OK ,CVS OK \r\n\r\nAll data exported"), std::string::npos);
        EXPECT_EQ(r.status, 2);
    }
}

TEST_F(Export, FolderThatCannotBeMadeLeavesEveryFlightUnwritten)
{
    if (platform::windows)
        GTEST_SKIP() << "a working folder cannot be removed while in use";
    LogBuilder().point(example()).point(example(t0 + 4000)).save();
    ASSERT_TRUE(openLog());
    std::filesystem::remove_all(dir_);  // gone from under the run: mkdir fails with ENOENT
    OutputCapture capture;
    const int status = indexFlights();
    const RunResult r = capture.stop();
    std::filesystem::create_directory(dir_);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(r.err.find("Directory created fail: No such file or directory\n"), 0u) << r.err;
    EXPECT_EQ(folder[0], '\0');
    EXPECT_NE(r.out.find(" KML fail ,CSV fail \r\n\r\n2.Flight"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" KML fail ,CSV fail \r\n\r\nAll data exported"), std::string::npos) << r.out;
}

}  // namespace
