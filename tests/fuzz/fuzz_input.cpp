// libFuzzer target over the window's input path: byte streams through a real pty, interleaved
// with event codes, Start/Stop presses and typing, the window's state checked against a model
// after every step and at every repaint.
//
// Bytes go through a real pty, kept open across runs, rather than through a stand-in for the
// port: slower, but the port, its buffer and the event queue are the ones the program has.
//
// Input: a sequence of operations, each an opcode byte and its arguments (see run()).

#include "main_window/form1.h"
#include "main_window/runtimeerror.h"
#include "serial_input/serialcontrol.h"
#include "strip_chart/chartsurface.h"
#include "support/pseudoterminal.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iterator>

namespace {

// What the window should show, worked out independently of the program's own code.
struct Model
{
    bool recording = false;
    qint64 index = 0;
    // What the boxes show: the reading of the last repaint, or what was typed since.
    QString temperature;
    QString counter;
    // The latest reading, which the boxes show from the next repaint on.
    QString latestTemperature;
    QString latestCounter;
    bool latestShown = true;
    float x = 0;
    float y = 0;
    bool cleared = true;
    std::deque<quint8> inFlight; // written to the pty, not yet taken as readings
};

QString temperatureText(quint8 raw)
{
    return QString::number(raw / 2) + (raw % 2 ? QStringLiteral(".5 C") : QStringLiteral(" C"));
}

// Whole degrees, halves to the even neighbour.
int chartValue(quint8 raw)
{
    const int whole = raw / 2;
    return raw % 2 == 0 || whole % 2 == 0 ? whole : whole + 1;
}

const qint16 EventCodes[] = {
    SerialControl::SendEvent,
    SerialControl::ReceiveEvent,
    SerialControl::CtsEvent,
    SerialControl::DsrEvent,
    SerialControl::CdEvent,
    SerialControl::RingEvent,
    SerialControl::EndOfFileEvent,
    SerialControl::BreakError,
    SerialControl::FramingError,
    SerialControl::OverrunError,
    SerialControl::BufferOverflowError,
    SerialControl::ParityError,
};

class Harness
{
public:
    Harness()
        : m_form(m_pty.devicePath(), [](const RuntimeError &error) {
            std::fprintf(stderr, "unexpected report: %s\n", qPrintable(error.reportText()));
            std::abort();
        })
    {
        if (!m_pty.isValid()) {
            std::fprintf(stderr, "no pty\n");
            std::abort();
        }
        m_form.Form_Load();
        m_form.show();
        // After the window's own handlers: sees what each event and each repaint did.
        QObject::connect(m_form.Comm1, &SerialControl::OnComm, &m_form, [this] { observe(); });
        QObject::connect(m_form.Comm1, &SerialControl::Delivered, &m_form,
                         [this] { repainting(); });
    }

    void run(const quint8 *data, size_t size);

private:
    quint8 next() { return m_at < m_size ? m_data[m_at++] : 0; }
    void reset();
    void write(const QByteArray &bytes);
    void drain();
    void press();
    void observe();
    void repainting();
    void check(const char *step) const;

    PseudoTerminal m_pty;
    Form1 m_form;
    Model m_model;
    const quint8 *m_data = nullptr;
    size_t m_size = 0;
    size_t m_at = 0;
};

// Every run starts from the same state: recording off, counter 0, chart clear, boxes empty.
void Harness::reset()
{
    drain();
    // A reading not yet shown would replace the emptied boxes at the next repaint.
    const QDeadlineTimer deadline(10000);
    while (!m_model.latestShown) {
        if (deadline.hasExpired()) {
            std::fprintf(stderr, "the latest reading was never shown\n");
            std::abort();
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    if (m_form.Plotting == 0)
        m_form.cmdPlot->click();
    m_form.cmdPlot->click();
    m_form.txtTemp->setText({});
    m_form.txtIndex->setText({});
    m_model = Model();
    check("reset");
}

void Harness::run(const quint8 *data, size_t size)
{
    m_data = data;
    m_size = size;
    m_at = 0;
    reset();
    while (m_at < m_size) {
        switch (next() % 8) {
        case 0: { // a burst of the bytes that follow
            const int count = next() % 64 + 1;
            QByteArray bytes;
            for (int i = 0; i < count && m_at < m_size; ++i)
                bytes += char(next());
            write(bytes);
            break;
        }
        case 1: { // one value, many times: enough to fill the chart
            const int count = next() % 128 * 8 + 1; // up to 1017
            write(QByteArray(count, char(next())));
            break;
        }
        case 2: // let the event loop run a little
            QCoreApplication::processEvents();
            check("events");
            break;
        case 3:
            drain();
            break;
        case 4:
            press();
            break;
        case 5:
            m_form.Comm1->raiseOnComm(EventCodes[next() % std::size(EventCodes)]);
            check("event code");
            break;
        case 6: { // any code at all
            const quint8 high = next();
            m_form.Comm1->raiseOnComm(qint16(quint16(high << 8 | next())));
            check("any code");
            break;
        }
        case 7: { // the user types into a box; the next reading replaces it
            const QString typed = QString::number(next());
            if (next() % 2) {
                m_form.txtTemp->setText(typed);
                m_model.temperature = typed;
            } else {
                m_form.txtIndex->setText(typed);
                m_model.counter = typed;
            }
            check("typing");
            break;
        }
        }
    }
    drain();
}

void Harness::write(const QByteArray &bytes)
{
    for (const char byte : bytes)
        m_model.inFlight.push_back(quint8(byte));
    // When the line is full this runs the event loop, and readings are taken meanwhile.
    if (!m_pty.write(bytes)) {
        std::fprintf(stderr, "pty write failed\n");
        std::abort();
    }
    check("write");
}

// Runs the event loop until every byte written has been taken as a reading.
void Harness::drain()
{
    const QDeadlineTimer deadline(10000);
    while (!m_model.inFlight.empty()) {
        if (deadline.hasExpired()) {
            std::fprintf(stderr, "%zu bytes written were never taken as readings\n",
                         m_model.inFlight.size());
            std::abort();
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    check("drain");
}

void Harness::press()
{
    m_form.cmdPlot->click();
    m_model.recording = !m_model.recording;
    m_model.index = 0;
    m_model.x = m_model.y = 0;
    m_model.cleared = true;
    check("Start/Stop");
}

// After each event the window handled: a reading is the next byte in flight, nothing else is.
void Harness::observe()
{
    if (m_form.Comm1->CommEvent() != SerialControl::ReceiveEvent
        || m_form.SampleIndex == m_model.index) {
        // A reading always moves the counter: nothing was taken.
        check("event without a reading");
        return;
    }
    if (m_model.inFlight.empty()) {
        std::fprintf(stderr, "a reading that no one sent\n");
        std::abort();
    }
    const quint8 raw = m_model.inFlight.front();
    m_model.inFlight.pop_front();
    ++m_model.index;
    m_model.latestTemperature = temperatureText(raw);
    m_model.latestCounter = QString::number(m_model.index);
    m_model.latestShown = false;
    if (m_model.recording) {
        if (m_model.index >= 500)
            m_model.index = 0;
        m_model.x = float(m_model.index);
        m_model.y = float(50 - chartValue(raw));
        m_model.cleared = false;
    }
    check("reading");
}

// Once the port has delivered what came together, the boxes take the latest reading, replacing
// what was typed.
void Harness::repainting()
{
    if (!m_model.latestShown) {
        m_model.temperature = m_model.latestTemperature;
        m_model.counter = m_model.latestCounter;
        m_model.latestShown = true;
    }
    check("repaint");
}

void Harness::check(const char *step) const
{
    const ChartSurface &chart = *m_form.Picture1;
    const bool recording = m_form.Plotting != 0;
    if (m_form.SampleIndex == m_model.index && m_form.txtTemp->text() == m_model.temperature
        && m_form.txtIndex->text() == m_model.counter && recording == m_model.recording
        && (m_form.Plotting == 0 || m_form.Plotting == -1) && chart.CurrentX() == m_model.x
        && chart.CurrentY() == m_model.y && chart.isCleared() == m_model.cleared
        && !m_form.hasEnded() && m_form.Comm1->PortOpen())
        return;
    std::fprintf(stderr,
                 "after %s: window: index %lld, \"%s\", \"%s\", plotting %d, at (%g, %g)%s%s\n"
                 "       model:  index %lld, \"%s\", \"%s\", recording %d, at (%g, %g)%s\n",
                 step, m_form.SampleIndex, qPrintable(m_form.txtTemp->text()),
                 qPrintable(m_form.txtIndex->text()), int(m_form.Plotting),
                 double(chart.CurrentX()), double(chart.CurrentY()),
                 chart.isCleared() ? " cleared" : "", m_form.hasEnded() ? " ended" : "",
                 m_model.index, qPrintable(m_model.temperature), qPrintable(m_model.counter),
                 int(m_model.recording), double(m_model.x), double(m_model.y),
                 m_model.cleared ? " cleared" : "");
    std::abort();
}

Harness *harness = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale::c());
    // Qt gets a command line of its own: the fuzzer's options are not for it.
    static int qtArgc = 1;
    static char *qtArgv[] = {(*argv)[0], nullptr};
    new QApplication(qtArgc, qtArgv);
    harness = new Harness;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    harness->run(data, size);
    return 0;
}
