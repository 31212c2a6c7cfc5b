// The error sheet on the main window and the answers to clicks on notices.

#include "../views/table.h"
#include "delegate_fixture.h"

#include <QLabel>
#include <QRegularExpression>

using namespace cv;
using namespace cv::test;

class ShellErrorsTest : public QObject {
    Q_OBJECT
private slots:
    // One sheet at a time, its text never read as markup; while it is up newer errors
    // wait and the newest wins; dismissing clears only the error it shows.
    void errorsShownOneAtATime()
    {
        const std::optional<QString> first = QStringLiteral("<b>x</b> & co");
        DelegateFixture f;
        f.delegate->subscribeToErrors();
        f.appModel().setError(first);
        QTRY_COMPARE(f.sheet(), first);
        QCOMPARE(f.delegate->errorAlert->findChild<QLabel *>("qt_msgbox_informativelabel")->textFormat(), Qt::PlainText);
        f.appModel().setError(QStringLiteral("second"));
        f.appModel().setError(QStringLiteral("third"));
        QTest::qWait(20);
        QCOMPARE(f.sheet(), first);
        f.answerSheet();
        QCOMPARE(f.appModel().error(), std::optional<QString>(QStringLiteral("third")));
        QTRY_COMPARE(f.sheet(), std::optional<QString>(QStringLiteral("third")));
        f.answerSheet();
        QCOMPARE(f.appModel().error(), std::nullopt);
        QTest::qWait(20);
        QVERIFY(!f.delegate->errorAlert && f.model.workspace->settings.isEmpty());
    }

    // A refusal by the system's privacy protection adds the way to its settings,
    // where the desktop has that pane.
    void privacyRefusalOpensSettings_data()
    {
        QTest::addColumn<bool>("pane");
        QTest::newRow("pane") << true;
        QTest::newRow("no pane") << false;
    }
    void privacyRefusalOpensSettings()
    {
        QFETCH(bool, pane);
        DelegateFixture f;
        if (!pane)
            f.model.workspace->panes.clear();
        f.delegate->presentError(QStringLiteral("write (os error 1)"));
        QTRY_VERIFY(f.sheet().value_or("").startsWith("write (os error 1)\n\nmacOS is blocking"));
        QCOMPARE(f.delegate->errorAlert->buttons().first()->text(), pane ? "Open Privacy Settings" : "OK");
        f.answerSheet(0);
        QCOMPARE(f.model.workspace->settings.size(), pane ? 1 : 0);
    }

    void noticeResponses_data()
    {
        columns<QString, QVariantMap, QString>("action", "userInfo", "outcome");
        const QVariantMap mounted{{"peer", "p1"}, {"paths", QStringList{"/r/a", "/r/b"}}};
        const QVariantMap unmounted{{"peer", "p2"}, {"paths", QStringList{}}};
        QTest::newRow("show in folder") << "SHOW_IN_FOLDER" << mounted << "reveal /r/a,/r/b";
        QTest::newRow("show in folder, no paths") << "SHOW_IN_FOLDER" << unmounted << "window p2";
        QTest::newRow("open files") << "OPEN_FILES" << mounted << "open file:///media/studio/";
        QTest::newRow("click on the notice") << "default" << mounted << "window p1";
    }
    void noticeResponses()
    {
        auto [action, userInfo, outcome] = fetch<QString, QVariantMap, QString>("action", "userInfo", "outcome");
        DelegateFixture f;
        f.connect({peer("p1").named("Studio").mounted("/media/studio"), peer("p2").named("Laptop")});
        f.appModel().setConnected(true);
        bool completed = false;
        f.delegate->didReceiveNotificationResponse({QStringLiteral("delivery-p1"), action, userInfo}, [&completed] { completed = true; });
        QVERIFY(!completed);
        QTRY_VERIFY(completed);
        QStringList happened = f.delegate->peerWindows.keys().replaceInStrings(QRegularExpression("^"), "window ");
        for (const QStringList &paths : f.model.workspace->revealed)
            happened << "reveal " + paths.join(',');
        for (const QUrl &url : f.model.workspace->opened)
            happened << "open " + url.toString();
        QCOMPARE(happened, QStringList{outcome});
    }
};

QTEST_MAIN(ShellErrorsTest)
#include "tst_shell_errors.moc"
