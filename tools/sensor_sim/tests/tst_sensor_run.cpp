// Runs the real thermometer-sensor program and talks to it as a serial client would.
// Usage: tst_sensor_run PATH-TO-thermometer-sensor

#include "profile.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int failures = 0;
std::string program;

#define CHECK(condition, what)                                                                     \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "FAIL %s:%d: %s (%s)\n", __FILE__, __LINE__, #condition,          \
                         std::string(what).c_str());                                               \
            ++failures;                                                                            \
        }                                                                                          \
    } while (false)

/// A fresh directory for one case's link and output files, removed afterwards.
class TempDir
{
public:
    TempDir()
    {
        char pattern[] = "/tmp/tst_sensor_run.XXXXXX";
        m_path = ::mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

/// The simulator, run with stdout and stderr sent to files in dir.
class Simulator
{
public:
    Simulator(const TempDir &dir, const std::vector<std::string> &args)
        : m_out(dir.file("stdout"))
        , m_err(dir.file("stderr"))
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            ::dup2(::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
            std::vector<char *> argv {const_cast<char *>(program.c_str())};
            for (const std::string &arg : args)
                argv.push_back(const_cast<char *>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            std::_Exit(127);
        }
    }
    ~Simulator()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    /// The exit status, or -1 if it did not exit normally within the timeout.
    int waitExit(Clock::duration timeout = 5s)
    {
        const Clock::time_point end = Clock::now() + timeout;
        while (Clock::now() < end) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_reaped = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    void signal(int number) const { ::kill(m_pid, number); }
    std::string output() const { return readFile(m_out); }
    std::string errors() const { return readFile(m_err); }

private:
    static std::string readFile(const std::string &path)
    {
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    pid_t m_pid = -1;
    bool m_reaped = false;
    std::string m_out, m_err;
};

bool exists(const std::string &path)
{
    struct stat info
    {
    };
    return ::lstat(path.c_str(), &info) == 0;
}

bool waitForLink(const std::string &path)
{
    const Clock::time_point end = Clock::now() + 5s;
    while (!exists(path) || ::access(path.c_str(), R_OK | W_OK) != 0) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

/// Sets the line up the way the Thermometer program does: raw, 38400 baud.
bool configureClient(int fd)
{
    termios settings {};
    if (::tcgetattr(fd, &settings) != 0)
        return false;
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, B38400);
    ::cfsetospeed(&settings, B38400);
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

int queued(int fd)
{
    int count = -1;
    ::ioctl(fd, FIONREAD, &count);
    return count;
}

std::vector<std::uint8_t> readExactly(int fd, std::size_t count)
{
    std::vector<std::uint8_t> data;
    const Clock::time_point end = Clock::now() + 5s;
    while (data.size() < count && Clock::now() < end) {
        pollfd client {fd, POLLIN, 0};
        if (::poll(&client, 1, 100) <= 0)
            continue;
        std::uint8_t buffer[512];
        const ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, count - data.size()));
        if (got <= 0)
            break;
        data.insert(data.end(), buffer, buffer + got);
    }
    return data;
}

std::vector<std::uint8_t> expected(Profile profile, std::size_t count)
{
    std::vector<std::uint8_t> readings;
    for (std::size_t i = 0; i < count; ++i)
        readings.push_back(profile.next());
    return readings;
}

void testFullRun()
{
    struct Row
    {
        std::vector<std::string> profileArgs;
        Profile profile;
    };
    // The ramp passes every byte a line discipline could mangle below 121 (newline, carriage
    // return, XON/XOFF, interrupt, end of file); spikes add 0 and bytes above 127.
    const Row rows[] = {
        {{"ramp"}, Profile(Profile::Kind::Ramp)},
        {{"--profile", "spikes", "--seed", "7"}, Profile(Profile::Kind::Spikes, 7)},
        {{}, Profile(Profile::Kind::Room)},
    };
    for (const Row &row : rows) {
        const std::string what = row.profileArgs.empty() ? "default" : row.profileArgs.back();
        TempDir dir;
        const std::string link = dir.file("sensor");
        // A stale link from an earlier run, to be replaced.
        CHECK(::symlink("/dev/pts/nonexistent", link.c_str()) == 0, what);
        std::vector<std::string> args {"--link", link, "--rate", "max", "--count", "1000"};
        args.insert(args.end(), row.profileArgs.begin(), row.profileArgs.end());
        Simulator simulator(dir, args);
        CHECK(waitForLink(link), what);

        const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
        CHECK(fd >= 0, what);
        if (fd < 0)
            continue;
        // Nothing may arrive before the client has set the line up.
        std::this_thread::sleep_for(200ms);
        CHECK(queued(fd) == 0, what);
        CHECK(configureClient(fd), what);
        CHECK(readExactly(fd, 1000) == expected(row.profile, 1000), what);

        CHECK(simulator.waitExit() == 0, what);
        CHECK(!exists(link), what);
        CHECK(simulator.output().rfind("thermometer-sensor: " + link + " -> /dev/pts/", 0) == 0,
              simulator.output());
        // After the count, nothing more: the line ends.
        std::uint8_t extra = 0;
        CHECK(::read(fd, &extra, 1) <= 0, what);
        ::close(fd);
    }
}

void testPacedRate()
{
    TempDir dir;
    const std::string link = dir.file("sensor");
    Simulator simulator(dir, {"--link", link, "--rate", "50", "--count", "25", "steady", "25"});
    CHECK(waitForLink(link), "paced");
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    CHECK(fd >= 0 && configureClient(fd), "paced");
    const Clock::time_point start = Clock::now();
    CHECK(readExactly(fd, 25) == std::vector<std::uint8_t>(25, 50), "paced");
    // 24 intervals of 20 ms after the first reading.
    const auto elapsed = Clock::now() - start;
    CHECK(elapsed >= 440ms && elapsed < 800ms, std::to_string(elapsed.count()));
    CHECK(simulator.waitExit() == 0, "paced");
    ::close(fd);
}

void testClientLeaves()
{
    // A client that puts the line back as it found it on closing, as QSerialPort does, has
    // left: what it did not read must not reach the next client, and the readings pause.
    TempDir dir;
    const std::string link = dir.file("sensor");
    Simulator simulator(dir, {"--link", link, "--rate", "100", "ramp"});
    CHECK(waitForLink(link), "first client");
    int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    termios found {};
    CHECK(fd >= 0 && ::tcgetattr(fd, &found) == 0 && configureClient(fd), "first client");
    CHECK(readExactly(fd, 5) == expected(Profile(Profile::Kind::Ramp), 5), "first client");
    ::tcsetattr(fd, TCSANOW, &found);
    ::close(fd);

    std::this_thread::sleep_for(300ms);
    fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    CHECK(fd >= 0, "second client");
    CHECK(queued(fd) == 0, "second client");
    CHECK(configureClient(fd), "second client");
    // Readings go on from about where the first client stopped, not 300 ms further on.
    const std::vector<std::uint8_t> next = readExactly(fd, 1);
    CHECK(next.size() == 1 && next[0] >= 5 && next[0] <= 8,
          next.empty() ? "nothing" : std::to_string(next[0]));
    simulator.signal(SIGTERM);
    CHECK(simulator.waitExit() == 0, "second client");
    ::close(fd);
}

void testStopSignals()
{
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        for (bool withClient : {false, true}) {
            const std::string what = std::to_string(number) + (withClient ? " client" : "");
            TempDir dir;
            const std::string link = dir.file("sensor");
            Simulator simulator(dir, {"--link", link, "--rate", "100"});
            CHECK(waitForLink(link), what);
            int fd = -1;
            if (withClient) {
                fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
                CHECK(fd >= 0 && configureClient(fd), what);
                CHECK(readExactly(fd, 5).size() == 5, what);
            }
            simulator.signal(number);
            CHECK(simulator.waitExit(2s) == 0, what);
            CHECK(!exists(link), what);
            if (fd >= 0)
                ::close(fd);
        }
    }
}

void testUsageErrors()
{
    const std::vector<std::vector<std::string>> rows = {
        {},
        {"ramp"},
        {"--link"},
        {"--link", "L", "--rate", "0"},
        {"--link", "L", "--rate", "-5"},
        {"--link", "L", "--rate", "fast"},
        {"--link", "L", "--count", "0"},
        {"--link", "L", "--count", "12x"},
        {"--link", "L", "--seed", "-1"},
        {"--link", "L", "steady"},
        {"--link", "L", "steady", "200"},
        {"--link", "L", "--profile", "steady", "warm"},
        {"--link", "L", "sunny"},
        {"--link", "L", "ramp", "spikes"},
        {"--link", "L", "--frobnicate"},
        {"--link", "L", "-x"},
    };
    for (std::vector<std::string> args : rows) {
        std::string what;
        for (const std::string &arg : args)
            what += arg + " ";
        TempDir dir;
        for (std::string &arg : args)
            arg = arg == "L" ? dir.file("sensor") : arg;
        Simulator simulator(dir, args);
        CHECK(simulator.waitExit() == 2, what);
        CHECK(simulator.errors().find("usage:") != std::string::npos, what);
        CHECK(!exists(dir.file("sensor")), what);
    }
}

void testBadLinkPaths()
{
    struct Row
    {
        const char *what;
        const char *name; // in the case's temporary directory
        void (*prepare)(const std::string &path);
    };
    const Row rows[] = {
        {"missing directory", "absent/sensor", [](const std::string &) {}},
        {"regular file", "sensor",
         [](const std::string &path) { std::ofstream(path) << "keep me"; }},
        {"directory", "sensor", [](const std::string &path) { ::mkdir(path.c_str(), 0700); }},
    };
    for (const Row &row : rows) {
        TempDir dir;
        const std::string path = dir.file(row.name);
        row.prepare(path);
        struct stat before
        {
        };
        const bool existed = ::lstat(path.c_str(), &before) == 0;
        Simulator simulator(dir, {"--link", path, "ramp"});
        CHECK(simulator.waitExit() == 2, row.what);
        const std::string errors = simulator.errors();
        CHECK(errors.find(path) != std::string::npos, row.what);
        CHECK(errors.find('\n') == errors.size() - 1, row.what);
        struct stat after
        {
        };
        CHECK(existed == (::lstat(path.c_str(), &after) == 0), row.what);
        CHECK(!existed || (before.st_mode == after.st_mode && before.st_size == after.st_size),
              row.what);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-thermometer-sensor\n", argv[0]);
        return 2;
    }
    program = argv[1];
    testFullRun();
    testPacedRate();
    testClientLeaves();
    testStopSignals();
    testUsageErrors();
    testBadLinkPaths();
    if (failures == 0)
        std::printf("all run checks passed\n");
    return failures == 0 ? 0 : 1;
}
