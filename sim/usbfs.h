// The simulated instrument as a USB device under umockdev (see usbfs.cpp).
#pragma once

#include <umockdev.h>

#include <string>
#include <vector>

namespace sim::usbfs {

// Adds the `number`-th instrument (1 = first, device 1-1 on bus 1) with this
// serial number to the testbed and answers its usbfs ioctls; false with a
// message when umockdev refuses.
bool addInstrument(UMockdevTestbed* testbed, int number, const std::string& serial);
// The serial numbers of the instruments that received a request.
std::vector<std::string> instrumentsUsed();

}  // namespace sim::usbfs
