// Numbers and clock times written straight into a buffer. Each formatter
// gives, byte for byte, what the printf or strftime conversion in its name
// gives on this platform; values outside the range they work out exactly
// (very large or not finite) are handed to snprintf itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace text {

// The most any formatter here writes.
constexpr std::size_t maxNumber = 64;

// printf "%d".
char* percentD(char* out, int32_t value);
// printf "%f" of a float (promoted to double): six decimals, rounded to nearest, ties to even.
char* percentF(char* out, float value);
// printf "%.2f" of a float.
char* percentPoint2F(char* out, float value);
// printf "%.*f" of a double with `decimals` (0 to 9) decimals.
char* fixedDecimals(char* out, double value, int decimals);
// strftime "%H:%M:%S".
char* clockHMS(char* out, const std::tm& t);
// printf "%0*u": `value` in at least `width` digits, zeros in front.
char* padded(char* out, uint32_t value, int width);
// Copies a literal text; returns the end.
template <std::size_t N>
char* literal(char* out, const char (&text)[N])
{
    std::memcpy(out, text, N - 1);
    return out + N - 1;
}

}  // namespace text
