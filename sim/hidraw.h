// The simulated instrument as a Linux hidraw node under umockdev (see
// hidraw.cpp): the transport of hidapi's hidraw back end and of wine's HID
// stack, which the Windows programs use under wine.
#pragma once

#include <umockdev.h>

#include <string>
#include <vector>

namespace sim::hidraw {

// The emulated node: what the instrument's answers and the pty behind the
// node need between the calls that umockdev hands over.
struct Node;
// Adds the instrument with this serial number as /dev/hidraw0 with its USB
// and HID parents, and answers its reads, writes and ioctls until destroy;
// nullptr with a message when umockdev refuses.
Node* create(UMockdevTestbed* testbed, const std::string& serial);
// The serial number of the instrument, once a request reached it.
std::vector<std::string> instrumentsUsed(const Node* node);
// Lets the node go, after the program that used it ended.
void destroy(Node* node);

}  // namespace sim::hidraw
