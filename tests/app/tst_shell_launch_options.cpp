// The "--events-since" option: which value counts and which are ignored.

#include "app/launch_options.h"

#include <QTest>

using namespace cv;
using Since = std::optional<quint64>;
Q_DECLARE_METATYPE(Since)

class ShellLaunchOptionsTest : public QObject {
    Q_OBJECT

private slots:
    void eventsSince_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after the executable
        QTest::addColumn<Since>("expected");
        QTest::newRow("42") << QStringList{"--events-since", "42"} << Since(42);
        QTest::newRow("plus") << QStringList{"--background", "--events-since", "+7"} << Since(7);
        QTest::newRow("minus zero") << QStringList{"--events-since", "-0"} << Since(0);
        QTest::newRow("minus one") << QStringList{"--events-since", "-1"} << Since();
        QTest::newRow("word") << QStringList{"--events-since", "abc"} << Since();
        QTest::newRow("sign alone") << QStringList{"--events-since", "+"} << Since();
        QTest::newRow("largest") << QStringList{"--events-since", "18446744073709551615"} << Since(18446744073709551615ULL);
        QTest::newRow("2^64") << QStringList{"--events-since", "18446744073709551616"} << Since();
        QTest::newRow("last argument") << QStringList{"--background", "--events-since"} << Since();
        QTest::newRow("first of two counts") << QStringList{"--events-since", "5", "--events-since", "9"} << Since(5);
        QTest::newRow("bad first of two") << QStringList{"--events-since", "x", "--events-since", "9"} << Since();
    }
    void eventsSince()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Since, expected);
        QCOMPARE(cv::eventsSince(QStringList{"/usr/bin/corvane"} + arguments), expected);
    }
};

QTEST_GUILESS_MAIN(ShellLaunchOptionsTest)
#include "tst_shell_launch_options.moc"
