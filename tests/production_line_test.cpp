// A production line through the binary: the run log, retries, the unattended station and ports chosen by adapter.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "production/station.h"
#include "sim/sim_device.h"
#include "tests/process_support.h"
#include "tests/test_support.h"

using nlohmann::json;

namespace {

const std::string kExamples = std::string(TAVBOOT_SOURCE_DIR) + "/examples/";

class ProductionLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimDefaultConfig(&config);
        config.erase_delay_ms = 0;
        config.program_delay_ms = 0;
        log = TempDir() + "/line-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        std::remove(log.c_str());
    }
    void TearDown() override {
        for (auto& device : devices) SimStop(device.get());
    }
    SimDevice* StartDevice() {
        devices.push_back(std::make_unique<SimDevice>());
        EXPECT_EQ(SimOpen(devices.back().get(), &config), 1);
        EXPECT_EQ(SimStartThread(devices.back().get()), 1);
        return devices.back().get();
    }
    // Every line of the log, each parsed; a line that is no JSON object fails the test.
    std::vector<json> Records() {
        std::vector<json> records;
        std::ifstream in(log);
        std::string line;
        while (std::getline(in, line)) {
            const json record = json::parse(line, nullptr, false);
            EXPECT_TRUE(record.is_object()) << line;
            records.push_back(record);
        }
        return records;
    }
    json RecordOf(const std::string& port) {
        for (const json& record : Records())
            if (record["port"] == port) return record;
        return json();
    }
    SimConfig config;
    std::vector<std::unique_ptr<SimDevice>> devices;
    std::string log;
};

}  // namespace

// Eight ports at once: one recovers on its second try, one fails on both.
TEST_F(ProductionLineTest, LogHoldsOneWholeRecordPerPortWithItsAttempts) {
    std::vector<std::string> args = {"download", "--retries", "1", "--log", log, "--json"};
    for (int i = 0; i < 8; ++i) {
        config.fault = i == 1 || i == 2 ? SimFaultSyncCrcFail : SimFaultNone;
        config.sync_faults = i == 1 ? 1 : 0;
        args.insert(args.end(), {"--port", StartDevice()->slave_path});
    }
    args.push_back(kExamples + "sample.hex");
    const ProcessResult result = RunTavboot(args, 300);
    EXPECT_EQ(result.status, 1) << result.err;
    ASSERT_EQ(Records().size(), 8u);
    const json facts = json::parse(RunTavboot({"inspect", "--json", kExamples + "sample.hex"}).out);
    for (size_t i = 0; i < 8; ++i) {
        const json record = RecordOf(devices[i]->slave_path);
        ASSERT_TRUE(record.is_object()) << i;
        EXPECT_EQ(record["result"], i == 2 ? "failed" : "ok") << i;
        EXPECT_EQ(record["attempts"], i == 1 || i == 2 ? 2 : 1) << i;
        EXPECT_EQ(record["operation"], "download");
        EXPECT_EQ(record["image_length"], 16384);
        EXPECT_EQ(record["pages"], 13);
        EXPECT_EQ(record["image_sha256"], facts["sent_sha256"]);
        EXPECT_EQ(record["hw_platform"], i == 2 ? json() : json("TAV-SIM-PLATFORM")) << i;
        EXPECT_EQ(record["message"], i == 2 ? "BOOT info: Bootloader CRC fail, data in device memory is corrupted" : "");
        EXPECT_EQ(record["time"].get<std::string>().size(), 24u) << record["time"];
    }
    const json summary = json::parse(result.out);
    EXPECT_EQ(summary["ports"][1]["attempts"], 2);
    EXPECT_NE(result.err.find("] retry: attempt 2 of 2 after BOOT info: Bootloader CRC fail"), std::string::npos);
}

TEST_F(ProductionLineTest, RefusalsAreNotRetriedAndAnUnopenableLogSendsNothing) {
    config.key[0] ^= 1;
    const std::string wrong_key = StartDevice()->slave_path;
    SimDefaultConfig(&config);
    SimSetText(config.platform, sizeof config.platform, "OTHER-PLATFORM");
    const std::string other_hardware = StartDevice()->slave_path;
    ProcessResult result = RunTavboot({"download", "--retries", "3", "--log", log, "--port", wrong_key, "--port",
                                       other_hardware, kExamples + "sample.tvk"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(RecordOf(wrong_key)["message"], "BOOT info: Boot safety keys error");
    EXPECT_EQ(RecordOf(wrong_key)["attempts"], 1);
    EXPECT_EQ(RecordOf(other_hardware)["message"], "BOOT info: HW is uncompatible with selected SW image File");
    EXPECT_EQ(RecordOf(other_hardware)["attempts"], 1);
    EXPECT_EQ(result.err.find("retry:"), std::string::npos) << result.err;

    const std::string fresh = StartDevice()->slave_path;
    result = RunTavboot({"download", "--log", TempDir() + "/no/such/dir.log", "--port", fresh,
                         kExamples + "sample.hex"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("cannot open the log"), std::string::npos) << result.err;
    EXPECT_TRUE(SimReceived(devices.back().get()).empty());
}

// Records written at the same moment by many ports: long ones, as a deep file path makes them.
TEST_F(ProductionLineTest, PortsLoggingAtOnceLeaveWholeLines) {
    std::string deep_path = kExamples;
    while (deep_path.size() < 3800) deep_path += "./";
    std::vector<std::string> args = {"download", "--log", log};
    for (int i = 0; i < 16; ++i) args.insert(args.end(), {"--port", TempDir() + "/absent-port-" + std::to_string(i)});
    args.push_back(deep_path + "sample.hex");
    EXPECT_EQ(RunTavboot(args).status, 1);
    const std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 16u);
    for (const json& record : records) EXPECT_EQ(record["message"], "COM port info: COM open error");
}

// A board is plugged (its port appears), downloaded and pulled; then the next one.
TEST_F(ProductionLineTest, StationDownloadsBoardAfterBoardOnOnePort) {
    const std::string port = TempDir() + "/station-port";
    unlink(port.c_str());
    ASSERT_EQ(symlink(StartDevice()->slave_path, port.c_str()), 0);
    const std::string image = TempDir() + "/station-image.hex";
    std::filesystem::copy_file(kExamples + "sample.hex", image, std::filesystem::copy_options::overwrite_existing);
    BackgroundProcess station = StartTavboot({"station", "--port", port, "--boards", "2", "--log", log, image});
    ASSERT_TRUE(WaitForStderr(&station, "done, remove the board", 60)) << station.err;
    // Every board gets the image checked at the start, whatever becomes of the file.
    std::ofstream(image) << "not an image\n";
    // Something still answers on the port as the board just flashed: the board is not yet gone,
    // nothing new starts.
    const std::string swapped = port + ".new";
    unlink(swapped.c_str());
    ASSERT_EQ(symlink(StartDevice()->slave_path, swapped.c_str()), 0);
    ASSERT_EQ(rename(swapped.c_str(), port.c_str()), 0);
    SimStop(devices[0].get());
    const std::string next_board = "TavSim App FW 3.4; remove it\n[" + port + "] waiting for a board";
    EXPECT_FALSE(WaitForStderr(&station, next_board, 3));
    unlink(port.c_str());
    ASSERT_TRUE(WaitForStderr(&station, next_board, 30))
        << station.err;
    ASSERT_EQ(symlink(devices.back()->slave_path, port.c_str()), 0);
    EXPECT_EQ(FinishProcess(&station, 60), 0) << station.err;
    unlink(port.c_str());
    const std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 2u);
    for (const json& record : records) {
        EXPECT_EQ(record["result"], "ok");
        EXPECT_EQ(record["operation"], "station");
    }
    EXPECT_EQ(SimReceived(devices[1].get()).size() > 13 * 32 * 35, true);
    EXPECT_NE(station.err.find(port + "      2      0\n"), std::string::npos) << station.err;
}

// The station lets a download finish after one Ctrl-C; a download or query alone is interrupted, and logged so.
TEST_F(ProductionLineTest, OneCtrlCLetsTheStationFinishItsDownload) {
    config.paced = 1;
    const std::string port = StartDevice()->slave_path;
    BackgroundProcess station = StartTavboot({"station", "--port", port, "--log", log, kExamples + "sample.hex"}, true);
    ASSERT_TRUE(WaitForStderr(&station, "Write page 1", 60)) << station.err;
    kill(-station.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&station, 60), 0) << station.err;
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0]["result"], "ok");
    EXPECT_NE(station.err.find("Write page 12"), std::string::npos) << station.err;

    BackgroundProcess download = StartTavboot({"download", "--port", StartDevice()->slave_path, "--log", log,
                                               kExamples + "sample.hex"}, true);
    ASSERT_TRUE(WaitForStderr(&download, "Write page 0", 60)) << download.err;
    kill(-download.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&download, 30), 130);
    ASSERT_EQ(Records().size(), 2u);
    EXPECT_EQ(Records()[1]["result"], "interrupted");
    EXPECT_EQ(Records()[1]["image_length"], 16384);
    EXPECT_EQ(Records()[1]["hw_platform"], "TAV-SIM-PLATFORM");
    EXPECT_GT(Records()[1]["seconds"].get<double>(), 0.0);

    // A query interrupted while it waits for a silent device leaves its record too.
    config.fault = SimFaultSilent;
    BackgroundProcess query = StartTavboot({"hwinfo", "--port", StartDevice()->slave_path, "--log", log, "--trace"},
                                           true);
    ASSERT_TRUE(WaitForStderr(&query, "trace:", 60)) << query.err;
    kill(-query.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&query, 30), 130);
    ASSERT_EQ(Records().size(), 3u);
    EXPECT_EQ(Records()[2]["operation"], "hwinfo");
    EXPECT_EQ(Records()[2]["result"], "interrupted");
}

// Three adapters in a sysfs tree of the test's own: two alike but for their serial numbers.
TEST_F(ProductionLineTest, UsbSelectorsResolveToTheOnePortThatMatches) {
    namespace fs = std::filesystem;
    const fs::path root = TempDir() + "/sysroot";
    fs::remove_all(root);
    const struct {
        const char* tty, *usb, *vendor, *product, *serial;
    } kAdapters[] = {{"ttyUSB0", "1-1", "0403", "6001", "A1"},
                     {"ttyUSB1", "1-2", "0403", "6001", "A2"},
                     {"ttyACM0", "1-3", "2341", "0043", "X9"}};
    for (const auto& adapter : kAdapters) {
        const fs::path usb = root / "sys/devices/usb1" / adapter.usb;
        const fs::path tty = usb / (std::string(adapter.usb) + ":1.0") / adapter.tty;
        fs::create_directories(tty);
        fs::create_directories(root / "sys/bus/drivers/usbserial");
        fs::create_directory_symlink(root / "sys/bus/drivers/usbserial", tty / "driver");
        for (const auto& [name, value] : {std::pair{"idVendor", adapter.vendor}, {"idProduct", adapter.product},
                                         {"serial", adapter.serial}, {"product", "Serial Adapter"}})
            std::ofstream(usb / name) << value << "\n";
        fs::create_directories(root / "sys/class/tty" / adapter.tty);
        fs::create_directory_symlink(tty, root / "sys/class/tty" / adapter.tty / "device");
    }
    fs::create_directories(root / "dev/serial/by-id");
    fs::create_symlink("../../ttyUSB1", root / "dev/serial/by-id/usb-Serial_Adapter_A2-if00-port0");
    setenv("TAVBOOT_SYSFS_ROOT", root.c_str(), 1);

    const json ports = json::parse(RunTavboot({"ports", "--json"}).out);
    ASSERT_EQ(ports.size(), 3u);
    for (const json& port : ports) EXPECT_EQ(port["schema"], 1);
    EXPECT_EQ(ports[1]["port"], "/dev/ttyUSB0");
    EXPECT_EQ(ports[1]["driver"], "usbserial");
    EXPECT_EQ(ports[1]["vendor_id"], "0403");
    EXPECT_EQ(ports[2]["serial_number"], "A2");
    EXPECT_EQ(ports[2]["stable_name"], "/dev/serial/by-id/usb-Serial_Adapter_A2-if00-port0");
    EXPECT_EQ(ports[2]["usb_port"], "1-2");
    // The selector is resolved before the port is opened: the log names the port it became.
    for (const auto& [selector, resolved] : {std::pair{"usb:A2", "/dev/ttyUSB1"}, {"usb:2341:0043", "/dev/ttyACM0"},
                                             {"usb:0403:6001:A1", "/dev/ttyUSB0"}, {"usb-port:1-3", "/dev/ttyACM0"}}) {
        const ProcessResult result = RunTavboot({"appinfo", "--port", selector, "--log", log});
        EXPECT_EQ(result.err.rfind("COM port info: COM open error\n", 0), 0u) << result.err;
        EXPECT_EQ(Records().back()["port"], resolved) << selector;
    }
    ProcessResult result = RunTavboot({"download", "--port", "usb:0403:6001", kExamples + "sample.hex"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tavboot: usb:0403:6001 matches several ports, name one by its serial number:\n"
                          "  /dev/ttyUSB0  usb:0403:6001:A1\n  /dev/ttyUSB1  usb:0403:6001:A2\n");
    result = RunTavboot({"hwinfo", "--port", "usb:B7"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("no port matches usb:B7; USB ports:\n  /dev/ttyACM0  usb:2341:0043:X9\n"),
              std::string::npos) << result.err;
    // A station's selector is looked for again for every board: none matching yet is waited for.
    BackgroundProcess station = StartTavboot({"station", "--port", "usb:B7", "--port", "usb-port:1-1",
                                              kExamples + "sample.hex"}, true);
    EXPECT_TRUE(WaitForStderr(&station, "waiting for usb:B7: not present\n", 30)) << station.err;
    kill(-station.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&station, 30), 0) << station.err;
    result = RunTavboot({"station", "--port", "usb-port:1-2", "--port", "usb:A2", kExamples + "sample.hex"}, 30);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE(result.err.find("named twice"), std::string::npos) << result.err;
    unsetenv("TAVBOOT_SYSFS_ROOT");
}

// Records: a log that takes no records is refused before a byte is sent, never waited on; a
// record that does not fit is cut off whole and fails the run, said on stderr and in --json.
TEST_F(ProductionLineTest, ALogRecordIsWrittenWholeOrTheRunFails) {
    const std::string fifo = TempDir() + "/records.fifo";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string port = StartDevice()->slave_path;
    for (const std::string& bad : {fifo, TempDir(), std::string("/dev/full")}) {
        const ProcessResult result = RunTavboot({"download", "--log", bad, "--port", port, kExamples + "sample.hex"}, 30);
        EXPECT_EQ(result.status, 1) << bad << result.err;
        EXPECT_NE(result.err.find("not a regular file"), std::string::npos) << result.err;
    }
    EXPECT_TRUE(SimReceived(devices.back().get()).empty());
    unlink(fifo.c_str());

    // A file system that takes only part of the next record (a size limit stands for a full disk).
    const std::string first = "{\"earlier\":1}\n";
    std::ofstream(log) << first;
    const ProcessResult full = RunTavboot({"download", "--json", "--log", log, "--port", port, kExamples + "sample.hex"},
                                          120, [&] {
                                              signal(SIGXFSZ, SIG_IGN);
                                              const rlimit limit{first.size() + 100, first.size() + 100};
                                              setrlimit(RLIMIT_FSIZE, &limit);
                                          });
    EXPECT_EQ(full.status, 1) << full.err;
    EXPECT_NE(full.err.find("tavboot: cannot write to the log " + log + ": File too large"), std::string::npos)
        << full.err;
    EXPECT_NE(json::parse(full.out)["ports"][0]["message"].get<std::string>().find("cannot write to the log"),
              std::string::npos) << full.out;
    EXPECT_EQ(std::filesystem::file_size(log), first.size());
    EXPECT_EQ(RunTavboot({"download", "--log", log, "--port", port, kExamples + "sample.hex"}).status, 0);
    EXPECT_EQ(Records().size(), 2u);
}

// Records: Ctrl-C just after the last page leaves the true record; an interrupted download or
// query prints its object; an idle station ended claims no interruption; a file that does not load
// gives several ports one record and one entry each.
TEST_F(ProductionLineTest, EveryOperationLeavesOneTrueRecordAndOneObject) {
    const std::string port = StartDevice()->slave_path;
    for (size_t run = 1; run <= 5; ++run) {
        BackgroundProcess late = StartTavboot({"download", "--json", "--log", log, "--port", port,
                                               kExamples + "sample.hex"}, true);
        ASSERT_TRUE(WaitForStderr(&late, "Boot successful finished", 60)) << late.err;
        kill(-late.pid, SIGINT);
        EXPECT_EQ(FinishProcess(&late, 30), 0) << late.err;
        ASSERT_EQ(Records().size(), run);
        EXPECT_EQ(Records().back()["result"], "ok");
        EXPECT_EQ(json::parse(late.out)["ports"][0]["result"], "ok");
    }
    // Interrupted on its second attempt: the object counts both, as the log does.
    config.paced = 1;
    config.fault = SimFaultSyncCrcFail;
    config.sync_faults = 1;
    BackgroundProcess cut = StartTavboot({"download", "--json", "--retries", "1", "--log", log, "--port",
                                          StartDevice()->slave_path, kExamples + "sample.hex"}, true);
    ASSERT_TRUE(WaitForStderr(&cut, "Write page 1", 60)) << cut.err;
    kill(-cut.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&cut, 30), 130);
    const json interrupted = json::parse(cut.out, nullptr, false);
    EXPECT_EQ(interrupted["ports"][0]["result"], "interrupted") << cut.out;
    EXPECT_GT(interrupted["ports"][0]["seconds"].get<double>(), 0.0) << cut.out;
    EXPECT_EQ(interrupted["ports"][0]["attempts"], 2) << cut.out;
    EXPECT_EQ(Records().back()["attempts"], 2);
    config.fault = SimFaultSilent;
    BackgroundProcess query = StartTavboot({"hwinfo", "--json", "--trace", "--port", StartDevice()->slave_path}, true);
    ASSERT_TRUE(WaitForStderr(&query, "trace:", 60)) << query.err;
    kill(-query.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&query, 30), 130);
    EXPECT_EQ(json::parse(query.out, nullptr, false)["result"], "interrupted") << query.out;

    BackgroundProcess idle = StartTavboot({"station", "--port", TempDir() + "/no-board-here", kExamples + "sample.hex"});
    ASSERT_TRUE(WaitForStderr(&idle, "waiting for a board", 30)) << idle.err;
    kill(idle.pid, SIGTERM);
    EXPECT_NE(FinishProcess(&idle, 30), 130) << idle.err;
    EXPECT_EQ(idle.err.find("interrupted"), std::string::npos) << idle.err;

    std::remove(log.c_str());
    const ProcessResult missing = RunTavboot({"download", "--json", "--log", log, "--port", "/dev/a", "--port",
                                              "/dev/b", TempDir() + "/no-such.hex"});
    EXPECT_EQ(missing.status, 1);
    const json shape = json::parse(missing.out);
    ASSERT_EQ(shape["ports"].size(), 2u) << missing.out;
    EXPECT_EQ(shape["ports"][1]["result"], "failed");
    const json one = json::parse(RunTavboot({"download", "--json", "--port", "/dev/a", TempDir() + "/no-such.hex"}).out);
    EXPECT_EQ(shape["ports"][1]["message"], one["ports"][0]["message"]);
    EXPECT_EQ(shape["message"], one["message"]);
    EXPECT_EQ(Records().size(), 2u);
}

// Board presence: the station refuses the ports download refuses, a board is never made of
// bytes left on a silent line, and a port another program holds still has its board.
TEST_F(ProductionLineTest, StationCountsABoardOnlyWhereOneIs) {
    const std::string port = StartDevice()->slave_path;
    const std::string alias = TempDir() + "/presence-alias";
    unlink(alias.c_str());
    ASSERT_EQ(symlink(port.c_str(), alias.c_str()), 0);
    for (const std::vector<std::string>& ports : {std::vector<std::string>{port, port}, {port, alias},
                                                  {"COM1", "/dev/ttyS0"}, {std::string(300, 'x')}}) {
        std::vector<std::string> args = {"station", kExamples + "sample.hex"};
        for (const std::string& name : ports) args.insert(args.end(), {"--port", name});
        const ProcessResult result = RunTavboot(args, 30);
        EXPECT_EQ(result.status, 2) << ports[0] << result.err;
    }
    unlink(alias.c_str());

    config.fault = SimFaultSilent;
    std::memset(config.stale, 0x5A, sizeof config.stale);  // more than an application's answer
    config.stale_length = int(sizeof config.stale);
    BackgroundProcess stale = StartTavboot({"station", "--port", StartDevice()->slave_path, "--log", log,
                                            kExamples + "sample.hex"}, true);
    ASSERT_TRUE(WaitForStderr(&stale, "waiting for a board", 30)) << stale.err;
    EXPECT_FALSE(WaitForStderr(&stale, "FAILED", 3)) << stale.err;
    kill(-stale.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&stale, 30), 0) << stale.err;
    EXPECT_TRUE(Records().empty());

    BackgroundProcess busy = StartTavboot({"station", "--port", port, "--verify-app", "0", "--log", log,
                                           kExamples + "sample.hex"}, true);
    ASSERT_TRUE(WaitForStderr(&busy, "done, remove the board", 60)) << busy.err;
    // Taken between two of the station's looks.
    int held = -1;
    for (int tries = 0; tries < 100 && held < 0; ++tries) {
        held = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (held >= 0 && flock(held, LOCK_EX | LOCK_NB) != 0) held = (close(held), -1);
        if (held < 0) usleep(20000);
    }
    ASSERT_GE(held, 0);
    EXPECT_FALSE(WaitForStderr(&busy, "done, remove the board\n[" + port + "] waiting for a board", 5)) << busy.err;
    close(held);
    kill(-busy.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&busy, 30), 0) << busy.err;
    EXPECT_EQ(Records().size(), 1u);

    // Two names that reach one device only once the station runs (links made later, as selectors
    // matched later): the board is served by one of them, once.
    const std::string first = TempDir() + "/late-link-1", second = TempDir() + "/late-link-2";
    unlink(first.c_str());
    unlink(second.c_str());
    BackgroundProcess twice = StartTavboot({"station", "--port", first, "--port", second, "--verify-app", "0",
                                            "--log", log, kExamples + "sample.hex"}, true);
    ASSERT_TRUE(WaitForStderr(&twice, "waiting for " + second + ": not present", 30)) << twice.err;
    config.fault = SimFaultNone;
    config.stale_length = 0;
    const std::string device = StartDevice()->slave_path;
    ASSERT_EQ(symlink(device.c_str(), first.c_str()), 0);
    ASSERT_EQ(symlink(device.c_str(), second.c_str()), 0);
    ASSERT_TRUE(WaitForStderr(&twice, "done, remove the board", 60)) << twice.err;
    EXPECT_TRUE(WaitForStderr(&twice, "is already served by another station port", 10)) << twice.err;
    EXPECT_FALSE(WaitForStderr(&twice, "FAILED", 4)) << twice.err;
    kill(-twice.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&twice, 30), 0) << twice.err;
    EXPECT_EQ(twice.err.find("done, remove the board"), twice.err.rfind("done, remove the board")) << twice.err;
    unlink(first.c_str());
    unlink(second.c_str());
    EXPECT_EQ(Records().size(), 2u);
}

// Board presence: the application identifies the board flashed, however late it starts; another
// board swapped in at once is the next one. Without an answer the port's result is failed.
TEST_F(ProductionLineTest, StationTellsTheNextBoardByItsApplication) {
    config.app_start_ms = 3000;
    const std::string port = TempDir() + "/slot";
    unlink(port.c_str());
    ASSERT_EQ(symlink(StartDevice()->slave_path, port.c_str()), 0);
    BackgroundProcess station = StartTavboot({"station", "--port", port, "--boards", "2", "--log", log,
                                              kExamples + "sample.hex"});
    ASSERT_TRUE(WaitForStderr(&station, "the board still shows TavSim App", 60)) << station.err;
    SimSetText(config.app_name, sizeof config.app_name, "Old App");
    const std::string swapped = port + ".new";
    unlink(swapped.c_str());
    ASSERT_EQ(symlink(StartDevice()->slave_path, swapped.c_str()), 0);
    ASSERT_EQ(rename(swapped.c_str(), port.c_str()), 0);
    EXPECT_EQ(FinishProcess(&station, 90), 0) << station.err;
    unlink(port.c_str());
    const std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["app_name"], "TavSim App");
    EXPECT_EQ(records[0]["fw_version"], "FW 3.4");
    EXPECT_FALSE(SimReceived(devices[1].get()).empty());

    config.app_start_ms = 60000;
    const ProcessResult late = RunTavboot({"download", "--json", "--verify-app", "1", "--port",
                                           StartDevice()->slave_path, kExamples + "sample.hex"});
    EXPECT_EQ(late.status, 1) << late.err;
    EXPECT_EQ(json::parse(late.out)["ports"][0]["message"], "application did not start") << late.out;
    EXPECT_NE(late.err.find("BOOT info: Boot successful finished"), std::string::npos);
}

// A missing port's line: said when the port is first found away, then once a minute while it stays away.
TEST(StationAbsentLine, SaidAtOnceThenOnceAMinute) {
    EXPECT_TRUE(AbsentLineDue(0, kAbsentNeverSaid));
    EXPECT_TRUE(AbsentLineDue(30, kAbsentNeverSaid));
    EXPECT_FALSE(AbsentLineDue(30, 30));
    EXPECT_FALSE(AbsentLineDue(89.9, 30));
    EXPECT_TRUE(AbsentLineDue(90, 30));
    EXPECT_TRUE(AbsentLineDue(4000, 30));
}

// Start-up and faults said out loud: a refused image or a port that is no terminal ends the
// station at once; a missing port is named; a port's process that dies is started again.
TEST_F(ProductionLineTest, StationSaysWhatKeepsItFromServing) {
    const std::string port = StartDevice()->slave_path;
    ProcessResult result = RunTavboot({"station", "--port", port, TempDir() + "/no-such.hex"}, 30);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("File Error: File read error"), std::string::npos) << result.err;
    for (const std::string& not_a_port : {std::string("/dev/null"), TempDir()}) {
        result = RunTavboot({"station", "--port", not_a_port, kExamples + "sample.hex"}, 30);
        EXPECT_EQ(result.status, 2) << not_a_port;
        EXPECT_NE(result.err.find(not_a_port + " is not a serial port"), std::string::npos) << result.err;
    }
    EXPECT_TRUE(SimReceived(devices.back().get()).empty());

    const std::string absent = TempDir() + "/ttyUSB-absent";
    config.fault = SimFaultSilent;
    BackgroundProcess station = StartTavboot({"station", "--port", absent, "--port", StartDevice()->slave_path,
                                              kExamples + "sample.hex"}, true);
    ASSERT_TRUE(WaitForStderr(&station, "waiting for " + absent + ": not present\n", 30)) << station.err;
    std::string children;
    std::ifstream(std::string("/proc/") + std::to_string(station.pid) + "/task/" + std::to_string(station.pid) +
                  "/children") >> children;
    ASSERT_FALSE(children.empty());
    // Said once, not at every look; meanwhile the process has run long enough to be started again.
    const std::string absent_line = "waiting for " + absent + ": not present\n";
    EXPECT_FALSE(WaitForStderr(&station, absent_line + absent_line, 2)) << station.err;
    kill(std::atoi(children.c_str()), SIGKILL);
    EXPECT_TRUE(WaitForStderr(&station, "ended (status 130); started again\n[", 30)) << station.err;
    EXPECT_TRUE(WaitForStderr(&station, "] waiting for a board", 30)) << station.err;
    kill(-station.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&station, 30), 0) << station.err;

    // A process that dies at once is not started again: the port is said to be unserved, a
    // failure, not an interruption.
    station = StartTavboot({"station", "--port", absent, kExamples + "sample.hex"}, true);
    ASSERT_TRUE(WaitForStderr(&station, "waiting for a board", 30)) << station.err;
    std::ifstream(std::string("/proc/") + std::to_string(station.pid) + "/task/" + std::to_string(station.pid) +
                  "/children") >> children;
    kill(std::atoi(children.c_str()), SIGKILL);
    EXPECT_EQ(FinishProcess(&station, 30), 1) << station.err;
    EXPECT_NE(station.err.find("the port is no longer served"), std::string::npos) << station.err;
    // No process for a port at all (no descriptors left for its pipes): said, and a failure.
    // Only the standard three are open, and three more may be: room for no worker's pipes, yet for
    // the one a sanitizer's runtime opens for a moment.
    result = RunTavboot({"station", "--port", absent, kExamples + "sample.hex"}, 30, [] {
        for (int fd = 3; fd < 1024; ++fd) close(fd);
        const rlimit limit{6, 6};
        setrlimit(RLIMIT_NOFILE, &limit);
    });
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.err.find("station: no process could be started for " + absent), std::string::npos) << result.err;

    // A process that dies in the middle of a download: that board failed, with its record.
    config.fault = SimFaultNone;
    config.paced = 1;
    station = StartTavboot({"station", "--port", StartDevice()->slave_path, "--boards", "1", "--log", log,
                            kExamples + "sample.hex"}, true);
    ASSERT_TRUE(WaitForStderr(&station, "Write page 1", 60)) << station.err;
    std::ifstream(std::string("/proc/") + std::to_string(station.pid) + "/task/" + std::to_string(station.pid) +
                  "/children") >> children;
    kill(std::atoi(children.c_str()), SIGKILL);
    EXPECT_EQ(FinishProcess(&station, 120), 1) << station.err;
    const std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["result"], "failed");
    EXPECT_EQ(records[0]["message"], "the port's process ended without a result");
    EXPECT_EQ(records[1]["result"], "ok");
    EXPECT_NE(station.err.find("      1      1\n"), std::string::npos) << station.err;
}
