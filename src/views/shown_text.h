#pragma once

#include <QFont>
#include <QList>
#include <QString>

namespace cv {

// The lines `text` takes at `width` pixels in `font`, broken between words and, only
// where one word is wider than the line, inside it; a line feed always breaks. Each
// line keeps its trailing spaces, so the lines joined give the text back.
QStringList wrappedLines(const QString &text, const QFont &font, int width);
// `line` with a mark of the application's direction before it when its own first
// letter reads the other way, so that it is laid out and aligned as the application
// is. Tab and the characters that break a line are shown as spaces (oneLine).
QString inAppDirection(QString line);

// Whose the isolation marks of a text set on a label are.
enum class TextSource {
    // Composed by the text lookup (L, Lp, Localization::format): the isolation it put
    // around the texts it inserted is the application's, and is not copied.
    composed,
    // A name, path or other text shown as it is: every mark in it is its own.
    raw,
};

// What a screen reader reads of `text`, the text as shown: without the isolation the
// text lookup inserted (a raw text keeps every mark of its own), and with tab and the
// characters that break a line read as the spaces the screen shows for them, a line
// feed alone kept. An accessible name or description never holds more.
QString readAloud(const QString &text, TextSource source = TextSource::composed);

// A text as a label shows it, and the way back from what is shown to the text as
// composed. Shown, the text may be broken into lines (a break where a line wrapped
// stands for the spaces there), each line led by a mark of the application's
// direction where its own first letter reads the other way, the last one ending in
// "…" where the lines ran out. Composed, it is the text given without the isolation
// the text lookup inserted, and nothing else taken off. Needs no widget.
class ShownText {
public:
    ShownText() = default;
    // `text` shown exactly as given, laid out by someone else (Qt wraps a message
    // box's labels itself).
    static ShownText asGiven(const QString &text, TextSource source);
    // `text` in the lines it takes at `width` pixels of `font` (see wrappedLines), at
    // most `maxLines` of them when that is positive.
    static ShownText wrapped(const QString &text, TextSource source, const QFont &font, int width, int maxLines = 0);

    // What the label shows.
    const QString &shown() const { return shown_; }
    // What is copied of the whole text.
    const QString &composed() const { return composed_; }
    bool elided() const { return elided_; }
    qsizetype lineCount() const { return lines_; }
    // The height the lines shown take when drawn in the font they were wrapped in:
    // each line as tall as the fonts that draw it, with the fallback fonts of letters
    // and marks that font lacks (a Hebrew letter, an isolation mark) and the rounding
    // of every line to whole pixels. Zero for asGiven().
    int height() const { return height_; }
    // The part of the composed text that the shown characters [start, start + length)
    // stand for; empty when they stand for none or lie outside what is shown.
    QString copied(qsizetype start, qsizetype length) const;

private:
    void put(QChar c, qsizetype from, qsizetype to);

    QString shown_;
    QString composed_;
    // For each character shown, where it starts and where it ends in composed_: a mark
    // or a line break of the lines shown takes no room there, a break where the line
    // wrapped stands for the spaces it replaced, and the "…" for the rest of the text.
    QList<qsizetype> from_, to_;
    qsizetype lines_ = 0;
    int height_ = 0;
    bool elided_ = false;
};

} // namespace cv
