// Decoding of log records and the point-record test.
#include <cmath>

#include "logexport.h"
#include "record.h"
#include "support.h"

namespace {

std::array<uint8_t, 32> recordWith(std::initializer_list<std::pair<int, uint8_t>> bytes)
{
    std::array<uint8_t, 32> r{};
    r[0] = 1;
    r[1] = 0x65;  // 1694498816, inside the window
    for (const auto& [at, value] : bytes)
        r[at] = value;
    return r;
}

std::array<uint8_t, 32> withTime(uint8_t type, uint32_t t)
{
    return recordWith({{0, type}, {1, uint8_t(t >> 24)}, {2, uint8_t(t >> 16)}, {3, uint8_t(t >> 8)}, {4, uint8_t(t)}});
}

TEST(PointRecord, TypeAndTimeWindowDecide)
{
    // The last record of a log is the one whose end is the last 32-bit offset.
    EXPECT_TRUE(followedByOffset(0xFFFFFFC0u));
    EXPECT_FALSE(followedByOffset(0xFFFFFFE0u));

    EXPECT_EQ(recordTimestamp(recordWith({}).data()), 1694498816u);
    EXPECT_TRUE(isPointRecord(recordWith({}).data()));
    EXPECT_FALSE(isPointRecord(withTime(1, 1614890433).data()));
    EXPECT_TRUE(isPointRecord(withTime(1, 1614890434).data()));
    EXPECT_TRUE(isPointRecord(withTime(1, 1854890432).data()));
    EXPECT_FALSE(isPointRecord(withTime(1, 1854890433).data()));
    for (uint8_t type : {0, 2, 255})
        EXPECT_FALSE(isPointRecord(withTime(type, 1714558830).data())) << int(type);
    EXPECT_FALSE(isPointRecord(std::array<uint8_t, 32>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}.data()));
}

TEST(PointRecord, EveryFieldDecodesAsStored)
{
    const auto r = recordWith({{5, 0x42}, {6, 0x48}, {9, 0xC2}, {10, 0x48}, {13, 249}, {14, 0xFF}, {15, 0x38},
                               {16, 200}, {17, 9}, {18, 0x00}, {19, 0x64}, {20, 0xFF}, {21, 0xFE}, {22, 0x01},
                               {23, 0x00}, {24, 0xF6}, {25, 61}, {26, 0x27}, {27, 0x10}, {28, 0xFF}, {29, 0xFB},
                               {30, 0xFF}, {31, 0xF6}});
    const MMdata d = decodePoint(r.data());
    EXPECT_EQ(d.lat, 50.0f);
    EXPECT_EQ(d.lon, -50.0f);
    EXPECT_EQ(d.speed, 249);
    EXPECT_EQ(d.AltitudeGPS, -200);
    EXPECT_EQ(d.Course, 400);
    EXPECT_EQ(d.Satelites, 9);
    EXPECT_EQ(d.RPM, 1000);
    EXPECT_EQ(d.T1, -2);
    EXPECT_EQ(d.T2, 256);
    EXPECT_EQ(d.Tz, -10);
    EXPECT_EQ(d.Fuel, 61);
    EXPECT_EQ(d.Pressure, 10000);
    EXPECT_EQ(d.Altitude, -5);
    EXPECT_EQ(d.Vario2, -10);
    EXPECT_EQ(d.Vario, -1.0f);
}

TEST(PointRecord, ScaledFieldsWrapAndClipAsTheInstrumentMeansThem)
{
    EXPECT_EQ(decodePoint(recordWith({{13, 250}}).data()).speed, 0);
    EXPECT_EQ(decodePoint(recordWith({{13, 255}}).data()).speed, 0);
    EXPECT_EQ(decodePoint(recordWith({{18, 0x1A}, {19, 0x0A}}).data()).RPM, 1124);  // 6666 x 10 in 16 bits
    EXPECT_EQ(decodePoint(recordWith({{31, 5}}).data()).Vario, 0.5f);
    char text[16];
    snprintf(text, sizeof text, "%f", static_cast<double>(decodePoint(recordWith({{5, 0x42}, {6, 0x50}, {7, 0x7E}, {8, 0x6B}}).data()).lat));
    EXPECT_STREQ(text, "52.123455");  // single precision, as stored
}

TEST(PositionHold, ZeroLatitudeTakesTheLastFixStartingFromZero)
{
    PositionHold hold;
    const float lats[] = {0.0f, 50.0f, -0.0f, 51.0f, 52.0f};
    const float lons[] = {7.0f, 8.0f, 9.0f, 10.0f, 0.0f};
    const float wantLat[] = {0.0f, 50.0f, 50.0f, 51.0f, 52.0f};
    const float wantLon[] = {0.0f, 8.0f, 8.0f, 10.0f, 0.0f};
    for (int i = 0; i < 5; ++i) {
        MMdata d{};
        d.lat = lats[i];
        d.lon = lons[i];
        const LatLon at = hold.shown(d);
        EXPECT_EQ(at.lat, wantLat[i]) << i;
        EXPECT_EQ(at.lon, wantLon[i]) << i;
        EXPECT_EQ(d.lat, lats[i]) << "the decoded values stay as they are";
    }
}

}  // namespace
