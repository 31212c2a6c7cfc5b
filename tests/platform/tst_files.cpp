// Folders, files and writes of the logs (modes under any umask, what already stands
// in the way, writes that do not complete), the packaged resources and the clock.
#include "bounded.h"
#include "platform/app_bundle.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/platform_error.h"
#include "test_files.h"

#include <QTemporaryDir>
#include <QTest>
#include <QCoroTask>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace cv;
using namespace cv::test;

class FilesTest : public QObject {
    Q_OBJECT
private slots:
    // Folders get their mode under any umask; a file in the way is no folder.
    void makeFolders()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("file"), ""));
        const mode_t saved = ::umask(0277);
        QString error;
        try {
            files::makeFolders(dir.filePath("a/b"), 0700);
            files::makeFolders(dir.filePath("file/b"), 0700);
        } catch (const PlatformError &e) {
            error = e.message();
        }
        ::umask(saved);
        QCOMPARE(error, dir.filePath("file") + ": Not a directory");
        QCOMPARE((QList{modeOf(dir.filePath("a")), modeOf(dir.filePath("a/b"))}), (QList<mode_t>{0700, 0700}));
    }

    void createIfMissing()
    {
        QTemporaryDir dir;
        const mode_t saved = ::umask(0277);
        const bool created = files::createIfMissing(dir.filePath("log"), 0600);
        ::umask(saved);
        QVERIFY(created);
        QCOMPARE(modeOf(dir.filePath("log")), mode_t(0600));
        QVERIFY(!files::createIfMissing(dir.filePath("log"), 0600));
        QVERIFY(QFile::link(dir.filePath("gone/log"), dir.filePath("dangling")));
        QVERIFY_THROWS_EXCEPTION(PlatformError, files::createIfMissing(dir.filePath("dangling"), 0600));
    }

    // A write cut short by the file size limit is no success.
    void partialWrite()
    {
        QTemporaryDir dir;
        const int fd = ::open(QFile::encodeName(dir.filePath("log")).constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit tight = saved;
        tight.rlim_cur = 10;
        const auto previous = ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &tight);
        const bool whole = files::writeOnce(fd, "0123456789abcdef", 16);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, previous);
        ::close(fd);
        QVERIFY(!whole);
        QCOMPARE(readFile(dir.filePath("log")), QByteArray("0123456789"));
    }

    void packaged()
    {
        QTemporaryDir root;
        const QString de = root.filePath("prefix/share/corvane/l10n/de.json");
        QVERIFY(writeFile(de, "{}"));
        for (const char *exe : {"prefix/bin/corvane", "build/src/app/corvane", "prefix/bin/corvane-dev"}) {
            const AppBundle bundle(root.filePath(exe), AppBundle::defaultInfo());
            const bool packaged = exe == QByteArray("prefix/bin/corvane");
            QCOMPARE(bundle.packaged(), packaged);
            QCOMPARE(bundle.resource("de", "json", "l10n").value_or(""), packaged ? de : "");
            QCOMPARE(bundle.resource("fr", "json", "l10n"), std::nullopt);
        }
    }

    // A sleep on an already cancelled token does not begin (a quit would wait it out).
    void cancelledSleepDoesNotBegin()
    {
        CancelToken token;
        token.cancel();
        QVERIFY(!finished(SystemClock().sleep(3600.0, token)));
    }
};

QTEST_GUILESS_MAIN(FilesTest)
#include "tst_files.moc"
