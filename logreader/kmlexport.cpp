// One flight as a KML 2.2 document: a Points folder with a placemark per
// sample, then a Track through the same samples. The records are read twice.
#include "logexport.h"
#include "logreader.h"
#include "platform.h"
#include "sampletexts.h"
#include "textformat.h"

namespace {

constexpr const char* kmlHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n<Document>\r\n<name>";
constexpr const char* titleFormat =
    "%Y-%m-%d_%H:%M:%S points from Kestrix+</name>\r\n<open>1</open><Folder><name>Points</name>\r\n";
constexpr const char* trackHead =
    "<Placemark>\r\n<name>Track</name>\r\n<LineString><extrude>1</extrude><tessellate>1</tessellate>"
    "<altitudeMode>relativeToGround</altitudeMode><coordinates>\r\n";

// "%f,%f,%d": longitude, latitude and the height, which shows at 1 m when
// below the ground.
char* writeCoordinates(char* out, std::size_t sample, const MMdata& d, PositionHold& hold)
{
    out = writePosition(out, sample, d, hold);
    *out++ = ',';
    return text::percentD(out, d.Altitude > 0 ? d.Altitude : 1);
}

void writeTrackPoint(ExportFile& flight, std::size_t sample, const MMdata& d, PositionHold& hold)
{
    char* out = writeCoordinates(flight.room(256), sample, d, hold);
    *out++ = ' ';
    flight.commit(out);
}

struct Kml {
    static bool begin(ExportFile& flight, uint32_t timestamp)
    {
        char res[32];
        char file_sig[180];
        exportFileName(timestamp, platform::kmlNameFormat, res, sizeof res);
        if (!createInExportFolder(flight, platform::kmlPathFormat, res)) {
            printf("Error when creating file \r\n");
            return false;
        }
        flight.put(kmlHead);
        platform::formatLocal(timestamp, titleFormat, file_sig, sizeof file_sig);
        flight.put(file_sig);
        return true;
    }
    void row(ExportFile& flight, const FlightPoint& p);
    // The track: the same points again, read a second time. The position held
    // at the end of the placemarks carries into the track.
    bool finish(ExportFile& flight, uint32_t start, uint32_t stop)
    {
        flight.put("</Folder>\r\n");
        flight.put(trackHead);
        std::size_t point = 0;
        const bool readOk = forEachPoint(start, stop, [&](const uint8_t* report, uint32_t) {
            writeTrackPoint(flight, point++, decodePoint(report), hold);
            return true;
        });
        flight.put("\r\n</coordinates></LineString></Placemark>");
        return readOk;
    }
    static void tail(ExportFile& flight) { flight.put("</Document></kml>\r\n"); }
    PositionHold hold;
};

// A point placemark: the time of day as its name, the values in its
// description, the position, and the engine and temperatures as data.
void Kml::row(ExportFile& flight, const FlightPoint& p)
{
    using namespace text;
    const MMdata& d = p.values;
    char* out = flight.room(2048);
    out = literal(out, "<Placemark>\r\n\r\n<name>");
    out = sampletexts::clock(out, p.sample, p.time);
    out = percentD(literal(out, "</name>\r\n<description>Speed:"), d.speed);
    out = percentD(literal(out, " km/h\r\nAltitude: "), d.Altitude);
    out = percentD(literal(out, " m\r\nCourse: "), d.Course);
    out = percentD(literal(out, " \r\nRPM: "), d.RPM);
    out = percentD(literal(out, "\r\nT1: "), d.T1);
    out = percentD(literal(out, " *C\r\nT2: "), d.T2);
    out = percentD(literal(out, " *C\r\nTz: "), d.Tz);
    out = percentD(literal(out, " *C\r\nFuel: "), d.Fuel);
    out = percentD(literal(out, "\r\nSatelites: "), d.Satelites);
    out = percentPoint2F(literal(out, "\r\nVario: "), d.Vario);
    out = literal(out, "\r\n</description>\r\n<Point><extrude>1</extrude><tessellate>1</tessellate>"
                       "<altitudeMode>relativeToGround</altitudeMode><coordinates>");
    out = writeCoordinates(out, p.sample, d, hold);
    out = percentD(literal(out, "</coordinates></Point>\r\n<ExtendedData><Data name=\"RPM\"><value>"), d.RPM);
    out = percentD(literal(out, "</value></Data><Data name=\"T1\"><value>"), d.T1);
    out = percentD(literal(out, "</value></Data><Data name=\"T2\"><value>"), d.T2);
    out = percentD(literal(out, "</value></Data><Data name=\"Tout\"><value>"), d.Tz);
    flight.commit(literal(out, "</value></Data></ExtendedData></Placemark>\r\n\r\n\r\n"));
}

}  // namespace

int exportPoints(uint32_t start, uint32_t stop)
{
    Kml kml;
    return exportFlight(start, stop, kml);
}
