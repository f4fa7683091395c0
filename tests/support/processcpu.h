#pragma once

#include <QList>
#include <QtGlobal>

/// CPU time the process \a pid has used, user and system, in seconds; negative if unknown.
double cpuSeconds(qint64 pid);
/// The CPU time of all of \a pids; negative if any is unknown.
double cpuSeconds(const QList<qint64> &pids);
/// Waits, for at most \a timeoutMs, until \a pids use under \a quietSeconds of CPU in a step of
/// \a stepMs, as a program with nothing left to do; returns the milliseconds waited.
qint64 waitUntilQuiet(const QList<qint64> &pids, int stepMs, double quietSeconds, int timeoutMs);
