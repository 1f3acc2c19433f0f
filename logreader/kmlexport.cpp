// One flight as a KML 2.2 document: a Points folder with a placemark per
// sample, then a Track through the same samples. The records are read twice.
#include "exportfile.h"
#include "logreader.h"
#include "platform.h"

namespace {

constexpr const char* kmlHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n<Document>\r\n<name>";
constexpr const char* titleFormat =
    "%Y-%m-%d_%H:%M:%S points from Kestrix+</name>\r\n<open>1</open><Folder><name>Points</name>\r\n";
constexpr const char* placemarkFormat =
    "<Placemark>\r\n\r\n<name>%s</name>\r\n<description>Speed:%d km/h\r\nAltitude: %d m\r\nCourse: %d \r\nRPM: %d\r\n"
    "T1: %d *C\r\nT2: %d *C\r\nTz: %d *C\r\nFuel: %d\r\nSatelites: %d\r\nVario: %.2f\r\n</description>\r\n"
    "<Point><extrude>1</extrude><tessellate>1</tessellate><altitudeMode>relativeToGround</altitudeMode>"
    "<coordinates>%f,%f,%d</coordinates></Point>\r\n";
constexpr const char* extendedFormat =
    "<ExtendedData><Data name=\"RPM\"><value>%d</value></Data><Data name=\"T1\"><value>%d</value></Data>"
    "<Data name=\"T2\"><value>%d</value></Data><Data name=\"Tout\"><value>%d</value></Data></ExtendedData>"
    "</Placemark>\r\n\r\n\r\n";
constexpr const char* trackHead =
    "<Placemark>\r\n<name>Track</name>\r\n<LineString><extrude>1</extrude><tessellate>1</tessellate>"
    "<altitudeMode>relativeToGround</altitudeMode><coordinates>\r\n";

// Heights below the ground show at 1 m.
int clampedAltitude(const MMdata& d) { return d.Altitude > 0 ? d.Altitude : 1; }

bool startKml(ExportFile& flight, uint32_t timestamp)
{
    char res[32];
    char file_sig[180];
    platform::formatLocal(timestamp, platform::kmlNameFormat, res, sizeof res);
    if (!flight.create(platform::kmlPathFormat, res))
        return false;
    flight.put(kmlHead);
    platform::formatLocal(timestamp, titleFormat, file_sig, sizeof file_sig);
    flight.put(file_sig);
    return true;
}

void writePlacemark(ExportFile& flight, const MMdata& d, uint32_t timestamp)
{
    char file_sig[180];
    char data_string[1500];
    platform::formatLocal(timestamp, "%H:%M:%S", file_sig, sizeof file_sig);
    snprintf(data_string, sizeof data_string, placemarkFormat, file_sig, d.speed, d.Altitude, d.Course, d.RPM, d.T1,
             d.T2, d.Tz, d.Fuel, d.Satelites, static_cast<double>(d.Vario), static_cast<double>(d.lon),
             static_cast<double>(d.lat), clampedAltitude(d));
    flight.put(data_string);
    snprintf(data_string, sizeof data_string, extendedFormat, d.RPM, d.T1, d.T2, d.Tz);
    flight.put(data_string);
}

void writeTrackPoint(ExportFile& flight, const MMdata& d)
{
    char data_string[1500];
    snprintf(data_string, sizeof data_string, "%f,%f,%d ", static_cast<double>(d.lon), static_cast<double>(d.lat),
             clampedAltitude(d));
    flight.put(data_string);
}

}  // namespace

int exportPoints(uint32_t start, uint32_t stop)
{
    ExportFile flight;
    int start_file = 0;  // 0 no file, 1 writing the points, 2 writing the track
    bool failed = false;
    PositionHold hold;   // carried from the first pass into the second
    const bool readOk = forEachPoint(start, stop, [&](const uint8_t* report, uint32_t timestamp) {
        if (start_file == 0) {
            start_file = 1;
            if (!startKml(flight, timestamp)) {
                printf("Error when creating file \r\n");
                failed = true;
                return false;
            }
        }
        MMdata dataMM = decodePoint(report);
        hold.apply(dataMM);
        writePlacemark(flight, dataMM, timestamp);
        return true;
    });
    failed = failed || !readOk;
    if (start_file == 1 && !failed) {
        flight.put("</Folder>\r\n");
        const bool trackReadOk = forEachPoint(start, stop, [&](const uint8_t* report, uint32_t) {
            if (start_file == 1) {
                start_file = 2;
                flight.put(trackHead);
            }
            MMdata dataMM = decodePoint(report);
            hold.apply(dataMM);
            writeTrackPoint(flight, dataMM);
            return true;
        });
        failed = !trackReadOk;
    }
    if (start_file == 2)
        flight.put("\r\n</coordinates></LineString></Placemark>");
    if (flight.isOpen()) {
        flight.put("</Document></kml>\r\n");
        failed = !flight.close() || failed;
    }
    seekPastFlight(stop);
    return failed ? 0 : 1;
}
