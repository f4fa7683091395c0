#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

constexpr double MaxRate = 1e6;

std::optional<std::uint64_t> parseUnsigned(const std::string &text)
{
    // strtoull would quietly accept a sign or leading blanks.
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return std::nullopt;
    return value;
}

std::optional<double> parseNumber(const std::string &text)
{
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Reads the value of an option given either as "--name value" or as "--name=value".
bool takeValue(const std::string &arg, const std::string &name, int argc, char *argv[], int &i,
               std::string &value, std::string &error)
{
    if (arg == name) {
        if (i + 1 >= argc) {
            error = name + " needs a value";
            return true;
        }
        value = argv[++i];
        return true;
    }
    if (arg.compare(0, name.size() + 1, name + "=") == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

std::string applyOption(const std::string &name, const std::string &value, Options &options,
                        std::string &profileName)
{
    if (name == "--socket") {
        if (value.empty())
            return "--socket needs a path";
        options.socketPath = value;
    } else if (name == "--link") {
        if (value.empty())
            return "--link needs a path";
        options.linkPath = value;
    } else if (name == "--profile") {
        profileName = value;
    } else if (name == "--rate") {
        if (value == "max") {
            options.rate = 0.0;
            return {};
        }
        const auto rate = parseNumber(value);
        if (!rate || *rate <= 0.0 || *rate > MaxRate)
            return "--rate takes a number of readings per second above 0, or max";
        options.rate = *rate;
    } else if (name == "--count") {
        const auto count = parseUnsigned(value);
        if (!count || *count == 0)
            return "--count takes a positive whole number";
        options.count = count;
    } else if (name == "--seed") {
        const auto seed = parseUnsigned(value);
        if (!seed)
            return "--seed takes a whole number";
        options.seed = *seed;
    }
    return {};
}

std::string applyProfile(const std::string &profileName, std::vector<std::string> positional,
                         Options &options)
{
    std::string name = profileName;
    if (name.empty() && !positional.empty()) {
        name = positional.front();
        positional.erase(positional.begin());
    }
    if (name.empty())
        name = Profile::name(Profile::Kind::Room);
    const auto kind = Profile::kindFromName(name);
    if (!kind)
        return "unknown profile: " + name;
    options.profile = *kind;

    if (*kind == Profile::Kind::Steady) {
        if (positional.empty())
            return "steady needs a temperature in degrees";
        const auto degrees = parseNumber(positional.front());
        if (!degrees || *degrees > Profile::MaxDegrees)
            return "steady takes degrees from 0 to 127.5";
        options.steadyDegrees = *degrees;
        positional.erase(positional.begin());
    }
    if (!positional.empty())
        return "unexpected argument: " + positional.front();
    return {};
}

} // namespace

ParsedOptions parseOptions(int argc, char *argv[])
{
    ParsedOptions parsed;
    std::string profileName;
    std::vector<std::string> positional;
    static const char *const valued[]
        = {"--link", "--socket", "--profile", "--rate", "--count", "--seed"};

    for (int i = 1; i < argc && parsed.error.empty(); ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
            return parsed;
        }
        if (arg == "--telnet") {
            parsed.options.telnet = true;
            continue;
        }
        if (arg.size() < 2 || arg.front() != '-') {
            positional.push_back(arg);
            continue;
        }
        bool known = false;
        for (const char *name : valued) {
            std::string value;
            if (takeValue(arg, name, argc, argv, i, value, parsed.error)) {
                known = true;
                if (parsed.error.empty())
                    parsed.error = applyOption(name, value, parsed.options, profileName);
                break;
            }
        }
        if (!known)
            parsed.error = "unknown option: " + arg;
    }
    if (parsed.error.empty())
        parsed.error = applyProfile(profileName, positional, parsed.options);
    if (parsed.error.empty()
        && parsed.options.linkPath.empty() == parsed.options.socketPath.empty())
        parsed.error = "one of --link PATH and --socket PATH is required";
    if (parsed.error.empty() && parsed.options.telnet && parsed.options.socketPath.empty())
        parsed.error = "--telnet needs --socket";
    return parsed;
}

const char *usageText()
{
    return "usage: thermometer-sensor --link PATH|--socket PATH [--telnet] [PROFILE] [--rate "
           "N|max]\n"
           "                          [--count N] [--seed N]\n"
           "  PROFILE: room (default), ramp, steady DEG, spikes; or --profile NAME\n"
           "  --link PATH   where to publish the simulated serial device (a symbolic link)\n"
           "  --socket PATH write to the Unix socket at PATH, the far end of a line, instead\n"
           "  --telnet      the socket speaks telnet (0xFF readings go out doubled)\n"
           "  --rate N      readings per second (default 10); max: as fast as the line takes\n"
           "  --count N     stop after N readings (default: run until interrupted)\n"
           "  --seed N      seed for the profile's noise (default 1)\n";
}
