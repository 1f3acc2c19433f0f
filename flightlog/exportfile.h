// What every export of a flight shares: the skeleton that walks the flight's
// points and writes one file (exportFlight), and an output file with a buffer
// of its own that remembers whether every write went through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "logfile.h"
#include "record.h"
#include "sampletexts.h"

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
// Leaves `data` just past the flight, as an export hands the file back.
void seekPastFlight(uint32_t stop);

// One export file at a time: its bytes gather in one buffer shared by all
// export files and go to the disk in large writes.
class ExportFile {
public:
    // Creates the file at `path`; false (with the reason on standard error)
    // when it cannot be made.
    bool createAt(const char* path);
    bool isOpen() const { return file_ != nullptr; }
    // Space for at least `n` bytes (n at most 4096); hand the end of what was
    // written there to `commit`. Checked builds (Debug, sanitizers, fuzzing)
    // stop the program when a writer went past the room it asked for.
    char* room(std::size_t n);
    void commit(char* end);
    void put(const char* text, std::size_t n);
    void put(const char* text);
    // Writes what is left and closes the file; false when any write or the
    // close failed.
    bool close();
    // Has close() also write the file's data back to the disk (a file that
    // must survive a power cut once it has its name).
    void writeBackOnClose() { writeBack_ = true; }

private:
    static char* buffer();
    void flush();
    FILE* file_ = nullptr;
    std::size_t used_ = 0;
    std::size_t asked_ = 0;  // the room of the last room()
    bool ok_ = true;
    bool writeBack_ = false;
    int error_ = 0;
    char full_res_[4096] = "";  // the path, as made (the export's own names take 111 bytes at most)
};

// One point of a flight as the skeleton hands it to a format.
struct FlightPoint {
    std::size_t sample = 0;  // its place in the flight, from 0, in file order
    uint32_t time = 0;       // its log time
    uint32_t firstTime = 0;  // the log time of the flight's first point
    MMdata values{};         // as decoded from the record
};

// The skeleton of every export of a flight, for a format given as a plain
// struct (its functions may be static, or use what the struct holds):
//   bool begin(ExportFile&, uint32_t firstTime)  creates the file (named after
//       the first point) and writes its head; false when it could not
//   void row(ExportFile&, const FlightPoint&)  writes one point
//   bool finish(ExportFile&, uint32_t start, uint32_t stop)  after the last
//       row, unless the walk failed: what follows the rows (a second pass,
//       say); false when reading failed
//   void tail(ExportFile&)  the last bytes, whenever the file was made
// The file is created at the first point, so a range without points writes
// nothing and succeeds. The result is 1 when the file was written whole, 0
// when it could not be created, reading "raw.dat" failed, or a write failed.
//
// The texts of a sample (time of day, position) come from sampletexts with
// the point's `sample`: the first walk of a flight formats and stores them,
// every later walk of the same flight (a second pass, the next format) takes
// them from the store. So a format asks for them only with the sample
// numbers the skeleton gives, and a second pass numbers its points from 0 in
// file order as the first did.
template <typename Format>
int exportFlight(uint32_t start, uint32_t stop, Format& format)
{
    ExportFile file;
    FlightPoint point;
    bool failed = false;
    std::size_t points = 0;
    sampletexts::startFlight(start, stop);
    const bool readOk = forEachPoint(start, stop, [&](const uint8_t* record, uint32_t time) {
        if (points == 0 && !format.begin(file, time)) {
            failed = true;
            return false;
        }
        point.sample = points++;
        point.time = time;
        point.firstTime = point.sample == 0 ? time : point.firstTime;
        point.values = decodePoint(record);
        format.row(file, point);
        return true;
    });
    failed = failed || !readOk;
    if (file.isOpen()) {
        failed = failed || !format.finish(file, start, stop);
        format.tail(file);
        failed = !file.close() || failed;
    }
    seekPastFlight(stop);
    return failed ? 0 : 1;
}
