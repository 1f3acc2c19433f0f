// The run of kxflash: banner, instrument, model check, file, upload, verification.
#include <cstdarg>
#include <cstring>
#include <string>

#include "cli.h"
#include "exitcodes.h"
#include "flasher.h"
#include "platform.h"

namespace {

constexpr const char* helpText =
    "Usage: kxflash [FIRMWARE-FILE]\n"
    "Updates the firmware of the KX+ instrument attached by USB (id 02ab:0031) and switched on.\n"
    "\n"
    "  FIRMWARE-FILE  the image to flash; put a name with spaces in quotes.\n"
    "                 Without it: the highest version among the 17-character names\n"
    "                 ending in \"qln\" in the working folder, else firmware.qln.\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "The file's header is checked before anything is sent. Ctrl-C during the upload\n"
    "stops it at the next part; the instrument then needs a new flashing.\n"
    "\n"
    "Exit status: 0 flashed and confirmed; 1 the HID library did not start;\n"
    "255 the instrument could not be opened; 2 nothing flashed, or not confirmed;\n"
    "128+N stopped by signal N (130 for Ctrl-C).\n"
    "See man kxflash.\n";

// A name with spaces typed without quotes arrives as several words: none of
// them is a file the user meant, so nothing is flashed.
int refuseWords(int argc, char** argv)
{
    std::string words;
    for (int i = 1; i < argc; ++i)
        words += (i > 1 ? " " : "") + std::string(argv[i]);
    fprintf(stderr, "kxflash takes one firmware file name (or none); a name with spaces needs quotes: "
                    "kxflash \"%s\". Nothing was done.\n", words.c_str());
    return exitcode::incomplete;
}

// The flasher serves instruments whose identifier's third byte is 2 and whose
// hardware is 1.8 or 2.8.
bool modelAccepted()
{
    const QueryRecord& q = PacketFromPC.query;
    return q.MAC[2] == 2 && (q.HW[0] == 1 || q.HW[0] == 2) && q.HW[1] == 8;
}

void reportOtherModel()
{
    const QueryRecord& q = PacketFromPC.query;
    fflush(stdout);
    fprintf(stderr, "This instrument is not a model that kxflash serves: it has hardware %d.%d and identifier "
                    "%02X:%02X:%02X:%02X:%02X. kxflash flashes hardware 1.8 and 2.8 with an identifier whose "
                    "third byte is 02. Nothing was sent.\n",
            q.HW[0], q.HW[1], q.MAC[0], q.MAC[1], q.MAC[2], q.MAC[3], q.MAC[4]);
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
    if (!modelAccepted()) {
        reportOtherModel();
        return exitcode::incomplete;
    }
    printf("Kestrix+ Found \r\n");
    shortRead(device);
    FILE* firmware = openFirmware(argc, argv);
    if (!firmware) {
        printf("Error opening firmware file\r\n");
        return exitcode::incomplete;
    }
    // An interrupt now stops the upload at a part boundary instead of in the middle of a request.
    platform::catchInterrupts();
    uploadFirmware(device, firmware, switches);
    platform::releaseInterrupts();
    if (const int signal = platform::pendingInterrupt())
        return exitcode::interrupted(signal);
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

void reportStanding(Standing standing, const char* next, const char* why, ...)
{
    static const char* const words[] = {"complete", "incomplete", "unverified"};
    fflush(stdout);
    fprintf(stderr, "The instrument's firmware is now %s: ", words[static_cast<int>(standing)]);
    va_list values;
    va_start(values, why);
    vfprintf(stderr, why, values);
    va_end(values);
    fprintf(stderr, ". %s\n", next);
}

void startFlasherRun()
{
    resetLinkGlobals();
    default_firmware[0] = '\0';
    std::memset(readed, 0, sizeof readed);
    platform::interruptSignal = 0;
}

int runFlasher(int argc, char** argv)
{
    startFlasherRun();
    platform::consoleBytesAsIs();
    if (const int status = answerHelpOrVersion(argc, argv, "kxflash", "ver 1.02b", helpText); status >= 0)
        return status;
    if (argc > 2)
        return refuseWords(argc, argv);
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
    if (status < exitcode::interrupted(0))
        finish();  // an interrupted run ends without the key wait
    fflush(stdout);
    return status;
}
