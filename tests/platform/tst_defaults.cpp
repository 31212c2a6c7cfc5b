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
            QVERIFY(!QFileInfo::exists(fileName));
            readEverything(defaults, keys);
            QVERIFY(!defaults.value(keys.first()));
            QVERIFY(!defaults.boolValue(keys.first()));
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
        QTest::newRow("zero") << QByteArray("key=0") << false << false << true << "0";
        QTest::newRow("upper case") << QByteArray("key=TRUE") << false << false << true << "TRUE";
        QTest::newRow("capitalised") << QByteArray("key=True") << false << false << true << "True";
        QTest::newRow("trailing word") << QByteArray("key=truely") << false << false << true
                                       << "truely";
        QTest::newRow("empty") << QByteArray("key=") << false << false << true << "";
        QTest::newRow("a list") << QByteArray("key=true, false") << false << false << false << "";
        QTest::newRow("typed variant") << QByteArray("key=@Variant(\\0\\0\\0\\x1\\x1)") << false
                                       << false << false << "";
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
        const auto read = defaults.string(QStringLiteral("key"));
        QCOMPARE(read.has_value(), isText);
        if (isText) {
            QCOMPARE(*read, text);

            // The same text stored through a setter, in the file and in the fake,
            // follows the same rule.
            SettingsUserDefaults written(path(QStringLiteral("set-%1.conf").arg(QTest::currentDataTag())));
            written.setString(QStringLiteral("key"), text);
            SettingsUserDefaults reread(written.fileName());
            QCOMPARE(reread.isBool(QStringLiteral("key")), isBool);
            QCOMPARE(reread.boolValue(QStringLiteral("key")), boolValue);

            FakeUserDefaults fake;
            fake.setString(QStringLiteral("key"), text);
            QCOMPARE(fake.isBool(QStringLiteral("key")), isBool);
            QCOMPARE(fake.boolValue(QStringLiteral("key")), boolValue);
            QCOMPARE(fake.string(QStringLiteral("key")), std::optional<QString>(text));
        }
    }

    void absentKeys()
    {
        SettingsUserDefaults defaults(path(QStringLiteral("absent.conf")));
        FakeUserDefaults fake;
        for (const UserDefaults *d : {static_cast<const UserDefaults *>(&defaults),
                                      static_cast<const UserDefaults *>(&fake)}) {
            QVERIFY(!d->value(QStringLiteral("missing")));
            QVERIFY(!d->isBool(QStringLiteral("missing")));
            QVERIFY(!d->boolValue(QStringLiteral("missing")));
            QVERIFY(!d->string(QStringLiteral("missing")));
        }
    }

    void boolRoundTrip_data()
    {
        QTest::addColumn<bool>("value");
        QTest::newRow("true") << true;
        QTest::newRow("false") << false;
    }

    void boolRoundTrip()
    {
        QFETCH(bool, value);
        const QString file = path(QStringLiteral("bool-%1.conf").arg(QTest::currentDataTag()));
        {
            SettingsUserDefaults defaults(file);
            defaults.setBool(QStringLiteral("showInMenuBar"), value);
            // Reads back the same before the next instance reads the file.
            QVERIFY(defaults.isBool(QStringLiteral("showInMenuBar")));
            QCOMPARE(defaults.boolValue(QStringLiteral("showInMenuBar")), value);
        }
        SettingsUserDefaults reread(file);
        QVERIFY(reread.isBool(QStringLiteral("showInMenuBar")));
        QCOMPARE(reread.boolValue(QStringLiteral("showInMenuBar")), value);
        QVERIFY(readFile(file).contains(value ? "showInMenuBar=true" : "showInMenuBar=false"));
    }

    void setIsWrittenAtOnce()
    {
        // Another reader sees a set at once, without the writer being destroyed.
        const QString file = path(QStringLiteral("at-once.conf"));
        SettingsUserDefaults writer(file);
        writer.setBool(QStringLiteral("notifyFiles"), false);
        SettingsUserDefaults reader(file);
        QVERIFY(reader.isBool(QStringLiteral("notifyFiles")));
        QVERIFY(!reader.boolValue(QStringLiteral("notifyFiles")));
    }

    void stringRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("path") << QStringLiteral("/home/me/Received files");
        QTest::newRow("at sign") << QStringLiteral("@home");
        QTest::newRow("comma") << QStringLiteral("a, b");
        QTest::newRow("ini syntax") << QStringLiteral("x=y;z [General] #c");
        QTest::newRow("spaces") << QStringLiteral("  spaced  ");
        QTest::newRow("unicode") << QStringLiteral("Çà ’… Ωmega\u00a0");
        QTest::newRow("quotes and backslash") << QStringLiteral("\"q\" \\ back");
        QTest::newRow("line feed") << QStringLiteral("one\ntwo");
        QTest::newRow("empty") << QString();
    }

    void stringRoundTrip()
    {
        QFETCH(QString, value);
        const QString file = path(QStringLiteral("string-%1.conf").arg(QTest::currentDataTag()));
        {
            SettingsUserDefaults defaults(file);
            defaults.setString(QStringLiteral("lastReceiveFolder"), value);
            QCOMPARE(defaults.string(QStringLiteral("lastReceiveFolder")), std::optional<QString>(value));
            QVERIFY(!defaults.isBool(QStringLiteral("lastReceiveFolder")));
        }
        SettingsUserDefaults reread(file);
        const auto read = reread.string(QStringLiteral("lastReceiveFolder"));
        QVERIFY(read.has_value());
        QCOMPARE(*read, value);
        QVERIFY(!reread.isBool(QStringLiteral("lastReceiveFolder")));
    }

    void removeForgetsTheKey()
    {
        const QString file = path(QStringLiteral("remove.conf"));
        {
            SettingsUserDefaults defaults(file);
            defaults.setString(QStringLiteral("lastReceiveFolder"), QStringLiteral("/srv/in"));
            defaults.setBool(QStringLiteral("notifyFiles"), true);
            defaults.remove(QStringLiteral("lastReceiveFolder"));
            QVERIFY(!defaults.value(QStringLiteral("lastReceiveFolder")));
            QVERIFY(!defaults.string(QStringLiteral("lastReceiveFolder")));
        }
        SettingsUserDefaults reread(file);
        QVERIFY(!reread.value(QStringLiteral("lastReceiveFolder")));
        // Only that key went.
        QVERIFY(reread.boolValue(QStringLiteral("notifyFiles")));

        FakeUserDefaults fake;
        fake.setString(QStringLiteral("lastReceiveFolder"), QStringLiteral("/srv/in"));
        fake.remove(QStringLiteral("lastReceiveFolder"));
        QVERIFY(!fake.value(QStringLiteral("lastReceiveFolder")));
        QCOMPARE(fake.writes(), (QStringList{QStringLiteral("set lastReceiveFolder=/srv/in"),
                                             QStringLiteral("remove lastReceiveFolder")}));
    }

    void fakeCountsOnlyWrites()
    {
        FakeUserDefaults fake({{QStringLiteral("notifyConnections"), QStringLiteral("yes")}});
        readEverything(fake, {QStringLiteral("notifyConnections"), QStringLiteral("other")});
        QVERIFY(fake.writes().isEmpty());
        QVERIFY(!fake.isBool(QStringLiteral("notifyConnections")));
        fake.setBool(QStringLiteral("notifyConnections"), false);
        QCOMPARE(fake.writes(), QStringList{QStringLiteral("set notifyConnections=false")});
        QVERIFY(fake.isBool(QStringLiteral("notifyConnections")));
    }
};

QTEST_GUILESS_MAIN(DefaultsTest)
#include "tst_defaults.moc"
