#pragma once

#include "profile.h"

#include <cstdint>
#include <optional>
#include <string>

/// What the command line asks of the simulator.
struct Options
{
    std::string linkPath;
    std::string socketPath; // instead of a pseudo-terminal behind linkPath
    bool telnet = false;
    Profile::Kind profile = Profile::Kind::Room;
    double steadyDegrees = 0.0;
    double rate = 10.0; // readings per second; 0 means as fast as the line takes
    std::optional<std::uint64_t> count;
    std::uint64_t seed = Profile::DefaultSeed;
};

/// The outcome of parsing: options, a request for help, or an error to report with the usage.
struct ParsedOptions
{
    Options options;
    bool help = false;
    std::string error;
};

ParsedOptions parseOptions(int argc, char *argv[]);
const char *usageText();
