// Runs a fuzz harness once over every file of the folders and files given on
// the command line, so that a committed corpus becomes a regression test.
//
// The limits of a fuzzing run hold for every input, with libFuzzer's flags:
//   -timeout=S       an input may take at most S seconds of processor time;
//   -rss_limit_mb=M  the resident set may reach at most M MiB.
// Each input runs in a child process of its own, so that a crash, a timeout
// or an excess of memory is reported for that input and the others still run.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

struct Limits {
    long seconds = 0;  // 0: none
    long rssMb = 0;
};

struct Worst {
    double seconds = 0;
    long rssMb = 0;
    std::string slowest, largest;
};

double cpuSeconds(const rusage& r)
{
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

int runFile(const std::filesystem::path& path, const Limits& limits, Worst& worst)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        if (limits.seconds > 0) {
            // Processor time, so that a busy machine does not fail a test; the
            // alarm catches an input that waits instead of working.
            const rlimit cpu = {rlim_t(limits.seconds), rlim_t(limits.seconds + 1)};
            setrlimit(RLIMIT_CPU, &cpu);
            alarm(unsigned(10 * limits.seconds));
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        std::exit(0);
    }
    int status = 0;
    rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::perror("wait4");
        return 1;
    }
    const double seconds = cpuSeconds(usage);
    const long rssMb = usage.ru_maxrss / 1024;
    if (seconds > worst.seconds) {
        worst.seconds = seconds;
        worst.slowest = path.string();
    }
    if (rssMb > worst.rssMb) {
        worst.rssMb = rssMb;
        worst.largest = path.string();
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const bool timeout = signal == SIGXCPU || signal == SIGALRM;
        std::fprintf(stderr, "%s: %s (signal %d) after %.2f s\n", path.c_str(), timeout ? "timeout" : "crash", signal,
                     seconds);
        return 1;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s: exit code %d\n", path.c_str(), WEXITSTATUS(status));
        return 1;
    }
    if (limits.rssMb > 0 && rssMb > limits.rssMb) {
        std::fprintf(stderr, "%s: out of memory: %ld MiB (limit %ld)\n", path.c_str(), rssMb, limits.rssMb);
        return 1;
    }
    return 0;
}

bool flag(const char* arg, const char* name, long& value)
{
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0)
        return false;
    value = std::strtol(arg + n, nullptr, 10);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    Limits limits;
    Worst worst;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i)
        if (!flag(argv[i], "-timeout=", limits.seconds) && !flag(argv[i], "-rss_limit_mb=", limits.rssMb))
            paths.push_back(argv[i]);
    int files = 0, failures = 0;
    for (const char* path : paths) {
        fs::path arg(path);
        if (fs::is_directory(arg)) {
            for (const auto& entry : fs::directory_iterator(arg)) {
                if (entry.is_regular_file()) {
                    failures += runFile(entry.path(), limits, worst);
                    ++files;
                }
            }
        } else {
            failures += runFile(arg, limits, worst);
            ++files;
        }
    }
    std::printf("replayed %d inputs, %d failed; slowest %.2f s (%s), largest %ld MiB (%s)\n", files, failures,
                worst.seconds, worst.slowest.c_str(), worst.rssMb, worst.largest.c_str());
    return (failures == 0 && files > 0) ? 0 : 1;
}
