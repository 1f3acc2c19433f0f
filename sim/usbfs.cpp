// The simulated instrument behind the kernel's USB device interface
// (usbfs), emulated with umockdev: a program started under the launcher
// (kxemu.cpp) finds the instrument with the real hidapi and libusb, which
// send it URBs through ioctls on /dev/bus/usb/001/NNN. The instrument's
// behaviour is the same model as behind the hidapi link seam; here it runs
// on the real clock.
#include "usbfs.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "emulated.h"
#include "instrument.h"

namespace sim::usbfs {
namespace {

constexpr uint8_t endpointIn = 0x81;
constexpr uint8_t endpointOut = 0x01;

using emulated::reportDescriptor;

std::vector<uint8_t> deviceDescriptor()
{
    return {18, 1, 0x00, 0x02, 0, 0, 0, 64, wire::vendorId & 0xFF, wire::vendorId >> 8, wire::productId & 0xFF,
            wire::productId >> 8, 0x00, 0x01, 1, 2, 3, 1};
}

std::vector<uint8_t> configurationDescriptor()
{
    return {9, 2, 41, 0, 1, 1, 0, 0x80, 50,                                // configuration
            9, 4, 0, 0, 2, 3, 0, 0, 0,                                     // interface: HID, two endpoints
            9, 0x21, 0x11, 0x01, 0, 1, 0x22, sizeof reportDescriptor, 0,  // HID
            7, 5, endpointIn, 3, 64, 0, 1,                                 // interrupt IN
            7, 5, endpointOut, 3, 64, 0, 1};                               // interrupt OUT
}

std::string hex(const std::vector<uint8_t>& bytes) { return emulated::hex(bytes.data(), bytes.size()); }

std::vector<uint8_t> stringDescriptor(const std::string& text)
{
    std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        d.push_back(static_cast<uint8_t>(c));
        d.push_back(0);
    }
    return d;
}

// One URB a program handed over and has not reaped.
struct Urb {
    UMockdevIoctlData* urb = nullptr;     // the usbdevfs_urb in the program's memory
    UMockdevIoctlData* buffer = nullptr;  // its data buffer
    bool done = false;
};

struct Device {
    std::string serial;
    bool used = false;     // received a request
    std::deque<Urb> urbs;  // in the order submitted
    bool gone = false;     // the instrument was pulled out
};

std::vector<Device*> devices;

usbdevfs_urb& header(const Urb& u) { return *reinterpret_cast<usbdevfs_urb*>(u.urb->data); }

void finish(Urb& u, int status, const uint8_t* bytes, size_t n)
{
    usbdevfs_urb& h = header(u);
    const bool control = h.type == USBDEVFS_URB_TYPE_CONTROL;
    const size_t offset = control ? 8 : 0;
    n = std::min(n, static_cast<size_t>(h.buffer_length) - offset);
    if (n > 0)
        umockdev_ioctl_data_update(u.buffer, offset, const_cast<uint8_t*>(bytes), static_cast<gint>(n));
    h.status = status;
    h.actual_length = static_cast<int>(n);
    u.done = true;
}

// Standard and HID requests on endpoint 0: descriptors, and a yes to the rest.
void answerControl(Device& d, Urb& u)
{
    const uint8_t* setup = u.buffer->data;
    const uint8_t type = setup[3];
    const uint8_t index = setup[2];
    std::vector<uint8_t> reply;
    if (setup[1] == 6 && (setup[0] & 0x80)) {  // GET_DESCRIPTOR
        if (type == 1)
            reply = deviceDescriptor();
        else if (type == 2)
            reply = configurationDescriptor();
        else if (type == 3)
            reply = index == 0 ? std::vector<uint8_t>{4, 3, 0x09, 0x04}
                  : index == 1 ? stringDescriptor("kxtools")
                  : index == 2 ? stringDescriptor("KX+ (emulated)")
                               : stringDescriptor(d.serial);
        else if (type == 0x22)
            reply.assign(std::begin(reportDescriptor), std::end(reportDescriptor));
    }
    const size_t wanted = static_cast<size_t>(setup[6] | setup[7] << 8);
    finish(u, 0, reply.data(), std::min(reply.size(), wanted));
}

// A report from the computer: a request for the instrument.
void answerOut(Device& d, Urb& u)
{
    d.used = true;
    Request req{};
    const usbdevfs_urb& h = header(u);
    const size_t n = std::min(static_cast<size_t>(h.buffer_length), req.size());
    std::memcpy(req.data(), u.buffer->data, n);
    if (n != wire::reportBytes) {  // the instrument takes whole reports only
        finish(u, 0, nullptr, 0);
        header(u).actual_length = h.buffer_length;
        return;
    }
    const bool arrived = receive(req, static_cast<uint64_t>(g_get_monotonic_time()));
    finish(u, arrived ? 0 : -EPIPE, nullptr, 0);
    header(u).actual_length = arrived ? static_cast<int>(n) : 0;
}

// Gives a due answer to the oldest IN URB that waits; a fault may make that
// transfer fail instead, which hidapi's libusb back end takes as nothing.
void deliverAnswers(Device& d)
{
    for (Urb& u : d.urbs) {
        if (u.done || header(u).endpoint != endpointIn)
            continue;
        if (takeReadFailure()) {
            finish(u, -EPROTO, nullptr, 0);
            return;
        }
        Reply* r = nextReply();
        if (r && r->missesFirstRead) {
            r->missesFirstRead = false;
            r->dueUs += 1000000;  // a late answer: past any read that waits for it
            r = nextReply();
        }
        if (!r || r->dueUs > static_cast<uint64_t>(g_get_monotonic_time()))
            return;
        finish(u, 0, r->bytes.data(), r->bytes.size());
        dropReply();
        return;
    }
}

void pullOut(Device& d)
{
    d.gone = true;
    for (Urb& u : d.urbs)
        if (!u.done)
            finish(u, -ENODEV, nullptr, 0);
}

gboolean onSubmit(Device& d, UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    if (d.gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    Urb u;
    u.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    const usbdevfs_urb& h = header(u);
    u.buffer = umockdev_ioctl_data_resolve(u.urb, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                           static_cast<gsize>(h.buffer_length), nullptr);
    if (h.type == USBDEVFS_URB_TYPE_CONTROL)
        answerControl(d, u);
    else if (h.endpoint == endpointOut)
        answerOut(d, u);
    d.urbs.push_back(u);
    if (removed())
        pullOut(d);
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
}

gboolean onReap(Device& d, UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    deliverAnswers(d);
    for (auto it = d.urbs.begin(); it != d.urbs.end(); ++it) {
        if (!it->done)
            continue;
        Urb u = *it;
        d.urbs.erase(it);
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
        umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
        umockdev_ioctl_client_complete(client, 0, 0);
        umockdev_ioctl_data_unref(slot);
        umockdev_ioctl_data_unref(u.buffer);
        umockdev_ioctl_data_unref(u.urb);
        return TRUE;
    }
    umockdev_ioctl_client_complete(client, -1, d.gone ? ENODEV : EAGAIN);
    return TRUE;
}

gboolean onDiscard(Device& d, UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    const gulong address = *reinterpret_cast<gulong*>(arg->data);
    for (Urb& u : d.urbs)
        if (!u.done && u.urb->client_addr == address) {
            finish(u, -ENOENT, nullptr, 0);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return TRUE;
}

gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    Device& d = *static_cast<Device*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        guint32 value = USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        umockdev_ioctl_data_update(caps, 0, reinterpret_cast<guint8*>(&value), sizeof value);
        umockdev_ioctl_client_complete(client, 0, 0);
        umockdev_ioctl_data_unref(caps);
        return TRUE;
    }
    case USBDEVFS_GETDRIVER: umockdev_ioctl_client_complete(client, -1, ENODATA); return TRUE;
    case USBDEVFS_SUBMITURB: return onSubmit(d, client, arg);
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: return onReap(d, client, arg);
    case USBDEVFS_DISCARDURB: return onDiscard(d, client, arg);
    default:  // claiming and releasing the interface, resets, halts: done
        umockdev_ioctl_client_complete(client, d.gone ? -1 : 0, d.gone ? ENODEV : 0);
        return TRUE;
    }
}

}  // namespace

bool addInstrument(UMockdevTestbed* testbed, int number, const std::string& serial)
{
    const std::string devnum = std::to_string(number + 1);
    const std::string node = "bus/usb/001/00" + devnum;
    const std::string record = "P: /devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(number) + "\n" +
                               "N: " + node + "\n"
                               "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=001\n"
                               "E: DEVNUM=00" + devnum + "\nE: DEVNAME=/dev/" + node + "\n"
                               "A: busnum=1\\n\nA: devnum=" + devnum + "\\n\nA: speed=12\\n\nA: bConfigurationValue=1\\n\n"
                               "A: idVendor=02ab\\n\nA: idProduct=0031\\n\nA: serial=" + serial + "\\n\n"
                               "H: descriptors=" + hex(deviceDescriptor()) + hex(configurationDescriptor()) + "\n";
    Device* d = new Device;  // lives as long as the emulation
    d->serial = serial;
    devices.push_back(d);
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), d);
    GError* error = nullptr;
    const bool attached = umockdev_testbed_attach_ioctl(testbed, ("/dev/" + node).c_str(), handler, &error) &&
                          umockdev_testbed_add_from_string(testbed, record.c_str(), &error);
    if (error) {
        g_printerr("kxemu: cannot emulate the instrument: %s\n", error->message);
        g_error_free(error);
    }
    return attached;
}

std::vector<std::string> instrumentsUsed()
{
    std::vector<std::string> used;
    for (const Device* d : devices)
        if (d->used)
            used.push_back(d->serial);
    return used;
}

}  // namespace sim::usbfs
