#include "model_fixture.h"

#include "platform/user_defaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <QSignalSpy>
#include <QTest>

using namespace cv;
using cv::test::ModelFixture;
using State = AppModel::NotificationState;

class ModelStateTest : public QObject {
    Q_OBJECT

private slots:
    void initialValues()
    {
        ModelFixture f;
        AppModel &m = f.model();
        QVERIFY(!m.status());
        QCOMPARE(m.connected(), false);
        QCOMPARE(m.starting(), true);
        QCOMPARE(m.mutating(), false);
        QCOMPARE(m.error(), std::nullopt);
        QCOMPARE(m.serviceError(), std::nullopt);
        QCOMPARE(m.notificationsDetail(), QString());
        QCOMPARE(m.notifications(), State::unavailable);
        QCOMPARE(m.cablePlugged(), false);
        QCOMPARE(m.linkKind(), std::nullopt);
        QVERIFY(m.disconnected().isEmpty());
        QCOMPARE(m.demo(), false);
        QVERIFY(!m.showPeer);
        QVERIFY(!m.stateChanged);
        QCOMPARE(AppModelAccess::cursor(m), std::nullopt);
        QVERIFY(AppModelAccess::choiceShown(m).isEmpty());
        QVERIFY(!m.hasPendingNotices());
        QCOMPARE(AppModelAccess::quitting(m), false);
        QCOMPARE(AppModelAccess::refreshing(m), false);
        QCOMPARE(AppModelAccess::hasSeenService(m), false);
        QVERIFY(!AppModelAccess::polling(m));
        QCOMPARE(AppModelAccess::cableChecked(m), AppModel::distantPast());
        QCOMPARE(AppModelAccess::linkChecked(m), AppModel::distantPast());
        QCOMPARE(AppModelAccess::drivesCache(m).listed, AppModel::distantPast());
        // Construction starts nothing: no request, no permission read.
        QVERIFY(f.client->requests.isEmpty());
        QCOMPARE(f.notifications->statusQueries(), 0);
        QCOMPARE(f.notifications->authorizationRequests(), 0);
    }

    void emptySettings()
    {
        ModelFixture f;
        AppModel &m = f.model();
        QCOMPARE(m.showInMenuBar(), false);
        QCOMPARE(m.notifyConnections(), true);
        QCOMPARE(m.notifyFiles(), true);
        QCOMPARE(m.lastReceiveFolder(), std::nullopt);
        QVERIFY(f.defaults->writes().isEmpty());
        QVERIFY(f.defaults->stored().isEmpty());
    }

    void storedSettings_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("expected");

        QTest::newRow("menu bar true") << "showInMenuBar" << "true" << true;
        QTest::newRow("menu bar false") << "showInMenuBar" << "false" << false;
        QTest::newRow("menu bar text") << "showInMenuBar" << "yes" << false;
        QTest::newRow("connections false") << "notifyConnections" << "false" << false;
        QTest::newRow("connections true") << "notifyConnections" << "true" << true;
        QTest::newRow("connections text") << "notifyConnections" << "off" << true;
        QTest::newRow("connections number") << "notifyConnections" << "0" << true;
        QTest::newRow("connections capitals") << "notifyConnections" << "FALSE" << true;
        QTest::newRow("files false") << "notifyFiles" << "false" << false;
        QTest::newRow("files text") << "notifyFiles" << "no" << true;
        QTest::newRow("files empty") << "notifyFiles" << "" << true;
    }

    void storedSettings()
    {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(bool, expected);

        ModelFixture f;
        f.defaults = std::make_shared<test::FakeUserDefaults>(QMap<QString, QString>{{key, stored}});
        AppModel &m = f.model();
        const bool read = key == QLatin1String("showInMenuBar") ? m.showInMenuBar()
            : key == QLatin1String("notifyConnections")         ? m.notifyConnections()
                                                                : m.notifyFiles();
        QCOMPARE(read, expected);
        QVERIFY(f.defaults->writes().isEmpty());
        QCOMPARE(f.defaults->stored().value(key), stored);
    }

    void storedReceiveFolder()
    {
        ModelFixture f;
        f.defaults = std::make_shared<test::FakeUserDefaults>(
            QMap<QString, QString>{{QStringLiteral("lastReceiveFolder"), QStringLiteral("/home/a/Inbox")}});
        QCOMPARE(f.model().lastReceiveFolder(), QStringLiteral("/home/a/Inbox"));
        QVERIFY(f.defaults->writes().isEmpty());
    }

    void settingsFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("settings.conf"));
        const QByteArray text = "[General]\nshowInMenuBar=true\nnotifyConnections=yes\nnotifyFiles=false\n"
                                "lastReceiveFolder=/home/a/Inbox\n";
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        }

        ModelFixture f;
        AppModelCollaborators parts;
        parts.defaults = std::make_shared<SettingsUserDefaults>(path);
        parts.notificationCenter = f.notifications;
        parts.cable = f.cable;
        parts.volumes = f.volumes;
        parts.client = f.client;
        parts.host = f.host;
        parts.clock = &f.clock;
        parts.packaged = true;
        auto model = std::make_unique<AppModel>(parts);
        QCOMPARE(model->showInMenuBar(), true);
        QCOMPARE(model->notifyConnections(), true); // text, not a Bool
        QCOMPARE(model->notifyFiles(), false);
        QCOMPARE(model->lastReceiveFolder(), QStringLiteral("/home/a/Inbox"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), text); // reading wrote nothing back
        }

        model->setNotifyConnections(false);
        model->setLastReceiveFolder(std::nullopt);
        model.reset();
        parts.defaults = std::make_shared<SettingsUserDefaults>(path);
        model = std::make_unique<AppModel>(parts);
        QCOMPARE(model->notifyConnections(), false);
        QCOMPARE(model->lastReceiveFolder(), std::nullopt);
        QCOMPARE(model->showInMenuBar(), true);
    }

    void realCollaborators()
    {
        // The model made as the application makes it: it reads the settings and
        // starts nothing.
        const QString settings = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                                     .filePath(QStringLiteral("Corvane/Corvane.conf"));
        {
            AppModel model;
            QCOMPARE(model.starting(), true);
            QCOMPARE(model.notifyFiles(), true);
            QCOMPARE(model.packaged(), false); // a build tree is not installed
            QCOMPARE(model.notifications(), State::unavailable);
            QCoro::waitFor(model.refreshNotifications());
            QCOMPARE(model.notifications(), State::unavailable);
            QCOMPARE(model.notificationsDetail(), QStringLiteral("Notifications require the packaged app."));
            QCOMPARE(model.shareableDrives().first().path, QStringLiteral("/"));
        }
        QVERIFY2(!QFileInfo::exists(settings), qPrintable(settings));
    }

    void settingsWrittenOnEverySet()
    {
        ModelFixture f;
        AppModel &m = f.model();
        m.setShowInMenuBar(true);
        m.setShowInMenuBar(true);
        m.setNotifyConnections(false);
        m.setNotifyFiles(false);
        m.setNotifyFiles(true);
        QCOMPARE(f.defaults->writes(),
                 QStringList({"set showInMenuBar=true", "set showInMenuBar=true", "set notifyConnections=false",
                              "set notifyFiles=false", "set notifyFiles=true"}));
        QCOMPARE(m.showInMenuBar(), true);
        QCOMPARE(m.notifyConnections(), false);
        QCOMPARE(m.notifyFiles(), true);

        // The next model reads what was stored.
        AppModel &again = f.remake();
        QCOMPARE(again.showInMenuBar(), true);
        QCOMPARE(again.notifyConnections(), false);
        QCOMPARE(again.notifyFiles(), true);
    }

    void receiveFolderNoneRemovesKey()
    {
        ModelFixture f;
        AppModel &m = f.model();
        m.setLastReceiveFolder(QStringLiteral("/home/a/Inbox"));
        QCOMPARE(f.defaults->stored().value(QStringLiteral("lastReceiveFolder")), QStringLiteral("/home/a/Inbox"));
        m.setLastReceiveFolder(std::nullopt);
        QVERIFY(!f.defaults->stored().contains(QStringLiteral("lastReceiveFolder")));
        QCOMPARE(f.defaults->writes().last(), QStringLiteral("remove lastReceiveFolder"));
        QCOMPARE(f.remake().lastReceiveFolder(), std::nullopt);
    }

    void serviceErrorLogsEachNewText()
    {
        ModelFixture f;
        AppModel &m = f.model();
        m.setServiceError(QStringLiteral("The background service isn’t running."));
        m.setServiceError(QStringLiteral("The background service isn’t running."));
        QCOMPARE(f.log, QStringList{"service unavailable: The background service isn’t running."});

        m.setServiceError(std::nullopt);
        QCOMPARE(f.log.size(), 1);
        m.setServiceError(QStringLiteral("The background service isn’t running."));
        QCOMPARE(f.log.size(), 2);
        m.setServiceError(QStringLiteral("Other"));
        QCOMPARE(f.log, QStringList({"service unavailable: The background service isn’t running.",
                                     "service unavailable: The background service isn’t running.",
                                     "service unavailable: Other"}));
        QCOMPARE(m.serviceError(), QStringLiteral("Other"));
    }

    void permissionAskedPerSet_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<int>("requests");
        QTest::newRow("not determined") << State::notDetermined << 2;
        QTest::newRow("allowed") << State::allowed << 0;
        QTest::newRow("denied") << State::denied << 0;
        QTest::newRow("unavailable") << State::unavailable << 0;
    }

    void permissionAskedPerSet()
    {
        QFETCH(State, state);
        QFETCH(int, requests);

        for (const bool files : {true, false}) {
            ModelFixture f;
            // The answer leaves the permission undecided, so every set asks again.
            f.notifications->setAuthorizationReply({false, std::nullopt}, NotificationAuthorizationStatus::notDetermined);
            AppModel &m = f.model();
            m.setNotifications(state);
            auto set = [&](bool on) { files ? m.setNotifyFiles(on) : m.setNotifyConnections(on); };
            set(true);
            set(false); // turning off never asks
            set(true);
            QCOMPARE(f.notifications->authorizationRequests(), requests);
            QCOMPARE(f.defaults->writes().size(), 3);
            QVERIFY(QTest::qWaitFor([&] { return f.notifications->statusQueries() == requests; }, 1000));
        }
    }

    void observersToldOfEverySet()
    {
        ModelFixture f;
        AppModel &m = f.model();
        QSignalSpy connected(&m, &AppModel::connectedChanged);
        QSignalSpy error(&m, &AppModel::errorChanged);
        QSignalSpy menuBar(&m, &AppModel::showInMenuBarChanged);
        QSignalSpy any(&m, &AppModel::changed);

        m.setConnected(false); // unchanged value: still told
        m.setConnected(true);
        m.setError(QStringLiteral("Oops"));
        m.setShowInMenuBar(false);
        QCOMPARE(connected.count(), 2);
        QCOMPARE(error.count(), 1);
        QCOMPARE(menuBar.count(), 1);
        QCOMPARE(any.count(), 4);

        // Observers see the new value when they are told.
        std::optional<QString> seen;
        connect(&m, &AppModel::errorChanged, this, [&] { seen = m.error(); });
        m.setError(QStringLiteral("Second"));
        QCOMPARE(seen, QStringLiteral("Second"));
    }

    void everyPublishedFieldIsAProperty()
    {
        ModelFixture f;
        AppModel &m = f.model();
        const QStringList expected{"status", "connected", "starting", "mutating", "error", "serviceError",
                                   "notificationsDetail", "notifications", "showInMenuBar", "notifyConnections",
                                   "notifyFiles", "cablePlugged", "linkKind", "disconnected", "lastReceiveFolder"};
        const QMetaObject *meta = m.metaObject();
        QStringList names;
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            QVERIFY2(meta->property(i).hasNotifySignal(), meta->property(i).name());
            names << QString::fromLatin1(meta->property(i).name());
        }
        QCOMPARE(names, expected);

        QSignalSpy linkKind(&m, &AppModel::linkKindChanged);
        QVERIFY(m.setProperty("cablePlugged", true));
        QCOMPARE(m.cablePlugged(), true);
        m.setLinkKind(QStringLiteral("USB4"));
        QCOMPARE(m.property("linkKind").value<std::optional<QString>>(), QStringLiteral("USB4"));
        QCOMPARE(linkKind.count(), 1);

        m.setDisconnected({{QStringLiteral("a"), QStringLiteral("Studio")}});
        QCOMPARE(m.property("disconnected").value<AppModel::Disconnected>().value(QStringLiteral("a")),
                 QStringLiteral("Studio"));
        QVERIFY(m.setProperty("notifications", QVariant::fromValue(State::denied)));
        QCOMPARE(m.notifications(), State::denied);
        QVERIFY(!m.property("status").value<std::optional<ServiceStatus>>().has_value());
    }
};

QTEST_GUILESS_MAIN(ModelStateTest)
#include "tst_model_state.moc"
