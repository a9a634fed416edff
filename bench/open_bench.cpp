// Opens each file as a conversion job loads its source (the Mixer's
// LoadWave or LoadWMA, chosen by the file's name, with the first buffer
// pulled through the chain) and prints, per file, the time the load took
// and the peak resident memory of the process that did it.
//   open_bench FILE...
// Each file is opened in a child process of its own, so that one file's
// peak is not another's; the first line is a child that opens nothing, the
// baseline of the program itself. Columns: seconds, peak KiB, peak KiB over
// the baseline, whether the file loaded, and the file.
#include "encode/ConversionJob.h"
#include "platform/MessageBox.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Measure {
    double seconds = 0.0;
    long peakKib = 0;
    int status = -1;
};

// Status of the child: 0 loaded, 1 not loaded, 3 nothing asked.
Measure measure(const char* path) {
    Measure m;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return m;
    }
    std::fflush(stdout); // the child must not print what the parent buffered
    pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        setMessageHandler([](const MessageRequest&) { return MessageAnswer::No; });
        if (!std::freopen("/dev/null", "w", stdout)) {
            _exit(2);
        }
        int code = 3;
        auto start = std::chrono::steady_clock::now();
        if (path) {
            ConversionJob job(22050);
            code = job.LoadSource(path) ? 0 : 1;
        }
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (write(pipeFds[1], &seconds, sizeof seconds) != sizeof seconds) {
            _exit(2);
        }
        _exit(code);
    }
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        return m;
    }
    if (read(pipeFds[0], &m.seconds, sizeof m.seconds) != sizeof m.seconds) {
        m.seconds = -1.0;
    }
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) {
        m.status = WEXITSTATUS(status);
    }
    m.peakKib = usage.ru_maxrss;
    return m;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
        return 2;
    }
    Measure base = measure(nullptr);
    std::printf("%8.3f %9ld %9d  -       (baseline)\n", base.seconds, base.peakKib, 0);
    std::fflush(stdout);
    for (int i = 1; i < argc; ++i) {
        Measure m = measure(argv[i]);
        const char* state = m.status == 0 ? "loaded " : m.status == 1 ? "refused" : "crashed";
        std::printf("%8.3f %9ld %9ld  %s %s\n", m.seconds, m.peakKib, m.peakKib - base.peakKib,
                    state, argv[i]);
        std::fflush(stdout);
    }
    return 0;
}
