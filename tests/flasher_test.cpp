// kxflash: choice of the file, model check, upload, verification, exit statuses.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <tuple>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "flasher.h"
#include "platform.h"
#include "sim.h"
#include "support.h"

namespace {

// A firmware image with its header sizes and a byte pattern that differs per part.
std::string image(uint32_t firmwareSize, uint32_t length, uint32_t allSize = 0)
{
    std::string bytes(length, '\0');
    for (uint32_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 32 * 13) & 0xFF);
    allSize = allSize ? allSize : length;
    for (int i = 0; i < 4 && i + 6 < static_cast<int>(length); ++i) {
        if (i < static_cast<int>(length))
            bytes[i] = static_cast<char>(allSize >> (8 * i));
        bytes[6 + i] = static_cast<char>(firmwareSize >> (8 * i));
    }
    return bytes;
}

std::vector<std::array<uint8_t, 64>> requestsOf(uint8_t command)
{
    std::vector<std::array<uint8_t, 64>> out;
    for (const auto& r : sim::log().requests)
        if (r[0] == command)
            out.push_back(r);
    return out;
}

uint16_t pageOf(const std::array<uint8_t, 64>& r) { return static_cast<uint16_t>(r[1] << 8 | r[2]); }

std::string flashImage()
{
    const std::vector<uint8_t> img = sim::flashImage();
    return std::string(img.begin(), img.end());
}

std::string flashPages(uint16_t first, uint16_t count)
{
    const std::vector<uint8_t> img = sim::flashImage();
    const size_t from = (first - firmwareFirstPage) * 4096u;
    return std::string(img.begin() + static_cast<long>(from), img.begin() + static_cast<long>(from + count * 4096u));
}

size_t occurrences(const std::string& text, const std::string& piece)
{
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

TEST(FirmwareChoice, HighestVersionWinsAndTiesKeepTheFirstListed)
{
    const auto choose = [](std::vector<const char*> names) {
        startFlasherRun();  // nothing chosen yet
        FirmwareVersion best;
        OutputCapture capture;
        for (const char* n : names)
            considerFirmware(n, best);
        capture.stop();
        return std::string(default_firmware);
    };
    EXPECT_EQ(choose({"KX_1.05a_AAAA.qln", "KX_1.05b_BBBB.qln"}), "KX_1.05b_BBBB.qln");
    EXPECT_EQ(choose({"KX_1.05b_BBBB.qln", "KX_1.05a_AAAA.qln"}), "KX_1.05b_BBBB.qln");
    EXPECT_EQ(choose({"KX_1.99z_AAAA.qln", "KX_2.00a_BBBB.qln"}), "KX_2.00a_BBBB.qln");
    EXPECT_EQ(choose({"KX_1.05a_AAAA.qln", "KY_1.05a_BBBB.qln"}), "KX_1.05a_AAAA.qln");
    EXPECT_EQ(choose({"KX_0.00a_AAAA.qln"}), "KX_0.00a_AAAA.qln");
    EXPECT_EQ(choose({"firmware.qln", "KX_1.05a_AAAA.QLN", "KX_1.05a_AAAA.Qln", "ql"}), "");
    EXPECT_EQ(choose({"KX_1.300_AAAA.qln", "KX_1.43z_BBBB.qln"}), "KX_1.300_AAAA.qln");  // 300 is 44, then '0'
    EXPECT_EQ(choose({"KX_1.05\xc3_AAAA.qln", "KX_1.05a_BBBB.qln"}), "KX_1.05a_BBBB.qln");
    EXPECT_EQ(choose({"KX_x.99z_AAAA.qln", "KX_0.99y_BBBB.qln"}), "KX_x.99z_AAAA.qln");  // no digit: major 0
    EXPECT_EQ(choose({"KX_2.00a_AAAA.qln", "KX_1.99z_BBBB.qln"}), "KX_2.00a_AAAA.qln");  // lower major listed later
    // Long digit runs are cut to 8 bits the same way on every system:
    // 10000000000 is 0x2540BE400, so this name carries version 0.00.
    EXPECT_EQ(choose({"abc10000000000qln", "KX_0.01a_BBBB.qln"}), "KX_0.01a_BBBB.qln");
    EXPECT_EQ(choose({"abc00000000511qln", "KX_0.01a_BBBB.qln"}), "abc00000000511qln");  // 0.255
}

TEST(FirmwareChoice, EveryCandidateIsListedWithItsVersionAndCrc)
{
    FirmwareVersion best;
    startFlasherRun();
    OutputCapture capture;
    considerFirmware("KX_1.05a_3F2C.qln", best);
    considerFirmware("firmware.qln", best);
    considerFirmware("notes.txt", best);
    considerFirmware("qln", best);  // the shortest candidate
    // Names of two characters and fewer are no candidates, and are not read
    // before their start (the heap copy lets a sanitizer build see that).
    for (const char* tiny : {"ql", "n", ""}) {
        const auto copy = std::make_unique<char[]>(std::strlen(tiny) + 1);
        std::strcpy(copy.get(), tiny);
        considerFirmware(copy.get(), best);
    }
    // Nothing unprintable reaches the console: no version letter where a name
    // carries none, control bytes of a name shown as '?'. A name in another
    // case is passed over, and said so.
    considerFirmware("KX_1.08a_3F2C (1).qln", best);
    considerFirmware("KX_1.09\x1b_3F\n2.qln", best);
    considerFirmware("KX_1.02 _3F2C.qln", best);  // a blank and DEL in the letter's place are no letters either
    considerFirmware("KX_1.03\x7f_3F2C.qln", best);
    considerFirmware("KX_1.04~_3F2C.qln", best);  // the last printable one is
    considerFirmware("KX_1.07a_3F2C.QLN", best);
    const RunResult r = capture.stop();
    EXPECT_EQ(r.out, "KX_1.05a_3F2C.qln -> CRC 3F2C , Version 1.05a\r\nfirmware.qln -> CRC  , Version 0.00\r\n"
                     "qln -> CRC  , Version 0.00\r\nKX_1.08a_3F2C (1).qln -> CRC  , Version 0.00\r\n"
                     "KX_1.09?_3F?2.qln -> CRC 3F?2 , Version 1.09\r\nKX_1.02 _3F2C.qln -> CRC 3F2C , Version 1.02\r\n"
                     "KX_1.03?_3F2C.qln -> CRC 3F2C , Version 1.03\r\nKX_1.04~_3F2C.qln -> CRC 3F2C , Version 1.04~\r\n");
    EXPECT_EQ(r.err, "KX_1.07a_3F2C.QLN is not considered: kxflash chooses only among names that end in \"qln\" in "
                     "lower case. Name it on the command line, or rename it, to flash it.\n");
}

class Flasher : public InTempDir {};

TEST_F(Flasher, ExitStatusesTellWhetherTheInstrumentWasFlashed)
{
    sim::config().initFails = true;
    RunResult r = runFlasherCaptured();
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.out, "\r\n\nHID initialization failed!\n"));
    EXPECT_EQ(sim::log().exits, 0u);

    sim::reset();
    sim::config().present = false;
    r = runFlasherCaptured();
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "Kestrix plus flasher ver 1.02b - free software, without any warranty \r\nusage : Connect your "
                     "KX+ to PC via USB , device must be on \r\n        by default program use latest firmware in "
                     "directory to upgrade your device - but you can choose other qln file by writing it name\r\n\n"
                     "Quellon device not found!\r\n");
    EXPECT_EQ(sim::log().exits, 1u);

    sim::reset();
    sim::config().openFails = true;
    r = runFlasherCaptured();
    EXPECT_EQ(r.status, -1);
    EXPECT_TRUE(endsWith(r.out, "\r\n\nFailed to open device!\n" + openHint("kxflash"))) << r.out;
    EXPECT_FALSE(sim::log().openedWithSerial);
    EXPECT_EQ(sim::log().exits, 1u);

    sim::reset();
    writeFile("KX_1.05a_3F2C.qln", image(1000, 5000));
    r = runFlasherCaptured();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sim::log().closes, 1u);
    EXPECT_EQ(sim::log().exits, 1u);
}

TEST_F(Flasher, OnlyTheServedModelsAreFlashed)
{
    writeFile("KX_1.05a_3F2C.qln", image(1000, 5000));
    for (const auto& [id2, hw0, hw1, flashed] : std::vector<std::tuple<uint8_t, uint8_t, uint8_t, bool>>{
             {2, 1, 8, true}, {2, 2, 8, true}, {2, 1, 7, false}, {3, 1, 8, false}, {2, 3, 8, false}}) {
        sim::reset();
        sim::config().identity[5] = id2;
        sim::config().identity[8] = hw0;
        sim::config().identity[9] = hw1;
        const RunResult r = runFlasherCaptured();
        EXPECT_EQ(r.status, flashed ? 0 : 2);
        EXPECT_EQ(r.out.find("Kestrix+ Found"), flashed ? r.out.find("Kestrix+ Found") : std::string::npos);
        if (!flashed) {
            EXPECT_TRUE(endsWith(r.out, " h \r\n\r\n")) << "nothing after the identity block";
            char why[200];
            snprintf(why, sizeof why, "it has hardware %d.%d and identifier 01:A2:%02X:0F:FF. kxflash flashes "
                     "hardware 1.8 and 2.8 with an identifier whose third byte is 02.", hw0, hw1, id2);
            EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
            EXPECT_EQ(sim::log().reads, 1u);  // no short read either
        }
    }
}

TEST_F(Flasher, FileFromTheCommandLineOrTheDefaultName)
{
    writeFile("KX_1.05a_3F2C.qln", image(1000, 5000));
    RunResult r = runFlasherCaptured({"missing.bin"});
    EXPECT_NE(r.out.find("Kestrix+ Found \r\nFirmware to upgrade device = missing.bin\r\nError opening firmware file\r\n"),
              std::string::npos);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(requestsOf(15).empty());

    // A name with spaces typed without quotes: nothing is opened, nothing chosen for the user.
    for (const std::vector<std::string>& words : {std::vector<std::string>{"KX", "1.05a"},
                                                  std::vector<std::string>{"KX", "1.05a", "new.qln"}}) {
        sim::reset();
        r = runFlasherCaptured(words);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(sim::log().inits + sim::log().enumerations + sim::log().opens, 0u);
        EXPECT_NE(r.err.find("a name with spaces needs quotes: kxflash \"KX 1.05a"), std::string::npos) << r.err;
    }

    std::remove("KX_1.05a_3F2C.qln");
    sim::reset();
    r = runFlasherCaptured();
    EXPECT_NE(r.out.find("Firmware to upgrade device = firmware.qln\r\nError opening firmware file\r\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.status, 2);
}

#ifndef _WIN32
// The flasher run by a user who may write into the working folder but not
// list it (root is made an ordinary user first, or it could list anything).
RunResult flasherInUnlistableFolder(const std::vector<std::string>& args)
{
    if (geteuid() == 0 && setuid(65534) != 0)
        return {};
    return runFlasherCaptured(args);
}
#endif

TEST_F(Flasher, WorkingFolderThatCannotBeListedFallsBackToTheDefaultName)
{
#ifdef _WIN32
    GTEST_SKIP() << "folder permissions are tried on Linux";
#else
    writeFile("KX_1.05a_3F2C.qln", image(1000, 5000));
    chmod(".", 0333);  // write and enter, but not list
    const RunResult r = runWithDeadline(flasherInUnlistableFolder, {});
    chmod(".", 0755);
    EXPECT_EQ(r.err.find("Nie można otworzyć katalogu: Permission denied\n"), 0u) << r.err;
    EXPECT_NE(r.out.find("Kestrix+ Found \r\nFirmware to upgrade device = firmware.qln\r\nError opening firmware file\r\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.status, 2);
#endif
}

TEST_F(Flasher, NothingIsFlashedFromAFolderOrAPipe)
{
    const auto refused = [](const std::vector<std::string>& args, const std::string& name, const std::string& reason) {
        sim::reset();
        const RunResult r = runWithDeadline(runFlasherCaptured, args);
        EXPECT_TRUE(endsWith(r.out, "Firmware to upgrade device = " + name + "\r\nError opening firmware file\r\n"))
            << r.out;
        EXPECT_NE(r.err.find("Cannot read " + name + ": " + reason), std::string::npos) << r.err;
        EXPECT_EQ(r.status, 2);
    };
    std::filesystem::create_directory("fw.qln");
    refused({"fw.qln"}, "fw.qln", platform::windows ? "" : "Is a directory");
    std::filesystem::create_directory("KX_9.99z_0000_qln");  // the newest name is a folder
    writeFile("KX_1.05a_3F2C.qln", image(1000, 5000));
    refused({}, "KX_9.99z_0000_qln", platform::windows ? "" : "Is a directory");
    if (makeFifo("pipe.qln"))
        refused({"pipe.qln"}, "pipe.qln", "not a regular file");
}

TEST_F(Flasher, ReadErrorStopsTheUploadLikeARefusedPart)
{
    const std::string file = image(1000, 3 * 4096, 4096 + 100);
    FILE* failing = failingStream(file.substr(0, 4096 + 100));
    if (!failing)
        GTEST_SKIP() << "no way to make a failing stream here";
    hid_init();
    hid_device* device = hid_open(kxVendorId, kxProductId, nullptr);
    RunSwitches switches;
    OutputCapture capture;
    uploadFirmware(device, failing, switches);
    const RunResult r = capture.stop();
    hid_close(device);
    EXPECT_EQ(switches.check_firmware, 0);
    EXPECT_EQ(r.err, "The instrument's firmware is now incomplete: the firmware file could not be read for page 3455, "
                     "part 3 (Input/output error). Run kxflash again from a readable copy of the file before you "
                     "unplug the instrument or switch it off.\n");
    const auto writes = requestsOf(15);
    ASSERT_EQ(writes.size(), 128u + 3 + 1);  // page 3454, three whole parts of 3455, the closing request
    EXPECT_EQ(flashPages(3454, 1), file.substr(0, 4096));
    EXPECT_EQ(pageOf(writes.back()), 3455);
    EXPECT_EQ(writes.back()[3], 127);
    EXPECT_EQ(r.out.find("Transmission fail"), std::string::npos);

    // At the very first part nothing was sent before: the closing request is
    // still a whole command-15 request of its own.
    startFlasherRun();
    sim::reset();
    device = hid_open(kxVendorId, kxProductId, nullptr);
    OutputCapture quiet;
    uploadFirmware(device, failingStream(image(10, 10)), switches);
    quiet.stop();
    hid_close(device);
    ASSERT_EQ(sim::log().requests.size(), 1u);
    EXPECT_EQ(sim::log().requests[0][0], 15);
    EXPECT_EQ(pageOf(sim::log().requests[0]), 3454);
    EXPECT_EQ(sim::log().requests[0][3], 127);
}

TEST_F(Flasher, FileShorterThanOnePartIsSentAsOnePaddedPart)
{
    writeFile("tiny", image(20, 20));
    const RunResult r = runFlasherCaptured({"tiny"});
    EXPECT_NE(r.out.find("Firmware size = 20 bytes\r\nChecking firmware stored in device ...\r\n"), std::string::npos);
    const auto writes = requestsOf(15);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(pageOf(writes[0]), 3454);
    EXPECT_EQ(writes[0][3], 0);
    EXPECT_EQ(std::string(writes[0].begin() + 4, writes[0].begin() + 24), image(20, 20));
    EXPECT_EQ(std::count(writes[0].begin() + 24, writes[0].begin() + 36, 0), 12);
    EXPECT_EQ(pageOf(writes[1]), 3454);  // the closing request
    EXPECT_EQ(writes[1][3], 127);
    EXPECT_EQ(r.status, 0);
}

TEST_F(Flasher, WholePageEndsWithAnExtraPartRepeatingTheLastChunk)
{
    const std::string file = image(2000, 4096);
    writeFile("page", file);
    const RunResult r = runFlasherCaptured({"page"});
    EXPECT_NE(r.out.find("Sending main functionality 1 / 128 (All: 99 %, Firmware: 204 %)\r"), std::string::npos);
    const auto writes = requestsOf(15);
    ASSERT_EQ(writes.size(), 130u);
    EXPECT_EQ(pageOf(writes[128]), 3455);
    EXPECT_EQ(writes[128][3], 0);
    EXPECT_TRUE(std::equal(writes[128].begin() + 4, writes[128].begin() + 36, writes[127].begin() + 4));
    EXPECT_EQ(pageOf(writes[129]), 3455);
    EXPECT_EQ(writes[129][3], 127);
    EXPECT_EQ(flashPages(3454, 1), file);
    EXPECT_EQ(r.status, 0);
}

TEST_F(Flasher, UploadJumpsFromTheFirmwareEndToTheGraphicsArea)
{
    const std::string file = image(100000, 524288 + 3 * 4096 + 100);
    writeFile("fw", file);
    const RunResult r = runFlasherCaptured({"fw"});
    EXPECT_EQ(r.status, 0);
    std::vector<uint16_t> pages;
    for (const auto& w : requestsOf(15))
        if (pages.empty() || pages.back() != pageOf(w))
            pages.push_back(pageOf(w));
    std::vector<uint16_t> expected;
    for (uint16_t p = 3454; p <= 3479; ++p)
        expected.push_back(p);
    for (uint16_t p = 3582; p <= 3585; ++p)
        expected.push_back(p);
    EXPECT_EQ(pages, expected);
    EXPECT_EQ(flashPages(3454, 26), file.substr(0, 26 * 4096));
    EXPECT_EQ(flashPages(3582, 3), file.substr(524288, 3 * 4096));
    EXPECT_EQ(flashPages(3585, 1).substr(0, 100), file.substr(524288 + 3 * 4096));
    EXPECT_NE(r.out.find("Sending main functionality 25 / 128 (All: 19 %, Firmware: 103 %)\r"
                         "Puting bug's into firmware 0 / 512 (All: 19 %)                   \r"),
              std::string::npos);
}

TEST_F(Flasher, OnlyImagesTheUploadWritesSoundlyAreSent)
{
    struct Case {
        std::string file;
        const char* refusal;  // nullptr: flashed
    };
    const uint32_t most = 127 * 4096 - 1;  // the jump still leaves the firmware area, at page 3582
    std::string wrapping = image(0xFFFFF000u, 524288 + 4096);
    const std::vector<Case> cases = {
        {"", "the file is 0 bytes, shorter than its 10-byte header"},
        {image(9, 9), "the file is 9 bytes, shorter than its 10-byte header"},
        {image(10, 10), nullptr},
        {image(0, 3 * 4096), "its header gives a firmware size of 0 bytes"},
        {image(1, 3 * 4096), nullptr},
        {image(most, 524288 + 2 * 4096), nullptr},  // into the graphics area, which it sends once
        {image(most + 1, most + 1), "the firmware size 520192 bytes is over the 520191 bytes that the firmware "
                                    "area (pages 3454 to 3581) takes with its one-page margin"},
        {wrapping, "the firmware size 4294963200 bytes is over the 520191 bytes"},
        {image(5000, 5000), nullptr},
        {image(5001, 5000), "the firmware size 5001 bytes is over the file's 5000 bytes"},
        {image(1000, 640 * 4096), nullptr},
        {image(1000, 640 * 4096 + 1), "the file is 2621441 bytes, over the 2621440 bytes of the firmware and "
                                      "graphics areas (pages 3454 to 4093)"},
        // A copy cut off: shorter than the whole size its header gives. A longer one is taken.
        {image(100000, 100000, 532480), "the file is 100000 bytes, shorter than the 532480 bytes its header gives "
                                        "as the image's whole size, so it was cut off"},
        {image(1000, 5000, 4000), nullptr},
        {"# kxlogreader and kxflash\n\nConsole programs for the KX+.\n", "the file is 57 bytes, shorter than the "
                                                                        "2020286499 bytes its header gives"},
    };
    for (const Case& c : cases) {
        sim::reset();
        writeFile("fw", c.file);
        const RunResult r = runFlasherCaptured({"fw"});
        const auto writes = requestsOf(15);
        if (!c.refusal) {
            EXPECT_EQ(r.status, 0) << c.file.size();
            const size_t head = std::min<size_t>(c.file.size(), 4096);
            EXPECT_TRUE(flashImage().substr(0, head) == c.file.substr(0, head)) << c.file.size();
            EXPECT_LE(occurrences(r.out, "Puting bug's into firmware 0 / 512"), 1u);
            continue;
        }
        EXPECT_EQ(r.status, 2) << c.refusal;
        EXPECT_TRUE(writes.empty()) << c.refusal;
        EXPECT_EQ(sim::log().readCalls.size(), 2u) << "no read before an upload that does not start";
        EXPECT_EQ(r.err.find(std::string("Not a firmware image that can be flashed: ") + c.refusal), 0u) << r.err;
        EXPECT_TRUE(endsWith(r.err, ". Nothing was sent; the instrument keeps its firmware.\n")) << r.err;
        EXPECT_TRUE(endsWith(r.out, "bytes\r\n")) << "nothing after the firmware size";
        if (c.file.size() == 9) {  // the header's last byte lies past the end: read as 0
            EXPECT_TRUE(endsWith(r.out, "\r\nFirmware size = 9 bytes\r\n")) << r.out;
        }
    }
}

TEST_F(Flasher, HeaderWithoutAWholeSizeShowsZeroPercent)
{
    std::string file = image(1000, 3 * 4096);
    std::fill(file.begin(), file.begin() + 4, '\0');
    writeFile("fw", file);
    const RunResult r = runFlasherCaptured({"fw"});
    EXPECT_NE(r.out.find("Sending main functionality 1 / 128 (All: 0 %, Firmware: 407 %)\r"), std::string::npos);
    EXPECT_NE(r.out.find("Puting bug's into firmware 0 / 512 (All: 0 %)"), std::string::npos);  // jumped after 2 pages
}

TEST_F(Flasher, InterruptStopsTheUploadAtAPartBoundaryAndSaysWhere)
{
    writeFile("fw", image(100000, 200000));
    // Request 1 identifies; request 12 sends part 10 of page 3454.
    for (const auto& [kind, status] : {std::pair{sim::Fault::Interrupt, 130}, std::pair{sim::Fault::Terminate, 143}}) {
        sim::reset();
        sim::config().faults = {{kind, 12}};
        const RunResult r = runFlasherCaptured({"fw"});
        EXPECT_EQ(r.status, status);
        const auto writes = requestsOf(15);
        ASSERT_EQ(writes.size(), 12u);  // parts 0..10, then the closing request
        EXPECT_EQ(sim::log().requests.size(), 13u) << "nothing after the closing request";
        EXPECT_EQ(pageOf(writes.back()), 3454);
        EXPECT_EQ(writes.back()[3], 127);
        EXPECT_EQ(r.err, "The instrument's firmware is now incomplete: the upload was interrupted before page 3454, "
                         "part 11. " + std::string(flashAgain) + "\n");
        EXPECT_EQ(sim::log().restarts, 0u);
        EXPECT_EQ(sim::log().closes, 1u);
    }
    // With the last part: all was sent, nothing verified.
    sim::reset();
    writeFile("fw", image(100, 100));
    sim::config().faults = {{sim::Fault::Interrupt, 5}};  // parts 0..3 are requests 2..5
    const RunResult r = runFlasherCaptured({"fw"});
    EXPECT_EQ(r.status, 130);
    EXPECT_TRUE(requestsOf(17).empty());
    EXPECT_EQ(r.err, "The instrument's firmware is now unverified: the upload was interrupted as it ended: every part "
                     "was sent, but the instrument was neither asked to check it nor restarted. " +
                         std::string(flashAgain) + "\n");
}

TEST_F(Flasher, RefusedPartEndsTheUploadWithoutVerification)
{
    writeFile("fw", image(100000, 200000));
    sim::config().faults = {{sim::Fault::BadCrc, 0, 15, 3460, 17}};
    const RunResult r = runFlasherCaptured({"fw"});
    const auto writes = requestsOf(15);
    const auto& refused = writes[6 * 128 + 17];
    const uint8_t crc = crc8Of(&refused[4], 32);
    char line[100];
    snprintf(line, sizeof line, "Transmission fail Page:3460, Part:17, calculatedCRC:%02X, ReceivedCRC:%02X\r\n\r\n",
             crc, crc ^ 0x5A);
    EXPECT_TRUE(endsWith(r.out, line));
    ASSERT_EQ(writes.size(), 6u * 128 + 18 + 1);
    EXPECT_EQ(pageOf(writes.back()), 3460);
    EXPECT_EQ(writes.back()[3], 127);
    EXPECT_TRUE(requestsOf(17).empty());
    EXPECT_EQ(sim::log().restarts, 0u);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "The instrument's firmware is now incomplete: the instrument did not acknowledge page 3460, part "
                     "17. " + std::string(flashAgain) + "\n");
}

TEST_F(Flasher, MissingAcknowledgementOrLostInstrumentFailsAtOnce)
{
    writeFile("fw", image(100000, 200000));
    sim::config().faults = {{sim::Fault::Timeout, 0, 15, 3454, 3}};
    RunResult r = runFlasherCaptured({"fw"});
    EXPECT_NE(r.out.find("Transmission fail Page:3454, Part:3,"), std::string::npos);
    EXPECT_EQ(r.out.find("Reading from the instrument failed"), std::string::npos) << "a timeout is no read failure";
    EXPECT_EQ(r.status, 2);

    sim::reset();
    sim::config().removedFrom = 50;
    r = runFlasherCaptured({"fw"});
    EXPECT_NE(r.out.find("Transmission fail Page:3454, Part:48,"), std::string::npos);
    EXPECT_TRUE(endsWith(r.out, "\r\n\r\nReading from the instrument failed (the instrument was disconnected). "
                                "Check the cable and that the instrument is on, then start again.\r\n"));
    EXPECT_EQ(r.err, "The instrument's firmware is now incomplete: the instrument stopped answering at page 3454, "
                     "part 48. Plug it in again, switch it on and run kxflash again with the same file before you use "
                     "it.\n");
    EXPECT_EQ(r.status, 2);
}

class Verification : public InTempDir {
protected:
    void SetUp() override
    {
        InTempDir::SetUp();
        writeFile("fw", image(1000, 3000));
    }
};

TEST_F(Verification, VerdictIsShownButOnlyTheIntegrityDecides)
{
    sim::config().firmwareOk = false;
    const RunResult r = runFlasherCaptured({"fw"});
    EXPECT_NE(r.out.find("\r\n\tSize = 4096 bytes CRC "), std::string::npos);
    EXPECT_NE(r.out.find(" \r\n\tDevice says that this firmware is WRONG :( \r\n\r\nChecking integrity "
                         "firmware&graphics stored at device ...\r\n\tWhole size: 4096 bytes, signatured CRC: "),
              std::string::npos);
    EXPECT_NE(r.out.find("\tFirmware and Graphics data are consistent :)\r\n\rRestart your device and have fun with "
                         "new firmware (first boot may take longer). \r\n"),
              std::string::npos);
    EXPECT_EQ(requestsOf(20).size(), 1u);
    EXPECT_EQ(sim::log().restarts, 10u);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "The instrument's firmware is now complete: the instrument's first check said WRONG, but the check "
                     "that decides, of firmware against graphics, found them consistent, and the instrument was "
                     "restarted. If the instrument does not start as usual, run kxflash again with the same file.\n");
    sim::reset();
    EXPECT_EQ(runFlasherCaptured({"fw"}).err, "") << "nothing to add to a good flashing";
}

TEST_F(Verification, WrongOrMissingIntegrityReplyStopsBeforeTheRestart)
{
    for (sim::Fault kind : {sim::Fault::WrongCode, sim::Fault::Timeout}) {
        sim::reset();
        sim::config().faults = {{kind, 0, 18}};
        const RunResult r = runFlasherCaptured({"fw"});
        EXPECT_TRUE(endsWith(r.out, "device ...\r\nWrong response or timeout \r\n"));
        EXPECT_EQ(r.err, "The instrument's firmware is now unverified: every part was acknowledged, but the "
                         "instrument gave no answer to the integrity check, so it was not restarted. " +
                             std::string(flashAgain) + "\n");
        EXPECT_TRUE(requestsOf(20).empty());
        EXPECT_EQ(sim::log().restarts, 0u);
        EXPECT_EQ(r.status, 2);
    }
    sim::reset();
    sim::config().integrityMismatch = true;
    const RunResult r = runFlasherCaptured({"fw"});
    EXPECT_EQ(r.out.substr(r.out.find("Something")),
              "Something went wrong - Graphics data aren't consistent with firmware\r\n");
    EXPECT_EQ(r.err, "The instrument's firmware is now incomplete: every part was acknowledged, but the instrument "
                     "found firmware and graphics inconsistent, so it was not restarted. " + std::string(flashAgain) +
                         "\n");
    EXPECT_EQ(sim::log().restarts, 0u);
    EXPECT_EQ(r.status, 2);
}

TEST_F(Verification, LostInstrumentIsNamedAsTheCause)
{
    sim::config().faults = {{sim::Fault::ReadError, 0, 18}};
    const RunResult r = runFlasherCaptured({"fw"});
    EXPECT_TRUE(endsWith(r.out, "Wrong response or timeout \r\nReading from the instrument failed (unknown error). "
                                "Check the cable and that the instrument is on, then start again.\r\n"));
    EXPECT_EQ(r.status, 2);
}

TEST_F(Verification, NumbersPrintSignedUnsignedAndInFourHexDigits)
{
    // Every byte of every field differs, so each must come from its place, high byte first.
    sim::config().fixedReplies[17] = {17, 0x80, 0x12, 0x34, 0x56, 0xAB, 0xCD, 1};
    sim::config().fixedReplies[18] = {18, 0x89, 0xAB, 0xCD, 0xEF, 0x12, 0x34, 0x12, 0x34};
    sim::config().faults = {{sim::Fault::Timeout, 0, 20}};
    RunResult r = runFlasherCaptured({"fw"});
    EXPECT_NE(r.out.find("\tSize = -2146290602 bytes CRC ABCD \r\n\tDevice says that this firmware is OK :) \r\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("\tWhole size: 2309737967 bytes, signatured CRC: 1234\r\n\tCRC calculated inside the "
                         "device: 1234 \r\n"),
              std::string::npos);
    EXPECT_EQ(sim::log().restarts, 10u);  // sent without an answer to command 20
    EXPECT_EQ(r.status, 0);

    sim::reset();
    sim::config().fixedReplies[17] = {17, 0x00, 0x00, 0x00, 0x01, 0x00, 0xAF, 0};
    sim::config().fixedReplies[18] = {18, 0x00, 0x00, 0x00, 0x0A, 0x12, 0x34, 0x12, 0x35};
    r = runFlasherCaptured({"fw"});
    EXPECT_NE(r.out.find("\tSize = 1 bytes CRC 00AF \r\n\tDevice says that this firmware is WRONG :( \r\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("\tWhole size: 10 bytes, signatured CRC: 1234\r\n\tCRC calculated inside the device: 1235 \r\n"
                         "Something went wrong"),
              std::string::npos);
    EXPECT_EQ(sim::log().restarts, 0u);
    EXPECT_EQ(r.status, 2);
}

TEST_F(Verification, RestartThatCannotBeSentIsNotASuccess)
{
    sim::config().faults = {{sim::Fault::WriteError, 0, 11, -1, -1, 10}};
    RunResult r = runFlasherCaptured({"fw"});
    EXPECT_TRUE(endsWith(r.out, std::string("first boot may take longer). \r\n") +
                                    (platform::windows ? "Press Enter to close this window\r\n" : "")))
        << r.out;
    EXPECT_EQ(r.err, "The instrument's firmware is now complete: firmware and graphics are consistent, but the "
                     "restart request could not be sent. Restart the instrument by hand.\n");
    EXPECT_EQ(sim::log().restarts, 0u);
    EXPECT_EQ(r.status, 2);

    sim::reset();
    sim::config().faults = {{sim::Fault::WriteError, 0, 11, -1, -1, 9}};  // the tenth goes out
    r = runFlasherCaptured({"fw"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(sim::log().restarts, 1u);
    EXPECT_EQ(r.status, 0);
}

}  // namespace
