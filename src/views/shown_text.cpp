#include "views/shown_text.h"

#include "localization/localization.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QTextLayout>
#include <QTextOption>

#include <vector>

namespace cv {

namespace {

constexpr QChar leftToRightMark(0x200E);
constexpr QChar rightToLeftMark(0x200F);

bool rightToLeftApp() { return QGuiApplication::layoutDirection() == Qt::RightToLeft; }

// Where each character of `text` lands in the text as composed: the positions of
// the isolation the text lookup inserted, which take no room there (none in a raw
// text), and the composed text itself.
struct Composition {
    std::vector<bool> mark;
    std::vector<qsizetype> at; // one more than the text: its end
    QString composed;

    Composition(const QString &text, TextSource source) : mark(size_t(text.size()), false), at(size_t(text.size()) + 1)
    {
        if (source == TextSource::composed) {
            for (const qsizetype position : Localization::isolationMarks(text))
                mark[size_t(position)] = true;
        }
        composed.reserve(text.size());
        for (qsizetype i = 0; i <= text.size(); ++i) {
            at[size_t(i)] = composed.size();
            if (i < text.size() && !mark[size_t(i)])
                composed += text[i];
        }
    }
    qsizetype start(qsizetype i) const { return at[size_t(i)]; }
    qsizetype end(qsizetype i) const { return at[size_t(i)] + (mark[size_t(i)] ? 0 : 1); }
};

} // namespace

QStringList wrappedLines(const QString &text, const QFont &font, int width)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(QGuiApplication::layoutDirection());
    QStringList lines;
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        int count = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(width, 1));
            lines << paragraph.mid(line.textStart(), line.textLength());
            ++count;
        }
        layout.endLayout();
        if (count == 0)
            lines << QString();
    }
    return lines;
}

QString inAppDirection(QString line)
{
    line = Localization::oneLine(std::move(line));
    // A line without letters of either direction takes the application's anyway.
    bool strong = false;
    for (QChar c : std::as_const(line)) {
        const QChar::Direction d = c.direction();
        if (d == QChar::DirL || d == QChar::DirR || d == QChar::DirAL) {
            strong = true;
            break;
        }
    }
    if (strong && line.isRightToLeft() != rightToLeftApp())
        line.prepend(rightToLeftApp() ? rightToLeftMark : leftToRightMark);
    return line;
}

QString readAloud(const QString &text, TextSource source)
{
    QString spoken = source == TextSource::composed ? Localization::withoutIsolation(text) : text;
    if (!spoken.contains(QLatin1Char('\n')))
        return Localization::oneLine(std::move(spoken));
    QStringList lines = spoken.split(QLatin1Char('\n'));
    for (QString &part : lines)
        part = Localization::oneLine(std::move(part));
    return lines.join(QLatin1Char('\n'));
}

void ShownText::put(QChar c, qsizetype from, qsizetype to)
{
    shown_ += c;
    from_ << from;
    to_ << to;
}

ShownText ShownText::asGiven(const QString &text, TextSource source)
{
    const Composition at(text, source);
    ShownText out;
    out.composed_ = at.composed;
    for (qsizetype i = 0; i < text.size(); ++i)
        out.put(text[i], at.start(i), at.end(i));
    out.lines_ = text.count(QLatin1Char('\n')) + 1;
    return out;
}

ShownText ShownText::wrapped(const QString &text, TextSource source, const QFont &font, int width, int maxLines)
{
    width = std::max(width, 1);
    const QFontMetrics metrics(font);
    const QStringList lines = wrappedLines(text, font, width);
    const Composition at(text, source);
    ShownText out;
    out.composed_ = at.composed;
    out.elided_ = maxLines > 0 && lines.size() > maxLines;

    // One line as shown: without its trailing spaces, in the application's direction
    // (a mark before it at most; tabs and line breaks become spaces, one for one).
    // `source` gives each character of `line` its place in the composed text.
    const auto putLine = [&out](const QString &line, const auto &place) {
        qsizetype keep = line.size();
        while (keep > 0 && line[keep - 1].isSpace())
            --keep;
        const QString directed = inAppDirection(line.left(keep));
        const qsizetype added = directed.size() - keep;
        const qsizetype lineStart = keep > 0 ? place(0).first : (out.from_.isEmpty() ? 0 : out.to_.back());
        for (qsizetype j = 0; j < added; ++j)
            out.put(directed[j], lineStart, lineStart);
        for (qsizetype j = 0; j < keep; ++j) {
            const auto [from, to] = place(j);
            out.put(directed[added + j], from, to);
        }
        ++out.lines_;
    };

    const qsizetype plain = out.elided_ ? maxLines - 1 : lines.size();
    qsizetype pos = 0;     // where the next line starts in the text given
    qsizetype lineEnd = 0; // where the last line shown ends, trailing spaces left out
    for (qsizetype n = 0; n < plain; ++n) {
        const QString &line = lines[n];
        const qsizetype lineStart = pos;
        if (n > 0) // a break of the lines shown, or the text's own line feed
            out.put(QLatin1Char('\n'), at.start(lineEnd), at.start(lineStart));
        putLine(line, [&](qsizetype j) { return std::pair(at.start(lineStart + j), at.end(lineStart + j)); });
        lineEnd = lineStart + line.size();
        while (lineEnd > lineStart && text[lineEnd - 1].isSpace())
            --lineEnd;
        pos += line.size();
        if (pos < text.size() && text[pos] == QLatin1Char('\n'))
            ++pos;
    }
    if (out.elided_) {
        // The last line that shows ends the text with "…": the rest of the lines
        // joined, their spaces run together.
        QString rest;
        QList<std::pair<qsizetype, qsizetype>> restAt;
        for (qsizetype i = pos; i < text.size(); ++i) {
            if (text[i] == QLatin1Char('\n'))
                continue;
            if (!text[i].isSpace()) {
                rest += text[i];
                restAt.append({at.start(i), at.end(i)});
            } else if (!rest.isEmpty() && !rest.back().isSpace()) {
                rest += QLatin1Char(' ');
                restAt.append({at.start(i), at.end(i)});
            } else if (!restAt.isEmpty() && rest.back().isSpace()) {
                restAt.back().second = at.end(i);
            }
        }
        if (!rest.isEmpty() && rest.back().isSpace()) {
            rest.chop(1);
            restAt.removeLast();
        }
        const QString last = metrics.elidedText(rest, Qt::ElideRight, width);
        if (plain > 0)
            out.put(QLatin1Char('\n'), at.start(lineEnd), at.start(pos));
        // What matches the rest is that part of it; the "…" stands for all that follows.
        qsizetype matched = 0;
        while (matched < last.size() && matched < rest.size() && last[matched] == rest[matched])
            ++matched;
        const qsizetype composedSize = out.composed_.size();
        const std::pair<qsizetype, qsizetype> remainder(matched < rest.size() ? restAt[matched].first : composedSize,
                                                        composedSize);
        putLine(last, [&](qsizetype j) { return j < matched ? restAt[j] : remainder; });
    }
    // Measured as a label draws it: a line is as tall as the tallest font among those
    // that draw it, which is more than the font's own line spacing where a fallback
    // font stands in (for a letter, or for a mark the font has no glyph for).
    const int drawn = metrics.boundingRect(QRect(0, 0, 1 << 20, 1 << 20), Qt::AlignLeft | Qt::AlignTop, out.shown_)
                          .height();
    out.height_ = std::max<int>(drawn, int(std::max<qsizetype>(out.lines_, 1)) * metrics.lineSpacing());
    return out;
}

QString ShownText::copied(qsizetype start, qsizetype length) const
{
    if (start < 0 || length <= 0 || start + length > from_.size())
        return {};
    const qsizetype from = from_[start];
    const qsizetype to = to_[start + length - 1];
    return to > from ? composed_.mid(from, to - from) : QString();
}

} // namespace cv
