// What the KML and CSV exports share: walking a flight's records on `data`,
// and an output file that remembers whether every write went through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "logfile.h"
#include "record.h"

// Calls `visit(record, time)` with each point record from offset `start` to
// the record at `stop` inclusive, in file order, until it returns false. The
// end of the file ends the walk; false when reading the file failed.
template <typename Visit>
bool forEachPoint(uint32_t start, uint32_t stop, Visit&& visit)
{
    for (uint64_t at = start; at <= stop; at += recordSize) {
        const uint8_t* record = recordAt(static_cast<uint32_t>(at));
        if (!record)
            return !logReadFailed();
        if (isPointRecord(record) && !visit(record, recordTimestamp(record)))
            return true;
    }
    return true;
}
// Leaves `data` just past the flight, where the flight index reads on.
void seekPastFlight(uint32_t stop);

class ExportFile {
public:
    // Creates `name` inside the export folder, joined with `pathFormat`;
    // false (with the reason on standard error) when it cannot be made or
    // when this run has no export folder.
    bool create(const char* pathFormat, const char* name);
    bool isOpen() const { return file_ != nullptr; }
    void put(const char* text);
    // Closes the file; false when any write or the close failed.
    bool close();

private:
    FILE* file_ = nullptr;
    bool ok_ = true;
    char full_res_[112] = "";
};
