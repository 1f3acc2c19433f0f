#include "benchsupport.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "logsample.h"

namespace fs = std::filesystem;

namespace bench {

std::vector<uint8_t> pointLog(uint32_t perFlight, uint32_t from)
{
    std::vector<uint8_t> log(1 << 20);
    for (size_t i = 0; i < log.size() / 32; ++i) {
        sim::PointFields p;
        p.time = from + static_cast<uint32_t>(i) + static_cast<uint32_t>(i / perFlight) * 600;
        p.lat = 50.1109f + static_cast<float>(i) * 3.1e-6f;
        p.lon = 8.6821f - static_cast<float>(i) * 2.7e-6f;
        p.speed = static_cast<uint8_t>(40 + i % 120);
        p.altitudeGps = static_cast<int16_t>(120 + i % 1400);
        p.altitude = static_cast<int16_t>(110 + i % 1400);
        p.course = static_cast<uint8_t>(i % 180);
        p.satellites = static_cast<uint8_t>(7 + i % 5);
        p.rpm = static_cast<uint16_t>(480 + i % 70);
        p.t1 = static_cast<int16_t>(62 + i % 25);
        p.t2 = static_cast<int16_t>(70 + i % 22);
        p.tz = static_cast<int8_t>(18 - static_cast<int>(i % 30));
        p.fuel = static_cast<uint8_t>(92 - i % 30);
        p.vario = static_cast<int16_t>(static_cast<int>(i % 91) - 45);
        sim::encodePoint(&log[i * 32], p);
    }
    return log;
}

double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The helper runs one program in a folder with its output discarded and
// prints its time and peak memory. As a small process of its own it lets the
// peak be the program's alone, not the benchmark's memory that a fork would share.
int helperStatus(int argc, char** argv)
{
    if (argc < 4 || std::strcmp(argv[1], "--run") != 0)
        return -1;
    const double t0 = now();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(argv[2]) != 0 || !std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(127);
        execvp(argv[3], argv + 3);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    std::printf("%.9f %ld\n", now() - t0, usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

Timed runProgram(const std::vector<std::string>& args, const fs::path& folder)
{
    std::string command = "'" + fs::canonical("/proc/self/exe").string() + "' --run '" + folder.string() + "'";
    for (const std::string& a : args)
        command += " '" + a + "'";
    FILE* helper = popen(command.c_str(), "r");
    Timed t;
    const bool read = std::fscanf(helper, "%lf %ld", &t.seconds, &t.peakKiB) == 2;
    if (pclose(helper) != 0 || !read) {
        std::fprintf(stderr, "%s failed\n", args[0].c_str());
        std::exit(1);
    }
    return t;
}

}  // namespace bench
