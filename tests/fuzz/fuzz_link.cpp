// The instrument's answers steered by bytes (lengths, contents, read errors,
// silences, late and wrong answers) through identification, the log download
// and the upload with its verification, on the simulator's virtual clock:
// no crash, no hang, and neither "raw.dat" nor the pages of a download given
// up ever hold a part that did not come with its own CRC.
#include <cstring>

#include "flasher.h"
#include "fuzzsupport.h"
#include "logreader.h"
#include "sim.h"

namespace {

constexpr size_t partBytes = 32;

// A part of "raw.dat" that is not the instrument's must have come in an
// answer with the right echo and a CRC that fits it.
bool cameWithItsCrc(uint16_t page, uint8_t part, const char* data)
{
    for (const std::vector<uint8_t>& r : sim::log().replacements) {
        if (r.size() < 5 + partBytes || r[0] != 14 || r[1] != (page >> 8) || r[2] != (page & 0xFF) || r[3] != part)
            continue;
        if (sim::wire::crc8(&r[5], partBytes) == r[4] && std::memcmp(&r[5], data, partBytes) == 0)
            return true;
    }
    return false;
}

// "raw.dat" after a complete download, "raw-partial.dat" after one given up.
void checkRawFile(const char* name)
{
    const std::string raw = readFile(name);
    fuzz::require(raw.size() % 4096 == 0, "raw.dat holds a part of a page");
    const std::vector<uint8_t>& memory = sim::config().logMemory;
    for (size_t at = 0; at < raw.size(); at += partBytes) {
        if (std::memcmp(raw.data() + at, memory.data() + at, partBytes) == 0)
            continue;
        const uint16_t page = static_cast<uint16_t>(256 + at / 4096);
        const uint8_t part = static_cast<uint8_t>(at % 4096 / partBytes);
        fuzz::require(cameWithItsCrc(page, part, raw.data() + at), "raw.dat holds a part whose CRC failed");
    }
}

char program[] = "kx";
char firmwareName[] = "fw";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 2)
        return -1;
    fuzz::emptyWorkFolder();
    sim::reset();
    sim::config().logMemory.assign(sim::logBytes, 0xFF);  // nothing to export: the download is what counts
    sim::config().script.assign(bytes + 1, bytes + size);
    const bool flasher = bytes[0] & 1;
    int status = 0;
    if (flasher) {
        // An image that passes the flasher's header check, so that every input
        // reaches the upload and the verification: 5000 bytes, 3000 of firmware.
        std::vector<uint8_t> image(5000);
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<uint8_t>(i * 31 + i / 7);
        for (size_t i = 0; i < 4; ++i) {
            image[i] = static_cast<uint8_t>(image.size() >> (8 * i));
            image[6 + i] = static_cast<uint8_t>(3000u >> (8 * i));
        }
        fuzz::writeFile("fw", image.data(), image.size());
        char* argv[] = {program, firmwareName, nullptr};
        status = runFlasher(2, argv);
        fuzz::require(status == 0 || status == 2 || status == -1, "kxflash ended with a status it never gives");
        fuzz::require(status != 0 || sim::log().restarts > 0, "a flashing reported good without a restart");
    } else {
        char* argv[] = {program, nullptr};
        status = runLogreader(1, argv);
        fuzz::require(status == 0 || status == 1 || status == 2, "kxlogreader ended with a status it never gives");
        checkRawFile("raw.dat");
        checkRawFile("raw-partial.dat");
    }
    // Each request takes at least one byte; once they are spent the instrument is gone.
    fuzz::require(sim::log().requests.size() <= size + 16, "the programs went on asking a gone instrument");
    return 0;
}
