// One flight as a CSV table: title line, column header, one row per sample.
#include "logexport.h"
#include "logreader.h"
#include "platform.h"
#include "sampletexts.h"
#include "textformat.h"

namespace {

constexpr char csvHeader[] =
    "Time_from_start[s],Time,Lon,Lat,speed[km/h],AltitudeGPS [m],Course [deg],RPM,T1[*C],T2[*C],Tz[*C],Fuel[%],"
    "Vario[m/s],Altitude [m]\r\n";

struct Csv {
    // Creates the file named after the flight's first sample and writes its
    // title and header. The path is joined with '/' on both systems, as the
    // export has always named it; Windows takes '/' as a separator too.
    static bool begin(ExportFile& flight, uint32_t timestamp)
    {
        char res[32];
        char file_sig[180];
        exportFileName(timestamp, platform::csvNameFormat, res, sizeof res);
        if (!createInExportFolder(flight, "%s/%s", res))
            return false;
        platform::formatLocal(timestamp, "%Y-%m-%d_%H:%M:%S points from Kestrix+\r\n", file_sig, sizeof file_sig);
        flight.put(file_sig);
        flight.put(csvHeader, sizeof csvHeader - 1);
        return true;
    }
    void row(ExportFile& flight, const FlightPoint& p);
    static bool finish(ExportFile&, uint32_t, uint32_t) { return true; }
    static void tail(ExportFile& flight) { flight.put("\r\n", 2); }
    PositionHold hold;
};

// "%d,%s,%f,%f,%d,%d,%d,%d,%d,%d,%d,%d,%.2f,%d\r\n": seconds from the start,
// time of day, longitude, latitude, then the sample's values.
void Csv::row(ExportFile& flight, const FlightPoint& p)
{
    using namespace text;
    const MMdata& d = p.values;
    char* out = flight.room(1024);
    out = percentD(out, static_cast<int32_t>(p.time - p.firstTime));
    *out++ = ',';
    out = sampletexts::clock(out, p.sample, p.time);
    *out++ = ',';
    out = writePosition(out, p.sample, p.values, hold);
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
    Csv csv;
    return exportFlight(start, stop, csv);
}
