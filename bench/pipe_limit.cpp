// pipe_limit: writes 4096-byte blocks for ever, the most a pipe takes from one writer.
#include <array>
#include <unistd.h>

int main() {
    const std::array<char, 4096> block{};
    while (::write(STDOUT_FILENO, block.data(), block.size()) > 0) {
    }
    return 1;
}
