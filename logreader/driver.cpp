// The run of kxlogreader: banner, identification, download, flight index.
#include <cstdio>

#include "exitcodes.h"
#include "logreader.h"
#include "platform.h"

namespace {

// Identifies the instrument and downloads its log; the exit status so far.
int fetchLog()
{
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
    const int status = downloadLog(device);
    if (status == exitcode::ok)
        printf("Done...\r\n");
    hid_close(device);
    return status;
}

}  // namespace

int runLogreader(int argc, char** /*argv*/)
{
    platform::consoleBytesAsIs();
    resetLinkGlobals();
    inputBuffer.fill(0);
    data = nullptr;
    folder[0] = '\0';
    device_info = hid_enumerate(kxVendorId, kxProductId);
    printf("Kestrix plus LOGreader v.1.06a - free software, without any warranty\r\n");
    printf("usage :\r\nConnect your KX+ to PC via USB , device must be on - and let the magic start :)\r\n\n");
    outputBuffer[0] = 0;
    if (argc == 1) {
        const int status = fetchLog();
        if (status != exitcode::ok) {
            fflush(stdout);
            return status;
        }
    }
    const int status = flightIndex();
    fflush(stdout);
    platform::waitKey();
    return status;
}
