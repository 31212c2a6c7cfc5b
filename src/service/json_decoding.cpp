#include "service/json_decoding.h"

#include <cmath>
#include <cstring>
#include <string>

namespace cv::json {
namespace {

QString kindOf(Element e)
{
    using simdjson::dom::element_type;
    switch (e.type()) {
    case element_type::ARRAY: return QStringLiteral("a list");
    case element_type::OBJECT: return QStringLiteral("an object");
    case element_type::STRING: return QStringLiteral("a string");
    case element_type::BOOL: return QStringLiteral("a Boolean");
    case element_type::NULL_VALUE: return QStringLiteral("null");
    case element_type::INT64: return QString::number(qint64(e.get_int64().value_unsafe()));
    case element_type::UINT64: return QString::number(quint64(e.get_uint64().value_unsafe()));
    case element_type::DOUBLE: return QString::number(e.get_double().value_unsafe(), 'g', 17);
    }
    return QStringLiteral("another value");
}

[[noreturn]] void outOfRange(const char *type, Element e)
{
    fail(QStringLiteral("%1 is out of range for %2").arg(kindOf(e), QLatin1String(type)));
}

// A JSON number written with a fraction or an exponent still fits an integer field
// when its value is whole and in range (1.0, 1e3); 1.5 does not.
bool wholeNumber(double d) { return std::isfinite(d) && std::trunc(d) == d; }

constexpr double two63 = 9223372036854775808.0;
constexpr double two64 = 18446744073709551616.0;

} // namespace

void fail(QString problem) { throw DecodeError(std::move(problem)); }

void wrongType(const char *what, Element found)
{
    fail(QStringLiteral("expected %1, found %2").arg(QLatin1String(what), kindOf(found)));
}

Element parse(std::string_view json)
{
    // One parser per thread: its buffers grow to the largest document seen and are
    // reused, so a steady stream of replies parses without allocating.
    thread_local simdjson::dom::parser parser;
    Element root;
    const auto error = parser.parse(json.data(), json.size()).get(root);
    if (error != simdjson::SUCCESS)
        fail(QStringLiteral("not valid JSON (%1)").arg(QLatin1String(simdjson::error_message(error))));
    return root;
}

Object asObject(Element e)
{
    Object object;
    if (e.get_object().get(object) != simdjson::SUCCESS)
        wrongType("an object", e);
    return object;
}

Fields::Fields(Element e)
{
    const Object object = asObject(e);
    for (const simdjson::dom::key_value_pair field : object) {
        const std::uint64_t bit = signature(field.key);
        shared_ |= present_ & bit;
        present_ |= bit;
        if (count_ == inlineCapacity && entries_ == inline_.entries) {
            overflow_.assign(inline_.entries, inline_.entries + count_);
            entries_ = nullptr;
        }
        if (entries_ == inline_.entries) {
            inline_.entries[count_] = {field.key, field.value};
        } else {
            overflow_.push_back({field.key, field.value});
        }
        ++count_;
    }
    if (entries_ != inline_.entries)
        entries_ = overflow_.data();
}

bool Fields::findLast(std::string_view key, Element &value)
{
    for (std::size_t i = count_; i-- > 0;) {
        if (sameText(entries_[i].key, key)) {
            value = entries_[i].value;
            cursor_ = i + 1;
            return true;
        }
    }
    return false;
}

void readRepeatedText(Element e, QString &out)
{
    std::string_view s;
    if (e.get_string().get(s) != simdjson::SUCCESS)
        wrongType("a string", e);
    struct Slot {
        std::uint8_t size = 0;
        char bytes[63];
        QString text;
    };
    constexpr std::size_t slotCount = 64;
    thread_local Slot recent[slotCount];
    if (s.empty() || s.size() > sizeof(Slot::bytes)) {
        out = QString::fromUtf8(s.data(), qsizetype(s.size()));
        return;
    }
    // A cheap hash of the length and the first and last (up to) eight bytes.
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    if (s.size() >= 8) {
        std::memcpy(&head, s.data(), 8);
        std::memcpy(&tail, s.data() + s.size() - 8, 8);
    } else {
        std::memcpy(&head, s.data(), s.size());
    }
    std::uint64_t hash = (head ^ (tail * 0x9E3779B97F4A7C15ull) ^ s.size()) * 0xFF51AFD7ED558CCDull;
    Slot &slot = recent[(hash >> 58) % slotCount];
    if (!sameText(std::string_view(slot.bytes, slot.size), s)) {
        slot.text = QString::fromUtf8(s.data(), qsizetype(s.size()));
        slot.size = std::uint8_t(s.size());
        std::memcpy(slot.bytes, s.data(), s.size());
    }
    out = slot.text;
}

void Value<std::uint64_t>::read(Element e, std::uint64_t &out)
{
    using simdjson::dom::element_type;
    switch (e.type()) {
    case element_type::UINT64:
        out = e.get_uint64().value_unsafe();
        return;
    case element_type::INT64: {
        const std::int64_t v = e.get_int64().value_unsafe();
        if (v < 0)
            outOfRange("an unsigned integer", e);
        out = std::uint64_t(v);
        return;
    }
    case element_type::DOUBLE: {
        const double d = e.get_double().value_unsafe();
        if (!wholeNumber(d))
            wrongType("an unsigned integer", e);
        if (d < 0 || d >= two64)
            outOfRange("an unsigned integer", e);
        out = std::uint64_t(d);
        return;
    }
    default:
        wrongType("an unsigned integer", e);
    }
}

void Value<std::uint32_t>::read(Element e, std::uint32_t &out)
{
    std::uint64_t wide = 0;
    Value<std::uint64_t>::read(e, wide);
    if (wide > UINT32_MAX)
        outOfRange("an unsigned 32-bit integer", e);
    out = std::uint32_t(wide);
}

void Value<std::int64_t>::read(Element e, std::int64_t &out)
{
    using simdjson::dom::element_type;
    switch (e.type()) {
    case element_type::INT64:
        out = e.get_int64().value_unsafe();
        return;
    case element_type::UINT64:
        outOfRange("a signed 64-bit integer", e);
    case element_type::DOUBLE: {
        const double d = e.get_double().value_unsafe();
        if (!wholeNumber(d))
            wrongType("an integer", e);
        if (d < -two63 || d >= two63)
            outOfRange("a signed 64-bit integer", e);
        out = std::int64_t(d);
        return;
    }
    default:
        wrongType("an integer", e);
    }
}

void Value<double>::read(Element e, double &out)
{
    using simdjson::dom::element_type;
    switch (e.type()) {
    case element_type::DOUBLE: out = e.get_double().value_unsafe(); return;
    case element_type::INT64: out = double(e.get_int64().value_unsafe()); return;
    case element_type::UINT64: out = double(e.get_uint64().value_unsafe()); return;
    default: wrongType("a number", e);
    }
}

} // namespace cv::json

namespace cv {

template Reply<EmptyResult> decodeReply<EmptyResult>(std::string_view);
template EmptyResult decode<EmptyResult>(std::string_view);

} // namespace cv
