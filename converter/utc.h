// Dates and times of the flight library: UTC by arithmetic alone (the same on
// every system, under every TZ), written from their fields, one function per
// shape; durations; the computer's local time with its offset; and the names
// of a flight's files.
#pragma once

#include <cstdint>
#include <string>

// A date and time of day in UTC.
struct UtcTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
UtcTime utcOf(uint32_t seconds);
// Seconds since 1970 of a UTC date and time; the inverse of utcOf.
int64_t secondsOf(const UtcTime& t);

// The shapes, each writing into `out` and returning the end.
// "YYYY-MM"
char* yearMonth(char* out, const UtcTime& t);
// "YYYY-MM-DD"
char* isoDate(char* out, const UtcTime& t);
// "HH:MM:SS"
char* clockTime(char* out, const UtcTime& t);
// "HH:MM"
char* hourMinute(char* out, const UtcTime& t);
// "YYYY-MM-DD HH:MM:SS"
char* dateAndTime(char* out, const UtcTime& t);
// "YYYY-MM-DDTHH:MM:SSZ"
char* isoDateTime(char* out, const UtcTime& t);
// A shape as a text: shaped(isoDate, utcOf(t)).
std::string shaped(char* (*shape)(char*, const UtcTime&), const UtcTime& t);

// "H:MM:SS" of a duration in seconds.
std::string duration(uint64_t seconds);
// "YYYY-MM-DD HH:MM:SS +HH:MM", the computer's local time of a log time.
std::string localWithOffset(uint32_t seconds);
// "YYYY-MM-DD", the computer's local date of a log time (the UTC date where
// the system cannot tell the local time).
std::string localDate(uint32_t seconds);

// A flight's files are named "YYYY-MM-DD-XXX-KXP-NN" after its UTC date and
// its number of that day, as the IGC long names are. Past 99 the number is
// written "Z100" to "Z999", "ZZ1000" to "ZZ9999" and so on, so that the names
// still sort by number and stay valid on every file system. Its title is
// "KX+ flight YYYY-MM-DD NN", the number as a decimal.
std::string flightStem(const UtcTime& day, unsigned number);
std::string flightTitle(const UtcTime& day, unsigned number);
// The number of the day that a name made by flightStem carries; 0 for another name.
unsigned dayNumberOf(const std::string& stem);
