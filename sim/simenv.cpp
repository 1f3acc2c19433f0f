// The simulator's settings from KXSIM_* environment variables, for the -sim programs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "sim.h"

namespace sim {
namespace {

const char* env(const char* name)
{
    const char* v = std::getenv(name);
    return (v && *v) ? v : nullptr;
}

bool bad(const char* name, const char* value)
{
    std::fprintf(stderr, "simulator: cannot understand %s=%s (see the README)\n", name, value);
    return false;
}

bool number(const std::string& text, unsigned long& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    out = std::strtoul(text.c_str(), &end, 0);
    return *end == '\0';
}

bool faultKind(const std::string& word, Fault& kind)
{
    static const struct { const char* name; Fault kind; } kinds[] = {
        {"timeout", Fault::Timeout}, {"readerror", Fault::ReadError}, {"wrongcode", Fault::WrongCode},
        {"wrongecho", Fault::WrongEcho}, {"late", Fault::Late}, {"crc", Fault::BadCrc}, {"short", Fault::Short}, {"writeerror", Fault::WriteError},
        {"sigint", Fault::Interrupt}, {"sigterm", Fault::Terminate},
    };
    for (const auto& k : kinds)
        if (word == k.name) {
            kind = k.kind;
            return true;
        }
    return false;
}

// "N" or "*" into a page or part selector.
bool selector(const std::string& text, int& out)
{
    unsigned long v = 0;
    if (text == "*")
        out = -1;
    else if (number(text, v))
        out = static_cast<int>(v);
    else
        return false;
    return true;
}

// kind@REQUEST, kind@cCOMMAND or kind@PAGE:PART, each with an optional xTIMES
// (x* = always).
bool parseFault(std::string item, FaultRule& rule)
{
    const size_t at = item.find('@');
    if (at == std::string::npos || !faultKind(item.substr(0, at), rule.kind))
        return false;
    std::string where = item.substr(at + 1);
    const size_t x = where.find('x');
    if (x != std::string::npos) {
        const std::string times = where.substr(x + 1);
        unsigned long t = 0;
        if (times == "*")
            rule.times = std::numeric_limits<uint32_t>::max();
        else if (number(times, t))
            rule.times = static_cast<uint32_t>(t);
        else
            return false;
        where = where.substr(0, x);
    }
    unsigned long command = 0;
    if (where.size() > 1 && where[0] == 'c' && number(where.substr(1), command) && command <= 0xFF) {
        rule.command = static_cast<int>(command);
        return true;
    }
    const size_t colon = where.find(':');
    if (colon == std::string::npos) {
        unsigned long n = 0;
        if (!number(where, n) || n == 0)
            return false;
        rule.request = static_cast<uint32_t>(n);
        return true;
    }
    return selector(where.substr(0, colon), rule.page) && selector(where.substr(colon + 1), rule.part);
}

bool parseFaults(const char* value)
{
    std::string rest = value;
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        FaultRule rule;
        if (!parseFault(rest.substr(0, comma), rule))
            return false;
        config().faults.push_back(rule);
        rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
    }
    return true;
}

bool parseVersion(const char* value, uint8_t* out)
{
    unsigned a = 0, b = 0;
    char tail = 0;
    if (std::sscanf(value, "%u.%u%c", &a, &b, &tail) != 2 || a > 255 || b > 255)
        return false;
    out[0] = static_cast<uint8_t>(a);
    out[1] = static_cast<uint8_t>(b);
    return true;
}

bool parseId(const char* value, uint8_t* out)
{
    unsigned v[5];
    char tail = 0;
    if (std::sscanf(value, "%x:%x:%x:%x:%x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &tail) != 5)
        return false;
    for (int i = 0; i < 5; ++i) {
        if (v[i] > 255)
            return false;
        out[i] = static_cast<uint8_t>(v[i]);
    }
    return true;
}

bool loadLog(const char* path)
{
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    std::vector<uint8_t>& mem = config().logMemory;
    mem.assign(logBytes, 0xFF);
    const bool read = std::fread(mem.data(), 1, mem.size(), f) == mem.size() || !std::ferror(f);
    std::fclose(f);
    return read;
}

bool flag(const char* name) { return env(name) && std::strcmp(env(name), "0") != 0; }

}  // namespace

bool configureFromEnvironment()
{
    Config& c = config();
    bool ok = true;
    c.initFails = flag("KXSIM_INIT_FAIL");
    c.present = !flag("KXSIM_ABSENT");
    c.openFails = flag("KXSIM_OPEN_FAIL");
    c.firmwareOk = !(env("KXSIM_VERDICT") && std::strcmp(env("KXSIM_VERDICT"), "wrong") == 0);
    unsigned long n = 0;
    if (const char* v = env("KXSIM_LOG"); v && !loadLog(v))
        ok = bad("KXSIM_LOG", v);
    if (const char* v = env("KXSIM_ID"); v && !parseId(v, &c.identity[3]))
        ok = bad("KXSIM_ID", v);
    if (const char* v = env("KXSIM_HW"); v && !parseVersion(v, &c.identity[8]))
        ok = bad("KXSIM_HW", v);
    if (const char* v = env("KXSIM_SW"); v && !parseVersion(v, &c.identity[10]))
        ok = bad("KXSIM_SW", v);
    if (const char* v = env("KXSIM_BATTERY"))
        number(v, n) && n <= 0xFFFF ? wire::putLittleEndian(&c.identity[1], static_cast<uint32_t>(n), 2) : void(ok = bad("KXSIM_BATTERY", v));
    if (const char* v = env("KXSIM_TIME"))
        number(v, n) && n <= 0xFFFFFFFFul ? wire::putLittleEndian(&c.identity[12], static_cast<uint32_t>(n), 4) : void(ok = bad("KXSIM_TIME", v));
    if (const char* v = env("KXSIM_FAULTS"); v && !parseFaults(v))
        ok = bad("KXSIM_FAULTS", v);
    if (const char* v = env("KXSIM_REMOVE_AT"))
        number(v, n) ? void(c.removedFrom = static_cast<uint32_t>(n)) : void(ok = bad("KXSIM_REMOVE_AT", v));
    if (const char* v = env("KXSIM_INTEGRITY")) {
        const std::string s = v;
        if (s == "mismatch") c.integrityMismatch = true;
        else if (s != "consistent") ok = bad("KXSIM_INTEGRITY", v);
    }
    if (const char* v = env("KXSIM_FLASH_OUT"))
        c.flashOut = v;
    return ok;
}

}  // namespace sim
