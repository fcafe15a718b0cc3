// The tavboot binary as scripts use it: output contract and exit statuses against simulated devices.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "core/loader_state.h"
#include "image/image_digest.h"
#include "image/image_file.h"
#include "link/serial.h"
#include "sim/sim_device.h"
#include "tests/cli_fixture.h"
#include "tests/process_support.h"
#include "tests/recording_ui.h"
#include "tests/test_support.h"

using Lines = std::vector<std::string>;

namespace {

Lines PageLines(int pages) {
    Lines lines;
    for (int page = 0; page < pages; ++page) lines.push_back("status:  BOOTLoader, Write page " + std::to_string(page));
    return lines;
}

}  // namespace

TEST_F(CliTest, DownloadsEachSampleWithTheStatusLinesInOrder) {
    const struct {
        const char* file;
        int pages;
    } samples[] = {{"sample.hex", 13}, {"sample.tvk", 11}};
    for (const auto& sample : samples) {
        const std::string port = StartDevice();
        const ProcessResult result = RunTavboot({"download", "--port", port, kExamples + sample.file});
        EXPECT_EQ(result.status, 0) << result.err;
        Lines expected = {"status: Bootloader CRC is correct", "status:  BOOTLoader actived ",
                          "status: BOOT device: erase finished"};
        for (const std::string& line : PageLines(sample.pages)) expected.push_back(line);
        expected.push_back("status: BOOT successful finished ;-) ");
        expected.push_back("BOOT info: Boot successful finished");
        EXPECT_EQ(SplitLines(result.err), expected);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(FlashHolds(devices.back().get(), Decoded(kExamples + sample.file), static_cast<uint32_t>(sample.pages))) << sample.file;
    }
}

TEST_F(CliTest, QueriesPrintResultsInTextAndJson) {
    const std::string port = StartDevice();
    ProcessResult result = RunTavboot({"hwinfo", "--port", port});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "HW platform: TAV-SIM-PLATFORM\nHW version: HW 1.0\nBOOT SW version: BOOT 2.1\n");
    EXPECT_EQ(result.err, "status: Bootloader CRC is correct\n");
    result = RunTavboot({"hwinfo", "--port", port, "--json"});
    const auto hw = nlohmann::json::parse(result.out);
    EXPECT_EQ(hw["hw_platform"], "TAV-SIM-PLATFORM");
    EXPECT_EQ(hw["hw_version"], "HW 1.0");
    EXPECT_EQ(hw["boot_sw_version"], "BOOT 2.1");

    const std::string app_port = StartDevice();
    result = RunTavboot({"appinfo", "--port", app_port});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Application info: TavSim App\nFW version: FW 3.4\n");
    EXPECT_EQ(result.err, "");
    result = RunTavboot({"appinfo", "--port", app_port, "--json"});
    const auto app = nlohmann::json::parse(result.out);
    EXPECT_EQ(app["application"], "TavSim App");
    EXPECT_EQ(app["fw_version"], "FW 3.4");
}

TEST_F(CliTest, DeviceTextsAndFileNamesKeepEveryByteInJsonAndTheLog) {
    // A device text's bytes from 0x80 on are the characters of the same number.
    std::memcpy(config.platform, "Verze \xf8\x9a\x80\xff", 11);
    std::memcpy(config.hw_version, "\xa0\xe9", 3);
    const std::string port = StartDevice();
    const std::string log = TempDir() + "/texts.log";
    ProcessResult result = RunTavboot({"hwinfo", "--port", port, "--json", "--log", log});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string platform = "Verze \xc3\xb8\xc2\x9a\xc2\x80\xc3\xbf";
    EXPECT_EQ(nlohmann::json::parse(result.out)["hw_platform"], platform);
    EXPECT_EQ(nlohmann::json::parse(result.out)["hw_version"], "\xc2\xa0\xc3\xa9");
    result = RunTavboot({"hwinfo", "--port", StartDevice()});
    EXPECT_NE(result.out.find("HW platform: " + platform + "\n"), std::string::npos) << result.out;
    // A name keeps its UTF-8; a byte that is not UTF-8 is escaped the same way.
    const std::string folder = TempDir() + "/Zkou\x9a" "ka \xce\x94\xce\xbf\xce\xba";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string file = folder + "/fw_\xc5\x99.hex";
    std::ifstream sample(kExamples + "sample.hex", std::ios::binary);
    std::ofstream(file, std::ios::binary) << sample.rdbuf();
    result = RunTavboot({"download", "--port", StartDevice(), "--log", log, file});
    ASSERT_EQ(result.status, 0) << result.err;
    std::ifstream records(log);
    std::string first, second;
    std::getline(records, first);
    std::getline(records, second);
    EXPECT_EQ(nlohmann::json::parse(first)["hw_platform"], platform);
    EXPECT_EQ(nlohmann::json::parse(second)["file"],
              TempDir() + "/Zkou\xc2\x9a" "ka \xce\x94\xce\xbf\xce\xba/fw_\xc5\x99.hex");
}

TEST_F(CliTest, FailuresPrintTheirBoxAndExitOne) {
    const struct {
        SimFault fault;
        std::vector<std::string> args;
        Lines err;
    } cases[] = {
        {SimFaultSyncZero, {"download", "FILE"},
         {"BOOT info: Boot sequence error",
          "tavboot: PORT: no answer from the bootloader; is the device powered and in its application?",
          "status: BOOT sequence unactive"}},
        {SimFaultWrongKey, {"download", "FILE"},
         {"status: Bootloader CRC is correct", "BOOT info: Boot safety keys error", "status: BOOT safety key Error"}},
        {SimFaultBadDataAck, {"download", "FILE"},
         {"status: Bootloader CRC is correct", "status:  BOOTLoader actived ", "status: BOOT device: erase finished",
          "status: BOOT message failed", "BOOT info: Boot communication error"}},
        {SimFaultShortIdentity, {"hwinfo"},
         {"status: Bootloader CRC is correct", "BOOT info: Boot constant strings error",
          "status: BOOT constant strings Error"}},
        {SimFaultModbusException, {"appinfo"},
         {"BOOT info: Application info read error", "status: BOOT application info Error"}},
    };
    for (const auto& c : cases) {
        config.fault = c.fault;
        std::vector<std::string> args = c.args;
        if (args.back() == "FILE") args.back() = kExamples + "sample.hex";
        const std::string port = StartDevice();
        args.insert(args.begin() + 1, {"--port", port});
        const ProcessResult result = RunTavboot(args);
        EXPECT_EQ(result.status, 1) << args[0];
        Lines err = c.err;
        for (std::string& line : err)
            if (line.rfind("tavboot: PORT", 0) == 0) line.replace(9, 4, port);
        EXPECT_EQ(SplitLines(result.err), err) << args[0];
        EXPECT_EQ(result.out, "");
    }
    ProcessResult result = RunTavboot({"download", "--port", "/dev/tavboot-no-such-port", kExamples + "sample.tvk"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "COM port info: COM open error\n"
                          "tavboot: /dev/tavboot-no-such-port: No such file or directory\n");
    result = RunTavboot({"download", "--port", "/dev/null", kExamples + "make_samples.py"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "File Error: File has unsupported suffix format\n");
    mkdir((TempDir() + "/folder.hex").c_str(), 0700);
    const struct {
        std::string file;
        const char* reason;
    } unreadable[] = {{TempDir() + "/missing.hex", "No such file or directory"},
                      {TempDir() + "/folder.hex", "is a directory"}};
    for (const auto& c : unreadable) {
        result = RunTavboot({"download", "--port", "/dev/null", c.file});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "File Error: File read error\ntavboot: " + c.file + ": " + c.reason + "\n");
    }
}

TEST_F(CliTest, UsageErrorsExitTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"flash"},
        {"download"},
        {"download", "--boot-value", "12345", "x.hex"},
        {"download", "--unlock-key", "GGGGGGGG", "x.hex"},
        {"hwinfo", "--boot-value", "12"},
        {"appinfo", "--bogus"},
        {"inspect"},
    };
    for (const auto& args : cases) {
        const ProcessResult result = RunTavboot(args);
        EXPECT_EQ(result.status, 2) << (args.empty() ? "(none)" : args[0]) << ": " << result.err;
    }
    EXPECT_EQ(RunTavboot({"--help"}).status, 0);
    EXPECT_EQ(RunTavboot({"download", "--help"}).status, 0);
    EXPECT_EQ(RunTavboot({"--version"}).out, "tavboot 0.0.10\n");
}

TEST_F(CliTest, RunTimeBootValueAndKeyReachTheDevice) {
    config.boot_value = 0x1234;
    config.key[0] = 0x01, config.key[1] = 0x02, config.key[2] = 0x03, config.key[3] = 0x04;
    config.fault = SimFaultNone;
    const std::string port = StartDevice();
    EXPECT_EQ(RunTavboot({"download", "--port", port, kExamples + "sample.hex"}).status, 1)
        << "the built-in key does not open this device";
    const ProcessResult result = RunTavboot(
        {"download", "--port", port, "--boot-value", "1234", "--unlock-key", "01020304", kExamples + "sample.hex"});
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<uint8_t> received = SimReceived(devices.back().get());
    const uint8_t enter_boot[] = {0xFF, 0x06, 0x00, 0x1C, 0x12, 0x34};
    EXPECT_NE(std::search(received.begin(), received.end(), enter_boot, enter_boot + 6), received.end());
}

TEST_F(CliTest, PortHeldByAnotherTavbootIsRefusedAndUndisturbed) {
    const std::string port = StartDevice();
    ASSERT_EQ(OpenPort(port.c_str(), "19200", 8), 1);
    const ProcessResult result = RunTavboot({"download", "--port", port, kExamples + "sample.hex"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "COM port info: COM open error\ntavboot: " + port +
                              ": Resource temporarily unavailable; the port is held by another program\n");
    EXPECT_TRUE(SimReceived(devices.back().get()).empty());
}

TEST_F(CliTest, PortItsHolderReleasesHalfASecondLaterIsOpenedOnTheFirstTry) {
    // Back-to-back runs: the previous holder lets go a moment after this run starts.
    const std::string port = StartDevice();
    const int holder = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    std::thread release([holder] {
        usleep(500000);
        close(holder);
    });
    const ProcessResult result = RunTavboot({"download", "--port", port, kExamples + "sample.hex"});
    release.join();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err.find("COM open error"), std::string::npos) << result.err;
}

TEST_F(CliTest, InterruptReleasesThePortAndExits130) {
    config.paced = 1;
    const std::string port = StartDevice();
    BackgroundProcess process = StartTavboot({"download", "--port", port, kExamples + "sample.hex"});
    ASSERT_TRUE(WaitForStderr(&process, "Write page 0", 60)) << process.err;
    kill(process.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&process, 30), 130);
    EXPECT_NE(process.err.find("interrupted"), std::string::npos) << process.err;
    EXPECT_NE(process.err.find("bootloader"), std::string::npos) << process.err;
    EXPECT_EQ(OpenPort(port.c_str(), "19200", 8), 1) << "the port must be free again";
}

TEST_F(CliTest, InspectDescribesTheSamples) {
    ProcessResult result = RunTavboot({"inspect", kExamples + "sample.tvk"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "file: " + kExamples + "sample.tvk\ntype: tvk\nimage length: 14336\npages: 11\n"
                          "downloadable: yes\nheader platform: TAV-SIM-PLATFORM\nheader version: HW 1.0\n"
                          "data addresses: 0x01000 to 0x037FF\nbytes below 0x1000 (never sent): 0\n"
                          "sent bytes: 11264 (0x1000 to 0x03BFF)\nsent CRC-32: 2ccdd7c9\n"
                          "sent SHA-256: 49c97132a30185a89a5931be18fdcf6e487122069c4d1c861ed89a65a4633d03\n");
    EXPECT_EQ(result.err, "");
    result = RunTavboot({"inspect", kExamples + "sample.hex", "--json"});
    const auto facts = nlohmann::json::parse(result.out);
    EXPECT_EQ(facts["type"], "hex");
    EXPECT_EQ(facts["image_length"], 16384);
    EXPECT_EQ(facts["pages"], 13);
    EXPECT_EQ(facts["downloadable"], true);
    EXPECT_TRUE(facts["header_platform"].is_null());
    result = RunTavboot({"inspect", WriteTempFile("cut.hex", ":10100000001100")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "File Error: Intel HEX line 1: file ends inside a record\n");
}

TEST_F(CliTest, SimulateServesADeviceAndWritesItsFlash) {
    const std::string link = TempDir() + "/simulated-port";
    const std::string flash_file = TempDir() + "/flash.bin";
    BackgroundProcess simulator = StartTavboot({"simulate", "--link", link, "--flash-out", flash_file,
                                                "--erase-delay", "0", "--program-delay", "0"});
    ASSERT_TRUE(WaitForStdout(&simulator, "\n", 30)) << simulator.err;
    const ProcessResult result = RunTavboot({"download", "--port", link, kExamples + "sample.tvk"});
    EXPECT_EQ(result.status, 0) << result.err;
    kill(simulator.pid, SIGTERM);
    EXPECT_EQ(FinishProcess(&simulator, 30), 0);
    std::ifstream in(flash_file, std::ios::binary);
    const std::vector<uint8_t> flash((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<uint8_t> image = Decoded(kExamples + "sample.tvk");
    ASSERT_EQ(flash.size(), size_t(kImageCapacity));
    EXPECT_TRUE(std::equal(image.begin() + 4096, image.begin() + 4096 + 11 * 1024, flash.begin() + 4096));
}

TEST_F(CliTest, ManyPortsAtOnceWithOneFailingMidTransfer) {
    std::vector<std::string> args = {"download"};
    for (int i = 0; i < 8; ++i) {
        config.fault = i == 5 ? SimFaultNoDataAck : SimFaultNone;
        config.fault_arg = 100;
        args.insert(args.end(), {"--port", StartDevice()});
    }
    args.push_back(kExamples + "sample.hex");
    args.push_back("--json");
    const ProcessResult result = RunTavboot(args, 300);
    EXPECT_EQ(result.status, 1);
    const std::vector<uint8_t> image = Decoded(kExamples + "sample.hex");
    for (size_t i = 0; i < 8; ++i) {
        if (i == 5) continue;
        EXPECT_TRUE(FlashHolds(devices[i].get(), image, 13)) << i;
    }
    const std::string failed = devices[5]->slave_path;
    EXPECT_NE(result.err.find("[" + failed + "] status: BOOT message failed"), std::string::npos) << result.err;
    const auto summary = nlohmann::json::parse(result.out);
    EXPECT_EQ(summary["ok"], false);
    ASSERT_EQ(summary["ports"].size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(summary["ports"][i]["result"], i == 5 ? "failed" : "ok") << i;
    }
    EXPECT_EQ(summary["ports"][5]["message"], "BOOT info: Boot communication error");
    std::string summary_line;
    for (const std::string& line : SplitLines(result.err))
        if (line.rfind(failed + " ", 0) == 0) summary_line = line;
    EXPECT_NE(summary_line.find("FAILED"), std::string::npos) << result.err;
    EXPECT_NE(summary_line.find("Boot communication error"), std::string::npos) << result.err;
}

TEST_F(CliTest, LargestReorderedAndOversizedHexFiles) {
    // objcopy's HEX of the largest image the device takes (about 715 KB of text).
    const std::vector<uint8_t> firmware = PatternImage(kMaxDownloadLength - kImageFirstOffset, 21);
    const std::string bin = WriteTempFile("largest.bin", std::string(firmware.begin(), firmware.end()));
    const std::string largest = TempDir() + "/largest.hex";
    ASSERT_EQ(std::system(("objcopy -I binary -O ihex --change-addresses 0x1000 " + bin + " " + largest).c_str()), 0);
    std::string port = StartDevice();
    ProcessResult result = RunTavboot({"download", "--port", port, largest}, 300);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(FlashHolds(devices.back().get(), Decoded(largest), 249));
    EXPECT_TRUE(std::equal(firmware.begin(), firmware.end(), SimFlash(devices.back().get()).begin() + 0x1000));

    // Records in descending address order: the higher data is sent too.
    const std::vector<uint8_t> high = PatternImage(16, 22);
    const std::string descending = WriteTempFile("descending.hex", HexRecord(0, 0x2000, high) + "\r\n" +
                                                  HexRecord(0, 0x1000, PatternImage(16, 23)) + "\r\n" +
                                                  HexRecord(1, 0, {}) + "\r\n");
    port = StartDevice();
    result = RunTavboot({"download", "--port", port, descending});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(std::equal(high.begin(), high.end(), SimFlash(devices.back().get()).begin() + 0x2000));

    // One byte over 4 MiB: refused before anything goes to the device.
    const std::string over = WriteTempFile("over.hex", std::string(kRawFileCapacity + 1, ':'));
    port = StartDevice();
    result = RunTavboot({"download", "--port", port, over});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "File Error: File is larger than 4194304 bytes\n");
    EXPECT_TRUE(SimReceived(devices.back().get()).empty());
}

TEST_F(CliTest, DataBelow0x1000IsWarnedAboutAndInspectNamesTheSentBytes) {
    const std::string warning = "warning: 16 bytes of data lie below 0x1000, in the bootloader's area, and are not sent";
    const std::string hex = WriteTempFile("low.hex", HexRecord(0, 0x0FF0, PatternImage(16, 31)) + "\r\n" +
                                                         HexRecord(0, 0x1000, PatternImage(32, 32)) + "\r\n" +
                                                         HexRecord(1, 0, {}) + "\r\n");
    ProcessResult result = RunTavboot({"inspect", hex, "--json"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, warning + "\n");
    auto facts = nlohmann::json::parse(result.out);
    EXPECT_EQ(facts["lowest_data_address"], 0x0FF0);
    EXPECT_EQ(facts["highest_data_address"], 0x101F);
    EXPECT_EQ(facts["bytes_below_0x1000"], 16);
    EXPECT_EQ(facts["sent_bytes"], 1024);

    const std::string port = StartDevice();
    result = RunTavboot({"download", "--port", port, hex});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(SplitLines(result.err).at(0), warning);
    EXPECT_EQ(SplitLines(result.err).back(), "BOOT info: Boot successful finished");

    result = RunTavboot({"inspect", kExamples + "sample.hex", "--json"});
    facts = nlohmann::json::parse(result.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(facts["lowest_data_address"], 0x1000);
    EXPECT_EQ(facts["highest_data_address"], 0x3FFF);
    EXPECT_EQ(facts["bytes_below_0x1000"], 0);
    EXPECT_EQ(facts["sent_bytes"], 13 * 1024);
    Decoded(kExamples + "sample.hex");
    char sha[65];
    ComputeSentImageSha256(sha);
    EXPECT_EQ(facts["sent_sha256"], sha);
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", ComputeSentImageCrc32());
    EXPECT_EQ(facts["sent_crc32"], crc);
}
