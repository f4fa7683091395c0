// Runs the real thermometer-sensor program and talks to it as a serial client would.

#include "profile.h"

#include <QTest>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
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
using Arguments = std::vector<std::string>;

const std::string program = THERMOMETER_SENSOR_PROGRAM;

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
    Simulator(const TempDir &dir, const Arguments &args)
        : m_out(dir.file("stdout"))
        , m_err(dir.file("stderr"))
    {
        // Made before the fork: the test's own threads may hold the allocator's lock.
        std::vector<char *> argv {const_cast<char *>(program.c_str())};
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            ::dup2(::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
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

/// The client's end of the line, closed however the case ends.
class Client
{
public:
    explicit Client(const std::string &path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY))
    {
    }
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    int fd() const { return m_fd; }

private:
    int m_fd;
};

bool exists(const std::string &path)
{
    struct stat info {};
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

/// What is at the link's path before the simulator starts.
enum class InTheWay { Nothing, File, Directory };

} // namespace

Q_DECLARE_METATYPE(Arguments)
Q_DECLARE_METATYPE(InTheWay)
Q_DECLARE_METATYPE(Profile)

class TestSensorRun : public QObject
{
    Q_OBJECT

private slots:
    void fullRun_data();
    void fullRun();
    void pacedRate();
    void clientLeaves();
    void stopSignals_data();
    void stopSignals();
    void usageErrors_data();
    void usageErrors();
    void badLinkPaths_data();
    void badLinkPaths();
};

void TestSensorRun::fullRun_data()
{
    QTest::addColumn<Arguments>("profileArgs");
    QTest::addColumn<Profile>("profile");
    // The ramp passes every byte a line discipline could mangle below 121 (newline, carriage
    // return, XON/XOFF, interrupt, end of file); spikes add 0 and bytes above 127.
    QTest::newRow("ramp") << Arguments {"ramp"} << Profile(Profile::Kind::Ramp);
    QTest::newRow("spikes") << Arguments {"--profile", "spikes", "--seed", "7"}
                            << Profile(Profile::Kind::Spikes, 7);
    QTest::newRow("default") << Arguments {} << Profile(Profile::Kind::Room);
}

void TestSensorRun::fullRun()
{
    QFETCH(Arguments, profileArgs);
    QFETCH(Profile, profile);

    TempDir dir;
    const std::string link = dir.file("sensor");
    // A stale link from an earlier run, to be replaced.
    QVERIFY(::symlink("/dev/pts/nonexistent", link.c_str()) == 0);
    Arguments args {"--link", link, "--rate", "max", "--count", "1000"};
    args.insert(args.end(), profileArgs.begin(), profileArgs.end());
    Simulator simulator(dir, args);
    QVERIFY(waitForLink(link));

    const Client client(link);
    QVERIFY(client.fd() >= 0);
    // Nothing may arrive before the client has set the line up.
    std::this_thread::sleep_for(200ms);
    QCOMPARE(queued(client.fd()), 0);
    QVERIFY(configureClient(client.fd()));
    QVERIFY(readExactly(client.fd(), 1000) == expected(profile, 1000));

    QCOMPARE(simulator.waitExit(), 0);
    QVERIFY(!exists(link));
    const std::string output = simulator.output();
    QVERIFY2(output.rfind("thermometer-sensor: " + link + " -> /dev/pts/", 0) == 0, output.c_str());
    // After the count, nothing more: the line ends.
    std::uint8_t extra = 0;
    QVERIFY(::read(client.fd(), &extra, 1) <= 0);
}

void TestSensorRun::pacedRate()
{
    TempDir dir;
    const std::string link = dir.file("sensor");
    Simulator simulator(dir, {"--link", link, "--rate", "50", "--count", "25", "steady", "25"});
    QVERIFY(waitForLink(link));
    const Client client(link);
    QVERIFY(client.fd() >= 0 && configureClient(client.fd()));
    const Clock::time_point start = Clock::now();
    QVERIFY(readExactly(client.fd(), 25) == std::vector<std::uint8_t>(25, 50));
    // 24 intervals of 20 ms after the first reading.
    const auto elapsed
        = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    QVERIFY2(elapsed >= 440ms && elapsed < 800ms,
             (std::to_string(elapsed.count()) + " ms").c_str());
    QCOMPARE(simulator.waitExit(), 0);
}

void TestSensorRun::clientLeaves()
{
    // A client that puts the line back as it found it on closing, as QSerialPort does, has
    // left: what it did not read must not reach the next client, and the readings pause.
    TempDir dir;
    const std::string link = dir.file("sensor");
    Simulator simulator(dir, {"--link", link, "--rate", "100", "ramp"});
    QVERIFY(waitForLink(link));
    {
        const Client first(link);
        termios found {};
        QVERIFY(first.fd() >= 0 && ::tcgetattr(first.fd(), &found) == 0
                && configureClient(first.fd()));
        QVERIFY(readExactly(first.fd(), 5) == expected(Profile(Profile::Kind::Ramp), 5));
        ::tcsetattr(first.fd(), TCSANOW, &found);
    }

    std::this_thread::sleep_for(300ms);
    const Client second(link);
    QVERIFY(second.fd() >= 0);
    QCOMPARE(queued(second.fd()), 0);
    QVERIFY(configureClient(second.fd()));
    // Readings go on from about where the first client stopped, not 300 ms further on.
    const std::vector<std::uint8_t> next = readExactly(second.fd(), 1);
    QVERIFY2(next.size() == 1 && next[0] >= 5 && next[0] <= 8,
             next.empty() ? "nothing" : std::to_string(next[0]).c_str());
    simulator.signal(SIGTERM);
    QCOMPARE(simulator.waitExit(), 0);
}

void TestSensorRun::stopSignals_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<bool>("withClient");
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("SIGINT with a client") << int(SIGINT) << true;
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGTERM with a client") << int(SIGTERM) << true;
    QTest::newRow("SIGHUP") << int(SIGHUP) << false;
    QTest::newRow("SIGHUP with a client") << int(SIGHUP) << true;
}

void TestSensorRun::stopSignals()
{
    QFETCH(int, number);
    QFETCH(bool, withClient);

    TempDir dir;
    const std::string link = dir.file("sensor");
    Simulator simulator(dir, {"--link", link, "--rate", "100"});
    QVERIFY(waitForLink(link));
    std::optional<Client> client;
    if (withClient) {
        client.emplace(link);
        QVERIFY(client->fd() >= 0 && configureClient(client->fd()));
        QCOMPARE(readExactly(client->fd(), 5).size(), std::size_t(5));
    }
    simulator.signal(number);
    QCOMPARE(simulator.waitExit(2s), 0);
    QVERIFY(!exists(link));
}

void TestSensorRun::usageErrors_data()
{
    // "L" stands for a path in the case's temporary directory.
    QTest::addColumn<Arguments>("args");
    QTest::newRow("nothing") << Arguments {};
    QTest::newRow("no link") << Arguments {"ramp"};
    QTest::newRow("link without a path") << Arguments {"--link"};
    QTest::newRow("rate 0") << Arguments {"--link", "L", "--rate", "0"};
    QTest::newRow("negative rate") << Arguments {"--link", "L", "--rate", "-5"};
    QTest::newRow("rate not a number") << Arguments {"--link", "L", "--rate", "fast"};
    QTest::newRow("count 0") << Arguments {"--link", "L", "--count", "0"};
    QTest::newRow("count with letters after") << Arguments {"--link", "L", "--count", "12x"};
    QTest::newRow("negative seed") << Arguments {"--link", "L", "--seed", "-1"};
    QTest::newRow("steady without degrees") << Arguments {"--link", "L", "steady"};
    QTest::newRow("steady beyond a byte") << Arguments {"--link", "L", "steady", "200"};
    QTest::newRow("steady degrees not a number")
        << Arguments {"--link", "L", "--profile", "steady", "warm"};
    QTest::newRow("unknown profile") << Arguments {"--link", "L", "sunny"};
    QTest::newRow("two profiles") << Arguments {"--link", "L", "ramp", "spikes"};
    QTest::newRow("unknown option") << Arguments {"--link", "L", "--frobnicate"};
    QTest::newRow("unknown short option") << Arguments {"--link", "L", "-x"};
}

void TestSensorRun::usageErrors()
{
    QFETCH(Arguments, args);

    TempDir dir;
    for (std::string &arg : args)
        arg = arg == "L" ? dir.file("sensor") : arg;
    Simulator simulator(dir, args);
    QCOMPARE(simulator.waitExit(), 2);
    const std::string errors = simulator.errors();
    QVERIFY2(errors.find("usage:") != std::string::npos, errors.c_str());
    QVERIFY(!exists(dir.file("sensor")));
}

void TestSensorRun::badLinkPaths_data()
{
    QTest::addColumn<QString>("name"); // in the case's temporary directory
    QTest::addColumn<InTheWay>("inTheWay");
    QTest::newRow("missing directory") << "absent/sensor" << InTheWay::Nothing;
    QTest::newRow("regular file") << "sensor" << InTheWay::File;
    QTest::newRow("directory") << "sensor" << InTheWay::Directory;
}

void TestSensorRun::badLinkPaths()
{
    QFETCH(QString, name);
    QFETCH(InTheWay, inTheWay);

    TempDir dir;
    const std::string path = dir.file(name.toStdString());
    if (inTheWay == InTheWay::File)
        std::ofstream(path) << "keep me";
    else if (inTheWay == InTheWay::Directory)
        ::mkdir(path.c_str(), 0700);
    struct stat before {};
    const bool existed = ::lstat(path.c_str(), &before) == 0;
    Simulator simulator(dir, {"--link", path, "ramp"});
    QCOMPARE(simulator.waitExit(), 2);
    const std::string errors = simulator.errors();
    QVERIFY2(errors.find(path) != std::string::npos, errors.c_str());
    // One line.
    QVERIFY2(errors.find('\n') == errors.size() - 1, errors.c_str());
    struct stat after {};
    QCOMPARE(::lstat(path.c_str(), &after) == 0, existed);
    QVERIFY(!existed || (before.st_mode == after.st_mode && before.st_size == after.st_size));
}

QTEST_APPLESS_MAIN(TestSensorRun)
#include "tst_sensor_run.moc"
