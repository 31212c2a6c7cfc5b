#pragma once

// What a call or a task ended with, for tests: its value, or the error it threw as
// one line of text ("invalid: <message>" for a ServiceError, "platform: <message>"
// for a PlatformError, what() otherwise). QCoro::waitFor alone would wait forever on
// a task that throws. Needs cv_service.

#include "bounded.h"
#include "platform/platform_error.h"
#include "service/service_error.h"

#include <QCoroTask>
#include <QEventLoop>
#include <QPointer>
#include <QString>
#include <QTest>
#include <QTimer>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

namespace cv::test {

inline QString describe(std::exception_ptr thrown)
{
    try {
        std::rethrow_exception(thrown);
    } catch (const ServiceError &e) {
        const char *kind = e.kind() == ServiceError::Kind::unavailable ? "unavailable: "
            : e.kind() == ServiceError::Kind::invalid                 ? "invalid: "
                                                                      : "rejected: ";
        return QString::fromLatin1(kind) + e.message();
    } catch (const PlatformError &e) {
        return QStringLiteral("platform: ") + e.message();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown exception");
    }
}

template<class T>
struct Outcome {
    std::optional<std::conditional_t<std::is_void_v<T>, std::monostate, T>> value;
    std::optional<QString> error; // none when it completed
};

template<class T>
QCoro::Task<Outcome<T>> capture(QCoro::Task<T> task)
{
    Outcome<T> out;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            out.value.emplace();
        } else {
            out.value = co_await std::move(task);
        }
    } catch (...) {
        out.error = describe(std::current_exception());
    }
    co_return out;
}

// Runs `task` to its end on this thread's event loop; a task still running after
// `milliseconds` ends with the error "still running".
template<class T>
Outcome<T> outcome(QCoro::Task<T> task, int milliseconds = 20000)
{
    std::optional<Outcome<T>> out = waitBounded(capture(std::move(task)), milliseconds);
    return out ? std::move(*out) : Outcome<T>{std::nullopt, QStringLiteral("still running")};
}

// The error `call` threw, or none.
template<class F>
std::optional<QString> errorOf(F &&call)
{
    try {
        call();
    } catch (...) {
        return describe(std::current_exception());
    }
    return std::nullopt;
}

} // namespace cv::test

// So that a failed comparison of errors shows both texts.
namespace QTest {
template<>
inline char *toString(const std::optional<QString> &text)
{
    return text ? QTest::toString(*text) : qstrdup("<none>");
}
} // namespace QTest
