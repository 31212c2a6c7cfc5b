#pragma once

// The few colours, fonts and symbols the activity list and the banner draw with,
// derived from the widget's palette so that both follow light and dark.

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>

class QPalette;
class QWidget;

namespace cv::paint {

enum class Tone { primary, secondary, tertiary, accent, green, orange, separator };

// A palette is dark when its window colour is.
bool isDark(const QPalette &palette);
QColor color(Tone tone, const QPalette &palette);

// The interface's type sizes, in pixels.
enum class TextStyle { body, headline, callout, caption, title3 };
QFont font(TextStyle style, const QFont &base);

// Symbol `name` of the :/symbols resource, `size` pixels square, in one colour, at the
// device pixel ratio of `widget` (1 without one). A null pixmap for an unknown name.
QPixmap symbol(const QString &name, int size, const QColor &color, const QWidget *widget = nullptr);

// "&" doubled, so a button or menu shows it instead of reading a mnemonic.
QString literal(QString text);

} // namespace cv::paint
