// The few things that differ between the Linux and the Windows build: where a
// request starts in the send buffer, local time, folders, file-name formats,
// sleeps and the key wait at the end of a run. Everything else reads the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef _WIN32
constexpr bool windows = true;
// Byte 0 of the send buffer is the report number 0; the request follows from byte 1.
constexpr std::size_t requestOffset = 1;
constexpr const char* kmlNameFormat = "%Y-%m-%d_%H_%M_%S.kml";
constexpr const char* kmlPathFormat = "%s\\%s";
constexpr const char* csvNameFormat = "%Y-%m-%d_%H-%M-%S.csv";
constexpr const char* dirCreatedFormat = "Directory created: %s\n";
// Windows makes the folder at once; an existing one is a failure of _mkdir.
constexpr bool testFolderFirst = false;
// What to tell the user after "Failed to open device!": nothing here, where
// a HID device needs no permission of its own.
inline void printOpenFailureHint(const char*) {}

inline bool localTime(std::time_t t, std::tm* out) { return localtime_s(out, &t) == 0; }
inline int makeFolder(const char* name) { return _mkdir(name); }
inline bool exists(const char* name) { return _access(name, 0) == 0; }
inline void osSleepUs(uint32_t us) { Sleep(us / 1000); }
inline void waitKey() { _getch(); }
// Standard output in binary mode: the console gets "\r\n" as on Linux, not "\r\r\n".
inline void consoleBytesAsIs() { _setmode(_fileno(stdout), _O_BINARY); }
// Moves `file` to `offset`, the whole 32-bit range included.
inline bool seekTo(std::FILE* file, uint32_t offset) { return _fseeki64(file, offset, SEEK_SET) == 0; }
// Cuts `file` back to its first `size` bytes.
inline void truncateTo(std::FILE* file, uint32_t size) { _chsize_s(_fileno(file), size); }

// Opens `name` with `mode` ("rb" or "wb") only when it is a file on a disk, not a
// folder, a console or a pipe; nullptr with the reason in `reason` otherwise.
inline std::FILE* openRegularFile(const char* name, const char* mode, const char*& reason)
{
    struct _stat64 st;
    if (_stat64(name, &st) == 0 && !(st.st_mode & _S_IFREG)) {
        reason = (st.st_mode & _S_IFDIR) ? std::strerror(EISDIR) : "not a regular file";
        return nullptr;
    }
    std::FILE* f = std::fopen(name, mode);
    if (!f) {
        reason = std::strerror(errno);
        return nullptr;
    }
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))) != FILE_TYPE_DISK) {
        std::fclose(f);
        reason = "not a regular file";
        return nullptr;
    }
    return f;
}
#else
constexpr bool windows = false;
constexpr std::size_t requestOffset = 0;
constexpr const char* kmlNameFormat = "%Y-%m-%d_%H:%M:%S.kml";
constexpr const char* kmlPathFormat = "%s/%s";
constexpr const char* csvNameFormat = "%Y-%m-%d_%H:%M:%S.csv";
constexpr const char* dirCreatedFormat = "Directory created : %s\n";
constexpr bool testFolderFirst = true;
// What to tell the user after "Failed to open device!": most likely the
// permission that the udev rule gives; `program` names the manual page.
inline void printOpenFailureHint(const char* program)
{
    printf("The instrument is there but may not be yours to open: install the udev rule 70-kxplus.rules "
           "(see man %s), unplug and plug it in again, or run as root.\n",
           program);
}

inline bool localTime(std::time_t t, std::tm* out) { return localtime_r(&t, out) != nullptr; }
inline int makeFolder(const char* name) { return mkdir(name, 0755); }
inline bool exists(const char* name) { return access(name, F_OK) == 0; }
inline void osSleepUs(uint32_t us) { usleep(us); }
inline void waitKey() {}
inline void consoleBytesAsIs() {}
inline bool seekTo(std::FILE* file, uint32_t offset) { return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }
inline void truncateTo(std::FILE* file, uint32_t size) { (void)!ftruncate(fileno(file), static_cast<off_t>(size)); }

// Opens `name` with `mode` ("rb" or "wb") only when it is a regular file;
// nullptr with the reason in `reason` otherwise. The open never blocks, so a
// named pipe or a device node is refused instead of waited on; a file opened
// for writing is emptied only once it is known to be a regular file.
inline std::FILE* openRegularFile(const char* name, const char* mode, const char*& reason)
{
    const bool writing = mode[0] == 'w';
    struct stat st {};
    if (stat(name, &st) == 0 && !S_ISREG(st.st_mode)) {
        reason = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
        return nullptr;
    }
    const int fd = open(name, (writing ? O_WRONLY | O_CREAT : O_RDONLY) | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = std::strerror(errno);
        return nullptr;
    }
    reason = nullptr;
    if (fstat(fd, &st) != 0)
        reason = std::strerror(errno);
    else if (S_ISDIR(st.st_mode))
        reason = std::strerror(EISDIR);
    else if (!S_ISREG(st.st_mode))
        reason = "not a regular file";
    else if ((writing && ftruncate(fd, 0) != 0) || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        reason = std::strerror(errno);
    std::FILE* f = reason ? nullptr : fdopen(fd, mode);
    if (!f) {
        reason = reason ? reason : std::strerror(errno);
        close(fd);
    }
    return f;
}
#endif

// Size and modification time of the regular file `name`; false when there is none.
inline bool regularFileInfo(const char* name, uint64_t& size, std::time_t& modified)
{
#ifdef _WIN32
    struct _stat64 st;
    if (_stat64(name, &st) != 0 || !(st.st_mode & _S_IFREG))
        return false;
#else
    struct stat st {};
    if (stat(name, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
#endif
    size = static_cast<uint64_t>(st.st_size);
    modified = st.st_mtime;
    return true;
}

// Gives the file `from` the name `to`, replacing a file of that name.
inline bool replaceFile(const char* from, const char* to)
{
#ifdef _WIN32
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from, to) == 0;
#endif
}

// Length of an open file; the file is left at its end.
inline bool fileLength(std::FILE* file, uint64_t& size)
{
#ifdef _WIN32
    const long long end = _fseeki64(file, 0, SEEK_END) == 0 ? _ftelli64(file) : -1;
#else
    const off_t end = fseeko(file, 0, SEEK_END) == 0 ? ftello(file) : -1;
#endif
    if (end < 0)
        return false;
    size = static_cast<uint64_t>(end);
    return true;
}

// Interrupts while the instrument is in the middle of a transfer: Ctrl-C,
// SIGTERM, and on Windows also closing the console window. While they are
// caught, the first one is only noted (the transfer stops at its next part
// boundary and says where); a second one ends the program at once. Outside a
// transfer they end the run as usual.
inline volatile std::sig_atomic_t interruptSignal = 0;

// Only what is safe in a signal handler: note the signal, or end the program.
extern "C" inline void noteInterrupt(int sig)
{
    if (interruptSignal != 0) {
#ifdef _WIN32
        std::_Exit(128 + sig);
#else
        std::signal(sig, SIG_DFL);
        std::raise(sig);  // delivered as the handler returns, and ends the program
        return;
#endif
    }
    interruptSignal = sig;
#ifdef _WIN32
    std::signal(sig, noteInterrupt);  // the runtime resets the handler on delivery
#endif
}

#ifdef _WIN32
// Console events come on a thread of their own. Closing the window ends the
// process as soon as this returns (or after five seconds), so it waits a
// little for the transfer to stop at a part boundary and say where.
inline BOOL WINAPI noteConsoleEvent(DWORD event)
{
    const bool ctrlC = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    noteInterrupt(ctrlC ? SIGINT : SIGTERM);
    if (!ctrlC)
        Sleep(4000);
    return TRUE;
}

inline void catchInterrupts()
{
    interruptSignal = 0;
    std::signal(SIGINT, noteInterrupt);
    std::signal(SIGTERM, noteInterrupt);
    SetConsoleCtrlHandler(noteConsoleEvent, TRUE);
}

inline void releaseInterrupts()
{
    SetConsoleCtrlHandler(noteConsoleEvent, FALSE);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}
#else
inline struct sigaction savedInterruptActions[2];

// A signal that the program was started to ignore (nohup, a background job)
// stays ignored.
inline void catchInterrupts()
{
    interruptSignal = 0;
    const int signals[2] = {SIGINT, SIGTERM};
    for (int i = 0; i < 2; ++i) {
        struct sigaction sa {};
        sa.sa_handler = noteInterrupt;
        sigemptyset(&sa.sa_mask);
        sigaction(signals[i], nullptr, &savedInterruptActions[i]);
        if (savedInterruptActions[i].sa_handler != SIG_IGN)
            sigaction(signals[i], &sa, nullptr);
    }
}

inline void releaseInterrupts()
{
    sigaction(SIGINT, &savedInterruptActions[0], nullptr);
    sigaction(SIGTERM, &savedInterruptActions[1], nullptr);
}
#endif

// The signal of an interrupt noted since catchInterrupts(), or 0.
inline int pendingInterrupt() { return interruptSignal; }

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
