// The Linux side of platform.h.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform.h"

namespace platform {

const bool windows = false;
const std::size_t requestOffset = 0;
const char* const kmlNameFormat = "%Y-%m-%d_%H:%M:%S.kml";
const char* const kmlPathFormat = "%s/%s";
const char* const csvNameFormat = "%Y-%m-%d_%H:%M:%S.csv";
const char* const dirCreatedFormat = "Directory created : %s\n";
const bool testFolderFirst = true;

void printOpenFailureHint(const char* program)
{
    printf("The instrument is there but may not be yours to open: install the udev rule 70-kxplus.rules "
           "(see man %s), unplug and plug it in again, or run as root.\n",
           program);
}

bool localTime(std::time_t t, std::tm* out) { return localtime_r(&t, out) != nullptr; }
int makeFolder(const char* name)
{
    noteFileChange("create", name);
    return mkdir(name, 0755);
}
bool exists(const char* name) { return access(name, F_OK) == 0; }
void osSleepUs(uint32_t us) { usleep(us); }
void waitKey() {}
void waitKeyInOwnWindow(const char*) {}
void consoleBytesAsIs() {}
bool seekTo(std::FILE* file, uint32_t offset) { return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }
void truncateTo(std::FILE* file, uint32_t size) { (void)!ftruncate(fileno(file), static_cast<off_t>(size)); }

// What is wrong with the open file `fd` for `writing`, or nullptr; a file to
// write is emptied here, and reads and writes block again.
static const char* regularFileFault(int fd, bool writing)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return std::strerror(EISDIR);
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    if ((writing && ftruncate(fd, 0) != 0) || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        return std::strerror(errno);
    return nullptr;
}

std::FILE* openRegularFile(const char* name, const char* mode, const char*& reason)
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
    reason = regularFileFault(fd, writing);
    std::FILE* f = reason ? nullptr : fdopen(fd, mode);
    if (!f) {
        reason = reason ? reason : std::strerror(errno);
        close(fd);
    }
    return f;
}

bool regularFileInfo(const char* name, uint64_t& size, std::time_t& modified)
{
    struct stat st {};
    if (stat(name, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = static_cast<uint64_t>(st.st_size);
    modified = st.st_mtime;
    return true;
}

bool replaceFile(const char* from, const char* to)
{
    noteFileChange("rename", to);
    return std::rename(from, to) == 0;
}

bool removeFile(const char* name)
{
    noteFileChange("remove", name);
    return std::remove(name) == 0;
}

void (*beforeFileChange)(const char*, const char*) = nullptr;

bool writeBack(std::FILE* file)
{
    noteFileChange("write back", "");
    if (std::fflush(file) != 0)
        return false;
    const int fd = fileno(file);
    // Writeout only: the data goes to the disk, the disk's cache is flushed by the batch's barrier.
    if (sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) == 0)
        return true;
    return (errno == EINVAL || errno == ENOSYS || errno == ESPIPE) && fdatasync(fd) == 0;
}

bool flushFile(std::FILE* file)
{
    noteFileChange("flush", "");
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool syncFolder(const std::string& folder)
{
    noteFileChange("sync folder", folder.c_str());
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0 || errno == EINVAL;  // a file system that cannot sync folders has nothing to sync
    close(fd);
    return ok;
}

std::FILE* openLockFile(const char* name, const char*& reason)
{
    const int fd = open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    std::FILE* f = fd < 0 ? nullptr : fdopen(fd, "r+");
    if (!f) {
        reason = std::strerror(errno);
        if (fd >= 0)
            close(fd);
    }
    return f;
}

bool tryLock(std::FILE* lock) { return flock(fileno(lock), LOCK_EX | LOCK_NB) == 0; }

std::string userConfigFolder()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return home && home[0] ? std::string(home) + "/.config" : "";
}

std::vector<std::string> fileNames(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

bool folderEntries(const std::string& folder, std::vector<FolderEntry>& entries)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat st {};
        FolderEntry e;
        e.name = entry->d_name;
        if (fstatat(dirfd(dir), entry->d_name, &st, 0) == 0) {
            e.regular = S_ISREG(st.st_mode);
            e.size = static_cast<uint64_t>(st.st_size);
        }
        entries.push_back(e);
    }
    closedir(dir);
    return true;
}

bool fileLength(std::FILE* file, uint64_t& size)
{
    const off_t end = fseeko(file, 0, SEEK_END) == 0 ? ftello(file) : -1;
    if (end < 0)
        return false;
    size = static_cast<uint64_t>(end);
    return true;
}

volatile std::sig_atomic_t interruptSignal = 0;

namespace {

constexpr int caught[] = {SIGINT, SIGTERM};
struct sigaction savedActions[std::size(caught)];

// Only what is safe in a signal handler: note the signal, or end the program.
extern "C" void noteInterrupt(int sig)
{
    if (interruptSignal != 0) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);  // delivered as the handler returns, and ends the program
        return;
    }
    interruptSignal = sig;
}

}  // namespace

void catchInterrupts()
{
    interruptSignal = 0;
    for (std::size_t i = 0; i < std::size(caught); ++i) {
        struct sigaction sa {};
        sa.sa_handler = noteInterrupt;
        sigemptyset(&sa.sa_mask);
        sigaction(caught[i], nullptr, &savedActions[i]);
        if (savedActions[i].sa_handler != SIG_IGN)
            sigaction(caught[i], &sa, nullptr);
    }
}

void releaseInterrupts()
{
    for (std::size_t i = 0; i < std::size(caught); ++i)
        sigaction(caught[i], &savedActions[i], nullptr);
}

}  // namespace platform
