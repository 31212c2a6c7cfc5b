#pragma once

// Data tables in one line each way: columns<QString, int>("name", "count") in a
// _data() function, and auto [name, count] = fetch<QString, int>("name", "count")
// in the test.

#include <QTest>

#include <tuple>

namespace cv::test {

template<class... T, class... Names>
void columns(Names... names)
{
    (QTest::addColumn<T>(names), ...);
}

template<class... T, class... Names>
std::tuple<T...> fetch(Names... names)
{
    return {*static_cast<T *>(QTest::qData(names, qMetaTypeId<T>()))...};
}

} // namespace cv::test
