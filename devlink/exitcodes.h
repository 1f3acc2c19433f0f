// Exit statuses of the instrument programs, in one place (kxconvert adds its own in library.h); the README and the manual
// pages list the same.
#pragma once

namespace exitcode {
constexpr int ok = 0;
// kxlogreader: the download was given up (too many CRC failures, instrument
// lost, "raw.dat" not writable). kxflash: the HID library did not start.
constexpr int failed = 1;
// kxlogreader: "raw.dat" unreadable or an export failed. kxflash: nothing was
// flashed, or the flashing was not confirmed.
constexpr int incomplete = 2;
// kxflash: the instrument was found but could not be opened.
constexpr int cannotOpen = -1;
// Both: a transfer stopped by an interrupt (SIGINT 2 gives 130, SIGTERM 15 gives 143).
constexpr int interrupted(int signal) { return 128 + signal; }
}  // namespace exitcode
