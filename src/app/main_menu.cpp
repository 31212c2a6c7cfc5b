#include "app/main_menu.h"

#include "localization/localization.h"
#include "platform/app_bundle.h"
#include "service/diagnostics.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace cv {

namespace {

// The widget that handles `slot` ("copy()" and the like): the focused widget or the
// nearest of its parents that has it, as a first responder chain would find it.
QWidget *responder(const char *slot)
{
    for (QWidget *widget = QApplication::focusWidget(); widget; widget = widget->parentWidget()) {
        if (widget->metaObject()->indexOfSlot(slot) >= 0)
            return widget;
        if (widget->isWindow())
            break;
    }
    return nullptr;
}

// Whether the item of `slot` would do anything now: a responder takes it, and Cut and
// Copy have a selection to take, Cut and Paste a text they may change.
bool acts(const char *slot)
{
    const QWidget *widget = responder(slot);
    if (!widget)
        return false;
    const QByteArray name(slot);
    const QVariant selected = widget->property("hasSelectedText");
    if ((name == "cut()" || name == "copy()") && selected.isValid() && !selected.toBool())
        return false;
    const QVariant readOnly = widget->property("readOnly");
    return !((name == "cut()" || name == "paste()") && readOnly.isValid() && readOnly.toBool());
}

} // namespace

MainMenu::MainMenu(MenuActions actions, bool updatesAvailable, QObject *parent)
    : QObject(parent), actions_(std::move(actions))
{
    connect(item(application_, L("About Corvane")), &QAction::triggered, this, &MainMenu::showAbout);
    if (updatesAvailable) {
        checkForUpdates_ = item(application_, L("Check for Updates…"));
        connect(checkForUpdates_, &QAction::triggered, this, [this] {
            if (actions_.checkForUpdates)
                actions_.checkForUpdates();
        });
    }
    separator(application_);
    connect(item(application_, L("Settings…"), QKeySequence(Qt::CTRL | Qt::Key_Comma)), &QAction::triggered, this,
            [this] {
                if (actions_.showMain)
                    actions_.showMain();
            });
    separator(application_);
    connect(item(application_, L("Hide Corvane"), QKeySequence(Qt::CTRL | Qt::Key_H)), &QAction::triggered, this,
            [this] {
                if (actions_.hide)
                    actions_.hide();
            });
    // Other applications' windows are not ours to hide on Linux: present but disabled.
    hideOthers_ = item(application_, L("Hide Others"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_H));
    showAll_ = item(application_, L("Show All"));
    hideOthers_->setEnabled(false);
    showAll_->setEnabled(false);
    separator(application_);
    connect(item(application_, L("Quit Corvane"), QKeySequence(Qt::CTRL | Qt::Key_Q)), &QAction::triggered, this,
            [this] {
                if (actions_.requestQuit)
                    actions_.requestQuit();
            });

    const std::pair<const char *, std::pair<const char *, Qt::Key>> editItems[] = {
        {"Cut", {"cut()", Qt::Key_X}},
        {"Copy", {"copy()", Qt::Key_C}},
        {"Paste", {"paste()", Qt::Key_V}},
        {"Select All", {"selectAll()", Qt::Key_A}},
    };
    for (const auto &[title, target] : editItems) {
        QAction *action = item(edit_, L(QString::fromLatin1(title)), QKeySequence(Qt::CTRL | target.second));
        const char *slot = target.first;
        editSlots_.append({action, slot});
        connect(action, &QAction::triggered, this, [slot] {
            if (QWidget *widget = responder(slot)) {
                const QByteArray name(slot, qsizetype(qstrlen(slot)) - 2);
                QMetaObject::invokeMethod(widget, name.constData());
            }
        });
    }

    minimize_ = item(window_, L("Minimize"), QKeySequence(Qt::CTRL | Qt::Key_M));
    connect(minimize_, &QAction::triggered, this, [] {
        if (QWidget *window = QApplication::activeWindow())
            window->showMinimized();
    });
    close_ = item(window_, L("Close"), QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(close_, &QAction::triggered, this, [] {
        if (QWidget *window = QApplication::activeWindow())
            window->close();
    });

    connect(item(help_, L("Save Diagnostics…")), &QAction::triggered, this, [this] {
        if (actions_.saveDiagnostics)
            actions_.saveDiagnostics();
        else
            Diagnostics::save();
    });
}

MainMenu::~MainMenu() = default;

QAction *MainMenu::item(QList<QAction *> &menu, const QString &title, const QKeySequence &key)
{
    auto *action = new QAction(title, this);
    action->setShortcut(key);
    // Only the menu-bar menus of this application's windows carry these keys.
    action->setShortcutContext(Qt::WindowShortcut);
    menu.append(action);
    return action;
}

void MainMenu::separator(QList<QAction *> &menu)
{
    auto *action = new QAction(this);
    action->setSeparator(true);
    menu.append(action);
}

void MainMenu::attach(QMenuBar *bar)
{
    menu(bar, QStringLiteral("Corvane"), application_);
    menu(bar, L("Edit"), edit_);
    menu(bar, L("Window"), window_);
    menu(bar, L("Help"), help_);
}

QMenu *MainMenu::menu(QMenuBar *bar, const QString &title, const QList<QAction *> &items)
{
    QMenu *menu = bar->addMenu(title);
    menu->addActions(items);
    connect(menu, &QMenu::aboutToShow, this, [this, items] {
        for (QAction *action : items)
            validate(action, true);
    });
    connect(menu, &QMenu::aboutToHide, this, [this, items] {
        for (QAction *action : items)
            validate(action, false);
    });
    return menu;
}

void MainMenu::validate(QAction *action, bool opening)
{
    if (action->isSeparator())
        return;
    bool enabled = true;
    if (action == hideOthers_ || action == showAll_) {
        enabled = false;
    } else if (action == checkForUpdates_) {
        enabled = !actions_.canCheckForUpdates || actions_.canCheckForUpdates();
    } else if (opening) {
        // While closed every other item stays enabled, so that its shortcut reaches
        // whatever is focused when it is pressed; the action finds its target then.
        for (const auto &[edit, slot] : editSlots_) {
            if (edit == action)
                enabled = acts(slot);
        }
        if (action == minimize_ || action == close_)
            enabled = QApplication::activeWindow() != nullptr;
    }
    action->setEnabled(enabled);
}

void MainMenu::showAbout()
{
    static QPointer<QMessageBox> box;
    if (!box) {
        box = new QMessageBox(QMessageBox::NoIcon, L("About Corvane"), QStringLiteral("Corvane"), QMessageBox::Ok);
        box->setTextFormat(Qt::PlainText);
        box->setInformativeText(AppBundle::main().version());
        box->setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        // A message box makes room for its title as if it were drawn in a small
        // title bar of its own; a window manager centres it, bold, between the window's
        // icon on one side and up to three buttons on the other, and cuts what does not
        // fit. An empty item as wide as that widens the box (and takes no height).
        constexpr int titleBarControls = 100; // on either side of the title
        QFont titleFont = box->font();
        titleFont.setBold(true);
        const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(box->windowTitle()) + 2 * titleBarControls;
        if (auto *grid = qobject_cast<QGridLayout *>(box->layout()))
            grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), 0, 0, 1,
                          grid->columnCount());
    }
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace cv
