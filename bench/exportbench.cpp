// The export measured against what a user would compare it with, side by
// side in one run: `kxlogreader x` on a full 1 MiB log of one flight, against
// GPSBabel converting the same points from CSV to KML, and against a plain
// program writing the very bytes of our files; then a log where every record
// is a flight of its own, against creating and writing the same files.
// Each figure is the best of several runs.
//   kxexportbench [KXLOGREADER]     (default: kxlogreader beside this program)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "benchsupport.h"
#include "files.h"

namespace fs = std::filesystem;
using bench::now;
using bench::runProgram;
using bench::Timed;

namespace {

constexpr int rounds = 5;

std::vector<uint8_t> pointLog(bool apart) { return bench::pointLog(apart ? 1 : 1u << 15); }

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
    const std::vector<std::string> run = {converter, "-q", "-f", "igc,gpx", "-o", "out", "raw.dat"};
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
    if (const int status = bench::helperStatus(argc, argv); status >= 0)
        return status;
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
