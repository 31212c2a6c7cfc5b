#include "localization/localization.h"

#include "platform/app_bundle.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace cv {

namespace {

// A catalog key with placeholders, cut into literal, name, literal, ..., name,
// literal: always one literal more than names.
struct Template {
    QString key;
    QString value;
    QStringList literals;
    QStringList names;
};

Template parseTemplate(const QString &key, const QString &value = {})
{
    Template t{key, value, {}, {}};
    QString literal;
    qsizetype i = 0;
    while (true) {
        const qsizetype open = key.indexOf(QLatin1Char('{'), i);
        const qsizetype close = open < 0 ? -1 : key.indexOf(QLatin1Char('}'), open + 1);
        if (close < 0) {
            // No further "{...}": the rest, a lone "{" included, is literal text.
            literal += QStringView(key).mid(i);
            break;
        }
        literal += QStringView(key).mid(i, open - i);
        t.literals.append(literal);
        literal.clear();
        t.names.append(key.mid(open + 1, close - open - 1));
        i = close + 1;
    }
    t.literals.append(literal);
    return t;
}

std::optional<QMap<QString, QString>> matchParsed(const Template &t, const QString &message)
{
    QStringView rest(message);
    if (!rest.startsWith(t.literals.first()))
        return std::nullopt;
    rest = rest.mid(t.literals.first().size());

    QMap<QString, QString> captures;
    const qsizetype k = t.names.size();
    for (qsizetype i = 1; i <= k; ++i) {
        const QString &literal = t.literals.at(i);
        QStringView value;
        if (i < k) {
            const qsizetype at = rest.indexOf(literal);
            if (at < 0)
                return std::nullopt;
            value = rest.left(at);
            rest = rest.mid(at + literal.size());
        } else {
            if (!rest.endsWith(literal))
                return std::nullopt;
            value = rest.left(rest.size() - literal.size());
            rest = {};
        }
        // Every placeholder stands for at least one character.
        if (value.isEmpty())
            return std::nullopt;
        captures.insert(t.names.at(i - 1), value.toString());
    }
    if (!rest.isEmpty())
        return std::nullopt;
    return captures;
}

// A character that can change the order of the text around it: a right-to-left
// letter or number, or a directional control (marks excepted).
bool directional(char32_t c)
{
    switch (QChar::direction(c)) {
    case QChar::DirR:
    case QChar::DirAL:
    case QChar::DirAN:
    case QChar::DirLRE:
    case QChar::DirLRO:
    case QChar::DirRLE:
    case QChar::DirRLO:
    case QChar::DirPDF:
    case QChar::DirLRI:
    case QChar::DirRLI:
    case QChar::DirFSI:
    case QChar::DirPDI:
        return true;
    default:
        return false;
    }
}

bool holdsDirectional(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (c < 0x0590) // nothing before Hebrew reads right to left
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (directional(c))
            return true;
    }
    return false;
}

constexpr QChar firstStrongIsolate(0x2068);
constexpr QChar popDirectionalIsolate(0x2069);

// The chosen language and its catalog, split by the kind of entry so that every
// lookup is one hash access.
struct State {
    QString language;
    bool rightToLeft = false;
    QHash<QString, QString> strings;
    // Plural entries whose values are all texts, by category.
    QHash<QString, QHash<QString, QString>> plurals;
    // Service-message templates, sorted by key so the first match never depends on
    // hash order.
    std::vector<Template> templates;
};

std::unique_ptr<State> makeState(const QString &language, const QJsonObject &catalog)
{
    auto state = std::make_unique<State>();
    state->language = language;
    state->rightToLeft = QLocale(language).textDirection() == Qt::RightToLeft;
    for (auto it = catalog.constBegin(); it != catalog.constEnd(); ++it) {
        const QJsonValue value = it.value();
        if (value.isString()) {
            const QString text = value.toString();
            state->strings.insert(it.key(), text);
            if (it.key().contains(QLatin1Char('{')))
                state->templates.push_back(parseTemplate(it.key(), text));
        } else if (value.isObject()) {
            const QJsonObject forms = value.toObject();
            QHash<QString, QString> texts;
            bool usable = true;
            for (auto f = forms.constBegin(); f != forms.constEnd(); ++f) {
                if (!f.value().isString()) {
                    usable = false;
                    break;
                }
                texts.insert(f.key(), f.value().toString());
            }
            if (usable)
                state->plurals.insert(it.key(), texts);
        }
    }
    std::sort(state->templates.begin(), state->templates.end(),
              [](const Template &a, const Template &b) { return a.key < b.key; });
    return state;
}

std::atomic<const State *> current{nullptr};
std::atomic<const QLocale *> regionOverride{nullptr};
std::atomic<int> reads{0};
std::mutex guard;

// Every state and region ever made stays alive: a thread may still be reading one
// that a test has just replaced. Outside tests there is only one of each.
std::deque<std::unique_ptr<State>> &keptStates()
{
    static std::deque<std::unique_ptr<State>> kept;
    return kept;
}

std::deque<std::unique_ptr<QLocale>> &keptRegions()
{
    static std::deque<std::unique_ptr<QLocale>> kept;
    return kept;
}

const State *publish(std::unique_ptr<State> state)
{
    const State *raw = state.get();
    keptStates().push_back(std::move(state));
    current.store(raw, std::memory_order_release);
    return raw;
}

std::unique_ptr<State> chooseFromEnvironment()
{
    QString language;
    if (qEnvironmentVariableIsSet("CV_LANGUAGE")) {
        // Set counts, even when empty: an empty or unknown value means English.
        language = Localization::match({qEnvironmentVariable("CV_LANGUAGE")});
    } else {
        // A packaged application matches the bundle's preferred localisations, which
        // on Linux are the user's UI languages: the same list as the system's.
        language = Localization::match(QLocale::system().uiLanguages());
    }

    QJsonObject catalog;
    // English is the source language: its catalog is empty and no file is touched.
    if (language != QLatin1String("en")) {
        if (const auto file = Localization::catalogFile(language, AppBundle::main()))
            catalog = Localization::loadCatalog(*file);
    }
    return makeState(language, catalog);
}

const State &state()
{
    if (const State *s = current.load(std::memory_order_acquire))
        return *s;
    std::lock_guard lock(guard);
    if (const State *s = current.load(std::memory_order_acquire))
        return *s;
    return *publish(chooseFromEnvironment());
}

// Swift-style description of a double: the shortest text that reads back as the same
// value, always with a fraction ("2.0"), in exponent form for very small or very
// large magnitudes ("1e-05", "1e+20").
QString describe(double v)
{
    if (std::isnan(v))
        return std::signbit(v) ? QStringLiteral("-nan") : QStringLiteral("nan");
    if (std::isinf(v))
        return v < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    const QString sign = std::signbit(v) ? QStringLiteral("-") : QString();
    if (v == 0)
        return sign + QStringLiteral("0.0");

    const double magnitude = std::fabs(v);
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                      std::chars_format::scientific);
    const std::string_view sci(buffer, result.ptr - buffer);
    const auto e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.')
            digits.push_back(c);
    int exponent = 0;
    std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exponent);

    std::string out;
    if (exponent + 1 < -3 || magnitude > 0x1.0p54) {
        out.push_back(digits[0]);
        if (digits.size() > 1) {
            out.push_back('.');
            out.append(digits, 1);
        }
        out.push_back('e');
        out.push_back(exponent < 0 ? '-' : '+');
        const std::string exp = std::to_string(std::abs(exponent));
        if (exp.size() < 2)
            out.push_back('0');
        out.append(exp);
    } else if (exponent >= 0) {
        const size_t whole = size_t(exponent) + 1;
        if (digits.size() <= whole) {
            out = digits + std::string(whole - digits.size(), '0') + ".0";
        } else {
            out = digits.substr(0, whole) + "." + digits.substr(whole);
        }
    } else {
        out = "0." + std::string(size_t(-exponent - 1), '0') + digits;
    }
    return sign + QString::fromLatin1(out);
}

// `value` rounded to `places` fraction digits the way the platform's number format
// style rounds: on the shortest decimal text that reads back as the value (1.15,
// not the 1.1499999... its binary form holds), ties to even (0.25 gives 0.2, 1.15
// gives 1.2). QLocale alone rounds the binary value, ties up. The result is then
// far from any tie, so QLocale keeps its digits.
double roundedAsWritten(double value, int places)
{
    char buffer[512];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed);
    if (written.ec != std::errc())
        return value;
    std::string text(buffer, written.ptr);
    const size_t point = text.find('.');
    if (point == std::string::npos || text.size() - point - 1 <= size_t(places))
        return value;

    const std::string_view dropped = std::string_view(text).substr(point + 1 + size_t(places));
    const bool beyondHalf = dropped.find_first_not_of('0', 1) != std::string_view::npos;
    const char first = dropped.front();
    text.resize(places > 0 ? point + 1 + size_t(places) : point);
    const bool odd = (text.back() - '0') % 2 == 1;
    if (first > '5' || (first == '5' && (beyondHalf || odd))) {
        size_t i = text.size();
        while (i > 0) {
            --i;
            if (text[i] == '.')
                continue;
            if (text[i] != '9') {
                ++text[i];
                break;
            }
            text[i] = '0';
            if (i == 0)
                text.insert(text.begin(), '1');
        }
    }
    double rounded = 0;
    std::from_chars(text.data(), text.data() + text.size(), rounded, std::chars_format::fixed);
    return std::copysign(rounded, value);
}

} // namespace

QString LValue::text() const
{
    return std::visit(
        [](const auto &v) -> QString {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, QString>) {
                return v;
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                return Localization::number(v);
            } else if constexpr (std::is_same_v<T, std::uint64_t>) {
                constexpr auto largest = std::uint64_t(std::numeric_limits<std::int64_t>::max());
                return Localization::number(std::int64_t(std::min(v, largest)));
            } else if constexpr (std::is_same_v<T, double>) {
                return describe(v);
            } else {
                return v ? QStringLiteral("true") : QStringLiteral("false");
            }
        },
        value_);
}

QString L(const QString &english, const LValues &values)
{
    return Localization::format(Localization::text(english), values);
}

QString Lp(const QString &one, const QString &other, std::int64_t count, const LValues &values)
{
    LValues filled = values;
    filled.insert(QStringLiteral("n"), LValue(count));
    return Localization::format(Localization::plural(one, other, count), filled);
}

const QStringList &Localization::available()
{
    static const QStringList languages{
        QStringLiteral("da"), QStringLiteral("de"), QStringLiteral("es"), QStringLiteral("fi"),
        QStringLiteral("fr"), QStringLiteral("it"), QStringLiteral("ja"), QStringLiteral("ko"),
        QStringLiteral("nb"), QStringLiteral("nl"), QStringLiteral("pl"), QStringLiteral("pt-BR"),
        QStringLiteral("sv"), QStringLiteral("tr"), QStringLiteral("zh-Hans"), QStringLiteral("zh-Hant"),
    };
    return languages;
}

QString Localization::language() { return state().language; }

QString Localization::text(const QString &key)
{
    const State &s = state();
    const auto it = s.strings.constFind(key);
    return it == s.strings.constEnd() ? key : *it;
}

QString Localization::format(const QString &text, const LValues &values)
{
    if (values.isEmpty())
        return text;
    // An inserted text keeps its own direction and leaves the sentence's alone. Only
    // where something in it reads right to left can that change what is shown, so a
    // sentence without any stays as it is written.
    bool isolate = isolating();
    for (auto it = values.constBegin(); !isolate && it != values.constEnd(); ++it) {
        if (const QString *inserted = std::get_if<QString>(&it->value()))
            isolate = holdsDirectional(*inserted);
    }
    isolate = isolate || holdsDirectional(text);
    QString out;
    out.reserve(text.size() + 16);
    const QStringView view(text);
    qsizetype i = 0;
    while (i < view.size()) {
        const qsizetype open = view.indexOf(QLatin1Char('{'), i);
        if (open < 0) {
            out += view.mid(i);
            break;
        }
        out += view.mid(i, open - i);
        // A name runs to the next brace. A "{" met before any "}" means this "{" opens
        // nothing: the scan goes on from that "{", so every character is looked at a
        // bounded number of times however many "{" stay unmatched.
        qsizetype close = open + 1;
        while (close < view.size() && view[close] != QLatin1Char('{') && view[close] != QLatin1Char('}'))
            ++close;
        if (close == view.size()) {
            // No brace further on, so nothing after this point is a placeholder.
            out += view.mid(open);
            break;
        }
        if (view[close] == QLatin1Char('{')) {
            out += view.mid(open, close - open);
            i = close;
            continue;
        }
        const auto value = values.constFind(view.mid(open + 1, close - open - 1).toString());
        if (value == values.constEnd()) {
            // Keep the "{" and look for a placeholder again right after it.
            out += QLatin1Char('{');
            i = open + 1;
            continue;
        }
        if (const QString *inserted = std::get_if<QString>(&value->value())) {
            if (isolate)
                out += firstStrongIsolate + oneLine(*inserted) + popDirectionalIsolate;
            else
                out += oneLine(*inserted);
        } else {
            out += value->text();
        }
        i = close + 1;
    }
    return out;
}

bool Localization::isolating() { return state().rightToLeft; }

QList<qsizetype> Localization::isolationMarks(QStringView text)
{
    QList<qsizetype> marks;
    // The isolates still open, each with whether it is one of ours; a U+2069 closes
    // the innermost, as the text's direction is worked out.
    QList<std::pair<qsizetype, bool>> open;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == 0x2066 || c == 0x2067 || c == firstStrongIsolate) {
            open.append({i, c == firstStrongIsolate});
        } else if (c == popDirectionalIsolate && !open.isEmpty()) {
            const auto [start, ours] = open.takeLast();
            if (ours)
                marks << start << i;
        }
    }
    std::sort(marks.begin(), marks.end());
    return marks;
}

QString Localization::withoutIsolation(const QString &text)
{
    if (!text.contains(firstStrongIsolate))
        return text;
    const QList<qsizetype> marks = isolationMarks(text);
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    for (const qsizetype mark : marks) {
        out += QStringView(text).mid(from, mark - from);
        from = mark + 1;
    }
    out += QStringView(text).mid(from);
    return out;
}

QString Localization::oneLine(QString text)
{
    // Tab, and every character that ends a line: line feed, vertical tab, form feed,
    // carriage return, next line, line separator and paragraph separator.
    const auto breaking = [](QChar c) {
        switch (c.unicode()) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x85: case 0x2028: case 0x2029:
            return true;
        default:
            return false;
        }
    };
    // Looked at through a const view first: most texts hold none, and stay shared.
    if (std::none_of(text.cbegin(), text.cend(), breaking))
        return text;
    std::replace_if(text.begin(), text.end(), breaking, QLatin1Char(' '));
    return text;
}

QString Localization::match(const QStringList &tags)
{
    for (const QString &tag : tags) {
        QString normalised = tag;
        normalised.replace(QLatin1Char('_'), QLatin1Char('-'));
        const QStringList pieces = normalised.toLower().split(QLatin1Char('-'), Qt::SkipEmptyParts);
        if (pieces.isEmpty())
            continue;
        const QString &first = pieces.first();
        QString candidate;
        if (first == QLatin1String("en")) {
            return QStringLiteral("en");
        } else if (first == QLatin1String("zh")) {
            const bool traditional = std::any_of(pieces.begin(), pieces.end(), [](const QString &p) {
                return p == QLatin1String("hant") || p == QLatin1String("tw") || p == QLatin1String("hk")
                    || p == QLatin1String("mo");
            });
            candidate = traditional ? QStringLiteral("zh-Hant") : QStringLiteral("zh-Hans");
        } else if (first == QLatin1String("pt")) {
            candidate = QStringLiteral("pt-BR");
        } else if (first == QLatin1String("no") || first == QLatin1String("nn") || first == QLatin1String("nb")) {
            candidate = QStringLiteral("nb");
        } else {
            candidate = first;
        }
        if (available().contains(candidate))
            return candidate;
    }
    return QStringLiteral("en");
}

QString Localization::plural(const QString &one, const QString &other, std::int64_t count)
{
    const State &s = state();
    const auto entry = s.plurals.constFind(other);
    if (entry != s.plurals.constEnd()) {
        const auto chosen = entry->constFind(category(count, s.language));
        if (chosen != entry->constEnd())
            return *chosen;
        const auto fallback = entry->constFind(QStringLiteral("other"));
        if (fallback != entry->constEnd())
            return *fallback;
    }
    return count == 1 ? one : other;
}

QString Localization::category(std::int64_t count) { return category(count, language()); }

QString Localization::category(std::int64_t count, const QString &language)
{
    static const QString one = QStringLiteral("one");
    static const QString few = QStringLiteral("few");
    static const QString many = QStringLiteral("many");
    static const QString other = QStringLiteral("other");

    if (language == QLatin1String("ja") || language == QLatin1String("ko") || language == QLatin1String("zh-Hans")
        || language == QLatin1String("zh-Hant"))
        return other;
    if (language == QLatin1String("fr") || language == QLatin1String("pt-BR"))
        return count < 2 ? one : other;
    if (language == QLatin1String("pl")) {
        if (count == 1)
            return one;
        // C++ remainders keep the sign of the count, so -2 is "many".
        const std::int64_t ten = count % 10;
        const std::int64_t hundred = count % 100;
        if (ten >= 2 && ten <= 4 && !(hundred >= 12 && hundred <= 14))
            return few;
        return many;
    }
    return count == 1 ? one : other;
}

QString Localization::service(const QString &message)
{
    const State &s = state();
    const auto exact = s.strings.constFind(message);
    if (exact != s.strings.constEnd())
        return *exact;
    for (const Template &t : s.templates) {
        if (const auto captures = matchParsed(t, message)) {
            LValues values;
            for (auto it = captures->constBegin(); it != captures->constEnd(); ++it)
                values.insert(it.key(), LValue(it.value()));
            return format(t.value, values);
        }
    }
    return message;
}

std::optional<QMap<QString, QString>> Localization::matchTemplate(const QString &templateKey,
                                                                  const QString &message)
{
    return matchParsed(parseTemplate(templateKey), message);
}

QString Localization::list(const QStringList &items)
{
    if (items.isEmpty())
        return {};
    if (items.size() == 1)
        return items.first();
    const QString separator = text(QStringLiteral(", "));
    // Each item keeps its own direction, not only the run of them.
    QStringList shown = items;
    if (isolating() || std::any_of(items.begin(), items.end(), [](const QString &item) { return holdsDirectional(item); })) {
        for (QString &item : shown)
            item = firstStrongIsolate + item + popDirectionalIsolate;
    }
    return L(QStringLiteral("{items} and {last}"),
             {{QStringLiteral("items"), shown.mid(0, shown.size() - 1).join(separator)},
              {QStringLiteral("last"), shown.last()}});
}

QString Localization::speed(double bitsPerSecond)
{
    // Decimal units; the no-break space belongs to the unit, which is not translated.
    if (bitsPerSecond >= 1'000'000'000.0)
        return decimal(bitsPerSecond / 1'000'000'000.0, 1) + QStringLiteral("\u00A0Gb/s");
    return decimal(bitsPerSecond / 1'000'000.0, 0) + QStringLiteral("\u00A0Mb/s");
}

QString Localization::decimal(double value, int places)
{
    places = std::clamp(places, 0, 100);
    if (std::isfinite(value))
        value = roundedAsWritten(value, places);
    return region().toString(value, 'f', places);
}

QString Localization::number(std::int64_t value) { return region().toString(qlonglong(value)); }

QString Localization::byteCount(std::uint64_t bytes)
{
    if (bytes == 0)
        return L(QStringLiteral("Zero KB"));
    if (bytes < 1000)
        return Lp(QStringLiteral("{n} byte"), QStringLiteral("{n} bytes"), std::int64_t(bytes));

    struct Unit {
        const char *name;
        int exponent; // of ten
        int places;
    };
    static constexpr Unit units[] = {
        {"KB", 3, 0}, {"MB", 6, 1}, {"GB", 9, 2}, {"TB", 12, 2}, {"PB", 15, 2}, {"EB", 18, 2},
    };
    constexpr int last = int(std::size(units)) - 1;
    auto power = [](int exponent) {
        unsigned __int128 p = 1;
        while (exponent-- > 0)
            p *= 10;
        return p;
    };

    int u = 0;
    while (u < last && bytes >= std::uint64_t(power(units[u + 1].exponent)))
        ++u;
    // The value in units of the last shown digit, rounded half up; exact in integers.
    auto scaled = [&](int unit) {
        const unsigned __int128 divisor = power(units[unit].exponent);
        return (bytes * power(units[unit].places) + divisor / 2) / divisor;
    };
    unsigned __int128 digits = scaled(u);
    // 999,999 bytes would round to "1,000 KB": show it as "1 MB".
    if (u < last && digits >= 1000 * power(units[u].places)) {
        ++u;
        digits = scaled(u);
    }

    const unsigned __int128 step = power(units[u].places);
    const QLocale locale = region();
    QString text = locale.toString(qulonglong(digits / step));
    QString fraction = QString::number(qulonglong(digits % step)).rightJustified(units[u].places, QLatin1Char('0'));
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (!fraction.isEmpty()) {
        text += locale.decimalPoint();
        for (QChar digit : std::as_const(fraction))
            text += locale.toString(digit.digitValue());
    }
    return text + QLatin1Char(' ') + QLatin1String(units[u].name);
}

QLocale Localization::region()
{
    if (const QLocale *overridden = regionOverride.load(std::memory_order_acquire))
        return *overridden;
    return QLocale::system();
}

std::optional<QString> Localization::catalogFile(const QString &language, const AppBundle &bundle)
{
    reads.fetch_add(1, std::memory_order_relaxed);
    if (auto installed = bundle.resource(language, QStringLiteral("json"), QStringLiteral("l10n")))
        return installed;
    const QString folder = bundle.executableFolder();
    if (folder.isEmpty())
        return std::nullopt;
    const QString beside = folder + QStringLiteral("/Resources/l10n/") + language + QStringLiteral(".json");
    if (!QFileInfo(beside).isFile())
        return std::nullopt;
    return beside;
}

QJsonObject Localization::loadCatalog(const QString &path)
{
    reads.fetch_add(1, std::memory_order_relaxed);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    return document.object();
}

void Localization::install(const QString &language, const QJsonObject &catalog)
{
    std::lock_guard lock(guard);
    publish(makeState(language, catalog));
}

void Localization::reset()
{
    std::lock_guard lock(guard);
    current.store(nullptr, std::memory_order_release);
}

int Localization::catalogReads() { return reads.load(std::memory_order_relaxed); }

void Localization::overrideRegion(const std::optional<QLocale> &locale)
{
    std::lock_guard lock(guard);
    if (!locale) {
        regionOverride.store(nullptr, std::memory_order_release);
        return;
    }
    keptRegions().push_back(std::make_unique<QLocale>(*locale));
    regionOverride.store(keptRegions().back().get(), std::memory_order_release);
}

} // namespace cv
