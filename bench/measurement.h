#pragma once

#include <QStringList>

/// One measurement, in a process of its own so that CPU and memory are its alone. \a arguments:
/// the scenario ("paced", "spells", "flood" or "idle"), the subject ("program" or "baseline"), then
/// settings as name=value. Prints one line "RESULT name=value ..." and returns the exit status:
/// non-zero when the measurement could not be made or a reading was lost or shown wrong.
int runMeasurement(int argc, char *argv[], const QStringList &arguments);
