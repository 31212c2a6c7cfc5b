// The error sheet on the main window and the answers to clicks on notices.

#include "delegate_fixture.h"

#include "platform/workspace.h"

#include <QLabel>

using namespace cv;
using namespace cv::test;

namespace {

const QString privacyNote = QStringLiteral(
    "macOS is blocking Corvane from this folder and won't ask again. Turn on the folder for Corvane in System Settings "
    "→ Privacy & Security → Files & Folders, then try again.");

} // namespace

class ShellErrorsTest : public QObject {
    Q_OBJECT
private slots:
    void errorsShownOneAtATime()
    {
        DelegateFixture f;
        f.delegate->subscribeToErrors();
        f.appModel().setError(QStringLiteral("first"));
        QTRY_COMPARE(f.sheet(), std::optional<QString>(QStringLiteral("first")));
        QCOMPARE(f.delegate->errorAlert->windowModality(), Qt::WindowModal);
        QCOMPARE(f.delegate->errorAlert->text(), QStringLiteral("Corvane needs attention"));
        // While it is up, newer errors wait; the newest wins.
        f.appModel().setError(QStringLiteral("second"));
        f.appModel().setError(QStringLiteral("third"));
        QTest::qWait(20);
        QCOMPARE(f.sheet(), std::optional<QString>(QStringLiteral("first")));
        QCOMPARE(f.delegate->pendingError, std::optional<QString>(QStringLiteral("third")));
        // Dismissing the first leaves the model's newer error alone ...
        f.answerSheet();
        QCOMPARE(f.appModel().error(), std::optional<QString>(QStringLiteral("third")));
        QTRY_COMPARE(f.sheet(), std::optional<QString>(QStringLiteral("third")));
        // ... and dismissing the one it shows clears it.
        f.answerSheet();
        QCOMPARE(f.appModel().error(), std::nullopt);
        QTest::qWait(20);
        QCOMPARE(f.sheet(), std::nullopt);
        QVERIFY(!f.delegate->errorAlert);
        QCOMPARE(f.model.workspace->settings.size(), 0);
    }

    void sheetTexts_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("informative");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("settingsOpened");
        QTest::newRow("markup shown literally") << "<b>x</b> & co" << "<b>x</b> & co" << QStringList{"OK"} << 0 << 0;
        QTest::newRow("privacy, open settings")
            << "Copy failed: Operation not permitted" << "Copy failed: Operation not permitted\n\n" + privacyNote
            << QStringList{"Open Privacy Settings", "OK"} << 0 << 1;
        QTest::newRow("privacy, OK")
            << "write (os error 1)" << "write (os error 1)\n\n" + privacyNote << QStringList{"Open Privacy Settings", "OK"} << 1 << 0;
        QTest::newRow("privacy, no pane") << "write (os error 1)" << "write (os error 1)\n\n" + privacyNote << QStringList{"OK"} << 0 << 0;
    }

    void sheetTexts()
    {
        QFETCH(QString, error);
        QFETCH(QString, informative);
        QFETCH(QStringList, buttons);
        QFETCH(int, answer);
        QFETCH(int, settingsOpened);
        DelegateFixture f;
        // A row without the privacy button plays a desktop without a privacy pane.
        if (!buttons.contains("Open Privacy Settings"))
            f.model.workspace->panes.clear();
        f.appModel().setError(error);
        f.delegate->presentError(error);
        QTRY_COMPARE(f.sheet(), std::optional<QString>(informative));
        QStringList titles;
        for (QAbstractButton *button : f.delegate->errorAlert->buttons())
            titles << button->text();
        QCOMPARE(titles, buttons);
        QCOMPARE(f.delegate->errorAlert->findChild<QLabel *>("qt_msgbox_informativelabel")->textFormat(), Qt::PlainText);
        f.answerSheet(answer);
        QCOMPARE(f.model.workspace->settings.size(), settingsOpened);
        QCOMPARE(f.appModel().error(), std::nullopt);
    }

    void noticeResponses_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QVariantMap>("userInfo");
        QTest::addColumn<QString>("outcome");
        const QVariantMap mounted{{"peer", "p1"}, {"paths", QStringList{"/r/a", "/r/b"}}};
        const QVariantMap unmounted{{"peer", "p2"}, {"paths", QStringList{}}};
        QTest::newRow("show in folder") << "SHOW_IN_FOLDER" << mounted << "reveal /r/a,/r/b";
        QTest::newRow("show in folder, no paths") << "SHOW_IN_FOLDER" << unmounted << "window p2";
        QTest::newRow("show in folder, no paths, no peer") << "SHOW_IN_FOLDER" << QVariantMap() << "main window";
        QTest::newRow("paths not strings") << "SHOW_IN_FOLDER" << QVariantMap{{"peer", "p1"}, {"paths", QVariantList{1, 2}}} << "window p1";
        QTest::newRow("open files") << "OPEN_FILES" << mounted << "open file:///media/studio/";
        QTest::newRow("open files, not mounted") << "OPEN_FILES" << unmounted << "window p2";
        QTest::newRow("open files, gone") << "OPEN_FILES" << QVariantMap{{"peer", "p9"}} << "window p9";
        QTest::newRow("click on the notice") << "default" << mounted << "window p1";
        QTest::newRow("peer not a string") << "default" << QVariantMap{{"peer", 7}} << "main window";
    }

    void noticeResponses()
    {
        QFETCH(QString, action);
        QFETCH(QVariantMap, userInfo);
        QFETCH(QString, outcome);
        DelegateFixture f;
        QJsonObject studio = wire::peer(QStringLiteral("p1"), QStringLiteral("Studio"));
        studio.insert(QStringLiteral("mount"), QStringLiteral("/media/studio"));
        f.connect({studio, wire::peer(QStringLiteral("p2"), QStringLiteral("Laptop"))});
        f.appModel().setConnected(true);
        bool completed = false;
        f.delegate->didReceiveNotificationResponse({QStringLiteral("delivery-p1"), action, userInfo},
                                                   [&completed] { completed = true; });
        QVERIFY(!completed);
        QTRY_VERIFY(completed);
        QStringList happened;
        for (const QStringList &paths : f.model.workspace->revealed)
            happened << "reveal " + paths.join(',');
        for (const QUrl &url : f.model.workspace->opened)
            happened << "open " + url.toString();
        for (const QString &id : f.delegate->peerWindows.keys())
            happened << "window " + id;
        if (f.delegate->mainWindow)
            happened << "main window";
        QCOMPARE(happened, QStringList{outcome});
    }
};

QTEST_MAIN(ShellErrorsTest)
#include "tst_shell_errors.moc"
