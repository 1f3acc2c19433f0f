// What kxlogreader's KML and CSV exports share: the export folder's files,
// named after the local time of a flight's first sample, and the position
// shown for a sample without a fix.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exportfile.h"
#include "record.h"

// Creates `name` inside the export folder, joined with `pathFormat`; false
// (with the reason on standard error) when it cannot be made or when this
// run has no export folder.
bool createInExportFolder(ExportFile& file, const char* pathFormat, const char* name);

// An export's file name: the local time of the flight's first point in
// `format` (platform::kmlNameFormat, csvNameFormat), with the flight's
// suffix before the ending when it has one.
void exportFileName(uint32_t timestamp, const char* format, char* out, std::size_t size);
// The suffix of the flight being exported: empty, or "-2", "-3"... when
// earlier flights of the run started at the same local time (the clock went
// back, as at the end of summer time), so that no flight's files replace
// another's.
extern char flightNameSuffix[12];

// The last usable position of one export: a sample without a fix (latitude
// zero) is shown at the position before it, 0.0/0.0 before any fix. The
// exports that show every sample (KML and CSV) keep one each.
struct PositionHold {
    float old_lat = 0.0f;
    float old_lon = 0.0f;
    // The position to show for `point`; a fix becomes the one held.
    LatLon shown(const MMdata& point);
};

// Writes "%f,%f" of the flight's `sample`-th point, `point`, where `hold`
// shows it.
char* writePosition(char* out, std::size_t sample, const MMdata& point, PositionHold& hold);
