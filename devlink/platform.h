// The few things that differ between the Linux and the Windows build: where a
// request starts in the send buffer, local time, folders, file-name formats,
// files, sleeps, interrupts and the key wait at the end of a run. Each system
// has its own implementation (platform_linux.cpp, platform_windows.cpp);
// everything else reads the same on both.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace platform {

extern const bool windows;
// Where byte 0 of a request sits in the send buffer: on Windows byte 0 is the
// report number 0 and the request follows from byte 1.
extern const std::size_t requestOffset;
// File names of the exports (Windows takes no ':') and how the KML path is joined.
extern const char* const kmlNameFormat;
extern const char* const kmlPathFormat;
extern const char* const csvNameFormat;
extern const char* const dirCreatedFormat;
// Linux tests whether the export folder exists; Windows makes it at once, and
// an existing one is a failure of _mkdir.
extern const bool testFolderFirst;

// What to tell the user after "Failed to open device!": on Linux most likely
// the permission that the udev rule gives (`program` names the manual page);
// nothing on Windows, where a HID device needs no permission of its own.
void printOpenFailureHint(const char* program);

bool localTime(std::time_t t, std::tm* out);
int makeFolder(const char* name);
bool exists(const char* name);
void osSleepUs(uint32_t us);
// The key wait at the end of a run (Windows only).
void waitKey();
// The same, only when the program has a console window of its own, as when
// it was started by a double-click (Windows only): never from a prompt or a
// script, whose window stays open anyway. `prompt` goes to standard error first.
void waitKeyInOwnWindow(const char* prompt);
// Standard output in binary mode: the console gets "\r\n" as on Linux, not "\r\r\n".
void consoleBytesAsIs();
// Moves `file` to `offset`, the whole 32-bit range included.
bool seekTo(std::FILE* file, uint32_t offset);
// Cuts `file` back to its first `size` bytes.
void truncateTo(std::FILE* file, uint32_t size);
// Opens `name` with `mode` ("rb" or "wb") only when it is a regular file on a
// disk, not a folder, a console, a device or a pipe; nullptr with the reason
// in `reason` otherwise. The open never blocks on a pipe, and a file opened
// for writing is emptied only once it is known to be a regular file.
std::FILE* openRegularFile(const char* name, const char* mode, const char*& reason);
// Size and modification time of the regular file `name`; false when there is none.
bool regularFileInfo(const char* name, uint64_t& size, std::time_t& modified);
// Gives the file `from` the name `to`, replacing a file of that name (on
// Windows through to the disk: MOVEFILE_WRITE_THROUGH).
bool replaceFile(const char* from, const char* to);
// Removes the file `name`.
bool removeFile(const char* name);

// Files that must survive a crash or a power cut are written as Git and
// SQLite write theirs: under a temporary name, their data written back to
// the disk, one barrier for a whole batch of them, then each given its name,
// and the folder's names made durable after. `writeBack` and `flushFile` are
// false, with errno set, when the system refuses.
//
// Writes `file`'s data back to the disk and waits for it, without the disk's
// own cache flush (Linux: sync_file_range, or fdatasync where that is not
// supported; Windows: FlushFileBuffers, which flushes too).
bool writeBack(std::FILE* file);
// Makes what was written to `file` durable, the disk's cache flushed: the
// barrier of a batch when it is a file just written on the same disk.
bool flushFile(std::FILE* file);
// Makes the names in `folder` durable: the files given a name, removed or
// made there (Linux: fsync of the folder; Windows: nothing, the moves wrote
// through).
bool syncFolder(const std::string& folder);
// Called before each operation that changes a file or a folder (`operation`
// names it: "create", "write", "write back", "flush", "rename", "remove",
// "sync folder", "append"), with its path. Tests set it to stop or
// interrupt a program at a chosen operation; the programs never do.
extern void (*beforeFileChange)(const char* operation, const char* path);
inline void noteFileChange(const char* operation, const char* path)
{
    if (beforeFileChange)
        beforeFileChange(operation, path);
}

// An exclusive lock on the file `name`, made when missing, that the system
// lets go when the process ends however it ends (Linux: flock; Windows:
// LockFileEx). openLockFile gives nullptr with the reason; tryLock is false
// while another process holds it; closing the file lets it go.
std::FILE* openLockFile(const char* name, const char*& reason);
bool tryLock(std::FILE* lock);
// The user's folder for the settings of programs: $XDG_CONFIG_HOME, else
// ~/.config on Linux; %APPDATA% on Windows. Empty when there is none.
std::string userConfigFolder();
// The names in `folder`, without "." and ".."; empty when it cannot be listed.
std::vector<std::string> fileNames(const std::string& folder);
// The entries of `folder` with their sizes; false when it cannot be listed.
struct FolderEntry {
    std::string name;
    uint64_t size = 0;
    bool regular = false;  // a regular file (not a folder, a link to one, a pipe...)
};
bool folderEntries(const std::string& folder, std::vector<FolderEntry>& entries);
// Length of an open file; the file is left at its end.
bool fileLength(std::FILE* file, uint64_t& size);

// Interrupts while the instrument is in the middle of a transfer: Ctrl-C,
// SIGTERM, and on Windows also closing the console window. While they are
// caught, the first one is only noted (the transfer stops at its next part
// boundary and says where); a second one ends the program at once. Outside a
// transfer they end the run as usual. A signal that the program was started
// to ignore (nohup, a background job) stays ignored.
extern volatile std::sig_atomic_t interruptSignal;
void catchInterrupts();
void releaseInterrupts();
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
