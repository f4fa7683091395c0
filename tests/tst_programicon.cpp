#include "main_window/programicon.h"

#include <QTest>

// The icon as the window gets it: every size the build draws from the SVG, each a thermometer
// (the red of its bulb where the drawing puts the bulb, nothing in its corners), not a blank or
// a scaled copy of another size.
class TestProgramIcon : public QObject
{
    Q_OBJECT

private slots:
    void sizes_data();
    void sizes();
};

void TestProgramIcon::sizes_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        QTest::addRow("%d", size) << size;
}

void TestProgramIcon::sizes()
{
    QFETCH(int, size);
    const QIcon icon = programIcon();
    QVERIFY(icon.availableSizes().contains(QSize(size, size)));
    const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
    QCOMPARE(image.size(), QSize(size, size));

    // The bulb's centre, at (56, 96) of the drawing's 128 by 128.
    const QColor bulb = image.pixelColor(56 * size / 128, 96 * size / 128);
    QVERIFY2(bulb.red() > 200 && bulb.green() < 100 && bulb.blue() < 100,
             qPrintable(bulb.name(QColor::HexArgb)));
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    QCOMPARE(image.pixelColor(size - 1, size - 1).alpha(), 0);
}

QTEST_MAIN(TestProgramIcon)
#include "tst_programicon.moc"
