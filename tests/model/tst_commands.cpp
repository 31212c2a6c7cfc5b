// Every user action as the exact request lines it puts on the wire, the error it
// shows and what it asks of the desktop; the panel that keeps Get Files to the share.

#include "model_fixture.h"

#include "model/drive_only_panel_delegate.h"

#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace cv;
using namespace cv::test;
using A = AppModelAccess;

namespace {

using Act = std::function<void(AppModel &)>;
using Setup = std::function<void(ModelFixture &)>;

const QString mount = "/mnt/alpha", downloads = QDir::homePath() + "/Downloads";
const QString notReady = "This computer is no longer ready to receive files.";
const QString notLocal = "Drop local files or folders to send them.";
const QString oneComputer = "Drop items from one computer at a time.";

QUrl file(const QString &path) { return QUrl::fromLocalFile(path); }
QTemporaryDir scratch; // copied items that exist, and a tree of links

// Alpha ("p1") and "r1", only remembered, on a service that can do everything.
QJsonObject alphaWith(const PeerJson &alpha, QStringList capabilities = {"receive_transfer", "fast_copy", "dismiss", "multi_drive"})
{
    return status({.peers = {alpha.named("Alpha")}, .remembered = {remembered("r1").named("Remembered")}, .capabilities = capabilities});
}
// Alpha accepts files and shares a writable folder, mounted; or only shares one.
QJsonObject ready() { return alphaWith(peer("p1").receiving().mounted(mount).offering()); }
QJsonObject sharing(bool readOnly = false) { return alphaWith(peer("p1").mounted(mount).offering(readOnly)); }

// A refresh's lines; a command's line, then the refresh that shows what it changed.
const QString statusLine = R"({"op":"status"})";
const QStringList refreshed{R"({"op":"events","since":5})", statusLine};
QStringList cmd(const QString &line) { return QStringList{line} + refreshed; }
// A poll that lists Alpha answered after `poll` seconds, a "disconnect" after `command`.
void slowly(ModelFixture &f, double poll, double command)
{
    f.client->queue("status", reply(ready()), poll);
    f.client->queue("disconnect", reply(), command);
}
QString copyLine(const QStringList &sources, const QString &destination)
{
    return R"({"op":"copy","id":"ID","sources":[")" + sources.join(R"(",")") + R"("],"destination":")" + destination + R"("})";
}
Act run(const QString &op, const QString &peer = {}, const QString &id = {})
{
    return [=](AppModel &m) {
        m.run(Command{.op = op, .peer = peer.isEmpty() ? std::nullopt : std::optional(peer), .id = id.isEmpty() ? std::nullopt : std::optional(id)});
    };
}
// A drop as a view hands it over; one refused outright shows "refused".
Act drop(const QList<QUrl> &items, const Act &meanwhile = [](AppModel &) {})
{
    return [=](AppModel &m) {
        if (!m.acceptDrop(items, "p1"))
            m.setError("refused");
        meanwhile(m);
    };
}
Setup answer(int button) { return [=](ModelFixture &f) { f.alerts->answer = button; }; }
Setup pick(const QList<QUrl> &urls) { return [=](ModelFixture &f) { f.openPanels->answer = urls; }; }

// What the action asked of the desktop, and the computers the user disconnected.
QStringList effects(ModelFixture &f)
{
    QStringList out;
    for (const Alert &alert : f.alerts->shown)
        out << "alert " + alert.message;
    for (const OpenPanel &panel : f.openPanels->shown)
        out << "panel " + panel.message;
    for (const QUrl &url : f.workspace->opened)
        out << "open " + url.toString();
    for (const QStringList &paths : f.workspace->revealed)
        out << "reveal " + paths.join(',');
    out << QStringList(f.workspace->settings.size(), "privacy settings") << QStringList(f.notifications->authorizationRequests(), "asked for notifications");
    for (const QString &id : f.model().disconnected().keys())
        out << "disconnected " + id + ' ' + f.model().disconnected().value(id);
    return out;
}

// The status, a setup, the action; every request line sent (transfer ids as "ID"),
// the error shown (empty: none) and effects().
struct Row { QJsonObject status; Setup setup; Act act; QStringList lines; QString error; QStringList effects = {}; };

} // namespace

Q_DECLARE_METATYPE(Row)

class CommandsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { qunsetenv("CV_MAC_SERVICE"); }

    void actions_data()
    {
        QTest::addColumn<Row>("row");
        const Setup none = [](ModelFixture &) {};
        const QString choose = R"({"op":"choose","peer":"p1","mode":"drive","path":"/","read_only":false,"remember":true)";
        const auto chooseAct = [](QString mode, std::optional<QStringList> paths, std::optional<QString> code = {}) {
            return Act([=](AppModel &m) { m.choose("p1", mode, "/", paths, code.has_value(), !code, code); });
        };
        const QString sendLine = R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/b.txt","/home/me/./a dir","/x"]})";
        const QList<QUrl> sent{file("/home/me/b.txt"), file("/home/me/./a dir/"), QUrl("file://localhost/x")};
        const QList<QUrl> local{file("/home/me/b")};
        QStringList ids;
        for (int i = 0; i < 257; ++i)
            ids << QString("t%1").arg(i);

        QTest::newRow("connect") << Row{ready(), [](ModelFixture &f) { f.model().setDisconnected({{"p2", "Gamma"}}); }, run("connect", "p2"),
                                        cmd(R"({"op":"connect","peer":"p2"})"), ""};
        QTest::newRow("disconnect") << Row{ready(), none, run("disconnect", "p1"), cmd(R"({"op":"disconnect","peer":"p1"})"), "", {"disconnected p1 Alpha"}};
        // Only a status asked for after the service answered may show the computer
        // connected again: not one in flight meanwhile.
        QTest::newRow("disconnect, a poll in flight") << Row{ready(), [](ModelFixture &f) {
            slowly(f, 1.0, 2.0);
            QCoro::Task<> poll = f.model().refresh();
        }, run("disconnect", "p1"), refreshed + cmd(R"({"op":"disconnect","peer":"p1"})"), "", {"disconnected p1 Alpha"}};
        QTest::newRow("disconnect, then a poll") << Row{ready(), [](ModelFixture &f) {
            slowly(f, 0, 3.0);
            at(f.clock, 1.0, [&f] { QCoro::Task<> poll = f.model().refresh(); });
        }, run("disconnect", "p1"), cmd(R"({"op":"disconnect","peer":"p1"})") + refreshed, "", {"disconnected p1 Alpha"}};
        QTest::newRow("cancel a sending") << Row{ready(), none, run("cancel_transfer", "p1", "t1"), cmd(R"({"op":"cancel_transfer","peer":"p1","id":"t1"})"), ""};
        QTest::newRow("a refused command") << Row{ready(), [](ModelFixture &f) { f.client->queue("eject", refusal("The share is gone.")); },
                                                  run("eject", "p1"), cmd(R"({"op":"eject","peer":"p1"})"), "The share is gone."};
        QTest::newRow("refused while busy") << Row{status({.peers = {peer("p1")}, .busy = true}), none, run("mount", "p1"), {}, ""};
        QTest::newRow("refused while not connected") << Row{ready(), [](ModelFixture &f) { f.model().setConnected(false); }, run("disconnect", "p1"), {}, ""};
        QTest::newRow("refused in the demo") << Row{ready(), [](ModelFixture &f) { f.model().setDemo(true); }, [](AppModel &m) { m.forget("p1"); },
                                                    {}, "", {"alert Forget Alpha?"}};
        QTest::newRow("choose drives") << Row{ready(), none, chooseAct("drive", QStringList{"/", "/media/usb"}, "123456"),
            cmd(R"({"op":"choose","peer":"p1","mode":"drive","path":"/","read_only":true,"remember":false,"pairing_code":"123456","paths":["/","/media/usb"]})"), ""};
        QTest::newRow("choose one drive") << Row{ready(), none, chooseAct("drive", {}), cmd(choose + R"(,"paths":["/"]})"), ""};
        QTest::newRow("choose a drive, one-drive service") << Row{alphaWith(peer("p1"), {}), none, chooseAct("drive", QStringList{"/", "/b"}), cmd(choose + "}"), ""};
        QTest::newRow("choose a folder") << Row{ready(), none, chooseAct("folder", QStringList{"/"}), cmd(QString(choose + "}").replace("drive", "folder")), ""};
        QTest::newRow("forget") << Row{ready(), answer(0), [](AppModel &m) { m.forget("r1"); }, cmd(R"({"op":"forget","peer":"r1"})"), "", {"alert Forget Remembered?"}};
        QTest::newRow("forget, Cancel") << Row{ready(), answer(1), [](AppModel &m) { m.forget("r1"); }, {}, "", {"alert Forget Remembered?"}};
        // Escape or closing the alert is no click on "Forget".
        QTest::newRow("forget, no click") << Row{ready(), answer(Alerts::noChoice), [](AppModel &m) { m.forget("nobody"); }, {}, "", {"alert Forget Computer?"}};
        QTest::newRow("resolve a copy") << Row{ready(), none, [](AppModel &m) { m.resolveCopy("c9", "skip_all"); },
                                               cmd(R"({"op":"resolve_copy","id":"c9","decision":"skip_all"})"), ""};
        QTest::newRow("dismiss 257") << Row{ready(), none, [=](AppModel &m) { m.dismiss(ids); },
                                            cmd(R"({"op":"dismiss","ids":[")" + ids.first(256).join(R"(",")") + R"("]})"), ""};
        QTest::newRow("dismiss, no capability") << Row{alphaWith(peer("p1"), {}), none, [](AppModel &m) { m.dismiss({"t1"}); }, {}, ""};
        QTest::newRow("send, choice pending") << Row{alphaWith(peer("p1").receiving().choosing()), none, [](AppModel &m) { m.send({file("/a")}, "p1"); }, {}, notReady};
        QTest::newRow("pick files") << Row{ready(), pick(sent), [](AppModel &m) { m.pickFiles("p1"); }, cmd(sendLine), "",
                                           {"panel Send files and folders to Alpha. Originals stay here."}};
        QTest::newRow("get files") << Row{ready(), pick({file(mount + "/photos")}), [](AppModel &m) { m.getFiles("p1"); }, cmd(copyLine({mount + "/photos"}, downloads)), "",
                                          {"panel Choose files and folders on Alpha. They’re copied to your Downloads folder at full speed."}};
        // Files picked while the service turned busy are not dropped without a word.
        QTest::newRow("get files, busy meanwhile") << Row{ready(), [](ModelFixture &f) {
            f.openPanels->respond = [&f](const OpenPanel &) { f.model().setMutating(true); return std::optional(QList<QUrl>{file(mount + "/a")}); };
        }, [](AppModel &m) { m.getFiles("p1"); }, {}, notReady, {"panel Choose files and folders on Alpha. They’re copied to your Downloads folder at full speed."}};
        QTest::newRow("copy, standardised") << Row{ready(), none, [](AppModel &m) { m.copy({file(mount + "/x/../b.txt"), file(mount + "//c/")}, file("/home/me/Downloads/"), "p1"); },
                                                   cmd(copyLine({mount + "/b.txt", mount + "/c"}, "/home/me/Downloads")), ""};
        QTest::newRow("copy into a source") << Row{ready(), none, [](AppModel &m) { m.copy({file("/home/me"), file("/mnt/")}, file(mount), "p1"); }, {}, ""};
        QTest::newRow("drop, sent") << Row{ready(), none, drop(sent), cmd(sendLine), ""};
        QTest::newRow("drop from the share") << Row{sharing(), none, drop({file(mount + "/a"), file(mount + "/s/../c/")}),
                                                    cmd(copyLine({mount + "/a", mount + "/c"}, downloads)), ""};
        QTest::newRow("drop into the share") << Row{sharing(), none, drop({file("/home/me/b"), file("/mnt/alpha2/x")}),
                                                    cmd(copyLine({"/home/me/b", "/mnt/alpha2/x"}, mount)), ""};
        // Decided when the items are read, from the state then.
        QTest::newRow("drop, no longer accepting") << Row{ready(), none, drop(local, [](AppModel &m) { install(m, sharing()); }), cmd(copyLine({"/home/me/b"}, mount)), ""};
        QTest::newRow("drop, computer left") << Row{sharing(), none, drop(local, [](AppModel &m) { install(m, status({.capabilities = {"fast_copy"}})); }), {}, notReady};
        QTest::newRow("drop into a read-only share") << Row{sharing(true), none, drop(local), {}, "Alpha shares its files read-only."};
        QTest::newRow("drop from both computers") << Row{sharing(), none, drop({file(mount + "/a"), file("/home/me/b")}), {}, oneComputer};
        QTest::newRow("drop a folder holding the share") << Row{sharing(), none, drop({file("/mnt")}), {}, oneComputer};
        QTest::newRow("drop an unreadable address") << Row{sharing(), none, drop({QUrl("http://[bad")}), {}, "Couldn’t read the dropped file."};
        QTest::newRow("drop a web address") << Row{sharing(), none, drop({file("/home/me/b"), QUrl("https://example.com/x")}), {}, notLocal};
        QTest::newRow("drop nothing") << Row{sharing(), none, drop({}), {}, "refused"};
        QTest::newRow("drop without fast_copy") << Row{alphaWith(peer("p1").mounted(mount), {"receive_transfer"}), none, drop(local), {}, "refused"};
        QTest::newRow("open files") << Row{ready(), [](ModelFixture &f) { f.workspace->openResult = false; }, [](AppModel &m) { m.openFiles("p1"); m.openFiles("r1"); },
                                                   {}, "The file manager could not open /mnt/alpha.", {"open file:///mnt/alpha/"}};
        // Only the copied items that still exist are revealed; nothing when none is left.
        QTest::newRow("show copied") << Row{ready(), none, [](AppModel &m) {
            m.showCopied(CopyJob{.destinations = {scratch.filePath("gone"), scratch.path()}});
            m.showCopied(CopyJob{.destinations = {scratch.filePath("gone")}});
        }, {}, "", {"reveal " + scratch.path()}};
        QTest::newRow("privacy settings") << Row{ready(), none, [](AppModel &m) { m.openPrivacySettings(); }, {}, "", {"privacy settings"}};
        QTest::newRow("notifications") << Row{ready(), [](ModelFixture &f) { f.model().setNotifications(AppModel::NotificationState::notDetermined); },
                                              [](AppModel &m) { m.requestNotifications(); }, {}, "", {"asked for notifications"}};
        // A start-up (the service is down, a child started, asked again), then a refresh.
        QTest::newRow("retry") << Row{ready(), [](ModelFixture &f) {
            qputenv("CV_MAC_SERVICE", "/bin/sh");
            f.model().setStarting(false);
            f.client->queueError("status", ServiceError::unavailable("Connection refused."));
        }, [](AppModel &m) { m.retryService(); }, QStringList{statusLine, statusLine} + refreshed, ""};
        QTest::newRow("retry while starting") << Row{ready(), [](ModelFixture &f) { f.model().setStarting(true); }, [](AppModel &m) { m.retryService(); }, {}, ""};
        QTest::newRow("start at sign-in") << Row{ready(), [](ModelFixture &f) {
            static InstalledApp installed;
            f.bundle = installed.bundle();
            f.host->refreshLogin();
            f.client->queueError("status", ServiceError::unavailable("Connection refused."));
        }, [](AppModel &m) { QCoro::Task<> t = m.setStartAtLogin(true); }, QStringList{R"({"op":"quit"})", statusLine} + cmd(statusLine), ""};
        QTest::newRow("quit") << Row{ready(), [](ModelFixture &f) { f.model().setStarting(false); }, [](AppModel &m) { QCoro::Task<bool> t = m.quit(); },
                                     {R"({"op":"quit"})"}, ""};
    }

    void actions()
    {
        QFETCH(Row, row);
        ModelFixture f;
        AppModel &m = f.model();
        install(m, row.status);
        A::cursor(m) = 5;
        serveIdle(*f.client, 5);
        for (const char *op : {"connect", "disconnect", "mount", "eject", "cancel_transfer", "cancel_copy", "choose", "forget", "resolve_copy",
                               "dismiss", "send_files", "copy", "quit"})
            f.client->always(op, reply());
        f.alerts->answer = 1;
        row.setup(f);
        row.act(m);
        // A command sends one line however quickly it is repeated.
        if (m.mutating() && !A::quitting(m))
            row.act(m);
        static const QRegularExpression transfer(R"("id":"[0-9a-f]{32}")");
        const auto lines = [&f] {
            QStringList out;
            for (const QByteArray &line : f.client->requests)
                out << QString::fromUtf8(line).replace(transfer, R"("id":"ID")");
            return out;
        };
        // Until the lines are there, or no more come: a wrong line fails at once.
        settleUntil([&] { return lines() == row.lines; }, [&] { return f.client->requests.size(); });
        settle();
        QCOMPARE(lines(), row.lines);
        QCOMPARE(m.error().value_or(""), row.error);
        QCOMPARE(effects(f), row.effects);
        static QStringList ids; // every transfer gets an id of its own
        for (const QByteArray &line : f.client->requests)
            ids << transfer.match(QString::fromUtf8(line)).captured();
        ids.removeAll(QString());
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
    }

    // The panel of Get Files keeps to the share: where an item really leads decides.
    void panelKeepsToTheShare()
    {
        const QDir dir(scratch.path());
        QVERIFY(dir.mkpath("share") && dir.mkpath("local") && QFile::link(dir.filePath("local"), dir.filePath("share/escape"))
                && QFile::link(dir.filePath("share"), dir.filePath("linked")) && QFile::link(dir.filePath("nowhere"), dir.filePath("share/dangling")));
        const auto url = [&dir](const QString &p) { return p.contains(':') ? QUrl(p) : file(p.startsWith('/') ? p : dir.filePath(p)); };
        const QList<std::tuple<QString, QString, bool>> rows{
            {mount, mount + '/', true}, {mount, "/mnt/alpha2", false}, {"/mnt/./alpha/", mount + "/../beta", false}, // a sibling, dots
            {mount, "file://localhost/mnt/alpha/x", true}, {mount, "file://beta/mnt/alpha/x", false}, // this host by name, another
            {"linked", "share/x", true}, {"share", "share/escape/secret.txt", false}, {"share", "share/dangling/x", false}}; // links
        for (const auto &[root, item, inside] : rows) {
            const DriveOnlyPanelDelegate panel(url(root), "Alpha");
            QVERIFY2(panel.shouldEnable(url(item)) == inside, qPrintable(item));
            QCOMPARE(panel.validate(url(item)).value_or(OpenPanelRefusal{"inside", {}}).description, inside ? "inside" : "Choose files and folders on Alpha.");
        }
    }

    void isPrivacyRefusal()
    {
        QVERIFY(AppModel::isPrivacyRefusal("open: Operation not permitted") && AppModel::isPrivacyRefusal("x (os error 1) y"));
        QVERIFY(!AppModel::isPrivacyRefusal("operation not permitted") && !AppModel::isPrivacyRefusal("(os error 13)") && !AppModel::isPrivacyRefusal({}));
    }
};

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
