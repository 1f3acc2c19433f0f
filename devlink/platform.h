// The few things that differ between the Linux and the Windows build: where a
// request starts in the send buffer, local time, folders, file-name formats,
// sleeps and the key wait at the end of a run. Everything else reads the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <conio.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef _WIN32
constexpr bool windows = true;
// Byte 0 of the send buffer is the report number 0; the request follows from byte 1.
constexpr std::size_t requestOffset = 1;
// The runtime's sleep counts whole milliseconds.
constexpr uint32_t sleepGranularityUs = 1000;
constexpr const char* kmlNameFormat = "%Y-%m-%d_%H_%M_%S.kml";
constexpr const char* kmlPathFormat = "%s\\%s";
constexpr const char* csvNameFormat = "%Y-%m-%d_%H-%M-%S.csv";
constexpr const char* dirCreatedFormat = "Directory created: %s\n";
// Windows makes the folder at once; an existing one is a failure of _mkdir.
constexpr bool testFolderFirst = false;
// What to tell the user after "Failed to open device!".
constexpr const char* openFailureHint = "";

inline bool localTime(std::time_t t, std::tm* out) { return localtime_s(out, &t) == 0; }
inline int makeFolder(const char* name) { return _mkdir(name); }
inline bool exists(const char* name) { return _access(name, 0) == 0; }
inline void osSleepUs(uint32_t us) { Sleep(us / 1000); }
inline void waitKey() { _getch(); }
// Standard output in binary mode: the console gets "\r\n" as on Linux, not "\r\r\n".
inline void consoleBytesAsIs() { _setmode(_fileno(stdout), _O_BINARY); }
#else
constexpr bool windows = false;
constexpr std::size_t requestOffset = 0;
constexpr uint32_t sleepGranularityUs = 1;
constexpr const char* kmlNameFormat = "%Y-%m-%d_%H:%M:%S.kml";
constexpr const char* kmlPathFormat = "%s/%s";
constexpr const char* csvNameFormat = "%Y-%m-%d_%H:%M:%S.csv";
constexpr const char* dirCreatedFormat = "Directory created : %s\n";
constexpr bool testFolderFirst = true;
constexpr const char* openFailureHint =
    "The instrument is there but may not be yours to open: install the udev rule 70-kxplus.rules "
    "(see man kxlogreader), unplug and plug it in again, or run as root.\n";

inline bool localTime(std::time_t t, std::tm* out) { return localtime_r(&t, out) != nullptr; }
inline int makeFolder(const char* name) { return mkdir(name, 0755); }
inline bool exists(const char* name) { return access(name, F_OK) == 0; }
inline void osSleepUs(uint32_t us) { usleep(us); }
inline void waitKey() {}
inline void consoleBytesAsIs() {}
#endif

// The pause the program really gets for a requested pause of `us` microseconds.
constexpr uint32_t effectiveSleepUs(uint32_t us) { return us / sleepGranularityUs * sleepGranularityUs; }

// Formats a log time (seconds since 1970 UTC) as local time; an empty text when
// the platform cannot convert it.
inline void formatLocal(uint32_t seconds, const char* format, char* out, std::size_t size)
{
    std::tm lt{};
    out[0] = '\0';
    if (localTime(static_cast<std::time_t>(seconds), &lt) && std::strftime(out, size, format, &lt) == 0)
        out[0] = '\0';
}

}  // namespace platform
