#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPalette>

#include <optional>

class QApplication;
class QDBusVariant;
class QWidget;

namespace cv {

enum class Appearance { light, dark };

// The colour of a widget's text, taken from the appearance it is drawn in.
enum class Tone { primary, secondary, tertiary, accent, orange, green };

// The colours of one appearance. Semi-transparent colours are painted over the
// opaque window background; no window is ever translucent.
struct ThemeColors {
    QColor accent;
    QColor orange;
    QColor green;
    QColor primaryText;
    QColor secondaryText;
    QColor tertiary;
    QColor separator;
    QColor windowBackground;
    QColor surfaceFill;   // the raised surfaces of the computer window
    QColor surfaceBorder; // their inner border; transparent when there is none
    QColor groupFill;     // the rows of a grouped form
    QColor primary;       // full-strength black or white, for hover and platter tints
};

// The application's look: the Fusion style, a light and a dark palette, and the
// font. The application palette is the appearance; a window's own palette
// overrides it for that window. Painting code asks the palette it paints with
// which appearance it is.
class Theme {
public:
    static const ThemeColors &colors(Appearance appearance);
    static const ThemeColors &colors(const QPalette &palette) { return colors(appearanceOf(palette)); }
    static QPalette palette(Appearance appearance);
    // Dark when the palette's window colour is dark.
    static Appearance appearanceOf(const QPalette &palette);
    static bool isDark(const QPalette &palette) { return appearanceOf(palette) == Appearance::dark; }

    // Forces Fusion, installs the font and the light palette, and (unless
    // `followDesktop` is false) follows the desktop's colour scheme from then on.
    // Called once, before the first window.
    static void install(QApplication &app, bool followDesktop = true);
    // Makes `appearance` the application's.
    static void apply(Appearance appearance);
    // Gives one window its own appearance, or none to follow the application again.
    static void setWindowAppearance(QWidget *window, std::optional<Appearance> appearance);

    // Colours the text of `widget` (WindowText and Text) with `tone`, in whatever
    // appearance the widget is in, also after the appearance changes.
    static void setTone(QWidget *widget, Tone tone);
    static QColor toneColor(const QPalette &palette, Tone tone);

    // Fonts: pixel sizes, one pixel per point of the design.
    static QString fontFamily(); // "Inter" when installed, else "DejaVu Sans"
    static QFont body();         // 13
    static QFont headline();     // 13 bold
    static QFont callout();      // 12
    static QFont caption();      // 10
    static QFont title3();       // 15
    static QFont title2();       // 17
    static QFont semibold(QFont font);
    static QFont sized(int pixels, QFont::Weight weight = QFont::Normal);
};

// Follows the desktop's colour scheme through the settings portal on the session
// bus: "color-scheme" of "org.freedesktop.appearance" is 1 for dark; anything
// else (0 no preference, 2 light), or no portal, is light. Reads once at
// construction and then follows the portal's SettingChanged signal; never blocks.
// A subscription that fails is written to the application log. Each value read or
// signalled is traced (developmentLog).
class DesktopAppearance final : public QObject {
    Q_OBJECT
public:
    explicit DesktopAppearance(QObject *parent = nullptr);
    Appearance appearance() const { return appearance_; }
    // True once the first read has been answered (or failed).
    bool known() const { return known_; }

signals:
    void appearanceChanged(cv::Appearance appearance);
    void firstReadDone();

private slots:
    void settingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value);

private:
    // `how` names the source ("read" or "changed") in the trace.
    void follow(const QString &how, const QVariant &value);
    void set(Appearance appearance);

    Appearance appearance_ = Appearance::light;
    bool known_ = false;
};

} // namespace cv
