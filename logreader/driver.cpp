// The run of kxlogreader: banner, identification, download, flight index.
#include <cstdio>

#include "cli.h"
#include "exitcodes.h"
#include "logexport.h"
#include "logreader.h"
#include "platform.h"

namespace {

constexpr const char* helpText =
    "Usage: kxlogreader [ANYTHING]\n"
    "Downloads the log of the KX+ instrument attached by USB (id 02ab:0031) into raw.dat\n"
    "in the working folder, then writes each flight as a KML file (Google Earth) and a\n"
    "CSV table into a new folder named after the local date and time.\n"
    "\n"
    "  (no argument)  download from the instrument, then export\n"
    "  ANYTHING       export the raw.dat of an earlier download; no USB is used\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Exit status: 0 done (also when no instrument was found); 1 download given up;\n"
    "2 raw.dat unreadable or an export failed; 128+N interrupted by signal N\n"
    "(130 for Ctrl-C).\n"
    "See man kxlogreader.\n";

// Identifies the instrument and downloads its log; the exit status so far.
// `downloaded` tells whether "raw.dat" now holds this run's download.
int fetchLog(bool& downloaded)
{
    downloaded = false;
    if (!device_info) {
        printf("Device not found \r\n");
        return exitcode::ok;
    }
    hid_device* device = openInstrument(Program::LogReader);
    if (!device) {
        printf("Failed to open device!\n");
        printOpenFailureHint(Program::LogReader);
        return exitcode::ok;
    }
    if (!identifyInstrument(device, Program::LogReader)) {
        hid_close(device);
        return exitcode::failed;
    }
    printIdentity();
    shortRead(device);
    // An interrupt now stops the download at a part boundary, with whole pages kept.
    platform::catchInterrupts();
    const int status = downloadLog(device);
    platform::releaseInterrupts();
    downloaded = status == exitcode::ok;
    if (downloaded)
        printf("Done...\r\n");
    hid_close(device);
    return status;
}

}  // namespace

void startLogreaderRun()
{
    resetLinkGlobals();
    startLogRun();
    inputBuffer.fill(0);
    folder[0] = '\0';
    flightNameSuffix[0] = '\0';
    platform::interruptSignal = 0;
}

int runLogreader(int argc, char** argv)
{
    startLogreaderRun();
    platform::consoleBytesAsIs();
    if (const int status = answerHelpOrVersion(argc, argv, "kxlogreader", "v.1.06a", helpText); status >= 0)
        return status;
    // Only a download needs the USB: an export-only run starts no HID library and scans no bus.
    if (argc == 1)
        device_info = hid_enumerate(kxVendorId, kxProductId);
    printf("Kestrix plus LOGreader v.1.06a - free software, without any warranty\r\n");
    printf("usage :\r\nConnect your KX+ to PC via USB , device must be on - and let the magic start :)\r\n\n");
    outputBuffer[0] = 0;
    bool downloaded = false;
    if (argc == 1) {
        const int status = fetchLog(downloaded);
        fflush(stdout);
        if (status == exitcode::failed)
            platform::waitKey();  // as after an export; an interrupted run ends at once
        if (status != exitcode::ok)
            return status;
    }
    if (!downloaded)
        describeLog(rawFileName, true);  // so a partial one is not taken for the whole
    const int status = flightIndex();
    fflush(stdout);
    platform::waitKey();
    return status;
}
