#include "main_window/runtimeerror.h"

RuntimeError::RuntimeError(Number number, const QString &description)
    : std::runtime_error(description.toStdString())
    , m_number(number)
    , m_description(description)
{
}

QString RuntimeError::reportText() const
{
    return QStringLiteral("Run-time error %1: %2").arg(QString::number(m_number), m_description);
}
