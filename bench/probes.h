#pragma once

#include <QtGlobal>

#include <pthread.h>
#include <vector>

/// What the benchmark reads off the system: clocks, CPU time, memory and context switches.
namespace probes {

/// Monotonic time in nanoseconds, comparable between threads.
qint64 nowNs();
/// CPU time, user and system, of the whole process and of one thread.
qint64 processCpuNs();
qint64 threadCpuNs(pthread_t thread);
/// Resident and peak resident memory of the process, in KiB.
qint64 residentKiB();
qint64 peakResidentKiB();
/// Voluntary plus involuntary context switches of the thread \a tid (the process's own id for
/// its main thread).
qint64 contextSwitches(int tid);
/// The same for the process's threads that the system names \a name; -1 when none is.
qint64 namedThreadSwitches(const char *name);
/// The serial control's reader thread, as the system names it.
constexpr const char *ReaderThread = "Comm1 reader";

/// The value at \a fraction of the way through \a values in order (nearest rank: 0.99 gives the
/// p99); NaN when empty.
double quantile(std::vector<double> values, double fraction);
/// The median, the mean of the middle two for an even count; NaN when empty.
double median(std::vector<double> values);

} // namespace probes
