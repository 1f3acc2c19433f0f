// UTC dates from log times, worked out by arithmetic alone: no time zone,
// no C library conversion, the same on every system.
#include "converter.h"
#include "textformat.h"

using text::literal;

UtcTime utcOf(uint32_t seconds)
{
    // Days since 1970-01-01 to a civil date, counted in 400-year eras from 0000-03-01.
    const int64_t days = seconds / 86400 + 719468;
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    UtcTime t;
    t.day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    t.month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    t.year = static_cast<int>(yearOfEra + era * 400 + (t.month <= 2));
    const uint32_t ofDay = seconds % 86400;
    t.hour = static_cast<int>(ofDay / 3600);
    t.minute = static_cast<int>(ofDay / 60 % 60);
    t.second = static_cast<int>(ofDay % 60);
    return t;
}

char* isoDate(char* out, const UtcTime& t)
{
    out = text::padded(out, static_cast<uint32_t>(t.year), 4);
    *out++ = '-';
    out = text::padded(out, static_cast<uint32_t>(t.month), 2);
    *out++ = '-';
    return text::padded(out, static_cast<uint32_t>(t.day), 2);
}

std::string flightStem(const UtcTime& day, unsigned number)
{
    char stem[32];
    char* out = literal(isoDate(stem, day), "-XXX-KXP-");
    return std::string(stem, text::padded(out, number, 2));
}

std::string flightTitle(const UtcTime& day, unsigned number)
{
    char title[48];
    char* out = isoDate(literal(title, "KX+ flight "), day);
    *out++ = ' ';
    return std::string(title, text::padded(out, number, 2));
}

char* isoDateTime(char* out, const UtcTime& t)
{
    out = isoDate(out, t);
    *out++ = 'T';
    out = text::padded(out, static_cast<uint32_t>(t.hour), 2);
    *out++ = ':';
    out = text::padded(out, static_cast<uint32_t>(t.minute), 2);
    *out++ = ':';
    out = text::padded(out, static_cast<uint32_t>(t.second), 2);
    *out++ = 'Z';
    return out;
}
