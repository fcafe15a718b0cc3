// Hardening: a pulled line in each phase, long waits that sleep, floods that overrun nothing,
// no false success, a second tavboot on a busy port, and Ctrl-C at any moment.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "image/image_file.h"
#include "link/serial.h"
#include "tests/boot_test_support.h"
#include "tests/fault_support.h"
#include "tests/process_support.h"
#include "tests/recording_ui.h"
#include "tests/test_support.h"

using Lines = std::vector<std::string>;

namespace {

const std::vector<uint8_t> kImage = PatternImage(4096 + 2 * 1024, 23);
const std::string kSample = std::string(TAVBOOT_SOURCE_DIR) + "/examples/sample.hex";

class HardeningTest : public BootTest {
protected:
    void TearDown() override {
        g_ui_hook = nullptr;
        BootTest::TearDown();
    }
    // The port is reached through a link, as /dev/serial/by-id names an adapter.
    void StartLinkedDevice() {
        StartDevice();
        link = TempDir() + "/adapter";
        unlink(link.c_str());
        ASSERT_EQ(symlink(device.slave_path, link.c_str()), 0);
        std::snprintf(g_loader.port_name, sizeof g_loader.port_name, "%s", link.c_str());
    }
    // The adapter is unplugged: its node goes and the line drops.
    void PullAdapterAt(const std::string& status) {
        g_ui_hook = [this, status](const UiCall& call) {
            if (call.kind != UiStatus || call.text != status || !started) return;
            SimStop(&device);
            started = false;
            unlink(link.c_str());
        };
    }
    void RunTicks() {
        for (int tick = 0; g_loader.transfer_state != 0 && tick < 10000; ++tick) TransferStep();
    }
    std::string link;
};

struct Unplug {
    const char* operation;  // "download", "hwinfo" or "appinfo"
    const char* moment;     // the status text at which the adapter goes; "" before the operation
    const char* box;
    const char* status;
};

void PrintTo(const Unplug& unplug, std::ostream* out) { *out << unplug.operation << " at \"" << unplug.moment << '"'; }

class UnplugInEachPhase : public HardeningTest, public ::testing::WithParamInterface<Unplug> {};

// A child of this process, or an orphan handed to it as subreaper, still there.
int LeftoverChildren() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state;
        long parent = 0;
        if (stat >> pid >> name >> state >> parent && parent == getpid()) ++count;
    }
    return count;
}

// The line is free again: nobody holds it exclusively and the loader can open it.
void ExpectPortFree(SimDevice* device) {
    int exclusive = 1;
    ASSERT_EQ(ioctl(device->slave_fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << device->slave_path << " is left exclusive";
    EXPECT_EQ(OpenPort(device->slave_path, "19200", 8), 1) << device->slave_path;
    ClosePort();
}

// tavboot processes against devices of the test's own.
class InterruptTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLoaderState();
        // Orphans of tavboot come to this process, where they can be counted.
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    }
    void TearDown() override {
        ClosePort();
        for (auto& device : devices) SimStop(device.get());
    }
    SimDevice* StartDevice(const SimConfig& config) {
        devices.push_back(std::make_unique<SimDevice>());
        EXPECT_EQ(SimOpen(devices.back().get(), &config), 1);
        EXPECT_EQ(SimStartThread(devices.back().get()), 1);
        return devices.back().get();
    }
    // Interrupts tavboot after_ms after moment shows on its stderr (no moment:
    // once the latest device has had the sync byte); it must end with 130 at
    // once, leaving every port free and no process behind.
    void InterruptAt(const std::vector<std::string>& args, const std::string& moment, bool whole_group,
                     int after_ms = 0) {
        BackgroundProcess process = StartTavboot(args, whole_group);
        if (moment.empty()) {
            for (int wait = 0; wait < 3000 && SimReceived(devices.back().get()).size() <= 8; ++wait) usleep(1000);
        } else {
            ASSERT_TRUE(WaitForStderr(&process, moment, 60)) << process.err;
        }
        usleep(useconds_t(after_ms) * 1000);
        const double sent = NowMs();
        kill(whole_group ? -process.pid : process.pid, SIGINT);
        EXPECT_EQ(FinishProcess(&process, 30), 130) << process.err;
        EXPECT_LT(NowMs() - sent, 3000.0) << "interrupted at " << moment;
        EXPECT_NE(process.err.find("interrupted"), std::string::npos) << process.err;
        EXPECT_EQ(LeftoverChildren(), 0);
        for (auto& device : devices) ExpectPortFree(device.get());
    }
    std::vector<std::unique_ptr<SimDevice>> devices;
};

SimConfig DeviceConfig(int paced, int erase_delay_ms, SimFault fault) {
    SimConfig config;
    SimDefaultConfig(&config);
    config.paced = paced;
    config.erase_delay_ms = erase_delay_ms;
    config.program_delay_ms = 0;
    config.fault = fault;
    return config;
}

}  // namespace

TEST_P(UnplugInEachPhase, EndsAtOnceWithAFailureAndTheButtonsBack) {
    const Unplug& unplug = GetParam();
    StartLinkedDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
    const std::string operation = unplug.operation;
    if (unplug.moment[0] == '\0') {
        SimStop(&device);
        started = false;
        unlink(link.c_str());
    }
    PullAdapterAt(unplug.moment);
    const Stopwatch watch;
    if (operation == "download") {
        StartDownload();
        RunTicks();
    }
    if (operation == "hwinfo") QueryHwInfo();
    if (operation == "appinfo") QueryApplicationFw();
    // Nothing waits for a dead line: no sync polling, no 5000 ms time-out.
    EXPECT_LT(watch.WallMs(), 3000.0);
    EXPECT_LT(watch.CpuMs(), 1000.0);
    EXPECT_FALSE(started) << "the adapter was pulled";
    EXPECT_EQ(LastOf(UiMessage), unplug.box);
    EXPECT_EQ(LastOf(UiStatus), unplug.status);
    EXPECT_EQ(g_loader.port, kNoPort);
    EXPECT_EQ(g_loader.transfer_state, 0);
    EXPECT_TRUE(ButtonsEndEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Line, UnplugInEachPhase,
    ::testing::Values(
        Unplug{"download", "", "COM port info: COM open error", ""},
        Unplug{"download", "Bootloader CRC is correct", "BOOT info: Boot constant strings error",
               "BOOT constant strings Error"},
        Unplug{"download", " BOOTLoader actived ", "COM port info: COM reopen error", " BOOTLoader actived "},
        Unplug{"download", "BOOT device: erase finished", "BOOT info: Boot communication error", "BOOT message failed"},
        Unplug{"download", " BOOTLoader, Write page 1", "BOOT info: Boot communication error", "BOOT message failed"},
        Unplug{"hwinfo", "", "COM port info: COM open error", ""},
        Unplug{"hwinfo", "Bootloader CRC is correct", "BOOT info: Boot constant strings error",
               "BOOT constant strings Error"},
        Unplug{"appinfo", "", "COM port info: COM open error", ""}),
    [](const ::testing::TestParamInfo<Unplug>& instance) {
        // "download_at_BOOTLoader_Write_page_1": the moment's words joined by underscores.
        std::string moment = instance.param.moment;
        std::replace_if(moment.begin(), moment.end(), [](unsigned char c) { return !std::isalnum(c); }, ' ');
        std::istringstream words(moment);
        std::string name = std::string(instance.param.operation) + (moment.empty() ? "_before_start" : "_at");
        for (std::string word; words >> word;) name += "_" + word;
        return name;
    });

TEST_F(HardeningTest, LongWaitsSleepAndAHangUpCutsThemShort) {
    // A silent erase: the full 5000 ms time-out, slept through rather than spun.
    config.fault = SimFaultNoEraseAck;
    StartDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
    Stopwatch watch;
    StartDownload();
    EXPECT_GE(watch.WallMs(), 5000.0);
    EXPECT_LT(watch.CpuMs(), 250.0);
    EXPECT_EQ(LastOf(UiMessage), "BOOT info: BOOT device: FLASH erase error");

    // The line drops 300 ms into the erase and into the first page's programming.
    for (int phase : {4, 5}) {
        SimStop(&device);
        started = false;
        config.fault = SimFaultHangupInPhase;
        config.fault_arg = phase;
        config.erase_delay_ms = phase == 4 ? 300 : 0;
        config.program_delay_ms = phase == 5 ? 300 : 0;
        StartDevice();
        ClearUiCalls();
        watch = Stopwatch();
        StartDownload();
        RunTicks();
        EXPECT_LT(watch.WallMs(), 2000.0) << phase;
        EXPECT_LT(watch.CpuMs(), 500.0) << phase;
        EXPECT_EQ(LastOf(UiMessage), phase == 4 ? "BOOT info: BOOT device: FLASH erase error"
                                                 : "BOOT info: Boot write to Flash error");
        EXPECT_EQ(g_loader.port, kNoPort);
    }
}

TEST_F(HardeningTest, FloodsAndGarbageStayInsideTheReceiveBuffer) {
    ASSERT_EQ(LoadImage(kImage, "fw.tvk"), 1);
    const LoaderState before = g_loader;
    for (SimFault fault : {SimFaultFlood, SimFaultGarbageEcho}) {
        for (int byte : {0x42, 0xFF}) {
            if (started) SimStop(&device);
            started = false;
            config.fault = fault;
            config.fault_arg = byte;
            StartDevice();
            const Stopwatch watch;
            StartDownload();
            RunTicks();
            QueryHwInfo();
            QueryApplicationFw();
            // Unlock polling is the longest a garbage answer can stretch: 128 reads of 9 ms.
            EXPECT_LT(watch.WallMs(), 3 * (16 + 128 * 9 + 40) + 128 * 9 + 3000.0);
            // The records around the buffers that the device writes into are as they were.
            EXPECT_EQ(g_loader.enter_boot_value, before.enter_boot_value);
            EXPECT_EQ(std::memcmp(g_loader.unlock_key, before.unlock_key, sizeof before.unlock_key), 0);
            EXPECT_EQ(std::memcmp(g_loader.raw_file, before.raw_file, sizeof before.raw_file), 0);
            EXPECT_EQ(std::memcmp(g_loader.image, before.image, sizeof before.image), 0);
            EXPECT_EQ(g_loader.image_length, before.image_length);
            EXPECT_NE(LastOf(UiMessage), "BOOT info: Boot successful finished");
            EXPECT_EQ(g_loader.port, kNoPort);
        }
    }
}

TEST_F(HardeningTest, LateByteOfTheEnterBootAnswerNeverShiftsTheIdentity) {
    config.fault = SimFaultLateExtraByte;
    StartDevice();
    ASSERT_EQ(LoadImage(kImage, "fw.tvk"), 1);
    RunDownload();
    EXPECT_EQ(LastOf(UiMessage), "BOOT info: Boot successful finished");
    EXPECT_TRUE(FlashHoldsPages(kImage, 3));
    EXPECT_EQ(g_loader.port, kNoPort);
    EXPECT_TRUE(ButtonsEndEnabled());
}

TEST_F(HardeningTest, SuccessOnlyWhenEveryPageWasAcknowledgedAndStored) {
    ASSERT_EQ(LoadImage(kImage, "fw.hex"), 1);
    const struct {
        SimFault fault;
        int arg;
    } cases[] = {{SimFaultBadDataAck, 0},  {SimFaultBadDataAck, 31},     {SimFaultBadDataAck, 32},
                 {SimFaultBadDataAck, 95}, {SimFaultHangupAtMessage, 95}, {SimFaultBadPageAck, 0},
                 {SimFaultBadPageAck, 2},  {SimFaultNoPageAck, 2},        {SimFaultNone, 0}};
    for (const auto& c : cases) {
        if (started) SimStop(&device);
        started = false;
        config.fault = c.fault;
        config.fault_arg = c.arg;
        StartDevice();
        ClearUiCalls();
        RunDownload();
        uint32_t pages_shown = 0;
        for (const std::string& status : UiTexts(UiStatus))
            pages_shown += status.rfind(" BOOTLoader, Write page ", 0) == 0;
        const bool success = LastOf(UiMessage) == "BOOT info: Boot successful finished";
        EXPECT_EQ(success, c.fault == SimFaultNone) << c.fault << " " << c.arg;
        const bool page_fault = c.fault == SimFaultBadPageAck || c.fault == SimFaultNoPageAck;
        const uint32_t pages_before_fault = page_fault ? uint32_t(c.arg) : uint32_t(c.arg) / kMessagesPerPage;
        EXPECT_EQ(pages_shown, success ? 3u : pages_before_fault) << c.fault << " " << c.arg;
        // Every page reported written is in the flash.
        EXPECT_TRUE(FlashHoldsPages(kImage, pages_shown)) << c.fault << " " << c.arg;
        std::lock_guard<std::mutex> guard(device.lock);
        EXPECT_GE(device.messages_received, int(pages_shown * kMessagesPerPage));
    }
}

TEST_F(InterruptTest, SecondTavbootGetsComOpenErrorAndDisturbsNothing) {
    SimDevice* device = StartDevice(DeviceConfig(1, 0, SimFaultNone));
    BackgroundProcess first = StartTavboot({"download", "--port", device->slave_path, kSample});
    ASSERT_TRUE(WaitForStderr(&first, "Write page 0", 60)) << first.err;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"download", "--port", device->slave_path, kSample},
          std::vector<std::string>{"hwinfo", "--port", device->slave_path},
          std::vector<std::string>{"appinfo", "--port", device->slave_path}}) {
        const ProcessResult second = RunTavboot(args);
        EXPECT_EQ(second.status, 1) << args[0];
        EXPECT_EQ(second.err, "COM port info: COM open error\ntavboot: " + std::string(device->slave_path) +
                                  ": Resource temporarily unavailable; the port is held by another program\n")
            << args[0];
        EXPECT_EQ(second.out, "") << args[0];
    }
    EXPECT_EQ(FinishProcess(&first, 120), 0) << first.err;
    EXPECT_NE(first.err.find("BOOT info: Boot successful finished"), std::string::npos) << first.err;
    ASSERT_EQ(LoadImageFromPath(kSample.c_str()), 1);
    const std::vector<uint8_t> flash = SimFlash(device);
    const uint32_t end = kImageFirstOffset + 13 * kPageSize;
    EXPECT_TRUE(std::equal(g_loader.image + kImageFirstOffset, g_loader.image + end,
                           flash.begin() + kImageFirstOffset));
}

TEST_F(InterruptTest, CtrlCAtAnyMomentLeavesNoPortHeld) {
    const struct {
        const char* moment;
        int after_ms;
        SimFault fault;
        int erase_delay_ms;
    } moments[] = {
        {"status: Bootloader CRC is correct", 0, SimFaultWrongKey, 0},  // during the 128 unlock reads
        {"status:  BOOTLoader actived ", 0, SimFaultNone, 4000},        // closing and opening the port again
        {"status:  BOOTLoader actived ", 1000, SimFaultNone, 4000},     // waiting for the erase
        {"status:  BOOTLoader, Write page 0", 0, SimFaultNone, 0},      // during the transfer
    };
    for (const auto& moment : moments) {
        SCOPED_TRACE(std::string(moment.moment) + " +" + std::to_string(moment.after_ms) + " ms");
        SimDevice* device = StartDevice(DeviceConfig(1, moment.erase_delay_ms, moment.fault));
        InterruptAt({"download", "--port", device->slave_path, kSample}, moment.moment, false, moment.after_ms);
    }
    // While a silent device is polled for its bootloader.
    for (const char* command : {"download", "hwinfo"}) {
        SCOPED_TRACE(command);
        SimDevice* device = StartDevice(DeviceConfig(0, 0, SimFaultSilent));
        std::vector<std::string> args = {command, "--port", device->slave_path};
        if (args[0] == "download") args.push_back(kSample);
        InterruptAt(args, "", false);
    }
}

TEST_F(InterruptTest, CtrlCDuringADownloadOnManyPorts) {
    for (bool whole_group : {true, false}) {
        SCOPED_TRACE(whole_group ? "the whole group" : "tavboot alone");
        std::vector<std::string> args = {"download"};
        for (int i = 0; i < 3; ++i) {
            args.push_back("--port");
            args.push_back(StartDevice(DeviceConfig(1, 0, SimFaultNone))->slave_path);
        }
        args.push_back(kSample);
        InterruptAt(args, "Write page 1", whole_group);
        for (auto& device : devices) SimStop(device.get());
        devices.clear();
    }
}

TEST_F(InterruptTest, UnpluggedAdapterEndsTheCommandLineDownload) {
    const std::string link = TempDir() + "/unplugged";
    BackgroundProcess simulator = StartTavboot({"simulate", "--link", link, "--paced", "--erase-delay", "0"});
    ASSERT_TRUE(WaitForStdout(&simulator, "\n", 30)) << simulator.err;
    BackgroundProcess download = StartTavboot({"download", "--port", link, kSample});
    ASSERT_TRUE(WaitForStderr(&download, "Write page 0", 60)) << download.err;
    // The simulator removes its link and drops the line as it ends.
    kill(simulator.pid, SIGTERM);
    const double pulled = NowMs();
    EXPECT_EQ(FinishProcess(&download, 30), 1) << download.err;
    EXPECT_LT(NowMs() - pulled, 3000.0);
    Lines lines = SplitLines(download.err);
    // A loaded machine may make the device's answers late enough for the slow-line advice.
    if (!lines.empty() && lines.back().rfind("tavboot: slow line:", 0) == 0) lines.pop_back();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "BOOT info: Boot communication error");
    EXPECT_EQ(FinishProcess(&simulator, 30), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_EQ(LeftoverChildren(), 0);
}
