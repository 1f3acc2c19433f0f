// The window on the log.
#include "logfile.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "devlink.h"
#include "platform.h"
#include "record.h"
#include "sampletexts.h"

namespace {

// As much of the file as the instrument's log memory holds.
constexpr uint32_t windowBytes = logPages * pageSize;

struct Window {
    std::array<uint8_t, windowBytes> bytes;
    const std::string* memory = nullptr;  // a log in memory, read in place of a file
    uint32_t start = 0;   // file offset of bytes[0]
    uint32_t length = 0;  // bytes held
    bool atEnd = false;   // the file ends inside the window
    bool failed = false;
    bool holds(uint32_t offset) const
    {
        return !failed && offset >= start && uint64_t{offset} - start + recordSize <= length;
    }
};

Window window;
std::string logName = rawFileName;  // what the messages call the log

bool fill(uint32_t offset)
{
    window.start = offset;
    window.length = 0;
    window.atEnd = true;
    if (!platform::seekTo(data, offset)) {
        window.failed = true;
    } else {
        window.length = static_cast<uint32_t>(std::fread(window.bytes.data(), 1, window.bytes.size(), data));
        window.atEnd = window.length < window.bytes.size();
        window.failed = window.atEnd && std::ferror(data);
    }
    if (window.failed)
        fprintf(stderr, "\r\nCannot read \"%s\": %s. The export stops here.\n", logName.c_str(), std::strerror(errno));
    return !window.failed;
}

}  // namespace

FILE* data = nullptr;

void startLogRun()
{
    data = nullptr;
    resetLogWindow();
    sampletexts::forget();
}

bool openLogAt(const char* path, const char*& reason)
{
    useLogStream(platform::openRegularFile(path, "rb", reason));
    logName = path;
    return data != nullptr;
}

void useLogBytes(const std::string& bytes)
{
    useLogStream(nullptr);
    window.memory = &bytes;
}

void useLogStream(FILE* stream)
{
    logName = rawFileName;
    data = stream;
    resetLogWindow();
    sampletexts::forget();
}

bool describeLog(const char* path, bool always)
{
    uint64_t size = 0;
    std::time_t modified = 0;
    if (!platform::regularFileInfo(path, size, modified))
        return false;  // reading it says why it cannot be read
    const uint64_t pages = size / pageSize;
    const bool whole = pages == logPages && size % pageSize == 0;
    if (!whole || always) {
        fflush(stdout);
        char when[32];
        platform::formatLocal(static_cast<uint32_t>(modified), "%Y-%m-%d %H:%M", when, sizeof when);
        fprintf(stderr, "Exporting the \"%s\" of an earlier download (%s): %llu of %u pages%s.\n", path, when,
                static_cast<unsigned long long>(pages), logPages,
                whole ? "" : ", a partial log: download again for the whole of it");
    }
    return !whole;
}

void closeLog()
{
    if (data)
        std::fclose(data);
    data = nullptr;
}

const uint8_t* recordAt(uint32_t offset)
{
    if (window.memory)
        return uint64_t{offset} + recordSize <= window.memory->size()
                   ? reinterpret_cast<const uint8_t*>(window.memory->data()) + offset
                   : nullptr;
    if (!window.holds(offset) && !(offset >= window.start && window.atEnd) && !fill(offset))
        return nullptr;
    return window.holds(offset) ? &window.bytes[offset - window.start] : nullptr;
}

bool logReadFailed() { return window.failed; }

void resetLogWindow()
{
    window.memory = nullptr;
    window.start = window.length = 0;
    window.atEnd = window.failed = false;
}
