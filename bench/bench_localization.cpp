// The cost of the text lookups that every window and record text goes through.
#include "localization/localization.h"

#include <benchmark/benchmark.h>

namespace {

QJsonObject catalog()
{
    QJsonObject object;
    for (int i = 0; i < 300; ++i) {
        object.insert(QStringLiteral("Text number %1").arg(i), QStringLiteral("Texte numéro %1").arg(i));
        object.insert(QStringLiteral("Problem %1 with {item} in {folder}").arg(i),
                      QStringLiteral("Problème %1 : {item} dans {folder}").arg(i));
    }
    object.insert(QStringLiteral("{n} files"), QJsonObject{{QStringLiteral("one"), QStringLiteral("{n} fichier")},
                                                           {QStringLiteral("other"), QStringLiteral("{n} fichiers")}});
    return object;
}

void lookupWithoutValues(benchmark::State &state)
{
    cv::Localization::install(QStringLiteral("fr"), catalog());
    const QString key = QStringLiteral("Text number 150");
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::L(key));
}
BENCHMARK(lookupWithoutValues);

void lookupWithValues(benchmark::State &state)
{
    cv::Localization::install(QStringLiteral("fr"), catalog());
    const QString key = QStringLiteral("Copied {n} of {total} files to {folder}");
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::L(key, {{"n", 1234}, {"total", 5678}, {"folder", "Desktop"}}));
}
BENCHMARK(lookupWithValues);

void plural(benchmark::State &state)
{
    cv::Localization::install(QStringLiteral("fr"), catalog());
    std::int64_t n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::Lp(QStringLiteral("{n} file"), QStringLiteral("{n} files"), n++ % 5));
}
BENCHMARK(plural);

// A service message that matches no template: every template is tried.
void serviceMessageUnmatched(benchmark::State &state)
{
    cv::Localization::install(QStringLiteral("fr"), catalog());
    const QString message = QStringLiteral("The other computer closed the connection unexpectedly");
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::Localization::service(message));
}
BENCHMARK(serviceMessageUnmatched);

void byteCount(benchmark::State &state)
{
    std::uint64_t bytes = 39'845'888;
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::Localization::byteCount(bytes++));
}
BENCHMARK(byteCount);

} // namespace

BENCHMARK_MAIN();
