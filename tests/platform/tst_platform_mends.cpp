// An alert that ends without a click, and the descriptors a child process gets.
#include "platform/alerts.h"
#include "platform/child_process.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace cv;

using BoxAction = std::function<void(QMessageBox *)>;
Q_DECLARE_METATYPE(BoxAction)

namespace {

// Lists which of the descriptors named after it are open in the shell.
const QString listOpen = QStringLiteral("for fd in \"$@\"; do [ -e /proc/$$/fd/$fd ] && echo \"open $fd\"; done; echo end");

} // namespace

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
        QTest::newRow("closed") << BoxAction([](QMessageBox *box) { box->close(); }) << 1;
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

    // A child gets descriptors 0 to 2 only, whatever this process inherited without
    // close-on-exec (a launcher's pipe, a high descriptor).
    void childGetsStandardStreamsOnly_data()
    {
        QTest::addColumn<bool>("service"); // else the diagnostics way: output through a pipe
        QTest::newRow("the service child") << true;
        QTest::newRow("the diagnostics child") << false;
    }
    void childGetsStandardStreamsOnly()
    {
        QFETCH(bool, service);
        int ends[2];
        QVERIFY(::pipe(ends) == 0); // inherited, as from a launcher: no close-on-exec
        const int high = ::dup2(ends[1], 100);
        QVERIFY(high == 100);
        const QStringList arguments{"-c", listOpen, "sh", QString::number(ends[0]), QString::number(ends[1]), "100"};
        QByteArray output;
        if (service) {
            QTemporaryFile log;
            QVERIFY(log.open());
            std::unique_ptr<Child> child = ChildLauncher::system().launch("/bin/sh", arguments, int(log.handle()));
            QTRY_VERIFY(!child->running());
            QFile read(log.fileName());
            QVERIFY(read.open(QIODevice::ReadOnly));
            output = read.readAll();
        } else {
            SpawnedProcess::Options options;
            options.output = SpawnedProcess::Stream::pipe;
            auto child = SpawnedProcess::spawn("/bin/sh", arguments, options);
            output = child->readOutputToEnd();
            child->wait();
        }
        ::close(ends[0]);
        ::close(ends[1]);
        ::close(high);
        QCOMPARE(output, QByteArray("end\n"));
    }
};

QTEST_MAIN(PlatformMendsTest)
#include "tst_platform_mends.moc"
