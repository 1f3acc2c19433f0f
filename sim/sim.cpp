// The simulated instrument behind the hidapi calls, and its virtual clock.
#include "sim.h"

#include <hidapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "devlink.h"
#include "linkclock.h"
#include "logsample.h"
#include "platform.h"

struct hid_device_ {
    int unused;
};

namespace sim {
namespace {

using Reply = std::vector<uint8_t>;

struct State {
    Config config;
    Log log;
    bool configured = false;       // reset() or the environment has set things up
    std::deque<Reply> pending;     // replies ready to be read
    std::optional<Reply> late;     // a reply that missed its read
    bool failNextRead = false;
    uint16_t pageCrcPage = 0;      // the page whose running CRC is kept
    uint16_t pageCrcLastPart = 255;
    uint8_t pageCrc = 0;
    hid_device device{};
    hid_device_info info{};
    wchar_t serial[16] = L"KX0001";
};

State& state()
{
    static State s;
    return s;
}

void ensureConfigured()
{
    State& s = state();
    if (s.configured)
        return;
    reset();
    configureFromEnvironment();
}

bool removed()
{
    const State& s = state();
    return s.config.removedFrom != 0 && s.log.requests.size() >= s.config.removedFrom;
}

// The request as the instrument receives it: on Windows hidapi sends the
// bytes after the report number.
std::array<uint8_t, 64> asReceived(const unsigned char* data, size_t length)
{
    std::array<uint8_t, 64> req{};
    const size_t from = platform::requestOffset;
    for (size_t i = from; i < length && i - from < req.size(); ++i)
        req[i - from] = data[i];
    return req;
}

Reply identifyReply()
{
    Reply r(64, 0);
    std::copy(state().config.identity.begin(), state().config.identity.end(), r.begin());
    r[0] = static_cast<uint8_t>(Cmd::Identify);
    return r;
}

Reply readLogReply(const std::array<uint8_t, 64>& req)
{
    Reply r(64, 0);
    std::copy(req.begin(), req.begin() + 4, r.begin());
    const uint16_t page = be16(&req[logreq::page]);
    const uint8_t part = req[logreq::part];
    const std::vector<uint8_t>& mem = state().config.logMemory;
    const size_t at = (static_cast<size_t>(page) - firstLogPage) * 4096 + (part % 128) * 32u;
    for (size_t i = 0; i < 32; ++i) {
        const bool inside = page >= firstLogPage && page <= lastLogPage && at + i < mem.size();
        r[logreq::data + i] = inside ? mem[at + i] : 0xFF;
    }
    r[logreq::crc] = crc8Of(&r[logreq::data], 32);
    return r;
}

Reply writeFlashReply(const std::array<uint8_t, 64>& req)
{
    State& s = state();
    const uint16_t page = be16(&req[flashreq::page]);
    const uint8_t part = req[flashreq::part] % 128;
    const uint8_t* chunk = &req[flashreq::data];
    const auto [slot, fresh] = s.log.flash.try_emplace(page);
    auto& stored = slot->second;
    if (fresh)
        stored.fill(0xFF);  // erased flash
    std::memcpy(&stored[part * 32u], chunk, 32);
    if (page != s.pageCrcPage || (part == 0 && s.pageCrcLastPart != 0)) {  // a page starts
        s.pageCrcPage = page;
        s.pageCrc = 0;
        s.pageCrcLastPart = 255;
    }
    if (part != s.pageCrcLastPart) {
        for (int i = 0; i < 32; ++i)
            s.pageCrc = CRC8(chunk[i], s.pageCrc);
        s.pageCrcLastPart = part;
    }
    Reply r(64, 0);
    std::copy(req.begin(), req.begin() + 4, r.begin());
    r[flashreq::partCrc] = crc8Of(chunk, 32);
    r[flashreq::pageCrc] = s.pageCrc;
    return r;
}

// CRC-16/CCITT of the stored pages, the instrument's own check of what it holds.
struct Stored {
    uint32_t bytes = 0;
    uint16_t crc = 0xFFFF;
};

Stored storedPages(bool firmwareOnly)
{
    Stored st;
    for (const auto& [page, bytes] : state().log.flash) {
        if (firmwareOnly && page >= firstFlashPage + 128)
            continue;
        for (uint8_t b : bytes) {
            st.crc ^= static_cast<uint16_t>(b << 8);
            for (int k = 0; k < 8; ++k)
                st.crc = static_cast<uint16_t>(st.crc & 0x8000 ? (st.crc << 1) ^ 0x1021 : st.crc << 1);
        }
        st.bytes += 4096;
    }
    return st;
}

void put32(Reply& r, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        r[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void put16(Reply& r, size_t at, uint16_t v)
{
    r[at] = static_cast<uint8_t>(v >> 8);
    r[at + 1] = static_cast<uint8_t>(v);
}

std::optional<Reply> verificationReply(Cmd cmd)
{
    const Config& c = state().config;
    Reply r(64, 0);
    r[0] = static_cast<uint8_t>(cmd);
    if (cmd == Cmd::FirmwareInfo) {
        const Stored fw = storedPages(true);
        put32(r, 1, fw.bytes);
        put16(r, 5, fw.crc);
        r[7] = c.firmwareOk ? 1 : 0;
    } else if (cmd == Cmd::IntegrityInfo) {
        if (c.integrity == Integrity::Silent)
            return std::nullopt;
        const Stored all = storedPages(false);
        put32(r, 1, all.bytes);
        put16(r, 5, all.crc);
        put16(r, 7, c.integrity == Integrity::Mismatch ? static_cast<uint16_t>(all.crc ^ 0x1234) : all.crc);
        if (c.integrity == Integrity::WrongCode)
            r[0] = static_cast<uint8_t>(Cmd::FirmwareInfo);
    } else {
        if (!c.answerWritten)
            return std::nullopt;
        put32(r, 2, storedPages(false).bytes);
        put32(r, 6, 0);
    }
    return r;
}

std::optional<Reply> answer(const std::array<uint8_t, 64>& req)
{
    const auto fixed = state().config.fixedReplies.find(req[0]);
    if (fixed != state().config.fixedReplies.end())
        return fixed->second;
    switch (static_cast<Cmd>(req[0])) {
    case Cmd::Identify: return identifyReply();
    case Cmd::ReadLog: return readLogReply(req);
    case Cmd::WriteFlash: return writeFlashReply(req);
    case Cmd::FirmwareInfo:
    case Cmd::IntegrityInfo:
    case Cmd::WrittenInfo: return verificationReply(static_cast<Cmd>(req[0]));
    case Cmd::Restart: ++state().log.restarts; return std::nullopt;
    }
    return std::nullopt;
}

bool matches(const FaultRule& rule, uint32_t number, const std::array<uint8_t, 64>& req)
{
    if (rule.times == 0)
        return false;
    if (rule.request != 0)
        return rule.request == number;
    const bool paged = req[0] == static_cast<uint8_t>(Cmd::ReadLog) || req[0] == static_cast<uint8_t>(Cmd::WriteFlash);
    if (rule.command >= 0 && rule.command != req[0])
        return false;
    if (rule.page >= 0 && (!paged || rule.page != be16(&req[1])))
        return false;
    if (rule.part >= 0 && (!paged || rule.part != req[3]))
        return false;
    return true;
}

// Applies a fault to the reply of request `number`; the reply may vanish.
void applyFault(Fault kind, const std::array<uint8_t, 64>& req, std::optional<Reply>& reply)
{
    State& s = state();
    if (!reply)
        return;
    Reply& r = *reply;
    switch (kind) {
    case Fault::Timeout: reply.reset(); break;
    case Fault::ReadError: reply.reset(); s.failNextRead = true; break;
    case Fault::WrongCode: r[0] = static_cast<uint8_t>(r[0] == 0x55 ? 0x56 : 0x55); break;
    case Fault::WrongEcho: r[3] = static_cast<uint8_t>(r[3] ^ 1); break;
    case Fault::Late: s.late = r; reply.reset(); break;
    case Fault::BadCrc: r[req[0] == static_cast<uint8_t>(Cmd::WriteFlash) ? flashreq::partCrc : logreq::crc] ^= 0x5A; break;
    case Fault::Short: r.resize(20); break;
    case Fault::WriteError: break;  // handled before the instrument sees the request
    }
}

void advanceClock(uint64_t us) { state().log.nowUs += us; }

}  // namespace

Config& config() { return state().config; }
Log& log() { return state().log; }

std::array<uint8_t, 19> defaultIdentity()
{
    // code, battery 3600 mV, ID 01:A2:02:0F:FF, HW 1.8, SW 2.5, 7200 s, logbook, logo
    return {2, 0x10, 0x0E, 0x01, 0xA2, 0x02, 0x0F, 0xFF, 1, 8, 2, 5, 0x20, 0x1C, 0x00, 0x00, 0x00, 0x10, 0x01};
}

void reset()
{
    State& s = state();
    s.config = Config{};
    s.config.identity = defaultIdentity();
    s.config.logMemory = sampleLog();
    s.log = Log{};
    s.pending.clear();
    s.late.reset();
    s.failNextRead = false;
    s.pageCrcPage = 0;
    s.pageCrcLastPart = 255;
    s.pageCrc = 0;
    s.configured = true;
}

std::vector<uint8_t> flashImage()
{
    const auto& flash = state().log.flash;
    if (flash.empty())
        return {};
    const uint16_t last = flash.rbegin()->first;
    std::vector<uint8_t> image(static_cast<size_t>(last - firstFlashPage + 1) * 4096, 0xFF);
    for (const auto& [page, bytes] : flash)
        if (page >= firstFlashPage)
            std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<long>(page - firstFlashPage) * 4096);
    return image;
}

}  // namespace sim

using namespace sim;

uint64_t linkNowMs() { return state().log.nowUs / 1000; }

void linkSleepUs(uint32_t us)
{
    const uint32_t slept = platform::effectiveSleepUs(us);
    ++state().log.sleeps;
    state().log.sleptUs += slept;
    advanceClock(slept);
}

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void)
{
    ensureConfigured();
    ++state().log.inits;
    return state().config.initFails ? -1 : 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void)
{
    ++state().log.exits;
    return 0;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    ensureConfigured();
    State& s = state();
    ++s.log.enumerations;
    if (!s.config.present || vendor_id != kxVendorId || product_id != kxProductId)
        return nullptr;
    s.info = hid_device_info{};
    s.info.path = const_cast<char*>("sim:kx+");
    s.info.vendor_id = kxVendorId;
    s.info.product_id = kxProductId;
    s.info.serial_number = s.serial;
    return &s.info;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info*) {}

hid_device* HID_API_EXPORT HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id,
                                                 const wchar_t* serial_number)
{
    ensureConfigured();
    State& s = state();
    s.log.openedWithSerial = serial_number != nullptr;
    s.log.openedSerial = serial_number ? serial_number : L"";
    if (!s.config.present || s.config.openFails || vendor_id != kxVendorId || product_id != kxProductId)
        return nullptr;
    ++s.log.opens;
    return &s.device;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device*, const unsigned char* data, size_t length)
{
    State& s = state();
    const std::array<uint8_t, 64> req = asReceived(data, length);
    s.log.requests.push_back(req);
    if (platform::requestOffset == 1 && data[0] != 0)
        ++s.log.numberedReports;  // the instrument uses unnumbered reports
    if (removed())
        return -1;
    const uint32_t number = static_cast<uint32_t>(s.log.requests.size());
    const auto rule = std::find_if(s.config.faults.begin(), s.config.faults.end(),
                                   [&](const FaultRule& f) { return matches(f, number, req); });
    if (rule != s.config.faults.end() && rule->kind == Fault::WriteError) {
        --rule->times;
        return -1;
    }
    std::optional<Reply> reply = answer(req);
    if (rule != s.config.faults.end()) {
        --rule->times;
        applyFault(rule->kind, req, reply);
    }
    if (reply)
        s.pending.push_back(*reply);
    return static_cast<int>(length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device*, unsigned char* data, size_t length, int milliseconds)
{
    State& s = state();
    ++s.log.reads;
    if (removed() || s.failNextRead) {
        s.failNextRead = false;
        advanceClock(1000);
        return -1;
    }
    if (s.pending.empty()) {
        if (s.late) {
            s.pending.push_back(*s.late);
            s.late.reset();
        }
        advanceClock(static_cast<uint64_t>(milliseconds) * 1000);
        return 0;
    }
    const Reply reply = s.pending.front();
    s.pending.pop_front();
    const size_t n = std::min(length, reply.size());
    std::memcpy(data, reply.data(), n);
    advanceClock(1000);
    return static_cast<int>(n);
}

const wchar_t* HID_API_EXPORT_CALL hid_error(hid_device*)
{
    return removed() ? L"the instrument was disconnected" : state().config.errorText.c_str();
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device*)
{
    State& s = state();
    ++s.log.closes;
    if (s.config.flashOut.empty())
        return;
    const std::vector<uint8_t> image = flashImage();
    if (FILE* f = std::fopen(s.config.flashOut.c_str(), "wb")) {
        std::fwrite(image.data(), 1, image.size(), f);
        std::fclose(f);
    }
}

}  // extern "C"
