// Decoding of log records.
#include "record.h"

#include "devlink.h"

static int16_t s16(const uint8_t* p) { return static_cast<int16_t>(be16(p)); }

static float f32(const uint8_t* p)
{
    int2float v;
    v.byte[0] = p[3];
    v.byte[1] = p[2];
    v.byte[2] = p[1];
    v.byte[3] = p[0];
    return v.flo;
}

uint32_t recordTimestamp(const uint8_t* record) { return be32(record + 1); }

bool isPointRecord(const uint8_t* record)
{
    const uint32_t t = recordTimestamp(record);
    return record[0] == pointRecordType && t > earliestTimeExcluded && t < latestTimeExcluded;
}

MMdata decodePoint(const uint8_t* r)
{
    MMdata d{};
    d.lat = f32(r + 5);
    d.lon = f32(r + 9);
    d.speed = r[13] >= 250 ? 0 : r[13];
    d.AltitudeGPS = s16(r + 14);
    d.Course = static_cast<uint16_t>(r[16] * 2);
    d.Satelites = r[17];
    d.RPM = static_cast<uint16_t>(be16(r + 18) * 10);
    d.T1 = s16(r + 20);
    d.T2 = s16(r + 22);
    d.Tz = static_cast<int8_t>(r[24]);
    d.Fuel = r[25];
    d.Pressure = be16(r + 26);
    d.Altitude = s16(r + 28);
    d.Vario2 = s16(r + 30);
    d.Vario = static_cast<float>(d.Vario2) / 10.0f;
    return d;
}
