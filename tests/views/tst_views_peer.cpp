#include "views_logic_support.h"
#include "table.h"
#include "view_standin.h"

#include "views/activity_list.h"
#include "views/banner.h"
#include "views/peer_view.h"
#include "views/sharing_choice.h"
#include "views/theme.h"
#include "views/widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace cv;
using namespace cv::test;

using ViewAction = std::function<void(PeerView &, StandinModel &)>;
Q_DECLARE_METATYPE(ViewAction)

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

QString shownBy(QLabel *label) { return asShown(label->text(), label->textFormat()); }

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
        QTest::newRow("service lost: header only") << demo("connected") << "offline" << "Windows Desktop|Status unavailable|" + speeds + "|0" << "";
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

    // Tab walks the window in screen order, wrapping, never stopping at the scroll
    // area; Enter chooses a tile, whose ring shows beside its border.
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
        QSignalSpy chosen(view.tile(SharingChoice::drive), &QAbstractButton::clicked);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(chosen.size(), 1);
    }

    // The copying demo's row and banner; a status that only moves the byte counts
    // changes the bar and caption of the same row; finished, the remove button is fully
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
        f.model().setStatus(status);
        view.refresh();
        QCOMPARE(view.activityList()->rows(), QList<ActivityRow *>{row});
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
        QCOMPARE(titles(row->buttons()), "Show in Finder,Remove from list");
        QVERIFY(view.activityList()->clearButton()->isVisible());
        QVERIFY(row->title()->toolTip().contains("/p/&lt;b&gt;x&lt;/b&gt;: unreadable"));
        auto *effect = qobject_cast<QGraphicsOpacityEffect *>(row->buttons().last()->graphicsEffect());
        QCOMPARE(effect ? effect->opacity() : 0, 0.5);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(row, &enter);
        QCOMPARE(effect->opacity(), 1.0);
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
        QTest::newRow("folder tile: code read before the panel") << chooseState << false << throughPanel(folderTile, "/srv/share") << chose("folder", "/srv/share");
        QTest::newRow("receive row: Change…") << demo("receive") << false << throughPanel(change, "/srv/in")
            << chose("receive", "/srv/in", R"("read_only":false,"remember":false,"pairing_code":"@CODE")");
        QTest::newRow("drive box ticked") << demo("connected", {{"sharing", share::drives({"/"})}}, {"multi_drive"}) << true << box(2) << chose("drive", "/", usual + R"(,"paths":["/","/Volumes/Photos"])");
        QTest::newRow("Read-only re-sends the folder") << demo("folder") << false << ViewAction([](PeerView &v, StandinModel &) { QTest::mouseClick(v.options()->readOnlyRow()->toggle(), Qt::LeftButton); })
            << chose("folder", "@HOME/Projects", R"("read_only":true,"remember":true,"pairing_code":"@CODE")");
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
        QCOMPARE(s.sent(), expected.isEmpty() ? QStringList{} : QStringList{expected});
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
