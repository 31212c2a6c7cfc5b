#include "views_logic_support.h"
#include "table.h"
#include "view_standin.h"

#include "localization/localization.h"
#include "views/activity_list.h"
#include "views/banner.h"
#include "views/peer_view.h"
#include "views/sharing_choice.h"
#include "views/theme.h"
#include "views/widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QMenu>
#include <QPainter>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

using namespace cv;
using namespace cv::test;

using ViewAction = std::function<void(PeerView &, StandinModel &)>;
Q_DECLARE_METATYPE(ViewAction)
using Pick = std::function<QWidget *(PeerView &)>; // a control of the window
Q_DECLARE_METATYPE(Pick)
using Step = std::function<void(ModelFixture &)>; // one change the window redraws for
Q_DECLARE_METATYPE(QList<Step>)

// A widget on screen whose own click (or key press) leads to `remove`, which takes it
// away: a redraw that runs inside the handler, as one in a nested event loop would.
struct SelfRemoval {
    std::unique_ptr<QWidget> root;
    QAbstractButton *target = nullptr;
    std::function<void()> remove;
};
using Removal = std::function<SelfRemoval(ModelFixture &)>;
Q_DECLARE_METATYPE(Removal)

namespace {

const QString evil = "<b>Evil</b> &amp; <i>Co</i> <img src=x>";

// What a label shows, its wrapped lines taken as the one text they break.
QString shownBy(QLabel *label)
{
    auto *wrapping = qobject_cast<TextLabel *>(label);
    return asShown(wrapping ? wrapping->fullText() : label->text(), label->textFormat());
}

// Button texts, a symbol button by its tooltip, " (off)" after a disabled one.
QString titles(const QList<QAbstractButton *> &buttons)
{
    QStringList list;
    for (QAbstractButton *b : buttons)
        list << (b->text().isEmpty() ? asShown(b->toolTip()) : b->text()) + (b->isEnabled() ? "" : " (off)");
    return list.join(',');
}

// Sends a drag of `urls` over the view and, with `drop`, drops it; true when the
// last event was accepted.
bool drag(PeerView &view, const QList<QUrl> &urls, bool drop)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint at(view.width() / 2, view.height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &enter);
    if (!drop || !enter.isAccepted())
        return enter.isAccepted();
    QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &dropped);
    return dropped.isAccepted();
}

ViewAction clickTile(SharingChoice choice)
{
    return [choice](PeerView &v, StandinModel &) { QTest::mouseClick(v.tile(choice), Qt::LeftButton); };
}

// The folder panel answers `path` after a new status with another pairing code
// arrived while it was open.
ViewAction throughPanel(ViewAction open, const QString &path)
{
    return [open, path](PeerView &v, StandinModel &s) {
        s.fixture.openPanels->respond = [&s, path](const OpenPanel &) -> std::optional<QList<QUrl>> {
            install(s.model(), demo("choose", {{"pairing_code", "000000000000"}}));
            return QList<QUrl>{QUrl::fromLocalFile(path)};
        };
        open(v, s);
    };
}

// Clicks the button the window shows as `text` (its title or accessible name).
ViewAction click(const QString &text)
{
    return [text](PeerView &v, StandinModel &) {
        QAbstractButton *button = buttonNamed(v, text);
        QVERIFY2(button, qPrintable(text));
        QTest::mouseClick(button, Qt::LeftButton);
    };
}

// The open panel answers `path`, then `open` runs.
ViewAction picking(const QString &path, ViewAction open)
{
    return [path, open](PeerView &v, StandinModel &s) {
        s.fixture.openPanels->answer = QList<QUrl>{QUrl::fromLocalFile(path)};
        open(v, s);
    };
}

// The demo's copy waits on an unreadable item.
QJsonObject copyProblem()
{
    QJsonObject status = demo("copying");
    QJsonArray copies = status["copies"].toArray();
    QJsonObject copy = copies[0].toObject();
    copy["problem"] = QJsonObject{{"path", "/p/a.txt"}, {"reason", "Permission denied"}};
    copies[0] = copy;
    status["copies"] = copies;
    return status;
}

Pick bannerButton(int index)
{
    return [index](PeerView &v) -> QWidget * { return v.banner()->buttons().value(index); };
}

Pick rowButton(int row, int index)
{
    return [row, index](PeerView &v) -> QWidget * {
        const QList<ActivityRow *> rows = v.activityList()->rows();
        return row < rows.size() ? rows[row]->buttons().value(index) : nullptr;
    };
}

// The copying demo with `copies` (the demo's copy changed by each object) and the
// removal of finished entries.
QJsonObject copying(const QList<QJsonObject> &copies)
{
    QJsonObject status = demo("copying", {}, {"dismiss"});
    const QJsonObject running = status["copies"][0].toObject();
    QJsonArray list;
    for (const QJsonObject &changes : copies) {
        QJsonObject copy = running;
        for (auto it = changes.begin(); it != changes.end(); ++it)
            copy[it.key()] = it.value();
        list << copy;
    }
    status["copies"] = list;
    return status;
}

// The demo computer's window for `status`, shown at `size`.
struct ActivePeer {
    ActivePeer(const QJsonObject &status, QSize size) : view((install(f.model(), status), f.model()), A, "Initial", nullptr)
    {
        view.resize(size);
        view.show();
    }
    ModelFixture f;
    PeerView view;
};

// Gives `widget` the focus as a mouse press (let go elsewhere, so no click) or Tab does.
void focusBy(QWidget *widget, bool mouse)
{
    if (mouse) {
        QTest::mousePress(widget, Qt::LeftButton);
        QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(-20, -20));
    } else {
        widget->setFocus(Qt::TabFocusReason);
    }
}

Step installing(const QJsonObject &status) { return [status](ModelFixture &f) { install(f.model(), status); }; }
Step busy(bool on) { return [on](ModelFixture &f) { f.model().setMutating(on); }; }

// Space on the focused control, whose command `op` the service answers with `after`
// once the clock moves on (the next step).
Step spaceAnswered(const QJsonObject &after, const QString &op = "choose")
{
    return [after, op](ModelFixture &f) {
        f.clock.setAutoAdvance(false);
        f.client->queue(op, reply(), 1);
        f.client->always("status", reply(after));
        f.client->always("events", reply(events({}, quint64(after["event_sequence"].toInteger()))));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    };
}
Step clockMoves() { return [](ModelFixture &f) { f.clock.advance(1); }; }
// The command in flight is answered, and the window has drawn it.
Step answered()
{
    return [](ModelFixture &f) {
        QVERIFY(QTest::qWaitFor([&f] { return f.model().busy(); }, 20000));
        f.clock.advance(1);
        QVERIFY(QTest::qWaitFor([&f] {
            const QWidget *focus = QApplication::focusWidget();
            return !f.model().busy() && focus && focus->isEnabled();
        }, 20000));
    };
}
Step sentTimes(const QString &op, int times) { return [op, times](ModelFixture &f) { QTRY_COMPARE(f.client->ops().count(op), times); }; }

// The demo computer's window in `before`, redrawn for `after`.
Removal inPeerView(QJsonObject before, QJsonObject after, std::function<QAbstractButton *(PeerView &)> find)
{
    return [=](ModelFixture &f) {
        install(f.model(), before);
        auto *view = new PeerView(f.model(), A, "Initial", nullptr);
        return SelfRemoval{std::unique_ptr<QWidget>(view), find(*view), [&f, view, after] { install(f.model(), after); view->refresh(); }};
    };
}

// A form section holding a button through `place`, then `remove` applied.
Removal inSection(std::function<void(FormSection &, QWidget *)> place, std::function<void(FormSection &)> remove)
{
    return [=](ModelFixture &) {
        auto *section = new FormSection("Header");
        auto *button = new QPushButton("Press");
        place(*section, button);
        return SelfRemoval{std::unique_ptr<QWidget>(section), button, [section, remove] { remove(*section); }};
    };
}

// The demo sending in `state`.
QJsonObject sending(const char *state)
{
    QJsonObject status = demo("sending", {}, {"dismiss"});
    QJsonArray transfers = status["transfers"].toArray();
    QJsonObject transfer = transfers[0].toObject();
    transfer["state"] = state;
    transfers[0] = transfer;
    status["transfers"] = transfers;
    return status;
}

} // namespace

class TestViewsPeer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Theme::install(*qApp); }

    // A widget that its own click or Space removes is only taken off the screen: it
    // is still there when its handler returns (Qt goes on using it), and deleted on
    // a later turn.
    void removedByItsOwnClick_data()
    {
        columns<Removal>("removal");
        QTest::newRow("banner button") << inPeerView(demo("receive"), demo("choose"), [](PeerView &v) { return v.banner()->buttons().value(0); });
        QTest::newRow("activity button") << inPeerView(sending("sending"), sending("completed"), [](PeerView &v) {
            return v.activityList()->rows().value(0)->buttons().value(0);
        });
        QTest::newRow("activity row") << inPeerView(sending("completed"), demo("receive"), [](PeerView &v) {
            return v.activityList()->rows().value(0)->buttons().value(0);
        });
        QTest::newRow("drive row") << Removal([](ModelFixture &) {
            auto *view = new SelectionDetailView;
            SelectionDetail detail;
            detail.kind = SelectionDetail::Kind::drives;
            detail.drives = {{"/media/a", "A"}, {"/media/b", "B"}};
            view->setDetail(detail);
            detail.drives.removeFirst();
            return SelfRemoval{std::unique_ptr<QWidget>(view), view->driveBoxes().value(0), [view, detail] { view->setDetail(detail); }};
        });
        const auto addRow = [](FormSection &s, QWidget *button) { s.addRow(FormSection::row(new QLabel("Row"), button)); };
        QTest::newRow("section row left out") << inSection(addRow, [](FormSection &s) { s.setRows({}); });
        QTest::newRow("section rows cleared") << inSection(addRow, [](FormSection &s) { s.clearRows(); });
        QTest::newRow("section header") << inSection([](FormSection &s, QWidget *b) { s.setHeaderWidget(b); },
                                                     [](FormSection &s) { s.setHeaderText("Other"); });
        QTest::newRow("section footer") << inSection([](FormSection &s, QWidget *b) { s.setFooter(b); },
                                                     [](FormSection &s) { s.setFooter(nullptr); });
    }
    void removedByItsOwnClick()
    {
        QFETCH(Removal, removal);
        for (const bool key : {false, true}) {
            ModelFixture f;
            SelfRemoval removed = removal(f);
            removed.root->show();
            QVERIFY(QTest::qWaitForWindowExposed(removed.root.get()));
            QPointer<QAbstractButton> target = removed.target;
            QVERIFY(target && target->isVisible());
            // After the widget's own handlers.
            connect(target, &QAbstractButton::clicked, removed.root.get(), removed.remove);
            key ? QTest::keyClick(target, Qt::Key_Space) : QTest::mouseClick(target, Qt::LeftButton);
            QVERIFY2(target && !target->isVisible(), key ? "Space" : "click");
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(!target);
        }
    }

    // The header's name, link line (its tooltip) and pending note; the more menu and the
    // avatar's hole, by what the model knows of the computer.
    void header_data()
    {
        columns<QJsonObject, QString, QString, QString>("status", "situation", "header", "menu"); // situation: "offline", "disconnected" or none
        const QString speeds = "Sending 20.9" + nbsp + "Gb/s · Receiving 20.4" + nbsp + "Gb/s";
        QTest::newRow("connected and remembered") << demo("connected") << "" << "Windows Desktop|Connected via Thunderbolt · 20.4" + nbsp + "Gb/s|" + speeds + "|0"
                                                  << "Disconnect|—|Forget This Computer…";
        // Without the service nothing counts as connected: no speeds in a tooltip.
        QTest::newRow("service lost: header only") << demo("connected") << "offline" << "Windows Desktop|Status unavailable||0" << "";
        QTest::newRow("remembered, not connected") << demo("empty", {}, {}, rememberedA()) << "" << "Old Name|Not connected||1" << "Forget This Computer…";
        QTest::newRow("disconnected only") << demo("empty") << "disconnected" << "Initial|Not connected||0" << "Reconnect";
        QTest::newRow("unknown: no button, no hole") << demo("empty") << "" << "Initial|Not connected||0" << "";
    }
    void header()
    {
        auto [status, situation, header, menu] = fetch<QJsonObject, QString, QString, QString>("status", "situation", "header", "menu");
        ModelFixture f;
        install(f.model(), status);
        f.model().setConnected(situation != "offline");
        if (situation == "disconnected")
            f.model().setDisconnected({{A, "Desk"}});
        PeerView view(f.model(), A, "Initial", nullptr);
        view.show();
        QCOMPARE(QStringList({view.nameLabel()->text(), view.linkLabel()->text(), asShown(view.linkLabel()->toolTip()),
                              QString::number(!view.pendingNote()->isHidden())}).join('|'), header);
        if (situation == "offline")
            return;
        const bool known = !menu.isEmpty();
        QCOMPARE(view.moreButton()->isVisible(), known);
        QCOMPARE(view.avatar()->hole(), known);
        // A point of the disc under the hole: cut out only for a known computer.
        QCOMPARE(view.avatar()->image(2).pixelColor(108, 40).alpha() == 0, known);
        if (!known)
            return;
        QTest::mouseClick(view.moreButton(), Qt::LeftButton);
        QTRY_VERIFY(view.moreMenu()->isVisible());
        QStringList shown;
        for (QAction *action : view.moreMenu()->actions())
            shown << (action->isSeparator() ? "—" : action->text());
        view.moreMenu()->hide();
        QCOMPARE(shown.join('|'), menu);
    }

    // The drop overlay says which way dropped files go; it never shows while busy
    // or when files can go neither way, and the drop is then refused.
    void dropOverlay_data()
    {
        columns<QJsonObject, QString>("status", "overlay"); // empty: none shown, and the drop refused
        QTest::newRow("can send and copy") << demo("receive", {{"mount", "/Volumes/W"}}) << "Drop files to send to Windows Desktop";
        QTest::newRow("copy only") << demo("connected") << "Drop files to copy at full speed";
        QJsonObject busy = demo("receive");
        busy["control_busy"] = true;
        QTest::newRow("busy") << busy << "";
        QTest::newRow("neither") << demo("choose") << "";
    }

    void dropOverlay()
    {
        auto [status, overlay] = fetch<QJsonObject, QString>("status", "overlay");
        ModelFixture f;
        install(f.model(), status);
        PeerView view(f.model(), A, "Initial", nullptr);
        view.resize(640, 600);
        view.show();
        // Every drag of files is taken on entering; the model decides at the drop.
        QVERIFY(drag(view, {QUrl::fromLocalFile("/etc/hostname")}, false));
        QCOMPARE(view.dropOverlay()->isVisible(), !overlay.isEmpty());
        if (!overlay.isEmpty()) {
            QCOMPARE(view.dropOverlayText(), overlay);
            QVERIFY(view.dropOverlay()->testAttribute(Qt::WA_TransparentForMouseEvents));
            // The window's opaque background shows the window's content through the
            // surface: where the header stands out most from it, it still does.
            for (Appearance appearance : {Appearance::light, Appearance::dark}) {
                Theme::setWindowAppearance(&view, appearance);
                QCoreApplication::processEvents(); // the banner's buttons, made again, show
                view.dropOverlay()->hide();
                const QImage under = view.grab().toImage();
                view.dropOverlay()->show();
                const QImage over = view.grab().toImage();
                const QColor background = under.pixelColor(2, 2);
                QVERIFY(background.alpha() == 255 && background != Theme::colors(appearance).windowBackground);
                auto contrast = [&](QPoint p) { return std::abs(qGray(under.pixel(p)) - qGray(background.rgb())); };
                QPoint most(20, 20);
                for (int y = 20; y < 150; ++y)
                    for (int x = 20; x < view.width() - 20; ++x)
                        most = contrast({x, y}) > contrast(most) ? QPoint(x, y) : most;
                QVERIFY(contrast(most) > 100);
                QVERIFY2(std::abs(qGray(over.pixel(most)) - qGray(under.pixel(most))) < 30, qPrintable(QString::number(qGray(over.pixel(most)))));
            }
        } else {
            QVERIFY(!drag(view, {QUrl::fromLocalFile("/etc/hostname")}, true));
        }
        QDragLeaveEvent leave;
        QApplication::sendEvent(&view, &leave);
        QVERIFY(!view.dropOverlay()->isVisible());
    }

    // The other computer's name is shown as it is wherever it goes, never read as markup.
    void hostileName()
    {
        ModelFixture f;
        install(f.model(), demo("copying", {{"name", evil}}));
        PeerView view(f.model(), A, "Initial", nullptr);
        const QStringList shown{asShown(buttonNamed(*view.banner(), "Get Files…")->toolTip()), shownBy(view.banner()->titleLabel()),
                                shownBy(view.nameLabel()), view.moreButton()->accessibleName(),
                                shownBy(view.options()->readOnlyRow()->detailLabel())};
        for (const QString &text : shown)
            QVERIFY2(text.contains(evil), qPrintable(text));
        install(f.model(), demo("empty", {}, {}, rememberedA(evil)));
        view.refresh();
        QVERIFY2(shownBy(view.pendingNote()).contains(evil), qPrintable(shownBy(view.pendingNote())));
    }

    // Texts of any length, with line breaks or read right to left, at the window's
    // narrowest: nothing is wider than the window, the path stays on one line, every
    // tooltip wraps at the one width and is laid out again only for a new text, and an
    // inserted name keeps its own direction while the sentence and the labels keep the
    // application's.
    // A text as a label shows it, without a widget: at every width its lines, drawn
    // as a label draws them, leave no ink below its height (the last line whole), and
    // the whole of it copies as composed: the isolation the text lookup inserted taken
    // off, a raw text's own marks kept.
    void shownText_data()
    {
        columns<QString, bool, QFont, int, QString>("text", "raw", "font", "lines", "copied");
        const QString path = QString::fromUtf8("/home/u/סטודיו של דנה/IMG_20240101_123456_final.jpg");
        const QString arabic = QString::fromUtf8("/home/u/مجلد المشاريع/التقرير السنوي.pdf");
        const auto problem = [](const QString &file) {
            return L("Couldn't read {path}: {reason}.", {{"path", file}, {"reason", "Permission denied (os error 13)"}});
        };
        const QString plain = "Couldn't read /home/u/a.txt: Permission denied (os error 13).";
        QTest::newRow("Hebrew path, callout") << problem(path) << false << Theme::callout() << 0 << "Couldn't read " + path + ": Permission denied (os error 13).";
        QTest::newRow("Arabic path, callout") << problem(arabic) << false << Theme::callout() << 0 << "Couldn't read " + arabic + ": Permission denied (os error 13).";
        QTest::newRow("Hebrew path, caption") << problem(path) << false << Theme::caption() << 0 << "Couldn't read " + path + ": Permission denied (os error 13).";
        QTest::newRow("Hebrew path, title 2 semibold") << problem(path) << false << Theme::semibold(Theme::title2()) << 0 << "Couldn't read " + path + ": Permission denied (os error 13).";
        QTest::newRow("Hebrew path, two lines at most") << problem(path) << false << Theme::callout() << 2 << "Couldn't read " + path + ": Permission denied (os error 13).";
        QTest::newRow("no marks, caption") << plain << false << Theme::caption() << 0 << plain;
        const QString marked = QString::fromUtf8("/home/u/Notes \u2068draft\u2069 \u2067טיוטה\u2069.txt");
        QTest::newRow("raw text with marks of its own") << marked << true << Theme::callout() << 0 << marked;
        QTest::newRow("the same text composed") << marked << false << Theme::callout() << 0 << QString::fromUtf8("/home/u/Notes draft \u2067טיוטה\u2069.txt");
    }
    void shownText()
    {
        auto [text, raw, font, lines, copied] = fetch<QString, bool, QFont, int, QString>("text", "raw", "font", "lines", "copied");
        for (int width = 60; width <= 480; width += 37) {
            const ShownText shown = ShownText::wrapped(text, raw ? TextSource::raw : TextSource::composed, font, width, lines);
            QCOMPARE(shown.copied(0, shown.shown().size()), copied);
            QImage image(width + 20, shown.height() + 40, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(QRect(0, 0, image.width(), image.height()), Qt::AlignLeft | Qt::AlignTop, shown.shown());
            painter.end();
            int inkBelow = -1;
            for (int y = shown.height(); y < image.height() && inkBelow < 0; ++y)
                for (int x = 0; x < image.width() && inkBelow < 0; ++x)
                    inkBelow = qGray(image.pixel(x, y)) < 200 ? y : -1;
            QVERIFY2(inkBelow < 0, qPrintable(QString("at %1 px: %2 lines in %3 px, ink at %4").arg(width).arg(shown.lineCount()).arg(shown.height()).arg(inkBelow)));
        }
    }

    void textsFit_data()
    {
        columns<QJsonObject>("status");
        const auto problem = [](const QString &file) {
            QJsonObject status = demo("folder");
            const QByteArray copy = copyJson("c", "copying", R"("problem":{"path":")" + file.toUtf8() + R"x(","reason":"Permission denied (os error 13)"})x", A.toLatin1().constData());
            status["copies"] = QJsonArray{QJsonDocument::fromJson(copy).object()};
            return status;
        };
        QTest::newRow("long file name in a copy's problem") << problem("/Volumes/Projects/IMG_20240101_123456_HDR_panorama_final_version_2_edited_copy.jpg");
        QTest::newRow("right-to-left folder in a copy's problem")
            << problem(QString::fromUtf8("/Volumes/Projects/סטודיו של דנה/IMG_20240101_123456_HDR_panorama_final_version_2_edited_copy.jpg"));
        QTest::newRow("tab, return and line feed in the name")
            << demo("connected", {{"name", "Studio\tof\r\nDana"}, {"remote_share", QJsonObject{{"label", "Pro\njects"}, {"read_only", true}}}});
        const QString deep = QDir::homePath() + "/" + QString("Footage of the second shooting day/").repeated(6) + QString("Selects ").repeated(20);
        QJsonObject skipped = demo("folder", {{"sharing", share::folder(deep)}});
        QJsonObject done = QJsonDocument::fromJson(copyJson("c", "done", "\"skipped\":2", A.toLatin1().constData())).object();
        done["skipped_items"] = QJsonArray{QJsonObject{{"path", QString("/Volumes/Projects/raw_footage_day_2").repeated(12)}, {"reason", "Permission denied"}},
                                           QJsonObject{{"path", "/p/a.txt"}, {"reason", "Operation not permitted"}}};
        skipped["copies"] = QJsonArray{done};
        QTest::newRow("long paths: shared folder, a copy's skipped items") << skipped;
        QTest::newRow("300-character name") << demo("copying", {{"name", QString("Studio").repeated(50)}});
        QTest::newRow("line feed in the folder's path") << demo("folder", {{"sharing", share::folder(QDir::homePath() + "/Pro\njects")}});
        QTest::newRow("right-to-left name, override inside") << demo("empty", {}, {}, rememberedA(QString::fromUtf8("שלום \u202Eabc")));
        QTest::newRow("isolation marks of its own in the name") << demo("copying", {{"name", QString::fromUtf8("Notes \u2068draft\u2069 of Dana")}});
        QTest::newRow("Arabic folder in a copy's problem")
            << problem(QString::fromUtf8("/Volumes/مجلد المشاريع/نسخة نهائية من التقرير السنوي للمشروع.pdf"));
    }
    void textsFit()
    {
        auto [status] = fetch<QJsonObject>("status");
        ModelFixture f;
        install(f.model(), status);
        PeerView view(f.model(), A, "Initial", nullptr);
        view.resize(view.minimumSizeHint().width(), 460);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.width(), 600);
        auto *area = view.findChild<QScrollArea *>();
        QTRY_COMPARE(area->widget()->width(), area->viewport()->width());
        QCOMPARE(area->horizontalScrollBar()->maximum(), 0);
        for (QWidget *w : view.findChildren<QWidget *>()) {
            if (!w->isVisible() || w->inherits("QScrollBar"))
                continue;
            const QRect at(w->mapTo(area->viewport()->isAncestorOf(w) ? area->viewport() : &view, QPoint(0, 0)), w->size());
            QVERIFY2(at.left() >= 0 && at.right() < (area->viewport()->isAncestorOf(w) ? area->viewport()->width() : view.width()),
                     qPrintable(QString("%1 %2..%3").arg(w->metaObject()->className()).arg(at.left()).arg(at.right())));
            if (w->toolTip().isEmpty())
                continue;
            QToolTip::showText(w->mapToGlobal(QPoint(2, 2)), w->toolTip(), w);
            QWidget *tip = nullptr;
            for (QWidget *top : QApplication::topLevelWidgets())
                tip = top->objectName() == "qtooltip_label" && top->isVisible() ? top : tip;
            QVERIFY(tip);
            // Wrapped, it takes the whole width before a line breaks.
            const int lines = tip->height() / tip->fontMetrics().lineSpacing();
            QVERIFY2(tip->width() <= toolTipWidth + 12 && (lines == 1 || tip->width() >= toolTipWidth - 80),
                     qPrintable(QString("%1: %2 wide, %3 lines").arg(asShown(w->toolTip())).arg(tip->width()).arg(lines)));
            QToolTip::hideText();
        }
        // A tooltip is laid out when its text changes: the same status again and a
        // resize that changes no text lay out none.
        const int built = plainToolTipsBuilt();
        install(f.model(), status);
        view.refresh();
        view.resize(view.width() + 1, view.height() + 20);
        QCoreApplication::processEvents();
        QCOMPARE(plainToolTipsBuilt(), built);
        // A name, path or file name set into a sentence or a line keeps to its line.
        for (QLabel *label : view.findChildren<QLabel *>()) {
            const auto *wrapping = qobject_cast<TextLabel *>(label);
            const QString given = wrapping ? wrapping->fullText() : label->text();
            QVERIFY2(!label->isVisible() || !given.contains(QRegularExpression("[\t\r\n]")), qPrintable(given));
        }
        // The path of a copy's problem, selected and copied with Ctrl+C, is the path
        // alone: no isolation, no break where its line wrapped.
        QString problemPath = status["copies"][0]["problem"]["path"].toString();
        for (TextLabel *label : view.findChildren<TextLabel *>()) {
            if (problemPath.isEmpty() || !label->fullText().startsWith("Couldn't read"))
                continue;
            QVERIFY(label->text().contains('\n'));
            const qsizetype from = label->text().indexOf("/Volumes");
            label->setFocus();
            label->setSelection(int(from), int(label->text().indexOf(':', from) - from));
            QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
            QCOMPARE(QApplication::clipboard()->text(), problemPath);
            problemPath.clear();
        }
        QVERIFY(problemPath.isEmpty());
        // The computer's name is the other computer's own text: copied whole, with
        // every mark it holds.
        auto *header = qobject_cast<TextLabel *>(view.nameLabel());
        QVERIFY(header);
        header->setFocus();
        header->setSelection(0, int(header->text().size()));
        QTest::keyClick(header, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), header->fullText());
        QCOMPARE(QAccessible::queryAccessibleInterface(header)->text(QAccessible::Name), header->fullText()); // and read so
        // The folder's path on one line; shortened, its tooltip holds it whole.
        PathLabel *path = view.detail()->folderPath();
        if (path->isVisible())
            QVERIFY(!path->text().contains('\n') && path->height() <= path->fontMetrics().height() + 2);
        if (path->isVisible() && path->text().contains("…"))
            QCOMPARE(path->toolTip(), plainToolTip(path->path()));
        // A one-line text not cut short has no tooltip.
        for (QLabel *line : view.findChildren<QLabel *>()) {
            const bool oneLine = qobject_cast<ElidedLabel *>(line) || qobject_cast<PathLabel *>(line);
            if (oneLine && line->isVisible() && !line->text().contains("…"))
                QVERIFY2(line->toolTip().isEmpty(), qPrintable(line->text()));
        }
        // The dot is green only while the computer is connected.
        const QImage dot = view.statusDot()->grab().toImage();
        bool green = false;
        for (int y = 0; y < dot.height(); ++y)
            for (int x = 0; x < dot.width(); ++x)
                green = green || (dot.pixelColor(x, y).green() > 150 && dot.pixelColor(x, y).red() < 120);
        QCOMPARE(green, !status["peers"].toArray().isEmpty());
        // A name read right to left stays a part of the sentence it is put in.
        const QString name = QString::fromUtf8("שלום \u202Eabc");
        if (status["remembered_computers"].toArray().first()["name"] == name) {
            auto *title = qobject_cast<TextLabel *>(view.banner()->titleLabel());
            QCOMPARE(title->fullText(), QChar(0x2068) + name + QChar(0x2069) + " isn't connected.");
            for (QLabel *label : QList<QLabel *>{title, view.nameLabel(), view.pendingNote()})
                QVERIFY2(!label->text().isRightToLeft(), qPrintable(label->text()));
        }
        // Every wrapped text has the height its lines take as drawn, at every width:
        // its last line shows whole, whatever fonts stand in for letters and marks.
        for (const int width : {600, 737, 900}) {
            view.resize(width, 460);
            QTRY_COMPARE(area->widget()->width(), area->viewport()->width());
            QCoreApplication::processEvents();
            for (TextLabel *label : view.findChildren<TextLabel *>()) {
                if (label->isVisible())
                    QVERIFY2(label->height() >= label->QLabel::sizeHint().height(),
                             qPrintable(QString("%1 at %2: %3 < %4").arg(label->text()).arg(width).arg(label->height()).arg(label->QLabel::sizeHint().height())));
            }
        }
    }

    // Tab walks the window in screen order, wrapping, never stopping at the scroll
    // area, and Shift+Tab the other way; Enter chooses a tile, whose ring shows
    // beside its border, and opens the "…" menu.
    void keyboard()
    {
        ModelFixture f;
        f.model().showDemo(Demo::status("copying"));
        PeerView view(f.model(), A, "Initial", nullptr);
        view.resize(640, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QCOMPARE(tabWalk(12), "More actions for Windows Desktop|Share drives|Share a folder|Receive only|Read-only|"
                                  "Remember this computer|Cancel|Eject|Get Files…|Open|More actions for Windows Desktop|Share drives");
        QCOMPARE(tabWalk(10, true), "More actions for Windows Desktop|Open|Get Files…|Eject|Cancel|Remember this computer|"
                                    "Read-only|Receive only|Share a folder|Share drives");
        QSignalSpy chosen(view.tile(SharingChoice::drive), &QAbstractButton::clicked);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(tabWalk(1, true), "More actions for Windows Desktop");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_VERIFY(view.moreMenu()->isVisible());
        view.moreMenu()->hide();
    }

    // The focused control goes (a status redraws the window, or a command disables
    // it): the focus goes to the nearest control left in the same part of the window,
    // the next, else the previous, once the redraw is done; it comes back to a
    // control that returns, the window does not scroll, and the ring shows unless the
    // mouse gave the first control its focus.
    void focusStays_data()
    {
        columns<QJsonObject, Pick, bool, QList<Step>, Pick>("status", "focus", "mouse", "steps", "expected");
        const QJsonObject sharing = demo("connected");
        const QJsonObject ejected = demo("connected", {{"mount", QJsonValue::Null}, {"ejected", true}});
        const QList<Step> copyEnds{installing(copying({{{"state", "done"}}}))};
        QTest::newRow("a copy ends on its Cancel") << copying({{}}) << rowButton(0, 0) << false << copyEnds << rowButton(0, 0);
        QTest::newRow("Cancel pressed with the mouse") << copying({{}}) << rowButton(0, 0) << true << copyEnds << rowButton(0, 0);
        QTest::newRow("Clear, then the finished go") << copying({{{"id", "old"}, {"state", "done"}}, {}})
            << Pick([](PeerView &v) -> QWidget * { return v.activityList()->clearButton(); }) << false
            << QList<Step>{busy(true), [](ModelFixture &f) { install(f.model(), copying({{}})), f.model().setMutating(false); }} << rowButton(0, 0);
        QTest::newRow("a command holds the Receive only tile") << demo("choose")
            << Pick([](PeerView &v) -> QWidget * { return v.tile(SharingChoice::receive); }) << false
            << QList<Step>{busy(true), busy(false)} << Pick([](PeerView &v) -> QWidget * { return v.tile(SharingChoice::receive); });
        // The command disables the tiles until its answer's status shows them again.
        QTest::newRow("Space on a tile keeps the focus across the status that follows") << sharing
            << Pick([](PeerView &v) -> QWidget * { return v.tile(SharingChoice::receive); }) << false
            << QList<Step>{spaceAnswered(demo("receive")), clockMoves()}
            << Pick([](PeerView &v) -> QWidget * { return v.tile(SharingChoice::receive); });
        QTest::newRow("Eject, then ejected") << sharing << bannerButton(0) << false
            << QList<Step>{busy(true), [ejected](ModelFixture &f) { install(f.model(), ejected), f.model().setMutating(false); }} << bannerButton(0);
        QTest::newRow("the banner changes under Get Files…") << sharing << bannerButton(1) << false
            << QList<Step>{installing(ejected)} << bannerButton(0);
        // Space on a control whose command disables it: it keeps the focus while the
        // command runs, Tab goes on from it, and a second Space presses it again. One
        // that goes with the answer leaves the focus to the control in its place.
        const QJsonObject folder = demo("folder");
        const Pick readOnly = [](PeerView &v) -> QWidget * { return v.options()->readOnlyRow()->toggle(); };
        QTest::newRow("Space twice on Read-only") << folder << readOnly << false
            << QList<Step>{spaceAnswered(folder), answered(), spaceAnswered(folder), answered(), sentTimes("choose", 2)} << readOnly;
        QTest::newRow("Tab from Read-only while its command runs") << folder << readOnly << false
            << QList<Step>{spaceAnswered(folder), [](ModelFixture &) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); }}
            << bannerButton(2);
        const Pick receive = [](PeerView &v) -> QWidget * { return v.tile(SharingChoice::receive); };
        QTest::newRow("Space twice on a tile") << sharing << receive << false
            << QList<Step>{spaceAnswered(demo("receive")), answered(), spaceAnswered(sharing), answered(), sentTimes("choose", 2)} << receive;
        QTest::newRow("Space on Eject, then on Show Again in its place") << sharing << bannerButton(0) << false
            << QList<Step>{spaceAnswered(ejected, "eject"), answered(), spaceAnswered(sharing, "mount"), answered(), sentTimes("mount", 1)}
            << bannerButton(1);
    }

    void focusStays()
    {
        auto [status, focus, mouse, steps, expected] = fetch<QJsonObject, Pick, bool, QList<Step>, Pick>("status", "focus", "mouse", "steps", "expected");
        ActivePeer shown(status, QSize(640, 330));
        QVERIFY(QTest::qWaitForWindowActive(&shown.view));
        ModelFixture &f = shown.f;
        PeerView &view = shown.view;
        QWidget *start = focus(view);
        QVERIFY(start);
        focusBy(start, mouse);
        QCOMPARE(QApplication::focusWidget(), start);
        QScrollBar *bar = view.scrollArea()->verticalScrollBar();
        bar->setValue(bar->maximum());
        const int scrolled = bar->value();
        QVERIFY(scrolled > 0);
        // A screen reader never lands on the window's nameless view.
        QStringList nameless;
        connect(qApp, &QApplication::focusChanged, &view, [&nameless](QWidget *, QWidget *now) {
            if (now && nameOf(now).isEmpty())
                nameless << now->metaObject()->className();
        });
        for (const Step &step : steps) {
            step(f);
            view.refresh();
            QTest::qWait(10);
        }
        // Once the redraw is done and the focus has settled.
        QTRY_VERIFY2_WITH_TIMEOUT(QApplication::focusWidget() == expected(view) && expected(view),
                                  qPrintable(nameOf(QApplication::focusWidget()) + " instead of " + nameOf(expected(view))), 20000);
        QWidget *landing = expected(view);
        QCOMPARE(bar->value(), std::min(scrolled, bar->maximum()));
        QCOMPARE(nameless, QStringList());
        QCOMPARE(ringAround(landing), !mouse);
    }

    // Every control draws the accent ring when it has the focus in the active window,
    // also after the window was left and came back, but not after a mouse press, nor
    // while another window has the focus; one ring, its own or the shared one. Tab
    // shows the control it moves to.
    void ring_data()
    {
        columns<QJsonObject, Pick, QString, bool>("status", "control", "then", "ring"); // then: "mouse", "away", both, or "tab"
        const QJsonObject done = copying({{{"state", "done"}}});
        QTest::newRow("Clear") << done << Pick([](PeerView &v) -> QWidget * { return v.activityList()->clearButton(); }) << "" << true;
        QTest::newRow("plain button") << demo("connected") << bannerButton(1) << "" << true;
        QTest::newRow("plain button, by the mouse") << demo("connected") << bannerButton(1) << "mouse" << false;
        QTest::newRow("eject") << demo("connected") << bannerButton(0) << "" << true;
        QTest::newRow("remove") << done << rowButton(0, 1) << "" << true;
        QTest::newRow("prominent, away and back") << demo("connected") << bannerButton(2) << "away" << true;
        QTest::newRow("switch, away and back") << demo("connected")
            << Pick([](PeerView &v) -> QWidget * { return v.options()->rememberRow()->toggle(); }) << "away" << true;
        QTest::newRow("plain button, away and back") << demo("connected") << bannerButton(1) << "away" << true;
        QTest::newRow("plain button, by the mouse, away and back") << demo("connected") << bannerButton(1) << "mouse, away" << false;
        QTest::newRow("tile") << demo("connected") << Pick([](PeerView &v) -> QWidget * { return v.tile(SharingChoice::folder); }) << "" << true;
        // Tab from the window's own view (as a window just opened, or one whose
        // control went) scrolled to the end of many copies: the first control, above
        // what the window shows.
        QTest::newRow("\"…\" by Tab, scrolled away") << copying({{{"id", "c1"}}, {{"id", "c2"}}, {{"id", "c3"}}, {{"id", "c4"}}, {{"id", "c5"}}, {{"id", "c6"}}})
            << Pick([](PeerView &v) -> QWidget * { return v.moreButton(); }) << "tab" << true;
    }

    void ring()
    {
        auto [status, control, then, ring] = fetch<QJsonObject, Pick, QString, bool>("status", "control", "then", "ring");
        ActivePeer shown(status, QSize(640, 700));
        QVERIFY(QTest::qWaitForWindowActive(&shown.view));
        PeerView &view = shown.view;
        QWidget *widget = control(view);
        QVERIFY(widget);
        if (then == "tab") {
            QScrollBar *bar = view.scrollArea()->verticalScrollBar();
            bar->setValue(bar->maximum());
            QVERIFY(!widget->visibleRegion().boundingRect().contains(widget->rect()));
            view.setFocus(Qt::OtherFocusReason);
            QTest::keyClick(&view, Qt::Key_Tab);
        } else {
            focusBy(widget, then.contains("mouse"));
        }
        if (then.contains("away"))
            QVERIFY2(awayAndBack(view, [widget] { return !anyRing(widget); }), "a ring while away, or not back");
        QCOMPARE(QApplication::focusWidget(), widget);
        // Whole in view, where it scrolls.
        const QWidget *shows = view.scrollArea()->viewport();
        if (shows->isAncestorOf(widget))
            QVERIFY2(shows->rect().contains(QRect(widget->mapTo(shows, QPoint(0, 0)), widget->size())), "out of view");
        QCOMPARE(ringAround(widget), ring);
        if (ring)
            QVERIFY2(!twoRings(widget), "two rings");
    }

    // The copying demo's row and banner; a status that only moves the byte counts
    // changes the bar and caption of the same row, and a problem shows until the copy ends; finished, the remove button is fully
    // opaque only under the pointer; without entries the list hides.
    void activity()
    {
        ModelFixture f;
        f.model().showDemo(Demo::status("copying"));
        PeerView view(f.model(), A, "Initial", nullptr);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        ActivityRow *row = view.activityList()->rows().first();
        QCOMPARE(row->title()->text() + "|" + row->caption()->text() + "|" + titles(row->buttons()),
                 "Copying Holiday photos to Downloads…|2.7 GB of 4.2 GB · 14.2" + nbsp + "Gb/s|Cancel");
        QCOMPARE(view.banner()->titleLabel()->text() + "|" + titles(view.banner()->buttons()), "Windows Desktop is sharing Projects|Eject,Get Files…,Open");
        ServiceStatus status = Demo::status("copying");
        status.copies[0].bytes = 3'150'000'000;
        status.copies[0].problem = CopyProblem{"/p/a.txt", "unreadable"};
        f.model().setStatus(status);
        view.refresh();
        QCOMPARE(view.activityList()->rows(), QList<ActivityRow *>{row});
        QVERIFY(row->problem()->isVisibleTo(row));
        QCOMPARE(*row->bar()->fraction(), 0.75);
        QVERIFY(row->caption()->text().startsWith("3.15 GB of 4.2 GB"));
        // A command in flight disables the banner's buttons, and only that changed.
        f.model().setMutating(true);
        view.refresh();
        QVERIFY(!view.banner()->buttons().first()->isEnabled());
        f.model().setMutating(false);
        status.copies[0].state = "done";
        status.copies[0].skipped_items = QList<CopyProblem>{{"/p/<b>x</b>", "unreadable"}};
        status.capabilities << "dismiss";
        f.model().setStatus(status);
        view.refresh();
        QCOMPARE(titles(row->buttons()), "Show in File Manager,Remove from list");
        QVERIFY(!row->problem()->isVisibleTo(row)); // a finished copy drops the problem it had
        QVERIFY(view.activityList()->clearButton()->isVisible());
        QVERIFY(row->title()->toolTip().contains("/p/&lt;b&gt;x&lt;/b&gt;: unreadable"));
        auto *effect = qobject_cast<QGraphicsOpacityEffect *>(row->buttons().last()->graphicsEffect());
        QCOMPARE(effect ? effect->opacity() : 0, 0.5);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(row, &enter);
        QCOMPARE(effect->opacity(), 1.0);
        status.copies[0].skipped_items.reset(); // nothing skipped any more: no tooltip left over
        f.model().setStatus(status);
        view.refresh();
        QCOMPARE(view.activityList()->rows(), QList<ActivityRow *>{row});
        QCOMPARE(row->title()->toolTip(), QString());
        status.copies.clear();
        f.model().setStatus(status);
        view.refresh();
        QVERIFY(!view.activityList()->isVisible());
    }

    // While a command is in flight the switches keep the user's values; they take
    // the model's once it ends.
    void optionSync()
    {
        ModelFixture f;
        install(f.model(), demo("connected"));
        PeerView view(f.model(), A, "Initial", nullptr);
        auto values = [&] {
            view.refresh();
            return QString("%1%2").arg(view.readOnly()).arg(view.remember());
        };
        QCOMPARE(values(), "01");
        f.model().setMutating(true);
        QJsonObject readOnly = share::drive("/");
        readOnly["access"] = "read_only";
        install(f.model(), demo("connected", {{"sharing", readOnly}}, {}, QJsonArray{}));
        QCOMPARE(values(), "01");
        f.model().setMutating(false);
        QCOMPARE(values(), "10");
        QVERIFY(view.options()->readOnlyRow()->toggle()->isChecked());
    }

    // The list scrolls to its end when a running entry it has not scrolled for yet
    // appears (not one running at opening), and only then.
    void autoScroll()
    {
        auto withTransfers = [](const QString &ids) { // running sendings "a,b"
            QJsonObject status = demo("receive");
            for (const QString &id : ids.split(',', Qt::SkipEmptyParts))
                status["transfers"] = QJsonArray(status["transfers"].toArray()) << transfer(id, A);
            return status;
        };
        ModelFixture f;
        install(f.model(), withTransfers("a"));
        PeerView view(f.model(), A, "Initial", nullptr);
        QList<int> scrolls;
        for (const char *ids : {"a", "a,b", "b", "", "b", "b,c"}) {
            install(f.model(), withTransfers(ids));
            view.refresh();
            QCoreApplication::processEvents();
            scrolls << view.scrollsToEnd();
        }
        QCOMPARE(scrolls, (QList<int>{0, 1, 1, 1, 2, 3}));
    }

    // The exact line each control of the window sends, as the stand-in service
    // received it ("@A" is the demo computer's id, "@CODE" its pairing code).
    void sent_data()
    {
        columns<QJsonObject, bool, ViewAction, QString>("status", "multiDrive", "action", "expected");
        const QString usual = R"("read_only":false,"remember":true,"pairing_code":"@CODE")";
        auto chose = [&usual](const QString &mode, const QString &path, const QString &more = {}) {
            const QString at = path.isEmpty() ? QString() : QString(",\"path\":\"%1\"").arg(path);
            return QString("{\"op\":\"choose\",\"peer\":\"@A\",\"mode\":\"%1\"%2,%3}").arg(mode, at, more.isEmpty() ? usual : more);
        };
        const QJsonObject chooseState = demo("choose");
        const ViewAction folderTile = clickTile(SharingChoice::folder);
        const ViewAction change = [](PeerView &v, StandinModel &) { QTest::mouseClick(v.detail()->changeButton(), Qt::LeftButton); };
        auto box = [](int index) {
            return ViewAction([index](PeerView &v, StandinModel &) { QTest::mouseClick(v.detail()->driveBoxes().at(index), Qt::LeftButton); });
        };
        QTest::newRow("selected tile stops sharing") << demo("connected") << false << clickTile(SharingChoice::drive) << chose("none", "");
        QTest::newRow("drive tile, several drives") << demo("choose", {}, {"multi_drive"}) << true << clickTile(SharingChoice::drive) << chose("drive", "/", usual + R"(,"paths":["/"])");
        QTest::newRow("receive tile: the default folder") << chooseState << false << ViewAction([](PeerView &v, StandinModel &s) {
            QDir().mkpath(QDir::homePath() + "/Incoming");
            s.model().setLastReceiveFolder(QDir::homePath() + "/Incoming");
            clickTile(SharingChoice::receive)(v, s);
        }) << chose("receive", "@HOME/Incoming");
        // A remembered folder that is gone, or is a file now, is not offered.
        for (const bool file : {false, true}) {
            QTest::addRow("receive tile: the last folder is %s", file ? "a file now" : "gone") << chooseState << false << ViewAction([file](PeerView &v, StandinModel &s) {
                const QString last = QDir::homePath() + (file ? "/Inbox" : "/Inbox-gone");
                QVERIFY(QDir().mkpath(last) && QDir().rmdir(last));
                QVERIFY(!file || QFile(last).open(QIODevice::WriteOnly));
                s.model().setLastReceiveFolder(last);
                v.refresh();
                QCOMPARE(v.tile(SharingChoice::receive)->state().description, "Files go to Downloads. Yours stay private.");
                clickTile(SharingChoice::receive)(v, s);
            }) << chose("receive", "");
        }
        // Enter held down on a tile chooses it once: its repeats, after the first
        // command has ended, choose nothing.
        QTest::newRow("Enter held on a tile") << chooseState << false << ViewAction([](PeerView &v, StandinModel &s) {
            QWidget *tile = v.tile(SharingChoice::receive);
            tile->setFocus(Qt::TabFocusReason);
            QTest::keyPress(tile, Qt::Key_Return);
            for (int i = 0; i < 3; ++i) {
                QVERIFY(s.settle());
                QTRY_VERIFY(tile->isEnabled());
                QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", true);
                QApplication::sendEvent(tile, &repeat);
            }
            QTest::keyRelease(tile, Qt::Key_Return);
        }) << chose("receive", "");
        // A busy display flags none of the repeats: their release and press share a
        // timestamp. Enter chooses on its press, Space on the release that follows.
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
            QTest::addRow("%s held on a tile, repeats unflagged", key == Qt::Key_Space ? "Space" : "Enter") << chooseState << false
                << ViewAction([key](PeerView &v, StandinModel &s) {
                       QWidget *tile = v.tile(SharingChoice::receive);
                       tile->setFocus(Qt::TabFocusReason);
                       holdKey(tile, key, 3, [&] {
                           QVERIFY(s.settle());
                           QTRY_VERIFY(tile->isEnabled());
                       });
                   }) << chose("receive", "");
        }
        // Chosen from the "…" menu, a command disables the button: it keeps the focus.
        QTest::newRow("\"…\" menu: Disconnect") << demo("connected") << false << ViewAction([](PeerView &v, StandinModel &s) {
            QAbstractButton *more = v.moreButton();
            more->setFocus(Qt::TabFocusReason);
            QTest::keyClick(more, Qt::Key_Space);
            QTRY_VERIFY(v.moreMenu()->isVisible());
            v.moreMenu()->setActiveAction(v.moreMenu()->actions().first());
            QTest::keyClick(v.moreMenu(), Qt::Key_Return);
            QVERIFY(s.settle());
            QTRY_VERIFY(more->isEnabled());
            QCOMPARE(v.focusWidget(), more);
        }) << R"({"op":"disconnect","peer":"@A"})";
        QTest::newRow("folder tile: code read before the panel") << chooseState << false << throughPanel(folderTile, "/srv/share") << chose("folder", "/srv/share");
        QTest::newRow("receive row: Change…") << demo("receive") << false << throughPanel(change, "/srv/in")
            << chose("receive", "/srv/in", R"("read_only":false,"remember":false,"pairing_code":"@CODE")");
        QTest::newRow("drive box ticked") << demo("connected", {{"sharing", share::drives({"/"})}}, {"multi_drive"}) << true << box(2) << chose("drive", "/", usual + R"(,"paths":["/","/Volumes/Photos"])");
        QTest::newRow("Read-only re-sends the folder") << demo("folder") << false << ViewAction([](PeerView &v, StandinModel &) { QTest::mouseClick(v.options()->readOnlyRow()->toggle(), Qt::LeftButton); })
            << chose("folder", "@HOME/Projects", R"("read_only":true,"remember":true,"pairing_code":"@CODE")");
        QTest::newRow("Read-only means nothing in Receive only") << demo("receive") << false
            << ViewAction([](PeerView &v, StandinModel &) { QTest::mouseClick(v.options()->readOnlyRow()->toggle(), Qt::LeftButton); }) << "";
        // The folder chosen for receiving is the one proposed next time.
        QTest::newRow("receive folder chosen, proposed next time") << demo("receive") << false << ViewAction([change](PeerView &v, StandinModel &s) {
            QDir().mkpath(QDir::homePath() + "/Picked");
            picking(QDir::homePath() + "/Picked", change)(v, s);
            QVERIFY(s.settle());
            install(s.model(), demo("connected"));
            v.refresh();
            clickTile(SharingChoice::receive)(v, s);
        }) << chose("receive", "@HOME/Picked", R"("read_only":false,"remember":false,"pairing_code":"@CODE")") + "\n" + chose("receive", "@HOME/Picked");
        QTest::newRow("Skip") << copyProblem() << false << click("Skip") << R"({"op":"resolve_copy","id":"democopy","decision":"skip"})";
        QTest::newRow("Skip All") << copyProblem() << false << click("Skip All") << R"({"op":"resolve_copy","id":"democopy","decision":"skip_all"})";
        QTest::newRow("Stop") << copyProblem() << false << click("Stop") << R"({"op":"resolve_copy","id":"democopy","decision":"stop"})";
        QTest::newRow("Cancel a copy") << demo("copying") << false << click("Cancel") << R"({"op":"cancel_copy","id":"democopy"})";
        QTest::newRow("banner eject") << demo("connected") << false << click("Eject") << R"({"op":"eject","peer":"@A"})";
        QTest::newRow("banner Show Again") << demo("connected", {{"mount", QJsonValue::Null}, {"ejected", true}}) << false << click("Show Again")
                                           << R"({"op":"mount","peer":"@A"})";
        QTest::newRow("banner Get Files…") << demo("connected") << false << picking("/Volumes/Windows Desktop/Photos", click("Get Files…"))
            << R"({"op":"copy","id":"ID","sources":["/Volumes/Windows Desktop/Photos"],"destination":"@HOME/Downloads"})";
        QTest::newRow("banner Send Files…") << demo("receive") << false << picking("/etc/hostname", click("Send Files…"))
            << R"({"op":"send_files","peer":"@A","id":"ID","paths":["/etc/hostname"]})";
        QTest::newRow("drop of two files") << demo("receive") << false << ViewAction([](PeerView &v, StandinModel &) {
            for (const char *name : {"a b.txt", "c"})
                QVERIFY(QFile(QDir::homePath() + "/" + name).open(QIODevice::WriteOnly));
            QVERIFY(drag(v, {QUrl::fromLocalFile(QDir::homePath() + "/a b.txt"), QUrl::fromLocalFile(QDir::homePath() + "/c")}, true));
        }) << R"({"op":"send_files","peer":"@A","id":"ID","paths":["@HOME/a b.txt","@HOME/c"]})";
    }

    void sent()
    {
        auto [status, multiDrive, action, expected] = fetch<QJsonObject, bool, ViewAction, QString>("status", "multiDrive", "action", "expected");
        StandinModel s(status);
        QVERIFY(s.started);
        if (multiDrive) {
            s.fixture.previewMultiDrive = true;
            s.fixture.remake();
            install(s.model(), status);
        }
        PeerView view(s.model(), A, "Initial", nullptr);
        view.resize(640, 700);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        action(view, s);
        QVERIFY(s.settle());
        QCoreApplication::processEvents();
        QVERIFY(s.settle());
        const QString code = Demo::status("choose").peers.first().pairing_code;
        expected.replace("@A", A).replace("@CODE", code).replace("@HOME", QDir::homePath());
        QCOMPARE(s.sent(), expected.split('\n', Qt::SkipEmptyParts));
    }

    // A selected tile's accent border and badge stay at full strength; a disabled
    // tile's surface and content are drawn at half opacity.
    void tilePixels()
    {
        ModelFixture f;
        f.model().showDemo(Demo::status("connected"));
        SharingTile tile(SharingChoice::drive);
        SharingTileState state = sharingTile(f.model(), A, SharingChoice::drive);
        QVERIFY(state.selected);
        const QColor accent = Theme::colors(Appearance::light).accent;
        const int w = 180;
        for (bool enabled : {true, false}) {
            state.enabled = enabled;
            tile.setState(state);
            tile.resize(w, tile.heightForWidth(w));
            QImage image(tile.size() * 2, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(2);
            image.fill(Qt::transparent);
            tile.render(&image, {}, {}, QWidget::DrawChildren); // no window background
            QCOMPARE(image.pixelColor(w, 1), accent);                     // border, top middle
            QCOMPARE(image.pixelColor(2 * (w - 28) + 6, 2 * 19), accent); // badge
            // The symbol's ink: opaque accent, or half of it.
            const QImage symbol = image.copy(QRect(w - 32, 2 * 24, 64, 64));
            int strongest = 0;
            for (int y = 0; y < symbol.height(); ++y)
                for (int x = 0; x < symbol.width(); ++x)
                    strongest = std::max(strongest, symbol.pixelColor(x, y).alpha());
            QVERIFY2(enabled ? strongest == 255 : strongest >= 125 && strongest <= 135, qPrintable(QString::number(strongest)));
        }
    }
};

QTEST_MAIN(TestViewsPeer)
#include "tst_views_peer.moc"
