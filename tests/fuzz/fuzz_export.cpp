// "raw.dat" given as bytes, exported as `kxlogreader x` does: no crash, no
// hang, every file inside the export folder, and every flight's CSV with as
// many rows as its KML has point placemarks.
#include <map>

#include "fuzzsupport.h"
#include "logreader.h"
#include "sim.h"

namespace {

size_t count(const std::string& text, const std::string& piece)
{
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size()))
        ++n;
    return n;
}

void checkExports()
{
    namespace fs = std::filesystem;
    fuzz::require(fuzz::parentUntouched(), "a file was written outside the working folder");
    for (const auto& entry : fs::directory_iterator(".")) {
        if (entry.path().filename() == "raw.dat")
            continue;
        fuzz::require(entry.is_directory(), "something other than the export folder was made");
        std::map<std::string, std::pair<size_t, size_t>> flights;  // CSV rows, KML points by flight start
        for (const auto& file : fs::directory_iterator(entry.path())) {
            const std::string text = readFile(file.path());
            const std::string stem = file.path().stem().string();
            if (file.path().extension() == ".csv")
                flights[stem].first = count(text, "\r\n") - 3;  // title, header, closing empty line
            else
                flights[stem].second = count(text, "<Point>");
        }
        for (const auto& [stem, rows] : flights)
            fuzz::require(rows.first == rows.second, "a flight's CSV and KML hold different numbers of points");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    fuzz::emptyWorkFolder();
    fuzz::writeFile("raw.dat", bytes, size);
    sim::reset();
    char program[] = "kxlogreader";
    char anything[] = "x";
    char* argv[] = {program, anything, nullptr};
    const int status = runLogreader(2, argv);
    fuzz::require(status == 0 || status == 2, "export-only ended with a status it never gives");
    checkExports();
    return 0;
}
