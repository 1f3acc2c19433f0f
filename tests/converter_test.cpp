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
            // 2024-03-30 23:59:58 UTC on; climbing down and freezing outside, to show the signs.
            sim::PointFields p = example(1711843198 + i, i == 0 ? 0.0f : 47.5f, 8.25f, 480);
            p.tz = -3;
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
    EXPECT_NE(igc.find("\r\nB2359594730000N00815000EA004800025010009007-0703000-03\r\n"
                       "B0000004730000N00815000EA004800025010009007-0703000-03\r\n"),
              std::string::npos)
        << igc;
    EXPECT_EQ(igc.find("\r\nG"), std::string::npos) << "not signed";
    EXPECT_NE(readFile("2024-03-30-XXX-KXP-01.gpx")
                  .find("<trkpt lat=\"47.500000\" lon=\"8.250000\"><ele>250</ele><time>2024-03-30T23:59:59Z</time>"
                        "<sat>7</sat><extensions><kx:speed>100</kx:speed><kx:course>90</kx:course><kx:climb>-0.70"
                        "</kx:climb><kx:rpm>3000</kx:rpm><kx:t1>85</kx:t1><kx:t2>90</kx:t2><kx:oat>-3</kx:oat>"
                        "<kx:fuel>60</kx:fuel></extensions></trkpt>\n"),
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
