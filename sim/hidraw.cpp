// The simulated instrument behind a Linux hidraw node, emulated with
// umockdev: a program (hidapi's hidraw back end, or wine's HID driver serving
// the Windows programs) finds it through udev, writes each request as one
// report with the report number 0 in front, and polls the node before it
// reads a 64-byte reply. The instrument is the same model as behind the link
// seam and the usbfs device, on the real clock.
//
// umockdev hands reads, writes and ioctls of the node to this process, but not
// poll(): the program polls the pty that stands behind the node. One byte is
// written into the pty for an answer that is due, and taken back when the
// answer is read, so poll tells exactly when there is something to read. The
// read handler never blocks: the preload serializes the calls on one node.
#include "hidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "emulated.h"
#include "instrument.h"

namespace sim::hidraw {
namespace {

using emulated::hex;
using emulated::reportDescriptor;

const std::string usbPath = "/devices/pci0000:00/0000:00:14.0/usb1/1-1";
const std::string hidPath = usbPath + "/1-1:1.0/0003:02AB:0031.0001";
const std::string rawPath = hidPath + "/hidraw/hidraw0";

}  // namespace

struct Node {
    UMockdevTestbed* testbed = nullptr;
    int master = -1;        // the pty behind the node
    int slave = -1;         // our own end of its other side, to take a byte back
    bool signalled = false; // a byte tells that an answer is due
    bool gone = false;      // pulled out: a udev remove event went out
    bool used = false;
    std::string serial;
    UMockdevIoctlBase* handler = nullptr;
};

namespace {

uint64_t now() { return static_cast<uint64_t>(g_get_monotonic_time()); }

bool answerDue()
{
    const Reply* r = nextReply();
    return r && r->dueUs <= now();
}

void signalIfDue(Node& node)
{
    const char one = 1;
    if (!node.signalled && answerDue() && write(node.master, &one, 1) == 1)
        node.signalled = true;
}

gboolean onTimer(gpointer data)
{
    signalIfDue(*static_cast<Node*>(data));
    return G_SOURCE_REMOVE;
}

// Wakes a poll when the next answer is due.
void scheduleSignal(Node& node)
{
    const Reply* r = nextReply();
    if (r)
        g_timeout_add(r->dueUs > now() ? static_cast<guint>((r->dueUs - now() + 999) / 1000) : 0, onTimer, &node);
}

// The instrument is pulled out: udev says so, and the node fails from now on.
void pullOut(Node& node)
{
    node.gone = true;
    umockdev_testbed_uevent(node.testbed, ("/sys" + rawPath).c_str(), "remove");
    const char one = 1;
    if (!node.signalled && write(node.master, &one, 1) == 1)  // a poll wakes and the read fails
        node.signalled = true;
}

gboolean onWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    Node& node = *static_cast<Node*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const size_t n = static_cast<size_t>(arg->data_len);
    if (node.gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    node.used = true;
    // The report number 0, then the request; the instrument takes whole reports only.
    if (n == wire::reportBytes + 1 && arg->data[0] == 0) {
        Request req{};
        std::memcpy(req.data(), arg->data + 1, req.size());
        receive(req, now());
        if (Reply* r = nextReply(); r && r->missesFirstRead) {
            r->missesFirstRead = false;
            r->dueUs += 1000000;  // a late answer: past any read that waits for it
        }
        if (removed()) {
            pullOut(node);
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        scheduleSignal(node);
    }
    umockdev_ioctl_client_complete(client, static_cast<long>(n), 0);
    return TRUE;
}

gboolean onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    Node& node = *static_cast<Node*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (node.gone || takeReadFailure()) {
        umockdev_ioctl_client_complete(client, -1, node.gone ? ENODEV : EIO);
        return TRUE;
    }
    if (!answerDue()) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return TRUE;
    }
    const Reply* r = nextReply();
    const size_t n = std::min(r->bytes.size(), static_cast<size_t>(arg->data_len));
    umockdev_ioctl_data_update(arg, 0, const_cast<uint8_t*>(r->bytes.data()), static_cast<gint>(n));
    dropReply();
    char byte;
    if (node.signalled && read(node.slave, &byte, 1) == 1)
        node.signalled = false;
    signalIfDue(node);
    scheduleSignal(node);
    umockdev_ioctl_client_complete(client, static_cast<long>(n), 0);
    return TRUE;
}

void answerIoctl(UMockdevIoctlClient* client, const void* bytes, size_t n)
{
    UMockdevIoctlData* out = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, n, nullptr);
    umockdev_ioctl_data_update(out, 0, static_cast<guint8*>(const_cast<void*>(bytes)), static_cast<gint>(n));
    umockdev_ioctl_client_complete(client, 0, 0);
    umockdev_ioctl_data_unref(out);
}

// The descriptor and the identity; anything else (wine probes evdev) is no hidraw ioctl.
gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer)
{
    const gulong request = umockdev_ioctl_client_get_request(client);
    if (request == HIDIOCGRDESCSIZE) {
        const int size = sizeof reportDescriptor;
        answerIoctl(client, &size, sizeof size);
    } else if (request == HIDIOCGRDESC) {
        hidraw_report_descriptor d{};
        d.size = sizeof reportDescriptor;
        std::memcpy(d.value, reportDescriptor, sizeof reportDescriptor);
        answerIoctl(client, &d, sizeof d);
    } else if (request == HIDIOCGRAWINFO) {
        hidraw_devinfo info{};
        info.bustype = 3;  // USB
        info.vendor = static_cast<__s16>(wire::vendorId);
        info.product = static_cast<__s16>(wire::productId);
        answerIoctl(client, &info, sizeof info);
    } else {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
    }
    return TRUE;
}

// The chain udev shows: USB device, its interface, the HID device (whose
// uevent tells ids, name and serial), and the hidraw node with its device link.
std::string record(const std::string& serial)
{
    return "P: " + rawPath + "\nN: hidraw0\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/hidraw0\n"
           "L: device=../../../0003:02AB:0031.0001\n\n"
           "P: " + hidPath + "\nE: SUBSYSTEM=hid\nE: DRIVER=hid-generic\nE: HID_ID=0003:000002AB:00000031\n"
           "E: HID_NAME=kxtools KX+ (emulated)\nE: HID_PHYS=usb-0000:00:14.0-1/input0\nE: HID_UNIQ=" + serial + "\n"
           "E: MODALIAS=hid:b0003g0001v000002ABp00000031\n"
           "H: report_descriptor=" + hex(reportDescriptor, sizeof reportDescriptor) + "\n\n"
           "P: " + usbPath + "/1-1:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=usbhid\n"
           "E: INTERFACE=3/0/0\nA: bInterfaceNumber=00\\n\nA: bInterfaceClass=03\\n\n\n"
           "P: " + usbPath + "\nN: bus/usb/001/002\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
           "E: BUSNUM=001\nE: DEVNUM=002\nE: PRODUCT=2ab/31/100\nA: idVendor=02ab\\n\nA: idProduct=0031\\n\n"
           "A: bcdDevice=0100\\n\nA: manufacturer=kxtools\\n\nA: product=KX+ (emulated)\\n\nA: serial=" + serial +
           "\\n\nA: busnum=1\\n\nA: devnum=2\\n\n";
}

}  // namespace

Node* create(UMockdevTestbed* testbed, const std::string& serial)
{
    GError* error = nullptr;
    Node* node = new Node;
    node->testbed = testbed;
    node->serial = serial;
    node->handler = umockdev_ioctl_base_new();
    g_signal_connect(node->handler, "handle-ioctl", G_CALLBACK(onIoctl), node);
    g_signal_connect(node->handler, "handle-read", G_CALLBACK(onRead), node);
    g_signal_connect(node->handler, "handle-write", G_CALLBACK(onWrite), node);
    if (umockdev_testbed_add_from_string(testbed, record(serial).c_str(), &error) &&
        umockdev_testbed_attach_ioctl(testbed, "/dev/hidraw0", node->handler, &error)) {
        node->master = umockdev_testbed_get_dev_fd(testbed, "/dev/hidraw0");
        termios raw{};
        tcgetattr(node->master, &raw);
        cfmakeraw(&raw);  // every byte reaches poll at once, no line editing
        tcsetattr(node->master, TCSANOW, &raw);
        node->slave = open(ptsname(node->master), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (node->slave >= 0)
            return node;
    }
    g_printerr("kxemu: cannot emulate the instrument as hidraw: %s\n", error ? error->message : "no pty behind the node");
    if (error)
        g_error_free(error);
    destroy(node);
    return nullptr;
}

std::vector<std::string> instrumentsUsed(const Node* node)
{
    return node && node->used ? std::vector<std::string>{node->serial} : std::vector<std::string>{};
}

void destroy(Node* node)
{
    if (!node)
        return;
    if (node->slave >= 0)
        close(node->slave);
    if (node->handler)
        g_object_unref(node->handler);
    delete node;
}

}  // namespace sim::hidraw
