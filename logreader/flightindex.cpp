// The flight index: reads "raw.dat", splits it into flights at gaps of more
// than 600 s and exports each flight as KML and CSV.
#include <cstdint>
#include <ctime>
#include <unordered_map>
#include <utility>

#include "exitcodes.h"
#include "flightscan.h"
#include "logexport.h"
#include "logfile.h"
#include "logreader.h"
#include "platform.h"

namespace {

// The local time of a log time to the second, as one number.
uint64_t localKey(uint32_t time)
{
    std::tm t{};
    if (!platform::localTime(static_cast<std::time_t>(time), &t))
        return uint64_t{1} << 63 | time;
    return ((((static_cast<uint64_t>(t.tm_year + 1900) * 13 + static_cast<uint64_t>(t.tm_mon)) * 32 +
              static_cast<uint64_t>(t.tm_mday)) * 24 + static_cast<uint64_t>(t.tm_hour)) * 60 +
            static_cast<uint64_t>(t.tm_min)) * 61 + static_cast<uint64_t>(t.tm_sec);
}

// Gives the flight's files a suffix when an earlier flight of the run starts
// at the same local time, and says so; `starts` counts the local start times
// seen, with the number of the first flight at each.
void nameApart(const Flight& f, std::unordered_map<uint64_t, std::pair<unsigned, uint16_t>>& starts)
{
    auto& [seen, first] = starts.try_emplace(localKey(f.startTime), 0, f.number).first->second;
    flightNameSuffix[0] = '\0';
    if (++seen == 1)
        return;
    char start[32];
    platform::formatLocal(f.startTime, "%Y-%m-%d %H:%M:%S", start, sizeof start);
    snprintf(flightNameSuffix, sizeof flightNameSuffix, "-%u", seen);
    char kml[40];
    char csv[40];
    exportFileName(f.startTime, platform::kmlNameFormat, kml, sizeof kml);
    exportFileName(f.startTime, platform::csvNameFormat, csv, sizeof csv);
    fflush(stdout);
    fprintf(stderr, "Flight %u starts at %s local time, as flight %u does (the clock went back): its files are named "
                    "%s and %s.\n", f.number, start, first, kml, csv);
}

void printFlightLine(const Flight& f)
{
    char res[32];
    char res2[32];
    platform::formatLocal(f.startTime, "%Y-%m-%d %H:%M:%S", res, sizeof res);
    platform::formatLocal(f.stopTime, "%Y-%m-%d %H:%M:%S", res2, sizeof res2);
    // A flight that runs backwards in time shows its (negative) length in seconds.
    const int32_t flight_len = static_cast<int32_t>(f.stopTime - f.startTime);
    const bool seconds = flight_len <= 299;
    printf("%d.Flight betwen %s and %s \r\n Len: %d %s\r\n", f.number, res, res2,
           seconds ? flight_len : flight_len / 60, seconds ? "s." : "min");
}

}  // namespace

bool openLog()
{
    const char* reason = "";
    if (!openLogAt(rawFileName, reason))
        fprintf(stderr, "Cannot read \"raw.dat\" in the working folder: %s. Nothing to export.\n", reason);
    return data != nullptr;
}

int flightIndex()
{
    printf("Reading data \r\n");
    fflush(stdout);
    return openLog() ? indexFlights() : exitcode::incomplete;
}

int indexFlights()
{
    create_timestamp_dir();
    bool exportFailed = false;
    std::unordered_map<uint64_t, std::pair<unsigned, uint16_t>> starts;
    const bool readOk = scanFlights([&](const Flight& f) {
        nameApart(f, starts);
        printFlightLine(f);
        const int kml = exportPoints(f.start, f.stop);
        printf(kml ? " exported to -> KML OK " : " KML fail ");
        const int csv = exportCSV(f.start, f.stop);
        printf(csv ? ",CVS OK \r\n" : ",CSV fail \r\n");
        printf("\r\n");
        fflush(stdout);
        exportFailed = exportFailed || !kml || !csv;
    });
    closeLog();
    if (!readOk) {
        fflush(stdout);
        return exitcode::incomplete;
    }
    printf("All data exported have a nice day. Press key to exit\r\n");
    fflush(stdout);
    return exportFailed ? exitcode::incomplete : exitcode::ok;
}
