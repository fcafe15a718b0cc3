// The tavboot binary under hostile conditions: closed or broken streams, signals, odd files and names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/cli_fixture.h"
#include "tests/process_support.h"
#include "tests/test_support.h"

namespace {

void RedirectOutput(int fd) {
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    close(fd);
}

// Both output streams into a pipe that nobody reads any more.
void BrokenPipeOutput() {
    int fds[2];
    if (pipe(fds) != 0) _exit(127);
    close(fds[0]);
    RedirectOutput(fds[1]);
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Everything a pseudo-terminal's master receives until its last slave is closed.
std::string DrainTerminal(int master) {
    std::string text;
    pollfd entry = {master, POLLIN, 0};
    char buffer[4096];
    ssize_t got;
    while (poll(&entry, 1, 10000) > 0 && (got = read(master, buffer, sizeof buffer)) > 0) text.append(buffer, size_t(got));
    return text;
}

}  // namespace

TEST_F(CliTest, ClosedStandardStreamsNeverBecomeThePort) {
    const std::string port = StartDevice();
    const ProcessResult result =
        RunTavboot({"download", "--port", port, kExamples + "sample.hex"}, 120, [] { close(STDERR_FILENO); });
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(FlashHolds(devices.back().get(), Decoded(kExamples + "sample.hex"), 13));
}

TEST_F(CliTest, BrokenPipesAndHangUpsFinishOrEndEveryPort) {
    const std::string port = StartDevice();
    const ProcessResult result = RunTavboot({"download", "--port", port, "--json", kExamples + "sample.hex"}, 120,
                                            BrokenPipeOutput);
    EXPECT_EQ(result.status, 1) << "the download finishes; its result could not be written";
    EXPECT_TRUE(FlashHolds(devices.back().get(), Decoded(kExamples + "sample.hex"), 13));

    config.paced = 1;
    const std::vector<std::string> ports = {StartDevice(), StartDevice()};
    BackgroundProcess process =
        StartTavboot({"download", "--port", ports[0], "--port", ports[1], kExamples + "sample.hex"}, true);
    ASSERT_TRUE(WaitForStderr(&process, "Write page 0", 60)) << process.err;
    kill(process.pid, SIGHUP);
    EXPECT_EQ(FinishProcess(&process, 30), 130);
    for (const std::string& each : ports) {
        EXPECT_EQ(OpenPort(each.c_str(), "19200", 8), 1) << each << " must be free again";
        ClosePort();
    }
    EXPECT_EQ(kill(-process.pid, 0), -1) << "no process of the run may be left";
}

TEST_F(CliTest, ManyPortsSendTheImageThatWasLoadedOnce) {
    const std::string file = WriteTempFile("once.hex", ReadWhole(kExamples + "sample.hex"));
    const int watch = inotify_init1(IN_NONBLOCK);
    // Identical events in a row are merged into one; the closes keep the opens apart.
    ASSERT_GE(inotify_add_watch(watch, file.c_str(), IN_OPEN | IN_CLOSE_NOWRITE), 0);
    const ProcessResult result = RunTavboot({"download", "--port", StartDevice(), "--port", StartDevice(), file});
    EXPECT_EQ(result.status, 0) << result.err;
    int opens = 0;
    alignas(inotify_event) char events[4096];
    ssize_t got;
    while ((got = read(watch, events, sizeof events)) > 0)
        for (char* at = events; at < events + got; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len)
            opens += (reinterpret_cast<inotify_event*>(at)->mask & IN_OPEN) != 0;
    close(watch);
    EXPECT_EQ(opens, 1);
}

TEST_F(CliTest, SimulateNeverReplacesAUsersFile) {
    const std::string file = WriteTempFile("fw.hex", "the user's firmware");
    ProcessResult result = RunTavboot({"simulate", "--link", file}, 10);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(ReadWhole(file), "the user's firmware");
    result = RunTavboot({"simulate", "--link", TempDir() + "/no-such-folder/port"}, 10);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("cannot make the link"), std::string::npos) << result.err;
}

TEST_F(CliTest, PortNamesLongerThanThePortNameAreRefused) {
    // The first 255 characters name the simulated device; the whole name does not.
    std::string port = StartDevice();
    port.insert(1, std::string(size_t(kPortNameCapacity - 1) - port.size(), '/'));
    ASSERT_EQ(OpenPort(port.c_str(), "19200", 8), 1);
    ClosePort();
    port += "/elsewhere";
    EXPECT_EQ(RunTavboot({"download", "--port", port, kExamples + "sample.hex"}).status, 2);
    EXPECT_EQ(RunTavboot({"hwinfo", "--port", port}).status, 2);
    EXPECT_TRUE(SimReceived(devices.back().get()).empty());
}

TEST_F(CliTest, FilesThatAreNotRegularAreRefused) {
    const std::string fifo = TempDir() + "/fifo.hex";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(RunTavboot({"inspect", fifo}, 20).status, 1);
    const ProcessResult result = RunTavboot({"download", "--ports-from", fifo, kExamples + "sample.hex"}, 20);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "tavboot: " + fifo + ": the ports list must be a regular file of at most 1 MiB\n");
}

TEST_F(CliTest, JsonFailuresAreOneObjectSayingWhy) {
    const std::string missing = TempDir() + "/missing.hex";
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"hwinfo", "--port", "/dev/tavboot-none", "--json"}, "COM port info: COM open error"},
        {{"appinfo", "--port", "/dev/tavboot-none", "--json"}, "COM port info: COM open error"},
        {{"inspect", missing, "--json"}, "File Error: File read error"},
        {{"download", "--port", "/dev/null", "--port", "/dev/zero", missing, "--json"}, "File Error: File read error"},
    };
    for (const auto& c : cases) {
        const ProcessResult result = RunTavboot(c.args);
        EXPECT_EQ(result.status, 1) << c.args[0];
        const auto out = nlohmann::json::parse(result.out, nullptr, false);
        ASSERT_TRUE(out.is_object()) << c.args[0] << ": " << result.out;
        EXPECT_EQ(out["ok"], false);
        EXPECT_EQ(out["message"], c.message);
        EXPECT_EQ(out["reason"], "No such file or directory");
    }
    // Refused before anything is sent: a selector no port matches, a log that cannot be opened.
    const std::vector<std::vector<std::string>> refused = {
        {"hwinfo", "--port", "usb:0000:0000", "--json"},
        {"download", "--port", "usb:0000:0000", missing, "--json"},
        {"appinfo", "--port", "/dev/tavboot-none", "--log", TempDir() + "/no-folder/log", "--json"},
    };
    for (const auto& args : refused) {
        const ProcessResult result = RunTavboot(args);
        EXPECT_EQ(result.status, 1) << args[0];
        const auto out = nlohmann::json::parse(result.out, nullptr, false);
        ASSERT_TRUE(out.is_object()) << args[0] << ": " << result.out;
        EXPECT_EQ(out["ok"], false);
        EXPECT_EQ("tavboot: " + out["message"].get<std::string>() + "\n", result.err) << args[0];
    }
}

namespace {

// Text as it stands on the terminal's lines: no carriage returns, no "ESC [ digits letter" sequences.
std::string WithoutControls(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            i += 2;
            while (i < text.size() && !std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
        } else if (text[i] != '\r') {
            plain += text[i];
        }
    }
    return plain;
}

// tavboot's output on a 40 column terminal: what reached the terminal.
std::string ShownOnTerminal(const std::vector<std::string>& args, int* status) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no terminal";
    const winsize size = {24, 40, 0, 0};
    ioctl(master, TIOCSWINSZ, &size);
    const std::string terminal = ptsname(master);
    *status = RunTavboot(args, 120, [&terminal] { RedirectOutput(open(terminal.c_str(), O_RDWR | O_NOCTTY)); }).status;
    const std::string shown = DrainTerminal(master);
    close(master);
    return shown;
}

}  // namespace

TEST_F(CliTest, ATerminalSeesThePortNoRawDeviceBytesAndNoWrappedLines) {
    SimSetText(config.platform, sizeof config.platform, "\x1b[2J\x07wiped");
    const std::string port = StartDevice();
    int status = -1;
    std::string shown = ShownOnTerminal({"hwinfo", "--port", port}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(shown.rfind("tavboot: port " + port + "\r\n", 0), 0u) << shown;
    EXPECT_NE(shown.find("HW platform: \\x1b[2J\\x07wiped\r\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);

    shown = ShownOnTerminal({"download", "--port", port, "--port", StartDevice(), kExamples + "sample.hex"}, &status);
    EXPECT_EQ(status, 0);
    for (const std::string& line : SplitLines(WithoutControls(shown))) EXPECT_LT(line.size(), 40u) << line;
}

TEST_F(CliTest, InterruptedDownloadLeavesTheDeviceInItsBootloader) {
    config.paced = 1;
    const std::string port = StartDevice();
    BackgroundProcess process = StartTavboot({"download", "--port", port, kExamples + "sample.hex"});
    ASSERT_TRUE(WaitForStderr(&process, "Write page 0", 60)) << process.err;
    // Inside the second page: about 18 ms a message, 32 messages a page.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    kill(process.pid, SIGINT);
    ASSERT_EQ(FinishProcess(&process, 30), 130);
    EXPECT_EQ(RunTavboot({"appinfo", "--port", port}).status, 1);
    EXPECT_EQ(RunTavboot({"hwinfo", "--port", port}).status, 0);
}

TEST_F(CliTest, InterruptedDemoRemovesItsTemporaryFolder) {
    const std::string folder = TempDir() + "/demo-tmp";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    BackgroundProcess process = StartTavboot({"demo"}, false, [&folder] { setenv("TMPDIR", folder.c_str(), 1); });
    ASSERT_TRUE(WaitForStdout(&process, "simulated device on", 30)) << process.err;
    kill(process.pid, SIGINT);
    EXPECT_EQ(FinishProcess(&process, 30), 130);
    EXPECT_EQ(rmdir(folder.c_str()), 0) << "the folder must be empty";
}

TEST_F(CliTest, PortsFromListsEnvironmentShortFormAndSuggestions) {
    const std::string first = StartDevice();
    const std::string second = StartDevice();
    const std::string list =
        WriteTempFile("ports.txt", "\xEF\xBB\xBF" + first + "  # bench A\n\n# spare\n" + second + "\n");
    EXPECT_EQ(RunTavboot({"download", "--ports-from", list, kExamples + "sample.hex"}).status, 0);
    const std::string twice = WriteTempFile("twice.txt", first + "\n" + first + " # again\n");
    ProcessResult result = RunTavboot({"download", "--ports-from", twice, kExamples + "sample.hex"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "tavboot: " + first + ": the port is named twice\n");
    // A # inside a name is no comment: a Windows location path keeps every step.
    const std::string slot = "usb-port:PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)";
    result = RunTavboot({"download", "--ports-from", WriteTempFile("slots.txt", slot + "  # slot 1\n"),
                         kExamples + "sample.hex"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.find("tavboot: no port is on USB port " + slot.substr(9) + ";"), 0u) << result.err;
    EXPECT_EQ(RunTavboot({"hwinfo", "-p", first}).status, 0);
    const ChildSetup second_by_default = [&second] { setenv("TAVBOOT_PORT", second.c_str(), 1); };
    EXPECT_EQ(RunTavboot({"hwinfo"}, 120, second_by_default).status, 0);
    EXPECT_EQ(RunTavboot({"download", "--ports-from", list, kExamples + "sample.hex"}, 120, second_by_default).status, 0)
        << "the environment does not add a port to those named";
    EXPECT_EQ(RunTavboot({"download", kExamples + "sample.hex"}, 120, second_by_default).status, 0);
    result = RunTavboot({"hwnifo"});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("did you mean \"hwinfo\"?"), std::string::npos) << result.err;
}
