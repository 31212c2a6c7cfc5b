#include "platform/workspace.h"
#include "../views/table.h"
#include "bounded.h"
#include "test_files.h"

#include <QDBusConnection>
#include <QDesktopServices>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;
using namespace cv::test;

// Plays the desktop's file manager on the private session bus.
class FileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
public slots:
    void ShowItems(const QStringList &uris, const QString &) { shown << uris; }
};

class DesktopTest : public QObject {
    Q_OBJECT

    QList<QUrl> opened_;

public slots:
    // Receives what QDesktopServices opens.
    void open(const QUrl &url) { opened_ << url; }

private slots:
    void initTestCase() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    // Through the desktop's file manager when one runs, else its folder (never the file) opens.
    void reveal()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Corvane diagnostics 2026-01-31 1405.zip"));
        DesktopWorkspace workspace;
        workspace.reveal({file});
        QTRY_COMPARE(opened_, QList<QUrl> {QUrl::fromLocalFile(dir.path())});
        QDBusConnection bus = QDBusConnection::sessionBus();
        FileManager manager;
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager, QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
        workspace.reveal({QStringLiteral("/tmp/a folder/file #1.txt"), QStringLiteral("/tmp/b.txt")});
        QTRY_COMPARE(manager.shown, (QList<QStringList>{{"file:///tmp/a%20folder/file%20%231.txt", "file:///tmp/b.txt"}}));
        QCOMPARE(opened_.size(), 1);
        bus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    }

    // A file URL goes to the opener on PATH, followed to its end: only its exit
    // status 0 counts as opened. A missing path starts nothing; without an opener
    // QDesktopServices opens it.
    void open_data()
    {
        columns<QByteArray, bool, bool, bool>("opener", "exists", "started", "opened"); // opener: its script's last line
        QTest::newRow("opener succeeds") << QByteArray("exit 0") << true << true << true;
        QTest::newRow("opener fails") << QByteArray("echo \"file does not exist\" >&2; exit 4") << true << true << false;
        QTest::newRow("opener is killed") << QByteArray("kill -9 $$") << true << true << false;
        QTest::newRow("folder missing") << QByteArray("exit 0") << false << false << false;
        QTest::newRow("no opener") << QByteArray() << true << false << true;
        QTest::newRow("no opener, folder missing") << QByteArray() << false << false << false;
    }
    void open()
    {
        auto [opener, exists, started, opened] = fetch<QByteArray, bool, bool, bool>("opener", "exists", "started", "opened");
        QTemporaryDir bin, files;
        const QString folder = files.filePath(exists ? "Windows Desktop" : "gone") + '/';
        QVERIFY(QDir().mkpath(files.filePath("Windows Desktop")));
        if (!opener.isEmpty()) {
            QVERIFY(writeFile(bin.filePath("xdg-open"), "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"${0%/*}/started\"\n" + opener + "\n"));
            QVERIFY(QFile::setPermissions(bin.filePath("xdg-open"), QFile::ReadOwner | QFile::ExeOwner));
        }
        opened_.clear();
        ScopedEnv path("PATH", bin.path().toUtf8());
        DesktopWorkspace workspace;
        QCOMPARE(waitBounded(workspace.open(QUrl::fromLocalFile(folder))), std::optional<bool>(opened));
        QCOMPARE(readFile(bin.filePath("started")), started ? (folder + '\n').toUtf8() : QByteArray());
        QCOMPARE(opened_.size(), qsizetype(opener.isEmpty() && exists));
    }

    // The desktop's own settings program, found by the desktop's name and PATH: the
    // fakes on PATH record how they were started (the folder's name would break a
    // command line read by a shell). Absent panes start nothing.
    void settingsPanes_data()
    {
        columns<QByteArray, QStringList, SettingsPane, QStringList>("desktop", "programs", "pane", "started");
        const QStringList both{"gnome-control-center", "systemsettings"};
        QTest::newRow("GNOME notifications") << QByteArray("ubuntu:GNOME") << both << SettingsPane::notifications
                                             << QStringList{"gnome-control-center", "notifications"};
        QTest::newRow("KDE autostart") << QByteArray("KDE") << both << SettingsPane::loginItems
                                       << QStringList{"systemsettings", "kcm_autostart"};
        QTest::newRow("first desktop lacks its program") << QByteArray("KDE:GNOME") << QStringList{"gnome-control-center"}
                                                         << SettingsPane::loginItems
                                                         << QStringList{"gnome-control-center", "applications"};
        QTest::newRow("program without argument") << QByteArray("XFCE") << QStringList{"xfce4-notifyd-config"}
                                                  << SettingsPane::notifications << QStringList{"xfce4-notifyd-config"};
        QTest::newRow("program missing") << QByteArray("GNOME") << QStringList{} << SettingsPane::notifications
                                         << QStringList{};
        QTest::newRow("no privacy pane") << QByteArray("GNOME") << both << SettingsPane::filesAndFolders
                                         << QStringList{};
    }
    void settingsPanes()
    {
        auto [desktop, programs, pane, started] = fetch<QByteArray, QStringList, SettingsPane, QStringList>("desktop", "programs", "pane", "started");
        QTemporaryDir bin(QDir::tempPath() + QStringLiteral("/bin $HOME; 'x' XXXXXX"));
        const QString record = bin.filePath(QStringLiteral("started"));
        for (const QString &name : programs) {
            const QByteArray script = "#!/bin/sh\nprintf '%s\\n' \"${0##*/}\" \"$@\" > \"$0.part\"\n"
                                      "/bin/mv \"$0.part\" \"${0%/*}/started\"\n";
            QVERIFY(writeFile(bin.filePath(name), script));
            QVERIFY(QFile::setPermissions(bin.filePath(name), QFile::ReadOwner | QFile::ExeOwner));
        }
        ScopedEnv current("XDG_CURRENT_DESKTOP", desktop), path("PATH", bin.path().toUtf8());
        DesktopWorkspace workspace;
        QCOMPARE(workspace.hasSettings(pane), !started.isEmpty());
        QCOMPARE(workspace.openSettings(pane), !started.isEmpty());
        if (started.isEmpty())
            return;
        QTRY_VERIFY(QFile::exists(record));
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts), started);
    }
};

QTEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
