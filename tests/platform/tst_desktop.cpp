#include "platform/workspace.h"
#include "../views/table.h"
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
