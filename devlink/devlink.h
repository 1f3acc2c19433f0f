// The device link shared by kxlogreader and kxflash: the KX+ talks USB HID,
// vendor 683, product 49, in 64-byte reports, one request and one reply at a
// time. This header is the protocol: buffers, command codes with their reply
// timeouts, the identification record, the CRC-8, and the exchange helpers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <hidapi.h>

constexpr unsigned short kxVendorId = 683;   // 0x02AB
constexpr unsigned short kxProductId = 49;   // 0x0031
constexpr std::size_t reportSize = 64;

// Byte 0 of every request is the command code; a reply carries its request's
// code in byte 0. Multi-byte values of requests and replies are big-endian,
// except in the identification record.
enum class Cmd : uint8_t {
    Identify = 2,        // reply: the query record below; repeated until it comes
    Restart = 11,        // sent ten times at the end of a good flashing; no reply is read
    ReadLog = 14,        // read one 32-byte part of a log page
    WriteFlash = 15,     // write one 32-byte part of a flash page
    FirmwareInfo = 17,   // size, CRC and verdict of the stored firmware
    IntegrityInfo = 18,  // whole size, signatured CRC and calculated CRC of firmware and graphics
    WrittenInfo = 20,    // written count and error code, after a consistent integrity check
};

// Reply timeout of each command, in milliseconds.
constexpr int replyTimeoutMs(Cmd c)
{
    switch (c) {
    case Cmd::Identify: return 1000;
    case Cmd::ReadLog: return 400;
    case Cmd::WriteFlash: return 500;
    case Cmd::FirmwareInfo:
    case Cmd::IntegrityInfo:
    case Cmd::WrittenInfo: return 30000;
    case Cmd::Restart: return 0;
    }
    return 0;
}
// The read that follows the identification block, and nothing else.
constexpr int shortReadTimeoutMs = 100;

// Command 14, read one part of the log memory.
//   request: 0 code, 1-2 page (high, low), 3 part 0..127, 4 page-start flag
//   reply:   0 code, 1-2 page echo, 3 part echo, 4 CRC-8 of bytes 5..36, 5..36 data
namespace logreq {
constexpr std::size_t page = 1, part = 3, pageStart = 4;
constexpr std::size_t crc = 4, data = 5;
}  // namespace logreq

// Command 15, write one part of a flash page.
//   request: 0 code, 1-2 page (high, low), 3 part, 4..35 the 32 data bytes
//   reply:   0 code, 1-2 page echo, 3 part echo, 36 CRC-8 of the part, 37 running CRC-8 of the page
namespace flashreq {
constexpr std::size_t page = 1, part = 3, data = 4;
constexpr std::size_t partCrc = 36, pageCrc = 37;
}  // namespace flashreq

constexpr std::size_t partSize = 32;      // bytes of one part
constexpr std::size_t partsPerPage = 128; // parts of a 4096-byte page
constexpr std::size_t pageSize = partSize * partsPerPage;

// The identification reply, little-endian, packed over bytes 0..18.
#pragma pack(push, 1)
struct QueryRecord {
    uint8_t Command;      // 2
    uint16_t Battery;     // millivolts
    uint8_t MAC[5];       // identifier; MAC[2] tells the model
    uint8_t HW[2];        // hardware version HW[0].HW[1]
    uint8_t SW[2];        // software version SW[0].SW[1]
    uint32_t GlobalTime;  // total time in seconds
    uint16_t MaxLogBook;
    uint8_t Logo;
};
#pragma pack(pop)
static_assert(sizeof(QueryRecord) == 19, "the identification record is 19 packed bytes");

union _USB_HID_BOOTLOADER_COMMAND {
    uint8_t Contents[reportSize];
    QueryRecord query;
};

// The send buffer and the flasher's (and the identification's) receive buffer;
// alive for the whole run and never cleared between exchanges.
extern std::array<uint8_t, reportSize> outputBuffer;
extern _USB_HID_BOOTLOADER_COMMAND PacketFromPC;
// The list that enumeration gave; only its first entry is used. Never freed.
extern hid_device_info* device_info;

// Back to the start values of a fresh program: every run begins with this.
void resetLinkGlobals();

// One step of the CRC-8 of 1-Wire devices (reflected 0x8C, start 0, no final XOR).
constexpr uint8_t CRC8(uint8_t data, uint8_t crc)
{
    constexpr uint8_t bitTerm[8] = {0x5E, 0xBC, 0x61, 0xC2, 0x9D, 0x23, 0x46, 0x8C};
    const uint8_t i = data ^ crc;
    uint8_t result = 0;
    if (i & 0x01) result ^= bitTerm[0];
    if (i & 0x02) result ^= bitTerm[1];
    if (i & 0x04) result ^= bitTerm[2];
    if (i & 0x08) result ^= bitTerm[3];
    if (i & 0x10) result ^= bitTerm[4];
    if (i & 0x20) result ^= bitTerm[5];
    if (i & 0x40) result ^= bitTerm[6];
    if (i & 0x80) result ^= bitTerm[7];
    return result;
}

// CRC-8 of `n` bytes, folded in order from 0.
uint8_t crc8Of(const uint8_t* bytes, std::size_t n);

// Places byte `k` of a request at its platform position in outputBuffer.
void putRequest(std::size_t k, uint8_t value);
// Puts `value` high byte first at request bytes k and k+1.
void putRequest16(std::size_t k, uint16_t value);

// Writes the whole send buffer; the result of hid_write.
int sendRequest(hid_device* device);
// Reads one reply into `buffer` (64 bytes); the result of hid_read_timeout.
int readReply(hid_device* device, uint8_t* buffer, int timeoutMs);
// Puts `cmd` in its place, sends the request and reads the reply into `buffer`
// with the command's timeout.
int exchange(hid_device* device, Cmd cmd, uint8_t* buffer);

// Big-endian values of a reply or a log record.
constexpr uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
constexpr uint32_t be32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Writes the 64 bytes of a report as hexadecimal, for diagnostics. No run
// calls it; it is kept as the name a developer reaches for when tracing the
// exchanges by hand.
void printBuffer(const uint8_t* buffer);

// Reads that fail (-1, not a timeout) again and again mean that the instrument
// is gone. The guard counts them, pauses a little between them, and tells when
// to give up.
struct ReadFailureGuard {
    static constexpr int limit = 5;
    static constexpr uint32_t pauseUs = 200000;
    int inRow = 0;
    // Call with every read result; true when it is time to give up.
    bool lost(int readResult);
};
// The one-line message for an instrument that stopped answering.
void reportInstrumentLost(hid_device* device);
// The one-line message after a read that failed (-1) where nothing is repeated.
void reportReadFailed(hid_device* device);

// Who identifies: the two programs differ in small ways.
enum class Program { LogReader, Flasher };

// Opens the first listed instrument: the log reader by its serial number, the
// flasher without one.
hid_device* openInstrument(Program who);
// After "Failed to open device!": the likely cause on this platform, if any.
void printOpenFailureHint(Program who);
// Sends command 2 until a reply with code 2 comes; false when the instrument
// was lost on the way (a message has been printed).
bool identifyInstrument(hid_device* device, Program who);
// Prints the identity block from PacketFromPC.
void printIdentity();
// The read of 100 ms after the identity block, whose result is not used.
void shortRead(hid_device* device);
