// kxconvert's cost in a library a pilot has kept for years, measured in one
// run: a 1 MiB log of one flight (32,768 points) converted into a library of
// 1,000 flights against the same into an empty folder; the summary on top of
// a quiet run; the page of a noisy flight on top of its IGC and GPX files; and the
// flushes that make the library durable, against the same run with every
// flush a no-op (eatmydata, from Debian).
// Every round converts a log of flights new to the library, and the cases
// take turns round after round; the best round of each counts.
//   kxlibrarybench [KXCONVERT [PAGE]]   (default: kxconvert beside this program;
//                                         PAGE receives the 9-hour flight's page)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "benchsupport.h"
#include "files.h"

namespace fs = std::filesystem;

namespace {

constexpr int rounds = 15;
constexpr uint32_t day = 86400;

std::string converter;

// A log written into `folder` as log.dat: one flight on the `n`-th day after
// the library's days, or (apart) flights of 327 points, or one noisy flight.
enum class Kind { OneFlight, Apart, Noisy };
void writeLog(const fs::path& folder, uint32_t from, Kind kind)
{
    const std::vector<uint8_t> log = kind == Kind::Noisy ? bench::noisyLog(from)
                                                         : bench::pointLog(kind == Kind::Apart ? 327 : 1u << 15, from);
    writeFile(folder / "log.dat", std::string(log.begin(), log.end()));
}

bench::Timed convertInto(const fs::path& folder, const std::string& library, std::vector<std::string> extra = {},
                         bool flushes = true)
{
    std::vector<std::string> args = {converter, "-o", library};
    if (!flushes)
        args.insert(args.begin(), "eatmydata");
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("log.dat");
    return bench::runProgram(args, folder);
}

// The library of 1,000 flights: ten logs of 100 flights on ten days.
void buildLibrary(const fs::path& base)
{
    for (uint32_t k = 0; k < 10; ++k) {
        writeLog(base, bench::start + k * day, Kind::Apart);
        convertInto(base, "library");
    }
}

struct Pair {
    double with = 1e9, without = 1e9;
    double ratio() const { return with / without; }
};

void keepBest(double& best, const bench::Timed& t) { best = std::min(best, t.seconds); }

}  // namespace

int main(int argc, char** argv)
{
    if (const int status = bench::helperStatus(argc, argv); status >= 0)
        return status;
    converter = argc > 1 ? fs::absolute(argv[1]).string()
                         : (fs::canonical("/proc/self/exe").parent_path() / "kxconvert").string();
    setenv("TZ", "Europe/Berlin", 0);
    const fs::path base = fs::temp_directory_path() / ("kxlibrarybench-" + std::to_string(getpid()));
    fs::create_directories(base);
    buildLibrary(base);
    Pair library, summary, pages, flushes;
    const bool eatmydata = std::system("eatmydata true >/dev/null 2>&1") == 0;
    for (int i = 0; i < rounds; ++i) {
        const uint32_t from = bench::start + (20 + 4 * i) * day;  // flights new to the library each round
        writeLog(base, from, Kind::OneFlight);
        keepBest(library.with, convertInto(base, "library"));
        keepBest(library.without, convertInto(base, "empty-" + std::to_string(i)));
        writeLog(base, from + day, Kind::OneFlight);
        keepBest(summary.with, convertInto(base, "library"));
        writeLog(base, from + 2 * day, Kind::OneFlight);
        keepBest(summary.without, convertInto(base, "library", {"-q"}));
        writeLog(base, from + 3 * day, Kind::Noisy);
        keepBest(pages.with, convertInto(base, "pages-" + std::to_string(i), {"-f", "igc,gpx,html"}));
        keepBest(pages.without, convertInto(base, "plain-" + std::to_string(i), {"-f", "igc,gpx"}));
        if (eatmydata) {
            keepBest(flushes.with, convertInto(base, "flushed-" + std::to_string(i)));
            keepBest(flushes.without, convertInto(base, "unflushed-" + std::to_string(i), {}, false));
        }
    }
    std::printf("| case | with | without | ratio |\n|---|---|---|---|\n");
    std::printf("| 1 MiB log (1 flight) into a library of 1,000 flights / into an empty folder | %.1f ms | %.1f ms | "
                "%.2f |\n", library.with * 1e3, library.without * 1e3, library.ratio());
    std::printf("| the same in the library, with the summary / quiet | %.1f ms | %.1f ms | %.2f |\n",
                summary.with * 1e3, summary.without * 1e3, summary.ratio());
    std::printf("| IGC, GPX and the page / IGC and GPX alone | %.1f ms | %.1f ms | %.2f |\n", pages.with * 1e3,
                pages.without * 1e3, pages.ratio());
    if (eatmydata)
        std::printf("| into an empty folder, flushed to the disk / every flush a no-op | %.1f ms | %.1f ms | %.2f |\n",
                    flushes.with * 1e3, flushes.without * 1e3, flushes.ratio());
    else
        std::printf("(eatmydata is missing: the flushes' cost is not measured)\n");
    for (const auto& f : fs::directory_iterator(base / "pages-0"))
        if (argc > 2 && f.path().extension() == ".html" && f.path().filename() != "index.html") {
            fs::copy_file(f.path(), argv[2], fs::copy_options::overwrite_existing);
            std::printf("the page of the noisy flight of 32,768 points: %ju bytes\n",
                        static_cast<std::uintmax_t>(fs::file_size(f.path())));
        }
    fs::remove_all(base);
    return 0;
}
