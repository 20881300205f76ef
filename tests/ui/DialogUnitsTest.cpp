#include <QRect>
#include <QTest>

#include "ui/qt/DialogUnits.h"

class DialogUnitsTest : public QObject {
    Q_OBJECT

private slots:
    void mulDiv_data();
    void mulDiv();
};

void DialogUnitsTest::mulDiv_data()
{
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("c");
    QTest::addColumn<int>("result");
    QTest::newRow("exact") << 8 << 7 << 4 << 14;
    QTest::newRow("quarter down") << 275 << 7 << 4 << 481;
    QTest::newRow("three quarters up") << 109 << 14 << 8 << 191;
    QTest::newRow("half away from zero") << 2 << 5 << 4 << 3;
    QTest::newRow("negative half") << -2 << 5 << 4 << -3;
    QTest::newRow("no overflow") << 1 << 2000000000 << 2 << 1000000000;
    QTest::newRow("divide by zero") << 5 << 5 << 0 << -1;
}

void DialogUnitsTest::mulDiv()
{
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, c);
    QFETCH(int, result);
    QCOMPARE(DialogUnits::MulDiv(a, b, c), result);
    if (c == 4 && b == 7) {
        const DialogUnits units(7, 14);
        QCOMPARE(units.X(a), result);
        QCOMPARE(units.Rect(a, 8, a, 4), QRect(result, 14, result, 7));
    }
}

QTEST_MAIN(DialogUnitsTest)
#include "DialogUnitsTest.moc"
