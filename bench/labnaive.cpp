// The naive program of the lab's cost scenario (bench/lab-cost.sh): what a first attempt at the
// program does, the same window and boxes, both texts set for every byte that arrives.
// Usage: thermometer-lab-naive DEVICE

#include <QApplication>
#include <QLineEdit>
#include <QLocale>
#include <QSerialPort>
#include <QWidget>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: thermometer-lab-naive DEVICE\n");
        return 2;
    }
    QWidget window;
    window.setWindowTitle(QStringLiteral("Baseline"));
    window.setFixedSize(598, 267);
    auto *const temperature = new QLineEdit(&window);
    temperature->setGeometry(112, 16, 57, 19);
    temperature->setAlignment(Qt::AlignCenter);
    auto *const counter = new QLineEdit(&window);
    counter->setGeometry(248, 16, 57, 19);

    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadOnly) || !port.setBaudRate(QSerialPort::Baud38400)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(port.errorString()));
        return 1;
    }
    qint64 count = 0;
    QObject::connect(&port, &QSerialPort::readyRead, &window, [&] {
        for (const char byte : port.readAll()) {
            temperature->setText(
                QLocale::c().toString(quint8(byte) / 2.0, 'g', QLocale::FloatingPointShortest)
                + QStringLiteral(" C"));
            counter->setText(QString::number(++count));
        }
    });
    window.show();
    return application.exec();
}
