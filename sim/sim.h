// The simulated KX+: it defines the hidapi calls that the programs make and
// answers as the instrument does, from a log memory and a flash memory of its
// own. Faults are placed deterministically, by request number or by command,
// page and part, so every failure a test provokes happens the same way each run.
//
// The instrument takes as long to answer as a real one, and a reply comes to
// a read only when the read's timeout lets it wait that long, so the
// programs' timeouts matter here as they do on the cable.
//
// Tests set it up through config() after reset(); the -sim programs read the
// KXSIM_* environment variables (see the README) on their first hidapi call.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "wire.h"

namespace sim {

enum class Fault {
    Timeout,    // the reply never comes
    ReadError,  // the read that should bring the reply fails with -1
    WrongCode,  // the reply carries another command code
    WrongEcho,  // the reply echoes another part
    Late,       // the reply misses the read that waits for it and arrives at the next one
    BadCrc,     // the CRC byte of the reply is wrong (command 14 byte 4, command 15 byte 36)
    Short,      // only the first 20 bytes of the reply arrive
    WriteError, // the write fails with -1 and the request is lost
    Interrupt,  // the program gets SIGINT (Ctrl-C) as the request arrives; the answer comes as usual
    Terminate,  // the same with SIGTERM
    Count       // how many kinds there are; keep it last
};

// Where a fault strikes: at request number `request` (1 = the first request of
// the run), or, with `request` 0, at every request of `command` whose page and
// part match (-1 matches any). It strikes `times` times, then is spent. A
// short answer keeps its first `keep` bytes.
struct FaultRule {
    Fault kind = Fault::Timeout;
    uint32_t request = 0;
    int command = -1;
    int page = -1;
    int part = -1;
    uint32_t times = 1;
    uint32_t keep = 20;
};

using wire::firstFlashPage;
using wire::firstLogPage;
using wire::lastLogPage;
using wire::logBytes;

// How long the instrument takes to answer each command, in microseconds:
// reading the log and writing flash are quick, checking the stored firmware
// and the whole flash takes it a while.
std::map<uint8_t, uint32_t> defaultAnswerTimes();

struct Config {
    bool initFails = false;
    bool present = true;
    bool openFails = false;
    std::array<uint8_t, wire::identityBytes> identity{};  // bytes 0..18 of the identification reply
    std::vector<uint8_t> logMemory;      // log pages 256..511, 1 MiB
    std::vector<FaultRule> faults;
    uint32_t removedFrom = 0;            // from this request on every write and read fails; 0 = never
    std::wstring errorText = L"";        // what hid_error says while the instrument is present
    bool firmwareOk = true;              // verdict byte of command 17
    bool integrityMismatch = false;      // command 18 finds firmware and graphics inconsistent
    std::string flashOut;                // file that receives the flash image when the device is closed
    std::map<uint8_t, std::vector<uint8_t>> fixedReplies;  // replies given as they stand, by command
    std::map<uint8_t, uint32_t> answerUs;  // answer time by command (defaultAnswerTimes())
    // When not empty, each request takes the bytes that say what becomes of
    // its answer from here (see steerByScript in the simulator); once they are
    // used up, the instrument is pulled out.
    std::vector<uint8_t> script;
};

// A read as the programs made it: the command of the latest request and the
// read's timeout in milliseconds.
struct ReadCall {
    uint8_t command = 0;
    int timeoutMs = 0;
};

// What the programs did to the instrument, call by call.
struct Log {
    std::vector<std::array<uint8_t, 64>> requests;  // every write, framed as the instrument sees a request
    uint32_t numberedReports = 0;                   // writes whose report number was not 0 (Windows)
    uint32_t reads = 0;
    std::vector<ReadCall> readCalls;
    std::vector<uint32_t> pausesUs;                 // every pause the programs asked for, as the platform makes it
    uint32_t opens = 0, closes = 0, inits = 0, exits = 0, enumerations = 0;
    std::wstring openedSerial;
    bool openedWithSerial = false;
    uint32_t restarts = 0;                          // command 11 received
    std::vector<std::vector<uint8_t>> replacements; // answers a byte source gave in place of the instrument's
};

// The instrument's flash memory: the pages command 15 wrote, erased (0xFF) elsewhere.
using Flash = std::map<uint16_t, std::array<uint8_t, 4096>>;

// The virtual clock of the link seam. It starts far from 0, so that a time
// measured from the wrong origin shows.
struct Clock {
    static constexpr uint64_t startUs = 1000ull * 86400 * 1000000;  // 1000 days
    uint64_t nowUs = startUs;
    uint64_t sleptUs = 0;  // the pauses the programs got, as the platform makes them
    uint32_t sleeps = 0;
    uint64_t elapsedUs() const { return nowUs - startUs; }
};

Config& config();
Log& log();
Flash& flash();
Clock& virtualClock();
// Default instrument, sample log, no faults, empty log; the environment is not read.
void reset();
// Reads the KXSIM_* variables into the configuration; false with a message on
// standard error when one of them cannot be understood.
bool configureFromEnvironment();

// An identification reply of a model that kxflash serves: ID 01:A2:02:0F:FF,
// 3600 mV, HW 1.8, SW 2.5, 7200 s.
std::array<uint8_t, wire::identityBytes> defaultIdentity();

// The flash image from page 3454 on, up to the highest page written (unwritten bytes 0xFF).
std::vector<uint8_t> flashImage();

}  // namespace sim
