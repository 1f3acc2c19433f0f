// What the KML and CSV exports share: walking a flight's records on `data`,
// and an output file that remembers whether every write went through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "record.h"

// Calls `visit` with each point record from offset `start` to the record at
// `stop` inclusive, in file order, until it returns false. A read of fewer
// than 32 bytes ends the walk.
void forEachPoint(uint32_t start, uint32_t stop, const std::function<bool(const uint8_t* record, uint32_t time)>& visit);
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
