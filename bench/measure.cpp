// Runs one command and reports what it cost:
//   pelko_measure [--stdout FILE] -- PROGRAM ARGUMENTS...
// prints "<wall nanoseconds> <peak resident KiB> <exit status>" on one line.
// Standard output of the command goes to FILE (default /dev/null); its
// standard error stays the caller's.
//
// The benchmark driver is a Python process of some 15 MiB. A child it started
// itself would carry that size into its own peak (the kernel keeps the
// largest resident size a process had, the parent's pages before exec
// included), so the command is started from this small process instead.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

long long now_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
    const char* stdout_path = "/dev/null";
    int i = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "--stdout") == 0) {
        stdout_path = argv[i + 1];
        i += 2;
    }
    if (i >= argc || std::strcmp(argv[i], "--") != 0 || i + 1 >= argc) {
        std::fprintf(stderr, "usage: pelko_measure [--stdout FILE] -- PROGRAM ARGUMENTS...\n");
        return 2;
    }
    char** command = argv + i + 1;

    int out = open(stdout_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) {
        std::perror(stdout_path);
        return 2;
    }
    long long start = now_ns();
    pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    if (child == 0) {
        dup2(out, 1);
        close(out);
        execvp(command[0], command);
        std::perror(command[0]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    long long elapsed = now_ns() - start;
    close(out);
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%lld %ld %d\n", elapsed, usage.ru_maxrss, code);
    return 0;
}
