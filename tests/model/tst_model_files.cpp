#include "standin_model.h"

#include "model/drive_only_panel_delegate.h"

#include <QDir>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

const QString mount = "/mnt/alpha";
const QStringList copying{"receive_transfer", "fast_copy"};

// Alpha ("p1") as `peer` and the service's `capabilities`.
QJsonObject withPeer(const QJsonObject &peer, const QStringList &capabilities = copying)
{
    return wire::status({peer}, 0, capabilities);
}

// Alpha accepts files, its writable share is mounted, copies are possible.
QJsonObject ready() { return withPeer(offeringPeer("p1", "Alpha", true, mount, false)); }

QUrl file(const QString &path) { return QUrl::fromLocalFile(path); }

} // namespace

class TestModelFiles : public QObject {
    Q_OBJECT

private slots:
    void send_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QString>("sent"); // or the error when nothing is sent
        const QString notReady = "This computer is no longer ready to receive files.";
        const QString notLocal = "Drop local files or folders to send them.";
        const QList<QUrl> one{file("/tmp/a")};
        QJsonObject choosing = offeringPeer("p1", "Alpha", true);
        choosing["choice_required"] = true;
        QTest::newRow("paths in order, as given") << ready() << false << QList<QUrl>{file("/home/me/b.txt"), file("/home/me/./a dir/")}
            << R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/b.txt","/home/me/./a dir"]})";
        QTest::newRow("a file of this host by name") << ready() << false << QList<QUrl>{QUrl("file://localhost/home/me/b.txt")}
            << R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/b.txt"]})";
        QTest::newRow("busy") << ready() << true << one << notReady;
        QTest::newRow("computer does not accept files") << withPeer(offeringPeer("p1", "Alpha", false)) << false << one << notReady;
        QTest::newRow("service cannot receive") << withPeer(offeringPeer("p1", "Alpha", true), {}) << false << one << notReady;
        QTest::newRow("choice pending") << withPeer(choosing) << false << one << notReady;
        QTest::newRow("empty") << ready() << false << QList<QUrl>{} << notLocal;
        QTest::newRow("web address") << ready() << false << QList<QUrl>{file("/tmp/a"), QUrl("https://example.com/a")} << notLocal;
        QTest::newRow("relative file address") << ready() << false << QList<QUrl>{QUrl("file:a")} << notLocal;
        QTest::newRow("file on another host") << ready() << false << QList<QUrl>{QUrl("file://beta/tmp/a")} << notLocal;
    }

    void send()
    {
        QFETCH(QJsonObject, status);
        QFETCH(bool, busy);
        QFETCH(QList<QUrl>, urls);
        QFETCH(QString, sent);
        const bool sends = sent.startsWith('{');
        StandinModel s(status);
        QVERIFY(s.started);
        s.model().setMutating(busy);
        s.model().send(urls, "p1");
        QCOMPARE(s.model().error(), sends ? std::nullopt : std::optional<QString>(sent));
        QVERIFY(busy || s.settle());
        QCOMPARE(s.commandsAfterAWhile().size(), sends ? 1 : 0);
        QCOMPARE(s.sent(), sends ? QStringList{sent} : QStringList{});
    }

    void copy_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("sent"); // empty: nothing, silently
        const QString downloads = "/home/me/Downloads";
        const QList<QUrl> fromMount{file("/mnt/alpha/a")};
        QTest::newRow("standardised paths, no peer")
            << ready() << QList<QUrl>{file("/mnt/alpha/x/../b.txt"), file("/mnt/alpha//c/")} << downloads + '/'
            << R"({"op":"copy","id":"ID","sources":["/mnt/alpha/b.txt","/mnt/alpha/c"],"destination":"/home/me/Downloads"})";
        // The destination's name only begins like the source's: not inside it.
        QTest::newRow("beside a source") << ready() << QList<QUrl>{file("/home/me/Down")} << downloads
            << R"({"op":"copy","id":"ID","sources":["/home/me/Down"],"destination":"/home/me/Downloads"})";
        QTest::newRow("no fast_copy") << withPeer(offeringPeer("p1", "Alpha", true, mount, false), {"receive_transfer"}) << fromMount
                                      << downloads << QString();
        QTest::newRow("not mounted") << withPeer(offeringPeer("p1", "Alpha", true)) << fromMount << downloads << QString();
        QTest::newRow("empty") << ready() << QList<QUrl>{} << downloads << QString();
        QTest::newRow("web address") << ready() << QList<QUrl>{QUrl("https://example.com/a")} << downloads << QString();
        // Never a copy into itself.
        QTest::newRow("destination equals a source") << ready() << QList<QUrl>{file("/home/me"), file(mount)} << mount << QString();
        QTest::newRow("destination inside a source") << ready() << QList<QUrl>{file("/mnt/")} << mount << QString();
    }

    void copy()
    {
        QFETCH(QJsonObject, status);
        QFETCH(QList<QUrl>, urls);
        QFETCH(QString, destination);
        QFETCH(QString, sent);
        StandinModel s(status);
        QVERIFY(s.started);
        s.model().copy(urls, file(destination), "p1");
        QCOMPARE(s.model().mutating(), !sent.isEmpty());
        QVERIFY(s.settle());
        QCOMPARE(s.model().error(), std::nullopt);
        QCOMPARE(s.commandsAfterAWhile().size(), sent.isEmpty() ? 0 : 1);
        QCOMPARE(s.sent(), sent.isEmpty() ? QStringList{} : QStringList{sent});
    }

    void pickFiles()
    {
        StandinModel s(ready());
        QVERIFY(s.started);
        FakeOpenPanels &panels = *s.fixture.openPanels;
        s.model().pickFiles("p1"); // cancelled
        s.model().pickFiles("ghost");
        s.model().setMutating(true);
        s.model().pickFiles("p1");
        s.model().setMutating(false);
        QCOMPARE(panels.shown.size(), 1);
        QVERIFY(s.commandsAfterAWhile().isEmpty());

        panels.answer = QList<QUrl>{file("/home/me/x"), file("/home/me/y")};
        s.model().pickFiles("p1");
        const OpenPanel &panel = panels.shown.last();
        QVERIFY(panel.canChooseDirectories && panel.canChooseFiles && panel.allowsMultipleSelection);
        QCOMPARE(panel.prompt, "Send");
        QCOMPARE(panel.message, "Send files and folders to Alpha. Originals stay here.");
        QVERIFY(s.settle());
        // Another sending of the same file gets a transfer id of its own.
        s.model().send({file("/home/me/x")}, "p1");
        QVERIFY(s.settle());
        QCOMPARE(s.sent(), (QStringList{R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/x","/home/me/y"]})",
                                        R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/x"]})"}));
        const QList<QByteArray> lines = s.commands();
        QVERIFY(QJsonDocument::fromJson(lines[0])["id"] != QJsonDocument::fromJson(lines[1])["id"]);
    }

    void getFiles()
    {
        StandinModel s(ready());
        QVERIFY(s.started);
        FakeOpenPanels &panels = *s.fixture.openPanels;
        panels.answer = QList<QUrl>{file("/mnt/alpha/photos")};
        s.model().getFiles("p1");
        QCOMPARE(panels.shown.size(), 1);
        const OpenPanel &panel = panels.shown.first();
        QVERIFY(panel.canChooseDirectories && panel.canChooseFiles && panel.allowsMultipleSelection);
        QCOMPARE(panel.prompt, "Copy to Downloads");
        QCOMPARE(panel.message, "Choose files and folders on Alpha. They’re copied to your Downloads folder at full speed.");
        QCOMPARE(panel.directoryURL, file("/mnt/alpha/"));
        // The panel is kept to the share.
        QVERIFY(panel.shouldEnable && panel.validate);
        QVERIFY(panel.shouldEnable(file("/mnt/alpha/photos")));
        QVERIFY(!panel.shouldEnable(file("/mnt/alphabet")));
        QCOMPARE(panel.validate(file(mount)), std::nullopt);
        const std::optional<OpenPanelRefusal> refusal = panel.validate(file("/etc/passwd"));
        QVERIFY(refusal);
        QCOMPARE(refusal->description, "Choose files and folders on Alpha.");
        QCOMPARE(refusal->recoverySuggestion, "Get Files copies from Alpha to your Downloads folder.");
        QVERIFY(s.settle());
        QCOMPARE(s.sent(), QStringList{R"({"op":"copy","id":"ID","sources":["/mnt/alpha/photos"],"destination":")" + QDir::homePath()
                                       + R"(/Downloads"})"});

        // Without copies nothing is offered.
        s.install(withPeer(offeringPeer("p1", "Alpha", true, mount, false), {}));
        s.model().getFiles("p1");
        QCOMPARE(panels.shown.size(), 1);
    }

    void inside_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<bool>("inside");
        QTest::newRow("the root") << mount << file(mount) << true;
        QTest::newRow("the root with a slash") << mount << file(mount + '/') << true;
        QTest::newRow("a child") << mount << file(mount + "/a/b.txt") << true;
        QTest::newRow("the parent") << mount << file("/mnt") << false;
        QTest::newRow("a sibling extending the name") << mount << file("/mnt/alpha2") << false;
        QTest::newRow("back out through dots") << mount << file(mount + "/../beta") << false;
        QTest::newRow("a root given unstandardised") << "/mnt/./alpha/" << file(mount + "/x") << true;
        QTest::newRow("not a file") << mount << QUrl("https://example.com/mnt/alpha") << false;
        QTest::newRow("dots above the top") << mount << file("/../mnt/alpha/x") << true;
        QTest::newRow("a root given above the top") << "/../mnt/alpha" << file(mount + "/x") << true;
        QTest::newRow("this host by name") << mount << QUrl("file://localhost/mnt/alpha/x") << true;
        QTest::newRow("another host") << mount << QUrl("file://beta/mnt/alpha/x") << false;
    }

    void inside()
    {
        QFETCH(QString, root);
        QFETCH(QUrl, url);
        QFETCH(bool, inside);
        const DriveOnlyPanelDelegate delegate(file(root), "Alpha");
        QCOMPARE(delegate.root(), file(mount));
        QCOMPARE(delegate.inside(url), inside);
        QCOMPARE(delegate.shouldEnable(url), inside);
        QCOMPARE(delegate.validate(url).has_value(), !inside);
    }
};

QTEST_MAIN(TestModelFiles)
#include "tst_model_files.moc"
