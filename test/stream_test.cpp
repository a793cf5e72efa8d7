// Runs the stepwave executable and checks the bytes it writes and how it ends.
#include "model.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;
using namespace std::chrono_literals;

// What starts stepwave: its path, after an emulator and the emulator's options in a
// cross build.
const std::vector<std::string> command = {STEPWAVE_COMMAND};

// The test process ignores SIGPIPE so that its children can inherit that; each child
// gets the default action back unless a case asks otherwise.
const bool sigpipe_ignored = [] { return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        reset();
    }
    int get() const {
        return fd_;
    }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }

  private:
    int fd_;
};

struct Pipe {
    Fd read;
    Fd write;
};

Pipe make_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::strerror(errno));
    }
    return {Fd(fds[0]), Fd(fds[1])};
}

struct Launch {
    std::vector<std::string> args;
    char* const* env = environ;
    int out = -1; // standard output of the child; -1 starts it with descriptor 1 closed
    bool ignore_sigpipe = false;
};

// A running stepwave; it is killed and reaped if a test leaves it behind.
class Child {
  public:
    explicit Child(const Launch& launch) : err_(::memfd_create("stderr", MFD_CLOEXEC)) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (launch.out >= 0) {
            posix_spawn_file_actions_adddup2(&actions, launch.out, STDOUT_FILENO);
        } else {
            posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
        }
        posix_spawn_file_actions_adddup2(&actions, err_.get(), STDERR_FILENO);

        // Inherited dispositions and masks (a shell puts background jobs' SIGINT on
        // ignore) must not decide how the child ends.
        sigset_t defaults;
        sigset_t none;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&defaults, sig);
        }
        if (!launch.ignore_sigpipe) {
            sigaddset(&defaults, SIGPIPE);
        }
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

        std::vector<char*> argv;
        for (const auto& arg : command) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        for (const auto& arg : launch.args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), launch.env);
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            throw std::runtime_error(std::strerror(rc));
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    pid_t pid() const {
        return pid_;
    }

    // The wait status, or a failure and a kill if the child is still running by then.
    int wait(std::chrono::seconds limit) {
        const auto deadline = Clock::now() + limit;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ADD_FAILURE() << "stepwave still running after " << limit.count() << " s";
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(1ms);
        }
        pid_ = 0;
        return status;
    }

    std::string standard_error() const {
        std::string text(4096, '\0');
        const ssize_t n = ::pread(err_.get(), text.data(), text.size(), 0);
        text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return text;
    }

  private:
    Fd err_;
    pid_t pid_ = 0;
};

// How long a read waits for data before it reports a hang; room enough for emulation.
constexpr std::chrono::seconds stall = 20s;

// Reads up to limit bytes, handing each piece to take(offset, data, size); stops
// early at end of file, or with a failure when no data comes for the stall time.
// Returns the number of bytes read.
template <class Take> std::uint64_t drain(int fd, std::uint64_t limit, Take&& take) {
    Bytes buffer(1 << 20);
    std::uint64_t total = 0;
    while (total < limit) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(stall.count() * 1000)) != 1) {
            ADD_FAILURE() << "no data after " << total << " bytes for " << stall.count() << " s";
            break;
        }
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), limit - total));
        const ssize_t n = ::read(fd, buffer.data(), want);
        if (n <= 0) {
            break;
        }
        take(total, buffer.data(), static_cast<std::size_t>(n));
        total += static_cast<std::uint64_t>(n);
    }
    return total;
}

Bytes read_bytes(int fd, std::uint64_t limit) {
    Bytes got;
    drain(fd, limit, [&](std::uint64_t, const unsigned char* data, std::size_t n) {
        got.insert(got.end(), data, data + n);
    });
    return got;
}

::testing::AssertionResult is_stream_prefix(const Bytes& got, int argc) {
    for (std::size_t n = 0; n < got.size(); ++n) {
        const unsigned char want = model::byte(model::counter(argc, n));
        if (got[n] != want) {
            return ::testing::AssertionFailure()
                   << "byte " << n << " is " << int{got[n]} << ", want " << int{want} << " (argc "
                   << argc << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

std::string signal_name(int sig) {
    return std::to_string(sig) + " (" + ::strsignal(sig) + ")";
}

std::string describe(int status) {
    if (WIFEXITED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "signal " + signal_name(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

constexpr std::uint64_t enough = 100'000; // more than the pipe and the output buffer hold

TEST(Stream, ArgumentCountSetsTheStart) {
    char empty_env[] = "";
    char* no_env[] = {nullptr};
    char* odd_env[] = {empty_env, const_cast<char*>("POSIXLY_CORRECT=1"),
                       const_cast<char*>("LC_ALL=tr_TR.UTF-8"),
                       const_cast<char*>("GLIBC_TUNABLES="), nullptr};
    struct Case {
        std::vector<std::string> args;
        char* const* env;
    };
    const std::vector<Case> cases = {
        {{}, environ},
        {{"x"}, environ},
        {{"", ""}, environ},
        {{"--help", "-n", "5"}, no_env},
        {{"\xff\xfe", std::string(100'000, 'a')}, odd_env},
        {std::vector<std::string>(4998, "a"), environ},
    };
    for (const auto& c : cases) {
        Pipe pipe = make_pipe();
        Child child({c.args, c.env, pipe.write.get()});
        pipe.write.reset();
        const Bytes got = read_bytes(pipe.read.get(), enough);
        const int argc = static_cast<int>(c.args.size()) + 1;
        EXPECT_EQ(got.size(), enough) << "argc " << argc << ": " << child.standard_error();
        EXPECT_TRUE(is_stream_prefix(got, argc));
    }
}

TEST(Stream, BeginsWithTheRampAndWritesLowEightBits) {
    const Bytes start = {0,  0,  0,  5,  5,  5,  5,  10, 10, 10, 10, 15, 15, 15, 15, 29,
                         29, 29, 29, 34, 34, 34, 34, 39, 39, 39, 39, 44, 44, 44, 44, 58};
    Pipe pipe = make_pipe();
    Child child({{}, environ, pipe.write.get()});
    const Bytes got = read_bytes(pipe.read.get(), 288);
    ASSERT_EQ(got.size(), 288U);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 32), start);
    EXPECT_EQ(int{got[287]}, 17) << "t = 288 gives 273, written as 273 - 256";
}

TEST(Stream, TerminatingSignalsEndIt) {
    for (const int sig : {SIGPIPE, SIGTERM, SIGINT}) {
        Pipe pipe = make_pipe();
        Child child({{}, environ, pipe.write.get()});
        pipe.write.reset();
        EXPECT_EQ(read_bytes(pipe.read.get(), enough).size(), enough);
        if (sig == SIGPIPE) {
            pipe.read.reset(); // the reader leaves
        } else {
            ::kill(child.pid(), sig);
        }
        const int status = child.wait(20s);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig)
            << describe(status) << ", want signal " << signal_name(sig);
        EXPECT_EQ(child.standard_error(), "");
    }
}

TEST(Stream, FailedWriteEndsWithStatusOneAfterAnExactPrefix) {
    enum class Out { reader_gone, nonblocking_pipe, full_device, closed };
    const std::pair<Out, const char*> cases[] = {
        {Out::reader_gone, "reader gone, SIGPIPE ignored"},
        {Out::nonblocking_pipe, "non-blocking pipe, nobody reading"},
        {Out::full_device, "/dev/full"},
        {Out::closed, "standard output closed"},
    };
    for (const auto& [out, name] : cases) {
        SCOPED_TRACE(name);
        Pipe pipe = make_pipe();
        Fd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
        Launch launch{{}, environ, pipe.write.get(), out == Out::reader_gone};
        if (out == Out::nonblocking_pipe) {
            ASSERT_EQ(::fcntl(pipe.write.get(), F_SETFL, O_NONBLOCK), 0);
        } else if (out == Out::full_device) {
            ASSERT_GE(full.get(), 0);
            launch.out = full.get();
        } else if (out == Out::closed) {
            launch.out = -1;
        }
        Child child(launch);
        pipe.write.reset();

        Bytes got;
        if (out == Out::reader_gone) {
            got = read_bytes(pipe.read.get(), enough);
            pipe.read.reset();
        }
        const int status = child.wait(20s);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << describe(status);
        EXPECT_EQ(child.standard_error(), "");
        if (out == Out::nonblocking_pipe) {
            got = read_bytes(pipe.read.get(), UINT64_MAX); // what it wrote before the pipe filled
            EXPECT_GT(got.size(), 0U);
        }
        EXPECT_TRUE(is_stream_prefix(got, 1));
    }
}

// With no arguments byte n is written for counter n + 1, so the counter wraps from
// 2^31 - 1 to -2^31 between bytes 2^31 - 2 and 2^31 - 1. Checks every byte up to a
// little past that against one period of the model.
TEST(Stream, CrossesTheCounterWrapWithoutASeam) {
    constexpr std::size_t period = 1U << 21;
    constexpr std::uint64_t wrap = (1ULL << 31) - 2;
    constexpr std::uint64_t limit = wrap + period;
    Bytes twice(2 * period);
    for (std::size_t i = 0; i < twice.size(); ++i) {
        twice[i] = model::byte(static_cast<std::int32_t>(i % period));
    }

    Pipe pipe = make_pipe();
    Child child({{}, environ, pipe.write.get()});
    pipe.write.reset();
    std::uint64_t first_bad = UINT64_MAX;
    unsigned char at_wrap[2] = {};
    const std::uint64_t total =
        drain(pipe.read.get(), limit,
              [&](std::uint64_t offset, const unsigned char* data, std::size_t n) {
                  const unsigned char* want = twice.data() + (offset + 1) % period;
                  if (first_bad == UINT64_MAX && std::memcmp(data, want, n) != 0) {
                      first_bad = offset + static_cast<std::uint64_t>(
                                               std::mismatch(data, data + n, want).first - data);
                  }
                  for (std::uint64_t i = 0; i < 2; ++i) {
                      if (wrap + i >= offset && wrap + i < offset + n) {
                          at_wrap[i] = data[wrap + i - offset];
                      }
                  }
              });
    EXPECT_EQ(total, limit) << child.standard_error();
    EXPECT_EQ(first_bad, UINT64_MAX) << "first wrong byte at " << first_bad;
    EXPECT_EQ(int{at_wrap[0]}, model::byte(std::numeric_limits<std::int32_t>::max()));
    EXPECT_EQ(int{at_wrap[1]}, model::byte(std::numeric_limits<std::int32_t>::min()));
    EXPECT_EQ(int{at_wrap[0]}, 121);
    EXPECT_EQ(int{at_wrap[1]}, 0);
}

} // namespace
