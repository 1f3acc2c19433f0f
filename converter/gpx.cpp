// One flight as a GPX 1.1 track: one trk with one trkseg, a trkpt per point
// with a usable position. What GPX has no element for (speed, course, climb
// rate, engine speed, temperatures, fuel, the barometric altitude and the
// logged pressure) goes into the kx extension namespace.
#include "cli.h"
#include "converter.h"
#include "textformat.h"

namespace {

using text::literal;
using text::percentD;
using text::percentF;

constexpr char head[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<gpx version=\"1.1\" creator=\"kxconvert " KX_PACKAGE_VERSION "\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:kx=\"https://kxtools.org/xmlschemas/kx/1\" "
    "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd\">\n";

}  // namespace

bool GpxFormat::begin(ExportFile& file, uint32_t)
{
    if (!createFlightFile(file, target, head))
        return false;
    char* out = file.room(512);
    out = literal(out, "<metadata><name>");
    out += target.title.copy(out, target.title.size());
    out = literal(out, "</name><time>");
    out = isoDateTime(out, utcOf(target.figures->firstTime));
    out = literal(out, "</time></metadata>\n<trk><name>");
    out += target.title.copy(out, target.title.size());
    file.commit(literal(out, "</name><src>KX+ logging instrument</src><trkseg>\n"));
    return true;
}

void GpxFormat::row(ExportFile& file, const FlightPoint& p)
{
    const MMdata& d = p.values;
    if (!usablePosition(d))
        return;
    char* out = file.room(1024);
    out = percentF(literal(out, "<trkpt lat=\""), d.lat);
    // GPX takes longitudes from -180 up to, not including, 180: the same meridian.
    out = percentF(literal(out, "\" lon=\""), d.lon == 180.0f ? -180.0f : d.lon);
    out = percentD(literal(out, "\"><ele>"), d.AltitudeGPS);
    out = isoDateTime(literal(out, "</ele><time>"), utcOf(p.time));
    out = percentD(literal(out, "</time><sat>"), d.Satelites);
    out = percentD(literal(out, "</sat><extensions><kx:speed>"), d.speed);
    out = percentD(literal(out, "</kx:speed><kx:course>"), d.Course);
    out = text::percentPoint2F(literal(out, "</kx:course><kx:climb>"), d.Vario);
    out = percentD(literal(out, "</kx:climb><kx:rpm>"), d.RPM);
    out = percentD(literal(out, "</kx:rpm><kx:t1>"), d.T1);
    out = percentD(literal(out, "</kx:t1><kx:t2>"), d.T2);
    out = percentD(literal(out, "</kx:t2><kx:oat>"), d.Tz);
    out = percentD(literal(out, "</kx:oat><kx:fuel>"), d.Fuel);
    out = percentD(literal(out, "</kx:fuel><kx:baroalt>"), d.Altitude);
    out = percentD(literal(out, "</kx:baroalt><kx:pressure>"), d.Pressure);
    file.commit(literal(out, "</kx:pressure></extensions></trkpt>\n"));
}

void GpxFormat::tail(ExportFile& file) { file.put("</trkseg></trk>\n</gpx>\n"); }
