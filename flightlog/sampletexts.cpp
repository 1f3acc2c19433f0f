#include "sampletexts.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform.h"
#include "textformat.h"

namespace sampletexts {
namespace {

// Enough for a flight that fills the instrument's whole log memory.
constexpr std::size_t maxSamples = 32768;
constexpr std::size_t clockBytes = 8;
// A position as the instrument gives it, "-179.999999,-89.999999", takes at
// most 23 bytes; twice 24 a sample leaves room for the odd longer one (a
// float printed with %f can take 47 characters). Samples past a full arena
// are formatted again each time.
constexpr std::size_t arenaBytes = maxSamples * 2 * 24;

struct Store {
    std::string zone;              // the TZ the texts were made under
    uint32_t start = 1, stop = 0;  // the flight stored; (1, 0) is none
    std::size_t clocks = 0;        // samples whose clock text is stored
    std::size_t positions = 0;     // samples whose position text is stored
    std::array<uint8_t, maxSamples> clockLength;
    std::array<char, maxSamples * clockBytes> clockText;
    std::array<uint32_t, maxSamples + 1> positionAt{};  // where each position text starts in the arena (the first at 0)
    std::array<char, arenaBytes> arena;
};

Store store;

// Local times inside one minute differ only in their seconds. One conversion
// serves the rest of its minute once a second conversion, at the minute's
// last second, shows the same day, hour and minute: the offset from UTC does
// not change in between.
struct Minute {
    bool known = false;
    uint32_t from = 0, to = 0;  // log times the fields at `from` serve
    std::tm fields{};
};

Minute minute;

bool sameMinute(const std::tm& a, const std::tm& b)
{
    return a.tm_year == b.tm_year && a.tm_yday == b.tm_yday && a.tm_hour == b.tm_hour && a.tm_min == b.tm_min &&
           a.tm_isdst == b.tm_isdst;
}

// The local time of a log time, as the platform converts it; false when it cannot.
bool localFields(uint32_t time, std::tm& out)
{
    if (minute.known && time >= minute.from && time <= minute.to) {
        out = minute.fields;
        out.tm_sec += static_cast<int>(time - minute.from);
        return true;
    }
    minute.known = false;
    if (!platform::localTime(static_cast<std::time_t>(time), &out))
        return false;
    std::tm last{};
    const uint32_t to = time + static_cast<uint32_t>(59 - out.tm_sec);
    if (out.tm_sec <= 59 && to >= time && platform::localTime(static_cast<std::time_t>(to), &last) &&
        last.tm_sec == 59 && sameMinute(out, last))
        minute = {true, time, to, out};
    return true;
}

// Makes the store hold the flight from `start` to `stop`, with no texts yet.
void storeFlight(uint32_t start, uint32_t stop)
{
    store.start = start;
    store.stop = stop;
    store.clocks = store.positions = 0;
}

}  // namespace

void forget()
{
    minute.known = false;
    storeFlight(1, 0);
}

void startFlight(uint32_t start, uint32_t stop)
{
    const char* tz = std::getenv("TZ");
    if (store.zone != (tz ? tz : "")) {
        forget();
        store.zone = tz ? tz : "";
    }
    if (start != store.start || stop != store.stop)
        storeFlight(start, stop);
}

char* clock(char* out, std::size_t sample, uint32_t time)
{
    if (sample < store.clocks) {
        std::memcpy(out, &store.clockText[sample * clockBytes], clockBytes);
        return out + store.clockLength[sample];
    }
    std::tm fields{};
    char* end = localFields(time, fields) ? text::clockHMS(out, fields) : out;
    if (sample == store.clocks && sample < maxSamples) {
        std::memcpy(&store.clockText[sample * clockBytes], out, clockBytes);
        store.clockLength[sample] = static_cast<uint8_t>(end - out);
        ++store.clocks;
    }
    return end;
}

char* lonLat(char* out, std::size_t sample, const MMdata& point)
{
    if (sample < store.positions) {
        const std::size_t from = store.positionAt[sample];
        const std::size_t n = store.positionAt[sample + 1] - from;
        std::memcpy(out, &store.arena[from], n);
        return out + n;
    }
    char* end = text::percentF(out, point.lon);
    *end++ = ',';
    end = text::percentF(end, point.lat);
    const std::size_t n = static_cast<std::size_t>(end - out);
    const std::size_t from = store.positionAt[store.positions];
    if (sample == store.positions && sample < maxSamples && from + n <= arenaBytes) {
        std::memcpy(&store.arena[from], out, n);
        store.positionAt[++store.positions] = static_cast<uint32_t>(from + n);
    }
    return end;
}

}  // namespace sampletexts
