#include "model_fixture.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace cv;
using cv::test::ModelFixture;
using State = AppModel::NotificationState;

namespace {

// The four settings as the model reads them, as one line of text.
QString settings(const AppModel &m)
{
    const auto text = [](bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); };
    return QStringList{text(m.showInMenuBar()), text(m.notifyConnections()), text(m.notifyFiles()),
                       m.lastReceiveFolder().value_or(QStringLiteral("none"))}
        .join(QLatin1Char(' '));
}

} // namespace

class ModelStateTest : public QObject {
    Q_OBJECT

private slots:
    void initialValues()
    {
        ModelFixture f;
        AppModel &m = f.model();
        QVERIFY(!m.status() && !m.connected() && m.starting() && !m.mutating() && !m.cablePlugged());
        QVERIFY(!m.error() && !m.serviceError() && !m.linkKind() && m.disconnected().isEmpty());
        QCOMPARE(m.notifications(), State::unavailable);
        QCOMPARE(AppModelAccess::cursor(m), std::nullopt);
        // Construction starts nothing: no request, no permission read, no polling.
        QVERIFY(f.client->requests.isEmpty() && !AppModelAccess::polling(m));
        QCOMPARE(f.notifications->statusQueries() + f.notifications->authorizationRequests(), 0);
    }

    void storedSettings_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected"); // menu bar, connections, files, receive folder
        QTest::newRow("nothing stored") << "" << "" << "false true true none";
        QTest::newRow("menu bar true") << "showInMenuBar" << "true" << "true true true none";
        QTest::newRow("menu bar text") << "showInMenuBar" << "yes" << "false true true none";
        QTest::newRow("connections false") << "notifyConnections" << "false" << "false false true none";
        // Only a stored Bool switches a notice off; any other value reads as true.
        QTest::newRow("connections text") << "notifyConnections" << "off" << "false true true none";
        QTest::newRow("connections number") << "notifyConnections" << "0" << "false true true none";
        QTest::newRow("connections capitals") << "notifyConnections" << "FALSE" << "false true true none";
        QTest::newRow("files false") << "notifyFiles" << "false" << "false true false none";
        QTest::newRow("files empty") << "notifyFiles" << "" << "false true true none";
        QTest::newRow("receive folder") << "lastReceiveFolder" << "/home/a/Inbox" << "false true true /home/a/Inbox";
    }

    void storedSettings()
    {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        ModelFixture f;
        QMap<QString, QString> values;
        if (!key.isEmpty())
            values.insert(key, stored);
        f.defaults = std::make_shared<test::FakeUserDefaults>(values);
        QCOMPARE(settings(f.model()), expected);
        // Reading writes nothing.
        QVERIFY(f.defaults->writes().isEmpty());
        QCOMPARE(f.defaults->stored(), values);
    }

    void realCollaborators()
    {
        // The model made as the application makes it: it reads the settings, starts
        // nothing, writes nothing, and a build tree is not packaged.
        const QString file = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + QStringLiteral("/Corvane/Corvane.conf");
        {
            AppModel model;
            QCOMPARE(settings(model), QStringLiteral("false true true none"));
            QCOMPARE(model.packaged(), false);
            QCoro::waitFor(model.refreshNotifications());
            QCOMPARE(model.notifications(), State::unavailable);
            QCOMPARE(model.notificationsDetail(), QStringLiteral("Notifications require the packaged app."));
            QCOMPARE(model.shareableDrives().first().path, QStringLiteral("/"));
        }
        QVERIFY2(!QFileInfo::exists(file), qPrintable(file));
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
        m.setLastReceiveFolder(QStringLiteral("/home/a/Inbox"));
        QCOMPARE(settings(m), QStringLiteral("true false true /home/a/Inbox"));
        // The next model reads what was stored.
        QCOMPARE(settings(f.remake()), QStringLiteral("true false true /home/a/Inbox"));
        // No folder removes the key.
        f.model().setLastReceiveFolder(std::nullopt);
        QCOMPARE(f.defaults->writes(),
                 QStringList({"set showInMenuBar=true", "set showInMenuBar=true", "set notifyConnections=false",
                              "set notifyFiles=false", "set notifyFiles=true", "set lastReceiveFolder=/home/a/Inbox",
                              "remove lastReceiveFolder"}));
        QVERIFY(!f.defaults->stored().contains(QStringLiteral("lastReceiveFolder")));
        QCOMPARE(f.remake().lastReceiveFolder(), std::nullopt);
    }

    void serviceErrorLogsEachNewText()
    {
        ModelFixture f;
        AppModel &m = f.model();
        const QString text = QStringLiteral("The background service isn’t running.");
        m.setServiceError(text);
        m.setServiceError(text);
        m.setServiceError(std::nullopt);
        m.setServiceError(text);
        m.setServiceError(QStringLiteral("Other"));
        QCOMPARE(f.log, QStringList({"service unavailable: " + text, "service unavailable: " + text,
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
        // Every published field, in order, is a property observers can follow.
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

        QSignalSpy connected(&m, &AppModel::connectedChanged);
        QSignalSpy error(&m, &AppModel::errorChanged);
        QSignalSpy any(&m, &AppModel::changed);
        m.setConnected(false); // unchanged value: still told
        m.setConnected(true);
        m.setShowInMenuBar(false);
        QCOMPARE(connected.count(), 2);
        QCOMPARE(any.count(), 3);
        // Observers see the new value when they are told.
        std::optional<QString> seen;
        connect(&m, &AppModel::errorChanged, this, [&] { seen = m.error(); });
        m.setError(QStringLiteral("Second"));
        QCOMPARE(seen, QStringLiteral("Second"));
        QCOMPARE(error.count(), 1);
    }
};

QTEST_GUILESS_MAIN(ModelStateTest)
#include "tst_model_state.moc"
