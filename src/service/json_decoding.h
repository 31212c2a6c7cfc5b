#pragma once

// The building blocks of decoding with simdjson's DOM. Only the files that decode
// (and tests or benchmarks that want another result type) include this header.

#include "service/decode_error.h"
#include "service/reply.h"

#include <QList>
#include <QString>

#include <simdjson.h>

#include <cstdint>
#include <optional>
#include <string_view>

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
        std::size_t count = array.size();
        if (count >= 0xFFFFFF) { // the parser's count saturates there
            count = 0;
            for ([[maybe_unused]] Element item : array)
                ++count;
        }
        out.clear();
        out.resize(qsizetype(count));
        T *slot = out.data();
        std::size_t index = 0;
        for (Element item : array) {
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

// A key that must be present with a non-null value.
template<class T>
void required(const Object &object, std::string_view key, T &out)
{
    Element e;
    if (object.at_key(key).get(e) != simdjson::SUCCESS) {
        DecodeError error(QStringLiteral("required key is missing"));
        error.prependKey(key);
        throw error;
    }
    try {
        if (e.is_null())
            fail(QStringLiteral("required value is null"));
        Value<T>::read(e, out);
    } catch (DecodeError &error) {
        error.prependKey(key);
        throw;
    }
}

// A key that may be missing or null: `out` then keeps its default (empty, false).
template<class T>
void defaulted(const Object &object, std::string_view key, T &out)
{
    Element e;
    if (object.at_key(key).get(e) != simdjson::SUCCESS || e.is_null())
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
void optional(const Object &object, std::string_view key, std::optional<T> &out)
{
    out.reset();
    Element e;
    if (object.at_key(key).get(e) != simdjson::SUCCESS || e.is_null())
        return;
    try {
        Value<T>::read(e, out.emplace());
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
    const json::Object object = json::asObject(json::parse(json));
    Reply<T> reply;
    json::required(object, "ok", reply.ok);
    json::optional(object, "result", reply.result);
    json::optional(object, "error", reply.error);
    return reply;
}

} // namespace cv
