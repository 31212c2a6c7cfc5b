// The capture variants: one window in light and dark, at its frame and at its
// minimum size, and scrolled to the bottom where its content overflows.

#include "devtools/bounded_capture.h"
#include "devtools/capture_run.h"
#include "devtools/window_capture.h"
#include "views/theme.h"
#include "views/window_height.h"

#include <QAbstractScrollArea>
#include <QCoroTimer>
#include <QLayout>
#include <QScrollArea>
#include <QScrollBar>

#include <chrono>

namespace cv {

namespace {

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

struct ScrollPosition {
    QPointer<QAbstractScrollArea> area;
    QPoint origin;
};

QList<ScrollPosition> scrollPositions(const QList<QAbstractScrollArea *> &areas)
{
    QList<ScrollPosition> positions;
    for (QAbstractScrollArea *area : areas)
        positions.append({area, {area->horizontalScrollBar()->value(), area->verticalScrollBar()->value()}});
    return positions;
}

void restore(const QList<ScrollPosition> &positions)
{
    for (const ScrollPosition &position : positions) {
        if (!position.area)
            continue;
        position.area->horizontalScrollBar()->setValue(position.origin.x());
        position.area->verticalScrollBar()->setValue(position.origin.y());
    }
}

// The scrolled document's height: a scroll area's widget, or the viewport and
// the scroll range of any other area.
int documentHeight(const QAbstractScrollArea *area)
{
    if (const auto *scroll = qobject_cast<const QScrollArea *>(area); scroll && scroll->widget())
        return scroll->widget()->height();
    const QScrollBar *bar = area->verticalScrollBar();
    return area->viewport()->height() + bar->maximum() - bar->minimum();
}

QRect documentRect(const QAbstractScrollArea *area)
{
    if (const auto *scroll = qobject_cast<const QScrollArea *>(area); scroll && scroll->widget())
        return scroll->widget()->rect();
    return QRect(0, 0, area->viewport()->width() + area->horizontalScrollBar()->maximum(), documentHeight(area));
}

// The part of the document the viewport shows.
QRect clipRect(const QAbstractScrollArea *area)
{
    return QRect(QPoint(area->horizontalScrollBar()->value(), area->verticalScrollBar()->value()),
                 area->viewport()->size());
}

// Captures the window into `file` in `directory`; the result line, or the failure's.
QCoro::Task<QString> captureInto(QPointer<QWidget> window, QString directory, QString file, QString successSuffix)
{
    std::exception_ptr failure;
    QImage image;
    try {
        QCoro::Task<QImage> capture = captureOwnWindow(window);
        image = co_await std::move(capture);
        writePNG(image, directory + QLatin1Char('/') + file);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure)
        co_return QStringLiteral("%1: capture failed: %2").arg(file, captureErrorText(failure));
    co_return QStringLiteral("%1: exact own-window capture %2x%3%4")
        .arg(file)
        .arg(image.width())
        .arg(image.height())
        .arg(successSuffix);
}

} // namespace

QCoro::Task<QStringList> captureDevelopmentVariants(DevelopmentHost host, QPointer<QWidget> window, QString name,
                                                    QString directory)
{
    QStringList lines;
    if (!window)
        co_return lines;
    const QRect geometry = window->geometry();
    const QRect frame = window->frameGeometry();
    const bool ownPalette = window->testAttribute(Qt::WA_SetPalette);
    const QPalette palette = window->palette();
    QWidget *host0 = host.contentHost(window);
    const QList<ScrollPosition> positions = host0 ? scrollPositions(nativeScrollViews(host0)) : QList<ScrollPosition>();
    // Height fitting would take the window back to its content's height while it
    // is borrowed, so the minimum pictures would not be at the minimum.
    QPointer<WindowHeight> fitting = window->findChild<WindowHeight *>(QString(), Qt::FindDirectChildrenOnly);
    const bool wasSuspended = fitting && fitting->fittingSuspended();
    if (fitting)
        fitting->setFittingSuspended(true);

    struct Variant {
        const char *name;
        Appearance appearance;
        bool minimum;
    };
    const Variant variants[] = {{"light", Appearance::light, false},
                                {"dark", Appearance::dark, false},
                                {"light-minimum", Appearance::light, true},
                                {"dark-minimum", Appearance::dark, true}};
    for (const Variant &variant : variants) {
        if (!window)
            break;
        const QString variantName = QString::fromLatin1(variant.name);
        Theme::setWindowAppearance(window, variant.appearance);
        if (variant.minimum)
            window->resize(window->minimumSize());
        else
            window->setGeometry(geometry);
        layOutAndDraw(contentView(window));
        QCoro::Task<> settling = developmentPause(350);
        co_await std::move(settling);
        if (!window)
            break;
        const QWidget *content = contentView(window);
        lines << QStringLiteral("%1 %2: windowID=%3 frame=%4 content=%5 minimum=%6 visible=%7")
                     .arg(name, variantName, QString::number(quintptr(window->winId())),
                          rectText(window->frameGeometry()), rectText(content ? content->rect() : QRect()),
                          sizeText(window->minimumSize()), boolText(window->isVisible()));
        QCoro::Task<QString> capture =
            captureInto(window, directory, QStringLiteral("%1-%2-window.png").arg(name, variantName), QString());
        lines << co_await std::move(capture);
        if (variant.minimum) {
            QCoro::Task<QStringList> bottom =
                captureDevelopmentScrollBottom(host, window, name + QLatin1Char('-') + variantName, directory);
            lines += co_await std::move(bottom);
        }
    }

    lines << QStringLiteral("%1: restoring original appearance and frame %2 after development variants")
                 .arg(name, rectText(frame));
    if (window) {
        if (ownPalette)
            window->setPalette(palette);
        else
            Theme::setWindowAppearance(window, std::nullopt);
        window->setGeometry(geometry);
        if (QWidget *content = contentView(window); content && content->layout())
            content->layout()->activate();
        restore(positions);
    }
    if (fitting)
        fitting->setFittingSuspended(wasSuspended);
    co_return lines;
}

QCoro::Task<QStringList> captureDevelopmentScrollBottom(DevelopmentHost host, QPointer<QWidget> window, QString name,
                                                        QString directory)
{
    QPointer<QWidget> view = window ? host.contentHost(window) : nullptr;
    if (!view)
        co_return QStringList{name + QStringLiteral(": no own hosting view to inspect")};
    QList<QAbstractScrollArea *> overflowing;
    for (QAbstractScrollArea *area : nativeScrollViews(view)) {
        if (documentHeight(area) > area->viewport()->height() + 1)
            overflowing << area;
    }
    if (overflowing.isEmpty())
        co_return QStringList{
            name + QStringLiteral(": no vertically overflowing native NSScrollView found; no bottom-scroll capture "
                                  "claimed")};

    QStringList lines;
    const QList<ScrollPosition> positions = scrollPositions(overflowing);
    for (const ScrollPosition &position : positions) {
        QAbstractScrollArea *area = position.area;
        if (!area)
            continue;
        // Widgets grow downward: the bottom is the end of the scroll range.
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        lines << QStringLiteral("%1: native scroll document=%2 flipped=true clip=%3 moved to document bottom")
                     .arg(name, rectText(documentRect(area)), rectText(clipRect(area)));
    }
    layOutAndDraw(view);
    QCoro::Task<> settling = developmentPause(350);
    co_await std::move(settling);
    QCoro::Task<QString> capture = captureInto(window, directory, name + QStringLiteral("-bottom-window.png"),
                                               QStringLiteral("; restoring scroll positions afterward"));
    lines << co_await std::move(capture);
    restore(positions);
    co_return lines;
}

} // namespace cv
