// The upload of a firmware file with command 15. The file is an image of the
// flash from page 3454 on: 128 pages of firmware area, then the graphics area.
// Each 32-byte part is acknowledged with the CRC-8 of the part and the running
// CRC-8 of its page; the first part that is not acknowledged ends the upload.
// Past the firmware (and one page more) the upload jumps to the graphics area.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "flasher.h"
#include "linkclock.h"
#include "platform.h"

uint8_t readed[partSize] = {};

namespace {

constexpr uint32_t pauseUs = 100;
// The header's sizes and the file offsets are unsigned 32-bit, and so is all
// arithmetic on them: a size near 4 GiB wraps.
constexpr uint32_t pageBytes = pageSize;
constexpr uint8_t lastPart = partsPerPage - 1;
constexpr uint32_t firmwarePages = graphicsFirstPage - firmwareFirstPage;  // 128

// What the upload can write soundly. The header is 10 bytes: the whole size
// (offset 0), two bytes not read, the firmware size (offset 6).
constexpr uint32_t headerBytes = 10;
// The jump rule leaves the firmware area after firmware_size / 4096 + 2 pages.
// That must happen by page 3582, or the upload walks into the graphics area
// without the jump and the jump later sends the graphics area again: so
// firmware_size / 4096 + 2 <= 128, that is firmware_size < 127 * 4096.
constexpr uint32_t maxFirmwareSize = (firmwarePages - 1) * pageBytes - 1;  // 520191
// The file maps one to one onto the flash pages 3454..4093, firmware and graphics.
constexpr uint32_t lastGraphicsPage = 4093;
constexpr uint64_t maxImageBytes = uint64_t{lastGraphicsPage - firmwareFirstPage + 1} * pageBytes;  // 2621440

struct Upload {
    uint32_t all_size = 0;       // whole image, for the "All" figure
    uint32_t firmware_size = 0;  // decides where the firmware area is left
    uint16_t page = firmwareFirstPage;
    uint16_t part = 0;
    uint16_t old_part = 255;
    uint8_t CRC = 0;
    uint8_t pageCRC = 0;
    uint8_t skip_dummy_firmware = 0;
    bool sending = false;  // exit_flag: the loop goes on while it is set
};

uint32_t readLe32(FILE* f, long offset)
{
    uint8_t b[4] = {};
    std::fseek(f, offset, SEEK_SET);
    const std::size_t got = std::fread(b, 1, sizeof b, f);
    std::fill(b + got, b + sizeof b, 0);  // past the end of a short file: 0 (a read error shows at the first part)
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

// A percentage of a header size; 0 when the header gives no size.
uint32_t percentOf(uint32_t file_address, uint32_t size) { return size ? file_address * 100u / size : 0; }

uint32_t fileAddress(const Upload& u)
{
    return (static_cast<uint32_t>(u.page - firmwareFirstPage) * partsPerPage + u.part) * partSize;
}

enum class Chunk { Whole, Last, Unreadable };

// Reads the part's chunk; a short read at the end of the file keeps the
// previous chunk's bytes behind it and makes the last part.
Chunk readChunk(FILE* firmware, uint32_t file_address)
{
    if (!platform::seekTo(firmware, file_address))
        return Chunk::Unreadable;
    if (std::fread(readed, 1, partSize, firmware) == partSize)
        return Chunk::Whole;
    return std::ferror(firmware) ? Chunk::Unreadable : Chunk::Last;
}

// Sends the part; the result of the read of its reply.
int sendPart(hid_device* device, Upload& u)
{
    putRequest(0, static_cast<uint8_t>(Cmd::WriteFlash));
    putRequest16(flashreq::page, u.page);
    putRequest(flashreq::part, static_cast<uint8_t>(u.part));
    u.CRC = 0;
    for (std::size_t i = 0; i < partSize; ++i) {
        putRequest(flashreq::data + i, readed[i]);
        u.CRC = CRC8(readed[i], u.CRC);
        if (u.part != u.old_part)  // a repeated part adds nothing to the page CRC
            u.pageCRC = CRC8(readed[i], u.pageCRC);
    }
    u.old_part = u.part;
    sendRequest(device);
    return readReply(device, PacketFromPC.Contents, replyTimeoutMs(Cmd::WriteFlash));
}

// Judged on what PacketFromPC holds: a missing reply leaves an older one there.
bool acknowledged(const Upload& u)
{
    const uint8_t* r = PacketFromPC.Contents;
    return r[0] == static_cast<uint8_t>(Cmd::WriteFlash) && r[1] == (u.page >> 8) && r[2] == (u.page & 0xFF) &&
           r[3] == u.part && r[flashreq::partCrc] == u.CRC && r[flashreq::pageCrc] == u.pageCRC;
}

void printProgress(const Upload& u, uint32_t file_address)
{
    if (u.page >= graphicsFirstPage)
        printf("Puting bug's into firmware %d / 512 (All: %u %%)                   \r", u.page - graphicsFirstPage,
               percentOf(file_address, u.all_size));
    else
        printf("Sending main functionality %d / 128 (All: %u %%, Firmware: %u %%)\r", u.page - firmwareFirstPage,
               percentOf(file_address, u.all_size),
               u.firmware_size ? percentOf(file_address, u.firmware_size) + 1 : 0);
    fflush(stdout);
}

// The instrument's last part of a page came back: on to the next page, or
// past the rest of the firmware area to the graphics.
void completePage(Upload& u, uint32_t file_address)
{
    ++u.page;
    if (u.skip_dummy_firmware == 0 && u.firmware_size + pageBytes < (u.page - firmwareFirstPage) * pageBytes) {
        u.page = graphicsFirstPage;
        u.skip_dummy_firmware = 1;
    }
    u.pageCRC = 0;
    printProgress(u, file_address);
    u.part = 0;
    linkSleepUs(pauseUs);
}

void onAcknowledged(Upload& u, const RunSwitches& switches, uint32_t file_address)
{
    linkSleepUs(pauseUs);
    ++u.part;
    if (PacketFromPC.Contents[flashreq::part] == lastPart)
        completePage(u, file_address);
    if (switches.send_firmware == 1 && switches.send_graphics == 0 &&
        u.firmware_size < (u.page - firmwareFirstPage) * pageBytes) {
        u.sending = false;
        printf("Skipping graphics data \r\n");
    }
    linkSleepUs(pauseUs);
}

// Tells the instrument that the upload has ended: part 127 of the current
// page, with the data bytes of the last request.
void sendClosingRequest(hid_device* device, const Upload& u)
{
    linkSleepUs(pauseUs);
    putRequest(0, static_cast<uint8_t>(Cmd::WriteFlash));
    putRequest16(flashreq::page, u.page);
    putRequest(flashreq::part, lastPart);
    sendRequest(device);
    linkSleepUs(pauseUs);
    readReply(device, PacketFromPC.Contents, replyTimeoutMs(Cmd::WriteFlash));
}

// A read error is not the end of the file: nothing more is sent, and the
// instrument is neither asked to verify nor restarted.
void reportUnreadable(const Upload& u, RunSwitches& switches)
{
    const int reason = errno;
    reportStanding(Standing::Incomplete, "Run kxflash again from a readable copy of the file before you unplug the "
                   "instrument or switch it off.", "the firmware file could not be read for page %u, part %u (%s)",
                   u.page, u.part, std::strerror(reason));
    switches.check_firmware = 0;
}

// Why the file cannot be an image that the upload writes soundly, or nullptr.
// A file shorter than the whole size its header gives was cut off (a download
// or a copy that did not finish); a longer one is taken.
const char* imageFault(uint64_t length, const Upload& u)
{
    static char why[200];
    const uint32_t firmware_size = u.firmware_size;
    if (length < headerBytes)
        std::snprintf(why, sizeof why, "the file is %llu bytes, shorter than its %u-byte header",
                      static_cast<unsigned long long>(length), headerBytes);
    else if (u.all_size > length)
        std::snprintf(why, sizeof why, "the file is %llu bytes, shorter than the %u bytes its header gives as the "
                      "image's whole size, so it was cut off", static_cast<unsigned long long>(length), u.all_size);
    else if (firmware_size == 0)
        std::snprintf(why, sizeof why, "its header gives a firmware size of 0 bytes");
    else if (firmware_size > maxFirmwareSize)
        std::snprintf(why, sizeof why, "the firmware size %u bytes is over the %u bytes that the firmware area "
                      "(pages 3454 to 3581) takes with its one-page margin", firmware_size, maxFirmwareSize);
    else if (firmware_size > length)
        std::snprintf(why, sizeof why, "the firmware size %u bytes is over the file's %llu bytes", firmware_size,
                      static_cast<unsigned long long>(length));
    else if (length > maxImageBytes)
        std::snprintf(why, sizeof why, "the file is %llu bytes, over the %llu bytes of the firmware and graphics "
                      "areas (pages 3454 to 4093)", static_cast<unsigned long long>(length),
                      static_cast<unsigned long long>(maxImageBytes));
    else
        return nullptr;
    return why;
}

// Stopped by an interrupt at a part boundary: the instrument has part of the new firmware.
void reportInterrupted(const Upload& u)
{
    reportStanding(Standing::Incomplete, flashAgain, "the upload was interrupted before page %u, part %u", u.page,
                   u.part);
}

// Reads the header and refuses a file that cannot be an image the upload
// writes soundly, before anything is sent; false when refused.
bool imageAccepted(FILE* firmware, Upload& u)
{
    u.all_size = readLe32(firmware, 0);
    u.firmware_size = readLe32(firmware, 6);
    printf("Firmware size = %u bytes\r\n", u.firmware_size);
    uint64_t length = 0;
    const char* fault = platform::fileLength(firmware, length) ? imageFault(length, u) : std::strerror(errno);
    if (!fault)
        return true;
    fflush(stdout);
    fprintf(stderr, "Not a firmware image that can be flashed: %s. Nothing was sent; the instrument keeps its "
                    "firmware.\n", fault);
    return false;
}

// One part: read from the file, sent, and judged by its acknowledgement.
// Clears `u.sending` when it was the last part or the upload cannot go on.
void sendNextPart(hid_device* device, FILE* firmware, Upload& u, RunSwitches& switches)
{
    const uint32_t file_address = fileAddress(u);
    const Chunk chunk = readChunk(firmware, file_address);
    if (chunk == Chunk::Unreadable) {
        reportUnreadable(u, switches);
        u.sending = false;
        return;
    }
    if (chunk == Chunk::Last)
        u.sending = false;  // still sent
    const int length = sendPart(device, u);
    if (acknowledged(u)) {
        onAcknowledged(u, switches, file_address);
        return;
    }
    printf("Transmission fail Page:%d, Part:%u, calculatedCRC:%02X, ReceivedCRC:%02X\r\n\r\n", u.page, u.part, u.CRC,
           PacketFromPC.Contents[flashreq::partCrc]);
    if (length < 0) {
        reportReadFailed(device);
        reportStanding(Standing::Incomplete, "Plug it in again, switch it on and run kxflash again with the same file "
                       "before you use it.", "the instrument stopped answering at page %u, part %u", u.page, u.part);
    } else {
        reportStanding(Standing::Incomplete, flashAgain, "the instrument did not acknowledge page %u, part %u", u.page,
                       u.part);
    }
    switches.check_firmware = 0;
    u.sending = false;
}

}  // namespace

void uploadFirmware(hid_device* device, FILE* firmware, RunSwitches& switches)
{
    Upload u;
    if (!imageAccepted(firmware, u)) {
        switches.check_firmware = 0;
        std::fclose(firmware);
        return;
    }
    std::fseek(firmware, 0, SEEK_SET);
    readReply(device, PacketFromPC.Contents, replyTimeoutMs(Cmd::WriteFlash));
    for (u.sending = true; u.sending;) {
        if (platform::pendingInterrupt()) {
            reportInterrupted(u);
            switches.check_firmware = 0;
            u.sending = false;
        } else {
            sendNextPart(device, firmware, u, switches);
        }
        if (!u.sending)
            sendClosingRequest(device, u);
    }
    if (platform::pendingInterrupt() && switches.check_firmware) {
        // It came with the last part: everything was sent, nothing verified.
        reportStanding(Standing::Unverified, flashAgain, "the upload was interrupted as it ended: every part was sent, "
                       "but the instrument was neither asked to check it nor restarted");
        switches.check_firmware = 0;
    }
    fflush(stdout);
    std::fclose(firmware);
}
