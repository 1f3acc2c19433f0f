// The export file and its shared buffer.
#include "exportfile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace {
constexpr std::size_t bufferBytes = 256 * 1024;
std::array<char, bufferBytes> shared;
}  // namespace

void seekPastFlight(uint32_t stop)
{
    if (data)
        platform::seekTo(data, static_cast<uint32_t>(stop + recordSize));
}

char* ExportFile::buffer() { return shared.data(); }

bool ExportFile::createAt(const char* path)
{
    if (path != full_res_)
        snprintf(full_res_, sizeof full_res_, "%s", path);
    platform::noteFileChange("create", full_res_);
    file_ = std::fopen(full_res_, "wb");
    if (!file_) {
        fprintf(stderr, "Cannot create %s: %s\n", full_res_, std::strerror(errno));
        return false;
    }
    std::setvbuf(file_, nullptr, _IONBF, 0);  // the shared buffer is the only one
    used_ = 0;
    return true;
}

void ExportFile::flush()
{
    if (ok_ && used_ > 0)
        platform::noteFileChange("write", full_res_);
    if (ok_ && used_ > 0 && std::fwrite(buffer(), 1, used_, file_) != used_) {
        ok_ = false;
        error_ = errno;
    }
    used_ = 0;
}

char* ExportFile::room(std::size_t n)
{
    if (used_ + n > bufferBytes)
        flush();
    asked_ = n;
    return buffer() + used_;
}

void ExportFile::commit(char* end)
{
#if KX_CHECKED
    if (end < buffer() + used_ || end > buffer() + used_ + asked_) {
        fprintf(stderr, "export writer went past its room of %zu bytes\n", asked_);
        std::abort();
    }
#endif
    used_ = static_cast<std::size_t>(end - buffer());
}

void ExportFile::put(const char* text, std::size_t n)
{
    while (n > 0) {
        char* at = room(1);
        const std::size_t part = std::min(n, bufferBytes - used_);
        std::memcpy(at, text, part);
        used_ += part;
        text += part;
        n -= part;
    }
}

void ExportFile::put(const char* text) { put(text, std::strlen(text)); }

bool ExportFile::close()
{
    flush();
    if (ok_ && writeBack_ && !platform::writeBack(file_)) {
        ok_ = false;
        error_ = errno;
    }
    const bool closed = std::fclose(file_) == 0;
    if (ok_ && !closed)
        error_ = errno;
    file_ = nullptr;
    if (ok_ && closed)
        return true;
    fprintf(stderr, "Cannot write %s: %s. The file is incomplete.\n", full_res_, std::strerror(error_));
    return false;
}
