// The simulated instrument's behaviour, apart from how requests reach it:
// the hidapi link seam (virtual clock) and the emulated USB device (real
// clock) both hand it requests and take its answers from here.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim.h"

namespace sim {

using Request = std::array<uint8_t, wire::reportBytes>;

// An answer on its way to the computer.
struct Reply {
    std::vector<uint8_t> bytes;
    uint64_t dueUs = 0;            // when it is there to be read
    bool missesFirstRead = false;  // a late answer: the read waiting for it gives up first
};

// Sets up the instrument from the environment the first time it is used,
// unless reset() came first.
void ensureConfigured();
// The instrument receives `request` at `nowUs` and queues its answer, if it
// gives one; false when the request was lost on the way (a failed write).
bool receive(const Request& request, uint64_t nowUs);
// The earliest answer not yet read, or nullptr.
Reply* nextReply();
void dropReply();
// True once the instrument has been pulled out.
bool removed();
// True, once, for a read that a fault makes fail.
bool takeReadFailure();
// What the host stack says about the last failure.
const wchar_t* errorText();
// How an interrupt fault reaches the program: raised in this process by
// default (the link seam, and after nullptr), sent to the program's process
// by the emulator; a test may do something else at that request instead.
void deliverInterruptsWith(void (*deliver)(int signal));
// The device is closed: the flash image goes to config().flashOut, if named.
void deviceClosed();

}  // namespace sim
