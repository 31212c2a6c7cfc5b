#include "views/scroll_area.h"

#include <QAccessibleWidget>
#include <QScrollBar>

namespace cv {

namespace {

class ScrollAreaAccessible final : public QAccessibleWidget {
public:
    explicit ScrollAreaAccessible(ScrollArea *area) : QAccessibleWidget(area, QAccessible::Client) {}

    static QAccessibleInterface *make(const QString &className, QObject *object)
    {
        auto *area = qobject_cast<ScrollArea *>(object);
        return className == QLatin1String("cv::ScrollArea") && area ? new ScrollAreaAccessible(area) : nullptr;
    }

    int childCount() const override { return isValid() ? int(parts().size()) : 0; }

    QAccessibleInterface *child(int index) const override
    {
        if (!isValid())
            return nullptr;
        const QWidgetList list = parts();
        return index >= 0 && index < list.size() ? QAccessible::queryAccessibleInterface(list.at(index)) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!isValid() || !child)
            return -1;
        return int(parts().indexOf(qobject_cast<QWidget *>(child->object())));
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        if (!isValid() || !widget()->isVisible())
            return nullptr;
        for (QWidget *part : parts())
            if (part->isVisible() && QRect(part->mapToGlobal(QPoint()), part->size()).contains(x, y))
                return QAccessible::queryAccessibleInterface(part);
        return nullptr;
    }

private:
    // Always the three, in Qt's order.
    QWidgetList parts() const
    {
        const auto *area = static_cast<const QAbstractScrollArea *>(widget());
        QWidgetList list;
        for (QWidget *part : {area->viewport(), area->horizontalScrollBar()->parentWidget(),
                              area->verticalScrollBar()->parentWidget()})
            if (part && part != area)
                list << part;
        return list;
    }
};

} // namespace

ScrollArea::ScrollArea(QWidget *parent) : QScrollArea(parent)
{
    static const bool accessible = (QAccessible::installFactory(&ScrollAreaAccessible::make), true);
    Q_UNUSED(accessible);
}

} // namespace cv
