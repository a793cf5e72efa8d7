// drain: reads BYTES bytes of standard input in 1 MiB reads, discards them and prints
// the rate in MB/s, timed from the first read on so that the writer's start-up is left out.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: drain BYTES\n", stderr);
        return 2;
    }
    const std::uint64_t limit = std::strtoull(argv[1], nullptr, 10);
    std::vector<char> buffer(1 << 20);
    std::uint64_t total = 0;
    std::uint64_t first = 0;
    std::chrono::steady_clock::time_point start;
    while (total < limit) {
        const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (n <= 0) {
            std::fprintf(stderr, "drain: input ended after %llu bytes\n",
                         static_cast<unsigned long long>(total));
            return 1;
        }
        if (total == 0) {
            start = std::chrono::steady_clock::now();
            first = static_cast<std::uint64_t>(n);
        }
        total += static_cast<std::uint64_t>(n);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%.1f\n", static_cast<double>(total - first) / took.count() / 1e6);
}
