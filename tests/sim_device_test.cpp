// The simulated device through the real commands and port: protocol, flash, faults, pacing, runner.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/loader_state.h"
#include "link/device_commands.h"
#include "link/serial.h"
#include "sim/sim_options.h"
#include "sim/sim_runner.h"
#include "tests/link_test_support.h"
#include "tests/test_support.h"

namespace {

using SimDeviceTest = SimLinkTest;

std::vector<uint8_t> Received(SimDevice* device) { return SimReceived(device); }

TEST_F(SimDeviceTest, ApplicationAnswersOnlyItsOwnGoodFrames) {
    StartDevice();
    uint8_t frame[8];
    BuildEnterBootFrame(config.boot_value, frame);
    frame[7] ^= 1;  // wrong checksum
    WritePort(frame, 8);
    EXPECT_EQ(ReadPort(g_loader.receive, 8), 0);
    BuildEnterBootFrame(config.boot_value, frame);
    frame[0] = 0x01;  // another address
    WritePort(frame, 8);
    EXPECT_EQ(ReadPort(g_loader.receive, 8), 0);
    const uint8_t sync = 0x55;  // no bootloader yet
    WritePort(&sync, 1);
    EXPECT_EQ(ReadPort(g_loader.receive, 1), 0);

    ASSERT_EQ(ReadApplicationInfo(g_loader.transmit, g_loader.receive), 1);
    EXPECT_EQ(g_loader.receive[0], 0xFF);
    EXPECT_EQ(g_loader.receive[1], 0x04);
    EXPECT_EQ(g_loader.receive[2], 24);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(g_loader.receive) + 3), "TavSim App");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(g_loader.receive) + 19, 6), "FW 3.4");
    uint16_t crc = ReferenceCrc(g_loader.receive, 27);
    EXPECT_EQ(g_loader.receive[27] | g_loader.receive[28] << 8, crc);

    RequestBootMode(g_loader.transmit, g_loader.receive);
    EXPECT_EQ(std::vector<uint8_t>(g_loader.receive, g_loader.receive + 8),
              std::vector<uint8_t>(g_loader.transmit, g_loader.transmit + 8));
    EXPECT_EQ(SyncBootloader(g_loader.transmit), 0x5A);
}

TEST_F(SimDeviceTest, BootloaderIdentityUnlockAndErase) {
    SimSetText(config.hw_version, sizeof config.hw_version, "HW-2");
    config.erase_delay_ms = 150;
    StartDevice();
    RequestBootMode(g_loader.transmit, g_loader.receive);
    EXPECT_EQ(SyncBootloader(g_loader.transmit), 0x5A);
    ASSERT_EQ(ReadBootIdentity(g_loader.receive), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(g_loader.receive), 16), "TAV-SIM-PLATFORM");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(g_loader.receive) + 16, 8), std::string("HW-2\0\0\0\0", 8));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(g_loader.receive) + 24), "BOOT 2.1");
    double start = NowMs();  // the erase starts when the unlock message is in
    ASSERT_EQ(UnlockBootloader(g_loader.transmit, g_loader.receive, 'h'), 1);
    ASSERT_TRUE(Reopen(kLongReadTimeoutMs));
    EXPECT_EQ(ReadAcknowledge(g_loader.receive), 1);
    EXPECT_GE(NowMs() - start, 149.0);
    std::lock_guard<std::mutex> guard(device.lock);
    EXPECT_EQ(device.type_letter, 'h');
    EXPECT_EQ(device.erased, 1);
}

TEST_F(SimDeviceTest, DownloadLandsInFlashAndEveryByteIsRecorded) {
    StartDevice();
    ASSERT_EQ(ReachDataPhase(), 1);
    std::vector<uint8_t> image = PatternImage(64 * 32, 7);
    size_t before = Received(&device).size();
    ASSERT_EQ(SendMessages(image, 0, 64), 1);
    EXPECT_EQ(MessagesReceived(), 64);

    std::vector<uint8_t> flash = SimFlash(&device);
    ASSERT_EQ(flash.size(), static_cast<size_t>(kSimFlashSize));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + 4096));
    EXPECT_EQ(flash[4095], 0xFF);
    EXPECT_EQ(flash[4096 + image.size()], 0xFF);
    std::vector<uint8_t> received = Received(&device);
    ASSERT_EQ(received.size(), before + 64 * 35);
    EXPECT_EQ(received[before], 0xAA);
    EXPECT_EQ(received[before + 35 + 1], image[32]);

    // No further message: the device runs its application again, and a new
    // download starts from an erased flash.
    EXPECT_EQ(ReadApplicationInfo(g_loader.transmit, g_loader.receive), 1);
    ASSERT_EQ(Reopen(100), 1);
    ASSERT_EQ(ReachDataPhase(), 1);
    EXPECT_EQ(SimFlash(&device)[4096], 0xFF);
}

TEST_F(SimDeviceTest, MessageWithBadChecksumIsRefusedAndNotCounted) {
    StartDevice();
    ASSERT_EQ(ReachDataPhase(), 1);
    uint8_t message[35] = {0xAA, 1, 2, 3};
    WritePort(message, 35);
    EXPECT_EQ(ReadAcknowledge(g_loader.receive), 0);
    EXPECT_EQ(g_loader.receive[0], 0x55);
    std::vector<uint8_t> image(32, 0x11);
    EXPECT_EQ(SendMessages(image, 0, 1), 1);
    EXPECT_EQ(SimFlash(&device)[4096], 0x11);
}

TEST_F(SimDeviceTest, StartSequenceFaults) {
    // T = 8 where the unlock fails: its 128 reads then take 128 x (1 + T) ms.
    struct Case { SimFault fault; int arg; uint32_t t; uint8_t sync; int identity; int unlock; };
    const Case cases[] = {
        {SimFaultSyncZero, 0, 100, 0x00, 1, 1},
        {SimFaultSyncCrcFail, 0, 100, 0xA0, 1, 1},
        {SimFaultShortIdentity, 0, 100, 0x5A, 0, 1},
        {SimFaultWrongKey, 0, 8, 0x5A, 1, 0},
        {SimFaultGarbageBeforeUnlockAck, 20, 100, 0x5A, 1, 1},
        {SimFaultNotInApplication, 0, 100, 0x5A, 1, 1},
        // The late byte is read and dropped with the rest of the echo.
        {SimFaultLateExtraByte, 0, 100, 0x5A, 1, 1},
        {SimFaultGarbageEcho, 0, 8, 0x3C, 0, 0},
        {SimFaultFlood, 0x42, 8, 0x42, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(SimFaultName(c.fault));
        config.fault = c.fault;
        config.fault_arg = c.arg;
        StartDevice(c.t);
        RequestBootMode(g_loader.transmit, g_loader.receive);
        EXPECT_EQ(SyncBootloader(g_loader.transmit), c.sync);
        EXPECT_EQ(ReadBootIdentity(g_loader.receive), c.identity);
        EXPECT_EQ(UnlockBootloader(g_loader.transmit, g_loader.receive, 't'), c.unlock);
        TearDown();
        ResetLoaderState();
        started = false;
    }
}

TEST_F(SimDeviceTest, TransferFaults) {
    struct Case { SimFault fault; int arg; int messages; int last_reply; };
    const Case cases[] = {
        {SimFaultNoEraseAck, 0, 0, -1},
        {SimFaultBadEraseAck, 0, 0, 0x55},
        {SimFaultBadDataAck, 33, 33, 0x55},
        {SimFaultNoDataAck, 2, 2, -1},
        {SimFaultNoPageAck, 1, 64, -1},
        {SimFaultBadPageAck, 0, 32, 0x55},
        {SimFaultHangupAtMessage, 5, 5, -1},
    };
    std::vector<uint8_t> image = PatternImage(96 * 32, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(SimFaultName(c.fault));
        config.fault = c.fault;
        config.fault_arg = c.arg;
        StartDevice();
        // T = 100 instead of 5000: no need to wait that long for answers that never come.
        int erased = ReachDataPhase(100);
        EXPECT_EQ(erased, c.messages > 0);
        if (erased) {
            EXPECT_EQ(SendMessages(image, 0, 96), 0);
        }
        EXPECT_EQ(MessagesReceived(), c.messages);
        if (c.last_reply >= 0) {
            EXPECT_EQ(g_loader.receive[0], c.last_reply);
        }
        TearDown();
        ResetLoaderState();
        started = false;
    }
}

TEST_F(SimDeviceTest, HangUpInEachPhaseEndsTheExchangeAtOnce) {
    std::vector<uint8_t> image = PatternImage(32 * 32, 5);
    for (int phase = 0; phase <= 6; ++phase) {
        SCOPED_TRACE(phase);
        config.fault = SimFaultHangupInPhase;
        config.fault_arg = phase;
        StartDevice(8);
        double start = NowMs();
        if (phase == 6) {
            EXPECT_EQ(ReadApplicationInfo(g_loader.transmit, g_loader.receive), 0);
        } else {
            int erased = ReachDataPhase();
            EXPECT_EQ(erased, phase == 5);
            if (erased) {
                EXPECT_EQ(SendMessages(image, 0, 32), 0);
            }
        }
        // 128 sync attempts on a dead line return at once, not after 128 x 9 ms.
        EXPECT_LT(NowMs() - start, 1000.0);
        TearDown();
        ResetLoaderState();
        started = false;
    }
}

TEST_F(SimDeviceTest, ApplicationReplyFaultsAndSilence) {
    for (SimFault fault : {SimFaultShortAppReply, SimFaultModbusException, SimFaultSilent}) {
        SCOPED_TRACE(SimFaultName(fault));
        config.fault = fault;
        StartDevice(8);
        EXPECT_EQ(ReadApplicationInfo(g_loader.transmit, g_loader.receive), 0);
        if (fault == SimFaultModbusException) {
            EXPECT_EQ(g_loader.receive[1], 0x84);
        }
        if (fault == SimFaultSilent) {
            EXPECT_EQ(SyncBootloader(g_loader.transmit), 0);
        }
        TearDown();
        ResetLoaderState();
        started = false;
    }
}

TEST_F(SimDeviceTest, SlowAnswersStillArriveWithinTheLongTimeout) {
    config.fault = SimFaultVerySlow;
    config.fault_arg = 400;
    StartDevice();
    double start = NowMs();
    ASSERT_EQ(ReachDataPhase(), 1);
    EXPECT_GE(NowMs() - start, 400.0);
    start = NowMs();
    EXPECT_EQ(SendMessages(PatternImage(32, 1), 0, 1), 1);
    EXPECT_GE(NowMs() - start, 400.0);
}

TEST_F(SimDeviceTest, PacedLineTakesByteTimes) {
    config.paced = 1;
    StartDevice();
    double start = NowMs();
    ASSERT_EQ(ReadApplicationInfo(g_loader.transmit, g_loader.receive), 1);
    EXPECT_GE(NowMs() - start, (8 + 29) * 10 / 19.2);  // request in, reply out
    ASSERT_EQ(ReachDataPhase(), 1);
    std::vector<uint8_t> image = PatternImage(32 * 32, 9);
    start = NowMs();
    ASSERT_EQ(SendMessages(image, 0, 32), 1);
    // 32 messages of 35 bytes in, 33 acknowledgements out, 10 bits a byte at 19200 baud.
    EXPECT_GE(NowMs() - start, (32 * 35 + 33) * 10 / 19.2);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), SimFlash(&device).begin() + 4096));
}

TEST(SimOptionsTest, OptionsFillTheConfiguration) {
    SimOptions options;
    const SimConfig& config = options.config;
    const char* args[] = {"--paced", "--erase-delay", "70", "--fault", "no-page-ack", "--fault-arg", "3",
                          "--status", "A0", "--boot-value", "12aB", "--key", "01020304",
                          "--platform", "PLATFORM-TOO-LONG-NAME", "--link", "/tmp/x", "--flash-out", "f"};
    ASSERT_EQ(ParseSimArguments(19, const_cast<char**>(args), &options), 1);
    EXPECT_EQ(config.paced, 1);
    EXPECT_EQ(config.erase_delay_ms, 70);
    EXPECT_EQ(config.fault, SimFaultNoPageAck);
    EXPECT_EQ(config.fault_arg, 3);
    EXPECT_EQ(config.status_byte, 0xA0);
    EXPECT_EQ(config.boot_value, 0x12AB);
    EXPECT_EQ(config.key[0], 1);
    EXPECT_EQ(config.key[3], 4);
    EXPECT_EQ(std::string(config.platform, 16), "PLATFORM-TOO-LON");
    EXPECT_EQ(options.link, "/tmp/x");
    EXPECT_EQ(options.flash_out, "f");

    const char* line[] = {"--adapter-latency", "16", "--stale", "55aA00"};
    ASSERT_EQ(ParseSimArguments(4, const_cast<char**>(line), &options), 1);
    EXPECT_EQ(config.adapter_latency_ms, 16);
    ASSERT_EQ(config.stale_length, 3);
    EXPECT_EQ(config.stale[1], 0xAA);
    for (const char* bad : {"5", "5G", ""}) {
        const char* wrong[] = {"--stale", bad};
        EXPECT_EQ(ParseSimArguments(2, const_cast<char**>(wrong), &options), 0) << bad;
    }

    for (const char* bad : {"--status=5A", "--key", "--bogus"}) {
        const char* wrong[] = {bad, "123"};
        EXPECT_EQ(ParseSimArguments(2, const_cast<char**>(wrong), &options), 0) << bad;
    }
    for (int fault = 0; SimFaultName(static_cast<SimFault>(fault)); ++fault) {
        SimFault parsed = SimFaultNone;
        EXPECT_TRUE(ParseSimFault(SimFaultName(static_cast<SimFault>(fault)), &parsed));
        EXPECT_EQ(parsed, fault);
    }
    EXPECT_EQ(SimFaultName(SimFaultHangupInPhase), std::string("hangup-in-phase"));
}

TEST(SimRunnerTest, ServesThroughItsLinkUntilTerminatedThenWritesTheFlash) {
    std::string folder = TempDir();
    std::string link = folder + "/com1";
    std::string flash_out = folder + "/flash.bin";
    ASSERT_EQ(symlink("/nonexistent", link.c_str()), 0);  // stale link from an earlier run
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    std::fflush(stdout);  // or the child would print the test's pending output too
    pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        dup2(out[1], 1);
        SimOptions options;
        options.config.erase_delay_ms = 0;
        options.link = link;
        options.flash_out = flash_out;
        _exit(RunSimulator(options, "tavboot-sim"));
    }
    close(out[1]);
    // However the test ends, the simulator does not outlive it.
    std::unique_ptr<pid_t, void (*)(pid_t*)> reaper(&child, [](pid_t* pid) {
        if (*pid > 0 && kill(*pid, SIGKILL) == 0) waitpid(*pid, nullptr, 0);
    });
    std::vector<uint8_t> line;
    while (line.empty() || line.back() != '\n') {
        std::vector<uint8_t> byte = ReadUpTo(out[0], 1, 5000);
        if (byte.empty()) break;
        line.push_back(byte[0]);
    }
    close(out[0]);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    char target[128] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(line.begin(), line.end() - 1), target);

    ResetLoaderState();
    ASSERT_TRUE(OpenPort(link.c_str(), "19200", 100));
    RequestBootMode(g_loader.transmit, g_loader.receive);
    EXPECT_EQ(SyncBootloader(g_loader.transmit), 0x5A);
    ASSERT_EQ(UnlockBootloader(g_loader.transmit, g_loader.receive, 't'), 1);
    EXPECT_EQ(ReadAcknowledge(g_loader.receive), 1);
    uint8_t data[32];
    std::memset(data, 0x3E, sizeof data);
    EXPECT_EQ(SendDataMessage(g_loader.transmit, g_loader.receive, data), 1);
    ClosePort();

    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    child = 0;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    struct stat info;
    EXPECT_NE(lstat(link.c_str(), &info), 0);  // the link is gone
    FILE* file = std::fopen(flash_out.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::vector<uint8_t> flash(kSimFlashSize + 1);
    EXPECT_EQ(std::fread(flash.data(), 1, flash.size(), file), static_cast<size_t>(kSimFlashSize));
    std::fclose(file);
    EXPECT_EQ(flash[4095], 0xFF);
    EXPECT_EQ(flash[4096], 0x3E);
    EXPECT_EQ(flash[4096 + 32], 0xFF);
}

}  // namespace
