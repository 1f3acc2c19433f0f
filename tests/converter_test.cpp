// kxconvert: a few exact lines of its files, its names and its failures. The
// readers that pilots use check the rest (check_converter.py).
#include <filesystem>

#include "platform.h"
#include "support.h"

namespace {

class Converter : public InTempDir {
protected:
    // A flight across midnight UTC: no position yet, then a position each second.
    void SetUp() override
    {
        InTempDir::SetUp();
        LogBuilder log;
        for (uint32_t i = 0; i < 3; ++i) {
            sim::PointFields p;
            p.time = 1711843198 + i;  // 2024-03-30 23:59:58 UTC
            p.lat = i == 0 ? 0.0f : 47.5f;
            p.lon = 8.25f;
            p.speed = 80;
            p.altitudeGps = 500;
            p.course = 45;
            p.satellites = 9;
            p.rpm = 250;
            p.t1 = 70;
            p.t2 = 75;
            p.tz = -3;
            p.fuel = 50;
            p.altitude = 480;
            p.vario = -7;
            log.point(p);
        }
        log.save();
    }
};

TEST_F(Converter, FlightAcrossMidnightLineByLine)
{
    const RunResult r = runConverterCaptured();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1. 2024-03-30 23:59:58 UTC, 3 points, 1 without a usable position: "
                     "2024-03-30-XXX-KXP-01.igc .gpx\n");
    // Named after the first position's UTC date; the time of day starts again past midnight.
    const std::string igc = readFile("2024-03-30-XXX-KXP-01.igc");
    EXPECT_EQ(igc.find("AXXXKXP\r\nHFDTEDATE:300324,01\r\n"), 0u) << igc;
    EXPECT_NE(igc.find("\r\nB2359594730000N00815000EA004800050008009009-0702500-03\r\n"
                       "B0000004730000N00815000EA004800050008009009-0702500-03\r\n"),
              std::string::npos)
        << igc;
    EXPECT_EQ(igc.find("\r\nG"), std::string::npos) << "not signed";
    EXPECT_NE(readFile("2024-03-30-XXX-KXP-01.gpx")
                  .find("<trkpt lat=\"47.500000\" lon=\"8.250000\"><ele>500</ele><time>2024-03-30T23:59:59Z</time>"
                        "<sat>9</sat><extensions><kx:speed>80</kx:speed><kx:course>90</kx:course><kx:climb>-0.70"
                        "</kx:climb><kx:rpm>2500</kx:rpm><kx:t1>70</kx:t1><kx:t2>75</kx:t2><kx:oat>-3</kx:oat>"
                        "<kx:fuel>50</kx:fuel></extensions></trkpt>\n"),
              std::string::npos);
    EXPECT_EQ(listFolder(".").size(), 3u);
}

TEST_F(Converter, FileNotWrittenWholeKeepsNoFinalName)
{
    if (!failNextCloseOf("2024-03-30-XXX-KXP-01.igc.part"))
        GTEST_SKIP() << "closes are made to fail on Linux";
    const RunResult r = runConverterCaptured({"-o", "flights"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Input/output error"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("kxconvert: flights/2024-03-30-XXX-KXP-01.igc was not written."), std::string::npos) << r.err;
    EXPECT_EQ(listFolder("flights"), std::vector<std::string>{"2024-03-30-XXX-KXP-01.gpx"});
    EXPECT_NE(r.out.find(": 2024-03-30-XXX-KXP-01.gpx\n"), std::string::npos) << r.out;
}

}  // namespace
