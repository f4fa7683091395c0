#pragma once

#include <QString>
#include <stdexcept>

/// A run-time error of the program: raised where something fails, reported once, and the
/// program then ends. Carries a number for the report and a description a person can act on.
class RuntimeError : public std::runtime_error
{
public:
    enum Number : int {
        PortOpenFailed = 1001, ///< the serial port could not be opened at start-up
        PortLost = 1002, ///< the open serial port went away
        InvalidPortNumber = 1003, ///< no device stands for the requested port number
    };

    RuntimeError(Number number, const QString &description);

    Number number() const { return m_number; }
    QString description() const { return m_description; }
    /// "Run-time error 1002: ..." as shown in the report and on standard error.
    QString reportText() const;

private:
    Number m_number;
    QString m_description;
};
