#include "main_window/form1.h"

#include "main_window/runtimeerror.h"
#include "serial_input/reading.h"
#include "serial_input/serialcontrol.h"
#include "strip_chart/chartsurface.h"
#include "strip_chart/plotsample.h"
#include "strip_chart/recordindicator.h"
#include "strip_chart/rgb.h"

#include <algorithm>

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

namespace {

// The layout is in twips, 15 to a device-independent pixel.
constexpr int TwipsPerPixel = 15;

QRect pixels(int left, int top, int width, int height)
{
    return {left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel,
            height / TwipsPerPixel};
}

QLabel *label(const QString &caption, Qt::Alignment alignment, QWidget *parent)
{
    auto *const label = new QLabel(caption, parent);
    label->setAlignment(alignment | Qt::AlignTop);
    return label;
}

} // namespace

Form1::Form1(const QString &firstPortDevice, Reporter report, QWidget *parent)
    : QWidget(parent)
    , Label1(label(QStringLiteral("Temperature : "), Qt::AlignLeft, this))
    , txtTemp(new QLineEdit(this))
    , Label4(label(QStringLiteral("Counter # :"), Qt::AlignLeft, this))
    , txtIndex(new QLineEdit(this))
    , cmdPlot(new QPushButton(QStringLiteral("S&tart"), this))
    , Shape1(new RecordIndicator(this))
    , Label6(label(QStringLiteral("REC"), Qt::AlignHCenter, this))
    , cmdExit(new QPushButton(QStringLiteral("E&xit"), this))
    , Picture1(new ChartSurface(this))
    , Label2(label(QStringLiteral("50"), Qt::AlignRight, this))
    , Label5(label(QStringLiteral("25"), Qt::AlignRight, this))
    , Label3(label(QStringLiteral("0"), Qt::AlignRight, this))
    , Comm1(new SerialControl(firstPortDevice, this))
    , m_report(std::move(report))
    , m_temperatureTexts(locale())
{
    layOut();
    connectHandlers();
}

void Form1::layOut()
{
    setWindowTitle(QStringLiteral("Thermometer"));
    setObjectName(QStringLiteral("Form1"));
    // Named as laid out, so a look at the widget tree reads like the layout.
    const std::pair<QObject *, const char *> names[] = {
        {Label1, "Label1"},     {txtTemp, "txtTemp"}, {Label4, "Label4"}, {txtIndex, "txtIndex"},
        {cmdPlot, "cmdPlot"},   {Shape1, "Shape1"},   {Label6, "Label6"}, {cmdExit, "cmdExit"},
        {Picture1, "Picture1"}, {Label2, "Label2"},   {Label5, "Label5"}, {Label3, "Label3"},
        {Comm1, "Comm1"},
    };
    for (const auto &[element, name] : names)
        element->setObjectName(QLatin1String(name));
    // The layout is fixed: elements neither move nor resize with the window.
    setFixedSize(pixels(0, 0, 8970, 4005).size());
    Label1->setGeometry(pixels(600, 240, 1095, 255));
    txtTemp->setGeometry(pixels(1680, 240, 855, 285));
    txtTemp->setAlignment(Qt::AlignCenter);
    Label4->setGeometry(pixels(2760, 240, 975, 255));
    txtIndex->setGeometry(pixels(3720, 240, 855, 285));
    txtIndex->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    cmdPlot->setGeometry(pixels(5160, 120, 1335, 495));
    Shape1->setGeometry(pixels(6840, 120, 255, 255));
    Shape1->setFillStyle(RecordIndicator::Solid);
    Shape1->setFillColor(rgbColor(255, 255, 255));
    Label6->setGeometry(pixels(6600, 480, 735, 255));
    cmdExit->setGeometry(pixels(7440, 120, 1095, 495));
    Picture1->setGeometry(pixels(840, 960, 7335, 2535));
    Label2->setGeometry(pixels(360, 960, 375, 255));
    Label5->setGeometry(pixels(480, 2160, 255, 255));
    Label3->setGeometry(pixels(480, 3240, 255, 255));
    setFont(fittingFont());
    describeForScreenReaders();

    // Focus order: the temperature first, then Exit, the counter, the chart and Start/Stop.
    Picture1->setFocusPolicy(Qt::TabFocus);
    // A focused button is pressed by Return or Enter as well as by Space, as people expect.
    cmdPlot->setAutoDefault(true);
    cmdExit->setAutoDefault(true);
    setTabOrder(txtTemp, cmdExit);
    setTabOrder(cmdExit, txtIndex);
    setTabOrder(txtIndex, Picture1);
    setTabOrder(Picture1, cmdPlot);
    txtTemp->setFocus();
}

// The layout is fixed in size and the platform's default font is often too large for it: take a
// narrow face and the largest size at which every caption fits its element.
QFont Form1::fittingFont() const
{
    QFont font = this->font();
    font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), font.family()});
    const QList<QLabel *> labels = findChildren<QLabel *>();
    for (int pixels = 12; pixels > 8; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetrics metrics(font);
        const bool fits = std::all_of(labels.begin(), labels.end(), [&](const QLabel *label) {
            return metrics.horizontalAdvance(label->text()) <= label->width()
                && metrics.height() <= label->height();
        });
        if (fits)
            return font;
    }
    return font;
}

// A screen reader reads a text box's name with its text ("Temperature 24.5 C") and the
// indicator's description with its name, since its colour is all it shows.
void Form1::describeForScreenReaders()
{
    txtTemp->setAccessibleName(QStringLiteral("Temperature"));
    txtTemp->setAccessibleDescription(QStringLiteral("The latest reading of the sensor"));
    txtIndex->setAccessibleName(QStringLiteral("Counter"));
    txtIndex->setAccessibleDescription(
        QStringLiteral("Readings since the last Start or Stop, or since the chart filled"));
    cmdPlot->setAccessibleDescription(
        QStringLiteral("Switches recording on the chart on and off, and clears the chart"));
    cmdExit->setAccessibleDescription(QStringLiteral("Closes the serial port and ends"));
    Shape1->setAccessibleName(QStringLiteral("Recording indicator"));
    Shape1->setAccessibleDescription(QStringLiteral("Not recording"));
    Picture1->setAccessibleName(QStringLiteral("Chart"));
    Picture1->setAccessibleDescription(
        QStringLiteral("The last 500 readings while recording, 0 to 50 degrees"));
}

void Form1::connectHandlers()
{
    connect(Comm1, &SerialControl::OnComm, this, [this] { run([this] { Comm1_OnComm(); }); });
    connect(Comm1, &SerialControl::Delivered, this, &Form1::showLatestReading);
    connect(Comm1, &SerialControl::Lost, this, [this] { run([this] { Comm1_Lost(); }); });
    connect(cmdPlot, &QPushButton::clicked, this, [this] { run([this] { cmdPlot_Click(); }); });
    connect(cmdExit, &QPushButton::clicked, this, [this] { run([this] { cmdExit_Click(); }); });
}

void Form1::Form_Load()
{
    run([this] {
        Comm1->setCommPort(1);
        Comm1->setRThreshold(1);
        Comm1->setSThreshold(1);
        Comm1->setPortOpen(true);

        Picture1->setScaleMode(0);
        Picture1->setScaleHeight(50.0F);
        Picture1->setScaleWidth(500.0F);
        Picture1->setForeColor(rgbColor(0, 0, 255));

        Shape1->setFillColor(rgbColor(255, 255, 255));
        Shape1->setFillStyle(RecordIndicator::Solid);
        Plotting = 0;
    });
}

void Form1::Comm1_OnComm()
{
    switch (Comm1->CommEvent()) {
    case SerialControl::ReceiveEvent:
        receiveSample();
        break;
    default:
        // Send, modem-line, ring and line-error events change nothing on screen.
        break;
    }
}

// The system's text for a lost port is often stale or says nothing a person can act on: the
// report says what happened in the program's own words.
void Form1::Comm1_Lost()
{
    throw RuntimeError(RuntimeError::PortLost,
                       QStringLiteral("The serial port %1 was lost: the sensor was disconnected.")
                           .arg(Comm1->deviceName()));
}

// A person sees one reading a frame, and laying a box's text out costs more than all the rest of
// a reading: the handler notes the reading and its count, and the boxes and the chart show the
// latest of them when the port says a frame's readings have had their events.
void Form1::receiveSample()
{
    const QByteArray text = Comm1->Input();
    // A read that returns nothing is not a reading.
    if (text.isEmpty())
        return;
    const quint8 raw = quint8(text.at(0));
    const double Temperature = temperatureOf(raw);
    m_latestRaw = raw;
    ++SampleIndex;
    m_latestCount = SampleIndex;
    m_latestShown = false;
    chartStep(Temperature);
}

// Whatever was typed into a box since is replaced, as by any reading.
void Form1::showLatestReading()
{
    Picture1->showDrawn();
    if (m_latestShown)
        return;
    m_latestShown = true;
    txtTemp->setText(m_temperatureTexts[m_latestRaw]);
    txtIndex->setText(counterText(m_latestCount));
}

void Form1::chartStep(double Temperature)
{
    if (Plotting != 0)
        PlotSample(*Picture1, chartValue(Temperature), SampleIndex);
}

void Form1::cmdPlot_Click()
{
    Plotting = qint16(~Plotting);
    if (Plotting != 0) {
        cmdPlot->setText(QStringLiteral("S&top"));
        Shape1->setFillColor(rgbColor(255, 0, 0));
        Shape1->setAccessibleDescription(QStringLiteral("Recording"));
    } else {
        cmdPlot->setText(QStringLiteral("S&tart"));
        Shape1->setFillColor(rgbColor(255, 255, 255));
        Shape1->setAccessibleDescription(QStringLiteral("Not recording"));
    }
    SampleIndex = 0;
    Picture1->Cls();
    Picture1->showDrawn();
}

void Form1::changeEvent(QEvent *event)
{
    // The texts are made in the window's locale: a new locale makes them anew.
    if (event->type() == QEvent::LocaleChange)
        m_temperatureTexts = TemperatureTexts(locale());
    QWidget::changeEvent(event);
}

void Form1::cmdExit_Click()
{
    Comm1->setPortOpen(false);
    end(0);
}

// Every handler of the window runs here. Nothing runs once the program has ended; a run-time
// error stops its handler where it was raised, closes the port so no input piles up behind the
// report, is reported once, and ends the program.
template<typename Handler> void Form1::run(Handler handler)
{
    if (m_ended)
        return;
    try {
        handler();
    } catch (const RuntimeError &error) {
        m_ended = true;
        Comm1->setPortOpen(false);
        m_report(error);
        end(1);
    }
}

void Form1::end(int exitStatus)
{
    m_ended = true;
    m_exitStatus = exitStatus;
    emit ended(exitStatus);
}
