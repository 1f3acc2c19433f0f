// The export's own number and clock formatting against the C library's
// printf and strftime: every byte the same, on this platform.
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>

#include "platform.h"
#include "sampletexts.h"
#include "support.h"
#include "textformat.h"

namespace {

template <typename Format, typename Value>
std::string ours(Format format, Value value)
{
    char out[text::maxNumber + 1];
    return std::string(out, format(out, value));
}

template <typename Value>
std::string printfs(const char* conversion, Value value)
{
    char out[text::maxNumber + 1];
    return std::string(out, static_cast<size_t>(std::snprintf(out, sizeof out, conversion, value)));
}

float fromBits(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Ties of the last decimal, carries into the integer part, the edges of the
// fast range, zeros, subnormals, infinities and NaNs of both signs.
std::vector<float> boundaryFloats()
{
    std::vector<float> v = {0.0f, -0.0f, 0.5f, -0.5f, 0.125f, 0.375f, 0.625f, 0.005f, 0.015f, 0.995f, 9.995f,
                            99.995f, 0.0000005f, 0.0000015f, 0.9999995f, 999999.9f, 2147483520.0f, 2147483648.0f,
                            -2147483648.0f, 4294967296.0f, 1e30f, -1e38f, std::numeric_limits<float>::max(),
                            std::numeric_limits<float>::min(), std::numeric_limits<float>::denorm_min(),
                            -std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                            -std::numeric_limits<float>::quiet_NaN()};
    for (int shift = 1; shift <= 30; ++shift)
        for (int j = -300; j <= 300; j += 1)
            v.push_back(std::ldexp(static_cast<float>(j), -shift));  // dyadic: exact ties appear
    for (int p = -45; p <= 38; ++p)
        for (float f : {std::nextafter(std::pow(10.0f, static_cast<float>(p)), 0.0f), std::pow(10.0f, static_cast<float>(p))})
            v.push_back(f);
    return v;
}

TEST(TextFormat, IntegersAsPercentD)
{
    for (int32_t i = -70000; i <= 70000; ++i)  // every field of a record lies in here
        ASSERT_EQ(ours(text::percentD, i), printfs("%d", i)) << i;
    std::mt19937 random(1);
    for (int i = 0; i < 1000000; ++i) {
        const int32_t value = static_cast<int32_t>(random());
        ASSERT_EQ(ours(text::percentD, value), printfs("%d", value));
    }
    for (int32_t value : {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), -1, 0, 9, 10, 99,
                          100, 999, 1000, 9999, 10000, 99999, 100000, 999999999, 1000000000})
        EXPECT_EQ(ours(text::percentD, value), printfs("%d", value));
}

TEST(TextFormat, VarioOfEveryStoredValueAsPercentPoint2F)
{
    for (int32_t stored = -32768; stored <= 32767; ++stored) {
        const float vario = static_cast<float>(static_cast<int16_t>(stored)) / 10.0f;
        ASSERT_EQ(ours(text::percentPoint2F, vario), printfs("%.2f", static_cast<double>(vario))) << stored;
    }
}

TEST(TextFormat, FloatsAsPercentFAndPercentPoint2F)
{
    const auto check = [](float f) {
        ASSERT_EQ(ours(text::percentF, f), printfs("%f", static_cast<double>(f))) << std::hexfloat << f;
        ASSERT_EQ(ours(text::percentPoint2F, f), printfs("%.2f", static_cast<double>(f))) << std::hexfloat << f;
    };
    for (float f : boundaryFloats())
        check(f);
    // Every bit pattern is as likely, so all exponents are tried; then
    // positions on the earth, where the exports spend their time.
    std::mt19937 random(2);
    for (int i = 0; i < 1500000; ++i)
        check(fromBits(static_cast<uint32_t>(random())));
    std::uniform_real_distribution<float> degrees(-180.0f, 180.0f);
    for (int i = 0; i < 1500000; ++i)
        check(degrees(random));
}

// The clock text of the exports keeps one conversion for the rest of its
// minute; across the changes of summer time it must still agree with the
// platform's own conversion, second by second.
TEST(TextFormat, ClockAgreesWithLocaltimeAcrossSummerTimeChanges)
{
    struct Zone {
        const char* tz;
        uint32_t change;  // a change of offset, as a log time
    };
    const Zone zones[] = {
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1711846800},          // 2024-03-31 01:00 UTC, clocks forward
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1729990800},          // 2024-10-27 01:00 UTC, clocks back
        {"EST5EDT,M3.2.0,M11.1.0", 1710054000},              // 2024-03-10 07:00 UTC
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", 1712419200},        // 2024-04-06 16:00 UTC
        {"NZST-12NZDT,M9.5.0,M4.1.0/3", 1727532000},         // 2024-09-28 14:00 UTC
        {"IST-5:30", 1727532000},                            // half-hour offset, no change
        {"XXX-1YYY,M3.5.0/2:00:30,M10.5.0/3:00:30", 1711846830},  // a change in the middle of a minute
    };
    for (const Zone& zone : zones) {
        setTimeZone(zone.tz);
        sampletexts::startFlight(zone.change - 7200, zone.change + 7200);  // a flight of its own
        std::size_t sample = 0;
        for (uint32_t t = zone.change - 7200; t <= zone.change + 7200; t += (t % 7 == 0 ? 1 : 3)) {
            char ours[16];
            const std::string mine(ours, sampletexts::clock(ours, sample++, t));
            char theirs[16];
            platform::formatLocal(t, "%H:%M:%S", theirs, sizeof theirs);
            ASSERT_EQ(mine, theirs) << zone.tz << " at " << t;
        }
    }
    setTimeZone("UTC0");
}

}  // namespace
