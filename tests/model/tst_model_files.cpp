#include "standin_model.h"

#include "model/drive_only_panel_delegate.h"

#include <QDir>
#include <QMimeData>
#include <QTest>

using namespace cv;
using namespace cv::test;

// Sending and copying files, the panels that choose them, and drops.

namespace {

const QString mount = "/mnt/alpha";
const QString oneComputer = "Drop items from one computer at a time.";
const QString notLocal = "Drop local files or folders to send them.";
const QString notReady = "This computer is no longer ready to receive files.";
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

// Alpha accepts files, its writable share is mounted, copies are possible.
QJsonObject ready() { return alpha(true); }

// Alpha does not accept files; its share is mounted, writable unless `readOnly`.
QJsonObject mountedOnly(bool readOnly = false) { return alpha(false, mount, readOnly); }

QString copyLine(const QStringList &sources, const QString &destination)
{
    return R"({"op":"copy","id":"ID","sources":)" + QJsonDocument(QJsonArray::fromStringList(sources)).toJson(QJsonDocument::Compact)
        + R"(,"destination":")" + destination + R"("})";
}

QString downloads() { return QDir::homePath() + "/Downloads"; }

} // namespace

class TestModelFiles : public QObject {
    Q_OBJECT

private slots:
    // "send_files" and "copy": the exact lines sent, and the refusals (a sending says
    // why; a copy refuses silently).
    void transfer_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QString>("destination"); // none: a sending
        QTest::addColumn<QString>("sent"); // or the error when nothing is sent
        const QString home = "/home/me/Downloads";
        const QList<QUrl> one{file("/tmp/a")};
        QJsonObject choosing = offeringPeer("p1", "Alpha", true);
        choosing["choice_required"] = true;
        QJsonObject busy = ready();
        busy["control_busy"] = true;
        QTest::newRow("send: paths in order, as given") << ready() << QList<QUrl>{file("/home/me/b.txt"), file("/home/me/./a dir/")}
            << QString() << R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/b.txt","/home/me/./a dir"]})";
        QTest::newRow("send: a file of this host by name") << ready() << QList<QUrl>{QUrl("file://localhost/home/me/b.txt")} << QString()
            << R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/b.txt"]})";
        QTest::newRow("send: busy") << busy << one << QString() << notReady;
        QTest::newRow("send: computer does not accept files") << alpha(false, std::nullopt) << one << QString() << notReady;
        QTest::newRow("send: service cannot receive") << alpha(true, std::nullopt, false, {}) << one << QString() << notReady;
        QTest::newRow("send: choice pending") << wire::status({choosing}, 0, {"receive_transfer"}) << one << QString() << notReady;
        QTest::newRow("send: empty") << ready() << QList<QUrl>{} << QString() << notLocal;
        QTest::newRow("send: web address") << ready() << QList<QUrl>{file("/tmp/a"), QUrl("https://example.com/a")} << QString() << notLocal;
        QTest::newRow("send: relative file address") << ready() << QList<QUrl>{QUrl("file:a")} << QString() << notLocal;
        QTest::newRow("send: file on another host") << ready() << QList<QUrl>{QUrl("file://beta/tmp/a")} << QString() << notLocal;
        QTest::newRow("copy: standardised paths, no peer")
            << ready() << QList<QUrl>{file("/mnt/alpha/x/../b.txt"), file("/mnt/alpha//c/")} << home + '/'
            << R"({"op":"copy","id":"ID","sources":["/mnt/alpha/b.txt","/mnt/alpha/c"],"destination":"/home/me/Downloads"})";
        // The destination's name only begins like the source's: not inside it.
        QTest::newRow("copy: beside a source") << ready() << QList<QUrl>{file("/home/me/Down")} << home
            << R"({"op":"copy","id":"ID","sources":["/home/me/Down"],"destination":"/home/me/Downloads"})";
        QTest::newRow("copy: no fast_copy") << alpha(true, mount, false, {"receive_transfer"}) << one
                                            << home << "";
        QTest::newRow("copy: not mounted") << alpha(true, std::nullopt) << one << home << "";
        QTest::newRow("copy: empty") << ready() << QList<QUrl>{} << home << "";
        QTest::newRow("copy: web address") << ready() << QList<QUrl>{QUrl("https://example.com/a")} << home << "";
        // Never a copy into itself.
        QTest::newRow("copy: destination equals a source") << ready() << QList<QUrl>{file("/home/me"), file(mount)} << mount << "";
        QTest::newRow("copy: destination inside a source") << ready() << QList<QUrl>{file("/mnt/")} << mount << "";
    }

    void transfer()
    {
        QFETCH(QJsonObject, status);
        QFETCH(QList<QUrl>, urls);
        QFETCH(QString, destination);
        QFETCH(QString, sent);
        const bool sends = sent.startsWith('{');
        StandinModel s(status);
        QVERIFY(s.started);
        if (destination.isNull())
            s.model().send(urls, "p1");
        else
            s.model().copy(urls, file(destination), "p1");
        QCOMPARE(s.model().mutating(), sends);
        QCOMPARE(s.model().error(), sends || sent.isEmpty() ? std::nullopt : std::optional<QString>(sent));
        QVERIFY(s.settle());
        QCOMPARE(s.commandsAfterAWhile().size(), sends ? 1 : 0);
        QCOMPARE(s.sent(), sends ? QStringList{sent} : QStringList{});
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
        QCOMPARE(s.sent(), QStringList{copyLine({"/mnt/alpha/photos"}, downloads())});

        // Without copies nothing is offered.
        s.install(alpha(true, mount, false, {}));
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
    void decisions_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<QList<QUrl>>("items");
        QTest::addColumn<QString>("sent"); // or the error when nothing is sent; "refused": the drop is not taken

        QJsonObject busy = mountedOnly();
        busy["control_busy"] = true;
        QTest::newRow("refused: busy") << busy << QList<QUrl>{file("/tmp/a")} << "refused";
        QTest::newRow("refused: empty") << mountedOnly() << QList<QUrl>{} << "refused";
        QTest::newRow("refused: neither send nor copy") << alpha(false, std::nullopt) << QList<QUrl>{file("/tmp/a")} << "refused";
        QTest::newRow("refused: mounted without fast_copy") << alpha(false, mount, false, {"receive_transfer"})
                                                            << QList<QUrl>{file("/tmp/a")} << "refused";
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
        QCOMPARE(s.model().acceptDrop(items, "p1"), sent != "refused");
        // Taken at once; nothing is decided before the event loop runs.
        QVERIFY(!s.model().mutating());
        QCOMPARE(s.model().error(), std::nullopt);
        if (sent == "refused") {
            QVERIFY(s.commandsAfterAWhile().isEmpty());
            QCOMPARE(s.model().error(), std::nullopt);
        } else if (sent.startsWith('{')) {
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

QTEST_MAIN(TestModelFiles)
#include "tst_model_files.moc"
