// What the KML and CSV exports share: walking a flight's records, the
// position text of a sample after the position hold, and an output file with
// a buffer of its own that remembers whether every write went through.
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

// Writes "%f,%f" of the flight's `sample`-th point after the position hold,
// which it applies to `point`.
char* writePosition(char* out, std::size_t sample, MMdata& point, PositionHold& hold);

// One export file at a time: its bytes gather in one buffer shared by all
// export files and go to the disk in large writes.
class ExportFile {
public:
    // Creates `name` inside the export folder, joined with `pathFormat`;
    // false (with the reason on standard error) when it cannot be made or
    // when this run has no export folder.
    bool create(const char* pathFormat, const char* name);
    bool isOpen() const { return file_ != nullptr; }
    // Space for at least `n` bytes (n at most 4096); hand the end of what was
    // written there to `commit`.
    char* room(std::size_t n);
    void commit(char* end) { used_ = static_cast<std::size_t>(end - buffer()); }
    void put(const char* text, std::size_t n);
    void put(const char* text);
    // Writes what is left and closes the file; false when any write or the
    // close failed.
    bool close();

private:
    static char* buffer();
    void flush();
    FILE* file_ = nullptr;
    std::size_t used_ = 0;
    bool ok_ = true;
    int error_ = 0;
    char full_res_[112] = "";
};
