// Simulated device on a pseudo-terminal: opening, the serving loop and the line's timing.
#include "sim/sim_device.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sim/sim_internal.h"

enum : int {
    kSimChunk = 4096,          // bytes moved per read or write of the master
    kSimIdleWakeMs = 10,       // how soon a stop request is noticed
    kSimAdapterPacket = 62,    // an adapter hands bytes on at once when this many wait
};

static const int64_t kNsPerMs = 1000000;

int64_t SimNowNs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SimSetText(char* field, size_t width, const char* text) {
    std::memset(field, 0, width);
    std::memcpy(field, text, std::min(std::strlen(text), width));
}

void SimDefaultConfig(SimConfig* config) {
    std::memset(config, 0, sizeof *config);
    SimSetText(config->platform, sizeof config->platform, "TAV-SIM-PLATFORM");
    SimSetText(config->hw_version, sizeof config->hw_version, "HW 1.0");
    SimSetText(config->boot_sw_version, sizeof config->boot_sw_version, "BOOT 2.1");
    SimSetText(config->app_name, sizeof config->app_name, "TavSim App");
    SimSetText(config->fw_version, sizeof config->fw_version, "FW 3.4");
    config->status_byte = 0x5A;
    config->boot_value = TAVBOOT_ENTER_BOOT_VALUE;
    const uint32_t key = TAVBOOT_UNLOCK_KEY;
    for (int i = 0; i < 4; ++i) config->key[i] = static_cast<uint8_t>(key >> (24 - 8 * i));
    config->erase_delay_ms = 50;
    config->program_delay_ms = 5;
    config->fault = SimFaultNone;
}

// ---- Timing: what leaves the device and when received bytes are taken ----

// Answers count from the moment the device took the byte they answer, not from
// when this thread got round to it: its own wake-up delays are no part of the line.
static int64_t DeviceNowNs(const SimDevice* device) {
    return device->taking_since_ns ? device->taking_since_ns : SimNowNs();
}

void SimSend(SimDevice* device, const uint8_t* bytes, int count, int delay_ms) {
    int64_t due = DeviceNowNs(device) + delay_ms * kNsPerMs;
    if (!device->pending_output.empty()) due = std::max(due, device->pending_output.back().due_ns);
    for (int i = 0; i < count; ++i) {
        // Paced, a byte reaches the other end one byte time after it starts out.
        if (device->config.paced) due += kSimByteTimeNs;
        device->pending_output.push_back({due, bytes[i], false});
    }
}

void SimSendByte(SimDevice* device, uint8_t byte, int delay_ms) {
    SimSend(device, &byte, 1, delay_ms);
}

void SimHangUp(SimDevice* device, int delay_ms) {
    int64_t due = DeviceNowNs(device) + delay_ms * kNsPerMs;
    if (!device->pending_output.empty()) due = std::max(due, device->pending_output.back().due_ns);
    device->pending_output.push_back({due, 0, true});
}

static void ResetDeviceState(SimDevice* device) {
    int starts_in_boot = device->config.fault == SimFaultNotInApplication;
    device->phase = starts_in_boot ? SimPhaseBoot : SimPhaseApplication;
    device->in_boot_mode = starts_in_boot;
    device->unlocked = 0;
    device->erased = 0;
    device->type_letter = 0;
    device->messages_received = 0;
    device->received.clear();
    device->flash.assign(kSimFlashSize, 0xFF);
    device->window_length = 0;
    device->message_length = 0;
    device->pending_input.clear();
    device->pending_output.clear();
    device->input_clock_ns = 0;
    device->taking_since_ns = 0;
    device->output_blocked = 0;
    device->flooding = 0;
    device->sync_faults_shown = 0;
    device->app_ready_ns = 0;
    device->adapter_epoch_ns = SimNowNs();
}

int SimOpen(SimDevice* device, const SimConfig* config) {
    device->config = *config;
    device->master_fd = -1;
    device->slave_fd = -1;
    device->stop_requested = false;
    device->running = false;
    ResetDeviceState(device);
    // Raw from the start: with the default cooked settings the line would echo
    // and translate bytes before the loader has opened and configured it.
    struct termios raw;
    std::memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    raw.c_cflag |= CS8 | CREAD | CLOCAL;
    cfsetispeed(&raw, B19200);
    cfsetospeed(&raw, B19200);
    int master, slave;
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) return 0;
    if (ptsname_r(master, device->slave_path, sizeof device->slave_path) != 0 ||
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
        close(master);
        close(slave);
        return 0;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    device->master_fd = master;
    device->slave_fd = slave;
    if (config->stale_length > 0 &&
        write(master, config->stale, static_cast<size_t>(config->stale_length)) != config->stale_length) {
        SimStop(device);
        return 0;
    }
    return 1;
}

// ---- The serving loop ----

static void CloseMaster(SimDevice* device) {
    std::lock_guard<std::mutex> guard(device->lock);
    close(device->master_fd);
    device->master_fd = -1;
    device->phase = SimPhaseHungUp;
    device->pending_input.clear();
    device->pending_output.clear();
    device->flooding = 0;
}

// Every received byte is acted on at once, as of the moment it is due: what it causes
// leaves no earlier than from that moment on, so the line keeps its pace while the
// thread wakes only for bytes going out, not for each byte coming in.
static void TakeDueInput(SimDevice* device) {
    while (!device->pending_input.empty() && device->master_fd >= 0) {
        const SimInput input = device->pending_input.front();
        device->pending_input.pop_front();
        std::lock_guard<std::mutex> guard(device->lock);
        device->taking_since_ns = input.due_ns;
        SimTakeByte(device, input.byte);
        device->taking_since_ns = 0;
    }
}

// When the first queued byte may leave. Through a USB adapter, bytes wait in it
// until its latency timer expires or a packet's worth has gathered. The timer
// restarts whenever the adapter hands a packet on, and it hands one on (empty
// or not) at every expiry: so it runs with a fixed phase until a full packet
// leaves early.
static int64_t ReleaseNs(const SimDevice* device) {
    const int64_t first_due = device->pending_output.front().due_ns;
    const int64_t period = device->config.adapter_latency_ms * kNsPerMs;
    if (period <= 0) return first_due;
    const int64_t since_epoch = std::max<int64_t>(first_due - device->adapter_epoch_ns, 0);
    int64_t release = device->adapter_epoch_ns + (since_epoch + period - 1) / period * period;
    if (device->pending_output.size() >= kSimAdapterPacket) {
        release = std::min(release, device->pending_output[kSimAdapterPacket - 1].due_ns);
    }
    return std::max(release, first_due);
}

// Writes every byte that is due, as far as the line takes it; drops the line
// when its turn comes.
static void FlushDueOutput(SimDevice* device, int64_t now) {
    while (!device->pending_output.empty() && !device->output_blocked) {
        const int64_t release = ReleaseNs(device);
        if (release > now) return;
        if (device->pending_output.front().hangup) {
            CloseMaster(device);
            return;
        }
        uint8_t chunk[kSimChunk];
        int count = 0;
        for (const SimOutput& output : device->pending_output) {
            if (count == kSimChunk || output.due_ns > now || output.hangup) break;
            chunk[count++] = output.byte;
        }
        ssize_t written = write(device->master_fd, chunk, static_cast<size_t>(count));
        if (written < 0 && errno == EINTR) continue;
        if (device->config.adapter_latency_ms > 0) device->adapter_epoch_ns = release;
        if (written < 0 && errno != EAGAIN) written = count;  // the line is gone: drop them
        if (written < count) device->output_blocked = 1;
        device->pending_output.erase(device->pending_output.begin(),
                                     device->pending_output.begin() + std::max<ssize_t>(written, 0));
    }
}

static void ReadLine(SimDevice* device) {
    uint8_t chunk[kSimChunk];
    ssize_t count = read(device->master_fd, chunk, sizeof chunk);
    if (count <= 0) return;
    int64_t now = SimNowNs();
    {
        std::lock_guard<std::mutex> guard(device->lock);
        device->received.insert(device->received.end(), chunk, chunk + count);
    }
    for (ssize_t i = 0; i < count; ++i) {
        // Paced, bytes are taken one byte time apart, as a UART delivers them.
        int64_t due = now;
        if (device->config.paced) due = std::max(now, device->input_clock_ns) + kSimByteTimeNs;
        device->input_clock_ns = due;
        device->pending_input.push_back({due, chunk[i]});
    }
}

// Sleeps until the line has input or room, the next due byte, or the idle wake.
static void WaitForLine(SimDevice* device, int64_t now) {
    int64_t wake = now + kSimIdleWakeMs * kNsPerMs;
    if (!device->pending_input.empty()) {
        wake = std::min(wake, device->pending_input.front().due_ns);
    }
    if (!device->pending_output.empty() && !device->output_blocked) {
        wake = std::min(wake, ReleaseNs(device));
    }
    int64_t wait_ns = std::max<int64_t>(wake - now, 0);
    struct timespec timeout = {static_cast<time_t>(wait_ns / 1000000000),
                               static_cast<long>(wait_ns % 1000000000)};
    // A closed master (fd -1) is skipped by ppoll, which then only sleeps.
    short events = static_cast<short>(POLLIN | (device->output_blocked ? POLLOUT : 0));
    struct pollfd entry = {device->master_fd, events, 0};
    if (ppoll(&entry, 1, &timeout, nullptr) <= 0) return;
    if (entry.revents & (POLLOUT | POLLERR | POLLHUP)) device->output_blocked = 0;
    if (entry.revents & POLLIN) ReadLine(device);
}

void SimRun(SimDevice* device) {
    // Paced bytes fall due 521 us apart; the default 50 us timer slack would
    // make every one of them late.
    prctl(PR_SET_TIMERSLACK, 1UL);
    device->running = true;
    while (!device->stop_requested) {
        int64_t now = SimNowNs();
        TakeDueInput(device);
        SimTopUpFlood(device);
        FlushDueOutput(device, now);
        WaitForLine(device, now);
    }
    device->running = false;
}

int SimStartThread(SimDevice* device) {
    device->stop_requested = false;
    device->worker = std::thread(SimRun, device);
    return 1;
}

void SimStop(SimDevice* device) {
    device->stop_requested = true;
    if (device->worker.joinable()) device->worker.join();
    if (device->master_fd >= 0) close(device->master_fd);
    if (device->slave_fd >= 0) close(device->slave_fd);
    device->master_fd = -1;
    device->slave_fd = -1;
}

std::vector<uint8_t> SimReceived(SimDevice* device) {
    std::lock_guard<std::mutex> guard(device->lock);
    return device->received;
}

std::vector<uint8_t> SimFlash(SimDevice* device) {
    std::lock_guard<std::mutex> guard(device->lock);
    return device->flash;
}
