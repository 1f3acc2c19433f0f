// The export folder's file names and the position hold of the KML and CSV exports.
#include "logexport.h"

#include <cstdio>
#include <cstring>

#include "logreader.h"
#include "platform.h"
#include "sampletexts.h"
#include "textformat.h"

bool createInExportFolder(ExportFile& file, const char* pathFormat, const char* name)
{
    char path[4096];
    snprintf(path, sizeof path, pathFormat, folder, name);
    if (folder[0] == '\0') {
        fprintf(stderr, "No export folder for this run: %s was not written.\n", name);
        return false;
    }
    return file.createAt(path);
}

char flightNameSuffix[12] = "";

void exportFileName(uint32_t timestamp, const char* format, char* out, std::size_t size)
{
    platform::formatLocal(timestamp, format, out, size);
    char* ending = std::strrchr(out, '.');
    const std::size_t suffix = std::strlen(flightNameSuffix);
    if (!ending || suffix == 0 || std::strlen(out) + suffix >= size)
        return;
    std::memmove(ending + suffix, ending, std::strlen(ending) + 1);
    std::memcpy(ending, flightNameSuffix, suffix);
}

char* writePosition(char* out, std::size_t sample, const MMdata& point, PositionHold& hold)
{
    // The stored texts are the samples' own, kept in order for every sample.
    char* end = sampletexts::lonLat(out, sample, point);
    const LatLon at = hold.shown(point);
    if (point.lat != 0.0f)
        return end;
    end = text::percentF(out, at.lon);
    *end++ = ',';
    return text::percentF(end, at.lat);
}

LatLon PositionHold::shown(const MMdata& point)
{
    if (point.lat != 0.0f) {
        old_lat = point.lat;
        old_lon = point.lon;
    }
    return {old_lat, old_lon};
}
