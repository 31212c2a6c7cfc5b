// The settings file: where it lives, the Bool rule, and values that reach the disk at once.
#include "platform/user_defaults.h"
#include "../views/table.h"
#include "test_files.h"

#include <QTemporaryDir>
#include <QTest>

using namespace cv;
using namespace cv::test;

class DefaultsTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    void standardFileReadsWithoutWriting()
    {
        // The test runner's private XDG_CONFIG_HOME: the real user's settings are never touched.
        SettingsUserDefaults defaults;
        QCOMPARE(defaults.fileName(), qEnvironmentVariable("XDG_CONFIG_HOME") + "/Corvane/Corvane.conf");
        QVERIFY(!defaults.value("showInMenuBar") && !defaults.isBool("showInMenuBar") && !defaults.string("showInMenuBar"));
        QVERIFY(!QFileInfo::exists(defaults.fileName()));
    }

    void boolRule_data()
    {
        // isBool boolValue string (reading)
        columns<QByteArray, QString>("line", "reading");
        QTest::newRow("true") << QByteArray("key=true") << "1 1 true";
        QTest::newRow("upper case") << QByteArray("key=TRUE") << "0 0 TRUE";
        QTest::newRow("typed variant") << QByteArray("key=@Variant(\\0\\0\\0\\x1\\x1)") << "0 0 -";
    }
    void boolRule()
    {
        auto [line, reading] = fetch<QByteArray, QString>("line", "reading");
        const QString file = dir_.filePath(QStringLiteral("%1.conf").arg(QTest::currentDataTag()));
        QVERIFY(writeFile(file, "[General]\n" + line + "\n"));
        const SettingsUserDefaults defaults(file);
        QCOMPARE(QStringLiteral("%1 %2 %3").arg(defaults.isBool("key")).arg(defaults.boolValue("key"))
                     .arg(defaults.string("key").value_or("-")), reading);
        QCOMPARE(readFile(file), "[General]\n" + line + "\n"); // reading leaves the file as it was
    }

    // Written through the setters, on the disk at once while the writer still lives.
    void roundTrip()
    {
        const QString text = "@x=y;z [General] #c, \"q\" \\ Ω\u00a0one\ntwo";
        SettingsUserDefaults writer(dir_.filePath("trip.conf"));
        writer.setBool("key", true);
        QCOMPARE(readBack(writer.fileName()), "bool 1");
        writer.setString("key", text);
        QCOMPARE(readBack(writer.fileName()), "text " + text);
        writer.remove("key");
        QCOMPARE(readBack(writer.fileName()), "none");
    }

private:
    // What a fresh reader of a copy of the file's bytes finds for "key".
    QString readBack(const QString &file)
    {
        const QString copy = dir_.filePath(QStringLiteral("copy%1.conf").arg(++copies_));
        QFile::copy(file, copy);
        const SettingsUserDefaults defaults(copy);
        return !defaults.value("key") ? "none"
            : defaults.isBool("key")  ? QStringLiteral("bool %1").arg(defaults.boolValue("key"))
                                      : "text " + defaults.string("key").value_or("<not text>");
    }
    int copies_ = 0;
};

QTEST_GUILESS_MAIN(DefaultsTest)
#include "tst_defaults.moc"
