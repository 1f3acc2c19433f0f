/* Waits until hidapi lists the instrument (wine adds devices a moment after
   its server starts), at most 30 seconds; 0 when it is there. */
#include <hidapi.h>
#include <windows.h>

int main(void)
{
    for (int i = 0; i < 300; ++i) {
        struct hid_device_info* found = hid_enumerate(0x02ab, 0x0031);
        if (found) {
            hid_free_enumeration(found);
            return 0;
        }
        Sleep(100);
    }
    return 1;
}
