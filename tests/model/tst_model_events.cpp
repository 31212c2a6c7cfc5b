#include "follow_helpers.h"

#include "service/reply.h"

#include <QTest>

#include <limits>

using namespace cv;
using namespace cv::test;

namespace {

// An event as the service would send it, through the real decoding.
ServiceEvent decoded(const QJsonObject &object)
{
    const QByteArray line = wire::ok(wire::events({object}, 1));
    const Reply<EventBatch> reply = decodeReply<EventBatch>(std::string_view(line.constData(), size_t(line.size() - 1)));
    return reply.result->events.at(0);
}

ServiceEvent delivered(const QString &peer, const QJsonObject &detail)
{
    return decoded(serviceEvent(QStringLiteral("delivered"), peer, detail));
}

} // namespace

class ModelEventsTest : public QObject {
    Q_OBJECT

private slots:
    void deliveryCounts_data()
    {
        QTest::addColumn<QJsonObject>("detail");
        QTest::addColumn<quint64>("count");
        QTest::addColumn<QStringList>("paths");
        QTest::newRow("files absent") << QJsonObject{{"path", "/r/a"}} << quint64(1) << QStringList{"/r/a"};
        QTest::newRow("files zero") << QJsonObject{{"path", "/r/a"}, {"files", 0}} << quint64(0) << QStringList{"/r/a"};
        QTest::newRow("files five") << QJsonObject{{"files", 5}} << quint64(5) << QStringList{};
    }

    void deliveryCounts()
    {
        QFETCH(QJsonObject, detail);
        QFETCH(quint64, count);
        QFETCH(QStringList, paths);
        ModelFixture f;
        AppModel &m = f.model();
        AppModelAccess::handle(m, delivered("p1", detail));
        const auto batch = AppModelAccess::pendingDeliveries(m).value("p1");
        QCOMPARE(batch.count, count);
        QCOMPARE(batch.paths, paths);
        // Even a count of zero opens the window.
        QCOMPARE(batch.until, f.clock.now().addSecs(2));
        QVERIFY(!m.error());
    }

    void batchGrowsAndSaturates()
    {
        ModelFixture f;
        AppModel &m = f.model();
        const auto batch = [&m] { return AppModelAccess::pendingDeliveries(m).value("p1"); };
        AppModelAccess::handle(m, delivered("p1", {{"path", "/r/a"}, {"files", 2}}));
        f.clock.advance(1.5);
        // A count of zero still extends the window.
        AppModelAccess::handle(m, delivered("p1", {{"files", 0}}));
        QCOMPARE(batch().count, quint64(2));
        QCOMPARE(batch().until, f.clock.now().addSecs(2));
        AppModelAccess::handle(m, delivered("p1", {{"path", "/r/b"}}));
        AppModelAccess::handle(m, delivered("p2", {{"path", "/r/c"}}));
        QCOMPARE(batch().count, quint64(3));
        QCOMPARE(batch().paths, (QStringList{"/r/a", "/r/b"}));
        QCOMPARE(AppModelAccess::pendingDeliveries(m).size(), 2);

        // Counts add up to the largest value and stay there; the event still counts.
        const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
        ServiceEvent huge = delivered("p1", {{"path", "/r/d"}});
        huge.detail.files = top - 4;
        AppModelAccess::handle(m, huge);
        QCOMPARE(batch().count, top - 1);
        f.clock.advance(1);
        AppModelAccess::handle(m, delivered("p1", {{"path", "/r/e"}, {"files", 5}}));
        QCOMPARE(batch().count, top);
        QCOMPARE(batch().paths, (QStringList{"/r/a", "/r/b", "/r/d", "/r/e"}));
        QCOMPARE(batch().until, f.clock.now().addSecs(2));
    }

    void senderNames()
    {
        ModelFixture f;
        AppModel &m = f.model();
        f.client->always(QStringLiteral("status"),
                         wire::ok(wire::status({wire::peer("p1", "Studio")}, 1, {}, {wire::remembered("p2", "Laptop")})));
        run(AppModelAccess::updateStatus(m, std::nullopt));
        for (const char *peer : {"p1", "p2", "p3"})
            AppModelAccess::handle(m, delivered(peer, {}));
        QCOMPARE(AppModelAccess::pendingDeliveries(m).value("p1").name, QStringLiteral("Studio"));
        QCOMPARE(AppModelAccess::pendingDeliveries(m).value("p2").name, QStringLiteral("Laptop"));
        QCOMPARE(AppModelAccess::pendingDeliveries(m).value("p3").name, QStringLiteral("Computer"));
        AppModelAccess::handle(m, decoded(serviceEvent("delivery_failed", "p1", {})));
        QCOMPARE(m.error(), std::optional<QString>(QStringLiteral("A delivery from Studio failed.")));
    }

    void reconnectDueTime()
    {
        ModelFixture f;
        AppModel &m = f.model();
        const ServiceEvent applied = decoded(serviceEvent(QStringLiteral("remembered_action_applied"), "p1"));
        AppModelAccess::handle(m, applied);
        QCOMPARE(AppModelAccess::pendingReconnect(m).value("p1"), f.clock.now().addSecs(6));
        f.clock.advance(4);
        AppModelAccess::handle(m, applied);
        QCOMPARE(AppModelAccess::pendingReconnect(m).size(), 1);
        QCOMPARE(AppModelAccess::pendingReconnect(m).value("p1"), f.clock.now().addSecs(6));
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
    }

    void failures_data()
    {
        QTest::addColumn<QJsonObject>("event");
        QTest::addColumn<QString>("error");
        QTest::newRow("failed with text")
            << serviceEvent("delivery_failed", "p1", {{"error", "Disk full."}}) << "Disk full.";
        QTest::newRow("failed without text")
            << serviceEvent("delivery_failed", "p9", {}) << "A delivery from Computer failed.";
        QTest::newRow("no computer, error")
            << serviceEvent("anything", QString(), {{"error", "The share went away."}}) << "The share went away.";
        QTest::newRow("no computer, delivered name")
            << serviceEvent("delivered", QString(), {{"error", "Lost."}, {"path", "/r/a"}}) << "Lost.";
        QTest::newRow("no computer, no error") << serviceEvent("delivery_failed", QString(), {}) << QString();
        QTest::newRow("other name with error")
            << serviceEvent("transfer_failed", "p1", {{"error", "Nope."}}) << QString();
        QTest::newRow("name compared exactly") << serviceEvent("Delivered", "p1", {}) << QString();
    }

    void failures()
    {
        QFETCH(QJsonObject, event);
        QFETCH(QString, error);
        ModelFixture f;
        AppModel &m = f.model();
        AppModelAccess::handle(m, decoded(event));
        QCOMPARE(m.error(), error.isNull() ? std::nullopt : std::optional<QString>(error));
        // Failures are shown at once and leave both tables alone.
        QVERIFY(AppModelAccess::pendingDeliveries(m).isEmpty());
        QVERIFY(AppModelAccess::pendingReconnect(m).isEmpty());
    }
};

QTEST_GUILESS_MAIN(ModelEventsTest)
#include "tst_model_events.moc"
