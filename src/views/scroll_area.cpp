#include "views/scroll_area.h"

#include <QAccessibleWidget>
#include <QScrollBar>

namespace cv {

namespace {

// Also given to the scroll areas Qt makes inside its own widgets (the header of the
// folder panel's list, for one): asked before Qt's interfaces, it answers for the
// class names at which Qt would give its own scroll-area interface, so a view with
// an interface of its own (a list, a text field) keeps it.
class ScrollAreaAccessible final : public QAccessibleWidget {
public:
    explicit ScrollAreaAccessible(QAbstractScrollArea *area) : QAccessibleWidget(area, QAccessible::Client) {}

    static QAccessibleInterface *make(const QString &className, QObject *object)
    {
        static const QStringList names{QStringLiteral("cv::ScrollArea"), QStringLiteral("QScrollArea"),
                                       QStringLiteral("QAbstractScrollArea")};
        auto *area = qobject_cast<QAbstractScrollArea *>(object);
        return area && names.contains(className) ? new ScrollAreaAccessible(area) : nullptr;
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
    // Always the same, in Qt's order: the viewport, the bars' holders, and the
    // corner widget while there is one.
    QWidgetList parts() const
    {
        const auto *area = static_cast<const QAbstractScrollArea *>(widget());
        QWidgetList list;
        for (QWidget *part : {area->viewport(), area->horizontalScrollBar()->parentWidget(),
                              area->verticalScrollBar()->parentWidget(), area->cornerWidget()})
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
