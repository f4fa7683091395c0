// thermometer-sensor: a simulated temperature sensor on a pseudo-terminal, or on a socket that
// stands for a line, for trying and testing the Thermometer program without the hardware.

#include "devicelink.h"
#include "options.h"
#include "profile.h"
#include "readingwriter.h"
#include "sensorport.h"

#include <csignal>
#include <cstdio>
#include <string>

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

// Blocks the stop signals for the whole run and returns the mask to wait with: they are let
// in only while waiting, so each one is seen, and cleanup runs on the normal path.
sigset_t installStopHandlers()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stopSignals, signal);
        sigaction(signal, &action, nullptr);
    }
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigdelset(&waitMask, signal);
    return waitMask;
}

std::string describeRate(const Options &options)
{
    if (options.rate <= 0.0)
        return "as fast as the line takes";
    char text[64];
    std::snprintf(text, sizeof text, "%g readings/s", options.rate);
    return text;
}

std::string describeProfile(const Options &options)
{
    std::string text = Profile::name(options.profile);
    if (options.profile == Profile::Kind::Steady) {
        char degrees[32];
        std::snprintf(degrees, sizeof degrees, " %g", options.steadyDegrees);
        text += degrees;
    }
    return text;
}

void printStart(const Options &options, const std::string &device)
{
    const std::string where
        = options.socketPath.empty() ? options.linkPath + " -> " + device : "socket " + device;
    std::string line = "thermometer-sensor: " + where + ", profile " + describeProfile(options)
        + ", " + describeRate(options);
    if (options.count)
        line += ", " + std::to_string(*options.count) + " readings";
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int fail(const std::string &message, int status)
{
    std::fprintf(stderr, "thermometer-sensor: %s\n", message.c_str());
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    const ParsedOptions parsed = parseOptions(argc, argv);
    if (parsed.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "thermometer-sensor: %s\n", parsed.error.c_str());
        std::fputs(usageText(), stderr);
        return ExitUsage;
    }
    const Options &options = parsed.options;
    const sigset_t waitMask = installStopHandlers();

    SensorPort port;
    std::string error;
    DeviceLink link;
    if (options.socketPath.empty()) {
        if (!port.open(error))
            return fail(error, ExitFailure);
        if (!link.publish(port.deviceName(), options.linkPath, error))
            return fail(error, ExitUsage);
    } else {
        // A far end that goes away is an error to report, not a signal that ends us silently.
        std::signal(SIGPIPE, SIG_IGN);
        if (!port.connectSocket(options.socketPath, options.telnet, error))
            return fail(error, ExitFailure);
    }
    printStart(options, port.deviceName());

    Profile profile(options.profile, options.seed, options.steadyDegrees);
    ReadingWriter writer(port, profile, stopRequested, waitMask);
    const ReadingWriter::Result result = writer.run(options.rate, options.count);
    // What a test beside the line checks the receiver against.
    if (writer.written() > 0)
        std::printf("thermometer-sensor: %llu readings written, the last %u (%g degrees)\n",
                    static_cast<unsigned long long>(writer.written()), writer.last(),
                    writer.last() / 2.0);
    if (result == ReadingWriter::Result::Failed)
        return fail(writer.error(), ExitFailure);
    return 0;
}
