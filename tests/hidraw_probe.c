/* hidapi's hidraw back end against the instrument emulated as a hidraw node
   (kxemu --hidraw): it must find the instrument with its serial number, open
   it and get an identification. The programs link the libusb back end; this
   shows that the node, its udev parents and the udev rule's hidraw line are
   what that back end expects. */
#include <hidapi.h>
#include <stdio.h>
#include <wchar.h>

int main(void)
{
    if (hid_init() != 0)
        return 1;
    struct hid_device_info* found = hid_enumerate(0x02ab, 0x0031);
    if (!found || wcscmp(found->serial_number, L"KX0001") != 0) {
        printf("not found\n");
        return 2;
    }
    hid_device* device = hid_open_path(found->path);
    if (!device) {
        printf("cannot open %s\n", found->path);
        return 3;
    }
    unsigned char request[65] = {0, 2};  /* report number 0, identification */
    unsigned char reply[64] = {0};
    const int written = hid_write(device, request, sizeof request);
    const int read = hid_read_timeout(device, reply, sizeof reply, 1000);
    printf("%s: written %d, read %d, code %d, battery %d mV\n", found->path, written, read, reply[0],
           reply[1] | reply[2] << 8);
    hid_close(device);
    hid_free_enumeration(found);
    hid_exit();
    return read == 64 && reply[0] == 2 && (reply[1] | reply[2] << 8) == 3600 ? 0 : 4;
}
