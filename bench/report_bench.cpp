// Measures `tavboot report` over a generated shift of many records: wall time and peak memory of the process.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double NowSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

const char* const kMessages[] = {"BOOT info: Boot communication error", "COM port info: COM open error",
                                 "BOOT info: Bootloader CRC fail, data in device memory is corrupted",
                                 "application did not start"};
const char* const kSha256[] = {"ce332fbba9fbf6b1ef91d9622d94ce0ea8f6fddbe4993531bf7b5da6ed8335f0",
                               "49c97132a30185a89a5931be18fdcf6e487122069c4d1c861ed89a65a4633d03",
                               "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"};

// A record as the station writes it: every key, 16 ports, three firmware images, 24 hours,
// one in twenty failed, one in ten retried, one in twenty a query.
std::string Record(long i) {
    const long hour = i * 24 / 100000 % 24;
    const bool query = i % 20 == 7;
    const bool failed = i % 20 == 3;
    char text[1200];
    std::snprintf(text, sizeof text,
                  "{\"answer_delay_ms\":%ld,\"app_name\":\"TavSim App\",\"attempts\":%d,\"boot_sw_version\":\"BOOT 2.1\","
                  "\"file\":\"/srv/line3/firmware/fw-%ld.hex\",\"fw_version\":\"FW 3.4\",\"host\":\"line3\","
                  "\"hw_platform\":\"TAV-SIM-PLATFORM\",\"hw_version\":\"HW 1.0\",\"image_length\":16384,"
                  "\"image_sha256\":\"%s\",\"message\":\"%s\",\"operation\":\"%s\",\"outcome\":\"%s\",\"pages\":13,"
                  "\"port\":\"/dev/ttyUSB%ld\",\"result\":\"%s\",\"seconds\":%ld.%03ld,\"tavboot\":\"0.0.10\","
                  "\"time\":\"2026-12-07T%02ld:%02ld:%02ld.%03ldZ\"}\n",
                  i % 16 == 5 ? 13 : i % 3, i % 10 == 1 ? 2 : 1, i % 3, kSha256[i % 3], failed ? kMessages[i / 20 % 4] : "",
                  query ? "hwinfo" : "station", failed ? "message_failed" : "ok", i % 16, failed ? "failed" : "ok",
                  8 + i % 3, i * 37 % 1000, hour, i % 60, i * 7 % 60, i % 1000);
    return text;
}

struct Run {
    double seconds;
    double cpu_seconds;  // user and system: what a busy machine's other work does not add
    long peak_kb;
    int status;
};

Run RunReport(const char* binary, const std::string& log, bool json) {
    const double start = NowSeconds();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        if (json) execl(binary, binary, "report", "--json", log.c_str(), static_cast<char*>(nullptr));
        else execl(binary, binary, "report", log.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return {NowSeconds() - start, cpu, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

}  // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 100000;
    const std::string log = "/tmp/tavboot-report-bench.log";
    FILE* out = std::fopen(log.c_str(), "w");
    if (!out) return 1;
    long bytes = 0;
    for (long i = 0; i < count; ++i) {
        const std::string record = Record(i);
        bytes += long(record.size());
        std::fputs(record.c_str(), out);
    }
    std::fclose(out);
    std::printf("tavboot report over %ld records (%.1f MB of log), best of 3\n", count, double(bytes) / 1e6);
    for (bool json : {false, true}) {
        Run best = {1e9, 0, 0, 0};
        for (int round = 0; round < 3; ++round) {
            const Run run = RunReport(TAVBOOT_BINARY, log, json);
            if (run.status != 0) std::printf("exit status %d\n", run.status);
            if (run.seconds < best.seconds) best = run;
        }
        std::printf("  %-8s %.3f s (processor %.3f s), peak memory %.1f MB\n", json ? "--json" : "text", best.seconds,
                    best.cpu_seconds, double(best.peak_kb) / 1024);
    }
    std::remove(log.c_str());
    return 0;
}
