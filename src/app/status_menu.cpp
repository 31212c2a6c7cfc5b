#include "app/status_menu.h"

#include "app/app_icons.h"
#include "localization/localization.h"
#include "model/app_model.h"
#include "platform/status_item.h"

#include <QAction>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <QTimer>

// The symbols live in the views library's resource file.
static void initSymbolResources()
{
    Q_INIT_RESOURCE(symbols);
}

namespace cv {

namespace {

// A menu text that shows `&` as itself instead of marking a mnemonic.
QString literal(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// The stand-in for missing icon files: the "cable.connector" symbol in white on an
// accent badge, which reads on light and dark panels alike (trays tint nothing).
QIcon fallbackIcon()
{
    initSymbolResources();
    QIcon icon;
    QSvgRenderer symbol(QStringLiteral(":/symbols/cable.connector.svg"));
    for (const int scale : {1, 2}) {
        const int side = 18 * scale;
        QImage glyph(side, side, QImage::Format_ARGB32_Premultiplied);
        glyph.fill(Qt::transparent);
        {
            QPainter painter(&glyph);
            symbol.render(&painter, QRectF(2 * scale, 2 * scale, 14 * scale, 14 * scale));
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(glyph.rect(), Qt::white);
        }
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            QPainterPath badge;
            badge.addRoundedRect(QRectF(scale, scale, 16 * scale, 16 * scale), 4 * scale, 4 * scale);
            painter.fillPath(badge, QColor(0x0A, 0x6F, 0xE8));
            painter.drawImage(0, 0, glyph);
        }
        image.setDevicePixelRatio(scale);
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

StatusMenu::Entry entry(StatusMenu::Entry::Kind kind, const QString &title = {}, const QString &op = {},
                        const QString &peer = {}, bool enabled = true)
{
    StatusMenu::Entry made;
    made.kind = kind;
    made.title = title;
    made.op = op;
    made.peer = peer;
    made.enabled = enabled;
    return made;
}

} // namespace

bool operator==(const StatusMenu::Entry &a, const StatusMenu::Entry &b)
{
    return a.kind == b.kind && a.title == b.title && a.op == b.op && a.peer == b.peer && a.enabled == b.enabled
        && a.items == b.items;
}

StatusMenu::StatusMenu(AppModel &model, MenuActions actions, ItemFactory makeItem, QObject *parent)
    : QObject(parent), model_(model), actions_(std::move(actions)), makeItem_(std::move(makeItem))
{
    if (!makeItem_)
        makeItem_ = [] { return StatusItem::system(); };
}

StatusMenu::~StatusMenu()
{
    item_.reset();
    delete menu_.data();
}

void StatusMenu::updateStatusItem(bool show)
{
    if (!show) {
        item_.reset();
        if (menu_)
            menu_->deleteLater();
        menu_.clear();
        built_.clear();
        stale_ = false;
        return;
    }
    if (item_)
        return;
    item_ = makeItem_();
    QIcon icon = AppIcons::statusIcon();
    item_->setIcon(icon.isNull() ? fallbackIcon() : icon);
    item_->setToolTip(QStringLiteral("Corvane"));
    connect(item_.get(), &StatusItem::clicked, this, [this] {
        if (item_)
            item_->popUp(menu_);
    });
    build(entries());
    item_->setVisible(true);
}

void StatusMenu::rebuildStatusMenu()
{
    if (!item_)
        return;
    QList<Entry> now = entries();
    if (menu_ && now == built_)
        return;
    // An open menu is left alone; it follows once it closes. (A tray host that draws
    // the menu itself reads the new one when told, so only our own widget counts.)
    if (menu_ && menu_->isVisible()) {
        stale_ = true;
        return;
    }
    build(now);
}

QList<StatusMenu::Entry> StatusMenu::entries() const
{
    QList<Entry> list;
    const bool busy = model_.busy();
    for (const Peer &peer : model_.peers()) {
        // The name goes into the text first; only then are its `&` made literal, so a
        // name holding "{name}" or "&" shows as it is. On one line: a tab would start
        // the shortcut column.
        Entry computer = entry(Entry::Kind::computer,
                               literal(peer.choice_required
                                           ? L(QStringLiteral("{name} — choose what to share"), {{"name", peer.name}})
                                           : Localization::oneLine(peer.name)));
        auto add = [&](const QString &title, const char *op, bool enabled) {
            computer.items.append(entry(Entry::Kind::peerItem, title, QString::fromLatin1(op), peer.id, enabled));
        };
        add(peer.choice_required ? L("Choose What to Share…") : L("Show"), "show", true);
        if (peer.mount) {
            add(L("Open Files"), "open", model_.connected());
            add(L("Eject"), "eject", !busy);
        } else if (peer.ejected) {
            add(L("Show Again"), "mount", !busy);
        }
        if (model_.canSend(peer.id))
            add(L("Send Files…"), "send", !busy);
        add(L("Disconnect"), "disconnect", !busy);
        list.append(computer);
    }
    if (!list.isEmpty())
        list.append(entry(Entry::Kind::separator));
    list.append(entry(Entry::Kind::openMain, L("Open Corvane")));
    list.append(entry(Entry::Kind::quit, L("Quit Corvane")));
    return list;
}

void StatusMenu::build(const QList<Entry> &items)
{
    auto *menu = new QMenu;
    for (const Entry &entry : items) {
        switch (entry.kind) {
        case Entry::Kind::separator:
            menu->addSeparator();
            break;
        case Entry::Kind::computer: {
            QMenu *submenu = menu->addMenu(entry.title);
            for (const Entry &item : entry.items) {
                QAction *action = submenu->addAction(item.title);
                action->setEnabled(item.enabled);
                action->setData(QVariantMap{{QStringLiteral("op"), item.op}, {QStringLiteral("peer"), item.peer}});
                connect(action, &QAction::triggered, this, [this, action] { peerMenuAction(action->data()); });
            }
            break;
        }
        case Entry::Kind::peerItem:
            break;
        case Entry::Kind::openMain:
            connect(menu->addAction(entry.title), &QAction::triggered, this, [this] {
                if (actions_.showMain)
                    actions_.showMain();
            });
            break;
        case Entry::Kind::quit: {
            QAction *action = menu->addAction(entry.title);
            action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
            // Shown in the menu, active only while the menu itself has the keyboard, so
            // that it never competes with the main menu's Quit key.
            action->setShortcutContext(Qt::WidgetShortcut);
            connect(action, &QAction::triggered, this, [this] {
                if (actions_.requestQuit)
                    actions_.requestQuit();
            });
            break;
        }
        }
    }
    connect(menu, &QMenu::aboutToHide, this, [this] {
        if (stale_) {
            // After the chosen item has run, which follows the menu's closing.
            QTimer::singleShot(0, this, [this] {
                stale_ = false;
                rebuildStatusMenu();
            });
        }
    });

    QMenu *old = menu_;
    menu_ = menu;
    built_ = items;
    if (item_)
        item_->setMenu(menu);
    if (old)
        old->deleteLater();
}

void StatusMenu::peerMenuAction(const QVariant &payload)
{
    const QVariantMap map = payload.toMap();
    const QVariant op = map.value(QStringLiteral("op"));
    const QVariant peer = map.value(QStringLiteral("peer"));
    if (op.typeId() != QMetaType::QString || peer.typeId() != QMetaType::QString)
        return;
    const QString id = peer.toString();
    const QString name = op.toString();
    if (name == QLatin1String("show")) {
        if (actions_.showPeer)
            actions_.showPeer(id);
    } else if (name == QLatin1String("open")) {
        model_.openFiles(id);
    } else if (name == QLatin1String("send")) {
        model_.pickFiles(id);
    } else {
        model_.run(Command{.op = name, .peer = id});
    }
}

} // namespace cv
