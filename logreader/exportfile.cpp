// Shared parts of the KML and CSV exports.
#include "exportfile.h"

#include <cerrno>
#include <cstring>

#include "logreader.h"
#include "platform.h"

void seekPastFlight(uint32_t stop)
{
    platform::seekTo(data, static_cast<uint32_t>(stop + recordSize));
}

bool ExportFile::create(const char* pathFormat, const char* name)
{
    snprintf(full_res_, sizeof full_res_, pathFormat, folder, name);
    if (folder[0] == '\0') {
        fprintf(stderr, "No export folder for this run: %s was not written.\n", name);
        return false;
    }
    file_ = std::fopen(full_res_, "wb");
    if (!file_)
        fprintf(stderr, "Cannot create %s: %s\n", full_res_, std::strerror(errno));
    return file_ != nullptr;
}

void ExportFile::put(const char* text)
{
    if (ok_ && std::fputs(text, file_) == EOF)
        ok_ = false;
}

bool ExportFile::close()
{
    const int saved = ok_ ? 0 : errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (ok_ && closed)
        return true;
    fprintf(stderr, "Cannot write %s: %s. The file is incomplete.\n", full_res_,
            std::strerror(ok_ ? errno : saved));
    return false;
}
