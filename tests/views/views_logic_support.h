#pragma once

#include "model_fixture.h"

#include "devtools/demo.h"
#include "service/decoding.h"
#include "views/focus.h"

#include <QAbstractEventDispatcher>
#include <QAccessible>
#include <QApplication>
#include <QJsonArray>
#include <QKeyEvent>
#include <QTextDocument>
#include <QWidget>

#include <cstring>

namespace cv::test {

inline const QString A = QString(64, 'a'); // the demo computer "Windows Desktop"
inline const QString nbsp = QString(QChar(0x00A0));

// The demo computer remembered under `name`, sharing `share`.
inline QJsonArray rememberedA(const QString &name = "Old Name", const QJsonObject &share = share::none())
{
    return {remembered(A).named(name).sharing(share)};
}

// The demo state `state` with `changes` merged into the demo computer (a null value
// reads as absent), `capabilities` added and `remembered` replacing the remembered
// computers when given.
inline QJsonObject demo(const char *state, const QJsonObject &changes = {}, const QStringList &capabilities = {},
                        const std::optional<QJsonArray> &remembered = std::nullopt)
{
    QJsonObject status = Demo::statusObject(state);
    QJsonArray peers = status["peers"].toArray();
    for (qsizetype i = 0; i < peers.size(); ++i) {
        QJsonObject p = peers[i].toObject();
        if (p["id"].toString() != A)
            continue;
        for (auto it = changes.begin(); it != changes.end(); ++it)
            p[it.key()] = it.value();
        peers[i] = p;
    }
    status["peers"] = peers;
    QJsonArray caps = status["capabilities"].toArray();
    for (const QString &c : capabilities)
        caps.append(c);
    status["capabilities"] = caps;
    if (remembered)
        status["remembered_computers"] = *remembered;
    return status;
}

// A status whose transfers and copies are the raw JSON lists given, decoded as a
// status reply is (so counts above the largest signed 64-bit value survive).
inline ServiceStatus rawStatus(const QByteArray &transfers, const QByteArray &copies,
                               const QByteArray &capabilities = R"(["dismiss"])", bool busy = false)
{
    const QByteArray json = R"({"api_version":1,"version":"1","computer_id":"me","name":"Mac","capabilities":)"
        + capabilities + R"(,"control_busy":)" + (busy ? "true" : "false")
        + R"(,"peers":[],"remembered_computers":[],"transfers":[)" + transfers + R"(],"copies":[)" + copies
        + R"(],"event_sequence":0})";
    return decode<ServiceStatus>(std::string_view(json.constData(), std::size_t(json.size())));
}

// A sending of computer "P" with the keys every record needs, plus `more`.
inline QByteArray sendJson(const char *id, const char *state, const QByteArray &more = {}, const char *peer = "P")
{
    return QByteArray(R"({"id":")") + id + R"(","peer":")" + peer + R"(","state":")" + state
        + R"(","name":"Photos","bytes":0,"total_bytes":0,"delivered_items":0)" + (more.isEmpty() ? "" : "," + more) + "}";
}

// A copy from computer "P" to this one, likewise.
inline QByteArray copyJson(const char *id, const char *state, const QByteArray &more = {}, const char *peer = "P")
{
    return QByteArray(R"({"id":")") + id + R"(","peer":")" + peer + R"(","direction":"pull","name":"Photos",)"
        + R"("destinations":["/home/u/Downloads/Photos"],"state":")" + state
        + R"(","bytes":0,"total_bytes":0,"files":0,"total_files":0,"scanned":true,"bits_per_second":0)"
        + (more.isEmpty() ? "" : "," + more) + "}";
}

// What Qt shows of `text` given in `format`: markup is read when the format is rich,
// or automatic (as for every tooltip) and the text looks like markup.
inline QString asShown(const QString &text, Qt::TextFormat format = Qt::AutoText)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    format == Qt::MarkdownText ? document.setMarkdown(text) : document.setHtml(text);
    // A tooltip's lines keep their spaces: joined, they give the text back.
    return document.toRawText().remove(QChar::LineSeparator);
}

// A key held down on `target` as a busy X display delivers it: the first press, then
// `repeats` repeats whose release and press carry one timestamp, none flagged as a
// repeat, each followed by `between`, then the last release. `bridged`: as Qt's
// accessibility bridge passes them on, each the display's event, then a copy without
// its timestamp sent to the window.
inline void holdKey(QWidget *target, Qt::Key key, int repeats, const std::function<void()> &between = {}, bool bridged = false)
{
    static quint32 time = 0;
    time += 1'000'000; // apart from every key sent before
    const quint32 code = key == Qt::Key_Space ? 65 : 36; // the X11 key
    const auto send = [&](QEvent::Type type) {
        QKeyEvent event(type, key, Qt::NoModifier, code, 0, 0, key == Qt::Key_Space ? QStringLiteral(" ") : QStringLiteral("\r"));
        if (!bridged) {
            event.setTimestamp(time);
            QApplication::sendEvent(target, &event);
            return;
        }
        uchar raw[32] = {uchar(type == QEvent::KeyPress ? 2 : 3), uchar(code)};
        std::memcpy(raw + 4, &time, sizeof time);
        qintptr result = 0;
        QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", raw, &result);
        QApplication::sendEvent(target->window()->windowHandle(), &event);
    };
    send(QEvent::KeyPress);
    for (int i = 0; i < repeats; ++i) {
        time += 33;
        send(QEvent::KeyRelease);
        send(QEvent::KeyPress);
        if (between)
            between();
    }
    time += 20;
    send(QEvent::KeyRelease);
}

// Presses Tab (`backward`: Shift+Tab, as the keyboard sends it) `presses` times: the
// names assistive tools read for each widget it reaches, joined by "|".
inline QString tabWalk(int presses, bool backward = false)
{
    QStringList names;
    for (int i = 0; i < presses; ++i) {
        if (backward)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        else
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QAccessibleInterface *focus = QAccessible::queryAccessibleInterface(QApplication::focusWidget());
        names << (focus ? focus->text(QAccessible::Name) : QStringLiteral("none"));
    }
    return names.join('|');
}

// Whether an accent ring shows around `widget`: at least two pixels in a row at its
// leading edge, half way down, that are blue and go when the focus goes. Leaves the
// focus with the window's view.
inline bool ringAround(QWidget *widget)
{
    QWidget *window = widget->window();
    const QPoint middle = widget->mapTo(window, QPoint(0, widget->height() / 2));
    const QImage focused = window->grab().toImage();
    window->setFocus(Qt::OtherFocusReason);
    const QImage plain = window->grab().toImage();
    int run = 0, longest = 0;
    for (int x = -8; x <= 4; ++x) {
        const QPoint p = middle + QPoint(x, 0);
        const QColor c = focused.pixelColor(p);
        run = c.blue() > c.red() + 60 && focused.pixel(p) != plain.pixel(p) ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest >= 2;
}

// Another window takes the focus, then `window` gets it back; false when it does
// not, or when `meanwhile`, asked while the other window has the focus, says no.
inline bool awayAndBack(QWidget &window, const std::function<bool()> &meanwhile = {})
{
    QWidget other;
    other.resize(80, 60);
    other.show();
    other.activateWindow();
    if (!QTest::qWaitForWindowActive(&other))
        return false;
    const bool fine = !meanwhile || meanwhile();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window) && fine;
}

// Whether a ring shows around `widget` in its window: the shared ring, or one the
// control paints itself.
inline bool anyRing(QWidget *widget)
{
    const QWidget *shared = widget->window()->findChild<QWidget *>(QStringLiteral("focus-ring"));
    return (shared && shared->isVisible()) || focusRingShown(widget);
}

// Whether `widget`, given the focus by Tab, shows two rings: the shared one around
// it and, under it, one it paints itself. Leaves the focus with the window's view.
inline bool twoRings(QWidget *widget)
{
    widget->setFocus(Qt::TabFocusReason);
    QWidget *shared = widget->window()->findChild<QWidget *>(QStringLiteral("focus-ring"));
    if (!shared || !shared->isVisible())
        return false;
    shared->hide();
    return ringAround(widget);
}

// The name assistive tools read for `widget`, or "none".
inline QString nameOf(QWidget *widget)
{
    QAccessibleInterface *face = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
    return face ? face->text(QAccessible::Name) : QStringLiteral("none");
}

} // namespace cv::test
