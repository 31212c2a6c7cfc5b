// Screen readers read the windows while they change: the accessible tree is asked for
// children past the end of every list and walked, through the AT-SPI bridge where
// there is one, while the service goes away and comes back.

#include "views_logic_support.h"
#include "table.h"

#include "views/main_view.h"
#include "views/peer_view.h"
#include "views/scroll_area.h"
#include "views/sharing_choice.h"
#include "views/theme.h"
#include "views/window_height.h"

#include <QAccessible>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QHeaderView>

#include <unistd.h>

#include <climits>
#include <memory>

using namespace cv;
using namespace cv::test;

namespace {

const QString refused = QStringLiteral("Connection refused (os error 111)");

// The main window and a computer window over one model, each fitted to its content
// as the application's are.
struct Windows {
    Windows()
    {
        install(f.model(), demo("main"));
        main.resize(580, 400);
        mainHeight.setWindow(&main);
        peer.resize(560, 300);
        peerHeight.setWindow(&peer);
        main.show();
        peer.show();
        exposed = QTest::qWaitForWindowExposed(&main) && QTest::qWaitForWindowExposed(&peer);
    }

    // One change of what the windows show: the service goes away (the banner comes,
    // every row says its status is unavailable), comes back, the computers change,
    // or a window is made too short for its content and tall again.
    void change(int which)
    {
        AppModel &m = f.model();
        switch (which % 5) {
        case 0:
            m.setConnected(false);
            m.setServiceError(refused);
            break;
        case 1:
            m.setServiceError(std::nullopt);
            install(m, demo("main"));
            break;
        case 2:
            install(m, demo("connected"));
            break;
        case 3:
            main.resize(main.width(), 200);
            peer.resize(peer.width(), 200);
            break;
        default:
            main.resize(main.width(), 900);
            peer.resize(peer.width(), 900);
            break;
        }
    }

    // Both windows have drawn the last change of the model: the redraw that each
    // change schedules for the next turn of the event loop has run.
    bool drawn() const
    {
        for (const QWidget *view : {static_cast<const QWidget *>(&main), static_cast<const QWidget *>(&peer)})
            for (const QTimer *timer : view->findChildren<QTimer *>(Qt::FindDirectChildrenOnly))
                if (timer->isActive() && timer->interval() == 0)
                    return false;
        return true;
    }

    ModelFixture f;
    bool exposed = false;
    WindowHeight mainHeight{320, 880};
    WindowHeight peerHeight{300, 880};
    MainView main{f.model(), *f.host, {}, &mainHeight};
    PeerView peer{f.model(), A, "Windows Desktop", &peerHeight};
};

// Every accessible node under `root`, depth first.
QList<QAccessibleInterface *> nodes(QAccessibleInterface *root)
{
    QList<QAccessibleInterface *> all{root};
    for (qsizetype i = 0; i < all.size(); ++i)
        for (int c = 0; c < all[i]->childCount(); ++c)
            if (QAccessibleInterface *child = all[i]->child(c))
                all << child;
    return all;
}

// The nodes under `root` that answer a child past the end of their list, as
// "class: index".
QStringList pastTheEnd(QWidget &root)
{
    QStringList wrong;
    for (QAccessibleInterface *node : nodes(QAccessible::queryAccessibleInterface(&root))) {
        const int count = node->childCount();
        for (const int index : {count, count + 1, count + 7, INT_MAX, -1})
            if (node->child(index))
                wrong << QString::fromUtf8(node->object()->metaObject()->className()) + ": " + QString::number(index);
    }
    return wrong;
}

// Every node under `root` as a reader hears it, "name | description", with "!" before
// one holding markup, a character the screen shows otherwise or a mark the application
// put in, and before a control described with no tooltip, or not described with one.
QStringList heard(QWidget &root)
{
    QStringList texts;
    for (QAccessibleInterface *node : nodes(QAccessible::queryAccessibleInterface(&root))) {
        const QString description = node->text(QAccessible::Description), text = node->text(QAccessible::Name) + " | " + description;
        const auto *widget = qobject_cast<QWidget *>(node->object());
        const bool stale = widget && widget->toolTip().isEmpty() != description.isEmpty() && !qobject_cast<const SharingTile *>(widget); // a tile describes itself
        texts << (stale || Qt::mightBeRichText(text) || text.contains(QRegularExpression(QString::fromUtf8("[\t\r\v\f\u0085\u2028\u2029\u200E\u200F\u2068\u2069]"))) ? "!" + text : text);
    }
    return texts;
}

// --- An AT-SPI reader on the accessibility bus, as Orca is one. ---

const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString nullPath = QStringLiteral("/org/a11y/atspi/null");

// A node of the bridge's tree: its bus name and object path.
struct Ref {
    QString service;
    QString path;
};

// Asks and waits for the answer, the event loop turning meanwhile (the bridge
// answers on this thread).
QDBusMessage call(const QDBusConnection &bus, const Ref &node, const QString &interface, const QString &method,
                  const QVariantList &args = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(node.service, node.path, interface, method);
    message.setArguments(args);
    // The bus's own default wait: a bridge a busy machine keeps waiting is not a node
    // that has gone.
    QDBusPendingCallWatcher watcher(bus.asyncCall(message, 25000));
    if (!watcher.isFinished())
        QSignalSpy(&watcher, &QDBusPendingCallWatcher::finished).wait(30000);
    return watcher.reply();
}

// The child count as the bridge reports it; -1 when it did not answer.
int childCount(const QDBusConnection &bus, const Ref &node)
{
    const QDBusMessage reply = call(bus, node, "org.freedesktop.DBus.Properties", "Get", {accessibleInterface, "ChildCount"});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return -1;
    return reply.arguments().value(0).value<QDBusVariant>().variant().toInt();
}

// The child at `index`; a null path when there is none; an empty path when the
// bridge did not answer.
Ref childAt(const QDBusConnection &bus, const Ref &node, int index)
{
    const QDBusMessage reply = call(bus, node, accessibleInterface, "GetChildAtIndex", {index});
    Ref child;
    if (reply.type() != QDBusMessage::ReplyMessage)
        return child;
    const QDBusArgument arg = reply.arguments().value(0).value<QDBusArgument>();
    QDBusObjectPath path;
    arg.beginStructure();
    arg >> child.service >> path;
    arg.endStructure();
    child.path = path.path();
    return child;
}

} // namespace

class TestViewsAccessibility : public QObject {
    Q_OBJECT

public:
    // The bridge serves readers only when the desktop asks for it; a test has no
    // desktop that would.
    static void initMain() { qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"); }

private slots:
    void initTestCase() { Theme::install(*qApp); }

    // Asked of every node of both windows, in every state and with the scroll bars
    // shown and hidden, a child past the end of a list is none; a scroll area keeps
    // its children as its bars show and hide, so a reader that counted them with the
    // bar shown still reads each of them after it hid.
    void interfaces()
    {
        Windows w;
        QVERIFY(w.exposed);
        QList<ScrollArea *> areas{w.main.findChild<ScrollArea *>(), w.peer.findChild<ScrollArea *>()};
        QVERIFY(areas[0] && areas[1]);
        for (int step = 0; step < 10; ++step) {
            w.change(step);
            QVERIFY(QTest::qWaitFor([&w] { return w.drawn(); }));
            for (QWidget *window : {static_cast<QWidget *>(&w.main), static_cast<QWidget *>(&w.peer)})
                QCOMPARE(pastTheEnd(*window), QStringList());
        }
        for (ScrollArea *area : areas) {
            QAccessibleInterface *node = QAccessible::queryAccessibleInterface(area);
            area->window()->resize(area->window()->width(), 150);
            QTRY_VERIFY(area->verticalScrollBar()->isVisible());
            const int counted = node->childCount();
            QAccessibleInterface *bar = node->child(counted - 1);
            QVERIFY(bar && bar->object() == area->verticalScrollBar()->parentWidget());
            area->window()->resize(area->window()->width(), 2000);
            QTRY_VERIFY(!area->verticalScrollBar()->isVisible());
            QCOMPARE(node->childCount(), counted);
            QCOMPARE(node->child(counted - 1), bar);
            QVERIFY(bar->state().invisible);
            QCOMPARE(node->indexOfChild(bar), counted - 1);
            QCOMPARE(node->child(counted), nullptr);
        }
    }

    // The scroll areas inside Qt's own widgets (the folder panel's list header) get
    // the same interface; a view with one of its own keeps it.
    void qtScrollAreas()
    {
        Windows w; // installs the interface
        QTreeView tree;
        QScrollArea plain;
        for (QAbstractScrollArea *area : {static_cast<QAbstractScrollArea *>(tree.header()), static_cast<QAbstractScrollArea *>(&plain)}) {
            QAccessibleInterface *node = QAccessible::queryAccessibleInterface(area);
            QCOMPARE(node->childCount(), 3);
            QCOMPARE(node->child(3), nullptr);
            QCOMPARE(node->child(INT_MAX), nullptr);
        }
        QVERIFY(QAccessible::queryAccessibleInterface(&tree)->tableInterface());
    }

    // A reader hears a control's name and description as the screen shows them: a
    // tooltip's text, not its markup, and none once the tooltip goes with the service;
    // a name on one line, without the isolation the application put around it.
    void spokenTexts_data()
    {
        columns<QJsonObject, QString, QStringList>("status", "window", "heard");
        const QString rtl = QString::fromUtf8("שלום"), getFiles = "Get Files… | Copy files from %1 to Downloads at full speed. You can also drop files here.";
        const QString footage = QString("Footage of the second shooting day/").repeated(4);
        QJsonObject copies = demo("copying", {}, {"dismiss"});
        copies["copies"] = QJsonArray{QJsonDocument::fromJson(copyJson("c1", "copying", R"("problem":{"path":"/p/a.txt","reason":"Permission denied"})", A.toLatin1().constData())).object(),
                                      QJsonDocument::fromJson(copyJson("c2", "done", "\"skipped\":1,\"skipped_items\":[{\"path\":\"/p/a\u2028b\",\"reason\":\"Permission denied\"}]", A.toLatin1().constData())).object()};
        QTest::newRow("\"…\", the link line, Eject, Get Files…") << demo("connected") << "peer" << QStringList{"More actions for Windows Desktop | More", "Eject | Eject",
            "Connected via Thunderbolt · 20.4" + nbsp + "Gb/s | Sending 20.9" + nbsp + "Gb/s · Receiving 20.4" + nbsp + "Gb/s", getFiles.arg("Windows Desktop")};
        QTest::newRow("Skip, Skip All, Stop, Clear, Remove, the skipped items") << copies << "peer" << QStringList{"Skip | Leave this item out and carry on",
            "Skip All | Leave out everything that can't be read, without asking again", "Stop | Cancel the copy. Nothing is left half-copied",
            "Clear | Remove finished transfers from this list", "Remove from list | Remove from list", " | /p/a b: Permission denied"};
        QTest::newRow("a folder's path cut short, a line separator in it") << demo("folder", {{"sharing", share::folder(QDir::homePath() + QString::fromUtf8("/Pro\u2028jects/") + footage)}})
            << "peer" << QStringList{"~/Pro jects/" + footage + " | ~/Pro jects/" + footage};
        QTest::newRow("a computer's name with line and paragraph separators") << demo("main", {{"name", QString::fromUtf8("Windows\u2028Desktop\u2029of\u0085Dana\vand\fco")}})
            << "main" << QStringList{"Windows Desktop of Dana and co | "};
        QTest::newRow("a name read right to left, isolated in sentences") << demo("connected", {{"name", rtl}}) << "peer"
            << QStringList{"More actions for " + rtl + " | More", getFiles.arg(rtl), rtl + " is sharing Projects | "};
    }
    void spokenTexts()
    {
        auto [status, window, expected] = fetch<QJsonObject, QString, QStringList>("status", "window", "heard");
        Windows w;
        install(w.f.model(), status);
        QVERIFY(w.exposed && QTest::qWaitFor([&w] { return w.drawn(); }));
        const QStringList texts = heard(window == "main" ? static_cast<QWidget &>(w.main) : w.peer);
        for (const QString &text : expected)
            QVERIFY2(texts.contains(text), qPrintable(text + " in:\n" + texts.join('\n')));
        for (int step = 0; step < 2; ++step, w.change(0)) { // then without the service, and the link line's tooltip
            QVERIFY(QTest::qWaitFor([&w] { return w.drawn(); }));
            QCOMPARE((heard(w.main) + heard(w.peer)).filter(QRegularExpression("^!")), QStringList());
        }
    }

    // Through the AT-SPI bridge on the accessibility bus, as a screen reader reads:
    // the whole tree walked with its counts, and past the end of every list, while
    // the windows change between the reader's questions on a seeded schedule. The
    // bridge answers every question; an index past the end is the null object.
    void readerWalks_data()
    {
        QTest::addColumn<quint32>("seed");
        for (const quint32 seed : {1u, 2u, 3u})
            QTest::newRow(qPrintable("seed " + QString::number(seed))) << seed;
    }
    void readerWalks()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("the AT-SPI bridge runs on X11; offscreen, interfaces() checks what it asks");
        QFETCH(quint32, seed);
        Windows w;
        QVERIFY(w.exposed);
        // The desktop session starts the accessibility bus; here the first question
        // for its address does. The bridge follows the bus's name on the session bus.
        const QDBusMessage address = call(QDBusConnection::sessionBus(), {"org.a11y.Bus", "/org/a11y/bus"}, "org.a11y.Bus", "GetAddress");
        QVERIFY2(address.type() == QDBusMessage::ReplyMessage, qPrintable(address.errorMessage()));
        QTRY_VERIFY2_WITH_TIMEOUT(QAccessible::isActive(), "the AT-SPI bridge did not come up", 30000);
        const QString name = "reader " + QString::number(seed);
        QDBusConnection bus = QDBusConnection::connectToBus(address.arguments().first().toString(), name);
        QVERIFY(bus.isConnected());
        // The application is whichever connection of this process is not the reader.
        QString app;
        for (const QString &peer : bus.interface()->registeredServiceNames().value()) {
            if (peer.startsWith(':') && peer != bus.baseService() && bus.interface()->servicePid(peer).value() == uint(getpid()))
                app = peer;
        }
        QVERIFY2(!app.isEmpty(), "the application is not on the accessibility bus");

        QRandomGenerator random(seed);
        int changes = 0, asked = 0;
        QList<Ref> todo{{app, QStringLiteral("/org/a11y/atspi/accessible/root")}};
        while (!todo.isEmpty() && asked < 4000) {
            const Ref node = todo.takeFirst();
            const int count = childCount(bus, node);
            if (count < 0)
                continue; // gone with a rebuild since its parent listed it
            if (random.bounded(3) == 0) {
                w.change(random.bounded(5));
                ++changes;
            }
            // The count is stale now: every index it told of, and those past it.
            for (int index = 0; index <= count + 1; ++index) {
                const Ref child = childAt(bus, node, index);
                ++asked;
                if (child.path.isEmpty()) {
                    // Only a node that went with a rebuild answers nothing.
                    QVERIFY2(childCount(bus, node) < 0, qPrintable(node.path + " did not answer for child " + QString::number(index)));
                    break;
                }
                if (index >= count && child.path != nullPath && childCount(bus, node) <= index)
                    QFAIL(qPrintable(node.path + " answered " + child.path + " for child " + QString::number(index)));
                if (index < count && child.path != nullPath && child.service == app)
                    todo << child;
            }
        }
        QVERIFY2(asked > 200, qPrintable(QString::number(asked)));
        QVERIFY(changes > 10);
        QDBusConnection::disconnectFromBus(name);
    }
};

QTEST_MAIN(TestViewsAccessibility)
#include "tst_views_accessibility.moc"
