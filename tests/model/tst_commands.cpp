// The user's commands as the exact lines the stand-in service receives: connections,
// choices, sending, copying, drops and the panels that choose files.

#include "model_fixture.h"

#include "model/drive_only_panel_delegate.h"

#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace cv;
using namespace cv::test;

namespace {

using Action = std::function<void(AppModel &)>;

const QString mount = "/mnt/alpha";
const QString notReady = "This computer is no longer ready to receive files.";
const QString notLocal = "Drop local files or folders to send them.";
const QString oneComputer = "Drop items from one computer at a time.";
const QString unreadable = "Couldn’t read the dropped file.";
const AppModel::Disconnected gone{{"p2", "Gamma"}, {"p3", "Delta"}};

QUrl file(const QString &path) { return QUrl::fromLocalFile(path); }

// Alpha ("p1"), connected, and "r1", only remembered.
QJsonObject alphaWith(const PeerJson &alpha, const QStringList &capabilities = {"receive_transfer", "fast_copy"}, bool busy = false)
{
    return status({.peers = {alpha.named("Alpha")}, .remembered = {remembered("r1").named("Remembered")}, .capabilities = capabilities,
                   .busy = busy});
}
// Alpha accepts files and shares a writable folder, mounted.
QJsonObject ready() { return alphaWith(peer("p1").receiving().mounted(mount).offering()); }
// Alpha only shares a folder, mounted, writable unless `readOnly`.
QJsonObject mountedOnly(bool readOnly = false) { return alphaWith(peer("p1").mounted(mount).offering(readOnly)); }

QString copyLine(const QStringList &sources, const QString &destination)
{
    return R"({"op":"copy","id":"ID","sources":[")" + sources.join(R"(",")") + R"("],"destination":")" + destination + R"("})";
}
QString downloads() { return QDir::homePath() + "/Downloads"; }

// The status, the items; the destination of a copy (null: a sending); the line sent,
// or the error when nothing is sent.
struct SendOrCopy { QJsonObject status; QList<QUrl> urls; QString destination, sent; };

// A command given twice; the computers disconnected after it, the line sent (empty:
// none) and the question asked first (of a "forget").
struct Sent { Action action; AppModel::Disconnected after; QString line, question; };

} // namespace

Q_DECLARE_METATYPE(Sent)
Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(SendOrCopy)

class CommandsTest : public QObject {
    Q_OBJECT

private slots:
    void refusedWhileNotReady_data()
    {
        QTest::addColumn<Action>("state");
        QTest::newRow("disconnected") << Action([](AppModel &m) { m.setConnected(false); });
        QTest::newRow("busy") << Action([](AppModel &m) { install(m, alphaWith(peer("p1"), {"dismiss"}, true)); });
        QTest::newRow("mutating") << Action([](AppModel &m) { m.setMutating(true); });
        // In the demo nothing stops the question; its answer is refused.
        QTest::newRow("demo") << Action([](AppModel &m) { m.setDemo(true); });
    }

    void refusedWhileNotReady()
    {
        QFETCH(Action, state);
        StandinModel s(alphaWith(peer("p1"), {"dismiss"}));
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.setDisconnected(gone);
        state(m);
        const bool mutating = m.mutating();
        m.run(Command{.op = "disconnect", .peer = "p1"});
        m.run(Command{.op = "connect", .peer = "p2"});
        m.dismiss({"t1"});
        m.forget("p1");
        QCOMPARE(s.fixture.alerts->shown.size(), int(m.demo()));
        QCOMPARE(m.mutating(), mutating);
        QCOMPARE(m.disconnected(), gone);
        QVERIFY(s.standin.recorded().isEmpty() && s.sentAfterAWhile().isEmpty());
    }

    // Each command sends one line however quickly it is repeated, and keeps the list of
    // computers the user disconnected.
    void sentLines_data()
    {
        QTest::addColumn<Sent>("row");
        AppModel::Disconnected alphaToo = gone;
        alphaToo.insert("p1", "Alpha");
        const auto run = [](const QString &op, const QString &peer) { return Action([=](AppModel &m) { m.run(Command{.op = op, .peer = peer}); }); };
        const auto choose = [](QString mode, std::optional<QString> path, std::optional<QStringList> paths, bool readOnly, bool remember,
                                std::optional<QString> code) {
            return Action([=](AppModel &m) { m.choose("p1", mode, path, paths, readOnly, remember, code); });
        };
        QTest::newRow("disconnect") << Sent{run("disconnect", "p1"), alphaToo, R"({"op":"disconnect","peer":"p1"})", ""};
        QTest::newRow("connect") << Sent{run("connect", "p2"), {{"p3", "Delta"}}, R"({"op":"connect","peer":"p2"})", ""};
        QTest::newRow("resolve a copy") << Sent{[](AppModel &m) { m.resolveCopy("c9", "skip_all"); }, gone, R"({"op":"resolve_copy","id":"c9","decision":"skip_all"})", ""};
        QTest::newRow("forget remembered") << Sent{[](AppModel &m) { m.forget("r1"); }, gone, R"({"op":"forget","peer":"r1"})", "Forget Remembered?"};
        QTest::newRow("forget cancelled") << Sent{[](AppModel &m) { m.forget("nobody"); }, gone, "", "Forget Computer?"};
        QTest::newRow("choose, multi_drive, two paths") << Sent{choose("drive", "/", QStringList{"/", "/media/usb"}, true, false, "123456"), gone,
            R"({"op":"choose","peer":"p1","mode":"drive","path":"/","read_only":true,"remember":false,"pairing_code":"123456","paths":["/","/media/usb"]})", ""};
        QTest::newRow("choose, multi_drive, one path") << Sent{choose("drive", "/", {}, false, true, {}), gone,
            R"({"op":"choose","peer":"p1","mode":"drive","path":"/","read_only":false,"remember":true,"paths":["/"]})", ""};
        QTest::newRow("choose, multi_drive, no path") << Sent{choose("drive", {}, {}, false, true, {}), gone,
            R"({"op":"choose","peer":"p1","mode":"drive","read_only":false,"remember":true})", ""};
        QTest::newRow("choose a folder") << Sent{choose("folder", "/home/me/S", QStringList{"/"}, false, true, {}), gone,
            R"({"op":"choose","peer":"p1","mode":"folder","path":"/home/me/S","read_only":false,"remember":true})", ""};
    }

    void sentLines()
    {
        QFETCH(Sent, row);
        const auto &[action, after, line, question] = row;
        StandinModel s(alphaWith(peer("p1"), {"multi_drive"}));
        QVERIFY(s.started);
        AppModel &m = s.model();
        m.setDisconnected(gone);
        s.fixture.alerts->answer = line.isEmpty() ? 1 : 0;
        action(m);
        action(m);
        QCOMPARE(m.mutating(), !line.isEmpty());
        QCOMPARE(m.disconnected(), after);
        QVERIFY(s.settle());
        QCOMPARE(s.sentAfterAWhile(), line.isEmpty() ? QStringList{} : QStringList{line});
        QCOMPARE(s.fixture.alerts->shown.size(), question.isEmpty() ? 0 : line.isEmpty() ? 2 : 1);
        if (!question.isEmpty()) {
            const Alert &alert = s.fixture.alerts->shown.first();
            QCOMPARE(alert.message, question);
            QCOMPARE(alert.informative, "Its saved sharing choice will be removed and sharing will stop. You’ll confirm the computer again next time.");
            QCOMPARE(alert.buttons, (QStringList{"Forget", "Cancel"}));
        }
    }

    void chooseWithoutMultiDrive()
    {
        StandinModel s(alphaWith(peer("p1")));
        s.model().choose("p1", "drive", "/", QStringList{"/", "/media/usb"}, false, true, {});
        QVERIFY(s.settle());
        QCOMPARE(s.sent(), QStringList{R"({"op":"choose","peer":"p1","mode":"drive","path":"/","read_only":false,"remember":true})"});
    }

    void aFailedCommandSetsTheErrorAndRefreshes()
    {
        StandinModel s(ready(), {{"ops", QJsonObject{{"mount", QJsonObject{{"delay", 0.2}, {"reply", QJsonObject{{"ok", false}, {"error", "The share is gone."}}}}}}}});
        s.model().run(Command{.op = "mount", .peer = "p1"});
        QVERIFY(s.model().mutating());
        QVERIFY(s.settle());
        QCOMPARE(s.model().error(), "The share is gone.");
        QCOMPARE(s.standin.recorded().mid(0, 2), (QList<QByteArray>{R"({"op":"mount","peer":"p1"})", R"({"op":"status"})"}));
    }

    void dismiss_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("sent"); // ids sent; 0: no command
        QTest::newRow("257 ids, 256 sent") << QStringList{"dismiss"} << 257 << 256;
        QTest::newRow("none") << QStringList{"dismiss"} << 0 << 0;
        QTest::newRow("no capability") << QStringList{} << 1 << 0;
    }

    void dismiss()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(int, count);
        QFETCH(int, sent);
        StandinModel s(alphaWith(peer("p1"), capabilities));
        QStringList ids;
        for (int i = 0; i < count; ++i)
            ids << QString("t%1").arg(i);
        s.model().dismiss(ids);
        QVERIFY(s.settle());
        const QString line = "{\"op\":\"dismiss\",\"ids\":[\"" + ids.first(sent).join("\",\"") + "\"]}";
        QCOMPARE(s.sentAfterAWhile(), sent ? QStringList{line} : QStringList{});
    }

    void workspace()
    {
        ModelFixture f;
        AppModel &m = f.model();
        install(m, ready());
        m.setMutating(true); // opening does not wait for commands
        m.openFiles("p1");
        m.openFiles("r1"); // not connected: nothing
        QCOMPARE(f.workspace->opened, QList<QUrl>{file("/mnt/alpha/")});
        f.workspace->openResult = false;
        m.openFiles("p1");
        QCOMPARE(m.error(), "Finder could not open /mnt/alpha.");
        // Only the copied files that still exist are revealed; nothing when none is left.
        QTemporaryDir dir;
        QFile present(dir.filePath("copied.txt"));
        QVERIFY(present.open(QIODevice::WriteOnly));
        m.showCopied(decoded<ServiceStatus>(status({.copies = {copyJob("c1").into({dir.filePath("gone"), present.fileName()})}})).copies[0]);
        m.showCopied(CopyJob{.destinations = {dir.filePath("gone")}});
        QCOMPARE(f.workspace->revealed, QList<QStringList>{QStringList{present.fileName()}});
        QVERIFY(f.client->requests.isEmpty());
    }

    void isPrivacyRefusal_data()
    {
        QTest::addColumn<QString>("message"); // null: none
        QTest::addColumn<bool>("refusal");
        QTest::newRow("none") << QString() << false;
        QTest::newRow("system words") << "open: Operation not permitted" << true;
        QTest::newRow("os error 1") << "x (os error 1) y" << true;
        QTest::newRow("lower case") << "operation not permitted" << false;
        QTest::newRow("os error 13") << "(os error 13)" << false;
    }

    void isPrivacyRefusal()
    {
        QFETCH(QString, message);
        QFETCH(bool, refusal);
        QCOMPARE(AppModel::isPrivacyRefusal(message.isNull() ? std::nullopt : std::optional<QString>(message)), refusal);
    }

    // Sending ("send_files") says why it refuses; a copy refuses silently.
    void sendAndCopy_data()
    {
        QTest::addColumn<SendOrCopy>("row");
        const QList<QUrl> one{file("/tmp/a")};
        QTest::newRow("send: as given, in order") << SendOrCopy{ready(), {file("/home/me/b.txt"), file("/home/me/./a dir/"), QUrl("file://localhost/x")}, {},
                                                                R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/b.txt","/home/me/./a dir","/x"]})"};
        QTest::newRow("send: busy") << SendOrCopy{alphaWith(peer("p1").receiving(), {"receive_transfer"}, true), one, {}, notReady};
        QTest::newRow("send: choice pending") << SendOrCopy{alphaWith(peer("p1").receiving().choosing()), one, {}, notReady};
        QTest::newRow("send: empty") << SendOrCopy{ready(), {}, {}, notLocal};
        QTest::newRow("send: web address") << SendOrCopy{ready(), {file("/tmp/a"), QUrl("https://example.com/a")}, {}, notLocal};
        QTest::newRow("copy: standardised") << SendOrCopy{ready(), {file("/mnt/alpha/x/../b.txt"), file("/mnt/alpha//c/")}, "/home/me/Downloads/",
                                                          copyLine({"/mnt/alpha/b.txt", "/mnt/alpha/c"}, "/home/me/Downloads")};
        // The destination's name only begins like the source's: not inside it.
        QTest::newRow("copy: beside a source") << SendOrCopy{ready(), {file("/home/me/Down")}, "/home/me/Downloads", copyLine({"/home/me/Down"}, "/home/me/Downloads")};
        QTest::newRow("copy: into /") << SendOrCopy{ready(), {file("/mnt/alpha/a")}, "/", copyLine({"/mnt/alpha/a"}, "/")};
        QTest::newRow("copy: no fast_copy") << SendOrCopy{alphaWith(peer("p1").mounted(mount), {"receive_transfer"}), one, "/home/me", ""};
        QTest::newRow("copy: web address") << SendOrCopy{ready(), {QUrl("https://example.com/a")}, "/home/me", ""};
        // Never a copy into itself.
        QTest::newRow("copy: into a source") << SendOrCopy{ready(), {file("/home/me"), file("/mnt/")}, mount, ""};
    }

    void sendAndCopy()
    {
        QFETCH(SendOrCopy, row);
        const auto &[status, urls, destination, sent] = row;
        StandinModel s(status);
        destination.isNull() ? s.model().send(urls, "p1") : s.model().copy(urls, file(destination), "p1");
        const bool sends = sent.startsWith('{');
        QCOMPARE(s.model().error(), sends || sent.isEmpty() ? std::nullopt : std::optional<QString>(sent));
        QVERIFY(s.settle());
        QCOMPARE(s.sentAfterAWhile(), sends ? QStringList{sent} : QStringList{});
    }

    void pickFiles()
    {
        StandinModel s(ready());
        FakeOpenPanels &panels = *s.fixture.openPanels;
        s.model().pickFiles("p1"); // cancelled
        s.model().pickFiles("ghost");
        panels.answer = QList<QUrl>{file("/home/me/x")};
        s.model().pickFiles("p1");
        s.model().pickFiles("p1"); // busy with the first: no panel
        QCOMPARE(panels.shown.size(), 2);
        const OpenPanel &panel = panels.shown.last();
        QVERIFY(panel.canChooseDirectories && panel.canChooseFiles && panel.allowsMultipleSelection);
        QCOMPARE(panel.prompt, "Send");
        QCOMPARE(panel.message, "Send files and folders to Alpha. Originals stay here.");
        QVERIFY(s.settle());
        // Another sending of the same file gets a transfer id of its own.
        s.model().send({file("/home/me/x")}, "p1");
        QVERIFY(s.settle());
        const QString line = R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/x"]})";
        QCOMPARE(s.sent(), (QStringList{line, line}));
        QList<QByteArray> sends = s.standin.recorded();
        sends.removeIf([](const QByteArray &l) { return !l.startsWith("{\"op\":\"send_files\""); });
        QVERIFY(sends.size() == 2 && sends[0] != sends[1]);
    }

    void getFiles()
    {
        StandinModel s(ready());
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
        QVERIFY(panel.shouldEnable(file("/mnt/alpha/photos")) && !panel.shouldEnable(file("/mnt/alphabet")));
        const std::optional<OpenPanelRefusal> refusal = panel.validate(file("/etc/passwd"));
        QCOMPARE(refusal.value_or(OpenPanelRefusal{}).description, "Choose files and folders on Alpha.");
        QCOMPARE(refusal.value_or(OpenPanelRefusal{}).recoverySuggestion, "Get Files copies from Alpha to your Downloads folder.");
        QVERIFY(s.settle());
        QCOMPARE(s.sent(), QStringList{copyLine({"/mnt/alpha/photos"}, downloads())});
        // Without copies nothing is offered.
        install(s.model(), alphaWith(peer("p1").mounted(mount), {}));
        s.model().getFiles("p1");
        QCOMPARE(panels.shown.size(), 1);
    }

    void insideTheShare_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<bool>("inside");
        QTest::newRow("the root with a slash") << mount << file(mount + '/') << true;
        QTest::newRow("a child") << mount << file(mount + "/a/b.txt") << true;
        QTest::newRow("a sibling extending the name") << mount << file("/mnt/alpha2") << false;
        QTest::newRow("dots above the top") << "/../mnt/alpha" << file("/../mnt/alpha/x") << true;
        QTest::newRow("back out through dots") << mount << file(mount + "/../beta") << false;
        QTest::newRow("a root given unstandardised") << "/mnt/./alpha/" << file(mount + "/x") << true;
        QTest::newRow("the top folder as root") << "/" << file("/etc/x") << true;
        QTest::newRow("not a file") << mount << QUrl("https://example.com/mnt/alpha") << false;
        QTest::newRow("this host by name") << mount << QUrl("file://localhost/mnt/alpha/x") << true;
        QTest::newRow("another host") << mount << QUrl("file://beta/mnt/alpha/x") << false;
    }

    void insideTheShare()
    {
        QFETCH(QString, root);
        QFETCH(QUrl, url);
        QFETCH(bool, inside);
        const DriveOnlyPanelDelegate delegate(file(root), "Alpha");
        QCOMPARE(delegate.root(), file(root == "/" ? "/" : mount));
        QCOMPARE(delegate.shouldEnable(url), inside);
        QCOMPARE(delegate.validate(url).has_value(), !inside);
    }

    // What a drop becomes: a sending when Alpha accepts files, else a copy from the
    // share to Downloads or into the writable share; decided in a later turn.
    void drops_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<QList<QUrl>>("items");
        QTest::addColumn<QString>("sent"); // or the error when nothing is sent; "refused": the drop is not taken
        QTest::newRow("refused: busy") << alphaWith(peer("p1").mounted(mount).offering(), {"fast_copy"}, true) << QList<QUrl>{file("/a")} << "refused";
        QTest::newRow("refused: empty") << mountedOnly() << QList<QUrl>{} << "refused";
        QTest::newRow("refused: no fast_copy") << alphaWith(peer("p1").mounted(mount), {"receive_transfer"}) << QList<QUrl>{file("/a")} << "refused";
        QMimeData data; // as a view takes the items from the dropped data
        data.setData("text/uri-list", "file:///home/me/z.txt\r\nfile:///home/me/a%20b.txt\r\n");
        QTest::newRow("sent to a computer accepting files") << ready() << data.urls()
            << R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/z.txt","/home/me/a b.txt"]})";
        QTest::newRow("items of two computers") << mountedOnly() << QList<QUrl>{file(mount + "/a"), file("/home/me/b")} << oneComputer;
        QTest::newRow("into a read-only share") << mountedOnly(true) << QList<QUrl>{file("/home/me/b")} << "Alpha shares its files read-only.";
        QTest::newRow("from the share to Downloads") << mountedOnly() << QList<QUrl>{file(mount + "/a"), file(mount + "/s/../c/")}
                                                     << copyLine({mount + "/a", mount + "/c"}, downloads());
        QTest::newRow("into the writable share") << mountedOnly() << QList<QUrl>{file("/home/me/b"), file("/mnt/alpha2/x")}
                                                 << copyLine({"/home/me/b", "/mnt/alpha2/x"}, mount);
        QTest::newRow("a folder holding the share") << mountedOnly() << QList<QUrl>{file("/mnt")} << oneComputer;
        QTest::newRow("a share holding Downloads") << alphaWith(peer("p1").mounted(QDir::homePath()).offering()) << QList<QUrl>{file(QDir::homePath())}
                                                   << oneComputer;
        QTest::newRow("unreadable address") << mountedOnly() << QList<QUrl>{QUrl("http://[bad")} << unreadable;
        QTest::newRow("web address") << mountedOnly() << QList<QUrl>{file("/home/me/b"), QUrl("https://example.com/x")} << notLocal;
    }

    void drops()
    {
        QFETCH(QJsonObject, status);
        QFETCH(QList<QUrl>, items);
        QFETCH(QString, sent);
        StandinModel s(status);
        QCOMPARE(s.model().acceptDrop(items, "p1"), sent != "refused");
        QVERIFY(!s.model().mutating());
        QCOMPARE(s.model().error(), std::nullopt);
        if (!sent.startsWith('{') && sent != "refused")
            QTRY_COMPARE(s.model().error(), sent);
        QVERIFY(s.settle());
        QCOMPARE(s.sentAfterAWhile(), sent.startsWith('{') ? QStringList{sent} : QStringList{});
        QCOMPARE(s.model().error().has_value(), !sent.startsWith('{') && sent != "refused");
    }

    // Decided from the state when the items are read: a drop for a computer that then
    // left, or on a service that became busy, says so.
    void dropStateChanges_data()
    {
        QTest::addColumn<QJsonObject>("before");
        QTest::addColumn<Action>("change");
        QTest::addColumn<QString>("sent");
        QTest::newRow("accepts no more files") << ready() << Action([](AppModel &m) { install(m, mountedOnly()); })
                                               << copyLine({"/home/me/b"}, mount);
        QTest::newRow("left") << mountedOnly() << Action([](AppModel &m) { install(m, status({.peers = {peer("p2")}, .capabilities = {"fast_copy"}})); })
                              << notReady;
        QTest::newRow("became busy") << mountedOnly() << Action([](AppModel &m) { m.setMutating(true); }) << notReady;
    }

    void dropStateChanges()
    {
        QFETCH(QJsonObject, before);
        QFETCH(Action, change);
        QFETCH(QString, sent);
        StandinModel s(before);
        QVERIFY(s.model().acceptDrop({file("/home/me/b")}, "p1"));
        change(s.model());
        if (sent.startsWith('{'))
            QTRY_COMPARE(s.sent(), QStringList{sent});
        else
            QTRY_COMPARE(s.model().error(), sent);
        QCOMPARE(s.sentAfterAWhile(), sent.startsWith('{') ? QStringList{sent} : QStringList{});
        s.model().setMutating(false);
    }
};

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
