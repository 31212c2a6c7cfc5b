// Alerts: shown as plain text, and ended by a click, by Escape or without a click.
// A signal awaited once resumes its coroutine once.
#include "bounded.h"
#include "platform/alerts.h"
#include "platform/next_signal.h"
#include "../views/table.h"

#include <QAbstractButton>
#include <QCoroTask>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace cv;
using namespace cv::test;

using BoxAction = std::function<void(QMessageBox *)>;
Q_DECLARE_METATYPE(BoxAction)

class PlatformMendsTest : public QObject {
    Q_OBJECT

private slots:
    // Enter chooses the first button, Escape the cancel button; an alert ended
    // otherwise chose nothing, never its first button.
    void alertEndings_data()
    {
        columns<BoxAction, int>("action", "chosen");
        QTest::newRow("click") << BoxAction([](QMessageBox *box) { box->findChild<QAbstractButton *>("save")->click(); }) << 2;
        QTest::newRow("Enter: the first button") << BoxAction([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); }) << 0;
        QTest::newRow("Escape") << BoxAction([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); }) << 1;
        QTest::newRow("ended without a click") << BoxAction([](QMessageBox *box) { box->done(0); }) << int(Alerts::noChoice);
    }
    void alertEndings()
    {
        QFETCH(BoxAction, action);
        QFETCH(int, chosen);
        const Alert alert{.message = QStringLiteral("Forget <i>Pat</i>?"), .informative = QStringLiteral("<b>not bold</b> & more"),
                          .buttons = {QStringLiteral("Forget"), QStringLiteral("Cancel"), QStringLiteral("Save & Quit")},
                          .style = Alert::Style::warning, .cancelButton = 1};
        QStringList shown;
        QTimer::singleShot(0, this, [action, &shown] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            for (const char *label : {"qt_msgbox_label", "qt_msgbox_informativelabel"})
                shown << QString::number(box->findChild<QLabel *>(label)->textFormat());
            for (QAbstractButton *button : box->buttons())
                button->setObjectName(button->text().left(4).toLower()), shown << button->text();
            shown.sort();
            action(box);
            // An alert the action could not end is ended here, without a click.
            QTimer::singleShot(100, box, [box] { box->done(0); });
        });
        MessageBoxAlerts alerts;
        QCOMPARE(finished(alerts.run(alert)), chosen);
        QCOMPARE(shown, (QStringList{"0", "0", "Cancel", "Forget", "Save && Quit"}));
    }

    // The waiting coroutine resumes once, from the event loop, however often the
    // signal comes before the loop runs: never inside the emission, and never again
    // once its frame is gone.
    void nextSignal_data()
    {
        columns<int>("emissions");
        QTest::newRow("once") << 1;
        QTest::newRow("twice before the loop runs") << 2;
        QTest::newRow("three times") << 3;
    }
    void nextSignal()
    {
        QFETCH(int, emissions);
        QObject sender;
        int resumed = 0;
        bool emitting = false;
        bool duringEmission = false;
        auto wait = [](QObject *sender, int &resumed, bool &emitting, bool &duringEmission) -> QCoro::Task<> {
            co_await NextSignal(sender, &QObject::objectNameChanged);
            ++resumed;
            duringEmission = duringEmission || emitting;
        };
        QCoro::Task<> waiting = wait(&sender, resumed, emitting, duringEmission);
        emitting = true;
        for (int i = 0; i < emissions; ++i)
            sender.setObjectName(QString::number(i));
        emitting = false;
        QCOMPARE(resumed, 0);
        QTRY_COMPARE(resumed, 1);
        QCoreApplication::processEvents();
        QCOMPARE(resumed, 1);
        QVERIFY(!duringEmission);
    }
};

QTEST_MAIN(PlatformMendsTest)
#include "tst_platform_mends.moc"
