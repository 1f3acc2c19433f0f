// One flight as a CSV table: title line, column header, one row per sample.
#include "exportfile.h"
#include "logreader.h"
#include "platform.h"
#include "sampletexts.h"
#include "textformat.h"

namespace {

constexpr char csvHeader[] =
    "Time_from_start[s],Time,Lon,Lat,speed[km/h],AltitudeGPS [m],Course [deg],RPM,T1[*C],T2[*C],Tz[*C],Fuel[%],"
    "Vario[m/s],Altitude [m]\r\n";

// Creates the file named after the flight's first sample and writes its title and header.
bool startCsv(ExportFile& flight, uint32_t timestamp)
{
    char res[32];
    char file_sig[180];
    platform::formatLocal(timestamp, platform::csvNameFormat, res, sizeof res);
    if (!flight.create("%s/%s", res))
        return false;
    platform::formatLocal(timestamp, "%Y-%m-%d_%H:%M:%S points from Kestrix+\r\n", file_sig, sizeof file_sig);
    flight.put(file_sig);
    flight.put(csvHeader, sizeof csvHeader - 1);
    return true;
}

// "%d,%s,%f,%f,%d,%d,%d,%d,%d,%d,%d,%d,%.2f,%d\r\n": seconds from the start,
// time of day, longitude, latitude, then the sample's values.
void writeRow(ExportFile& flight, std::size_t sample, MMdata& d, uint32_t timestamp, uint32_t start_time,
              PositionHold& hold)
{
    using namespace text;
    char* out = flight.room(1024);
    out = percentD(out, static_cast<int32_t>(timestamp - start_time));
    *out++ = ',';
    out = sampletexts::clock(out, sample, timestamp);
    *out++ = ',';
    out = writePosition(out, sample, d, hold);
    for (const int32_t value : {int32_t{d.speed}, int32_t{d.AltitudeGPS}, int32_t{d.Course}, int32_t{d.RPM},
                                int32_t{d.T1}, int32_t{d.T2}, int32_t{d.Tz}, int32_t{d.Fuel}}) {
        *out++ = ',';
        out = percentD(out, value);
    }
    *out++ = ',';
    out = percentPoint2F(out, d.Vario);
    *out++ = ',';
    out = percentD(out, d.Altitude);
    flight.commit(literal(out, "\r\n"));
}

}  // namespace

int exportCSV(uint32_t start, uint32_t stop)
{
    ExportFile flight;
    bool started = false;
    bool failed = false;
    uint32_t start_time = 0;
    std::size_t sample = 0;
    PositionHold hold;
    sampletexts::startFlight(start, stop);
    const bool readOk = forEachPoint(start, stop, [&](const uint8_t* report, uint32_t timestamp) {
        if (!started) {
            started = true;
            start_time = timestamp;
            if (!startCsv(flight, timestamp)) {
                failed = true;
                return false;
            }
        }
        MMdata dataMM = decodePoint(report);
        writeRow(flight, sample++, dataMM, timestamp, start_time, hold);
        return true;
    });
    failed = failed || !readOk;
    if (flight.isOpen()) {
        flight.put("\r\n", 2);
        failed = !flight.close() || failed;
    }
    seekPastFlight(stop);
    return failed ? 0 : 1;
}
