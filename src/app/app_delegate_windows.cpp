// The main window, one window per computer, and the activation policy that follows
// whether any of them is on screen.

#include "app/app_delegate.h"

#include "app/main_menu.h"
#include "devtools/development_host.h"
#include "localization/localization.h"
#include "service/service_host.h"
#include "views/main_view.h"
#include "views/peer_view.h"
#include "views/window_height.h"
#include "views/window_placement.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace cv {

namespace {

const QString mainTitle = QStringLiteral("Corvane");

constexpr QSize mainSize(580, 560);
constexpr QSize mainMinimum(520, 280);
constexpr QSize peerSize(640, 660);
constexpr QSize peerMinimum(600, 420);
constexpr qreal mainHeightMinimum = 320;
constexpr qreal mainHeightMaximum = 880;
constexpr qreal peerHeightMinimum = 460;
constexpr qreal peerHeightMaximum = 920;
constexpr int cascadeStep = 24;

// A title shown as it is, on one line: Qt reads "[*]" as the place of the modified
// mark, and "[*][*]" as one literal "[*]"; a tab or line break in a computer's name
// shows as a space. A title that is a name alone takes its direction from the name,
// with no marks around it: tools find the window by that name.
QString literalTitle(const QString &title)
{
    return Localization::oneLine(title).replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}

// The computer window's background: without a compositor nothing shows through, so
// the glass becomes an opaque colour a shade apart from the main window's.
class GlassContainer final : public QWidget {
public:
    explicit GlassContainer(QWidget *content)
    {
        setObjectName(QStringLiteral("computer"));
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(content);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const QColor window = palette().color(QPalette::Window);
        const QColor glass = window.lightness() > 128 ? window.darker(104) : window.lighter(115);
        QPainter(this).fillRect(rect(), glass);
    }
};

// Gives `window` the client rectangle `client`, kept within `screen` (the primary
// screen when none) with room for the window manager's frame; a window taller or
// wider than that is limited to it. Positions are the client area's: the frame goes
// around it.
void place(QWidget *window, QRect client, const QScreen *screen)
{
    if (const std::optional<QRect> area = WindowPlacement::clientArea(window, screen))
        client = WindowPlacement::keptWithin(client, *area);
    window->setGeometry(client);
}

// Centres a client area of `size` on `screen` (the primary screen when none): the
// frame in the available area, as the client in what is left of it; then moves it
// right and down by `offset`.
void centre(QWidget *window, QSize size, const QScreen *screen, int offset = 0)
{
    if (const std::optional<QRect> area = WindowPlacement::clientArea(window, screen)) {
        QRect client(QPoint(), size);
        client.moveCenter(area->center());
        place(window, client.translated(offset, offset), screen);
    }
}

} // namespace

std::function<void()> AppDelegate::frontingAction(std::optional<QString> peerId)
{
    const QPointer<AppDelegate> self(this);
    const QPointer<AppRuntime> runtime = runtime_;
    return [self, runtime, peerId] {
        if (!runtime)
            return;
        runtime->setActivationPolicy(ActivationPolicy::regular);
        if (self) {
            QMainWindow *window = peerId ? self->peerWindows.value(*peerId).data() : self->mainWindow.data();
            if (window)
                runtime->makeKeyAndOrderFront(window);
        }
        runtime->activateIgnoringOtherApps();
    };
}

void AppDelegate::showMain()
{
    if (mainWindow) {
        frontingAction(std::nullopt)();
        return;
    }
    auto *height = new WindowHeight(mainHeightMinimum, mainHeightMaximum);
    const QPointer<AppDelegate> self(this);
    auto openPeer = [self](const QString &id) {
        if (self)
            self->showPeer(id);
    };
    auto *view = new MainView(*model, model->host(), openPeer, height);
    QMainWindow *window = makeWindow(WindowKind::main, mainTitle, view, mainSize);
    height->setParent(window);
    mainWindow = window;
    height->setWindow(window);
    height->showAfterFitting(frontingAction(std::nullopt));
}

void AppDelegate::showPeer(const QString &id)
{
    if (peerWindows.value(id)) {
        frontingAction(id)();
        return;
    }
    const QString name = model->name(id);
    auto *height = new WindowHeight(peerHeightMinimum, peerHeightMaximum);
    auto *view = new PeerView(*model, id, name, height);
    QMainWindow *window = makeWindow(WindowKind::computer, name, view, peerSize);
    // The title follows a renamed computer, also while the window is closed.
    connect(view, &PeerView::nameChanged, window, [window](const QString &shown) { window->setWindowTitle(literalTitle(shown)); });
    height->setParent(window);
    height->setWindow(window);
    // Linux window managers always draw a title bar, so the title stays set; what
    // the title hides elsewhere is only the text drawn over the content.
    // The first computer window opens on the primary screen, like the main window;
    // each later one cascades on the screen of the one built before it.
    const QScreen *screen = !peerWindows.isEmpty() && lastPeerWindow ? lastPeerWindow->screen() : nullptr;
    const int offset = int(peerWindows.size() & 7) * cascadeStep;
    centre(window, peerSize, screen, offset);
    peerWindows.insert(id, window);
    lastPeerWindow = window;
    height->showAfterFitting(frontingAction(id));
}

QMainWindow *AppDelegate::makeWindow(WindowKind kind, const QString &title, QWidget *view, QSize size)
{
    auto *window = new QMainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setWindowTitle(literalTitle(title));
    window->resize(size);
    QWidget *content = kind == WindowKind::main ? view : new GlassContainer(view);
    window->setCentralWidget(content);
    // The minimum belongs to the content: the window's own adds the menu bar to it.
    content->setMinimumSize(kind == WindowKind::main ? mainMinimum : peerMinimum);
    // A new window opens on the primary screen, whichever screen lies under the
    // default geometry Qt gave it.
    centre(window, size, nullptr);
    // Linux has no shared menu bar: each window carries the one main menu.
    if (mainMenu)
        mainMenu->attach(window->menuBar());
    registerContent(window, view);
    return window;
}

void AppDelegate::registerContent(QMainWindow *window, QWidget *host)
{
    contentHosts.insert(window, host);
    contentRenderers.insert(window, contentRenderer(host));
}

QList<QMainWindow *> AppDelegate::visibleWindows() const
{
    QList<QMainWindow *> windows;
    auto keepVisible = [&windows](QMainWindow *window) {
        if (window && window->isVisible())
            windows << window;
    };
    keepVisible(mainWindow.data());
    for (const auto &window : peerWindows)
        keepVisible(window.data());
    return windows;
}

void AppDelegate::windowWillClose(QWidget *closing)
{
    const auto visible = visibleWindows();
    const bool another = std::any_of(visible.begin(), visible.end(),
                                     [closing](const QMainWindow *window) { return window != closing; });
    if (another) {
        runtime_->setActivationPolicy(ActivationPolicy::regular);
    } else {
        runtime_->setActivationPolicy(ActivationPolicy::accessory);
        considerLeaving();
    }
}

} // namespace cv
