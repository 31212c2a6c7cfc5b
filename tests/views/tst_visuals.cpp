// The shared visual language: appearance from the desktop portal, palettes, the
// font, symbols, shared widgets and surfaces.

#include "platform/alerts.h"
#include "table.h"
#include "views/surfaces.h"
#include "views/symbols.h"
#include "views/theme.h"
#include "views/widgets.h"

#include <QAccessible>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QFile>
#include <QPainter>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>

#include <functional>
using namespace cv;
using namespace cv::test;

namespace {

// The desktop's settings portal on the private test bus, through a connection of its
// own, answering "color-scheme" with `scheme`.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint scheme = 0;

    bool start()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        return bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this,
                                  QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
            && bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    ~FakePortal() override { QDBusConnection::disconnectFromBus(name); }
    void change(uint value)
    {
        emit SettingChanged(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"),
                            QDBusVariant(value));
    }

public slots:
    // The portal wraps its answer in a second variant.
    QDBusVariant Read(const QString &, const QString &)
    {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(scheme)));
    }

signals:
    void SettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value);

private:
    const QString name = QStringLiteral("fake-portal");
};

int grey(const QImage &image, QPoint at) { return qGray(image.pixel(at)); }

int count(const QImage &image, const std::function<bool(QColor)> &match)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += match(image.pixelColor(x, y));
    return n;
}

} // namespace

class TestVisuals : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QApplication::setStyle(QStringLiteral("Windows")); // Theme::install must force Fusion
        Spinner::setFixedFrame(true);
    }

    // The portal's answer: 1 is dark, anything else or no portal is light.
    void portalAppearance_data()
    {
        columns<int, Appearance>("scheme", "expected"); // -1: no portal
        QTest::newRow("dark") << 1 << Appearance::dark;
        QTest::newRow("no preference") << 0 << Appearance::light;
        QTest::newRow("no portal") << -1 << Appearance::light;
    }
    void portalAppearance()
    {
        auto [scheme, expected] = fetch<int, Appearance>("scheme", "expected");
        FakePortal portal;
        portal.scheme = uint(scheme);
        if (scheme >= 0)
            QVERIFY(portal.start());
        DesktopAppearance desktop;
        QSignalSpy done(&desktop, &DesktopAppearance::firstReadDone);
        QVERIFY(done.wait(3000));
        QCOMPARE(desktop.appearance(), expected);
    }

    // Installed, the theme forces Fusion and turns open windows dark when the desktop
    // changes its colour scheme; text of a tone follows.
    void followsDesktop()
    {
        FakePortal portal;
        QVERIFY(portal.start());
        Theme::install(*qApp);
        QCOMPARE(QApplication::style()->name(), QStringLiteral("fusion"));
        QWidget window;
        QLabel *detail = textLabel(QStringLiteral("detail"), Theme::callout(), Tone::secondary);
        detail->setParent(&window);
        window.show();
        QTest::qWait(100); // the first read
        QVERIFY(!Theme::isDark(window.palette()));
        portal.change(1);
        QTRY_VERIFY(Theme::isDark(window.palette()));
        QCOMPARE(detail->palette().color(QPalette::WindowText), Theme::colors(Appearance::dark).secondaryText);
        portal.change(0);
        QTRY_VERIFY(!Theme::isDark(window.palette()));
        QCOMPARE(detail->palette().color(QPalette::WindowText), Theme::colors(Appearance::light).secondaryText);
    }

    // A window's own appearance beats the application's until it is cleared.
    void windowOverride()
    {
        Theme::apply(Appearance::light);
        QWidget window;
        auto *child = new QLabel(QStringLiteral("text"), &window);
        Theme::setWindowAppearance(&window, Appearance::dark);
        QVERIFY(Theme::isDark(child->palette()));
        Theme::apply(Appearance::light); // the desktop says light again: the window stays dark
        QVERIFY(Theme::isDark(child->palette()));
        QCOMPARE(child->palette().color(QPalette::WindowText), Theme::colors(Appearance::dark).primaryText);
        Theme::setWindowAppearance(&window, std::nullopt);
        QVERIFY(!Theme::isDark(child->palette()));
    }

    // Every symbol loads and takes its tint, and nothing else; a two-colour one shows both.
    void symbols_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString &name : Symbols::names())
            QTest::newRow(qPrintable(name)) << name;
    }
    void symbols()
    {
        QFETCH(QString, name);
        QCOMPARE(Symbols::names().size(), 19);
        const QColor tint(0xFF, 0x95, 0x00);
        const bool two = name.endsWith(QLatin1String(".fill")) && name != QLatin1String("bolt.fill"); // shape and glyph
        const QImage image = Symbols::pixmap(name, QSizeF(24, 24), 2, tint, two ? tint : QColor()).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(48, 48));
        bool tinted = false;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                tinted = tinted || (pixel.alpha() == 255 && pixel.rgb() == tint.rgb());
                const bool near = std::abs(pixel.red() - tint.red()) <= 6 && std::abs(pixel.green() - tint.green()) <= 6 && std::abs(pixel.blue() - tint.blue()) <= 6;
                QVERIFY2(pixel.alpha() < 64 || near, qPrintable(QString("stray colour %1 at %2,%3").arg(pixel.name(QColor::HexArgb)).arg(x).arg(y)));
            }
        }
        QVERIFY(tinted);
    }

    // The switch toggles by mouse and by the space key, and has a name.
    void switchToggles()
    {
        Switch toggle(QStringLiteral("Show in menu bar"));
        toggle.resize(toggle.sizeHint());
        toggle.show();
        QVERIFY(toggle.focusPolicy() & Qt::TabFocus);
        QCOMPARE(QAccessible::queryAccessibleInterface(&toggle)->text(QAccessible::Name), QStringLiteral("Show in menu bar"));
        QTest::mouseClick(&toggle, Qt::LeftButton);
        QVERIFY(toggle.isChecked());
        QTest::keyClick(&toggle, Qt::Key_Space);
        QVERIFY(!toggle.isChecked());
    }

    // A surface keeps its 20 px corner clear and has the fill (and, dark, the border)
    // of its appearance over the window background; a platter its tint or its fill.
    void surface_data()
    {
        using Paint = std::function<void(QPainter &, const QRectF &, const QPalette &)>;
        const Paint fill = [](QPainter &p, const QRectF &r, const QPalette &pal) { SurfaceFill::paint(p, {r}, pal); };
        const Paint platter = [](QPainter &p, const QRectF &r, const QPalette &pal) { Platter::paint(p, {r}, pal); };
        const Paint grey = [](QPainter &p, const QRectF &r, const QPalette &pal) { Platter::paint(p, {r}, pal, QBrush(QColor(128, 128, 128))); };
        columns<Paint, Appearance, QPoint, int>("paint", "appearance", "at", "expected");
        QTest::newRow("light corner") << fill << Appearance::light << QPoint(3, 3) << 236;
        QTest::newRow("light centre") << fill << Appearance::light << QPoint(50, 30) << 224; // black 5 %
        QTest::newRow("dark centre") << fill << Appearance::dark << QPoint(50, 30) << 68; // white 9 %
        QTest::newRow("dark edge") << fill << Appearance::dark << QPoint(50, 0) << 91;    // border white 12 %
        QTest::newRow("platter dark") << platter << Appearance::dark << QPoint(50, 30) << 64;    // white 7 %
        QTest::newRow("platter fill") << grey << Appearance::dark << QPoint(50, 30) << 128;
    }
    void surface()
    {
        auto [paint, appearance, at, expected] = fetch<std::function<void(QPainter &, const QRectF &, const QPalette &)>, Appearance, QPoint, int>("paint", "appearance", "at", "expected");
        QImage image(100, 60, QImage::Format_ARGB32_Premultiplied);
        image.fill(Theme::colors(appearance).windowBackground);
        QPainter painter(&image);
        paint(painter, QRectF(image.rect()), Theme::palette(appearance));
        painter.end();
        QVERIFY2(std::abs(grey(image, at) - expected) <= 2, qPrintable(QString::number(grey(image, at))));
    }

    // Text from outside is plain: an elided label's tooltip escapes markup, and an "&"
    // in a button title is shown, not taken as a shortcut.
    void plainText()
    {
        ElidedLabel label(QStringLiteral("<b>Bob</b>’s MacBook Pro with a very long name"));
        label.resize(90, label.sizeHint().height());
        label.show();
        QVERIFY(label.text().endsWith(QStringLiteral("…")));
        QVERIFY(label.toolTip().contains(QStringLiteral("&lt;b&gt;Bob&lt;/b&gt;")));

        ProminentButton button(literalButtonTitle(QStringLiteral("Salt & Pepper")));
        QVERIFY(button.shortcut().isEmpty());
        QCOMPARE(QAccessible::queryAccessibleInterface(&button)->text(QAccessible::Name),
                 QStringLiteral("Salt & Pepper"));
    }

    // A prominent button paints its symbol before its text: the bolt adds white ink.
    void prominentSymbol()
    {
        auto whiteInk = [](const QIcon &icon) {
            ProminentButton button(QStringLiteral("Send Files…"));
            button.setIcon(icon);
            button.resize(button.sizeHint());
            return count(button.grab().toImage(), [](QColor c) { return qGray(c.rgb()) > 230; });
        };
        QVERIFY(whiteInk(Symbols::icon(QStringLiteral("bolt.fill"), 13, Qt::white)) > whiteInk({}) + 20);
    }

    // A link in a footer takes the accent of the appearance the desktop switches to.
    void linkFollowsAppearance()
    {
        Theme::apply(Appearance::light);
        FooterLabel label(QStringLiteral("[corvane.app](https://corvane.app)"));
        label.show();
        Theme::apply(Appearance::dark);
        QCoreApplication::processEvents();
        const QImage image = label.grab().toImage();
        Theme::apply(Appearance::light);
        QVERIFY(count(image, [](QColor c) { return c == Theme::colors(Appearance::dark).accent; }) > 5);
        QCOMPARE(count(image, [](QColor c) { return c == Theme::colors(Appearance::light).accent; }), 0);
    }

    void font()
    {
        if (!QFile::exists(QStringLiteral("/usr/share/fonts/opentype/inter/Inter-Regular.otf")))
            QSKIP("fonts-inter is not installed");
        const QFont body = Theme::body();
        QCOMPARE(QFontInfo(body).family(), QStringLiteral("Inter"));
        QCOMPARE(QFontInfo(body).pixelSize(), 13);
        QCOMPARE(QFontInfo(Theme::semibold(Theme::title2())).weight(), int(QFont::DemiBold));
    }
};

QTEST_MAIN(TestVisuals)
#include "tst_visuals.moc"
