#include "views_logic_support.h"
#include "table.h"
#include "view_standin.h"

#include "views/activity_list.h"
#include "views/banner.h"
#include "views/peer_view.h"
#include "views/theme.h"
#include "views/widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace cv;
using namespace cv::test;

using ViewAction = std::function<void(PeerView &, StandinModel &)>;
using ViewRead = std::function<QString(PeerView &)>;
Q_DECLARE_METATYPE(ViewAction)
Q_DECLARE_METATYPE(ViewRead)

namespace {

const QString nbsp = QStringLiteral("\u00A0");

// The demo computer remembered under `name`, sharing `share`.
QJsonArray rememberedA(const QJsonObject &share = share::none(), const QString &name = "Old Name")
{
    return {remembered(A).named(name).sharing(share)};
}

const QString evil = "<b>Evil</b> &amp; <i>Co</i> <img src=x>";

QString shownBy(QLabel *label) { return asShown(label->text(), label->textFormat()); }

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

ViewAction clickSwitch(bool readOnly)
{
    return [readOnly](PeerView &v, StandinModel &) {
        OptionRow *row = readOnly ? v.options()->readOnlyRow() : v.options()->rememberRow();
        QTest::mouseClick(row->toggle(), Qt::LeftButton);
    };
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

// The demo state "receive" with running sendings of the ids given ("a,b").
QJsonObject withTransfers(const QString &ids)
{
    QJsonObject status = demo("receive");
    QJsonArray list;
    for (const QString &id : ids.split(',', Qt::SkipEmptyParts))
        list.append(transfer(id, A));
    status["transfers"] = list;
    return status;
}

} // namespace

class TestViewsPeer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Theme::install(*qApp); }

    // The more menu and the avatar's hole, by what the model knows of the computer.
    void moreMenu_data()
    {
        columns<QJsonObject, bool, QString>("status", "disconnected", "items");
        const QJsonObject nobody = demo("empty");
        QTest::newRow("unknown: no button, no hole") << nobody << false << "";
        QTest::newRow("remembered only") << demo("empty", {}, {}, rememberedA()) << false << "Forget This Computer…";
        QTest::newRow("disconnected only") << nobody << true << "Reconnect";
        QTest::newRow("connected and remembered") << demo("connected") << false << "Disconnect|—|Forget This Computer…";
        QTest::newRow("connected only") << demo("receive") << false << "Disconnect";
    }

    void moreMenu()
    {
        auto [status, disconnected, items] = fetch<QJsonObject, bool, QString>("status", "disconnected", "items");
        ModelFixture f;
        install(f.model(), status);
        if (disconnected)
            f.model().setDisconnected({{A, "Desk"}});
        PeerView view(f.model(), A, "Initial", nullptr);
        view.show();
        const bool known = !items.isEmpty();
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
        QCOMPARE(shown.join('|'), items);
        QCOMPARE(view.moreButton()->accessibleName(), "More actions for " + view.nameLabel()->text());
        view.moreMenu()->hide();
    }

    // The header's name and link line, with the service or without it.
    void header_data()
    {
        columns<QJsonObject, bool, QString>("status", "connected", "expected"); // name|link|tooltip|pending note shown
        const QString speeds = "Sending 20.9" + nbsp + "Gb/s · Receiving 20.4" + nbsp + "Gb/s";
        QTest::newRow("demo link") << demo("connected") << true
                                   << "Windows Desktop|Connected via Thunderbolt · 20.4" + nbsp + "Gb/s|" + speeds + "|0";
        QTest::newRow("service lost") << demo("connected") << false << "Windows Desktop|Status unavailable|" + speeds + "|0";
        QTest::newRow("remembered, not connected") << demo("empty", {}, {}, rememberedA()) << true
                                                   << "Old Name|Not connected||1";
        QTest::newRow("unknown") << demo("empty") << true << "Initial|Not connected||0";
    }

    void header()
    {
        auto [status, connected, expected] = fetch<QJsonObject, bool, QString>("status", "connected", "expected");
        ModelFixture f;
        install(f.model(), status);
        f.model().setConnected(connected);
        PeerView view(f.model(), A, "Initial", nullptr);
        QCOMPARE(QStringList({view.nameLabel()->text(), view.linkLabel()->text(), asShown(view.linkLabel()->toolTip()),
                              QString::number(!view.pendingNote()->isHidden())}).join('|'), expected);
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
                over.save(QString("/tmp/peerview-drop-%1.png").arg(appearance == Appearance::dark ? "dark" : "light"));
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
    void hostileName_data()
    {
        columns<QJsonObject, ViewRead>("status", "read");
        const QJsonObject sharing = demo("copying", {{"name", evil}});
        QTest::newRow("Get Files… tooltip") << sharing << ViewRead([](PeerView &v) { return asShown(buttonNamed(*v.banner(), "Get Files…")->toolTip()); });
        QTest::newRow("banner title") << sharing << ViewRead([](PeerView &v) { return shownBy(v.banner()->titleLabel()); });
        QTest::newRow("name") << sharing << ViewRead([](PeerView &v) { return shownBy(v.nameLabel()); });
        QTest::newRow("more button") << sharing << ViewRead([](PeerView &v) { return v.moreButton()->accessibleName(); });
        QTest::newRow("option detail") << sharing << ViewRead([](PeerView &v) { return shownBy(v.options()->readOnlyRow()->detailLabel()); });
        QTest::newRow("pending note") << demo("empty", {}, {}, rememberedA(share::none(), evil)) << ViewRead([](PeerView &v) { return shownBy(v.pendingNote()); });
    }
    void hostileName()
    {
        auto [status, read] = fetch<QJsonObject, ViewRead>("status", "read");
        ModelFixture f;
        install(f.model(), status);
        PeerView view(f.model(), A, "Initial", nullptr);
        QVERIFY2(read(view).contains(evil), qPrintable(read(view)));
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
        QStringList order;
        for (int i = 0; i < 12; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << focused();
        }
        QCOMPARE(order.join('|'), "More actions for Windows Desktop|Share drives|Share a folder|Receive only|Read-only|"
                                  "Remember this computer|Cancel|Eject|Get Files…|Open|More actions for Windows Desktop|Share drives");
        view.grab().save("/tmp/peerview-focus.png");
        QSignalSpy chosen(view.tile(SharingChoice::drive), &QAbstractButton::clicked);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(chosen.size(), 1);
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
        install(f.model(), demo("empty"));
        QCOMPARE(values(), "00");
    }

    // The list scrolls to its end when a running entry it has not scrolled for yet
    // appears, and only then.
    void autoScroll_data()
    {
        columns<QString, QStringList, QList<int>>("opened", "steps", "scrolls"); // running at opening; after each step, in all
        QTest::newRow("appear, grow, shrink, empty, again") << "" << QStringList{"a", "a,b", "b", "", "b"} << QList<int>{1, 2, 2, 2, 3};
        QTest::newRow("opened while running") << "a" << QStringList{"a", "a,b"} << QList<int>{0, 1};
        QTest::newRow("reordered") << "" << QStringList{"a,b", "b,a"} << QList<int>{1, 1};
    }

    void autoScroll()
    {
        auto [opened, steps, scrolls] = fetch<QString, QStringList, QList<int>>("opened", "steps", "scrolls");
        ModelFixture f;
        install(f.model(), withTransfers(opened));
        PeerView view(f.model(), A, "Initial", nullptr);
        for (qsizetype i = 0; i < steps.size(); ++i) {
            install(f.model(), withTransfers(steps[i]));
            view.refresh();
            QCoreApplication::processEvents();
            QCOMPARE(view.scrollsToEnd(), scrolls[i]);
        }
    }

    // The exact line each control of the window sends, as the stand-in service
    // received it ("@A" is the demo computer's id, "@CODE" its pairing code).
    void sent_data()
    {
        columns<QJsonObject, bool, ViewAction, QString>("status", "multiDrive", "action", "expected");
        const QString choose = R"({"op":"choose","peer":"@A",)";
        const QJsonObject chooseState = demo("choose");
        const QJsonObject driveWithPaths = share::drives({"/"});
        const ViewAction folderTile = clickTile(SharingChoice::folder);
        const ViewAction change = [](PeerView &v, StandinModel &) { QTest::mouseClick(v.detail()->changeButton(), Qt::LeftButton); };
        auto box = [](int index) {
            return ViewAction([index](PeerView &v, StandinModel &) { QTest::mouseClick(v.detail()->driveBoxes().at(index), Qt::LeftButton); });
        };
        QTest::newRow("selected tile stops sharing") << demo("connected") << false << clickTile(SharingChoice::drive)
            << choose + R"("mode":"none","read_only":false,"remember":true,"pairing_code":"@CODE"})";
        QTest::newRow("drive tile") << chooseState << false << clickTile(SharingChoice::drive)
            << choose + R"("mode":"drive","path":"/","read_only":false,"remember":true,"pairing_code":"@CODE"})";
        QTest::newRow("drive tile, several drives") << demo("choose", {}, {"multi_drive"}) << true << clickTile(SharingChoice::drive)
            << choose + R"("mode":"drive","path":"/","read_only":false,"remember":true,"pairing_code":"@CODE","paths":["/"]})";
        QTest::newRow("receive tile: the default folder") << chooseState << false << ViewAction([](PeerView &v, StandinModel &s) {
            QDir().mkpath(QDir::homePath() + "/Incoming");
            s.model().setLastReceiveFolder(QDir::homePath() + "/Incoming");
            clickTile(SharingChoice::receive)(v, s);
        }) << choose + R"("mode":"receive","path":"@HOME/Incoming","read_only":false,"remember":true,"pairing_code":"@CODE"})";
        QTest::newRow("folder tile: code read before the panel") << chooseState << false << throughPanel(folderTile, "/srv/share")
            << choose + R"("mode":"folder","path":"/srv/share","read_only":false,"remember":true,"pairing_code":"@CODE"})";
        QTest::newRow("receive row: Change…") << demo("receive") << false << throughPanel(change, "/srv/in")
            << choose + R"("mode":"receive","path":"/srv/in","read_only":false,"remember":false,"pairing_code":"@CODE"})";
        QTest::newRow("drive box ticked") << demo("connected", {{"sharing", driveWithPaths}}, {"multi_drive"}) << true << box(2)
            << choose + R"("mode":"drive","path":"/","read_only":false,"remember":true,"pairing_code":"@CODE","paths":["/","/Volumes/Photos"]})";
        QTest::newRow("Read-only re-sends the folder") << demo("folder") << false << clickSwitch(true)
            << choose + R"("mode":"folder","path":"@HOME/Projects","read_only":true,"remember":true,"pairing_code":"@CODE"})";
        QTest::newRow("more menu: Disconnect") << demo("connected") << false << ViewAction([](PeerView &v, StandinModel &) {
            QTest::mouseClick(v.moreButton(), Qt::LeftButton);
            v.moreMenu()->actions().first()->trigger();
        }) << R"({"op":"disconnect","peer":"@A"})";
        QTest::newRow("drop of two files") << demo("receive") << false << ViewAction([](PeerView &v, StandinModel &) {
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
        for (const char *name : {"a b.txt", "c"}) {
            QFile file(QDir::homePath() + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
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
        tile.setState(state);
        tile.resize(180, tile.heightForWidth(180));
        auto render = [&] {
            QImage image(tile.size() * 2, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(2);
            image.fill(Qt::transparent);
            tile.render(&image, {}, {}, QWidget::DrawChildren); // no window background
            return image;
        };
        const QColor accent = Theme::colors(Appearance::light).accent;
        const int w = tile.width();
        for (bool enabled : {true, false}) {
            state.enabled = enabled;
            tile.setState(state);
            const QImage image = render();
            QCOMPARE(image.pixelColor(w, 1), accent);                       // border, top middle
            QCOMPARE(image.pixelColor(2 * (w - 28) + 6, 2 * 19), accent);   // badge circle
            QVERIFY(image.pixelColor(2 * (w - 28) + 19, 2 * 18).red() > 150);   // its white check
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
