#include "benchsupport.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

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

std::vector<uint8_t> noisyLog(uint32_t from)
{
    std::vector<uint8_t> log(1 << 20);
    std::mt19937 random(9);
    std::normal_distribution<double> noise(0, 1);
    const auto gauss = [&](double spread) { return noise(random) * spread; };
    double lat = 47.0, lon = 9.0, alt = 420, heading = 0, t1 = 140, t2 = 560, fuel = 98;
    const size_t n = log.size() / 32;
    for (size_t i = 0; i < n; ++i) {
        const bool air = i > 300 && i + 300 < n;
        heading += gauss(0.05);
        const double speed = std::max(0.0, (air ? 62 : 0) + gauss(3));
        lat += speed / 3.6 * std::cos(heading) / 111320;
        lon += speed / 3.6 * std::sin(heading) / (111320 * std::cos(lat * M_PI / 180));
        const double vario = gauss(1) + (air ? 0.3 * std::sin(i / 600.0) : 0);
        alt = std::max(420.0, alt + vario);
        t1 += gauss(0.3) + (150 - t1) / 300;
        t2 += gauss(1.5) + (560 - t2) / 200;
        fuel -= 0.0025;
        sim::PointFields p;
        p.time = from + static_cast<uint32_t>(i);
        p.lat = static_cast<float>(lat);
        p.lon = static_cast<float>(lon);
        p.speed = static_cast<uint8_t>(speed);
        p.altitudeGps = static_cast<int16_t>(alt + gauss(3));
        p.course = static_cast<uint8_t>(std::fmod(std::fmod(heading * 180 / M_PI, 360) + 360, 360) / 2);
        p.satellites = static_cast<uint8_t>(7 + random() % 6);
        p.rpm = static_cast<uint16_t>((air ? 520 : 200) + gauss(6));
        p.t1 = static_cast<int16_t>(std::lround(t1));
        p.t2 = static_cast<int16_t>(std::lround(t2));
        p.tz = static_cast<int8_t>(std::lround(15 - alt / 150 + gauss(0.3)));
        p.fuel = static_cast<uint8_t>(std::max(0L, std::lround(fuel)));
        p.pressure = static_cast<uint16_t>(101325 * std::pow(1 - 2.25577e-5 * alt, 5.25588) / 10 + gauss(1));
        p.altitude = static_cast<int16_t>(alt);
        p.vario = static_cast<int16_t>(vario * 10);
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
