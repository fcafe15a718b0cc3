// Measures tavboot download against simulated devices: paced at 19200 baud against the wire's limit, and unpaced.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

// What one page and the start sequence put on the line, both ways.
constexpr int kPageWireBytes = 32 * (35 + 1) + 1;  // data messages, their acks, the page ack
constexpr int kStartWireBytes = (8 + 8) + (1 + 1) + (1 + 32) + (5 + 1) + 1;  // boot request, sync,
                                                                              // identity, unlock, erase ack
constexpr double kByteSeconds = 10.0 / 19200;  // start bit, 8 data bits, stop bit
constexpr int kFirstOffset = 4096;
constexpr int kPageSize = 1024;
constexpr int kRecordSize = 16;

double NowSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// ---- The image: a sparse Intel HEX file and the flash it must leave behind ----

// Pages whose image ends 16 bytes short of the last page's end, so the loader
// counts exactly `pages`; only every fourth 16-byte record (and the last) holds
// data, which keeps the 249-page file small.
struct TestImage {
    std::vector<unsigned char> bytes;  // from offset 4096, zeros where no record is
    std::string path;
};

void AppendRecord(std::string* hex, int type, unsigned offset, const unsigned char* data, int count) {
    unsigned sum = unsigned(count) + (offset >> 8) + (offset & 0xFF) + unsigned(type);
    char text[64];
    std::snprintf(text, sizeof text, ":%02X%04X%02X", count, offset & 0xFFFF, type);
    *hex += text;
    for (int i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, "%02X", data[i]);
        *hex += text;
        sum += data[i];
    }
    std::snprintf(text, sizeof text, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    *hex += text;
}

int WriteTestImage(const std::string& dir, int pages, TestImage* image) {
    const int records = pages * kPageSize / kRecordSize - 1;
    image->bytes.assign(size_t(pages) * kPageSize, 0);
    std::string hex;
    unsigned segment = 0;
    for (int r = 0; r < records; ++r) {
        if (r % 4 != 0 && r != records - 1) continue;
        const unsigned address = unsigned(kFirstOffset + r * kRecordSize);
        if (address >> 16 != segment) {
            segment = address >> 16;
            // Type 02 gives the segment in 16-byte units.
            const unsigned value = segment << 12;
            const unsigned char base[2] = {(unsigned char)(value >> 8), (unsigned char)value};
            AppendRecord(&hex, 2, 0, base, 2);
        }
        unsigned char* data = image->bytes.data() + r * kRecordSize;
        for (int i = 0; i < kRecordSize; ++i) data[i] = (unsigned char)(r * 37 + i * 11 + 1);
        AppendRecord(&hex, 0, address & 0xFFFF, data, kRecordSize);
    }
    AppendRecord(&hex, 1, 0, nullptr, 0);
    image->path = dir + "/image" + std::to_string(pages) + ".hex";
    FILE* file = std::fopen(image->path.c_str(), "wb");
    if (!file) return 0;
    const bool written = std::fwrite(hex.data(), 1, hex.size(), file) == hex.size();
    return std::fclose(file) == 0 && written;
}

int FlashHoldsImage(const std::string& flash_path, const TestImage& image) {
    FILE* file = std::fopen(flash_path.c_str(), "rb");
    if (!file) return 0;
    std::vector<unsigned char> flash(kFirstOffset + image.bytes.size());
    const size_t got = std::fread(flash.data(), 1, flash.size(), file);
    std::fclose(file);
    return got == flash.size() && std::memcmp(flash.data() + kFirstOffset, image.bytes.data(), image.bytes.size()) == 0;
}

// ---- Processes ----

struct Child {
    pid_t pid = -1;
    int output = -1;  // read end of the child's stdout (simulator) or stderr (download)
};

Child Spawn(const std::string& binary, const std::vector<std::string>& args, int capture_fd) {
    Child child;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return child;
    child.pid = fork();
    if (child.pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return child;
    }
    if (child.pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        dup2(fds[1], capture_fd);
        std::vector<char*> argv = {const_cast<char*>(binary.c_str())};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    child.output = fds[0];
    return child;
}

// Reads one line; "" at the end of the output.
std::string ReadLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

// The simulator prints each device's port as it is ready.
struct Simulators {
    Child child;
    std::vector<std::string> ports;
    std::string flash_out;
    double cpu = 0;  // the simulator process's user and system time
};

double CpuSeconds(const struct rusage& usage) {
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Starts `binary` with args (its devices print one line path each) for count devices.
int SpawnSimulators(const std::string& binary, const std::vector<std::string>& args, int count, Simulators* sims) {
    sims->child = Spawn(binary, args, STDOUT_FILENO);
    sims->ports.clear();
    if (sims->child.pid < 0) return 0;
    for (int i = 0; i < count; ++i) {
        const std::string port = ReadLine(sims->child.output);
        if (port.empty()) return 0;
        sims->ports.push_back(port);
    }
    return 1;
}

int StartSimulators(const std::string& binary, const std::string& dir, int count, bool paced, Simulators* sims) {
    sims->flash_out = dir + "/flash";
    std::vector<std::string> args = {"simulate", "--count", std::to_string(count), "--erase-delay", "0",
                                     "--program-delay", "0", "--flash-out", sims->flash_out};
    if (paced) args.push_back("--paced");
    return SpawnSimulators(binary, args, count, sims);
}

// Stops the simulator (which then writes its flash) and checks every device's flash.
int StopSimulatorsAndCheck(Simulators* sims, const TestImage& image) {
    kill(sims->child.pid, SIGTERM);
    int raw = 0;
    struct rusage usage;
    wait4(sims->child.pid, &raw, 0, &usage);
    sims->cpu = CpuSeconds(usage);
    close(sims->child.output);
    if (!WIFEXITED(raw) || WEXITSTATUS(raw) != 0) return 0;
    const size_t count = sims->ports.size();
    for (size_t i = 0; i < count; ++i) {
        if (!FlashHoldsImage(sims->flash_out + (count > 1 ? std::to_string(i) : ""), image)) return 0;
    }
    return 1;
}

// One `tavboot download`: wall time from the start of the process to its end,
// the loader's CPU time, and when its status lines appeared.
struct DownloadRun {
    int status = -1;
    double wall = 0;
    double cpu = 0;
    double erased_at = 0;    // "erase finished": the page transfer begins
    double finished_at = 0;  // the success box: the last page is acknowledged
    // With several ports ("[port] ..." lines): when the last port said its first
    // line, and when the first and the last port showed their success box.
    std::map<std::string, double> first_line;
    double all_started = 0;
    double first_finished = 0;
    double sim_cpu = 0;
    std::vector<std::string> failures;  // summary lines of failed ports
};

void NoteLine(const std::string& line, double started, DownloadRun* run) {
    const double now = NowSeconds() - started;
    if (line.find("erase finished") != std::string::npos) run->erased_at = now;
    if (line.find("Boot successful finished") != std::string::npos) {
        if (!run->first_finished) run->first_finished = now;
        run->finished_at = now;
    }
    if (line.find("FAILED") != std::string::npos) run->failures.push_back(line);
    const size_t end = line.find("] ");
    if (line[0] == '[' && end != std::string::npos && !run->first_line.count(line.substr(1, end - 1))) {
        run->first_line[line.substr(1, end - 1)] = now;
        run->all_started = now;
    }
}

DownloadRun RunDownload(const std::string& binary, const std::vector<std::string>& ports, const std::string& file,
                        const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {"download"};
    args.insert(args.end(), options.begin(), options.end());
    for (const std::string& port : ports) {
        args.push_back("--port");
        args.push_back(port);
    }
    args.push_back(file);
    DownloadRun run;
    const double started = NowSeconds();
    const Child child = Spawn(binary, args, STDERR_FILENO);
    if (child.pid < 0) return run;
    std::string line;
    char buffer[4096];
    ssize_t got;
    while ((got = read(child.output, buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] != '\n') {
                line += buffer[i];
                continue;
            }
            NoteLine(line, started, &run);
            line.clear();
        }
    }
    close(child.output);
    int raw = 0;
    struct rusage usage;
    wait4(child.pid, &raw, 0, &usage);
    run.wall = NowSeconds() - started;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    run.cpu = CpuSeconds(usage);
    return run;
}

// A download into `devices` simulated devices, each checked afterwards.
int MeasureDownload(const std::string& binary, const std::string& dir, const TestImage& image, int devices,
                    bool paced, DownloadRun* run, const std::vector<std::string>& options = {}) {
    Simulators sims;
    if (!StartSimulators(binary, dir, devices, paced, &sims)) {
        if (sims.child.pid > 0) StopSimulatorsAndCheck(&sims, image);
        std::fprintf(stderr, "download_bench: the simulator did not start\n");
        return 0;
    }
    *run = RunDownload(binary, sims.ports, image.path, options);
    const int flash_ok = StopSimulatorsAndCheck(&sims, image);
    run->sim_cpu = sims.cpu;
    if (run->status == 0 && flash_ok) return 1;
    for (const std::string& line : run->failures) std::fprintf(stderr, "  %s\n", line.c_str());
    std::fprintf(stderr, "download_bench: download of %s failed (status %d, flash %s)\n", image.path.c_str(),
                 run->status, flash_ok ? "ok" : "wrong");
    return 0;
}

// ---- The measurements ----

double IdealSeconds(int pages) { return (kStartWireBytes + double(kPageWireBytes) * pages) * kByteSeconds; }

int PacedTable(const std::string& binary, const std::string& dir, const std::vector<int>& page_counts) {
    std::printf("Paced at 19200 baud, device delays 0: tavboot download against the wire's limit\n");
    std::printf("%5s %10s %9s %9s %10s %9s %11s %10s %7s\n", "pages", "wire bytes", "ideal s", "wall s",
                "wall/ideal", "start s", "transfer s", "loader CPU", "CPU %");
    for (int pages : page_counts) {
        TestImage image;
        DownloadRun run;
        if (!WriteTestImage(dir, pages, &image) || !MeasureDownload(binary, dir, image, 1, true, &run)) return 0;
        const double ideal = IdealSeconds(pages);
        std::printf("%5d %10d %9.3f %9.3f %10.4f %9.3f %11.3f %9.3fs %7.3f\n", pages,
                    kStartWireBytes + kPageWireBytes * pages, ideal, run.wall, run.wall / ideal, run.erased_at,
                    run.finished_at - run.erased_at, run.cpu, 100 * run.cpu / run.wall);
        std::fflush(stdout);
    }
    std::printf("  ideal s = (%d start-sequence bytes + %d bytes a page) x 10 bits / 19200 baud;\n"
                "  wall s runs from starting the tavboot process to its exit; start s ends at\n"
                "  \"erase finished\" (ideal %.3f s), transfer s at the last page's acknowledgement\n"
                "  (ideal %.4f s a page); every device's flash is checked against the image.\n\n",
                kStartWireBytes, kPageWireBytes, kStartWireBytes * kByteSeconds, kPageWireBytes * kByteSeconds);
    return 1;
}

int UnpacedRate(const std::string& binary, const std::string& dir, int pages) {
    TestImage image;
    DownloadRun run;
    if (!WriteTestImage(dir, pages, &image) || !MeasureDownload(binary, dir, image, 1, false, &run)) return 0;
    const int messages = pages * 32;
    const double transfer = run.finished_at - run.erased_at;
    std::printf("Unpaced through a pseudo-terminal, %d pages (%d data messages):\n"
                "  transfer %.3f s: %.0f data-message exchanges/s (%.1f us each); whole command %.3f s,\n"
                "  loader CPU %.3f s\n\n",
                pages, messages, transfer, messages / transfer, 1e6 * transfer / messages, run.wall, run.cpu);
    return 1;
}

// The answer_delay_ms of the log's last record; -1 when it has none.
int LoggedAnswerDelay(const std::string& log) {
    std::string text;
    FILE* file = std::fopen(log.c_str(), "rb");
    if (!file) return -1;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
    const std::string key = "\"answer_delay_ms\":";
    const size_t at = text.rfind(key);
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + key.size());
}

// What a download through an adapter whose latency timer has period latency_ms
// cannot beat: the start sequence's wire time, then for every page 32 stop-and-wait
// exchanges, each of which settles on the timer's phase and ends at the first
// expiry after its wire time (18.75 ms): ceil(18.75 / L) x L.
double AdapterLimitSeconds(int pages, int latency_ms) {
    const double exchange_ms = (35 + 1) * kByteSeconds * 1000;
    if (latency_ms <= 0) return IdealSeconds(pages);
    const int periods = int(exchange_ms / latency_ms) + (std::fmod(exchange_ms, latency_ms) > 0 ? 1 : 0);
    return kStartWireBytes * kByteSeconds + pages * 32 * periods * latency_ms / 1000.0;
}

// The same paced download with the device's answers passing a USB adapter whose
// latency timer has each period (0: straight onto the line), against the wire and
// against the adapter's own limit, and the fixed cost of the download: its
// start (process, file, start sequence) beyond the start sequence's wire time
// and its end after the last page's box.
int AdapterTable(const std::string& binary, const std::string& dir, const std::vector<int>& page_counts,
                 const std::vector<int>& latencies) {
    std::printf("Paced, answers through a USB adapter's latency timer (tavboot simulate --adapter-latency):\n"
                "%8s %5s %9s %9s %9s %9s %9s %9s %11s %9s %9s\n",
                "latency", "pages", "wire s", "limit s", "wall s", "/wire", "/limit", "start s", "transfer s",
                "fixed ms", "delay ms");
    for (int latency : latencies) {
        for (int pages : page_counts) {
            TestImage image;
            if (!WriteTestImage(dir, pages, &image)) return 0;
            Simulators sims;
            sims.flash_out = dir + "/flash";
            const std::vector<std::string> args = {"simulate", "--paced", "--erase-delay", "0", "--program-delay",
                                                   "0", "--adapter-latency", std::to_string(latency),
                                                   "--flash-out", sims.flash_out};
            if (!SpawnSimulators(binary, args, 1, &sims)) return 0;
            const std::string log = dir + "/log";
            std::remove(log.c_str());
            const DownloadRun run = RunDownload(binary, sims.ports, image.path, {"--log", log});
            if (!StopSimulatorsAndCheck(&sims, image) || run.status != 0) {
                std::fprintf(stderr, "download_bench: download through a %d ms adapter failed\n", latency);
                return 0;
            }
            const double wire = IdealSeconds(pages);
            const double limit = AdapterLimitSeconds(pages, latency);
            const double fixed = run.erased_at - kStartWireBytes * kByteSeconds + run.wall - run.finished_at;
            std::printf("%5d ms %5d %9.3f %9.3f %9.3f %9.4f %9.4f %9.3f %11.3f %9.1f %9d\n", latency, pages, wire,
                        limit, run.wall, run.wall / wire, run.wall / limit, run.erased_at,
                        run.finished_at - run.erased_at, 1000 * fixed, LoggedAnswerDelay(log));
            std::fflush(stdout);
        }
    }
    std::printf("  limit s: the start sequence's wire time and 32 x ceil(18.75 ms / L) x L a page;\n"
                "  fixed ms: start s beyond the start sequence's wire time, and wall s after the last box;\n"
                "  delay ms: the answer_delay_ms tavboot reported (median lateness beyond the wire).\n\n");
    return 1;
}

// Every record's seconds in the log: each port's own download time, its process start left out.
std::vector<double> LoggedSeconds(const std::string& log) {
    std::vector<double> seconds;
    FILE* file = std::fopen(log.c_str(), "rb");
    if (!file) return seconds;
    char line[16384];
    while (std::fgets(line, sizeof line, file)) {
        const char* at = std::strstr(line, "\"seconds\":");
        if (at) seconds.push_back(std::atof(at + 10));
    }
    std::fclose(file);
    return seconds;
}

// The slowest and the mean port of a run's log.
void SlowestAndMean(const std::vector<double>& seconds, double* slowest, double* mean) {
    *slowest = 0;
    *mean = 0;
    for (double s : seconds) {
        *slowest = std::max(*slowest, s);
        *mean += s / double(seconds.size());
    }
}

// One device, then `devices` at once, then one again, back to back so that all see the same machine.
int ParallelFigure(const std::string& binary, const std::string& dir, int devices, int pages) {
    TestImage image;
    DownloadRun one;
    DownloadRun many;
    DownloadRun again;
    const std::string log = dir + "/parallel.log";
    std::vector<double> seconds[3];
    int measured = WriteTestImage(dir, pages, &image);
    for (int i = 0; i < 3 && measured; ++i) {
        std::remove(log.c_str());
        measured = MeasureDownload(binary, dir, image, i == 1 ? devices : 1, true, i == 0 ? &one : i == 1 ? &many : &again,
                                   {"--log", log});
        seconds[i] = LoggedSeconds(log);
        measured = measured && int(seconds[i].size()) == (i == 1 ? devices : 1);
    }
    if (!measured) return 0;
    std::printf("%d devices at once, paced, %d pages each (download --port x %d):\n"
                "  wall %.3f s against %.3f s for one device: %.3f x; loader CPU %.3f s in all\n"
                "  (%.2f %% of the wall time for each port's process)\n",
                devices, pages, devices, many.wall, one.wall, many.wall / one.wall, many.cpu,
                100 * many.cpu / devices / many.wall);
    std::printf("  where the time goes: every port's first line by %.3f s (process starts); success boxes\n"
                "  from %.3f s to %.3f s (one device: %.3f s); exit %.3f s after the last box;\n"
                "  simulator CPU %.3f s (one device: %.3f s)\n",
                many.all_started, many.first_finished, many.finished_at, one.finished_at,
                many.wall - many.finished_at, many.sim_cpu, one.sim_cpu);
    double slowest = 0;
    double mean = 0;
    SlowestAndMean(seconds[1], &slowest, &mean);
    std::printf("  each port's download (its log record's seconds): slowest %.3f s, mean %.3f s against\n"
                "  %.3f s and %.3f s for one device before and after: slowest %.4f x, mean %.4f x the mean of one\n",
                slowest, mean, seconds[0][0], seconds[2][0], slowest * 2 / (seconds[0][0] + seconds[2][0]),
                mean * 2 / (seconds[0][0] + seconds[2][0]));
    return 1;
}

void Usage() {
    std::fprintf(stderr, "usage: download_bench [--tavboot PATH] [--devices N] [PAGES...]\n"
                         "       download_bench --several N [PAGES]   (only N devices at once against one, 2 to 64;\n"
                         "         default 16 pages)\n"
                         "       download_bench --adapters [--latency MS]... [PAGES...]\n"
                         "         (only the adapter table; default 16 pages, latencies 0 1 2 16 32 100)\n"
                         "       download_bench --write-image PAGES DIR   (writes DIR/imagePAGES.hex)\n"
                         "  PAGES: paced image sizes, 1 to 249 (default 1 16 249)\n");
}

// The image alone, for measuring other front ends (the Windows ones under Wine).
int WriteImageOnly(const char* pages_text, const char* dir) {
    const int pages = std::atoi(pages_text);
    TestImage image;
    if (pages < 1 || pages > 249) return Usage(), 2;
    return WriteTestImage(dir, pages, &image) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string binary = TAVBOOT_BINARY;
    int devices = 8;
    std::vector<int> page_counts;
    if (argc == 4 && std::string(argv[1]) == "--write-image") return WriteImageOnly(argv[2], argv[3]);
    const bool adapters_only = argc >= 2 && std::string(argv[1]) == "--adapters";
    const bool several_only = argc >= 3 && std::string(argv[1]) == "--several";
    if (several_only) devices = std::atoi(argv[2]);
    if (several_only && (devices < 2 || devices > 64)) return Usage(), 2;
    const std::vector<int> all_latencies = {0, 1, 2, 16, 32, 100};
    std::vector<int> latencies;
    for (int i = several_only ? 3 : adapters_only ? 2 : 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const int pages = std::atoi(arg.c_str());
        if (arg == "--tavboot" && i + 1 < argc) binary = argv[++i];
        else if (arg == "--devices" && i + 1 < argc) devices = std::atoi(argv[++i]);
        else if (arg == "--latency" && i + 1 < argc) latencies.push_back(std::atoi(argv[++i]));
        else if (pages >= 1 && pages <= 249) page_counts.push_back(pages);
        else return Usage(), 2;
    }
    if (latencies.empty()) latencies = all_latencies;
    char dir_template[] = "/tmp/tavboot-bench-XXXXXX";
    if (!mkdtemp(dir_template)) return 1;
    const std::string dir = dir_template;
    const int ok = several_only ? ParallelFigure(binary, dir, devices, page_counts.empty() ? 16 : page_counts[0])
                   : adapters_only
                       ? AdapterTable(binary, dir, page_counts.empty() ? std::vector<int>{16} : page_counts, latencies)
                       : PacedTable(binary, dir, page_counts.empty() ? std::vector<int>{1, 16, 249} : page_counts) &&
                             AdapterTable(binary, dir, {16}, latencies) && UnpacedRate(binary, dir, 249) &&
                             (devices < 2 || ParallelFigure(binary, dir, devices, 16));
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return ok ? 0 : 1;
}
