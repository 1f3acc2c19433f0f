// Shared test scaffolding: a fresh working folder per test, the programs run
// in-process against the simulated instrument with their output captured,
// and hand-made log files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "files.h"
#include "logsample.h"

struct RunResult {
    int status = 0;
    std::string out;
    std::string err;
};

// Catches what the code under test writes to standard output and standard
// error, byte for byte, from construction to stop().
class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    RunResult stop();

private:
    struct Stream {
        int fd = -1;
        int saved = -1;
        std::string path;
    };
    void begin(Stream& s, int fd, const char* tag);
    std::string end(Stream& s);
    Stream out_, err_;
};

RunResult runLogreaderCaptured(const std::vector<std::string>& args = {});
RunResult runFlasherCaptured(const std::vector<std::string>& args = {});
RunResult runConverterCaptured(const std::vector<std::string>& args = {});

// Runs `run` in a child process that is stopped after `seconds`: a program
// that would wait for ever comes back with status `hung` instead of holding up
// the suite. Where there is no fork (Windows) it runs `run` directly.
constexpr int hung = -1000;
RunResult runWithDeadline(RunResult (*run)(const std::vector<std::string>&), const std::vector<std::string>& args,
                          unsigned seconds = 10);
// Makes a named pipe; false where the system has none.
bool makeFifo(const std::string& path);
// A stream that gives `bytes` and then fails with EIO, as a disk with a bad
// block does; nullptr where the C library cannot make one.
FILE* failingStream(const std::string& bytes);
// Makes the next fclose of the file whose name ends in `name` close it and
// then fail with EIO, as a disk that loses the last write ("" disarms it);
// false where the tests cannot (Windows).
bool failNextCloseOf(const std::string& name);

bool endsWith(const std::string& text, const std::string& tail);
// Names in a folder, sorted, without "." and "..".
std::vector<std::string> listFolder(const std::string& path);

// Each test runs in its own empty temporary folder, with the programs'
// globals and the simulator back at their start values.
class InTempDir : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string dir_;
    std::string home_;
};

// A log as "raw.dat" holds it, built record by record.
struct LogBuilder {
    std::string bytes;
    LogBuilder& point(const sim::PointFields& p);
    // A point with only a time and a position.
    LogBuilder& point(uint32_t time, float lat = 50.0f, float lon = 8.0f);
    LogBuilder& other(uint8_t type, uint32_t time);
    void save(const std::string& path = "raw.dat") const { writeFile(path, bytes); }
};

// 2024-05-01 10:20:30 UTC; the tests run with TZ=UTC unless they say otherwise.
constexpr uint32_t t0 = 1714558830;

// The example sample: 10:20:30, 8.0 E 50.0 N, 100 km/h, course 90, 3000 rpm...
sim::PointFields example(uint32_t time = t0, float lat = 50.0f, float lon = 8.0f, int16_t altitude = 240);

// Gives the file `path` the modification time `time` (seconds since 1970 UTC).
void setModified(const std::string& path, uint32_t time);

// Sets TZ for the rest of the process.
void setTimeZone(const char* tz);
// The name of a file an export makes for a flight starting at `time`, with
// one of the platform's formats (platform::kmlNameFormat, csvNameFormat).
std::string exportName(uint32_t time, const char* format);

// The hint after "Failed to open device!": on Linux it sends the user to the
// udev rule and to the program's own manual page; on Windows there is none.
std::string openHint(const char* program);

