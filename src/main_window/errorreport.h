#pragma once

class RuntimeError;

/// The run-time error report: the error's number and description on standard error and in a
/// modal message box titled "Thermometer", which returns once the user has dismissed it.
void showErrorReport(const RuntimeError &error);
