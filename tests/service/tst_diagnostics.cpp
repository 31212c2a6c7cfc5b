// Saving the diagnostics archive with the stand-in as the service: the archive's
// place, the alerts, the reveal and the log lines.
#include "fake_clock.h"
#include "../views/table.h"
#include "fake_workspace.h"
#include "outcome.h"
#include "standin.h"
#include "test_files.h"

#include "service/diagnostics.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QCoroTask>

using namespace cv;
using namespace cv::test;

namespace {

// The texts of the application log's entries, without their time stamps.
QStringList logTexts()
{
    Diagnostics::flush();
    const QString text = QString::fromUtf8(readFile(Diagnostics::logFolder() + QStringLiteral("/app.log")));
    return QString(text).remove(QRegularExpression(QStringLiteral("^\\S+Z "), QRegularExpression::MultilineOption)).split('\n', Qt::SkipEmptyParts);
}

const QString archiveName = QStringLiteral("Corvane diagnostics 2026-01-31 1405.zip");

} // namespace

class DiagnosticsTest : public QObject {
    Q_OBJECT

    FakeClock clock_{1000.0, QDateTime(QDate(2026, 1, 31), QTime(14, 5, 42), Qt::LocalTime)};
    FakeAlerts alerts_;
    FakeWorkspace workspace_;
    std::unique_ptr<Standin> standin_;

    static QString desktop() { return QDir::homePath() + QStringLiteral("/Desktop"); }

    // The stand-in plays the service with this "diagnostics" script.
    void useStandin(const QJsonObject &diagnostics)
    {
        standin_ = std::make_unique<Standin>();
        standin_->setScript(QJsonObject{{"diagnostics", diagnostics}});
        standin_->exportEnvironment(false);
    }
    // The one alert shown, as "message | informative | buttons", or how many there were.
    QString shownAlert() const
    {
        if (alerts_.shown.size() != 1)
            return QStringLiteral("%1 alerts").arg(alerts_.shown.size());
        const Alert &alert = alerts_.shown.first();
        return alert.message + " | " + alert.informative + " | " + alert.buttons.join(',');
    }

private slots:
    void initTestCase()
    {
        Diagnostics::start();
        Diagnostics::flush(); // the banner, before init() clears the log
    }
    void init()
    {
        alerts_.shown.clear();
        workspace_.revealed.clear();
        QDir(desktop()).removeRecursively();
        QFile::remove(desktop());
        QFile::remove(Diagnostics::logFolder() + QStringLiteral("/app.log"));
    }
    void cleanup()
    {
        standin_.reset();
        qunsetenv("CV_MAC_SERVICE");
    }

    void archivePath()
    {
        QVERIFY(writeFile(desktop(), "")); // a file, not a folder: the home folder instead
        QCOMPARE(Diagnostics::archivePath(QDateTime(QDate(2026, 12, 3), QTime(0, 9), Qt::LocalTime)),
                 QDir::homePath() + "/Corvane diagnostics 2026-12-03 0009.zip");
    }

    // Saved on the desktop, revealed before the alert, without blocking the main thread:
    // the service answers only once the main thread has run a timer three times
    // meanwhile, so a save that blocked it would never end.
    void success()
    {
        QVERIFY(QDir().mkpath(desktop()));
        const QString release = QDir::temp().filePath(QStringLiteral("release-diagnostics"));
        QFile::remove(release);
        useStandin(QJsonObject{{"archive", "zip bytes"}, {"release", release}});
        int revealedBeforeAlert = -1, ticks = 0;
        QTimer timer;
        connect(&alerts_, &FakeAlerts::alertShown, &timer, [&] { revealedBeforeAlert = int(workspace_.revealed.size()); });
        connect(&timer, &QTimer::timeout, &timer, [&] {
            if (++ticks == 3)
                QVERIFY(writeFile(release, ""));
        });
        timer.start(20);
        QCoro::Task<> task = Diagnostics::save(&alerts_, &workspace_, &clock_);
        QVERIFY(!task.isReady());
        QVERIFY(outcome(std::move(task)).value);
        QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
        const QString archive = desktop() + "/" + archiveName;
        QCOMPARE(readFile(archive), QByteArray("zip bytes"));
        QCOMPARE(standin_->startArguments(), (QList<QStringList>{{"--diagnostics", archive}}));
        QCOMPARE(workspace_.revealed, (QList<QStringList>{{archive}}));
        QCOMPARE(revealedBeforeAlert, 1);
        QVERIFY2(shownAlert().startsWith("Diagnostics saved | Please email " + archiveName + " to "), qPrintable(shownAlert()));
        QCOMPARE(logTexts(), QStringList{"saving diagnostics to " + archive});
    }

    void failure_data()
    {
        // none: the stand-in (service)
        columns<std::optional<QString>, int, QString, QString>("service", "status", "standardError", "shown");
        const std::optional<QString> standin;
        QTest::newRow("with standard error") << standin << 5 << "  the disk is full\n\n\t" << "the disk is full";
        // More than a pipe holds: read while the service runs, or both would stall.
        QTest::newRow("much standard error") << standin << 1 << QString(300000, 'e') << QString(300000, 'e');
        QTest::newRow("missing executable") << std::optional<QString>("/nonexistent/cv-mac-service") << 0 << ""
                                            << "/nonexistent/cv-mac-service: No such file or directory";
    }
    void failure()
    {
        auto [service, status, standardError, shown] = fetch<std::optional<QString>, int, QString, QString>("service", "status", "standardError", "shown");
        if (service)
            qputenv("CV_MAC_SERVICE", QFile::encodeName(*service));
        else
            useStandin(QJsonObject{{"status", status}, {"stderr", standardError}});
        QVERIFY(outcome(Diagnostics::save(&alerts_, &workspace_, &clock_)).value);
        const QString inHome = QDir::homePath() + "/" + archiveName;
        if (!service)
            QCOMPARE(standin_->startArguments(), (QList<QStringList>{{"--diagnostics", inHome}}));
        QVERIFY(workspace_.revealed.isEmpty());
        QCOMPARE(shownAlert(), "Couldn't save diagnostics | " + shown + " | OK");
        QCOMPARE(logTexts(), ("saving diagnostics to " + inHome + "\ndiagnostics failed: " + shown).split('\n'));
    }
};

QTEST_GUILESS_MAIN(DiagnosticsTest)
#include "tst_diagnostics.moc"
