// The hidapi calls the programs make, answered by the simulated instrument
// on a virtual clock: a read waits, in virtual time, for as long as its
// timeout allows, and a pause costs no real time.
#include <hidapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "instrument.h"
#include "linkclock.h"

struct hid_device_ {
    int unused;
};

namespace sim {
namespace {

// What hidapi does with byte 0 of a write. The Windows back end takes it as
// the report number and sends the bytes after it; the libusb back end drops
// a report number of 0 and sends a buffer starting with anything else as it is.
#ifdef _WIN32
constexpr bool reportNumberAlwaysFirst = true;
constexpr uint32_t sleepGranularityUs = 1000;  // the runtime sleeps whole milliseconds
#else
constexpr bool reportNumberAlwaysFirst = false;
constexpr uint32_t sleepGranularityUs = 1;
#endif

struct Seam {
    hid_device device{};
    hid_device_info info{};
    wchar_t serial[16] = L"KX0001";
    uint8_t lastCommand = 0;
};

Seam seam;

void advanceUs(uint64_t us) { virtualClock().nowUs += us; }

// How many leading bytes of a write are the report number, not sent on.
size_t reportNumberBytes(const unsigned char* data) { return (reportNumberAlwaysFirst || data[0] == 0) ? 1 : 0; }

Request asReceived(const unsigned char* data, size_t length)
{
    const size_t from = reportNumberBytes(data);
    Request req{};
    for (size_t i = from; i < length && i - from < req.size(); ++i)
        req[i - from] = data[i];
    return req;
}

[[noreturn]] void waitsForEver()
{
    std::fprintf(stderr, "simulator: a read without a timeout waits for an answer that never comes\n");
    std::abort();
}

}  // namespace
}  // namespace sim

using namespace sim;

uint64_t linkNowMs() { return virtualClock().nowUs / 1000; }

void linkSleepUs(uint32_t us)
{
    const uint32_t slept = us / sleepGranularityUs * sleepGranularityUs;
    ++virtualClock().sleeps;
    virtualClock().sleptUs += slept;
    log().pausesUs.push_back(slept);
    advanceUs(slept);
}

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void)
{
    ensureConfigured();
    ++log().inits;
    return config().initFails ? -1 : 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void)
{
    ++log().exits;
    return 0;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    ensureConfigured();
    ++log().enumerations;
    if (!config().present || vendor_id != wire::vendorId || product_id != wire::productId)
        return nullptr;
    seam.info = hid_device_info{};
    seam.info.path = const_cast<char*>("sim:kx+");
    seam.info.vendor_id = wire::vendorId;
    seam.info.product_id = wire::productId;
    seam.info.serial_number = seam.serial;
    return &seam.info;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info*) {}

hid_device* HID_API_EXPORT HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id,
                                                 const wchar_t* serial_number)
{
    ensureConfigured();
    log().openedWithSerial = serial_number != nullptr;
    log().openedSerial = serial_number ? serial_number : L"";
    if (!config().present || config().openFails || vendor_id != wire::vendorId || product_id != wire::productId)
        return nullptr;
    if (serial_number && std::wcscmp(serial_number, seam.serial) != 0)
        return nullptr;
    ++log().opens;
    seam.lastCommand = 0;
    return &seam.device;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device*, const unsigned char* data, size_t length)
{
    if (length == 0)
        return -1;
    if (reportNumberAlwaysFirst && data[0] != 0)
        ++log().numberedReports;  // the instrument uses unnumbered reports
    const Request req = asReceived(data, length);
    seam.lastCommand = req[0];
    // The libusb back end sends what it is given; the instrument takes only
    // whole reports. The Windows back end pads a short report itself.
    const size_t sent = length - reportNumberBytes(data);
    if (!reportNumberAlwaysFirst && sent != wire::reportBytes) {
        log().requests.push_back(req);
        return static_cast<int>(length);
    }
    return receive(req, virtualClock().nowUs) ? static_cast<int>(length) : -1;
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device*, unsigned char* data, size_t length, int milliseconds)
{
    ++log().reads;
    log().readCalls.push_back({seam.lastCommand, milliseconds});
    if (removed() || takeReadFailure()) {
        advanceUs(1000);
        return -1;
    }
    const bool waits = milliseconds >= 0;
    const uint64_t limitUs = waits ? static_cast<uint64_t>(milliseconds) * 1000 : 0;
    Reply* reply = nextReply();
    if (!reply) {
        if (!waits)
            waitsForEver();
        advanceUs(limitUs);
        return 0;
    }
    if (reply->missesFirstRead && waits) {
        reply->missesFirstRead = false;
        advanceUs(limitUs);
        reply->dueUs = std::max(reply->dueUs, virtualClock().nowUs + 1000);
        return 0;
    }
    const uint64_t waitUs = reply->dueUs > virtualClock().nowUs ? reply->dueUs - virtualClock().nowUs : 0;
    if (waits && waitUs > limitUs) {
        advanceUs(limitUs);
        return 0;
    }
    advanceUs(waitUs);
    const size_t n = std::min(length, reply->bytes.size());
    if (n > 0)
        std::memcpy(data, reply->bytes.data(), n);
    dropReply();
    return static_cast<int>(n);
}

const wchar_t* HID_API_EXPORT_CALL hid_error(hid_device*) { return errorText(); }

void HID_API_EXPORT HID_API_CALL hid_close(hid_device*)
{
    ++log().closes;
    deviceClosed();
}

}  // extern "C"
