// One flight as KML with time: a gx:Track of the points with a usable
// position, all their times (when) first, then their coordinates
// (gx:coord, longitude latitude GPS altitude), so that Google Earth's time
// slider replays the flight.
#include "converter.h"
#include "textformat.h"

namespace {

using text::literal;
using text::percentD;
using text::percentF;

char* coordinates(char* out, const MMdata& d)
{
    out = percentF(literal(out, "<gx:coord>"), d.lon);
    *out++ = ' ';
    out = percentF(out, d.lat);
    *out++ = ' ';
    return literal(percentD(out, d.AltitudeGPS), "</gx:coord>\n");
}

}  // namespace

bool TimedKmlFormat::begin(ExportFile& file, uint32_t)
{
    if (!createFlightFile(file, target,
                          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\" "
                          "xmlns:gx=\"http://www.google.com/kml/ext/2.2\">\n<Document><name>"))
        return false;
    file.put(target.title.c_str());
    file.put("</name>\n<Placemark><name>");
    file.put(target.title.c_str());
    file.put("</name>\n<gx:Track><altitudeMode>absolute</altitudeMode>\n");
    return true;
}

void TimedKmlFormat::row(ExportFile& file, const FlightPoint& p)
{
    if (!usablePosition(p.values))
        return;
    char* out = literal(file.room(64), "<when>");
    out = isoDateTime(out, utcOf(p.time));
    file.commit(literal(out, "</when>\n"));
}

bool TimedKmlFormat::finish(ExportFile& file, uint32_t start, uint32_t stop)
{
    return forEachPoint(start, stop, [&](const uint8_t* record, uint32_t) {
        const MMdata d = decodePoint(record);
        if (usablePosition(d))
            file.commit(coordinates(file.room(256), d));
        return true;
    });
}

void TimedKmlFormat::tail(ExportFile& file) { file.put("</gx:Track></Placemark></Document></kml>\n"); }
