#pragma once

// The building blocks of decoding with simdjson's DOM. Only the files that decode
// (and tests or benchmarks that want another result type) include this header.

#include "service/decode_error.h"
#include "service/reply.h"

#include <QList>
#include <QString>

#include <simdjson.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

namespace cv::json {

using Element = simdjson::dom::element;
using Object = simdjson::dom::object;

[[noreturn]] void fail(QString problem);
// "expected <what>, found <the element's kind>"
[[noreturn]] void wrongType(const char *what, Element found);

// Parses with this thread's parser. The element stays valid until the thread's next
// parse. Throws `DecodeError` for bytes that are not one JSON document.
Element parse(std::string_view json);

Object asObject(Element e);

// Value<T>::read(element, out) decodes one JSON value into `out` or throws.
template<class T>
struct Value;

template<>
struct Value<QString> {
    static void read(Element e, QString &out)
    {
        std::string_view s;
        if (e.get_string().get(s) != simdjson::SUCCESS)
            wrongType("a string", e);
        out = QString::fromUtf8(s.data(), qsizetype(s.size()));
    }
};

template<>
struct Value<bool> {
    static void read(Element e, bool &out)
    {
        if (e.get_bool().get(out) != simdjson::SUCCESS)
            wrongType("a Boolean", e);
    }
};

template<>
struct Value<std::uint64_t> {
    static void read(Element e, std::uint64_t &out);
};

template<>
struct Value<std::uint32_t> {
    static void read(Element e, std::uint32_t &out);
};

template<>
struct Value<std::int64_t> {
    static void read(Element e, std::int64_t &out);
};

template<>
struct Value<double> {
    static void read(Element e, double &out);
};

template<>
struct Value<EmptyResult> {
    static void read(Element, EmptyResult &) {}
};

template<class T>
struct Value<QList<T>> {
    static void read(Element e, QList<T> &out)
    {
        simdjson::dom::array array;
        if (e.get_array().get(array) != simdjson::SUCCESS)
            wrongType("a list", e);
        // Every element is made up front, but no more than about a megabyte of them
        // (the largest reply): a long list of bad elements must fail at its first one
        // without a record having been made for each.
        constexpr std::size_t mostMadeAhead = (std::size_t(1) << 20) / sizeof(T) + 1;
        out.clear();
        out.resize(qsizetype(std::min(array.size(), mostMadeAhead)));
        T *slot = out.data();
        std::size_t index = 0;
        for (Element item : array) {
            if (index == std::size_t(out.size())) {
                out.resize(qsizetype(index) + 1);
                slot = out.data();
            }
            try {
                Value<T>::read(item, slot[index]);
            } catch (DecodeError &error) {
                error.prependIndex(index);
                throw;
            }
            ++index;
        }
    }
};

template<class T>
struct Value<std::optional<T>> {
    static void read(Element e, std::optional<T> &out)
    {
        if (e.is_null()) {
            out.reset();
            return;
        }
        Value<T>::read(e, out.emplace());
    }
};

// Equality of two short texts such as keys, without a call into the C library.
inline bool sameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    const char *p = a.data();
    const char *q = b.data();
    std::size_t n = a.size();
    for (; n >= 8; n -= 8, p += 8, q += 8) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, p, 8);
        std::memcpy(&y, q, 8);
        if (x != y)
            return false;
    }
    for (; n > 0; --n, ++p, ++q) {
        if (*p != *q)
            return false;
    }
    return true;
}

// The fields of one JSON object, gathered in one pass so that a record's keys are
// found without rescanning the object for each of them. Lookups start where the
// previous one matched, so keys written in the record's own order (the usual case)
// are found at the first comparison. A key written twice holds its last value, as
// in most JSON readers, whatever order the keys are looked up in.
class Fields {
public:
    explicit Fields(Element e);
    Fields(const Fields &) = delete;
    Fields &operator=(const Fields &) = delete;

    // The value under `key`, or false when the object has no such key.
    bool find(std::string_view key, Element &value)
    {
        const std::uint64_t bit = signature(key);
        if (!(present_ & bit))
            return false; // no field has this key's length and first character
        if (shared_ & bit)
            return findLast(key, value); // the key may be written twice
        for (std::size_t i = cursor_; i < count_; ++i) {
            if (sameText(entries_[i].key, key)) {
                value = entries_[i].value;
                cursor_ = i + 1;
                return true;
            }
        }
        for (std::size_t i = 0; i < cursor_ && i < count_; ++i) {
            if (sameText(entries_[i].key, key)) {
                value = entries_[i].value;
                cursor_ = i + 1;
                return true;
            }
        }
        return false;
    }

    // One of 64 bits chosen by a key's length and first character.
    static std::uint64_t signature(std::string_view key)
    {
        const unsigned first = key.empty() ? 0u : static_cast<unsigned char>(key.front());
        return std::uint64_t(1) << ((key.size() * 7 + first) & 63);
    }

private:
    bool findLast(std::string_view key, Element &value);

    struct Entry {
        std::string_view key;
        Element value;
    };
    static constexpr std::size_t inlineCapacity = 24;

    union Storage {
        Storage() {}
        Entry entries[inlineCapacity];
    };
    static_assert(std::is_trivially_destructible_v<Entry> && std::is_trivially_copyable_v<Entry>);

    Storage inline_; // left uninitialised: only the first count_ entries are written
    std::vector<Entry> overflow_; // for objects with more fields than fit inline
    Entry *entries_ = inline_.entries;
    std::size_t count_ = 0;
    std::size_t cursor_ = 0;
    std::uint64_t present_ = 0; // the signatures of every key of the object
    std::uint64_t shared_ = 0; // the signatures that more than one key has
};

// Reads a short text that recurs across a document (a state, a direction, a peer's
// id, the service's message for many files): recent values are kept per thread and
// shared instead of allocated again.
void readRepeatedText(Element e, QString &out);

// A key that must be present with a non-null value, read by `read`.
template<class T>
void required(Fields &fields, std::string_view key, T &out, void (*read)(Element, T &) = &Value<T>::read)
{
    Element e;
    if (!fields.find(key, e)) {
        DecodeError error(QStringLiteral("required key is missing"));
        error.prependKey(key);
        throw error;
    }
    try {
        if (e.is_null())
            fail(QStringLiteral("required value is null"));
        read(e, out);
    } catch (DecodeError &error) {
        error.prependKey(key);
        throw;
    }
}

// A key that may be missing or null: `out` then keeps its default (empty, false).
template<class T>
void defaulted(Fields &fields, std::string_view key, T &out)
{
    Element e;
    if (!fields.find(key, e) || e.is_null())
        return;
    try {
        Value<T>::read(e, out);
    } catch (DecodeError &error) {
        error.prependKey(key);
        throw;
    }
}

// A key that may be missing or null: `out` is then absent.
template<class T>
void optional(Fields &fields, std::string_view key, std::optional<T> &out,
              void (*read)(Element, T &) = &Value<T>::read)
{
    out.reset();
    Element e;
    if (!fields.find(key, e) || e.is_null())
        return;
    try {
        read(e, out.emplace());
    } catch (DecodeError &error) {
        out.reset();
        error.prependKey(key);
        throw;
    }
}

} // namespace cv::json

namespace cv {

template<class T>
T decode(std::string_view json)
{
    T out{};
    json::Value<T>::read(json::parse(json), out);
    return out;
}

template<class T>
Reply<T> decodeReply(std::string_view json)
{
    json::Fields fields(json::parse(json));
    Reply<T> reply;
    json::required(fields, "ok", reply.ok);
    json::optional(fields, "result", reply.result);
    json::optional(fields, "error", reply.error);
    return reply;
}

} // namespace cv
