#include "standin_model.h"

#include <QDir>
#include <QMimeData>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

const QString alpha = QStringLiteral("p1");
const QString beta = QStringLiteral("p2");
const QString mount = QStringLiteral("/mnt/alpha");
const QStringList copying{QStringLiteral("receive_transfer"), QStringLiteral("fast_copy")};

QUrl file(const QString &path) { return QUrl::fromLocalFile(path); }

QString downloads() { return QDir::homePath() + QStringLiteral("/Downloads"); }

// Alpha does not accept files; its share is mounted, writable unless `readOnly`.
QJsonObject mountedOnly(bool readOnly = false)
{
    return wire::status(QJsonArray{offeringPeer(alpha, QStringLiteral("Alpha"), false, mount, readOnly)}, 0, copying);
}

QByteArray copyLine(const QStringList &sources, const QString &destination)
{
    QJsonArray list;
    for (const QString &source : sources)
        list.append(source);
    return QByteArray(R"({"op":"copy","id":"ID","sources":)") + QJsonDocument(list).toJson(QJsonDocument::Compact)
        + QByteArray(R"(,"destination":")") + destination.toUtf8() + QByteArray(R"("})");
}

// The items of a drop, as a view takes them from the dropped data.
QList<QUrl> dropped(const QByteArray &uriList)
{
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"), uriList);
    return data.urls();
}

} // namespace

class TestModelDrops : public QObject {
    Q_OBJECT

private slots:
    void twoLocalFilesAreSentInOrder()
    {
        StandinModel s(wire::status(QJsonArray{offeringPeer(alpha, QStringLiteral("Alpha"), true)}, 0, copying));
        QVERIFY(s.started);
        const QList<QUrl> items = dropped("file:///home/me/z.txt\r\nfile:///home/me/a%20b.txt\r\n");
        QCOMPARE(items.size(), 2);
        QVERIFY(s.model().acceptDrop(items, alpha));
        // Taken at once; nothing is decided before the event loop runs.
        QVERIFY(!s.model().mutating());
        QVERIFY(s.settle());
        QTRY_COMPARE(s.commands().size(), 1);
        QCOMPARE(withoutTransferId(s.commands().first()),
                 std::optional<QByteArray>(R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/z.txt","/home/me/a b.txt"]})"));
        QCOMPARE(s.model().error(), std::nullopt);
    }

    void refusedDrops_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QList<QUrl>>("items");
        const QList<QUrl> one{file(QStringLiteral("/tmp/a"))};
        QTest::newRow("busy") << mountedOnly() << true << one;
        QTest::newRow("empty") << mountedOnly() << false << QList<QUrl>{};
        QTest::newRow("neither send nor copy")
            << wire::status(QJsonArray{offeringPeer(alpha, QStringLiteral("Alpha"), false)}, 0, copying) << false << one;
        QTest::newRow("mounted without fast_copy")
            << wire::status(QJsonArray{offeringPeer(alpha, QStringLiteral("Alpha"), false, mount, false)}, 0,
                            {QStringLiteral("receive_transfer")})
            << false << one;
    }

    void refusedDrops()
    {
        QFETCH(QJsonObject, status);
        QFETCH(bool, busy);
        QFETCH(QList<QUrl>, items);
        StandinModel s(status);
        QVERIFY(s.started);
        if (busy)
            s.model().setMutating(true);
        QVERIFY(!s.model().acceptDrop(items, alpha));
        QVERIFY(s.commandsAfterAWhile().isEmpty());
        QCOMPARE(s.model().error(), std::nullopt);
    }

    void decisions_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<QList<QUrl>>("items");
        QTest::addColumn<QByteArray>("expected"); // empty: nothing sent
        QTest::addColumn<QString>("error");

        QTest::newRow("items of two computers")
            << mountedOnly() << QList<QUrl>{file(mount + QStringLiteral("/a")), file(QStringLiteral("/home/me/b"))}
            << QByteArray() << QStringLiteral("Drop items from one computer at a time.");
        QTest::newRow("local items on a read-only share")
            << mountedOnly(true) << QList<QUrl>{file(QStringLiteral("/home/me/b"))} << QByteArray()
            << QStringLiteral("Alpha shares its files read-only.");
        QTest::newRow("items from the mount go to Downloads")
            << mountedOnly() << QList<QUrl>{file(mount + QStringLiteral("/a")), file(mount + QStringLiteral("/sub/../c/"))}
            << copyLine({mount + QStringLiteral("/a"), mount + QStringLiteral("/c")}, downloads()) << QString();
        QTest::newRow("local items into the writable mount")
            << mountedOnly() << QList<QUrl>{file(QStringLiteral("/home/me/b")), file(QStringLiteral("/home/me/a"))}
            << copyLine({QStringLiteral("/home/me/b"), QStringLiteral("/home/me/a")}, mount) << QString();
        QTest::newRow("the mount root itself")
            << mountedOnly() << QList<QUrl>{file(mount + QLatin1Char('/'))} << copyLine({mount}, downloads()) << QString();
        QTest::newRow("the mount root with local items")
            << mountedOnly() << QList<QUrl>{file(mount), file(QStringLiteral("/home/me/b"))} << QByteArray()
            << QStringLiteral("Drop items from one computer at a time.");
        QTest::newRow("a sibling named like the mount is local")
            << mountedOnly() << QList<QUrl>{file(QStringLiteral("/mnt/alpha2/x"))}
            << copyLine({QStringLiteral("/mnt/alpha2/x")}, mount) << QString();
        QTest::newRow("a local folder holding the mount")
            << mountedOnly() << QList<QUrl>{file(QStringLiteral("/mnt"))} << QByteArray()
            << QStringLiteral("Drop items from one computer at a time.");
        QTest::newRow("a mount path given unstandardised")
            << wire::status(QJsonArray{offeringPeer(alpha, QStringLiteral("Alpha"), false, QStringLiteral("/mnt/./alpha/"), false)},
                            0, copying)
            << QList<QUrl>{file(mount), file(QStringLiteral("/home/me/b"))} << QByteArray()
            << QStringLiteral("Drop items from one computer at a time.");
        QTest::newRow("a share holding the Downloads folder")
            << wire::status(QJsonArray{offeringPeer(alpha, QStringLiteral("Alpha"), false, QDir::homePath(), false)}, 0, copying)
            << QList<QUrl>{file(QDir::homePath())} << QByteArray() << QStringLiteral("Drop items from one computer at a time.");
        QTest::newRow("sending wins over copying from the mount")
            << wire::status(QJsonArray{offeringPeer(alpha, QStringLiteral("Alpha"), true, mount, false)}, 0, copying)
            << QList<QUrl>{file(mount + QStringLiteral("/a"))}
            << QByteArray(R"({"op":"send_files","peer":"p1","id":"ID","paths":["/mnt/alpha/a"]})") << QString();
        QTest::newRow("an item without an address")
            << mountedOnly() << QList<QUrl>{file(QStringLiteral("/home/me/b")), QUrl()} << QByteArray()
            << QStringLiteral("Couldn’t read the dropped file.");
        QTest::newRow("an unreadable address")
            << mountedOnly() << QList<QUrl>{QUrl(QStringLiteral("http://[bad"))} << QByteArray()
            << QStringLiteral("Couldn’t read the dropped file.");
        QTest::newRow("a local file named through this host")
            << mountedOnly() << QList<QUrl>{QUrl(QStringLiteral("file://localhost/home/me/b"))}
            << copyLine({QStringLiteral("/home/me/b")}, mount) << QString();
        QTest::newRow("a file on another host")
            << mountedOnly() << QList<QUrl>{QUrl(QStringLiteral("file://beta/home/me/b"))} << QByteArray()
            << QStringLiteral("Drop local files or folders to send them.");
        QTest::newRow("a relative file address")
            << mountedOnly() << QList<QUrl>{QUrl(QStringLiteral("file:b"))} << QByteArray()
            << QStringLiteral("Drop local files or folders to send them.");
        QTest::newRow("items from the mount named from above the top")
            << mountedOnly() << QList<QUrl>{file(QStringLiteral("/../mnt/alpha/a"))}
            << copyLine({mount + QStringLiteral("/a")}, downloads()) << QString();
        QTest::newRow("a web address")
            << mountedOnly() << QList<QUrl>{file(QStringLiteral("/home/me/b")), QUrl(QStringLiteral("https://example.com/x"))}
            << QByteArray() << QStringLiteral("Drop local files or folders to send them.");
    }

    void decisions()
    {
        QFETCH(QJsonObject, status);
        QFETCH(QList<QUrl>, items);
        QFETCH(QByteArray, expected);
        QFETCH(QString, error);
        StandinModel s(status);
        QVERIFY(s.started);
        QVERIFY(s.model().acceptDrop(items, alpha));
        if (expected.isEmpty()) {
            QTRY_COMPARE(s.model().error(), std::optional<QString>(error));
            QVERIFY(!s.model().mutating());
            QVERIFY(s.commandsAfterAWhile().isEmpty());
        } else {
            QTRY_COMPARE(s.commands().size(), 1);
            QCOMPARE(withoutTransferId(s.commands().first()), std::optional<QByteArray>(expected));
            QVERIFY(s.settle());
            QCOMPARE(s.model().error(), std::nullopt);
        }
    }

    void theStateWhenTheItemsAreReadDecides()
    {
        // Alpha accepted files when the drop was taken, and only has its share
        // mounted by the time the items are read: the drop becomes a copy.
        StandinModel s(wire::status(QJsonArray{offeringPeer(alpha, QStringLiteral("Alpha"), true, mount, false)}, 0, copying));
        QVERIFY(s.started);
        QVERIFY(s.model().acceptDrop({file(QStringLiteral("/home/me/b"))}, alpha));
        s.install(mountedOnly());
        QTRY_COMPARE(s.commands().size(), 1);
        QCOMPARE(withoutTransferId(s.commands().first()), std::optional<QByteArray>(copyLine({QStringLiteral("/home/me/b")}, mount)));
    }

    void aComputerThatLeftIsReported()
    {
        StandinModel s(mountedOnly());
        QVERIFY(s.started);
        QVERIFY(s.model().acceptDrop({file(QStringLiteral("/home/me/b"))}, alpha));
        s.install(wire::status(QJsonArray{offeringPeer(beta, QStringLiteral("Beta"), true)}, 0, copying));
        QTRY_COMPARE(s.model().error(), std::optional<QString>(QStringLiteral("This computer is no longer ready to receive files.")));
        QVERIFY(s.commandsAfterAWhile().isEmpty());
    }

    void aServiceThatBecameBusyIsReported()
    {
        StandinModel s(mountedOnly());
        QVERIFY(s.started);
        QVERIFY(s.model().acceptDrop({file(mount + QStringLiteral("/a"))}, alpha));
        s.model().setMutating(true);
        QTRY_COMPARE(s.model().error(), std::optional<QString>(QStringLiteral("This computer is no longer ready to receive files.")));
        QVERIFY(s.commandsAfterAWhile().isEmpty());
    }
};

QTEST_MAIN(TestModelDrops)
#include "tst_model_drops.moc"
