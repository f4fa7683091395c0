#include "subject.h"

#include "naivewindow.h"

#include "main_window/form1.h"
#include "main_window/runtimeerror.h"
#include "serial_input/serialcontrol.h"
#include "strip_chart/plotsample.h"

#include <QLineEdit>
#include <QPushButton>

namespace {

class Program : public Subject
{
public:
    explicit Program(const QString &device)
        : m_form(device, [this](const RuntimeError &error) { m_error = error.description(); })
    {
        // Connected after the window's own handler, so it runs once the reading is taken.
        QObject::connect(m_form.Comm1, &SerialControl::OnComm, m_form.Comm1, [this] {
            if (m_form.Comm1->CommEvent() == SerialControl::ReceiveEvent)
                ++m_taken;
        });
        // The boxes are brought up to date once a frame, on Delivered: a paint between two shows
        // what was taken up to the last.
        QObject::connect(m_form.Comm1, &SerialControl::Delivered, m_form.Comm1,
                         [this] { m_shown = m_taken; });
    }

    bool load(QString *error)
    {
        m_form.Form_Load();
        *error = m_error;
        return !m_form.hasEnded();
    }

    QWidget *window() const override { return const_cast<Form1 *>(&m_form); }
    QLineEdit *temperatureBox() const override { return m_form.txtTemp; }
    QLineEdit *counterBox() const override { return m_form.txtIndex; }
    QAbstractButton *recordButton() const override { return m_form.cmdPlot; }
    qint64 readingsTaken() const override { return m_shown; }
    QString expectedCounter(qint64 readings, bool recording) const override
    {
        // While recording the counter starts again after each full chart.
        if (recording && readings > 0)
            readings = (readings - 1) % ChartWidthInReadings + 1;
        return QString::number(readings);
    }

private:
    QString m_error;
    Form1 m_form;
    qint64 m_taken = 0;
    qint64 m_shown = 0;
};

class Baseline : public Subject
{
public:
    explicit Baseline(const QString &device)
        : m_window(device)
    {
    }

    bool load(QString *error) { return m_window.open(error); }

    QWidget *window() const override { return const_cast<NaiveWindow *>(&m_window); }
    QLineEdit *temperatureBox() const override { return m_window.txtTemp; }
    QLineEdit *counterBox() const override { return m_window.txtIndex; }
    QAbstractButton *recordButton() const override { return nullptr; }
    qint64 readingsTaken() const override { return m_window.count(); }
    QString expectedCounter(qint64 readings, bool) const override
    {
        return QString::number(readings);
    }

private:
    NaiveWindow m_window;
};

} // namespace

std::unique_ptr<Subject> Subject::open(const QString &kind, const QString &device, QString *error)
{
    if (kind == QLatin1String("program")) {
        auto program = std::make_unique<Program>(device);
        if (program->load(error))
            return program;
    } else if (kind == QLatin1String("baseline")) {
        auto baseline = std::make_unique<Baseline>(device);
        if (baseline->load(error))
            return baseline;
    } else {
        *error = QStringLiteral("unknown subject %1").arg(kind);
    }
    return nullptr;
}
