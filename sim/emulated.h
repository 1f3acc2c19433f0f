// What the two emulated transports of the instrument (usbfs.cpp, hidraw.cpp)
// describe alike to the programs under umockdev.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim::emulated {

// A HID report of 64 bytes each way, with a vendor usage.
constexpr uint8_t reportDescriptor[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75,
                                        0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};

// Bytes as lower-case hex digits, as umockdev's records give binary attributes.
inline std::string hex(const uint8_t* bytes, std::size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

}  // namespace sim::emulated
