#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QStringList>
#include <QWidget>

class QPainter;

namespace cv {

// The window symbols: our own monochrome SVG files in the ":/symbols" resource,
// tinted when drawn and rendered at the target's device pixels, so they are crisp at
// any device pixel ratio. A two-colour symbol has a "primary" element (its glyph)
// and a "secondary" one (the shape around it); drawn whole it is one colour.
class Symbols {
public:
    // The nineteen names, in alphabetical order.
    static const QStringList &names();
    static QString path(const QString &name); // ":/symbols/<name>.svg"
    static bool exists(const QString &name);

    // `name` in the largest square centred in `rect`: one colour, or with `secondary` valid the glyph in `color` and
    // the shape in `secondary`. Unknown names draw nothing.
    static void paint(QPainter &painter, const QRectF &rect, const QString &name,
                      const QColor &color, const QColor &secondary = QColor());
    // The symbol as a pixmap of `size` logical pixels at `ratio` device pixels each.
    static QPixmap pixmap(const QString &name, const QSizeF &size, qreal ratio,
                          const QColor &color, const QColor &secondary = QColor());
    // For buttons and menus: pixmaps at ratios 1 and 2.
    static QIcon icon(const QString &name, int size, const QColor &color);
};

// A symbol as a widget of a fixed square size. Without a colour of its own it takes
// the palette's text colour, following palette changes.
class SymbolView final : public QWidget {
    Q_OBJECT
public:
    SymbolView(const QString &name, int size, QWidget *parent = nullptr);

    void setName(const QString &name);
    QString name() const { return name_; }
    void setColor(const QColor &color, const QColor &secondary = QColor());

    QSize sizeHint() const override { return {size_, size_}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString name_;
    int size_;
    QColor color_;
    QColor secondary_;
};

} // namespace cv
