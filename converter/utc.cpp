// UTC dates from log times, worked out by arithmetic alone: no time zone,
// no C library conversion, the same on every system. The names of a
// flight's files, and its times as the logbook writes them.
#include <cstdio>
#include <ctime>

#include "utc.h"

#include "platform.h"
#include "textformat.h"

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

char* yearMonth(char* out, const UtcTime& t)
{
    out = text::padded(out, static_cast<uint32_t>(t.year), 4);
    *out++ = '-';
    return text::padded(out, static_cast<uint32_t>(t.month), 2);
}

char* isoDate(char* out, const UtcTime& t)
{
    out = yearMonth(out, t);
    *out++ = '-';
    return text::padded(out, static_cast<uint32_t>(t.day), 2);
}

int64_t secondsOf(const UtcTime& t)
{
    // A civil date to days since 1970-01-01, the inverse of the above.
    const int64_t year = t.year - (t.month <= 2);
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (t.month > 2 ? t.month - 3 : t.month + 9) + 2) / 5 + t.day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

namespace {

// The number of a flight of its day: "01" to "99", then a "Z" more for each
// digit more ("Z100", "ZZ1000"), so that the names sort by number.
std::string dayNumberText(unsigned number)
{
    const std::string digits = std::to_string(number);
    if (digits.size() < 2)
        return "0" + digits;
    return std::string(digits.size() - 2, 'Z') + digits;
}

}  // namespace

std::string flightStem(const UtcTime& day, unsigned number)
{
    char date[16];
    return std::string(date, isoDate(date, day)) + "-XXX-KXP-" + dayNumberText(number);
}

std::string flightTitle(const UtcTime& day, unsigned number)
{
    char date[16];
    return "KX+ flight " + std::string(date, isoDate(date, day)) + (number < 10 ? " 0" : " ") + std::to_string(number);
}

unsigned dayNumberOf(const std::string& stem)
{
    const std::size_t dash = stem.rfind('-');
    if (dash == std::string::npos || stem.compare(0, dash + 1, stem.substr(0, 10) + "-XXX-KXP-") != 0)
        return 0;
    const std::size_t digits = stem.find_first_not_of('Z', dash + 1);
    const std::string text = digits == std::string::npos ? "" : stem.substr(digits);
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return static_cast<unsigned>(std::stoul(text));
}

char* clockTime(char* out, const UtcTime& t)
{
    out = hourMinute(out, t);
    *out++ = ':';
    return text::padded(out, static_cast<uint32_t>(t.second), 2);
}

std::string duration(uint64_t seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
    return text;
}

std::string localWithOffset(uint32_t seconds)
{
    std::tm lt{};
    if (!platform::localTime(static_cast<std::time_t>(seconds), &lt))
        return "";
    // The local fields, written as UTC ones are; their distance from the UTC time is the offset.
    const UtcTime local{lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec};
    const int64_t offset = secondsOf(local) - seconds;
    const auto minutes = static_cast<uint32_t>((offset < 0 ? -offset : offset) / 60);
    char text[64];
    char* out = dateAndTime(text, local);
    *out++ = ' ';
    *out++ = offset < 0 ? '-' : '+';
    out = text::padded(out, minutes / 60, 2);
    *out++ = ':';
    out = text::padded(out, minutes % 60, 2);
    return std::string(text, out);
}

std::string localDate(uint32_t seconds)
{
    const std::string local = localWithOffset(seconds);
    return local.empty() ? shaped(isoDate, utcOf(seconds)) : local.substr(0, 10);
}

char* hourMinute(char* out, const UtcTime& t)
{
    out = text::padded(out, static_cast<uint32_t>(t.hour), 2);
    *out++ = ':';
    return text::padded(out, static_cast<uint32_t>(t.minute), 2);
}

char* dateAndTime(char* out, const UtcTime& t)
{
    out = isoDate(out, t);
    *out++ = ' ';
    return clockTime(out, t);
}

char* isoDateTime(char* out, const UtcTime& t)
{
    out = isoDate(out, t);
    *out++ = 'T';
    out = clockTime(out, t);
    *out++ = 'Z';
    return out;
}

std::string shaped(char* (*shape)(char*, const UtcTime&), const UtcTime& t)
{
    char text[32];
    return std::string(text, shape(text, t));
}
