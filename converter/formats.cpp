// The table of the formats kxconvert writes, and sets of them.
#include <cstdio>

#include "converter.h"
#include "platform.h"

namespace {

// Writes the file at the target's path, a temporary name, written back to
// the disk; a file not written whole is removed.
template <typename Format>
bool writeFlightFile(uint32_t start, uint32_t stop, const FlightFile& target)
{
    Format format{target};
    if (exportFlight(start, stop, format) == 1)
        return true;
    platform::removeFile(target.path.c_str());
    return false;
}

}  // namespace

const FormatInfo formatTable[] = {
    {"igc", ".igc", true, true, true, writeFlightFile<IgcFormat>},
    {"gpx", ".gpx", true, true, true, writeFlightFile<GpxFormat>},
    {"kml", ".kml", true, false, true, writeFlightFile<TimedKmlFormat>},
    {"html", ".html", false, true, false, writeFlightFile<PageFormat>},
};
const std::size_t formatCount = sizeof formatTable / sizeof formatTable[0];
static_assert(sizeof formatTable / sizeof formatTable[0] <= sizeof(FormatSet) * 8, "a bit per format");

FormatSet defaultFormats()
{
    FormatSet set = 0;
    for (std::size_t k = 0; k < formatCount; ++k)
        set |= formatTable[k].byDefault ? formatBit(k) : 0;
    return set;
}

bool parseFormats(std::string_view list, char separator, FormatSet& formats)
{
    bool known = true;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t end = std::min(list.find(separator, at), list.size());
        const std::string_view word = list.substr(at, end - at);
        std::size_t k = 0;
        while (k < formatCount && word != formatTable[k].name)
            ++k;
        if (k < formatCount)
            formats |= formatBit(k);
        else
            known = known && (separator == ' ' && word.empty());  // the Files column may be empty
        at = end + 1;
    }
    return known;
}

std::string formatNames(FormatSet formats, const char* separator)
{
    std::string names;
    for (std::size_t k = 0; k < formatCount; ++k)
        if (formats & formatBit(k))
            names += (names.empty() ? "" : separator) + std::string(formatTable[k].name);
    return names;
}
