#include "fake_clock.h"
#include "fake_workspace.h"
#include "service/diagnostics.h"
#include "standin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QCoroTask>

using namespace cv;
using namespace cv::test;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The texts of the application log's entries, without their time stamps.
QStringList logTexts()
{
    Diagnostics::flush();
    QStringList texts;
    const QString text = QString::fromUtf8(readAll(Diagnostics::logFolder() + QStringLiteral("/app.log")));
    static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3}Z "));
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        texts << (stamp.match(line).hasMatch() ? line.mid(25) : line);
    return texts;
}

QString supportSentence(const QString &file)
{
    return QStringLiteral("Please email ") + file + QStringLiteral(" to ") + Diagnostics::supportAddress()
        + QStringLiteral(" and tell us what happened. The archive includes the names of computers and files that "
                         "Corvane has used. Nothing is sent automatically.");
}

} // namespace

class DiagnosticsTest : public QObject {
    Q_OBJECT

    // 14:05 local time on 31 January 2026.
    FakeClock clock_ {1000.0, QDateTime(QDate(2026, 1, 31), QTime(14, 5, 42), Qt::LocalTime)};
    FakeAlerts alerts_;
    FakeWorkspace workspace_;
    std::unique_ptr<Standin> standin_;

    QString desktop() const { return QDir::homePath() + QStringLiteral("/Desktop"); }
    QString archiveName() const { return QStringLiteral("Corvane diagnostics 2026-01-31 1405.zip"); }

    void useStandin(const QJsonObject &diagnostics)
    {
        standin_ = std::make_unique<Standin>();
        standin_->setScript(QJsonObject {{"diagnostics", diagnostics}});
        standin_->exportEnvironment(false);
        qputenv("CV_MAC_SERVICE", QFile::encodeName(Standin::executable()));
    }

    void save() { QCoro::waitFor(Diagnostics::save(&alerts_, &workspace_, &clock_)); }

private slots:
    void initTestCase()
    {
        Diagnostics::start();
        Diagnostics::flush();
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

    void archivePath_data()
    {
        QTest::addColumn<QString>("desktopKind");
        QTest::addColumn<bool>("onDesktop");
        QTest::newRow("no Desktop folder") << "none" << false;
        QTest::newRow("Desktop folder") << "folder" << true;
        QTest::newRow("Desktop is a file") << "file" << false;
    }

    void archivePath()
    {
        QFETCH(QString, desktopKind);
        QFETCH(bool, onDesktop);
        if (desktopKind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(desktop()));
        if (desktopKind == QLatin1String("file")) {
            QFile file(desktop());
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QString folder = onDesktop ? desktop() : QDir::homePath();
        QCOMPARE(Diagnostics::archivePath(clock_.now()), folder + QLatin1Char('/') + archiveName());
        // Within the same minute the path is the same; hours run 00 to 23.
        QCOMPARE(Diagnostics::archivePath(clock_.now().addSecs(17)), folder + QLatin1Char('/') + archiveName());
        QCOMPARE(QFileInfo(Diagnostics::archivePath(QDateTime(QDate(2026, 12, 3), QTime(0, 9), Qt::LocalTime))).fileName(),
                 QStringLiteral("Corvane diagnostics 2026-12-03 0009.zip"));
    }

    void success()
    {
        QVERIFY(QDir().mkpath(desktop()));
        useStandin(QJsonObject {{"archive", "zip bytes"}});
        int revealedBeforeAlert = -1;
        QObject context;
        connect(&alerts_, &FakeAlerts::alertShown, &context,
                [&] { revealedBeforeAlert = int(workspace_.revealed.size()); });
        save();

        const QString archive = desktop() + QLatin1Char('/') + archiveName();
        QCOMPARE(readAll(archive), QByteArray("zip bytes"));
        QCOMPARE(standin_->startArguments(), (QList<QStringList> {{"--diagnostics", archive}}));
        QCOMPARE(workspace_.revealed, (QList<QStringList> {{archive}}));
        QCOMPARE(revealedBeforeAlert, 1);
        QCOMPARE(alerts_.shown.size(), 1);
        const Alert &alert = alerts_.shown.first();
        QCOMPARE(alert.message, QStringLiteral("Diagnostics saved"));
        QCOMPARE(alert.informative, supportSentence(archiveName()));
        QCOMPARE(alert.buttons, QStringList {"OK"});
        QCOMPARE(logTexts(), QStringList {QStringLiteral("saving diagnostics to ") + archive});
    }

    void failure_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("standardError");
        QTest::addColumn<QString>("shown");
        QTest::newRow("with standard error") << 5 << "  the disk is full\n" << "the disk is full";
        QTest::newRow("trailing line feeds and tabs") << 1 << "first line\nsecond line\n\n\t" << "first line\nsecond line";
        QTest::newRow("without standard error") << 2 << "" << "";
    }

    void failure()
    {
        QFETCH(int, status);
        QFETCH(QString, standardError);
        QFETCH(QString, shown);
        useStandin(QJsonObject {{"status", status}, {"stderr", standardError}});
        save();

        const QString archive = QDir::homePath() + QLatin1Char('/') + archiveName();
        QCOMPARE(standin_->startArguments(), (QList<QStringList> {{"--diagnostics", archive}}));
        QVERIFY(workspace_.revealed.isEmpty());
        QCOMPARE(alerts_.shown.size(), 1);
        QCOMPARE(alerts_.shown.first().message, QStringLiteral("Couldn't save diagnostics"));
        QCOMPARE(alerts_.shown.first().informative, shown);
        QCOMPARE(alerts_.shown.first().buttons, QStringList {"OK"});
        QCOMPARE(logTexts(), (QStringList {QStringLiteral("saving diagnostics to ") + archive,
                                           QStringLiteral("diagnostics failed: ") + shown.split('\n').first(),
                                          }) + (shown.contains('\n') ? QStringList {shown.split('\n').last()} : QStringList {}));
    }

    void failureWithoutStandardErrorLogsNothingAfterColon()
    {
        useStandin(QJsonObject {{"status", 3}});
        save();
        Diagnostics::flush();
        const QByteArray log = readAll(Diagnostics::logFolder() + QStringLiteral("/app.log"));
        QVERIFY2(log.endsWith(" diagnostics failed: \n"), log.constData());
    }

    void missingExecutable_data()
    {
        QTest::addColumn<QString>("service");
        QTest::newRow("missing") << "/nonexistent/cv-mac-service";
        QTest::newRow("empty variable") << "";
    }

    void missingExecutable()
    {
        QFETCH(QString, service);
        qputenv("CV_MAC_SERVICE", QFile::encodeName(service));
        save();
        QVERIFY(workspace_.revealed.isEmpty());
        QCOMPARE(alerts_.shown.size(), 1);
        QCOMPARE(alerts_.shown.first().message, QStringLiteral("Couldn't save diagnostics"));
        const QString reason = alerts_.shown.first().informative;
        QVERIFY2(reason.contains(QStringLiteral("No such file or directory")), qPrintable(reason));
        QCOMPARE(logTexts().last(), QStringLiteral("diagnostics failed: ") + reason);
    }

    void mainThreadIsNotBlocked()
    {
        useStandin(QJsonObject {{"delay", 0.4}});
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] { ++ticks; });
        timer.start(20);
        QCoro::Task<> task = Diagnostics::save(&alerts_, &workspace_, &clock_);
        QVERIFY(!task.isReady());
        QVERIFY(alerts_.shown.isEmpty());
        QCoro::waitFor(std::move(task));
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
        QCOMPARE(alerts_.shown.size(), 1);
        QCOMPARE(alerts_.shown.first().message, QStringLiteral("Diagnostics saved"));
    }

    void twoSavesInOneMinuteUseOnePath()
    {
        useStandin(QJsonObject {{"delay", 0.1}});
        QCoro::Task<> first = Diagnostics::save(&alerts_, &workspace_, &clock_);
        clock_.advance(10);
        QCoro::Task<> second = Diagnostics::save(&alerts_, &workspace_, &clock_);
        QCoro::waitFor(std::move(first));
        QCoro::waitFor(std::move(second));
        const QString archive = QDir::homePath() + QLatin1Char('/') + archiveName();
        QCOMPARE(standin_->startArguments(),
                 (QList<QStringList> {{"--diagnostics", archive}, {"--diagnostics", archive}}));
        QCOMPARE(alerts_.shown.size(), 2);
    }

    void muchStandardErrorDoesNotStall()
    {
        const QString big = QString(300000, QLatin1Char('e'));
        useStandin(QJsonObject {{"status", 1}, {"stderr", big}});
        save();
        QCOMPARE(alerts_.shown.size(), 1);
        QCOMPARE(alerts_.shown.first().informative.size(), big.size());
    }
};

QTEST_GUILESS_MAIN(DiagnosticsTest)
#include "tst_diagnostics.moc"
