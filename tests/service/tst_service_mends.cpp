// A client destroyed with an exchange in flight, and the support sentence as its
// catalogs know it.
#include "fake_clock.h"
#include "fake_workspace.h"
#include "outcome.h"
#include "standin.h"

#include "localization/localization.h"
#include "service/diagnostics.h"
#include "service/records.h"
#include "service/service_client.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QTest>

using namespace cv;
using namespace cv::test;

class ServiceMendsTest : public QObject {
    Q_OBJECT

private slots:
    // Destroying the client returns at once, not when the hung service's 20 s wait
    // runs out; the exchange that ends later (the service going away) is dropped and
    // never resumes the request on the freed client.
    void destroyedClientDropsItsExchange()
    {
        Standin standin;
        standin.setScript(QJsonObject{{"ops", QJsonObject{{"status", QJsonObject{{"silent", true}}}}}, {"lifetime", 60}});
        QVERIFY(standin.start());
        auto client = std::make_unique<ServiceClient>(standin.runtimeDir(), ServiceClient::currentUid(), 2.0, 20.0);
        std::optional<Outcome<ServiceStatus>> ended;
        auto waiting = [](ServiceClient &c, std::optional<Outcome<ServiceStatus>> &out) -> QCoro::Task<> {
            QCoro::Task<Outcome<ServiceStatus>> request = capture(c.request<ServiceStatus>(Command{.op = "status"}));
            out = co_await std::move(request);
        };
        QCoro::Task<> task = waiting(*client, ended);
        QTRY_COMPARE(standin.recorded().size(), 1); // the exchange waits for the reply
        QElapsedTimer destroying;
        destroying.start();
        client.reset();
        QVERIFY2(destroying.elapsed() < 10000, "the destructor waited for the exchange");
        standin.stop(); // the exchange ends now, with the connection closed
        QTest::qWait(300);
        QVERIFY(!ended);
    }

    // The saved-archive alert is translated by the catalog entry keyed by the support
    // sentence, whose only placeholder is the file.
    void supportSentenceIsTheCatalogKey()
    {
        const QString key = QStringLiteral(
            "Please email {file} to support@corvane.app and tell us what happened. The archive includes the names "
            "of computers and files that Corvane has used. Nothing is sent automatically.");
        Localization::install("de", QJsonObject{{key, "Bitte {file} an support@corvane.app senden."}});
        Standin standin;
        standin.setScript(QJsonObject{{"diagnostics", QJsonObject{{"archive", "zip"}}}});
        standin.exportEnvironment(false);
        qputenv("CV_MAC_SERVICE", QFile::encodeName(Standin::executable()));
        FakeClock clock;
        FakeAlerts alerts;
        FakeWorkspace workspace;
        QCoro::waitFor(Diagnostics::save(&alerts, &workspace, &clock));
        qunsetenv("CV_MAC_SERVICE");
        Localization::reset();
        QCOMPARE(alerts.shown.size(), 1);
        QVERIFY2(alerts.shown.first().informative.startsWith("Bitte Corvane diagnostics "),
                 qPrintable(alerts.shown.first().informative));
    }
};

QTEST_GUILESS_MAIN(ServiceMendsTest)
#include "tst_service_mends.moc"
