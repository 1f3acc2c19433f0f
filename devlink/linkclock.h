// Time as the device link sees it: the monotonic clock and the pauses between
// requests. The real programs get the system's clock and sleeps; the simulated
// instrument supplies a virtual clock instead, so tests never wait for real.
#pragma once

#include <cstdint>

// Milliseconds from an arbitrary start, never going back.
uint64_t linkNowMs();
// Pauses for `us` microseconds as the platform rounds them.
void linkSleepUs(uint32_t us);
