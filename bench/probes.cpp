#include "probes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <string>

namespace probes {

namespace {

qint64 nsOf(const timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

qint64 readClock(clockid_t clock)
{
    timespec time {};
    clock_gettime(clock, &time);
    return nsOf(time);
}

// Sums the numbers after the given field names in a /proc status file.
qint64 statusFields(const std::string &path, std::initializer_list<const char *> fields)
{
    FILE *const file = std::fopen(path.c_str(), "r");
    if (!file)
        return -1;
    qint64 sum = 0;
    char line[256];
    while (std::fgets(line, sizeof line, file)) {
        for (const char *field : fields) {
            const size_t length = std::strlen(field);
            if (std::strncmp(line, field, length) == 0 && line[length] == ':')
                sum += std::strtoll(line + length + 1, nullptr, 10);
        }
    }
    std::fclose(file);
    return sum;
}

} // namespace

qint64 nowNs()
{
    return readClock(CLOCK_MONOTONIC);
}

qint64 processCpuNs()
{
    return readClock(CLOCK_PROCESS_CPUTIME_ID);
}

qint64 threadCpuNs(pthread_t thread)
{
    clockid_t clock {};
    if (pthread_getcpuclockid(thread, &clock) != 0)
        return -1;
    return readClock(clock);
}

qint64 residentKiB()
{
    return statusFields("/proc/self/status", {"VmRSS"});
}

qint64 peakResidentKiB()
{
    return statusFields("/proc/self/status", {"VmHWM"});
}

qint64 contextSwitches(int tid)
{
    return statusFields("/proc/self/task/" + std::to_string(tid) + "/status",
                        {"voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"});
}

qint64 namedThreadSwitches(const char *name)
{
    DIR *const tasks = opendir("/proc/self/task");
    if (!tasks)
        return -1;
    qint64 sum = -1;
    while (const dirent *const task = readdir(tasks)) {
        const std::string directory = std::string("/proc/self/task/") + task->d_name;
        FILE *const comm = std::fopen((directory + "/comm").c_str(), "r");
        if (!comm)
            continue;
        char line[64] = {};
        const bool named = std::fgets(line, sizeof line, comm)
            && std::string(line, std::strcspn(line, "\n")) == name;
        std::fclose(comm);
        if (named)
            sum = std::max<qint64>(sum, 0)
                + statusFields(directory + "/status",
                               {"voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"});
    }
    closedir(tasks);
    return sum;
}

double quantile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return std::nan("");
    // The nearest rank: an observed value, never an interpolation between two.
    const double rank = std::ceil(fraction * double(values.size())) - 1;
    const size_t index = size_t(std::clamp(rank, 0.0, double(values.size() - 1)));
    std::nth_element(values.begin(), values.begin() + qptrdiff(index), values.end());
    return values[index];
}

double median(std::vector<double> values)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace probes
