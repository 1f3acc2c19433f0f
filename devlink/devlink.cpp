// Report placement, exchanges, discovery and identification of the instrument.
#include "devlink.h"

#include <cstdio>
#include <cwchar>

#include "linkclock.h"
#include "platform.h"

std::array<uint8_t, reportSize> outputBuffer{};
_USB_HID_BOOTLOADER_COMMAND PacketFromPC{};
hid_device_info* device_info = nullptr;

void resetLinkGlobals()
{
    outputBuffer.fill(0);
    PacketFromPC = {};
    device_info = nullptr;
}

uint8_t crc8Of(const uint8_t* bytes, std::size_t n)
{
    uint8_t crc = 0;
    for (std::size_t i = 0; i < n; ++i)
        crc = CRC8(bytes[i], crc);
    return crc;
}

void putRequest(std::size_t k, uint8_t value) { outputBuffer[k + platform::requestOffset] = value; }

void putRequest16(std::size_t k, uint16_t value)
{
    putRequest(k, static_cast<uint8_t>(value >> 8));
    putRequest(k + 1, static_cast<uint8_t>(value & 0xFF));
}

int sendRequest(hid_device* device) { return hid_write(device, outputBuffer.data(), reportSize); }

int readReply(hid_device* device, uint8_t* buffer, int timeoutMs)
{
    return hid_read_timeout(device, buffer, reportSize, timeoutMs);
}

int exchange(hid_device* device, Cmd cmd, uint8_t* buffer)
{
    putRequest(0, static_cast<uint8_t>(cmd));
    sendRequest(device);
    return readReply(device, buffer, replyTimeoutMs(cmd));
}

void printBuffer(const uint8_t* buffer)
{
    for (std::size_t i = 0; i + 1 < reportSize; ++i)
        printf("%02x ", buffer[i]);
    printf("%02x\n", buffer[reportSize - 1]);
}

bool ReadFailureGuard::lost(int readResult)
{
    if (readResult >= 0) {
        inRow = 0;
        return false;
    }
    if (++inRow >= limit)
        return true;
    linkSleepUs(pauseUs);
    return false;
}

// What hidapi says about the last failure. Its libusb back end answers every
// failure with one fixed sentence that tells nothing, taken as no answer.
static const wchar_t* errorText(hid_device* device)
{
    const wchar_t* text = hid_error(device);
    const bool says = text && *text && std::wcscmp(text, L"hid_error is not implemented yet") != 0;
    return says ? text : L"unknown error";
}

void reportInstrumentLost(hid_device* device)
{
    printf("\r\nThe instrument stopped answering: reading from it failed %d times in a row (%ls). "
           "Check the cable and that the instrument is on, then start again.\r\n",
           ReadFailureGuard::limit, errorText(device));
    fflush(stdout);
}

void reportReadFailed(hid_device* device)
{
    printf("Reading from the instrument failed (%ls). Check the cable and that the instrument is on, "
           "then start again.\r\n",
           errorText(device));
    fflush(stdout);
}

hid_device* openInstrument(Program who)
{
    const wchar_t* serial = who == Program::LogReader ? device_info->serial_number : nullptr;
    return hid_open(device_info->vendor_id, device_info->product_id, serial);
}

void printOpenFailureHint(Program who)
{
    platform::printOpenFailureHint(who == Program::LogReader ? "kxlogreader" : "kxflash");
}

bool identifyInstrument(hid_device* device, Program who)
{
    outputBuffer[0] = 0;
    putRequest(0, static_cast<uint8_t>(Cmd::Identify));
    ReadFailureGuard guard;
    int length = 0;
    while (length <= 0) {
        const int result = sendRequest(device);
        if (who == Program::Flasher && result == -1)
            printf("Send error: %ls\n", errorText(device));
        length = readReply(device, PacketFromPC.Contents, replyTimeoutMs(Cmd::Identify));
        if (guard.lost(length)) {
            reportInstrumentLost(device);
            return false;
        }
        if (PacketFromPC.Contents[0] != static_cast<uint8_t>(Cmd::Identify))
            length = 0;
    }
    return true;
}

void printIdentity()
{
    const QueryRecord& q = PacketFromPC.query;
    printf("\r\n\r\nKestrix+ found \r\n\tID : %02X:%02X:%02X:%02X:%02X \r\n", q.MAC[0], q.MAC[1], q.MAC[2],
           q.MAC[3], q.MAC[4]);
    printf("\tBattery : %d mV\r\n", static_cast<unsigned>(q.Battery));
    printf("\tHW: %d.%d \r\n", q.HW[0], q.HW[1]);
    printf("\tSW: %d.%d \r\n", q.SW[0], q.SW[1]);
    const uint32_t total = q.GlobalTime;
    printf("\tTotal time : %u sec = %u h \r\n\r\n", total, total / 3600);
    fflush(stdout);
}

void shortRead(hid_device* device) { readReply(device, PacketFromPC.Contents, shortReadTimeoutMs); }
