// The device link: CRC-8, report layout, identification of the instrument.
#include <map>
#include <set>

#include "devlink.h"
#include "platform.h"
#include "sim.h"
#include "support.h"

namespace {

uint8_t bitwiseCrc8(uint8_t data, uint8_t crc)
{
    crc ^= data;
    for (int i = 0; i < 8; ++i)
        crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C) : static_cast<uint8_t>(crc >> 1);
    return crc;
}

TEST(Crc8, AgreesWithTheBitwiseFormOnAllInputs)
{
    for (int data = 0; data < 256; ++data)
        for (int crc = 0; crc < 256; ++crc)
            ASSERT_EQ(CRC8(static_cast<uint8_t>(data), static_cast<uint8_t>(crc)),
                      bitwiseCrc8(static_cast<uint8_t>(data), static_cast<uint8_t>(crc)))
                << data << " on " << crc;
}

TEST(Crc8, PublishedCheckValueAndSingleBits)
{
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc8Of(digits, sizeof digits), 0xA1);
    const uint8_t zeros[32] = {};
    EXPECT_EQ(crc8Of(zeros, sizeof zeros), 0);
    EXPECT_EQ(CRC8(0x80, 0), 0x8C);
    EXPECT_EQ(CRC8(0x01, 0), 0x5E);
}

TEST(Report, QueryRecordReadsLittleEndianFields)
{
    _USB_HID_BOOTLOADER_COMMAND p{};
    p.Contents[1] = 0x10;
    p.Contents[2] = 0x0E;
    p.Contents[12] = 0x10;
    p.Contents[13] = 0x0E;
    const uint16_t battery = p.query.Battery;  // copies: the packed fields are not aligned
    const uint32_t total = p.query.GlobalTime;
    EXPECT_EQ(battery, 3600);
    EXPECT_EQ(total, 3600u);
}

class Identification : public InTempDir {};

// Each read's timeout, by the command of the request it waits for.
std::map<uint8_t, std::set<int>> timeoutsByCommand()
{
    std::map<uint8_t, std::set<int>> seen;
    for (const sim::ReadCall& call : sim::log().readCalls)
        seen[call.command].insert(call.timeoutMs);
    return seen;
}

TEST_F(Identification, EveryReadWaitsAsLongAsItsCommandNeeds)
{
    runLogreaderCaptured();
    const auto& reads = sim::log().readCalls;
    ASSERT_GE(reads.size(), 3u);
    EXPECT_EQ(reads[0].timeoutMs, 1000);  // identification
    EXPECT_EQ(reads[1].timeoutMs, 100);   // the short read after the identity block
    EXPECT_EQ(timeoutsByCommand(), (std::map<uint8_t, std::set<int>>{{2, {1000, 100}}, {14, {400}}}));

    sim::reset();
    std::string fw(5000, '\x01');
    fw.replace(0, 4, std::string("\x88\x13\0\0", 4));  // 5000 bytes in all
    fw.replace(6, 4, std::string("\xE8\x03\0\0", 4));  // a firmware of 1000 bytes
    writeFile("fw", fw);
    EXPECT_EQ(runFlasherCaptured({"fw"}).status, 0);
    ASSERT_GE(sim::log().readCalls.size(), 3u);
    EXPECT_EQ(sim::log().readCalls[2].timeoutMs, 500);  // the read before the upload
    EXPECT_EQ(timeoutsByCommand(), (std::map<uint8_t, std::set<int>>{
                                       {2, {1000, 100, 500}}, {15, {500}}, {17, {30000}}, {18, {30000}}, {20, {30000}}}));
    EXPECT_EQ(sim::log().readCalls.back().command, 20);  // no read after a restart request
}

TEST_F(Identification, FailedReadsArePausedAndCountedOnlyInARow)
{
    using sim::Fault;
    // Four failures, an answer with another code, four more: never five in a row.
    sim::config().faults = {{Fault::ReadError, 1}, {Fault::ReadError, 2}, {Fault::ReadError, 3}, {Fault::ReadError, 4},
                            {Fault::WrongCode, 5}, {Fault::ReadError, 6}, {Fault::ReadError, 7}, {Fault::ReadError, 8},
                            {Fault::ReadError, 9}};
    RunResult r = runLogreaderCaptured();
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Kestrix+ found"), std::string::npos);
    EXPECT_EQ(sim::log().pausesUs, std::vector<uint32_t>(8, 200000));

    sim::reset();
    sim::config().faults = {{Fault::ReadError, 0, 14, 300, 5, 4}, {Fault::ReadError, 0, 14, 300, 6, 4}};
    r = runLogreaderCaptured();
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Done..."), std::string::npos);

    sim::reset();
    sim::config().faults = {{Fault::ReadError, 0, 14, 300, 5, 5}};
    r = runLogreaderCaptured();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(".....\r\nThe instrument stopped answering: reading from it failed 5 times in a row"),
              std::string::npos);
}

TEST_F(Identification, IdentityBlockIsPrintedByteForByte)
{
    sim::config().logMemory.assign(sim::logBytes, 0xFF);
    const RunResult r = runLogreaderCaptured();
    const std::string block =
        "\r\n\r\nKestrix+ found \r\n\tID : 01:A2:02:0F:FF \r\n\tBattery : 3600 mV\r\n\tHW: 1.8 \r\n\tSW: 2.5 \r\n"
        "\tTotal time : 7200 sec = 2 h \r\n\r\n";
    EXPECT_NE(r.out.find("let the magic start :)\r\n\n" + block + "\rDownloading data :   0%"), std::string::npos) << r.out;
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(sim::log().openedWithSerial);
    EXPECT_EQ(sim::log().openedSerial, L"KX0001");
}

TEST_F(Identification, TotalTimeShowsWholeHours)
{
    for (const auto& [seconds, text] : std::vector<std::pair<uint32_t, std::string>>{
             {3599, "3599 sec = 0 h"}, {7199, "7199 sec = 1 h"}, {7200, "7200 sec = 2 h"}}) {
        sim::reset();
        for (int i = 0; i < 4; ++i)
            sim::config().identity[12 + i] = static_cast<uint8_t>(seconds >> (8 * i));
        sim::config().identity[8] = 1;
        sim::config().identity[9] = 7;  // not a model the flasher serves: it stops after the block
        const RunResult r = runFlasherCaptured();
        EXPECT_NE(r.out.find("\tTotal time : " + text + " \r\n"), std::string::npos) << r.out;
    }
}

TEST_F(Identification, RepliesWithAnotherCodeAreDroppedAndTheRequestRepeated)
{
    sim::config().faults = {{sim::Fault::WrongCode, 1}, {sim::Fault::Timeout, 2}, {sim::Fault::Short, 3}};
    sim::config().identity[8] = 3;  // stops the flasher after the block
    const RunResult r = runFlasherCaptured();
    const auto& requests = sim::log().requests;
    ASSERT_EQ(requests.size(), 3u);  // the short reply still carries code 2
    for (const auto& req : requests)
        EXPECT_EQ(req[0], 2);
    EXPECT_NE(r.out.find("HW: 3.8 \r\n"), std::string::npos);
    EXPECT_EQ(r.status, 2);
}

TEST_F(Identification, RemovedInstrumentEndsTheRunInsteadOfSpinning)
{
    sim::config().removedFrom = 1;
    const RunResult logreader = runLogreaderCaptured();
    EXPECT_EQ(logreader.status, 1);
    EXPECT_TRUE(endsWith(logreader.out, "let the magic start :)\r\n\n\r\nThe instrument stopped answering: reading "
                                        "from it failed 5 times in a row (the instrument was disconnected). Check the "
                                        "cable and that the instrument is on, then start again.\r\n"))
        << logreader.out;
    EXPECT_EQ(sim::log().requests.size(), 5u);  // identification only, no download
    EXPECT_EQ(sim::log().pausesUs, std::vector<uint32_t>(4, 200000));
    EXPECT_EQ(sim::log().closes, 1u);

    sim::reset();
    sim::config().removedFrom = 1;
    const RunResult flasher = runFlasherCaptured();
    EXPECT_EQ(flasher.status, 2);
    EXPECT_NE(flasher.out.find("Send error: the instrument was disconnected\n"), std::string::npos);
}

TEST_F(Identification, FlasherReportsAFailedWriteAndTriesAgain)
{
    sim::config().errorText = L"";
    sim::config().faults = {{sim::Fault::WriteError, 1}};
    RunResult r = runFlasherCaptured();
    EXPECT_NE(r.out.find("\r\n\nSend error: unknown error\n\r\n\r\nKestrix+ found"), std::string::npos) << r.out;

    sim::reset();
    sim::config().errorText = L"hid_error is not implemented yet";  // hidapi's libusb back end, always
    sim::config().faults = {{sim::Fault::WriteError, 1}};
    r = runFlasherCaptured();
    EXPECT_NE(r.out.find("\r\n\nSend error: unknown error\n"), std::string::npos) << r.out;

    sim::reset();
    sim::config().errorText = L"pipe error";
    sim::config().faults = {{sim::Fault::WriteError, 1}};
    r = runFlasherCaptured();
    EXPECT_NE(r.out.find("Send error: pipe error\n"), std::string::npos);
    EXPECT_EQ(sim::log().requests.size() >= 2, true);

    sim::reset();
    sim::config().faults = {{sim::Fault::WriteError, 1}};
    EXPECT_EQ(runLogreaderCaptured().out.find("Send error"), std::string::npos);  // the log reader stays quiet
}

TEST_F(Identification, NoInstrumentAndUnopenableInstrument)
{
    sim::config().present = false;
    RunResult r = runLogreaderCaptured();
    // The whole console of the run: banner, usage, the message.
    EXPECT_EQ(r.out, "Kestrix plus LOGreader v.1.06a - free software, without any warranty\r\nusage :\r\nConnect your "
                     "KX+ to PC via USB , device must be on - and let the magic start :)\r\n\nDevice not found \r\n"
                     "Reading data \r\n");
    EXPECT_EQ(r.status, 2);  // no "raw.dat" to export either

    sim::reset();
    sim::config().openFails = true;
    LogBuilder().point(t0).save();
    setModified("raw.dat", t0);
    r = runLogreaderCaptured();
    EXPECT_NE(r.out.find("Failed to open device!\n" + openHint("kxlogreader") + "Reading data \r\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(sim::log().requests.empty());
    // What is exported instead is named: its date, and how much of the log it holds.
    EXPECT_EQ(r.err.find("Exporting the \"raw.dat\" of an earlier download (2024-05-01 10:20)"), 0u) << r.err;
    EXPECT_TRUE(endsWith(r.err, "): 0 of 256 pages, a partial log: download again for the whole of it.\n")) << r.err;

    sim::reset();
    sim::config().present = false;
    writeFile("raw.dat", std::string(256 * 4096, '\xFF'));
    r = runLogreaderCaptured();
    EXPECT_NE(r.err.find("): 256 of 256 pages.\n"), std::string::npos) << r.err;
}

RunResult logreaderWithOneByteIdentification(const std::vector<std::string>& args)
{
    sim::config().fixedReplies[2] = {2};  // the code alone
    return runLogreaderCaptured(args);
}

TEST_F(Identification, ShortestReplyWithItsCodeIdentifies)
{
    const RunResult r = runWithDeadline(logreaderWithOneByteIdentification, {}, 20);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Kestrix+ found \r\n\tID : 00:00:00:00:00 \r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Done...\r\n"), std::string::npos);
}

TEST_F(Identification, HelpAndVersionTouchNothing)
{
    LogBuilder().point(t0).save();
    for (const auto run : {runLogreaderCaptured, runFlasherCaptured})
        for (const char* word : {"--help", "-h", "--version"}) {
            sim::reset();
            const RunResult r = run({word});
            EXPECT_EQ(r.status, 0) << word;
            EXPECT_EQ(sim::log().inits + sim::log().enumerations + sim::log().opens, 0u) << word;
            EXPECT_EQ(r.out.find(word[2] == 'v' ? "kx" : "Usage: kx"), 0u) << r.out;
            EXPECT_NE(r.out.find(word[2] == 'v' ? " (kxtools " : "See man kx"), std::string::npos) << r.out;
            EXPECT_EQ(listFolder("."), std::vector<std::string>{"raw.dat"});
        }
}

TEST_F(Identification, AnyArgumentSkipsTheInstrumentAndTheUsb)
{
    LogBuilder().point(t0).save();
    const RunResult r = runLogreaderCaptured({""});
    EXPECT_EQ(sim::log().inits + sim::log().enumerations + sim::log().opens, 0u);
    EXPECT_TRUE(sim::log().requests.empty());
    EXPECT_NE(r.out.find(":)\r\n\nReading data \r\n"), std::string::npos);
    EXPECT_EQ(readFile("raw.dat").size(), 32u);
}

}  // namespace
