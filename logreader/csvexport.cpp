// One flight as a CSV table: title line, column header, one row per sample.
#include "exportfile.h"
#include "logreader.h"
#include "platform.h"

namespace {

constexpr const char* csvHeader =
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
    flight.put(csvHeader);
    return true;
}

void writeRow(ExportFile& flight, const MMdata& d, uint32_t timestamp, uint32_t start_time)
{
    char file_sig[180];
    char data_string[500];
    platform::formatLocal(timestamp, "%H:%M:%S", file_sig, sizeof file_sig);
    snprintf(data_string, sizeof data_string, "%d,%s,%f,%f,%d,%d,%d,%d,%d,%d,%d,%d,%.2f,%d\r\n",
             static_cast<int32_t>(timestamp - start_time), file_sig, static_cast<double>(d.lon),
             static_cast<double>(d.lat), d.speed, d.AltitudeGPS, d.Course, d.RPM, d.T1, d.T2, d.Tz, d.Fuel,
             static_cast<double>(d.Vario), d.Altitude);
    flight.put(data_string);
}

}  // namespace

int exportCSV(uint32_t start, uint32_t stop)
{
    ExportFile flight;
    bool started = false;
    bool failed = false;
    uint32_t start_time = 0;
    PositionHold hold;
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
        hold.apply(dataMM);
        writeRow(flight, dataMM, timestamp, start_time);
        return true;
    });
    failed = failed || !readOk;
    if (flight.isOpen()) {
        flight.put("\r\n");
        failed = !flight.close() || failed;
    }
    seekPastFlight(stop);
    return failed ? 0 : 1;
}
