#include "devtools/window_capture.h"

#include "devtools/bounded_capture.h"
#include "devtools/development_host.h"
#include "platform/app_runtime.h"
#include "service/service_error.h"
#include "views/theme.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QBuffer>
#include <QCoroTimer>
#include <QEvent>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <chrono>

namespace cv {

namespace {

const QString unavailableText = QStringLiteral("This app’s window is unavailable for capture.");

// Draws one of our windows, alone, as it is now, through the bounded call. Not the
// screen's pixels: without a compositor they hold whatever overlaps the window,
// and they may be older than the window's last change.
QCoro::Task<QImage> grabOwnWindow(QPointer<QWidget> window, QString operation)
{
    auto start = [window](DevelopmentCaptureCompletion<QImage> done) {
        // A window that is not shown is not captured.
        if (!window || !window->isVisible() || !window->windowHandle()) {
            done(std::nullopt, std::make_exception_ptr(ServiceError::invalid(unavailableText)));
            return;
        }
        const QImage image = window->grab().toImage();
        if (image.isNull())
            done(std::nullopt, std::make_exception_ptr(ServiceError::invalid(unavailableText)));
        else
            done(image, nullptr);
    };
    QCoro::Task<QImage> grab = boundedDevelopmentCapture<QImage>(std::move(operation), start);
    co_return co_await std::move(grab);
}

// Remembers the last menu that was shown while it lives.
class MenuHolder final : public QObject {
public:
    MenuHolder() { qApp->installEventFilter(this); }
    ~MenuHolder() override { qApp->removeEventFilter(this); }
    QPointer<QMenu> menu;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType())
            if (auto *shown = qobject_cast<QMenu *>(watched))
                menu = shown;
        return false;
    }
};

QRect globalRect(const QWidget *widget)
{
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

} // namespace

QCoro::Task<QImage> captureOwnWindow(QPointer<QWidget> window)
{
    QCoro::Task<QImage> grab = grabOwnWindow(window, QStringLiteral("ScreenCaptureKit own-window image"));
    co_return co_await std::move(grab);
}

QColor captureBackdrop(const QWidget *window)
{
    return window && Theme::isDark(window->palette()) ? QColor(0x1F, 0x1F, 0x1F) : QColor(0xED, 0xED, 0xED);
}

QAbstractButton *firstPopUpButton(QWidget *root)
{
    if (!root)
        return nullptr;
    if (auto *button = qobject_cast<QAbstractButton *>(root)) {
        const auto *push = qobject_cast<QPushButton *>(button);
        const auto *tool = qobject_cast<QToolButton *>(button);
        if ((push && push->menu()) || (tool && tool->menu()) || button->inherits("cv::MoreButton"))
            return button;
    }
    for (QObject *child : root->children()) {
        if (child->isWidgetType())
            if (QAbstractButton *found = firstPopUpButton(static_cast<QWidget *>(child)))
                return found;
    }
    return nullptr;
}

QCoro::Task<QImage> captureWithMenu(QPointer<QWidget> window)
{
    QPointer<QAbstractButton> button = window ? firstPopUpButton(contentView(window)) : nullptr;
    if (!button)
        throw ServiceError::invalid(QStringLiteral("No \u22EF menu to open."));
    QCoro::Task<QImage> plain = captureOwnWindow(window);
    const QImage image = co_await std::move(plain);

    MenuHolder holder;
    // Where the window system cannot raise a window or grab the keyboard (offscreen),
    // the window's menus open as plain frameless windows: as pop-ups Qt would ask for
    // both, and the platform would say it cannot on every capture. They look the same.
    QList<std::pair<QPointer<QMenu>, Qt::WindowFlags>> plainMenus;
    if (!AppRuntime::stacksWindows()) {
        for (QMenu *menu : contentView(window)->findChildren<QMenu *>()) {
            plainMenus.append({menu, menu->windowFlags()});
            menu->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        }
    }
    // On the next turn, and through popup(): a nested event loop here would hold
    // this task until the menu closed.
    QTimer::singleShot(0, button, [button] {
        QMenu *own = nullptr;
        if (auto *push = qobject_cast<QPushButton *>(button.data()))
            own = push->menu();
        else if (auto *tool = qobject_cast<QToolButton *>(button.data()))
            own = tool->menu();
        if (own)
            own->popup(button->mapToGlobal(QPoint(0, button->height())));
        else
            button->click();
    });
    QCoro::Task<> opening = QCoro::sleepFor(std::chrono::milliseconds(800));
    co_await std::move(opening);

    std::exception_ptr failure;
    QImage composite;
    if (!window || !button) {
        failure = std::make_exception_ptr(ServiceError::invalid(unavailableText));
    } else {
        try {
            QCoro::Task<QImage> compositing =
                captureWithPopups(window, image, captureBackdrop(window), globalRect(button));
            composite = co_await std::move(compositing);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (holder.menu)
        holder.menu->close();
    for (const auto &[menu, flags] : std::as_const(plainMenus))
        if (menu)
            menu->setWindowFlags(flags);
    if (failure)
        std::rethrow_exception(failure);
    co_return composite;
}

QCoro::Task<QImage> captureWithPopups(QPointer<QWidget> window, QImage image, QColor backdrop, QRect anchor)
{
    if (!window || !window->isVisible())
        throw ServiceError::invalid(unavailableText);
    const QRect target = window->geometry();
    const QRect grown = anchor.adjusted(-40, -40, 40, 40);
    QList<QPointer<QWidget>> popups;
    QRect united = target;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        const bool popUp = top->windowType() == Qt::Popup || qobject_cast<QMenu *>(top);
        if (top != window && top->isVisible() && popUp && top->geometry().intersects(grown)) {
            popups << top;
            united |= top->geometry();
        }
    }

    const qreal scale = window->devicePixelRatioF();
    QImage canvas((QSizeF(united.size()) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        throw ServiceError::invalid(QStringLiteral("Couldn’t create the capture canvas."));
    canvas.fill(Qt::transparent);
    auto place = [&](const QRect &rect) {
        return QRectF(QPointF(rect.topLeft() - united.topLeft()) * scale, QSizeF(rect.size()) * scale);
    };
    {
        QPainter painter(&canvas);
        painter.drawImage(place(target), image);
    }
    for (const QPointer<QWidget> &popup : std::as_const(popups)) {
        if (!popup)
            continue;
        const QRect frame = popup->geometry();
        QCoro::Task<QImage> grab = grabOwnWindow(popup, QStringLiteral("ScreenCaptureKit menu image"));
        const QImage picture = co_await std::move(grab);
        // The pop-up over the part of the window it covers, over the backdrop.
        QPainter painter(&canvas);
        painter.setClipRect(place(frame));
        painter.fillRect(place(frame), backdrop);
        painter.drawImage(place(target), image);
        painter.drawImage(place(frame), picture);
    }
    if (canvas.isNull())
        throw ServiceError::invalid(QStringLiteral("Couldn’t composite the capture."));
    canvas.setDevicePixelRatio(scale);
    co_return canvas;
}

QByteArray pngData(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    if (image.isNull() || !buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return {};
    return data;
}

void writeAtomically(const QString &path, const QByteArray &data)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        throw ServiceError::invalid(file.errorString());
}

void writePNG(const QImage &image, const QString &path)
{
    const QByteArray data = pngData(image);
    if (data.isEmpty())
        throw ServiceError::invalid(QStringLiteral("Couldn’t encode development capture as PNG."));
    writeAtomically(path, data);
}

QWidget *contentView(QWidget *window)
{
    if (auto *main = qobject_cast<QMainWindow *>(window))
        return main->centralWidget();
    return window;
}

void layOutAndDraw(QWidget *view)
{
    if (!view)
        return;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (QLayout *layout = view->layout())
        layout->activate();
    if (view->isVisible())
        view->repaint();
}

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

QCoro::Task<> developmentPause(int milliseconds)
{
    // CV_MAC_CAPTURE_PAUSE_MS, when a number, replaces every such wait (the tests
    // shorten them; an offscreen window settles at once).
    bool set = false;
    const int replaced = qEnvironmentVariableIntValue("CV_MAC_CAPTURE_PAUSE_MS", &set);
    QCoro::Task<> sleeping = QCoro::sleepFor(std::chrono::milliseconds(set ? replaced : milliseconds));
    co_await std::move(sleeping);
}

QList<QAbstractScrollArea *> nativeScrollViews(QWidget *view)
{
    if (!view)
        return {};
    if (auto *area = qobject_cast<QAbstractScrollArea *>(view))
        return {area};
    QList<QAbstractScrollArea *> found;
    for (QObject *child : view->children()) {
        if (child->isWidgetType())
            found += nativeScrollViews(static_cast<QWidget *>(child));
    }
    return found;
}

ContentRenderer contentRenderer(QWidget *host)
{
    const QPointer<QWidget> weakHost(host);
    return [weakHost](QSize size, qreal scale) -> QImage {
        if (!weakHost || size.isEmpty() || scale <= 0)
            return {};
        QImage image((QSizeF(size) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            return {};
        image.setDevicePixelRatio(scale);
        image.fill(Qt::transparent);
        // The view as it is drawn now, in the appearance its window has; the window
        // is drawn as the active one.
        const QPixmap view = weakHost->grab();
        if (view.isNull())
            return {};
        const QSizeF shown = view.deviceIndependentSize();
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(QRectF(QPointF((size.width() - shown.width()) / 2, (size.height() - shown.height()) / 2),
                                  shown),
                           view, QRectF(view.rect()));
        return image;
    };
}

void closeDemoWindows(DevelopmentHost &host)
{
    if (!host.alive())
        return;
    auto close = [&host](QMainWindow *window) {
        if (!window)
            return;
        window->close();
        if (host.contentHosts)
            host.contentHosts->remove(window);
        if (host.contentRenderers)
            host.contentRenderers->remove(window);
        window->deleteLater();
    };
    close(host.mainWindow->data());
    *host.mainWindow = nullptr;
    const auto peers = host.peerWindows->values();
    host.peerWindows->clear();
    for (const QPointer<QMainWindow> &window : peers)
        close(window.data());
}

} // namespace cv
