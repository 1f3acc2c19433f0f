// The system's clock and sleeps, for the programs that talk to a real instrument.
#include "linkclock.h"

#include <chrono>

#include "platform.h"

uint64_t linkNowMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void linkSleepUs(uint32_t us) { platform::osSleepUs(us); }
