// The Windows side of platform.h.
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

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform.h"

namespace platform {

const bool windows = true;
const std::size_t requestOffset = 1;
const char* const kmlNameFormat = "%Y-%m-%d_%H_%M_%S.kml";
const char* const kmlPathFormat = "%s\\%s";
const char* const csvNameFormat = "%Y-%m-%d_%H-%M-%S.csv";
const char* const dirCreatedFormat = "Directory created: %s\n";
const bool testFolderFirst = false;

void printOpenFailureHint(const char*) {}

bool localTime(std::time_t t, std::tm* out) { return localtime_s(out, &t) == 0; }
int makeFolder(const char* name)
{
    noteFileChange("create", name);
    return _mkdir(name);
}
// A handle that asks for no access: opening it never waits, also on a pipe.
static HANDLE probeHandle(const char* name)
{
    return CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Also what the runtime cannot stat, as a Linux named pipe under wine.
bool exists(const char* name)
{
    if (_access(name, 0) == 0)
        return true;
    const HANDLE h = probeHandle(name);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}
void osSleepUs(uint32_t us) { Sleep(us / 1000); }
void waitKey() { _getch(); }

void waitKeyInOwnWindow(const char* prompt)
{
    // A prompt or a script shares its console with the program; a window
    // made for the program alone lists the program only.
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) != 1)
        return;
    std::fputs(prompt, stderr);
    _getch();
}
void consoleBytesAsIs() { _setmode(_fileno(stdout), _O_BINARY); }
bool seekTo(std::FILE* file, uint32_t offset) { return _fseeki64(file, offset, SEEK_SET) == 0; }
void truncateTo(std::FILE* file, uint32_t size) { _chsize_s(_fileno(file), size); }

std::FILE* openRegularFile(const char* name, const char* mode, const char*& reason)
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

// True when `name` is a file on a disk, not a pipe or a device: the file's handle tells.
static bool onDisk(const char* name)
{
    const HANDLE h = probeHandle(name);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool disk = GetFileType(h) == FILE_TYPE_DISK;
    CloseHandle(h);
    return disk;
}

bool regularFileInfo(const char* name, uint64_t& size, std::time_t& modified)
{
    struct _stat64 st;
    if (_stat64(name, &st) != 0 || !(st.st_mode & _S_IFREG) || !onDisk(name))
        return false;
    size = static_cast<uint64_t>(st.st_size);
    modified = st.st_mtime;
    return true;
}

// The system's error as an errno value, for the messages that say why.
static void setErrno()
{
    switch (GetLastError()) {
    case ERROR_ACCESS_DENIED: errno = EACCES; break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: errno = EBUSY; break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    default: errno = EIO;
    }
}

bool replaceFile(const char* from, const char* to)
{
    noteFileChange("rename", to);
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    setErrno();
    return false;
}

bool removeFile(const char* name)
{
    noteFileChange("remove", name);
    return std::remove(name) == 0;
}

void (*beforeFileChange)(const char*, const char*) = nullptr;

// Windows has no writeback without the disk's cache flush: FlushFileBuffers does both.
bool writeBack(std::FILE* file) { return flushFile(file); }

bool flushFile(std::FILE* file)
{
    noteFileChange("flush", "");
    if (std::fflush(file) != 0)
        return false;
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))))
        return true;
    setErrno();
    return false;
}

bool syncFolder(const std::string& folder)
{
    noteFileChange("sync folder", folder.c_str());
    return true;
}

std::FILE* openLockFile(const char* name, const char*& reason)
{
    // Made when missing, never emptied: what the file says stays for the next run.
    const HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const int fd = h == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    std::FILE* f = fd < 0 ? nullptr : _fdopen(fd, "r+b");
    if (!f) {
        setErrno();
        reason = std::strerror(errno);
        if (fd >= 0)
            _close(fd);
        else if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    return f;
}

bool tryLock(std::FILE* lock)
{
    OVERLAPPED at{};
    return LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(lock))),
                      LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

std::string userConfigFolder()
{
    const char* appData = std::getenv("APPDATA");
    return appData ? appData : "";
}

std::vector<std::string> fileNames(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    return names;
}

bool folderEntries(const std::string& folder, std::vector<FolderEntry>& entries)
{
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error)
        return false;
    for (const auto& entry : it) {
        FolderEntry e;
        e.name = entry.path().filename().string();
        e.regular = entry.is_regular_file(error);
        e.size = e.regular ? entry.file_size(error) : 0;
        entries.push_back(e);
    }
    return true;
}

bool fileLength(std::FILE* file, uint64_t& size)
{
    const long long end = _fseeki64(file, 0, SEEK_END) == 0 ? _ftelli64(file) : -1;
    if (end < 0)
        return false;
    size = static_cast<uint64_t>(end);
    return true;
}

volatile std::sig_atomic_t interruptSignal = 0;

namespace {

// Only what is safe in a signal handler: note the signal, or end the program.
extern "C" void noteInterrupt(int sig)
{
    if (interruptSignal != 0)
        std::_Exit(128 + sig);
    interruptSignal = sig;
    std::signal(sig, noteInterrupt);  // the runtime resets the handler on delivery
}

// Console events come on a thread of their own. Closing the window ends the
// process as soon as this returns (or after five seconds), so it waits a
// little for the transfer to stop at a part boundary and say where.
BOOL WINAPI noteConsoleEvent(DWORD event)
{
    const bool ctrlC = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    noteInterrupt(ctrlC ? SIGINT : SIGTERM);
    if (!ctrlC)
        Sleep(4000);
    return TRUE;
}

}  // namespace

void catchInterrupts()
{
    interruptSignal = 0;
    std::signal(SIGINT, noteInterrupt);
    std::signal(SIGTERM, noteInterrupt);
    SetConsoleCtrlHandler(noteConsoleEvent, TRUE);
}

void releaseInterrupts()
{
    SetConsoleCtrlHandler(noteConsoleEvent, FALSE);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

}  // namespace platform
