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
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "logsample.h"

namespace fs = std::filesystem;

namespace {

constexpr int rounds = 7;
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

void save(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string load(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Runs a program in `folder` with its output discarded; best time and peak memory.
Timed runProgram(const std::vector<std::string>& args, const fs::path& folder, const std::function<void()>& before)
{
    Timed best;
    for (int i = 0; i < rounds; ++i) {
        before();
        const double t0 = now();
        const pid_t child = fork();
        if (child == 0) {
            if (chdir(folder.c_str()) != 0 || !std::freopen("/dev/null", "w", stdout) ||
                !std::freopen("/dev/null", "w", stderr))
                _exit(127);
            std::vector<char*> argv;
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        const double took = now() - t0;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "%s failed (status %d)\n", args[0].c_str(), status);
            std::exit(1);
        }
        best.seconds = std::min(best.seconds, took);
        best.peakKiB = std::max(best.peakKiB, usage.ru_maxrss);
    }
    return best;
}

// Creates and writes `files` (relative name and bytes) under `folder`, as plainly as it goes.
Timed writePlainly(const std::vector<std::pair<std::string, std::string>>& files, const fs::path& folder)
{
    Timed best;
    for (int i = 0; i < rounds; ++i) {
        fs::remove_all(folder);
        const double t0 = now();
        fs::create_directory(folder);
        for (const auto& [name, bytes] : files) {
            FILE* f = std::fopen((folder / name).c_str(), "wb");
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        best.seconds = std::min(best.seconds, now() - t0);
    }
    return best;
}

// The export folder a run left, as names and contents.
std::vector<std::pair<std::string, std::string>> exported(const fs::path& folder)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& dir : fs::directory_iterator(folder))
        if (dir.is_directory())
            for (const auto& f : fs::directory_iterator(dir.path()))
                files.emplace_back(f.path().filename().string(), load(f.path()));
    return files;
}

// The points of the CSV export as GPSBabel's universal CSV: latitude, longitude, altitude.
std::string babelInput(const std::string& csv)
{
    std::string out = "lat,lon,alt\n";
    std::istringstream rows(csv);
    std::string line;
    for (int n = 0; std::getline(rows, line); ++n) {
        if (n < 2 || line.size() < 3)
            continue;
        std::vector<std::string> cell;
        std::istringstream fields(line);
        for (std::string c; std::getline(fields, c, ',');)
            cell.push_back(c);
        out += cell[3] + "," + cell[2] + "," + cell[13].substr(0, cell[13].find('\r')) + "\n";
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

}  // namespace

int main(int argc, char** argv)
{
    const std::string program =
        argc > 1 ? argv[1] : (fs::canonical("/proc/self/exe").parent_path() / "kxlogreader").string();
    setenv("TZ", "Europe/Berlin", 0);
    const fs::path base = fs::temp_directory_path() / ("kxexportbench-" + std::to_string(getpid()));
    fs::create_directories(base);

    std::printf("| case | ours | against | ratio |\n|---|---|---|---|\n");
    // One flight of 32,768 points.
    const fs::path one = base / "one";
    fs::create_directory(one);
    const std::vector<uint8_t> log = pointLog(false);
    save(one / "raw.dat", std::string(log.begin(), log.end()));
    const Timed ours = runProgram({program, "x"}, one, [&] { clearExports(one); });
    const auto files = exported(one);
    const Timed plain = writePlainly(files, base / "plain");
    std::string csv;
    for (const auto& f : files)
        if (f.first.size() > 4 && f.first.compare(f.first.size() - 4, 4, ".csv") == 0)
            csv = f.second;
    save(base / "points.csv", babelInput(csv));
    const Timed babel = runProgram({"gpsbabel", "-i", "unicsv", "-f", (base / "points.csv").string(), "-o", "kml",
                                    "-F", (base / "babel.kml").string()},
                                   base, [] {});
    std::printf("| 1 MiB log, 1 flight, %zu bytes written | %.1f ms | GPSBabel CSV to KML %.1f ms | %.1fx faster |\n",
                totalBytes(files), ours.seconds * 1e3, babel.seconds * 1e3, babel.seconds / ours.seconds);
    std::printf("| same | %.1f ms | writing the same bytes %.2f ms | %.2fx the write |\n", ours.seconds * 1e3,
                plain.seconds * 1e3, ours.seconds / plain.seconds);

    // Every record a flight of its own.
    const fs::path many = base / "many";
    fs::create_directory(many);
    const std::vector<uint8_t> apart = pointLog(true);
    save(many / "raw.dat", std::string(apart.begin(), apart.end()));
    const Timed oursMany = runProgram({program, "x"}, many, [&] { clearExports(many); });
    const auto manyFiles = exported(many);
    const Timed plainMany = writePlainly(manyFiles, base / "plain-many");
    std::printf("| 1 MiB log, %zu flights, %zu files | %.1f ms | creating and writing them %.1f ms | %.2fx |\n",
                manyFiles.size() / 2, manyFiles.size(), oursMany.seconds * 1e3, plainMany.seconds * 1e3,
                oursMany.seconds / plainMany.seconds);
    std::printf("\npeak memory of kxlogreader: %.1f MiB (one flight), %.1f MiB (%zu flights)\n", ours.peakKiB / 1024.0,
                oursMany.peakKiB / 1024.0, manyFiles.size() / 2);
    fs::remove_all(base);
    return 0;
}
