// Start-up of matrix-controller --demo, offscreen, from process start to its first paint, and
// its peak memory, compared with a minimal Qt Widgets window of six tabs and a status bar
// started the same way in the same run. Runs alternate between the two; prints medians and
// their ratios.
//
//   bench_startup [--runs N] [--max-ratio X]
// With --max-ratio the exit status is 1 when a median ratio exceeds X.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Sample
{
    double ms = 0; // start to first paint
    double mib = 0; // peak resident memory
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Starts program offscreen in folder and waits for its "first paint" line and its exit.
bool run(const fs::path &program, const std::vector<std::string> &args, Sample *sample)
{
    int out[2];
    if (pipe(out) != 0)
        return false;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("MATRIX_EXIT_AFTER_FIRST_PAINT", "1", 1);
        std::vector<char *> argv;
        std::string name = program.string();
        argv.push_back(name.data());
        std::vector<std::string> copies = args;
        for (std::string &a : copies)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(name.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string seen;
    char buffer[256];
    bool painted = false;
    ssize_t n;
    while (!painted && (n = read(out[0], buffer, sizeof buffer)) > 0) {
        seen.append(buffer, size_t(n));
        painted = seen.find("first paint\n") != std::string::npos;
    }
    const auto painted_at = std::chrono::steady_clock::now();
    close(out[0]);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !painted)
        return false;
    sample->ms = std::chrono::duration<double, std::milli>(painted_at - start).count();
    sample->mib = double(usage.ru_maxrss) / 1024.0; // KiB on Linux
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    int runs = 7;
    double maxRatio = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--max-ratio") && i + 1 < argc)
            maxRatio = std::atof(argv[++i]);
        else {
            std::fprintf(stderr, "usage: %s [--runs N] [--max-ratio X]\n", argv[0]);
            return 2;
        }
    }

    // A private program folder, so that the demo's settings file lands there and not in the
    // build tree.
    std::error_code error;
    const fs::path folder
        = fs::temp_directory_path() / ("bench_startup." + std::to_string(getpid()));
    fs::create_directories(folder, error);
    const fs::path controller = folder / "matrix-controller";
    fs::copy_file(MATRIX_CONTROLLER_PATH, controller, error);
    if (error) {
        std::fprintf(
            stderr, "cannot copy %s: %s\n", MATRIX_CONTROLLER_PATH, error.message().c_str());
        return 1;
    }

    std::vector<double> ms[2], mib[2];
    for (int i = 0; i < runs; ++i) {
        Sample floor, app;
        if (!run(MINIMAL_WINDOW_PATH, {}, &floor)) {
            std::fprintf(stderr, "the minimal window did not paint\n");
            return 1;
        }
        if (!run(controller, {"--demo"}, &app)) {
            std::fprintf(stderr, "matrix-controller --demo did not paint\n");
            return 1;
        }
        ms[0].push_back(floor.ms);
        mib[0].push_back(floor.mib);
        ms[1].push_back(app.ms);
        mib[1].push_back(app.mib);
    }
    fs::remove_all(folder, error);

    const double timeRatio = median(ms[1]) / median(ms[0]);
    const double memoryRatio = median(mib[1]) / median(mib[0]);
    std::printf("start-up to first paint, median of %d runs (offscreen):\n", runs);
    std::printf(
        "  minimal window        %8.1f ms  %7.1f MiB peak\n", median(ms[0]), median(mib[0]));
    std::printf(
        "  matrix-controller --demo %5.1f ms  %7.1f MiB peak\n", median(ms[1]), median(mib[1]));
    std::printf("time ratio   %.2f\nmemory ratio %.2f\n", timeRatio, memoryRatio);
    if (maxRatio > 0 && (timeRatio > maxRatio || memoryRatio > maxRatio)) {
        std::printf("above the limit of %.2f\n", maxRatio);
        return 1;
    }
    return 0;
}
