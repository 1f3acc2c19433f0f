// The run of kxflash: banner, instrument, model check, file, upload, verification.
#include <cstring>

#include "exitcodes.h"
#include "flasher.h"
#include "platform.h"

namespace {

// The flasher serves instruments whose identifier's third byte is 2 and whose
// hardware is 1.8 or 2.8.
bool modelAccepted()
{
    const QueryRecord& q = PacketFromPC.query;
    return q.MAC[2] == 2 && (q.HW[0] == 1 || q.HW[0] == 2) && q.HW[1] == 8;
}

FILE* openFirmware(int argc, char** argv)
{
    const char* name = defaultFirmwareName;
    if (argc == 2)
        name = argv[1];
    else if (get_newest_file())
        name = default_firmware;
    printf("Firmware to upgrade device = %s\r\n", name);
    const char* reason = "";
    FILE* firmware = platform::openRegularFile(name, "rb", reason);
    if (!firmware) {
        fflush(stdout);
        fprintf(stderr, "Cannot read %s: %s\n", name, reason);
    }
    return firmware;
}

// Everything between opening and closing the device; the exit status.
int flashInstrument(hid_device* device, int argc, char** argv)
{
    RunSwitches switches;
    if (!identifyInstrument(device, Program::Flasher))
        return exitcode::incomplete;
    printIdentity();
    if (!modelAccepted())
        return exitcode::incomplete;
    printf("Kestrix+ Found \r\n");
    shortRead(device);
    FILE* firmware = openFirmware(argc, argv);
    if (!firmware) {
        printf("Error opening firmware file\r\n");
        return exitcode::incomplete;
    }
    uploadFirmware(device, firmware, switches);
    if (!switches.check_firmware)
        return exitcode::incomplete;
    return verifyAndRestart(device) ? exitcode::ok : exitcode::incomplete;
}

void finish()
{
    fflush(stdout);
    platform::waitKey();
}

}  // namespace

int runFlasher(int argc, char** argv)
{
    platform::consoleBytesAsIs();
    resetLinkGlobals();
    default_firmware[0] = '\0';
    std::memset(readed, 0, sizeof readed);
    printf("Kestrix plus flasher ver 1.02b - free software, without any warranty \r\n");
    printf("usage : Connect your KX+ to PC via USB , device must be on \r\n");
    printf("        by default program use latest firmware in directory to upgrade your device - but you can "
           "choose other qln file by writing it name\r\n\n");
    if (hid_init() != 0) {
        printf("HID initialization failed!\n");
        fflush(stdout);
        return exitcode::failed;
    }
    device_info = hid_enumerate(kxVendorId, kxProductId);
    if (!device_info) {
        printf("Quellon device not found!\r\n");
        hid_exit();
        finish();
        return exitcode::incomplete;
    }
    hid_device* device = openInstrument(Program::Flasher);
    if (!device) {
        printf("Failed to open device!\n");
        printOpenFailureHint(Program::Flasher);
        hid_exit();
        fflush(stdout);
        return exitcode::cannotOpen;
    }
    const int status = flashInstrument(device, argc, argv);
    hid_close(device);
    hid_exit();
    finish();
    return status;
}
