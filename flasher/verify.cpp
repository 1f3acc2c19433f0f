// After a complete upload: the instrument reports what it stored (command 17)
// and whether firmware and graphics agree (command 18); only when they agree
// is the restart sent (command 20, then command 11 ten times).
#include "flasher.h"
#include "linkclock.h"
#include "platform.h"

namespace {

constexpr int restartRequests = 10;
constexpr uint32_t restartPauseUs = 500;

// The instrument's own verdict on the stored firmware: true for OK.
bool showStoredFirmware(hid_device* device)
{
    printf("Checking firmware stored in device ...\r\n");
    exchange(device, Cmd::FirmwareInfo, PacketFromPC.Contents);
    const uint8_t* r = PacketFromPC.Contents;
    const uint32_t size = be32(r + 1);
    const uint16_t CRC = be16(r + 5);
    printf("\tSize = %d bytes CRC %04X \r\n", static_cast<int32_t>(size), CRC);
    printf("\tDevice says that this firmware is %s \r\n", r[7] == 1 ? "OK :)" : "WRONG :(");
    return r[7] == 1;
}

// True when the instrument's own CRC of firmware and graphics matches the signatured one.
bool integrityConfirmed(hid_device* device)
{
    printf("\r\nChecking integrity firmware&graphics stored at device ...\r\n");
    const int length = exchange(device, Cmd::IntegrityInfo, PacketFromPC.Contents);
    const uint8_t* r = PacketFromPC.Contents;
    if (r[0] != static_cast<uint8_t>(Cmd::IntegrityInfo)) {
        printf("Wrong response or timeout \r\n");
        if (length < 0)
            reportReadFailed(device);
        reportStanding(Standing::Unverified, flashAgain, "every part was acknowledged, but the instrument gave no "
                       "answer to the integrity check, so it was not restarted");
        return false;
    }
    const uint32_t whole_size = be32(r + 1);
    const uint16_t CRCwf = be16(r + 5);
    const uint16_t calculatedCRCwf = be16(r + 7);
    printf("\tWhole size: %u bytes, signatured CRC: %04X\r\n", whole_size, CRCwf);
    printf("\tCRC calculated inside the device: %04X \r\n", calculatedCRCwf);
    if (calculatedCRCwf != CRCwf) {
        printf("Something went wrong - Graphics data aren't consistent with firmware\r\n");
        reportStanding(Standing::Incomplete, flashAgain, "every part was acknowledged, but the instrument found "
                       "firmware and graphics inconsistent, so it was not restarted");
        return false;
    }
    return true;
}

// Command 20, then the restart; true when at least one restart request went out.
bool restart(hid_device* device)
{
    exchange(device, Cmd::WrittenInfo, PacketFromPC.Contents);
    bool sent = false;
    for (int i = 0; i < restartRequests; ++i) {
        putRequest(0, static_cast<uint8_t>(Cmd::Restart));
        sent = sendRequest(device) >= 0 || sent;
        linkSleepUs(restartPauseUs);
    }
    return sent;
}

}  // namespace

bool verifyAndRestart(hid_device* device)
{
    const bool verdictOk = showStoredFirmware(device);
    if (!integrityConfirmed(device))
        return false;
    printf("\tFirmware and Graphics data are consistent :)\r\n");
    printf("\rRestart your device and have fun with new firmware (first boot may take longer). \r\n");
    if (platform::windows)
        printf("Press Enter to close this window\r\n");
    fflush(stdout);
    const bool sent = restart(device);
    if (!sent)
        reportStanding(Standing::Complete, "Restart the instrument by hand.", "firmware and graphics are consistent, "
                       "but the restart request could not be sent");
    else if (!verdictOk)
        reportStanding(Standing::Complete, "If the instrument does not start as usual, run kxflash again with the "
                       "same file.", "the instrument's first check said WRONG, but the check that decides, of "
                       "firmware against graphics, found them consistent, and the instrument was restarted");
    return sent;
}
