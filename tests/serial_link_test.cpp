// Serial port over real pseudo-terminals: opening, exclusive access, line settings, the read rule, hang-up.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <thread>
#include <utility>

#include "core/loader_state.h"
#include "link/port_names.h"
#include "link/serial.h"
#include "tests/link_test_support.h"

namespace {

int OpenDescriptorCount() {
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    while (readdir(folder)) ++count;
    closedir(folder);
    return count;
}

// Opens path in a child process, as another program would: through OpenPort,
// or as an ordinary user with a plain open(). Returns 1 when it could open.
int OpenInOtherProcess(const char* path, bool as_ordinary_user) {
    pid_t child = fork();
    if (child == 0) {
        g_loader.port = kNoPort;  // the parent's port is not this process's to close
        if (!as_ordinary_user) {
            int opened = OpenPort(path, "19200", 8);
            ClosePort();
            _exit(opened);
        }
        if (setuid(65534) != 0) _exit(99);
        int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using SerialPortTest = PtyLinkTest;

TEST_F(SerialPortTest, FailedOpenLeavesNoPortAndNoDescriptor) {
    int before = OpenDescriptorCount();
    EXPECT_EQ(OpenPort("/dev/tavboot-no-such-port", "19200", 8), 0);
    EXPECT_EQ(g_loader.port, kNoPort);
    // Opens, but is no terminal: the configuration fails and the file is closed again.
    EXPECT_EQ(OpenPort("/dev/null", "19200", 8), 0);
    EXPECT_EQ(g_loader.port, kNoPort);
    EXPECT_EQ(OpenDescriptorCount(), before);
    ClosePort();
    uint8_t byte = 0;
    EXPECT_EQ(WritePort(&byte, 1), 0);
    EXPECT_EQ(ReadPort(&byte, 1), 0);
}

TEST_F(SerialPortTest, LineIsRaw19200EightNoneOneWithoutFlowControl) {
    // Left behind by some earlier program: a cooked, flow-controlled 7E2 line at 9600.
    struct termios line;
    ASSERT_EQ(tcgetattr(pty.slave, &line), 0);
    line.c_iflag |= IXON | IXOFF | ICRNL | ISTRIP;
    line.c_oflag |= OPOST | ONLCR;
    line.c_lflag |= ICANON | ECHO | ISIG;
    line.c_cflag = (line.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB | CSTOPB | CRTSCTS;
    cfsetspeed(&line, B9600);
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &line), 0);
    struct termios left_behind;
    ASSERT_EQ(tcgetattr(pty.slave, &left_behind), 0);
    OpenLoaderPort(8);
    ASSERT_EQ(tcgetattr(pty.slave, &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B19200));
    EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B19200));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);

    // Every byte value passes unchanged both ways: CR, LF, XON/XOFF, ^C included.
    std::vector<uint8_t> all(256);
    for (size_t i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(WritePort(all.data(), 256), 256);
    EXPECT_EQ(Sent(256), all);
    WriteAll(pty.master, all);
    std::vector<uint8_t> got(256);
    EXPECT_EQ(ReadPort(got.data(), 256), 256);
    EXPECT_EQ(got, all);

    // Closing gives the line back as it was found (a console is not left raw).
    ClosePort();
    ASSERT_EQ(tcgetattr(pty.slave, &line), 0);
    EXPECT_EQ(line.c_iflag, left_behind.c_iflag);
    EXPECT_EQ(line.c_oflag, left_behind.c_oflag);
    EXPECT_EQ(line.c_cflag, left_behind.c_cflag);
    EXPECT_EQ(line.c_lflag, left_behind.c_lflag);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
}

TEST_F(SerialPortTest, ReopenWaitsUpToASecondForAPortItsHolderIsReleasing) {
    // Another holder of the lock, releasing it 300 ms from now.
    int other = open(pty.path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(OpenPort(pty.path, "19200", 5000), 0);
    std::thread release([other] {
        usleep(300000);
        close(other);
    });
    double start = NowMs();
    EXPECT_EQ(ReopenPort(pty.path, "19200", 5000), 1);
    EXPECT_GE(NowMs() - start, 250.0);
    release.join();
    ClosePort();

    // Held for good: given up after a second.
    other = open(pty.path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    start = NowMs();
    EXPECT_EQ(ReopenPort(pty.path, "19200", 5000), 0);
    EXPECT_GE(NowMs() - start, 1000.0);
    EXPECT_LT(NowMs() - start, 3000.0);
    close(other);
    // A port that does not exist is not waited for.
    start = NowMs();
    EXPECT_EQ(ReopenPort("/dev/tavboot-no-such-port", "19200", 5000), 0);
    EXPECT_LT(NowMs() - start, 500.0);
}

std::vector<std::string> g_traced;
void RecordTrace(char direction, const uint8_t* bytes, int32_t count) {
    g_traced.push_back(direction + std::string(bytes, bytes + count));
}

TEST_F(SerialPortTest, WaitingInputIsSeenWithoutWaitingDroppedOrReadAsItComes) {
    OpenLoaderPort(8);
    EXPECT_EQ(InputWaiting(), 0);
    WriteAll(pty.master, {1, 2, 3});
    ASSERT_TRUE(WaitUntilQueued(pty.slave, 3));
    EXPECT_EQ(InputWaiting(), 1);
    ClearReceiveQueue();
    EXPECT_EQ(InputWaiting(), 0);
    uint8_t got[8] = {};
    double start = NowMs();
    EXPECT_EQ(ReadWaiting(got, 8, 60), 0);
    EXPECT_GE(NowMs() - start, 60.0);
    std::thread late([this] {
        usleep(30000);
        WriteAll(pty.master, {4, 5});
    });
    start = NowMs();
    EXPECT_EQ(ReadWaiting(got, 8, 1000), 2);  // as soon as they come, not after the wait
    EXPECT_LT(NowMs() - start, 500.0);
    late.join();
    EXPECT_EQ(got[1], 5);

    // Every write and every read result reaches the trace, and nothing while it is off.
    SetLineTrace(RecordTrace);
    const uint8_t sync = 0x55;
    WritePort(&sync, 1);
    WriteAll(pty.master, {0x5A});
    ReadPort(got, 1);
    SetLineTrace(nullptr);
    WritePort(&sync, 1);
    EXPECT_EQ(g_traced, (std::vector<std::string>{">U", "<Z"}));
}

TEST(PortNameTest, Win32PathsCarryTheDevicePrefix) {
    char path[32];
    for (const char* name : {"COM1", "COM9", "COM10", "COM12", "COM256"}) {
        Win32DevicePath(name, path, sizeof path);
        EXPECT_EQ(std::string(path), std::string("\\\\.\\") + name);
    }
    Win32DevicePath("\\\\.\\COM12", path, sizeof path);
    EXPECT_STREQ(path, "\\\\.\\COM12");
    Win32DevicePath("COM123456789", path, 8);
    EXPECT_STREQ(path, "\\\\.\\COM");
    // On POSIX COM numbers of any size name the on-board lines in order, as Windows numbers them.
    for (const auto& name : {std::pair<const char*, const char*>{"COM1", "/dev/ttyS0"}, {"COM12", "/dev/ttyS11"},
                             {"COM256", "/dev/ttyS255"}, {"COM0", "COM0"}, {"COM01", "COM01"}, {"COM1x", "COM1x"},
                             {"COM", "COM"}, {"/dev/ttyUSB0", "/dev/ttyUSB0"}}) {
        PortDevicePath(name.first, path, sizeof path);
        EXPECT_STREQ(path, name.second) << name.first;
    }
}

TEST_F(SerialPortTest, SecondOpenerIsRefusedUntilTheFirstCloses) {
    OpenLoaderPort(8);
    ASSERT_EQ(chmod(pty.path, 0666), 0);
    EXPECT_EQ(OpenInOtherProcess(pty.path, false), 0);  // the lock stops even root
    EXPECT_EQ(OpenInOtherProcess(pty.path, true), 0);   // the exclusive line stops users
    ClosePort();
    EXPECT_EQ(OpenInOtherProcess(pty.path, false), 1);
    EXPECT_EQ(OpenInOtherProcess(pty.path, true), 1);   // nothing of the exclusivity is left
}

TEST_F(SerialPortTest, OpenWhileHoldingAPortReplacesIt) {
    OpenLoaderPort(8);
    int before = OpenDescriptorCount();
    EXPECT_NE(OpenPort(pty.path, "19200", 5000), 0);  // the held port is closed first
    EXPECT_EQ(g_loader.read_timeout_ms, 5000u);
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST_F(SerialPortTest, ReadEndsAfterCountPlusTimeoutWithWhatArrived) {
    OpenLoaderPort(8);
    uint8_t buffer[32];
    double start = NowMs();
    EXPECT_EQ(ReadPort(buffer, 1), 0);
    double one = NowMs() - start;
    EXPECT_GE(one, 9.0);
    EXPECT_LT(one, 500.0);

    start = NowMs();
    EXPECT_EQ(ReadPort(buffer, 32), 0);
    double thirty_two = NowMs() - start;
    EXPECT_GE(thirty_two, 40.0);
    EXPECT_LT(thirty_two, 500.0);

    WriteAll(pty.master, {1, 2, 3});
    start = NowMs();
    EXPECT_EQ(ReadPort(buffer, 8), 3);
    EXPECT_GE(NowMs() - start, 16.0);
    EXPECT_EQ(buffer[2], 3);

    OpenLoaderPort(300);
    start = NowMs();
    EXPECT_EQ(ReadPort(buffer, 4), 0);
    EXPECT_GE(NowMs() - start, 304.0);
    EXPECT_LT(NowMs() - start, 2000.0);
}

TEST_F(SerialPortTest, ReadEndsAsSoonAsAllBytesHaveArrived) {
    OpenLoaderPort(3000);
    std::thread device([this] {
        WriteAll(pty.master, {0x11, 0x22});
        usleep(50000);
        WriteAll(pty.master, {0x33, 0x44, 0x55});
    });
    uint8_t buffer[5];
    double start = NowMs();
    EXPECT_EQ(ReadPort(buffer, 5), 5);
    EXPECT_LT(NowMs() - start, 1500.0);
    device.join();
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(buffer[4], 0x55);
}

TEST_F(SerialPortTest, LateBytesStayQueuedForTheNextReadEvenAcrossAReopen) {
    OpenLoaderPort(8);
    uint8_t buffer[2] = {};
    EXPECT_EQ(ReadPort(buffer, 1), 0);
    WriteAll(pty.master, {0x42});
    ASSERT_TRUE(WaitUntilQueued(pty.slave, 1));
    // The test keeps the line open, as the simulator does: a reopen flushes nothing.
    ClosePort();
    WriteAll(pty.master, {0x43});
    OpenLoaderPort(8);
    EXPECT_EQ(ReadPort(buffer, 2), 2);
    EXPECT_EQ(buffer[0], 0x42);
    EXPECT_EQ(buffer[1], 0x43);
}

TEST_F(SerialPortTest, HangUpEndsReadsAtOnceAndNeverSpins) {
    OpenLoaderPort(5000);
    std::thread device([this] {
        usleep(100000);
        close(pty.master);
        pty.master = -1;
    });
    uint8_t buffer[8];
    double start = NowMs();
    EXPECT_EQ(ReadPort(buffer, 1), 0);
    EXPECT_LT(NowMs() - start, 2000.0);
    device.join();
    // Every later read and write on the dead line returns at once.
    start = NowMs();
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(ReadPort(buffer, 8), 0);
        WritePort(buffer, 8);
    }
    EXPECT_LT(NowMs() - start, 2000.0);
}

}  // namespace

// The line's serial flags, or -1 when the line has none or cannot be opened.
static int SerialFlags(const char* path) {
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    struct serial_struct serial;
    const int flags = fd >= 0 && ioctl(fd, TIOCGSERIAL, &serial) == 0 ? serial.flags : -1;
    if (fd >= 0) close(fd);
    return flags;
}

static void SetSerialFlags(const char* path, int flags) {
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    struct serial_struct serial;
    if (fd >= 0 && ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags = flags;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
    if (fd >= 0) close(fd);
}

// Needs a real serial line (the on-board /dev/ttyS0 as root); pseudo-terminals have no flags.
TEST(SerialFlagsTest, LowLatencyIsAskedForWhileOpenAndTheFlagsGivenBackAtClose) {
    const char kLine[] = "/dev/ttyS0";
    const int found = SerialFlags(kLine);
    if (found < 0) GTEST_SKIP() << kLine << " has no serial flags here";
    const int without = found & ~static_cast<int>(ASYNC_LOW_LATENCY);
    SetSerialFlags(kLine, without);
    ResetLoaderState();
    ASSERT_EQ(OpenPort(kLine, "19200", 8), 1);
    const int held = SerialFlags(kLine);
    ClosePort();
    EXPECT_NE(held & static_cast<int>(ASYNC_LOW_LATENCY), 0) << "asked for while tavboot holds the line";
    EXPECT_EQ(SerialFlags(kLine), without);
    SetSerialFlags(kLine, found);
}

