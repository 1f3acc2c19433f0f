// Exact decimal text of integers and floats.
#include "textformat.h"

#include <cstdio>
#include <cstring>

namespace text {
namespace {

// "00" to "99", two characters each.
struct Pairs {
    char digits[200];
    constexpr Pairs() : digits()
    {
        for (int i = 0; i < 100; ++i) {
            digits[2 * i] = static_cast<char>('0' + i / 10);
            digits[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr Pairs pairs;

char* twoDigits(char* out, unsigned value)
{
    std::memcpy(out, &pairs.digits[2 * value], 2);
    return out + 2;
}

int digitCount(uint64_t value)
{
    int n = 1;
    for (; value >= 10000; value /= 10000)
        n += 4;
    return n + (value >= 10) + (value >= 100) + (value >= 1000);
}

// Written from the last digit back, two at a time.
char* unsignedDecimal(char* out, uint64_t value)
{
    char* const end = out + digitCount(value);
    char* at = end;
    while (value >= 100) {
        at -= 2;
        std::memcpy(at, &pairs.digits[2 * (value % 100)], 2);
        value /= 100;
    }
    if (value >= 10)
        std::memcpy(at - 2, &pairs.digits[2 * value], 2);
    else
        at[-1] = static_cast<char>('0' + value);
    return end;
}

// `value` (below 10^width) with exactly `width` digits, leading zeros kept;
// `width` is even.
template <int Width>
char* zeroPadded(char* out, uint64_t value)
{
    for (int i = Width - 2; i >= 0; i -= 2) {
        std::memcpy(out + i, &pairs.digits[2 * (value % 100)], 2);
        value /= 100;
    }
    return out + Width;
}

__extension__ typedef unsigned __int128 uint128;  // GCC's and Clang's, on every target we build for

constexpr uint64_t powerOfTen(int n) { return n == 0 ? 1 : 10 * powerOfTen(n - 1); }

// A float is m x 2^e with an integer m below 2^24. Its value times 10^decimals
// is then m x 10^decimals x 2^e, worked out exactly in 64 bits and rounded to
// the nearest integer, ties to even, as the C library's conversion rounds.
// Up to 2^31 the product stays below 2^52; larger and non-finite values go to
// snprintf, which also keeps each platform's own spelling of nan and inf.
template <int Decimals>
char* fixedPoint(char* out, float value, const char* format)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>(bits >> 23 & 0xFF);
    if (biased >= 127 + 31)
        return out + std::snprintf(out, maxNumber, format, static_cast<double>(value));
    const uint64_t m = biased ? (bits & 0x7FFFFF) | 0x800000 : bits & 0x7FFFFF;
    const int e = biased ? biased - 150 : -149;
    constexpr uint64_t scale = powerOfTen(Decimals);
    uint64_t scaled = 0;
    if (e >= 0) {
        scaled = (m << e) * scale;
    } else if (-e < 64) {
        const int shift = -e;
        const uint64_t product = m * scale;  // below 2^44
        scaled = product >> shift;
        const uint64_t rest = product & ((uint64_t{1} << shift) - 1);
        const uint64_t half = uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (scaled & 1)))
            ++scaled;
    }  // else below half a unit of the last decimal: 0
    if (bits >> 31)
        *out++ = '-';  // also for -0 and for negatives that round to 0
    out = unsignedDecimal(out, scaled / scale);
    *out++ = '.';
    return zeroPadded<Decimals>(out, scaled % scale);
}

}  // namespace

char* percentD(char* out, int32_t value)
{
    uint32_t magnitude = static_cast<uint32_t>(value);
    if (value < 0) {
        *out++ = '-';
        magnitude = 0u - magnitude;
    }
    return unsignedDecimal(out, magnitude);
}

char* percentF(char* out, float value) { return fixedPoint<6>(out, value, "%f"); }

char* percentPoint2F(char* out, float value) { return fixedPoint<2>(out, value, "%.2f"); }

char* fixedDecimals(char* out, double value, int decimals)
{
    // A double is m x 2^e with m below 2^53: as for a float above, in 128 bits.
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>(bits >> 52 & 0x7FF);
    if (biased >= 1023 + 53 || decimals < 0 || decimals > 9)
        return out + std::snprintf(out, maxNumber, "%.*f", decimals, value);
    const uint64_t m = biased ? (bits & 0xFFFFFFFFFFFFF) | (uint64_t{1} << 52) : bits & 0xFFFFFFFFFFFFF;
    const int e = biased ? biased - 1075 : -1074;
    const uint64_t scale = powerOfTen(decimals);
    uint128 scaled = 0;
    if (e >= 0) {
        scaled = (static_cast<uint128>(m) << e) * scale;
    } else if (-e < 128) {
        const int shift = -e;
        const uint128 product = static_cast<uint128>(m) * scale;  // below 2^83
        scaled = product >> shift;
        const uint128 rest = product & ((static_cast<uint128>(1) << shift) - 1);
        const uint128 half = static_cast<uint128>(1) << (shift - 1);
        if (rest > half || (rest == half && (scaled & 1)))
            ++scaled;
    }
    if (bits >> 63)
        *out++ = '-';
    out = unsignedDecimal(out, static_cast<uint64_t>(scaled / scale));
    if (decimals == 0)
        return out;
    *out++ = '.';
    uint64_t fraction = static_cast<uint64_t>(scaled % scale);
    for (int i = decimals - 1; i >= 0; --i, fraction /= 10)
        out[i] = static_cast<char>('0' + fraction % 10);
    return out + decimals;
}

char* clockHMS(char* out, const std::tm& t)
{
    // The fields of a converted time are in range, so each takes two digits.
    out = twoDigits(out, static_cast<unsigned>(t.tm_hour));
    *out++ = ':';
    out = twoDigits(out, static_cast<unsigned>(t.tm_min));
    *out++ = ':';
    return twoDigits(out, static_cast<unsigned>(t.tm_sec));
}

char* padded(char* out, uint32_t value, int width)
{
    const int digits = digitCount(value);
    for (int i = digits; i < width; ++i)
        *out++ = '0';
    return unsignedDecimal(out, value);
}

}  // namespace text
