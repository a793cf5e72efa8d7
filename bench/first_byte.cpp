// first_byte: starts PROGRAM N times with its output on a pipe and prints the median
// and the minimum time in microseconds from the start to the first byte that arrives.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

double microseconds_to_first_byte(char* program) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        std::perror("pipe2");
        std::exit(1);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    char* argv[] = {program, nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) != 0) {
        std::perror(program);
        std::exit(1);
    }
    ::close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    ::poll(&p, 1, -1);
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ::close(fds[0]);
    posix_spawn_file_actions_destroy(&actions);
    return took.count();
}

} // namespace

int main(int argc, char** argv) {
    const unsigned long starts = argc == 3 ? std::strtoul(argv[2], nullptr, 10) : 0;
    if (starts == 0) {
        std::fputs("usage: first_byte PROGRAM N, with N at least 1\n", stderr);
        return 2;
    }
    std::vector<double> times(starts);
    for (double& t : times) {
        t = microseconds_to_first_byte(argv[1]);
    }
    std::sort(times.begin(), times.end());
    std::printf("%.0f %.0f\n", times[times.size() / 2], times.front());
}
