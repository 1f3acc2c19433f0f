// The simulated instrument as a Linux hidraw node under umockdev (see
// hidraw.cpp): the transport of hidapi's hidraw back end and of wine's HID
// stack, which the Windows programs use under wine.
#pragma once

#include <umockdev.h>

#include <string>
#include <vector>

namespace sim::hidraw {

// Adds the instrument with this serial number as /dev/hidraw0 with its USB
// and HID parents, and answers its reads, writes and ioctls; false with a
// message when umockdev refuses.
bool addInstrument(UMockdevTestbed* testbed, const std::string& serial);
// The serial number of the instrument, once a request reached it.
std::vector<std::string> instrumentsUsed();

}  // namespace sim::hidraw
