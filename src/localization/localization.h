#pragma once

#include <QJsonObject>
#include <QLocale>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <variant>

namespace cv {

class AppBundle;

// One placeholder value: text, a signed or unsigned 64-bit integer, a floating-point
// number or a Boolean. Integers are written with the user's region grouping; an
// unsigned value above the largest signed one is first limited to it.
class LValue {
public:
    using Variant = std::variant<QString, std::int64_t, std::uint64_t, double, bool>;

    LValue() : value_(QString()) {}
    LValue(const QString &text) : value_(text) {}
    LValue(const char *text) : value_(QString::fromUtf8(text)) {}
    LValue(int v) : value_(std::int64_t(v)) {}
    LValue(long v) : value_(std::int64_t(v)) {}
    LValue(long long v) : value_(std::int64_t(v)) {}
    LValue(unsigned v) : value_(std::uint64_t(v)) {}
    LValue(unsigned long v) : value_(std::uint64_t(v)) {}
    LValue(unsigned long long v) : value_(std::uint64_t(v)) {}
    LValue(double v) : value_(v) {}
    LValue(bool v) : value_(v) {}

    const Variant &value() const { return value_; }
    // The text this value stands for in a filled placeholder.
    QString text() const;

private:
    Variant value_;
};

using LValues = QMap<QString, LValue>;

// The English text's translation, its placeholders filled from `values`.
QString L(const QString &english, const LValues &values = {});
// The plural form of the count's category, with "n" set to the count.
QString Lp(const QString &one, const QString &other, std::int64_t count, const LValues &values = {});

// The interface language and its catalog, chosen once per process and read-only
// afterwards (safe from any thread).
class Localization {
public:
    // Languages that have a catalog; "en" is the source language and not listed.
    static const QStringList &available();
    // The chosen interface language: "en" or one of `available()`.
    static QString language();

    // The catalog's string for `key`, else the key itself.
    static QString text(const QString &key);
    // Fills "{name}" placeholders from `values`. Where the sentence or a text put into
    // it reads right to left (or the interface language does), every text put in is
    // isolated (U+2068 ... U+2069), so it neither reorders the sentence around it nor
    // takes its direction from it; a text put in keeps to one line (oneLine). The
    // result is for the screen only: never send it, store it or look it up.
    static QString format(const QString &text, const LValues &values);
    // Where `text` holds the isolation that format() and list() put around
    // inserted texts: the positions of its marks, in order (each U+2068 with the U+2069
    // that closes it). Marks of other kinds are the inserted text's own; a pair of that
    // kind in an inserted text cannot be told from ours, and counts as ours.
    static QList<qsizetype> isolationMarks(QStringView text);
    // `text` as composed, without that isolation: what is copied or logged. Only for a
    // text this lookup composed: a text that never went through it (a name, a path)
    // holds no isolation of ours, and every mark in it is its own.
    static QString withoutIsolation(const QString &text);
    // `text` with tab and every character that breaks a line (line feed, carriage
    // return, vertical tab, form feed, U+0085, U+2028, U+2029) shown as spaces, one
    // for one: a name or path set into a sentence or a one-line label stays on its line.
    static QString oneLine(QString text);
    // The interface language is written right to left: every inserted text is isolated.
    static bool isolating();
    // Maps preferred language tags to a catalog language.
    static QString match(const QStringList &tags);

    static QString plural(const QString &one, const QString &other, std::int64_t count);
    // "one", "few", "many" or "other".
    static QString category(std::int64_t count);
    static QString category(std::int64_t count, const QString &language);

    // A message from the service in the interface language.
    static QString service(const QString &message);
    // The captures of `message` as an instance of `templateKey`, or none.
    static std::optional<QMap<QString, QString>> matchTemplate(const QString &templateKey,
                                                              const QString &message);

    static QString list(const QStringList &items);
    static QString speed(double bitsPerSecond);
    static QString decimal(double value, int places);
    static QString number(std::int64_t value);
    // A file size in the platform's file style: decimal units, "Zero KB", "1 byte".
    static QString byteCount(std::uint64_t bytes);

    // The user's region that numbers are written in: QLocale::system(), not the
    // interface language.
    static QLocale region();

    // Where `bundle` keeps the catalog of `language`: the installed resources first,
    // then <executable folder>/Resources/l10n/<language>.json; none when neither exists.
    static std::optional<QString> catalogFile(const QString &language, const AppBundle &bundle);
    // The catalog in the file at `path`; empty when the file is missing or unreadable,
    // is not JSON, or does not hold one object.
    static QJsonObject loadCatalog(const QString &path);

    // For tests: replaces the chosen language and its catalog for the rest of the
    // process (or until the next call).
    static void install(const QString &language, const QJsonObject &catalog);
    // For tests: forgets the choice, so the next use chooses again from the
    // environment and the catalog files.
    static void reset();
    // For tests: how many times a catalog file has been looked for or read in this
    // process (by `catalogFile`, `loadCatalog` or the one-time choice).
    static int catalogReads();
    // For tests: writes numbers in `locale` instead of the user's region; none
    // returns to the region.
    static void overrideRegion(const std::optional<QLocale> &locale);
};

} // namespace cv
