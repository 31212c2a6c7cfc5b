#include "views_logic_support.h"
#include "table.h"

#include "views/activity_list.h"
#include "views/banner.h"
#include "views/theme.h"

#include <QAbstractButton>
#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

using namespace cv;
using namespace cv::test;

namespace {

QStringList titles(const QList<QAbstractButton *> &buttons)
{
    QStringList list;
    for (QAbstractButton *b : buttons)
        list << (b->text().isEmpty() ? asShown(b->toolTip()) : b->text()) + (b->isEnabled() ? "" : " (off)");
    return list;
}

// The bottom of a computer window: its activity list above its banner.
struct Window {
    explicit Window(const QString &state)
    {
        f.model().showDemo(Demo::status(state));
        auto *layout = new QVBoxLayout(&frame);
        layout->setContentsMargins(0, 0, 0, 0);
        list->setContentsMargins(20, 0, 20, 0);
        layout->addWidget(list, 1);
        layout->addWidget(banner);
        frame.resize(640, 260);
        list->refresh();
        banner->refresh();
    }
    ModelFixture f;
    QWidget frame;
    ActivityList *list = new ActivityList(f.model(), A);
    BannerView *banner = new BannerView(f.model(), A, "W");
};

} // namespace

class TestActivityBanner : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Theme::install(*qApp); }

    // The demo states with transfers shown in the window (their pictures are the
    // reference rendering's).
    void demoStates_data()
    {
        columns<QString, QString, QString>("state", "row", "banner"); // title | caption | buttons; title | buttons
        const QString nbsp = QString(QChar(0x00A0));
        QTest::newRow("sending") << "sending" << "Sending Holiday photos…|39.8 MB of 104.9 MB|Cancel" << "Windows Desktop is in receive mode|Send Files…";
        QTest::newRow("copying") << "copying" << "Copying Holiday photos to Downloads…|2.7 GB of 4.2 GB · 14.2" + nbsp + "Gb/s|Cancel"
                                 << "Windows Desktop is sharing Projects|Eject,Get Files…,Open";
        QTest::newRow("receive") << "receive" << "" << "Windows Desktop is in receive mode|Send Files…";
    }

    void demoStates()
    {
        auto [state, row, banner] = fetch<QString, QString, QString>("state", "row", "banner");
        Window w(state);
        w.frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.frame));
        QStringList shown;
        for (ActivityRow *r : w.list->rows())
            shown << r->title()->text() + "|" + r->caption()->text() + "|" + titles(r->buttons()).join(",");
        QCOMPARE(shown.join("\n"), row);
        QCOMPARE(w.list->isVisible(), !row.isEmpty());
        QCOMPARE(w.banner->titleLabel()->text() + "|" + titles(w.banner->buttons()).join(","), banner);
    }

    // A status that only moves the byte counts changes the bar and the caption of
    // the same row.
    void updatesInPlace()
    {
        Window w("copying");
        ActivityRow *row = w.list->rows().first();
        QAbstractButton *cancel = row->buttons().first();
        ServiceStatus status = Demo::status("copying");
        status.copies[0].bytes = 3'150'000'000;
        w.f.model().setStatus(status);
        w.list->refresh();
        w.banner->refresh();
        QCOMPARE(w.list->rows().first(), row);
        QCOMPARE(row->buttons().first(), cancel);
        QCOMPARE(*row->bar()->fraction(), 0.75);
        QVERIFY(row->caption()->text().startsWith("3.15 GB of 4.2 GB"));

        // Finished, with "dismiss": "Show in Finder" and the remove button, fully
        // opaque only under the pointer.
        status.copies[0].state = "done";
        status.copies[0].skipped_items = QList<CopyProblem>{{"/p/<b>x</b>", "unreadable"}};
        status.capabilities << "dismiss";
        w.f.model().setStatus(status);
        w.list->refresh();
        QCOMPARE(titles(row->buttons()), (QStringList{"Show in Finder", "Remove from list"}));
        QVERIFY(w.list->clearButton()->isVisibleTo(w.list));
        QVERIFY(row->title()->toolTip().contains("/p/&lt;b&gt;x&lt;/b&gt;: unreadable"));
        auto *effect = qobject_cast<QGraphicsOpacityEffect *>(row->buttons().last()->graphicsEffect());
        QCOMPARE(effect ? effect->opacity() : 0, 0.5);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(row, &enter);
        QCOMPARE(effect->opacity(), 1.0);
    }

};

QTEST_MAIN(TestActivityBanner)
#include "tst_activity_banner.moc"
