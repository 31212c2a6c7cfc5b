// An alert that ends without a click.
#include "platform/alerts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace cv;

using BoxAction = std::function<void(QMessageBox *)>;
Q_DECLARE_METATYPE(BoxAction)

class PlatformMendsTest : public QObject {
    Q_OBJECT

private slots:
    // Escape and closing choose the cancel button; an alert ended otherwise chose
    // nothing, never its first button.
    void alertWithoutAClick_data()
    {
        QTest::addColumn<BoxAction>("action");
        QTest::addColumn<int>("chosen");
        QTest::newRow("Escape") << BoxAction([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); }) << 1;
        QTest::newRow("ended without a click") << BoxAction([](QMessageBox *box) { box->done(0); }) << int(Alerts::noChoice);
    }
    void alertWithoutAClick()
    {
        QFETCH(BoxAction, action);
        QFETCH(int, chosen);
        Alert alert;
        alert.message = QStringLiteral("Forget Pat?");
        alert.buttons = {QStringLiteral("Forget"), QStringLiteral("Cancel")};
        alert.cancelButton = 1;
        QTimer::singleShot(0, this, [action] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            action(box);
            // An alert the action could not end is ended here, without a click.
            QTimer::singleShot(100, box, [box] { box->done(0); });
        });
        MessageBoxAlerts alerts;
        QCOMPARE(QCoro::waitFor(alerts.run(alert)), chosen);
    }
};

QTEST_MAIN(PlatformMendsTest)
#include "tst_platform_mends.moc"
