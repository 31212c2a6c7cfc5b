#include "standin_model.h"

#include <QDir>
#include <QMimeData>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

const QString mount = "/mnt/alpha";
const QString oneComputer = "Drop items from one computer at a time.";
const QString notLocal = "Drop local files or folders to send them.";
const QString unreadable = "Couldn’t read the dropped file.";

QUrl file(const QString &path) { return QUrl::fromLocalFile(path); }

// Alpha ("p1") with its share at `share` (writable unless `readOnly`), on a service
// that sends and copies unless `capabilities` say otherwise.
QJsonObject alpha(bool acceptsFiles, const std::optional<QString> &share = mount, bool readOnly = false,
                  const QStringList &capabilities = {"receive_transfer", "fast_copy"})
{
    return wire::status({offeringPeer("p1", "Alpha", acceptsFiles, share, share ? std::optional<bool>(readOnly) : std::nullopt)}, 0,
                        capabilities);
}

// Alpha does not accept files; its share is mounted, writable unless `readOnly`.
QJsonObject mountedOnly(bool readOnly = false) { return alpha(false, mount, readOnly); }

QString copyLine(const QStringList &sources, const QString &destination)
{
    return R"({"op":"copy","id":"ID","sources":)" + QJsonDocument(QJsonArray::fromStringList(sources)).toJson(QJsonDocument::Compact)
        + R"(,"destination":")" + destination + R"("})";
}

QString downloads() { return QDir::homePath() + "/Downloads"; }

} // namespace

class TestModelDrops : public QObject {
    Q_OBJECT

private slots:
    void refusedDrops_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QList<QUrl>>("items");
        const QList<QUrl> one{file("/tmp/a")};
        QTest::newRow("busy") << mountedOnly() << true << one;
        QTest::newRow("empty") << mountedOnly() << false << QList<QUrl>{};
        QTest::newRow("neither send nor copy") << alpha(false, std::nullopt) << false << one;
        QTest::newRow("mounted without fast_copy") << alpha(false, mount, false, {"receive_transfer"}) << false << one;
    }

    void refusedDrops()
    {
        QFETCH(QJsonObject, status);
        QFETCH(bool, busy);
        QFETCH(QList<QUrl>, items);
        StandinModel s(status);
        QVERIFY(s.started);
        s.model().setMutating(busy);
        QVERIFY(!s.model().acceptDrop(items, "p1"));
        QVERIFY(s.commandsAfterAWhile().isEmpty());
        QCOMPARE(s.model().error(), std::nullopt);
    }

    void decisions_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<QList<QUrl>>("items");
        QTest::addColumn<QString>("sent"); // or the error when nothing is sent

        QMimeData data; // the items of a drop, as a view takes them from the dropped data
        data.setData("text/uri-list", "file:///home/me/z.txt\r\nfile:///home/me/a%20b.txt\r\n");
        QTest::newRow("two local files to a computer that accepts files") << alpha(true, std::nullopt) << data.urls()
            << R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/z.txt","/home/me/a b.txt"]})";
        QTest::newRow("sending wins over copying from the mount") << alpha(true) << QList<QUrl>{file(mount + "/a")}
            << R"({"op":"send_files","peer":"p1","id":"ID","paths":["/mnt/alpha/a"]})";
        QTest::newRow("items of two computers") << mountedOnly() << QList<QUrl>{file(mount + "/a"), file("/home/me/b")} << oneComputer;
        QTest::newRow("local items on a read-only share") << mountedOnly(true) << QList<QUrl>{file("/home/me/b")}
                                                          << "Alpha shares its files read-only.";
        QTest::newRow("items from the mount go to Downloads") << mountedOnly() << QList<QUrl>{file(mount + "/a"), file(mount + "/sub/../c/")}
                                                              << copyLine({mount + "/a", mount + "/c"}, downloads());
        QTest::newRow("local items into the writable mount") << mountedOnly() << QList<QUrl>{file("/home/me/b"), file("/home/me/a")}
                                                             << copyLine({"/home/me/b", "/home/me/a"}, mount);
        QTest::newRow("the mount root itself") << mountedOnly() << QList<QUrl>{file(mount + '/')} << copyLine({mount}, downloads());
        QTest::newRow("the mount root with local items") << mountedOnly() << QList<QUrl>{file(mount), file("/home/me/b")} << oneComputer;
        QTest::newRow("a sibling named like the mount is local") << mountedOnly() << QList<QUrl>{file("/mnt/alpha2/x")}
                                                                 << copyLine({"/mnt/alpha2/x"}, mount);
        QTest::newRow("a local folder holding the mount") << mountedOnly() << QList<QUrl>{file("/mnt")} << oneComputer;
        QTest::newRow("a mount path given unstandardised") << alpha(false, QString("/mnt/./alpha/"))
                                                           << QList<QUrl>{file(mount), file("/home/me/b")} << oneComputer;
        QTest::newRow("a share holding the Downloads folder") << alpha(false, QDir::homePath()) << QList<QUrl>{file(QDir::homePath())}
                                                              << oneComputer;
        QTest::newRow("items from the mount named from above the top") << mountedOnly() << QList<QUrl>{file("/../mnt/alpha/a")}
                                                                       << copyLine({mount + "/a"}, downloads());
        QTest::newRow("a local file named through this host") << mountedOnly() << QList<QUrl>{QUrl("file://localhost/home/me/b")}
                                                              << copyLine({"/home/me/b"}, mount);
        QTest::newRow("an item without an address") << mountedOnly() << QList<QUrl>{file("/home/me/b"), QUrl()} << unreadable;
        QTest::newRow("an unreadable address") << mountedOnly() << QList<QUrl>{QUrl("http://[bad")} << unreadable;
        QTest::newRow("a file on another host") << mountedOnly() << QList<QUrl>{QUrl("file://beta/home/me/b")} << notLocal;
        QTest::newRow("a relative file address") << mountedOnly() << QList<QUrl>{QUrl("file:b")} << notLocal;
        QTest::newRow("a web address") << mountedOnly() << QList<QUrl>{file("/home/me/b"), QUrl("https://example.com/x")} << notLocal;
    }

    void decisions()
    {
        QFETCH(QJsonObject, status);
        QFETCH(QList<QUrl>, items);
        QFETCH(QString, sent);
        StandinModel s(status);
        QVERIFY(s.started);
        QVERIFY(s.model().acceptDrop(items, "p1"));
        // Taken at once; nothing is decided before the event loop runs.
        QVERIFY(!s.model().mutating());
        QCOMPARE(s.model().error(), std::nullopt);
        if (sent.startsWith('{')) {
            QTRY_COMPARE(s.commands().size(), 1);
            QCOMPARE(s.sent(), QStringList{sent});
            QVERIFY(s.settle());
            QCOMPARE(s.model().error(), std::nullopt);
        } else {
            QTRY_COMPARE(s.model().error(), sent);
            QVERIFY(!s.model().mutating());
            QVERIFY(s.commandsAfterAWhile().isEmpty());
        }
    }

    // What a drop becomes is decided from the state when its items are read; a drop
    // for a computer that then left, or on a service that became busy, says so
    // rather than doing nothing.
    void theStateWhenTheItemsAreReadDecides_data()
    {
        QTest::addColumn<bool>("acceptedFiles");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("sent"); // or the error when nothing is sent
        const QString notReady = "This computer is no longer ready to receive files.";
        QTest::newRow("accepts no more files, share mounted") << true << "mounted only" << copyLine({"/home/me/b"}, mount);
        QTest::newRow("the computer left") << false << "left" << notReady;
        QTest::newRow("the service became busy") << false << "busy" << notReady;
    }

    void theStateWhenTheItemsAreReadDecides()
    {
        QFETCH(bool, acceptedFiles);
        QFETCH(QString, change);
        QFETCH(QString, sent);
        StandinModel s(alpha(acceptedFiles));
        QVERIFY(s.started);
        QVERIFY(s.model().acceptDrop({file("/home/me/b")}, "p1"));
        if (change == "mounted only")
            s.install(mountedOnly());
        else if (change == "left")
            s.install(wire::status({offeringPeer("p2", "Beta", true)}, 0, {"receive_transfer", "fast_copy"}));
        else
            s.model().setMutating(true);
        if (sent.startsWith('{')) {
            QTRY_COMPARE(s.commands().size(), 1);
            QCOMPARE(s.sent(), QStringList{sent});
        } else {
            QTRY_COMPARE(s.model().error(), sent);
            QVERIFY(s.commandsAfterAWhile().isEmpty());
        }
    }
};

QTEST_MAIN(TestModelDrops)
#include "tst_model_drops.moc"
