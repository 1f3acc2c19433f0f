// Benchmarks of the heavy paths against the simulated instrument, which
// answers at once: exporting a full 1 MiB log (one flight, and a thousand
// flights), the download, and the firmware upload. Each case runs in a child
// process of its own so that its peak memory is its own.
//   kxbench            all cases
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "flasher.h"
#include "logreader.h"
#include "logsample.h"
#include "sim.h"

namespace {

constexpr uint32_t start = 1714551120;

// A log of `records` point records, a new flight every `perFlight` records.
std::vector<uint8_t> pointLog(size_t records, size_t perFlight)
{
    std::vector<uint8_t> log(records * 32);
    uint32_t t = start;
    for (size_t i = 0; i < records; ++i) {
        t += (i % perFlight == 0 && i) ? 3600 : 1;
        sim::PointFields p;
        p.time = t;
        p.lat = 50.0f + i * 1e-5f;
        p.lon = 8.0f + i * 1e-5f;
        p.altitude = static_cast<int16_t>(i % 900);
        p.speed = 120;
        p.rpm = 520;
        sim::encodePoint(&log[i * 32], p);
    }
    return log;
}

void save(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Runs `work` in a child with standard output discarded; prints seconds per
// unit and the child's peak memory.
void measure(const char* name, size_t units, const char* unit, const std::function<std::string()>& work)
{
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        const auto t0 = std::chrono::steady_clock::now();
        const std::string note = work();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::fflush(stdout);
        FILE* tty = fdopen(dup(2), "w");
        std::fprintf(tty, "%-30s %7.3f s %7.2f us/%s%s", name, s, s * 1e6 / units, unit, note.c_str());
        std::fclose(tty);
        std::_Exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    std::fprintf(stderr, ", peak memory %ld KiB\n", usage.ru_maxrss);
}

}  // namespace

int main()
{
    const std::filesystem::path work = std::filesystem::temp_directory_path() / ("kxbench-" + std::to_string(getpid()));
    std::filesystem::create_directories(work);
    std::filesystem::current_path(work);
    setenv("TZ", "UTC0", 1);
    std::fprintf(stderr, "kxbench: %s\n", work.c_str());

    const size_t full = 32768;
    save("one.dat", pointLog(full, full));
    save("many.dat", pointLog(full, full / 1000 + 1));
    save("small.dat", pointLog(2048, 2048));
    const auto exportLog = [](const char* file) {
        return [file] {
            std::filesystem::copy_file(file, "raw.dat", std::filesystem::copy_options::overwrite_existing);
            char arg[] = "x";
            char* argv[] = {arg, arg, nullptr};
            runLogreader(2, argv);
            return std::string();
        };
    };
    measure("export 64 KiB, 1 flight", 2048, "record", exportLog("small.dat"));
    measure("export 1 MiB, 1 flight", full, "record", exportLog("one.dat"));
    measure("export 1 MiB, 1000 flights", full, "record", exportLog("many.dat"));

    measure("download 1 MiB (32768 parts)", full, "part", [] {
        sim::reset();
        char arg[] = "kxlogreader";
        char* argv[] = {arg, nullptr};
        runLogreader(1, argv);
        return std::string();
    });

    save("fw.qln", std::vector<uint8_t>(524288 + 512 * 4096, 0x5A));
    measure("upload 128 + 512 pages", (26 + 512) * 128, "part", [] {
        sim::reset();
        char arg[] = "kxflash";
        char file[] = "fw.qln";
        char* argv[] = {arg, file, nullptr};
        runFlasher(2, argv);
        char note[80];
        std::snprintf(note, sizeof note, " (+ %.0f us/part of prescribed pauses)",
                      double(sim::virtualClock().sleptUs) / ((26 + 512) * 128));
        return std::string(note);
    });
    std::filesystem::current_path("/");
    std::filesystem::remove_all(work);
    return 0;
}
