// The error sheet on the main window and the answers to clicks on notices.

#include "../views/table.h"
#include "delegate_fixture.h"

#include <QLabel>

using namespace cv;
using namespace cv::test;

class ShellErrorsTest : public QObject {
    Q_OBJECT
private slots:
    void errorsShownOneAtATime()
    {
        DelegateFixture f;
        f.delegate->subscribeToErrors();
        f.appModel().setError(QStringLiteral("first"));
        QTRY_COMPARE(f.sheet(), std::optional<QString>(QStringLiteral("first")));
        // While it is up, newer errors wait; the newest wins.
        f.appModel().setError(QStringLiteral("second"));
        f.appModel().setError(QStringLiteral("third"));
        QTest::qWait(20);
        QCOMPARE(f.sheet(), std::optional<QString>(QStringLiteral("first")));
        // Dismissing the first leaves the model's newer error alone ...
        f.answerSheet();
        QCOMPARE(f.appModel().error(), std::optional<QString>(QStringLiteral("third")));
        QTRY_COMPARE(f.sheet(), std::optional<QString>(QStringLiteral("third")));
        // ... and dismissing the one it shows clears it.
        f.answerSheet();
        QCOMPARE(f.appModel().error(), std::nullopt);
        QTest::qWait(20);
        QVERIFY(!f.delegate->errorAlert);
    }

    // Text shown as it is; a refusal by the system's privacy protection adds the way
    // to its settings.
    void sheetTexts_data()
    {
        columns<QString, QString, QStringList, int, int>("error", "informative", "buttons", "answer", "settingsOpened");
        QTest::newRow("markup shown literally") << "<b>x</b> & co" << "<b>x</b> & co" << QStringList{"OK"} << 0 << 0;
        QTest::newRow("privacy, open settings") << "write (os error 1)" << "write (os error 1)\n\nmacOS is blocking"
                                                << QStringList{"Open Privacy Settings", "OK"} << 0 << 1;
    }
    void sheetTexts()
    {
        auto [error, informative, buttons, answer, settingsOpened] =
            fetch<QString, QString, QStringList, int, int>("error", "informative", "buttons", "answer", "settingsOpened");
        DelegateFixture f;
        f.appModel().setError(error);
        f.delegate->presentError(error);
        QTRY_VERIFY(f.sheet().value_or("").startsWith(informative));
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
        columns<QString, QVariantMap, QString>("action", "userInfo", "outcome");
        const QVariantMap mounted{{"peer", "p1"}, {"paths", QStringList{"/r/a", "/r/b"}}};
        const QVariantMap unmounted{{"peer", "p2"}, {"paths", QStringList{}}};
        QTest::newRow("show in folder") << "SHOW_IN_FOLDER" << mounted << "reveal /r/a,/r/b";
        QTest::newRow("show in folder, no paths") << "SHOW_IN_FOLDER" << unmounted << "window p2";
        QTest::newRow("paths not strings, no peer") << "SHOW_IN_FOLDER" << QVariantMap{{"paths", QVariantList{1, 2}}} << "main window";
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
