#include "fake_user_defaults.h"
#include "platform/user_defaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;
using cv::test::FakeUserDefaults;

namespace {

void writeFile(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void readEverything(const UserDefaults &defaults, const QStringList &keys)
{
    for (const QString &key : keys) {
        (void)defaults.value(key);
        (void)defaults.isBool(key);
        (void)defaults.boolValue(key);
        (void)defaults.string(key);
    }
}

} // namespace

class DefaultsTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;
    QString path(const QString &name) const { return dir_.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void standardFileLivesInTheConfigFolder()
    {
        // The test runner gives us a private XDG_CONFIG_HOME: the real user's
        // settings are never touched.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        QVERIFY(!config.isEmpty());
        SettingsUserDefaults defaults;
        QCOMPARE(QFileInfo(defaults.fileName()).absoluteFilePath(),
                 QDir(config).filePath(QStringLiteral("Corvane/Corvane.conf")));
    }

    void readingWritesNothing()
    {
        const QStringList keys{QStringLiteral("showInMenuBar"), QStringLiteral("notifyFiles"),
                               QStringLiteral("lastReceiveFolder")};
        QString fileName;
        {
            SettingsUserDefaults defaults;
            fileName = defaults.fileName();
            readEverything(defaults, keys);
            QVERIFY(!defaults.value(keys.first()) && !defaults.isBool(keys.first()) && !defaults.string(keys.first()));
        }
        QVERIFY2(!QFileInfo::exists(fileName), qPrintable(fileName));

        // Reading an existing file leaves it byte for byte as it was.
        const QByteArray contents = "[General]\nnotifyFiles=yes\nshowInMenuBar=true\n";
        const QString existing = path(QStringLiteral("existing.conf"));
        writeFile(existing, contents);
        {
            SettingsUserDefaults defaults(existing);
            readEverything(defaults, keys);
            QVERIFY(defaults.boolValue(QStringLiteral("showInMenuBar")));
        }
        QCOMPARE(readFile(existing), contents);
    }

    void boolRule_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("isBool");
        QTest::addColumn<bool>("boolValue");
        QTest::addColumn<bool>("isText");
        QTest::addColumn<QString>("text");
        QTest::newRow("true") << QByteArray("key=true") << true << true << true << "true";
        QTest::newRow("false") << QByteArray("key=false") << true << false << true << "false";
        QTest::newRow("yes") << QByteArray("key=yes") << false << false << true << "yes";
        QTest::newRow("one") << QByteArray("key=1") << false << false << true << "1";
        QTest::newRow("upper case") << QByteArray("key=TRUE") << false << false << true << "TRUE";
        QTest::newRow("trailing word") << QByteArray("key=truely") << false << false << true << "truely";
        QTest::newRow("empty") << QByteArray("key=") << false << false << true << "";
        QTest::newRow("a list") << QByteArray("key=true, false") << false << false << false << "";
        QTest::newRow("typed variant") << QByteArray("key=@Variant(\\0\\0\\0\\x1\\x1)") << false << false << false << "";
    }

    void boolRule()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, isBool);
        QFETCH(bool, boolValue);
        QFETCH(bool, isText);
        QFETCH(QString, text);
        const QString file = path(QStringLiteral("rule-%1.conf").arg(QTest::currentDataTag()));
        writeFile(file, "[General]\n" + line + "\n");
        SettingsUserDefaults defaults(file);
        QVERIFY(defaults.value(QStringLiteral("key")).has_value());
        QCOMPARE(defaults.isBool(QStringLiteral("key")), isBool);
        QCOMPARE(defaults.boolValue(QStringLiteral("key")), boolValue);
        QCOMPARE(defaults.string(QStringLiteral("key")), isText ? std::optional<QString>(text) : std::nullopt);
        if (!isText)
            return;
        // The same text stored through a setter, in the file and in the fake the
        // model tests use, follows the same rule.
        SettingsUserDefaults written(path(QStringLiteral("set-%1.conf").arg(QTest::currentDataTag())));
        written.setString(QStringLiteral("key"), text);
        FakeUserDefaults fake;
        fake.setString(QStringLiteral("key"), text);
        for (const UserDefaults *d : {static_cast<const UserDefaults *>(&written), static_cast<const UserDefaults *>(&fake)}) {
            QCOMPARE(d->isBool(QStringLiteral("key")), isBool);
            QCOMPARE(d->boolValue(QStringLiteral("key")), boolValue);
        }
    }

    void roundTrip_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::newRow("true") << QVariant(true);
        QTest::newRow("false") << QVariant(false);
        QTest::newRow("path") << QVariant(QStringLiteral("/home/me/Received files"));
        QTest::newRow("at sign") << QVariant(QStringLiteral("@home"));
        QTest::newRow("comma") << QVariant(QStringLiteral("a, b"));
        QTest::newRow("ini syntax") << QVariant(QStringLiteral("x=y;z [General] #c"));
        QTest::newRow("spaces") << QVariant(QStringLiteral("  spaced  "));
        QTest::newRow("unicode") << QVariant(QStringLiteral("Çà ’… Ωmega\u00a0"));
        QTest::newRow("quotes and backslash") << QVariant(QStringLiteral("\"q\" \\ back"));
        QTest::newRow("line feed") << QVariant(QStringLiteral("one\ntwo"));
        QTest::newRow("empty") << QVariant(QString());
    }

    void roundTrip()
    {
        QFETCH(QVariant, value);
        const QString key = QStringLiteral("key");
        const bool isBool = value.typeId() == QMetaType::Bool;
        const QString file = path(QStringLiteral("trip-%1.conf").arg(QTest::currentDataTag()));
        SettingsUserDefaults writer(file);
        isBool ? writer.setBool(key, value.toBool()) : writer.setString(key, value.toString());
        // Another reader sees a set at once, without the writer being destroyed.
        SettingsUserDefaults reader(file);
        QCOMPARE(reader.isBool(key), isBool);
        if (isBool) {
            QCOMPARE(reader.boolValue(key), value.toBool());
            QVERIFY(readFile(file).contains(value.toBool() ? "key=true" : "key=false"));
        } else {
            QCOMPARE(reader.string(key), std::optional<QString>(value.toString()));
        }
        writer.remove(key);
        QVERIFY(!writer.value(key));
        QVERIFY(!SettingsUserDefaults(file).value(key));
    }
};

QTEST_GUILESS_MAIN(DefaultsTest)
#include "tst_defaults.moc"
