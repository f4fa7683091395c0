#include "main_window/repaintthrottle.h"
#include "support/timercount.h"

#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

namespace {

class CountingWidget : public QWidget
{
public:
    int paints = 0;
    qint64 lastPaint = -1;
    QElapsedTimer clock;

protected:
    void paintEvent(QPaintEvent *) override
    {
        ++paints;
        lastPaint = clock.nsecsElapsed();
    }
};

} // namespace

class TestRepaintThrottle : public QObject
{
    Q_OBJECT

private slots:
    void frameMilliseconds_data();
    void frameMilliseconds();
    void aFloodOfChangesRepaintsOncePerFrame_data();
    void aFloodOfChangesRepaintsOncePerFrame();
    void aLoneChangeRepaintsAtOnceAndLeavesNoTimer();
};

void TestRepaintThrottle::frameMilliseconds_data()
{
    QTest::addColumn<qreal>("hertz");
    QTest::addColumn<int>("milliseconds");
    QTest::addColumn<qint64>("nanoseconds");
    QTest::newRow("60 Hz") << 60.0 << 16 << qint64(16666666);
    QTest::newRow("144 Hz") << 144.0 << 6 << qint64(6944444);
    QTest::newRow("no rate reported") << 0.0 << 16 << qint64(16666666);
    QTest::newRow("nonsense rate") << 1e9 << 16 << qint64(16666666);
}

void TestRepaintThrottle::frameMilliseconds()
{
    QFETCH(qreal, hertz);
    QFETCH(int, milliseconds);
    QFETCH(qint64, nanoseconds);
    QCOMPARE(RepaintThrottle::frameMilliseconds(hertz), milliseconds);
    QCOMPARE(RepaintThrottle::frameNanoseconds(hertz), nanoseconds);
}

void TestRepaintThrottle::aFloodOfChangesRepaintsOncePerFrame_data()
{
    QTest::addColumn<bool>("throttled");
    QTest::newRow("throttled") << true;
    // Without the throttle the same flood repaints far more often: the measure is sound.
    QTest::newRow("unthrottled") << false;
}

void TestRepaintThrottle::aFloodOfChangesRepaintsOncePerFrame()
{
    QFETCH(bool, throttled);
    CountingWidget window;
    window.resize(100, 100);
    if (throttled)
        new RepaintThrottle(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);

    window.clock.start();
    window.paints = 0;
    qint64 lastChange = 0;
    while (window.clock.elapsed() < 300) {
        window.update();
        lastChange = window.clock.nsecsElapsed();
        QCoreApplication::processEvents();
    }
    const int frame = RepaintThrottle::frameMilliseconds(window.screen()->refreshRate());
    // The last change reaches the screen within a frame of it.
    QTRY_VERIFY_WITH_TIMEOUT(window.lastPaint >= lastChange, 2 * frame);
    if (throttled)
        QVERIFY2(window.paints <= 300 / frame + 2, qPrintable(QString::number(window.paints)));
    else
        QVERIFY2(window.paints > 300 / frame * 4, qPrintable(QString::number(window.paints)));
}

void TestRepaintThrottle::aLoneChangeRepaintsAtOnceAndLeavesNoTimer()
{
    CountingWidget window;
    window.resize(100, 100);
    auto *const throttle = new RepaintThrottle(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(100);

    TimerCount count;
    throttle->installEventFilter(&count);
    window.paints = 0;
    window.update();
    QTRY_COMPARE(window.paints, 1);
    // Nothing else changed: nothing may run at the end of the frame.
    QTest::qWait(100);
    QCOMPARE(window.paints, 1);
    QCOMPARE(count.timers, 0);
}

QTEST_MAIN(TestRepaintThrottle)
#include "tst_repaintthrottle.moc"
