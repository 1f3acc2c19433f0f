// What the benchmarks that time whole programs share: logs of point records,
// a clock, and a helper process that runs a program and tells its time and
// peak memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

constexpr uint32_t start = 1714551120;  // 2024-05-01 08:12:00 UTC

struct Timed {
    double seconds = 1e9;
    long peakKiB = 0;
};

// A full 1 MiB log of point records from `from`, a second apart in flights of
// `perFlight` points that lie 601 s apart (1: every record a flight).
std::vector<uint8_t> pointLog(uint32_t perFlight, uint32_t from = start);
// A full 1 MiB log of one flight of 32,768 points a second apart from
// `from`, every value as noisy as an instrument logs it: the largest page.
std::vector<uint8_t> noisyLog(uint32_t from = start);
double now();
// Call first in main: when this program was started as the helper
// (--run FOLDER PROGRAM ARGS...), runs it and gives the exit status; else -1.
int helperStatus(int argc, char** argv);
// Runs a program in `folder` through the helper; its time and peak memory.
Timed runProgram(const std::vector<std::string>& args, const std::filesystem::path& folder);

}  // namespace bench
