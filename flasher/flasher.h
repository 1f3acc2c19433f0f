// kxflash: identifies the instrument, checks its model, chooses a firmware
// file, uploads it with command 15, has the instrument verify it and restarts it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "devlink.h"

// The flash page that receives file offset 0, and the first page of the graphics area.
constexpr uint16_t firmwareFirstPage = 3454;
constexpr uint16_t graphicsFirstPage = 3582;
constexpr const char* defaultFirmwareName = "firmware.qln";

// One firmware chunk as read from the file.
extern uint8_t readed[partSize];
// The name that the automatic choice picked; empty when it picked none.
extern char default_firmware[1000];

// The switches of one run; nothing on the command line changes them.
struct RunSwitches {
    uint8_t send_firmware = 1;
    uint8_t send_graphics = 1;
    uint8_t check_firmware = 1;  // cleared when an acknowledgement fails
};

// The whole run; the exit status.
int runFlasher(int argc, char** argv);
// Puts everything a run of kxflash keeps back to the start of a fresh
// program: the link's globals, the chosen name, the chunk buffer and the
// noted interrupt. Every run begins with it, and so does every test.
void startFlasherRun();

// The version that a firmware file name carries.
struct FirmwareVersion {
    uint8_t msb = 0;
    uint8_t lsb = 0;
    signed char subver = 0;
};
// Lists the working folder's firmware files and keeps the newest in
// `default_firmware`; 1 when one was chosen.
char get_newest_file();
// Shows one listing entry and makes it the best so far when it is a firmware
// file of a higher version than `best`.
void considerFirmware(const char* name, FirmwareVersion& best);

// Where the instrument's firmware stands when a run that sent parts of it
// ends otherwise than flashed and confirmed.
enum class Standing { Complete, Incomplete, Unverified };
// One line on standard error: the standing, `why` (a printf format with its
// values), and `next`, what the user should do now.
[[gnu::format(printf, 3, 4)]] void reportStanding(Standing standing, const char* next, const char* why, ...);
// What to do after an upload that did not end as it should.
constexpr const char* flashAgain = "Run kxflash again with the same file before you unplug the instrument or switch it off.";

// Sends the open file (and closes it); clears check_firmware when a part was
// not acknowledged.
void uploadFirmware(hid_device* device, FILE* firmware, RunSwitches& switches);
// Asks the instrument to check what it stored and restarts it; true when
// firmware and graphics were consistent and the restart went out.
bool verifyAndRestart(hid_device* device);
