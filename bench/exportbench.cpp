// The export measured against what a user would compare it with, side by
// side in one run: `kxlogreader x` on a full 1 MiB log of one flight, against
// GPSBabel converting the same points from CSV to KML, and against a plain
// program writing the very bytes of our files; then a log where every record
// is a flight of its own, against creating and writing the same files.
// Each figure is the best of several runs.
//   kxexportbench [KXLOGREADER]     (default: kxlogreader beside this program)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "files.h"
#include "logsample.h"

namespace fs = std::filesystem;

namespace {

constexpr int rounds = 5;
constexpr uint32_t start = 1714551120;  // 2024-05-01 08:12:00 UTC

struct Timed {
    double seconds = 1e9;
    long peakKiB = 0;
};

// A full log of point records: one flight one second apart, or (apart) a
// flight of its own for every record.
std::vector<uint8_t> pointLog(bool apart)
{
    std::vector<uint8_t> log(1 << 20);
    for (size_t i = 0; i < log.size() / 32; ++i) {
        sim::PointFields p;
        p.time = start + static_cast<uint32_t>(i) * (apart ? 601 : 1);
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

// The helper (this program started with --run): runs one program in a
// folder with its output discarded and prints its time and peak memory. As a
// small process of its own it lets the peak be the program's alone, not the
// benchmark's memory that a fork would share.
int runOnce(char** argv)
{
    const double t0 = now();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(argv[0]) != 0 || !std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(127);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    std::printf("%.9f %ld\n", now() - t0, usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

std::string self;

// Runs a program in `folder` through the helper; its time and peak memory.
Timed runProgram(const std::vector<std::string>& args, const fs::path& folder)
{
    std::string command = "'" + self + "' --run '" + folder.string() + "'";
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

// Creates and writes `files` (name and bytes) in a new `folder`, as plainly as it goes; seconds.
double writePlainly(const std::vector<std::pair<std::string, std::string>>& files, const fs::path& folder)
{
    const double t0 = now();
    fs::create_directory(folder);
    for (const auto& [name, bytes] : files) {
        FILE* f = std::fopen((folder / name).c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return now() - t0;
}

// The export folder a run left, as names and contents.
std::vector<std::pair<std::string, std::string>> exported(const fs::path& folder)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& dir : fs::directory_iterator(folder))
        if (dir.is_directory())
            for (const auto& f : fs::directory_iterator(dir.path()))
                files.emplace_back(f.path().filename().string(), readFile(f.path()));
    return files;
}

// The points of the CSV export as GPSBabel's universal CSV, with what
// GPSBabel can carry of them: position, height, speed, course and the time.
std::string babelInput(const std::vector<std::pair<std::string, std::string>>& files)
{
    std::string csv;
    for (const auto& f : files)
        if (f.first.size() > 4 && f.first.compare(f.first.size() - 4, 4, ".csv") == 0)
            csv = f.second;
    std::string out = "lat,lon,alt,speed,course,date,time\n";
    std::istringstream rows(csv);
    std::string line;
    std::string date;
    for (int n = 0; std::getline(rows, line); ++n) {
        if (n == 0)
            date = line.substr(0, 10);
        if (n < 2 || line.size() < 3)
            continue;
        std::vector<std::string> cell;
        std::istringstream fields(line);
        for (std::string c; std::getline(fields, c, ',');)
            cell.push_back(c);
        const double kmh = std::atof(cell[4].c_str());
        out += cell[3] + "," + cell[2] + "," + cell[13].substr(0, cell[13].find('\r')) + "," +
               std::to_string(kmh / 3.6) + "," + cell[6] + "," + date + "," + cell[1] + "\n";
    }
    return out;
}

void clearExports(const fs::path& folder)
{
    for (const auto& e : fs::directory_iterator(folder))
        if (e.is_directory())
            fs::remove_all(e.path());
}

size_t totalBytes(const std::vector<std::pair<std::string, std::string>>& files)
{
    size_t n = 0;
    for (const auto& f : files)
        n += f.second.size();
    return n;
}

// One case: our export and its yardsticks, run in turn round after round so
// that the machine's moods fall on all alike; the best round of each counts.
struct Case {
    Timed ours, plain, babel;
    std::vector<std::pair<std::string, std::string>> files;
};

Case measure(const std::string& program, const fs::path& base, const std::vector<uint8_t>& log, bool withBabel)
{
    Case c;
    const fs::path ours = base / "ours";
    fs::create_directories(ours);
    writeFile(ours / "raw.dat", std::string(log.begin(), log.end()));
    const Timed first = runProgram({program, "x"}, ours);
    c.files = exported(ours);
    if (withBabel)
        writeFile(base / "points.csv", babelInput(c.files));
    for (int i = 0; i < rounds; ++i) {
        clearExports(ours);
        const Timed t = i ? runProgram({program, "x"}, ours) : first;
        c.ours.seconds = std::min(c.ours.seconds, t.seconds);
        c.ours.peakKiB = std::max(c.ours.peakKiB, t.peakKiB);
        const fs::path plain = base / ("plain-" + std::to_string(i));
        c.plain.seconds = std::min(c.plain.seconds, writePlainly(c.files, plain));
        fs::remove_all(plain);
        if (withBabel) {
            const Timed b = runProgram({"gpsbabel", "-i", "unicsv", "-f", (base / "points.csv").string(), "-o", "kml",
                                        "-F", (base / "babel.kml").string()},
                                       base);
            c.babel.seconds = std::min(c.babel.seconds, b.seconds);
        }
    }
    clearExports(ours);
    return c;
}

// kxconvert on the one-flight log to IGC and GPX, against GPSBabel turning
// the same points from GPX into IGC, and against writing the same bytes.
Case measureConverter(const std::string& converter, const fs::path& base, const std::vector<uint8_t>& log)
{
    Case c;
    const fs::path ours = base / "ours";
    fs::create_directories(ours);
    writeFile(ours / "raw.dat", std::string(log.begin(), log.end()));
    const std::vector<std::string> run = {converter, "-q", "-o", "out", "raw.dat"};
    for (int i = 0; i < rounds; ++i) {
        fs::remove_all(ours / "out");
        const Timed t = runProgram(run, ours);
        c.ours.seconds = std::min(c.ours.seconds, t.seconds);
        c.ours.peakKiB = std::max(c.ours.peakKiB, t.peakKiB);
        if (i == 0)
            for (const auto& f : fs::directory_iterator(ours / "out"))
                c.files.emplace_back(f.path().filename().string(), readFile(f.path()));
        const fs::path plain = base / ("plain-" + std::to_string(i));
        c.plain.seconds = std::min(c.plain.seconds, writePlainly(c.files, plain));
        fs::remove_all(plain);
        for (const auto& f : c.files)
            if (f.first.size() > 4 && f.first.compare(f.first.size() - 4, 4, ".gpx") == 0) {
                const Timed b = runProgram({"gpsbabel", "-i", "gpx", "-f", (ours / "out" / f.first).string(), "-o",
                                            "igc", "-F", (base / "babel.igc").string()},
                                           base);
                c.babel.seconds = std::min(c.babel.seconds, b.seconds);
            }
    }
    return c;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 3 && std::string(argv[1]) == "--run")
        return runOnce(argv + 2);
    self = fs::canonical("/proc/self/exe").string();
    const std::string program =
        argc > 1 ? argv[1] : (fs::canonical("/proc/self/exe").parent_path() / "kxlogreader").string();
    setenv("TZ", "Europe/Berlin", 0);
    const fs::path base = fs::temp_directory_path() / ("kxexportbench-" + std::to_string(getpid()));
    fs::create_directories(base);

    std::printf("| case | ours | against | ratio |\n|---|---|---|---|\n");
    std::fflush(stdout);
    const Case one = measure(program, base / "one", pointLog(false), true);
    std::printf("| 1 MiB log, 1 flight, %zu bytes written | %.1f ms | GPSBabel CSV to KML %.1f ms | %.1fx faster |\n",
                totalBytes(one.files), one.ours.seconds * 1e3, one.babel.seconds * 1e3,
                one.babel.seconds / one.ours.seconds);
    std::printf("| same | %.1f ms | writing the same bytes %.2f ms | %.2fx the write |\n", one.ours.seconds * 1e3,
                one.plain.seconds * 1e3, one.ours.seconds / one.plain.seconds);
    std::fflush(stdout);
    const Case many = measure(program, base / "many", pointLog(true), false);
    std::printf("| 1 MiB log, %zu flights, %zu files | %.1f ms | creating and writing them %.1f ms | %.2fx |\n",
                many.files.size() / 2, many.files.size(), many.ours.seconds * 1e3, many.plain.seconds * 1e3,
                many.ours.seconds / many.plain.seconds);
    std::fflush(stdout);
    const std::string converter = (fs::path(program).parent_path() / "kxconvert").string();
    const Case converted = measureConverter(converter, base / "convert", pointLog(false));
    std::printf("| kxconvert: 1 MiB log, 1 flight to IGC and GPX, %zu bytes | %.1f ms | GPSBabel GPX to IGC %.1f ms | "
                "%.1fx faster |\n",
                totalBytes(converted.files), converted.ours.seconds * 1e3, converted.babel.seconds * 1e3,
                converted.babel.seconds / converted.ours.seconds);
    std::printf("| same | %.1f ms | writing the same bytes %.2f ms | %.2fx the write |\n", converted.ours.seconds * 1e3,
                converted.plain.seconds * 1e3, converted.ours.seconds / converted.plain.seconds);
    std::printf("\npeak memory of kxlogreader: %.1f MiB (one flight), %.1f MiB (%zu flights); of kxconvert: %.1f MiB\n",
                one.ours.peakKiB / 1024.0, many.ours.peakKiB / 1024.0, many.files.size() / 2,
                converted.ours.peakKiB / 1024.0);
    fs::remove_all(base);
    return 0;
}
