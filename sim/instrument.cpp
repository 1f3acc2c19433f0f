// The simulated instrument: identification, a log memory, a flash memory
// that acknowledges what it receives, and the checks of what it stored.
// Faults are placed deterministically, by request number or by command, page
// and part, so every failure a test provokes happens the same way each run.
#include "instrument.h"

#include <algorithm>
#include <iterator>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>

#include "logsample.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

struct State {
    Config config;
    Log log;
    Flash flash;
    Clock clock;
    bool configured = false;   // reset() or the environment has set things up
    std::deque<Reply> pending;  // answers not yet read, in the order they come
    bool failNextRead = false;
    uint16_t pageCrcPage = 0;  // the page whose running CRC is kept
    uint16_t pageCrcLastPart = 255;
    uint8_t pageCrc = 0;
    size_t scriptAt = 0;
};

State& state()
{
    static State s;
    return s;
}

void put16(Bytes& r, size_t at, uint16_t v) { wire::putBigEndian(&r[at], v, 2); }
void put32(Bytes& r, size_t at, uint32_t v) { wire::putBigEndian(&r[at], v, 4); }

Bytes identifyReply()
{
    Bytes r(wire::reportBytes, 0);
    std::copy(state().config.identity.begin(), state().config.identity.end(), r.begin());
    r[0] = wire::command::identify;
    return r;
}

Bytes readLogReply(const Request& req)
{
    namespace at = wire::readLog;
    Bytes r(wire::reportBytes, 0);
    std::copy(req.begin(), req.begin() + 4, r.begin());
    const uint16_t page = wire::pageOf(req.data());
    const size_t part = req[at::part] % wire::partsPerPage;
    const Bytes& mem = state().config.logMemory;
    const size_t from = (static_cast<size_t>(page) - wire::firstLogPage) * wire::pageBytes + part * wire::partBytes;
    const bool inside = page >= wire::firstLogPage && page <= wire::lastLogPage;
    for (size_t i = 0; i < wire::partBytes; ++i)
        r[at::dataAt + i] = inside && from + i < mem.size() ? mem[from + i] : 0xFF;
    r[at::crcAt] = wire::crc8(&r[at::dataAt], wire::partBytes);
    return r;
}

// The running page CRC restarts when another page begins, or when part 0
// comes again after other parts of the same page.
void foldIntoPageCrc(uint16_t page, uint8_t part, const uint8_t* chunk)
{
    State& s = state();
    if (page != s.pageCrcPage || (part == 0 && s.pageCrcLastPart != 0)) {
        s.pageCrcPage = page;
        s.pageCrc = 0;
        s.pageCrcLastPart = 255;
    }
    if (part != s.pageCrcLastPart) {
        s.pageCrc = wire::crc8(chunk, wire::partBytes, s.pageCrc);
        s.pageCrcLastPart = part;
    }
}

Bytes writeFlashReply(const Request& req)
{
    namespace at = wire::writeFlash;
    const uint16_t page = wire::pageOf(req.data());
    const uint8_t part = req[at::part] % wire::partsPerPage;
    const uint8_t* chunk = &req[at::dataAt];
    const auto [slot, fresh] = state().flash.try_emplace(page);
    if (fresh)
        slot->second.fill(0xFF);  // erased flash
    std::memcpy(&slot->second[part * wire::partBytes], chunk, wire::partBytes);
    foldIntoPageCrc(page, part, chunk);
    Bytes r(wire::reportBytes, 0);
    std::copy(req.begin(), req.begin() + 4, r.begin());
    r[at::partCrcAt] = wire::crc8(chunk, wire::partBytes);
    r[at::pageCrcAt] = state().pageCrc;
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
    for (const auto& [page, bytes] : state().flash) {
        if (firmwareOnly && page >= wire::firstFlashPage + wire::firmwarePages)
            continue;
        for (uint8_t b : bytes) {
            st.crc ^= static_cast<uint16_t>(b << 8);
            for (int k = 0; k < 8; ++k)
                st.crc = static_cast<uint16_t>(st.crc & 0x8000 ? (st.crc << 1) ^ 0x1021 : st.crc << 1);
        }
        st.bytes += wire::pageBytes;
    }
    return st;
}

std::optional<Bytes> checkReply(uint8_t code)
{
    const Config& c = state().config;
    Bytes r(wire::reportBytes, 0);
    r[0] = code;
    if (code == wire::command::firmwareInfo) {
        const Stored fw = storedPages(true);
        put32(r, 1, fw.bytes);
        put16(r, 5, fw.crc);
        r[7] = c.firmwareOk ? 1 : 0;
    } else if (code == wire::command::integrityInfo) {
        const Stored all = storedPages(false);
        put32(r, 1, all.bytes);
        put16(r, 5, all.crc);
        put16(r, 7, c.integrityMismatch ? static_cast<uint16_t>(all.crc ^ 0x1234) : all.crc);
    } else {
        put32(r, 2, storedPages(false).bytes);
        put32(r, 6, 0);
    }
    return r;
}

std::optional<Bytes> answer(const Request& req)
{
    namespace cmd = wire::command;
    const auto fixed = state().config.fixedReplies.find(req[0]);
    if (fixed != state().config.fixedReplies.end())
        return fixed->second;
    switch (req[0]) {
    case cmd::identify: return identifyReply();
    case cmd::readLog: return readLogReply(req);
    case cmd::writeFlash: return writeFlashReply(req);
    case cmd::firmwareInfo:
    case cmd::integrityInfo:
    case cmd::writtenInfo: return checkReply(req[0]);
    case cmd::restart: ++state().log.restarts; return std::nullopt;
    default: return std::nullopt;
    }
}

bool paged(uint8_t code) { return code == wire::command::readLog || code == wire::command::writeFlash; }

bool matches(const FaultRule& rule, uint32_t number, const Request& req)
{
    if (rule.times == 0)
        return false;
    if (rule.request != 0)
        return rule.request == number;
    if (rule.command >= 0 && rule.command != req[0])
        return false;
    if (rule.page >= 0 && (!paged(req[0]) || rule.page != wire::pageOf(req.data())))
        return false;
    if (rule.part >= 0 && (!paged(req[0]) || rule.part != req[3]))
        return false;
    return true;
}

// What a fault does to the answer; the answer may vanish.
void applyFault(const FaultRule& rule, const Request& req, std::optional<Reply>& reply)
{
    if (!reply)
        return;
    Bytes& r = reply->bytes;
    switch (rule.kind) {
    case Fault::Timeout: reply.reset(); break;
    case Fault::ReadError: reply.reset(); state().failNextRead = true; break;
    case Fault::WrongCode: r[0] = static_cast<uint8_t>(r[0] == 0x55 ? 0x56 : 0x55); break;
    case Fault::WrongEcho: r[3] = static_cast<uint8_t>(r[3] ^ 1); break;
    case Fault::Late: reply->missesFirstRead = true; break;
    case Fault::BadCrc:
        r[req[0] == wire::command::writeFlash ? wire::writeFlash::partCrcAt : wire::readLog::crcAt] ^= 0x5A;
        break;
    case Fault::Short: r.resize(std::min<size_t>(r.size(), rule.keep)); break;
    case Fault::WriteError: break;  // the request never arrived
    case Fault::Interrupt:
    case Fault::Terminate: break;   // the program is interrupted, the instrument answers
    case Fault::Count: break;
    }
}

// The fault rule that strikes this request, spent by one.
std::optional<FaultRule> faultFor(const Request& req)
{
    const uint32_t number = static_cast<uint32_t>(state().log.requests.size());
    auto& rules = state().config.faults;
    const auto rule = std::find_if(rules.begin(), rules.end(), [&](const FaultRule& f) { return matches(f, number, req); });
    if (rule == rules.end())
        return std::nullopt;
    --rule->times;
    return *rule;
}

// What becomes of one request's answer.
struct Steering {
    std::optional<FaultRule> fault;
    std::optional<Bytes> replacement;  // an answer given in place of the instrument's
};

// The faults a byte source can choose, by the byte's value 1..8. Stored fuzz
// inputs depend on this table: add new kinds at its end, or to the kinds it
// leaves out, never in between.
constexpr Fault scriptFaults[] = {Fault::Timeout, Fault::ReadError, Fault::WrongCode, Fault::WrongEcho,
                                  Fault::Late,    Fault::BadCrc,    Fault::Short,     Fault::WriteError};
// Left out: a signal would end the fuzzer's own process.
constexpr Fault unscriptedFaults[] = {Fault::Interrupt, Fault::Terminate};
static_assert(std::size(scriptFaults) + std::size(unscriptedFaults) == static_cast<size_t>(Fault::Count),
              "a new fault kind belongs in scriptFaults or unscriptedFaults");

// Steering by a byte source: each request takes one byte. Its value modulo
// 10 leaves the answer as it is (0), strikes it with one of the faults of
// scriptFaults (1..8), or (9) puts in its place an answer of the length the
// next byte gives (modulo 65), made of the bytes after it.
Steering steerByScript()
{
    const Bytes& script = state().config.script;
    size_t& at = state().scriptAt;
    Steering st;
    const uint8_t choice = script[at++] % 10;
    if (choice >= 1 && choice <= std::size(scriptFaults))
        st.fault = FaultRule{scriptFaults[choice - 1]};
    if (choice == 9) {
        const size_t n = at < script.size() ? script[at++] % 65 : 0;
        const size_t from = std::min(at, script.size());
        st.replacement = Bytes(script.begin() + static_cast<long>(from),
                               script.begin() + static_cast<long>(std::min(from + n, script.size())));
        at = from + n;
        state().log.replacements.push_back(*st.replacement);
    }
    return st;
}

void raiseHere(int signal) { std::raise(signal); }
void (*interruptDelivery)(int) = raiseHere;

bool scriptSpent() { return !state().config.script.empty() && state().scriptAt >= state().config.script.size(); }

}  // namespace

std::map<uint8_t, uint32_t> defaultAnswerTimes()
{
    namespace cmd = wire::command;
    return {{cmd::identify, 8000},     {cmd::readLog, 3000},       {cmd::writeFlash, 6000},
            {cmd::firmwareInfo, 700000}, {cmd::integrityInfo, 2600000}, {cmd::writtenInfo, 20000}};
}

Config& config() { return state().config; }
Log& log() { return state().log; }
Flash& flash() { return state().flash; }
Clock& virtualClock() { return state().clock; }

std::array<uint8_t, wire::identityBytes> defaultIdentity()
{
    // code, battery 3600 mV, ID 01:A2:02:0F:FF, HW 1.8, SW 2.5, 7200 s, logbook, logo
    return {2, 0x10, 0x0E, 0x01, 0xA2, 0x02, 0x0F, 0xFF, 1, 8, 2, 5, 0x20, 0x1C, 0x00, 0x00, 0x00, 0x10, 0x01};
}

void reset()
{
    State& s = state();
    s = State{};
    s.config.identity = defaultIdentity();
    s.config.logMemory = sampleLog();
    s.config.answerUs = defaultAnswerTimes();
    s.configured = true;
}

void ensureConfigured()
{
    if (state().configured)
        return;
    reset();
    configureFromEnvironment();
}

bool removed()
{
    const State& s = state();
    return (s.config.removedFrom != 0 && s.log.requests.size() >= s.config.removedFrom) || scriptSpent();
}

bool receive(const Request& req, uint64_t nowUs)
{
    State& s = state();
    s.log.requests.push_back(req);
    if (removed())
        return false;
    const Steering st = s.config.script.empty() ? Steering{faultFor(req), std::nullopt} : steerByScript();
    const Fault kind = st.fault ? st.fault->kind : Fault::Count;
    if (kind == Fault::WriteError)
        return false;
    if (kind == Fault::Interrupt || kind == Fault::Terminate)
        interruptDelivery(kind == Fault::Interrupt ? SIGINT : SIGTERM);
    std::optional<Reply> reply;
    std::optional<Bytes> bytes = st.replacement ? st.replacement : answer(req);
    if (bytes) {
        reply.emplace();
        reply->bytes = std::move(*bytes);
        const auto time = s.config.answerUs.find(req[0]);
        reply->dueUs = nowUs + (time == s.config.answerUs.end() ? 0 : time->second);
    }
    if (st.fault)
        applyFault(*st.fault, req, reply);
    if (reply)
        s.pending.push_back(std::move(*reply));
    return true;
}

// Answers come in the order they are ready.
static std::deque<Reply>::iterator earliest()
{
    auto& pending = state().pending;
    return std::min_element(pending.begin(), pending.end(),
                            [](const Reply& a, const Reply& b) { return a.dueUs < b.dueUs; });
}

Reply* nextReply() { return state().pending.empty() ? nullptr : &*earliest(); }

void dropReply()
{
    if (!state().pending.empty())
        state().pending.erase(earliest());
}

bool takeReadFailure()
{
    const bool fail = state().failNextRead;
    state().failNextRead = false;
    return fail;
}

const wchar_t* errorText() { return removed() ? L"the instrument was disconnected" : state().config.errorText.c_str(); }

std::vector<uint8_t> flashImage()
{
    const auto& flash = state().flash;
    if (flash.empty())
        return {};
    const uint16_t last = flash.rbegin()->first;
    std::vector<uint8_t> image(static_cast<size_t>(last - wire::firstFlashPage + 1) * wire::pageBytes, 0xFF);
    for (const auto& [page, bytes] : flash)
        if (page >= wire::firstFlashPage)
            std::copy(bytes.begin(), bytes.end(),
                      image.begin() + static_cast<long>(page - wire::firstFlashPage) * wire::pageBytes);
    return image;
}

void deliverInterruptsWith(void (*deliver)(int signal)) { interruptDelivery = deliver ? deliver : raiseHere; }

void deviceClosed()
{
    const std::string& out = state().config.flashOut;
    if (out.empty())
        return;
    const std::vector<uint8_t> image = flashImage();
    if (FILE* f = std::fopen(out.c_str(), "wb")) {
        std::fwrite(image.data(), 1, image.size(), f);
        std::fclose(f);
    }
}

}  // namespace sim
