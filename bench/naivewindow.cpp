#include "naivewindow.h"

#include <QLineEdit>
#include <QLocale>
#include <QSerialPort>

NaiveWindow::NaiveWindow(const QString &device, QWidget *parent)
    : QWidget(parent)
    , txtTemp(new QLineEdit(this))
    , txtIndex(new QLineEdit(this))
    , m_port(new QSerialPort(device, this))
{
    // The same window and boxes as the program's, so both repaint the same areas.
    setWindowTitle(QStringLiteral("Baseline"));
    setFixedSize(598, 267);
    txtTemp->setGeometry(112, 16, 57, 19);
    txtTemp->setAlignment(Qt::AlignCenter);
    txtIndex->setGeometry(248, 16, 57, 19);
    txtTemp->setFocus();
    connect(m_port, &QSerialPort::readyRead, this, &NaiveWindow::readAll);
}

bool NaiveWindow::open(QString *error)
{
    if (!m_port->open(QIODevice::ReadOnly)) {
        *error = m_port->errorString();
        return false;
    }
    m_port->setBaudRate(38400);
    return true;
}

void NaiveWindow::readAll()
{
    const QByteArray bytes = m_port->readAll();
    for (const char byte : bytes) {
        txtTemp->setText(locale().toString(quint8(byte) / 2.0, 'g', QLocale::FloatingPointShortest)
                         + QStringLiteral(" C"));
        txtIndex->setText(QString::number(++m_count));
    }
}
