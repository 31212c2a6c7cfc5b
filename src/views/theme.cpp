#include "views/theme.h"

#include "platform/development_log.h"
#include "service/diagnostics.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDir>
#include <QEvent>
#include <QFontDatabase>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QWidget>

namespace cv {

namespace {

QColor black(qreal alpha) { return QColor::fromRgbF(0, 0, 0, float(alpha)); }
QColor white(qreal alpha) { return QColor::fromRgbF(1, 1, 1, float(alpha)); }

const ThemeColors lightColors{
    .accent = QColor(0x00, 0x7A, 0xFF),
    .orange = QColor(0xFF, 0x95, 0x00),
    .green = QColor(0x28, 0xCD, 0x41),
    .primaryText = black(0.85),
    .secondaryText = black(0.50),
    .tertiary = black(0.26),
    .separator = black(0.10),
    .windowBackground = QColor(0xEC, 0xEC, 0xEC),
    .surfaceFill = black(0.05),
    .surfaceBorder = Qt::transparent,
    .groupFill = white(0.60),
    .primary = Qt::black,
};

const ThemeColors darkColors{
    .accent = QColor(0x0A, 0x84, 0xFF),
    .orange = QColor(0xFF, 0x9F, 0x0A),
    .green = QColor(0x32, 0xD7, 0x4B),
    .primaryText = white(0.85),
    .secondaryText = white(0.55),
    .tertiary = white(0.25),
    .separator = white(0.10),
    .windowBackground = QColor(0x32, 0x32, 0x32),
    .surfaceFill = white(0.09),
    .surfaceBorder = white(0.12),
    .groupFill = white(0.05),
    .primary = Qt::white,
};

QColor halved(QColor color)
{
    color.setAlphaF(color.alphaF() * 0.5f);
    return color;
}

// Loads Inter from the installed fonts-inter files once; DejaVu Sans without them.
QString loadFontFamily()
{
    const QDir folder(QStringLiteral("/usr/share/fonts/opentype/inter"));
    bool loaded = false;
    for (const char *face : {"Regular", "Medium", "SemiBold", "Bold"}) {
        const QString file = folder.filePath(QStringLiteral("Inter-%1.otf").arg(QLatin1String(face)));
        if (QFile::exists(file)
            && QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(file))
                   .contains(QStringLiteral("Inter")))
            loaded = true;
    }
    return loaded ? QStringLiteral("Inter") : QStringLiteral("DejaVu Sans");
}

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString portalSettings = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

// The portal wraps the value in one variant more than it says; unwrap them all.
QVariant unwrapped(QVariant value)
{
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

// 1 is "prefer dark"; 0 (no preference), 2 (prefer light) and anything else are light.
Appearance schemeAppearance(const QVariant &value)
{
    const int type = value.metaType().id();
    const bool number = type == QMetaType::UInt || type == QMetaType::Int
        || type == QMetaType::UChar || type == QMetaType::ULongLong || type == QMetaType::LongLong;
    return number && value.toLongLong() == 1 ? Appearance::dark : Appearance::light;
}

QString appearanceName(Appearance appearance)
{
    return appearance == Appearance::dark ? QStringLiteral("dark") : QStringLiteral("light");
}

// Keeps a widget's text colour on its tone through changes of appearance: only the
// text roles are set on the widget, so everything else still comes from its window.
class ToneKeeper final : public QObject {
public:
    ToneKeeper(QWidget *widget, Tone tone) : QObject(widget), widget_(widget), tone_(tone)
    {
        setObjectName(name);
        widget->installEventFilter(this);
        apply();
    }
    static constexpr QLatin1StringView name{"cv-tone-keeper"};

    void setTone(Tone tone)
    {
        tone_ = tone;
        apply();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == widget_ && event->type() == QEvent::PaletteChange && !applying_)
            apply();
        return false;
    }

private:
    void apply()
    {
        const QColor color = Theme::toneColor(widget_->palette(), tone_);
        if (widget_->palette().color(QPalette::Active, QPalette::WindowText) == color)
            return;
        QPalette own;
        for (auto role : {QPalette::WindowText, QPalette::Text}) {
            own.setColor(QPalette::Active, role, color);
            own.setColor(QPalette::Inactive, role, color);
            own.setColor(QPalette::Disabled, role, halved(color));
        }
        applying_ = true;
        widget_->setPalette(own);
        applying_ = false;
    }

    QWidget *widget_;
    Tone tone_;
    bool applying_ = false;
};

// Fusion with disabled text drawn once. Fusion etches it: a copy in the palette's
// Light colour a pixel down and right under the text, which a light menu hides and
// a dark one shows as a smudge.
class ThemeStyle final : public QProxyStyle {
public:
    ThemeStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_EtchDisabledText || hint == SH_DitherDisabledText)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void Theme::setTone(QWidget *widget, Tone tone)
{
    if (auto *keeper = widget->findChild<QObject *>(ToneKeeper::name, Qt::FindDirectChildrenOnly))
        static_cast<ToneKeeper *>(keeper)->setTone(tone);
    else
        new ToneKeeper(widget, tone);
}

QColor Theme::toneColor(const QPalette &palette, Tone tone)
{
    const ThemeColors &c = colors(palette);
    switch (tone) {
    case Tone::primary: return c.primaryText;
    case Tone::secondary: return c.secondaryText;
    case Tone::tertiary: return c.tertiary;
    case Tone::accent: return c.accent;
    case Tone::orange: return c.orange;
    case Tone::green: return c.green;
    }
    return c.primaryText;
}

const ThemeColors &Theme::colors(Appearance appearance)
{
    return appearance == Appearance::dark ? darkColors : lightColors;
}

Appearance Theme::appearanceOf(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128 ? Appearance::dark : Appearance::light;
}

QPalette Theme::palette(Appearance appearance)
{
    const ThemeColors &c = colors(appearance);
    const bool dark = appearance == Appearance::dark;
    const QColor button = dark ? QColor(0x5A, 0x5A, 0x5A) : QColor(Qt::white);
    QPalette p(button, c.windowBackground); // derives the bevel shades Fusion draws with
    const QColor base = dark ? QColor(0x1E, 0x1E, 0x1E) : QColor(Qt::white);
    for (auto group : {QPalette::Active, QPalette::Disabled}) {
        const bool off = group == QPalette::Disabled;
        auto text = [&](QColor color) { return off ? halved(color) : color; };
        p.setColor(group, QPalette::Window, c.windowBackground);
        p.setColor(group, QPalette::WindowText, text(c.primaryText));
        p.setColor(group, QPalette::Text, text(c.primaryText));
        p.setColor(group, QPalette::ButtonText, text(c.primaryText));
        p.setColor(group, QPalette::BrightText, dark ? Qt::black : Qt::white);
        p.setColor(group, QPalette::PlaceholderText, c.tertiary);
        p.setColor(group, QPalette::Base, base);
        p.setColor(group, QPalette::AlternateBase, dark ? QColor(0x28, 0x28, 0x28) : QColor(0xF5, 0xF5, 0xF5));
        p.setColor(group, QPalette::Button, button);
        p.setColor(group, QPalette::Highlight, off ? halved(c.accent) : c.accent);
        p.setColor(group, QPalette::HighlightedText, Qt::white);
        p.setColor(group, QPalette::Link, c.accent);
        p.setColor(group, QPalette::LinkVisited, c.accent);
        p.setColor(group, QPalette::ToolTipBase, dark ? QColor(0x3C, 0x3C, 0x3C) : QColor(0xF6, 0xF6, 0xF6));
        p.setColor(group, QPalette::ToolTipText, c.primaryText);
    }
    // A window that is not in front looks exactly like one that is.
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto r = QPalette::ColorRole(role);
        p.setBrush(QPalette::Inactive, r, p.brush(QPalette::Active, r));
    }
    return p;
}

void Theme::install(QApplication &app, bool followDesktop)
{
    QApplication::setStyle(new ThemeStyle);
    // Without a class name this also drops the platform's own fonts for menus,
    // buttons and message boxes, so every widget takes the theme's.
    QApplication::setFont(body());
    apply(Appearance::light);
    if (!followDesktop)
        return;
    auto *desktop = new DesktopAppearance(&app);
    QObject::connect(desktop, &DesktopAppearance::appearanceChanged, &app,
                     [](Appearance appearance) { apply(appearance); });
}

void Theme::apply(Appearance appearance)
{
    QApplication::setPalette(palette(appearance));
    // A window being made or shown as the palette changes can miss the change and
    // keep the old colours: each is told again, which changes nothing for one that
    // had it.
    for (QWidget *window : QApplication::topLevelWidgets()) {
        QEvent change(QEvent::ApplicationPaletteChange);
        QCoreApplication::sendEvent(window, &change);
    }
}

void Theme::setWindowAppearance(QWidget *window, std::optional<Appearance> appearance)
{
    // An empty palette has no role of its own, so the window inherits again.
    window->setPalette(appearance ? palette(*appearance) : QPalette());
}

QString Theme::fontFamily()
{
    static const QString family = loadFontFamily();
    return family;
}

QFont Theme::sized(int pixels, QFont::Weight weight)
{
    QFont font(fontFamily());
    font.setPixelSize(pixels);
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QFont Theme::body() { return sized(13); }
QFont Theme::headline() { return sized(13, QFont::Bold); }
QFont Theme::callout() { return sized(12); }
QFont Theme::caption() { return sized(10); }
QFont Theme::title3() { return sized(15); }
QFont Theme::title2() { return sized(17); }

QFont Theme::semibold(QFont font)
{
    font.setWeight(QFont::DemiBold); // 600
    return font;
}

DesktopAppearance::DesktopAppearance(QObject *parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        known_ = true;
        QMetaObject::invokeMethod(this, &DesktopAppearance::firstReadDone, Qt::QueuedConnection);
        return;
    }
    // Qt D-Bus matches a signal to a slot only through the meta-types of its
    // arguments; QDBusVariant is not one until someone registers it.
    qRegisterMetaType<QDBusVariant>();
    if (!bus.connect(portalService, portalPath, portalSettings, QStringLiteral("SettingChanged"), this,
                     SLOT(settingChanged(QString, QString, QDBusVariant)))) {
        const QDBusError error = bus.lastError();
        const QString text = QStringLiteral("Desktop appearance: changes of the colour scheme are not followed (%1)")
                                 .arg(error.isValid() ? error.message() : QStringLiteral("no subscription"));
        Diagnostics::log(text);
        developmentLog(text);
    }
    QDBusMessage read = QDBusMessage::createMethodCall(portalService, portalPath, portalSettings,
                                                       QStringLiteral("Read"));
    read << appearanceNamespace << colorSchemeKey;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, 3000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        // A change signalled while the read was under way is newer than its answer.
        if (!known_ && !reply.isError())
            follow(QStringLiteral("read"), reply.value().variant());
        known_ = true;
        emit firstReadDone();
    });
}

void DesktopAppearance::settingChanged(const QString &nameSpace, const QString &key,
                                       const QDBusVariant &value)
{
    if (nameSpace != appearanceNamespace || key != colorSchemeKey)
        return;
    known_ = true;
    follow(QStringLiteral("changed"), value.variant());
}

void DesktopAppearance::follow(const QString &how, const QVariant &value)
{
    const QVariant scheme = unwrapped(value);
    const Appearance appearance = schemeAppearance(scheme);
    developmentLog(QStringLiteral("desktop colour scheme %1: %2, %3")
                       .arg(how, scheme.toString(), appearanceName(appearance)));
    set(appearance);
}

void DesktopAppearance::set(Appearance appearance)
{
    if (appearance == appearance_)
        return;
    appearance_ = appearance;
    emit appearanceChanged(appearance);
}

} // namespace cv
