// What differs between the Linux and the Windows build: report framing,
// folder messages, file names and paths, pauses. Each test states both.
#include <cstring>
#include <sys/stat.h>

#include <filesystem>

#include "devlink.h"
#include "flasher.h"
#include "logfile.h"
#include "logreader.h"
#include "platform.h"
#include "sim.h"
#include "support.h"

namespace {

class Platform : public InTempDir {};

TEST_F(Platform, RequestsReachTheInstrumentTheSameWay)
{
    std::string file(40, '\0');
    for (int i = 10; i < 40; ++i)
        file[i] = static_cast<char>(i);
    file[6] = 40;  // the firmware size: the whole file
    writeFile("fw", file);
    runFlasherCaptured({"fw"});
    // The last command-15 request before the verification: part 1 of page 3454.
    const auto& requests = sim::log().requests;
    const auto part1 = std::find_if(requests.begin(), requests.end(), [](const auto& r) { return r[0] == 15 && r[3] == 1; });
    ASSERT_NE(part1, requests.end());
    EXPECT_EQ((*part1)[1], 3454 >> 8);
    EXPECT_EQ((*part1)[2], 3454 & 0xFF);
    EXPECT_EQ((*part1)[4], 32);  // file byte 32 is the chunk's first
    EXPECT_EQ((*part1)[11], 39);  // the file's last byte
    EXPECT_EQ((*part1)[35], 31);  // behind it, the previous chunk's bytes
    EXPECT_EQ(sim::log().numberedReports, 0u);
    // In the send buffer the request starts after the report number on Windows.
    const size_t at = platform::windows ? 1 : 0;
    EXPECT_EQ(outputBuffer[at], 11);  // the last request: restart
    if (platform::windows) {
        EXPECT_EQ(outputBuffer[0], 0);
    }
    EXPECT_EQ(outputBuffer[at + 4], 32);
}

TEST_F(Platform, PausesAreWholeMillisecondsOnWindows)
{
    std::string file(4096 + 100, '\1');
    file.replace(0, 4, std::string("\x64\x10\0\0", 4));  // the whole 4196 bytes
    file.replace(6, 4, std::string("\x64\0\0\0", 4));     // a firmware of 100 bytes
    writeFile("fw", file);
    runFlasherCaptured({"fw"});
    // 132 parts with two pauses of 100 us each, one more after the completed
    // page, two around the closing request, ten of 500 us between the
    // restarts. Every pause is below a millisecond, so Windows only yields.
    EXPECT_EQ(sim::virtualClock().sleeps, 277u);
    EXPECT_EQ(sim::virtualClock().sleptUs, platform::windows ? 0u : 31700u);
}

TEST_F(Platform, FolderMessages)
{
    const auto savedMask = umask(022);
    OutputCapture capture;
    create_timestamp_dir();
    const std::string first(folder);
    startLogreaderRun();  // a second run in the same minute
    create_timestamp_dir();
    const RunResult printed = capture.stop();
    const std::string& out = printed.out;
    const std::string& err = printed.err;
    if (first != folder)
        GTEST_SKIP() << "the minute turned";
    if (platform::windows) {
        EXPECT_EQ(out, "Directory created: " + first + "\n");
        EXPECT_EQ(err.rfind("Directory created fail: ", 0), 0u) << err;
    } else {
        EXPECT_EQ(out, "Directory created : " + first + "\nDirectory already created " + first + "\n");
        EXPECT_EQ(err, "");
        // Others may read and enter it, under the usual umask.
        EXPECT_EQ(std::filesystem::status(first).permissions(), std::filesystem::perms(0755));
    }
    EXPECT_EQ(std::string(folder), first);  // the existing folder serves the run on both
    umask(savedMask);
#ifndef _WIN32
    // A name taken by a dangling link: mkdir fails with EEXIST, and the name
    // is still the run's folder (its files then cannot be created there).
    std::filesystem::remove(first);
    std::filesystem::create_symlink("nowhere", first);
    startLogreaderRun();
    OutputCapture again;
    create_timestamp_dir();
    const std::string err2 = again.stop().err;
    EXPECT_EQ(err2, "Directory created fail: File exists\n");
    EXPECT_EQ(std::string(folder), first);
#endif
}

TEST_F(Platform, FileNamesAndPaths)
{
    LogBuilder().point(t0).save();
    OutputCapture capture;
    create_timestamp_dir();
    std::filesystem::remove(folder);  // gone: the paths show in the messages
    ASSERT_TRUE(openLog());
    exportPoints(0, 0);
    exportCSV(0, 0);
    closeLog();
    const std::string err = capture.stop().err;
    const std::string at = std::string("Cannot create ") + folder;
    if (platform::windows) {
        EXPECT_NE(err.find(at + "\\2024-05-01_10_20_30.kml"), std::string::npos) << err;
        EXPECT_NE(err.find(at + "/2024-05-01_10-20-30.csv"), std::string::npos) << err;
    } else {
        EXPECT_NE(err.find(at + "/2024-05-01_10:20:30.kml"), std::string::npos) << err;
        EXPECT_NE(err.find(at + "/2024-05-01_10:20:30.csv"), std::string::npos) << err;
    }
}

TEST_F(Platform, WindowsAsksForEnterOnlyAfterAGoodFlashing)
{
    std::string file(100, '\1');
    file.replace(0, 4, std::string("\x64\0\0\0", 4));  // 100 bytes in all,
    file.replace(6, 4, std::string("\x64\0\0\0", 4));  // all of them firmware
    writeFile("fw", file);
    const RunResult r = runFlasherCaptured({"fw"});
    const std::string enter = "(first boot may take longer). \r\nPress Enter to close this window\r\n";
    EXPECT_EQ(r.out.find(enter) != std::string::npos, platform::windows);
    EXPECT_EQ(r.out.find("\r\r\n"), std::string::npos);  // standard output passes "\r\n" unchanged
}

}  // namespace
