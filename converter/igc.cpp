// One flight as an IGC file, in the flight-recorder format that flight-log
// and scoring sites read: an A record for a recorder without an approved
// manufacturer code, H records, an I record declaring the extensions, one B
// record per point, CR LF line ends. There is no G record: the file is not signed.
#include <algorithm>
#include <cmath>

#include "cli.h"
#include "converter.h"
#include "textformat.h"

namespace {

using text::literal;
using text::padded;

constexpr char fixedHeader[] =
    "HFDTMGPSDATUM:WGS84\r\n"
    "HFRFWFIRMWAREVERSION:\r\n"
    "HFRHWHARDWAREVERSION:\r\n"
    "HFFTYFRTYPE:KX+,KX+ logging instrument\r\n"
    "HFGPSRECEIVER:KX+ built-in GNSS receiver\r\n"
    "HFPRSPRESSALTSENSOR:KX+ built-in pressure sensor\r\n"
    "HFCCLCOMPETITIONCLASS:\r\n"
    // Bytes 36 on: ground speed (km/h), true track (degrees), satellites in
    // use, climb rate (uncompensated, m/s and tenths), engine speed (1/min),
    // outside air temperature (degrees Celsius).
    "I063638GSP3941TRT4243SIU4446VAR4751RPM5254OAT\r\n";

// "DDMMmmmN" or, with three degree digits, "DDDMMmmmE": degrees, minutes and
// thousandths of a minute, then the hemisphere.
char* angle(char* out, float value, int degreeDigits, char positive, char negative)
{
    const auto thousandths = static_cast<uint32_t>(std::lround(std::fabs(static_cast<double>(value)) * 60000.0));
    out = padded(out, thousandths / 60000, degreeDigits);
    out = padded(out, thousandths % 60000, 5);
    *out++ = value < 0.0f ? negative : positive;
    return out;
}

// A signed value in `width` characters: a minus sign takes the place of the first digit.
char* signedField(char* out, int32_t value, int width)
{
    int32_t most = 1;
    for (int i = 0; i < width; ++i)
        most *= 10;
    if (value >= 0)
        return padded(out, static_cast<uint32_t>(std::min(value, most - 1)), width);
    *out++ = '-';
    return padded(out, static_cast<uint32_t>(std::min(-value, most / 10 - 1)), width - 1);
}

// An H record with the pilot's detail after its colon.
void headerLine(ExportFile& file, const char* record, const std::string& value)
{
    file.put(record);
    file.put(value.c_str(), value.size());
    file.put("\r\n", 2);
}

}  // namespace

bool IgcFormat::begin(ExportFile& file, uint32_t)
{
    if (!createFlightFile(file, target, "AXXXKXP\r\nHFDTEDATE:"))
        return false;
    at = target.figures->firstPosition;
    const UtcTime day = utcOf(target.figures->firstTime);
    char* out = file.room(256);
    out = padded(out, static_cast<uint32_t>(day.day), 2);
    out = padded(out, static_cast<uint32_t>(day.month), 2);
    out = padded(out, static_cast<uint32_t>(day.year % 100), 2);
    if (target.dayNumber <= 99) {  // the flight of the day has two digits, or is left out
        *out++ = ',';
        out = padded(out, target.dayNumber, 2);
    }
    file.commit(literal(out, "\r\n"));
    const PilotDetails& p = *target.pilot;
    headerLine(file, "HFPLTPILOTINCHARGE:", p.pilot);
    file.put("HFCM2CREW2:\r\n");
    headerLine(file, "HFGTYGLIDERTYPE:", p.aircraft);
    headerLine(file, "HFGIDGLIDERID:", p.registration);
    headerLine(file, "HFCIDCOMPETITIONID:", p.competitionId);
    file.put(fixedHeader, sizeof fixedHeader - 1);
    file.put("LXXXconverted by kxconvert " KX_PACKAGE_VERSION " from the instrument's log; not signed\r\n");
    return true;
}

// A point without a usable position is written with validity V at the last
// usable position, or before the first one at the first: its altitudes and
// engine values are kept, and no line goes to a place the aircraft never was.
void IgcFormat::row(ExportFile& file, const FlightPoint& p)
{
    const MMdata& d = p.values;
    const bool usable = usablePosition(d);
    if (usable)
        at = {d.lat, d.lon};
    const uint32_t ofDay = p.time % 86400;  // past midnight the time starts again at 000000
    char* out = file.room(128);
    *out++ = 'B';
    out = padded(out, ofDay / 3600 * 10000 + ofDay / 60 % 60 * 100 + ofDay % 60, 6);
    out = angle(out, at.lat, 2, 'N', 'S');
    out = angle(out, at.lon, 3, 'E', 'W');
    *out++ = usable ? 'A' : 'V';
    out = signedField(out, d.Altitude, 5);
    out = signedField(out, d.AltitudeGPS, 5);
    out = padded(out, std::min<uint32_t>(d.speed, 999), 3);
    out = padded(out, d.Course % 360u, 3);
    out = padded(out, std::min<uint32_t>(d.Satelites, 99), 2);
    out = signedField(out, d.Vario2, 3);
    out = padded(out, d.RPM, 5);
    out = signedField(out, d.Tz, 3);
    file.commit(literal(out, "\r\n"));
}
