// The shared visual language: appearance from the desktop portal, palettes, the
// font, symbols, shared widgets and surfaces.

#include "fake_portal.h"
#include "platform/alerts.h"
#include "table.h"
#include "views/symbols.h"
#include "views/theme.h"
#include "views/widgets.h"

#include <QAccessible>
#include <QMenu>
#include <QProxyStyle>
#include <QApplication>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>

#include <functional>
using namespace cv;
using namespace cv::test;

namespace {

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

    // Without a portal the appearance is light. Installed, the theme forces Fusion and
    // takes the portal's first answer (1 is dark), then turns open windows light and dark
    // as the desktop changes its colour scheme; text of a tone follows.
    void followsDesktop()
    {
        {
            DesktopAppearance desktop;
            QSignalSpy done(&desktop, &DesktopAppearance::firstReadDone);
            QVERIFY(done.wait(20000));
            QCOMPARE(desktop.appearance(), Appearance::light);
        }
        FakePortal portal;
        portal.scheme = 1;
        QVERIFY(portal.start());
        Theme::install(*qApp);
        const auto *proxy = qobject_cast<QProxyStyle *>(QApplication::style()); // Fusion with the theme's touches
        QCOMPARE((proxy ? proxy->baseStyle() : QApplication::style())->name(), QStringLiteral("fusion"));
        QWidget window;
        QLabel *detail = textLabel(QStringLiteral("detail"), Theme::callout(), Tone::secondary);
        detail->setParent(&window);
        window.show();
        QTRY_VERIFY(Theme::isDark(window.palette()));
        portal.change(0);
        QTRY_VERIFY(!Theme::isDark(window.palette()));
        QCOMPARE(detail->palette().color(QPalette::WindowText), Theme::colors(Appearance::light).secondaryText);
        portal.change(1);
        QTRY_VERIFY(Theme::isDark(window.palette()));
        QCOMPARE(detail->palette().color(QPalette::WindowText), Theme::colors(Appearance::dark).secondaryText);
    }

    // A disabled menu item's text is drawn once, in the palette's disabled text colour,
    // in both appearances: its ink lies within what the same item's covers enabled (an
    // etched copy, a pixel down and right, would add a column and a row), and its
    // strongest pixel is the disabled text colour over the menu.
    void disabledMenuText_data()
    {
        columns<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void disabledMenuText()
    {
        auto [dark] = fetch<bool>("dark");
        Theme::install(*qApp, false);
        Theme::apply(dark ? Appearance::dark : Appearance::light);
        QMenu menu;
        QAction *on = menu.addAction(QStringLiteral("Show All"));
        QAction *off = menu.addAction(QStringLiteral("Show All"));
        off->setEnabled(false);
        const QImage image = menu.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QColor text = menu.palette().color(QPalette::Disabled, QPalette::Text);
        Theme::apply(Appearance::light);

        struct Ink {
            QRect extent; // within the item
            QColor strongest;
        };
        const auto difference = [](QColor a, QColor b) {
            return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
        };
        const QColor background = image.pixelColor(menu.actionGeometry(on).center().x(), menu.actionGeometry(on).top() + 1);
        const auto ink = [&](const QRect &item) {
            Ink found;
            int most = 0;
            for (int y = item.top(); y <= item.bottom(); ++y) {
                for (int x = item.left(); x <= item.right(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    const int distance = difference(c, background);
                    if (distance <= 6) // the menu's own shades
                        continue;
                    found.extent |= QRect(x - item.left(), y - item.top(), 1, 1);
                    if (distance > most) {
                        most = distance;
                        found.strongest = c;
                    }
                }
            }
            return found;
        };
        const Ink enabled = ink(menu.actionGeometry(on)), disabled = ink(menu.actionGeometry(off));
        QVERIFY(!disabled.extent.isEmpty());
        QVERIFY2(enabled.extent.contains(disabled.extent), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(disabled.extent.x())
                     .arg(disabled.extent.y()).arg(disabled.extent.width()).arg(disabled.extent.height())));
        const auto over = [&](int ink, int under) { return int(std::lround(ink * text.alphaF() + under * (1 - text.alphaF()))); };
        const QColor expected(over(text.red(), background.red()), over(text.green(), background.green()),
                              over(text.blue(), background.blue()));
        QVERIFY2(difference(disabled.strongest, expected) <= 3,
                 qPrintable(disabled.strongest.name() + QStringLiteral(" for ") + expected.name()));
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
        const QColor tint(0xFF, 0x95, 0x00);
        const bool two = name.endsWith(QLatin1String(".fill")) && name != QLatin1String("bolt.fill"); // shape and glyph
        const QImage image = Symbols::pixmap(name, QSizeF(24, 24), 2, tint, two ? tint : QColor()).toImage().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(count(image, [&](QColor c) { return c.alpha() == 255 && c.rgb() == tint.rgb(); }) > 0);
        const auto stray = [&](QColor c) {
            return c.alpha() >= 64 && (std::abs(c.red() - tint.red()) > 6 || std::abs(c.green() - tint.green()) > 6 || std::abs(c.blue() - tint.blue()) > 6);
        };
        QCOMPARE(count(image, stray), 0);
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
};

QTEST_MAIN(TestVisuals)
#include "tst_visuals.moc"
