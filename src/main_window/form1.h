#pragma once

#include "serial_input/reading.h"

#include <QWidget>

#include <functional>

class ChartSurface;
class QLabel;
class QLineEdit;
class QPushButton;
class RecordIndicator;
class RuntimeError;
class SerialControl;

/// The program's only window: the live temperature, the reading counter, the strip chart with
/// its Start/Stop control and indicator, and Exit. Every handler of the window runs through
/// run(), so a run-time error anywhere is reported once and ends the program.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    using Reporter = std::function<void(const RuntimeError &)>;

    /// \a firstPortDevice is the device serial port 1 opens, or empty for the first of the
    /// system's serial ports. \a report shows a run-time error to the user before the program
    /// ends.
    Form1(const QString &firstPortDevice, Reporter report, QWidget *parent = nullptr);

    /// The start-up sequence: opens the port, sets up the chart, initialises recording.
    void Form_Load();

    bool hasEnded() const { return m_ended; }
    int exitStatus() const { return m_exitStatus; }

    // The elements, named as in the window's layout; the window owns them all.
    QLabel *const Label1;
    QLineEdit *const txtTemp;
    QLabel *const Label4;
    QLineEdit *const txtIndex;
    QPushButton *const cmdPlot;
    RecordIndicator *const Shape1;
    QLabel *const Label6;
    QPushButton *const cmdExit;
    ChartSurface *const Picture1;
    QLabel *const Label2;
    QLabel *const Label5;
    QLabel *const Label3;
    SerialControl *const Comm1;

    /// Readings since the last Start/Stop press or chart wrap.
    qint64 SampleIndex = 0;
    /// Recording: -1 on, 0 off; toggled by complement, any non-zero value means on.
    qint16 Plotting = 0;

signals:
    /// The program is to end now with \a exitStatus: 0 after Exit, 1 after a run-time error.
    void ended(int exitStatus);

protected:
    void changeEvent(QEvent *event) override;

private:
    void layOut();
    QFont fittingFont() const;
    void describeForScreenReaders();
    void connectHandlers();

    void Comm1_OnComm();
    void Comm1_Lost();
    void receiveSample();
    void showLatestReading();
    void chartStep(double Temperature);
    void cmdPlot_Click();
    void cmdExit_Click();

    template<typename Handler> void run(Handler handler);
    void end(int exitStatus);

    Reporter m_report;
    TemperatureTexts m_temperatureTexts;
    /// The latest reading and its count, shown in the text boxes once the port has delivered
    /// what came with it.
    quint8 m_latestRaw = 0;
    qint64 m_latestCount = 0;
    bool m_latestShown = true;
    bool m_ended = false;
    int m_exitStatus = 0;
};
