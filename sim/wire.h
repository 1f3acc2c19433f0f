// The KX+ protocol as the instrument sees it. The simulated instrument states
// it here on its own, from the instrument's side, and never takes it from
// the programs: a wrong constant in the programs then fails the tests
// instead of being copied into the instrument.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim::wire {

// USB identity: vendor 0x02AB, product 0x0031, one report of 64 bytes each way.
constexpr unsigned short vendorId = 0x02AB;
constexpr unsigned short productId = 0x0031;
constexpr std::size_t reportBytes = 64;

// Byte 0 of every request the instrument accepts, and of its answer.
namespace command {
constexpr uint8_t identify = 0x02;
constexpr uint8_t restart = 0x0B;
constexpr uint8_t readLog = 0x0E;
constexpr uint8_t writeFlash = 0x0F;
constexpr uint8_t firmwareInfo = 0x11;
constexpr uint8_t integrityInfo = 0x12;
constexpr uint8_t writtenInfo = 0x14;
}  // namespace command

// Read log: the request names page (bytes 1 high, 2 low) and part (byte 3);
// byte 4 is set on the first request of a page. The answer repeats bytes
// 0..3, then the CRC-8 of the part (byte 4) and the part itself (5..36).
namespace readLog {
constexpr std::size_t pageHigh = 1, pageLow = 2, part = 3, pageStart = 4;
constexpr std::size_t crcAt = 4, dataAt = 5;
}  // namespace readLog

// Write flash: page (1 high, 2 low), part (3), 32 bytes of data (4..35). The
// answer repeats bytes 0..3, the CRC-8 of the part it got (36) and the
// running CRC-8 of the page so far (37).
namespace writeFlash {
constexpr std::size_t pageHigh = 1, pageLow = 2, part = 3, dataAt = 4;
constexpr std::size_t partCrcAt = 36, pageCrcAt = 37;
}  // namespace writeFlash

constexpr std::size_t partBytes = 32;
constexpr std::size_t partsPerPage = 128;
constexpr std::size_t pageBytes = 4096;

// Log pages 256..511 hold the log; flash page 3454 is the first of the firmware.
constexpr uint16_t firstLogPage = 256;
constexpr uint16_t lastLogPage = 511;
constexpr std::size_t logBytes = (lastLogPage - firstLogPage + 1) * pageBytes;
constexpr uint16_t firstFlashPage = 3454;
constexpr uint16_t firmwarePages = 128;

// The identification answer: code, battery (mV, little-endian), five ID
// bytes, hardware and software versions, total time (s, little-endian),
// logbook size, logo: 19 bytes.
constexpr std::size_t identityBytes = 19;

// The instrument's CRC-8: the 1-Wire polynomial x^8 + x^5 + x^4 + 1, shifted
// out low bit first, from 0, no final inversion.
constexpr uint8_t crc8(const uint8_t* bytes, std::size_t n, uint8_t crc = 0)
{
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint8_t>(crc & 1 ? (crc >> 1) ^ 0x8C : crc >> 1);
    }
    return crc;
}

constexpr uint16_t pageOf(const uint8_t* request) { return static_cast<uint16_t>(request[1] << 8 | request[2]); }

// Puts the `bytes` low bytes of `value` at `out`: answers and log records
// are big-endian, the identification record is little-endian.
inline void putBigEndian(uint8_t* out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}
inline void putLittleEndian(uint8_t* out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace sim::wire
