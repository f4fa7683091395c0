#pragma once

#include <QList>
#include <QtGlobal>

/// CPU time the process \a pid has used, user and system, in seconds; negative if unknown.
double cpuSeconds(qint64 pid);
/// The CPU time of all of \a pids; negative if any is unknown.
double cpuSeconds(const QList<qint64> &pids);
