#include "standin_model.h"

#include "model/drive_only_panel_delegate.h"

#include <QDir>
#include <QTest>

using namespace cv;
using namespace cv::test;

namespace {

const QString alpha = QStringLiteral("p1");
const QString mount = QStringLiteral("/mnt/alpha");

QJsonObject withPeer(const QJsonObject &peer, const QStringList &capabilities)
{
    return wire::status(QJsonArray{peer}, 0, capabilities);
}

// Alpha accepts files, its writable share is mounted, copies are possible.
QJsonObject ready()
{
    return withPeer(offeringPeer(alpha, QStringLiteral("Alpha"), true, mount, false),
                    {QStringLiteral("receive_transfer"), QStringLiteral("fast_copy")});
}

QUrl file(const QString &path) { return QUrl::fromLocalFile(path); }

} // namespace

class TestModelFiles : public QObject {
    Q_OBJECT

private slots:
    void sendSendsThePathsInOrder()
    {
        StandinModel s(ready());
        QVERIFY(s.started);
        s.model().send({file(QStringLiteral("/home/me/b.txt")), file(QStringLiteral("/home/me/./a dir/"))}, alpha);
        QVERIFY(s.settle());
        const QList<QByteArray> sent = s.commands();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(withoutTransferId(sent.first()),
                 std::optional<QByteArray>(R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/b.txt","/home/me/./a dir"]})"));
    }

    void sendNamesAFileOnThisHostByItsPath()
    {
        StandinModel s(ready());
        QVERIFY(s.started);
        s.model().send({QUrl(QStringLiteral("file://localhost/home/me/b.txt"))}, alpha);
        QVERIFY(s.settle());
        QCOMPARE(withoutTransferId(s.commands().value(0)),
                 std::optional<QByteArray>(R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/b.txt"]})"));
    }

    void transferIdsDiffer()
    {
        StandinModel s(ready());
        QVERIFY(s.started);
        s.model().send({file(QStringLiteral("/tmp/one"))}, alpha);
        QVERIFY(s.settle());
        s.model().send({file(QStringLiteral("/tmp/one"))}, alpha);
        QVERIFY(s.settle());
        const QList<QByteArray> sent = s.commands();
        QCOMPARE(sent.size(), 2);
        QString first, second;
        QVERIFY(withoutTransferId(sent[0], &first));
        QVERIFY(withoutTransferId(sent[1], &second));
        QVERIFY(first != second);
    }

    void sendRefusals_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QString>("error");
        const QString notReady = QStringLiteral("This computer is no longer ready to receive files.");
        const QString notLocal = QStringLiteral("Drop local files or folders to send them.");
        const QList<QUrl> one{file(QStringLiteral("/tmp/a"))};
        QTest::newRow("busy") << ready() << true << one << notReady;
        QTest::newRow("computer does not accept files")
            << withPeer(offeringPeer(alpha, QStringLiteral("Alpha"), false), {QStringLiteral("receive_transfer")})
            << false << one << notReady;
        QTest::newRow("service cannot receive")
            << withPeer(offeringPeer(alpha, QStringLiteral("Alpha"), true), {}) << false << one << notReady;
        QJsonObject choosing = offeringPeer(alpha, QStringLiteral("Alpha"), true);
        choosing[QStringLiteral("choice_required")] = true;
        QTest::newRow("choice pending") << withPeer(choosing, {QStringLiteral("receive_transfer")}) << false << one << notReady;
        QTest::newRow("empty") << ready() << false << QList<QUrl>{} << notLocal;
        QTest::newRow("web address") << ready() << false
                                     << QList<QUrl>{file(QStringLiteral("/tmp/a")), QUrl(QStringLiteral("https://example.com/a"))}
                                     << notLocal;
        QTest::newRow("relative file address") << ready() << false << QList<QUrl>{QUrl(QStringLiteral("file:a"))} << notLocal;
        QTest::newRow("file on another host")
            << ready() << false << QList<QUrl>{QUrl(QStringLiteral("file://beta/tmp/a"))} << notLocal;
    }

    void sendRefusals()
    {
        QFETCH(QJsonObject, status);
        QFETCH(bool, busy);
        QFETCH(QList<QUrl>, urls);
        QFETCH(QString, error);
        StandinModel s(status);
        QVERIFY(s.started);
        if (busy)
            s.model().setMutating(true);
        s.model().send(urls, alpha);
        QCOMPARE(s.model().error(), std::optional<QString>(error));
        QVERIFY(s.commandsAfterAWhile().isEmpty());
    }

    void copySendsStandardisedPathsWithoutPeer()
    {
        StandinModel s(ready());
        QVERIFY(s.started);
        s.model().copy({file(QStringLiteral("/mnt/alpha/x/../b.txt")), file(QStringLiteral("/mnt/alpha//c/"))},
                       QUrl::fromLocalFile(QStringLiteral("/home/me/Downloads/")), alpha);
        QVERIFY(s.settle());
        const QList<QByteArray> sent = s.commands();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(withoutTransferId(sent.first()),
                 std::optional<QByteArray>(R"({"op":"copy","id":"ID","sources":["/mnt/alpha/b.txt","/mnt/alpha/c"],"destination":"/home/me/Downloads"})"));
    }

    void copyRefusesSilently_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QString>("destination");
        const QString downloads = QStringLiteral("/home/me/Downloads");
        QTest::newRow("no fast_copy")
            << withPeer(offeringPeer(alpha, QStringLiteral("Alpha"), true, mount, false), {QStringLiteral("receive_transfer")})
            << QList<QUrl>{file(QStringLiteral("/mnt/alpha/a"))} << downloads;
        QTest::newRow("not mounted")
            << withPeer(offeringPeer(alpha, QStringLiteral("Alpha"), true), {QStringLiteral("fast_copy")})
            << QList<QUrl>{file(QStringLiteral("/mnt/alpha/a"))} << downloads;
        QTest::newRow("empty") << ready() << QList<QUrl>{} << downloads;
        QTest::newRow("web address") << ready() << QList<QUrl>{QUrl(QStringLiteral("https://example.com/a"))} << downloads;
        // Never a copy into itself.
        QTest::newRow("destination equals a source")
            << ready() << QList<QUrl>{file(QStringLiteral("/home/me")), file(mount)} << mount;
        QTest::newRow("destination inside a source")
            << ready() << QList<QUrl>{file(QStringLiteral("/mnt/"))} << mount;
    }

    void copyRefusesSilently()
    {
        QFETCH(QJsonObject, status);
        QFETCH(QList<QUrl>, urls);
        QFETCH(QString, destination);
        StandinModel s(status);
        QVERIFY(s.started);
        s.model().copy(urls, QUrl::fromLocalFile(destination), alpha);
        QVERIFY(!s.model().mutating());
        QCOMPARE(s.model().error(), std::nullopt);
        QVERIFY(s.commandsAfterAWhile().isEmpty());
    }

    void copyBesideASourceIsFine()
    {
        StandinModel s(ready());
        QVERIFY(s.started);
        // The destination's name only begins like the source's: not inside it.
        s.model().copy({file(QStringLiteral("/home/me/Down"))}, QUrl::fromLocalFile(QStringLiteral("/home/me/Downloads")), alpha);
        QVERIFY(s.settle());
        QCOMPARE(s.commands().size(), 1);
    }

    void downloadsFolderIsInTheHomeFolder()
    {
        StandinModel s(ready());
        const QUrl downloads = s.model().downloadsFolder();
        QVERIFY(downloads.isLocalFile());
        QCOMPARE(QDir::cleanPath(downloads.toLocalFile()), QDir::homePath() + QStringLiteral("/Downloads"));
        QVERIFY(downloads.toLocalFile().endsWith(QLatin1Char('/')));
    }

    void pickFilesSendsWhatWasChosen()
    {
        StandinModel s(ready());
        QVERIFY(s.started);
        s.panels->answer = QList<QUrl>{file(QStringLiteral("/home/me/x")), file(QStringLiteral("/home/me/y"))};
        s.model().pickFiles(alpha);
        QCOMPARE(s.panels->shown.size(), 1);
        const OpenPanel &panel = s.panels->shown.first();
        QVERIFY(panel.canChooseDirectories && panel.canChooseFiles && panel.allowsMultipleSelection);
        QCOMPARE(panel.prompt, QStringLiteral("Send"));
        QCOMPARE(panel.message, QStringLiteral("Send files and folders to Alpha. Originals stay here."));
        QVERIFY(s.settle());
        QCOMPARE(withoutTransferId(s.commands().value(0)),
                 std::optional<QByteArray>(R"({"op":"send_files","peer":"p1","id":"ID","paths":["/home/me/x","/home/me/y"]})"));
    }

    void pickFilesCancelledOrNotReady()
    {
        StandinModel s(ready());
        QVERIFY(s.started);
        s.panels->answer = std::nullopt;
        s.model().pickFiles(alpha);
        QCOMPARE(s.panels->shown.size(), 1);
        s.model().setMutating(true);
        s.model().pickFiles(alpha);
        s.model().setMutating(false);
        s.model().pickFiles(QStringLiteral("ghost"));
        QCOMPARE(s.panels->shown.size(), 1);
        QCOMPARE(s.model().error(), std::nullopt);
        QVERIFY(s.commandsAfterAWhile().isEmpty());
    }

    void getFilesCopiesToDownloads()
    {
        StandinModel s(ready());
        QVERIFY(s.started);
        s.panels->answer = QList<QUrl>{file(QStringLiteral("/mnt/alpha/photos"))};
        s.model().getFiles(alpha);
        QCOMPARE(s.panels->shown.size(), 1);
        const OpenPanel &panel = s.panels->shown.first();
        QVERIFY(panel.canChooseDirectories && panel.canChooseFiles && panel.allowsMultipleSelection);
        QCOMPARE(panel.prompt, QStringLiteral("Copy to Downloads"));
        QCOMPARE(panel.message,
                 QStringLiteral("Choose files and folders on Alpha. They’re copied to your Downloads folder at full speed."));
        QCOMPARE(panel.directoryURL, std::optional<QUrl>(QUrl::fromLocalFile(QStringLiteral("/mnt/alpha/"))));
        QVERIFY(panel.shouldEnable && panel.validate);
        QVERIFY(panel.shouldEnable(file(QStringLiteral("/mnt/alpha/photos"))));
        QVERIFY(!panel.shouldEnable(file(QStringLiteral("/mnt/alphabet"))));
        QCOMPARE(panel.validate(file(QStringLiteral("/mnt/alpha"))), std::nullopt);
        const std::optional<OpenPanelRefusal> refusal = panel.validate(file(QStringLiteral("/etc/passwd")));
        QVERIFY(refusal);
        QCOMPARE(refusal->description, QStringLiteral("Choose files and folders on Alpha."));
        QCOMPARE(refusal->recoverySuggestion, QStringLiteral("Get Files copies from Alpha to your Downloads folder."));

        QVERIFY(s.settle());
        const QString downloads = QDir::homePath() + QStringLiteral("/Downloads");
        QCOMPARE(withoutTransferId(s.commands().value(0)),
                 std::optional<QByteArray>(QByteArray(R"({"op":"copy","id":"ID","sources":["/mnt/alpha/photos"],"destination":")")
                                           + downloads.toUtf8() + QByteArray(R"("})")));
    }

    void getFilesNeedsACopyableShare()
    {
        StandinModel s(withPeer(offeringPeer(alpha, QStringLiteral("Alpha"), true, mount, false), {}));
        QVERIFY(s.started);
        s.model().getFiles(alpha);
        QVERIFY(s.panels->shown.isEmpty());
    }

    void inside_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<bool>("inside");
        QTest::newRow("the root") << mount << file(mount) << true;
        QTest::newRow("the root with a slash") << mount << file(mount + QLatin1Char('/')) << true;
        QTest::newRow("a child") << mount << file(mount + QStringLiteral("/a/b.txt")) << true;
        QTest::newRow("the parent") << mount << file(QStringLiteral("/mnt")) << false;
        QTest::newRow("a sibling extending the name") << mount << file(QStringLiteral("/mnt/alpha2")) << false;
        QTest::newRow("back out through dots") << mount << file(mount + QStringLiteral("/../beta")) << false;
        QTest::newRow("a root given unstandardised") << QStringLiteral("/mnt/./alpha/") << file(mount + QStringLiteral("/x")) << true;
        QTest::newRow("not a file") << mount << QUrl(QStringLiteral("https://example.com/mnt/alpha")) << false;
        QTest::newRow("dots above the top") << mount << file(QStringLiteral("/../mnt/alpha/x")) << true;
        QTest::newRow("a root given above the top") << QStringLiteral("/../mnt/alpha") << file(mount + QStringLiteral("/x")) << true;
        QTest::newRow("this host by name") << mount << QUrl(QStringLiteral("file://localhost/mnt/alpha/x")) << true;
        QTest::newRow("another host") << mount << QUrl(QStringLiteral("file://beta/mnt/alpha/x")) << false;
    }

    void inside()
    {
        QFETCH(QString, root);
        QFETCH(QUrl, url);
        QFETCH(bool, inside);
        const DriveOnlyPanelDelegate delegate(QUrl::fromLocalFile(root), QStringLiteral("Alpha"));
        QCOMPARE(delegate.root(), file(mount));
        QCOMPARE(delegate.inside(url), inside);
        QCOMPARE(delegate.shouldEnable(url), inside);
        QCOMPARE(delegate.validate(url).has_value(), !inside);
    }

    void refusalNamesTheComputer()
    {
        const DriveOnlyPanelDelegate delegate(file(mount), QStringLiteral("Beta & Co"));
        const std::optional<OpenPanelRefusal> refusal = delegate.validate(file(QStringLiteral("/mnt")));
        QVERIFY(refusal);
        QCOMPARE(refusal->description, QStringLiteral("Choose files and folders on Beta & Co."));
        QCOMPARE(refusal->recoverySuggestion, QStringLiteral("Get Files copies from Beta & Co to your Downloads folder."));
    }
};

QTEST_MAIN(TestModelFiles)
#include "tst_model_files.moc"
