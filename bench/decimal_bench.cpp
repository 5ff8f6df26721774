#include "platform/Decimal.h"
#include "platform/NumberText.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <vector>

namespace {

using zelvar::Decimal;

// Operands shaped like the run analysis's: raw readings with a few decimals,
// constants, and the 28-digit quotients the divisions leave behind.
const std::vector<Decimal>& operands()
{
    static const std::vector<Decimal> values = [] {
        std::vector<Decimal> v;
        for (const char* text : {"127.6",
                                 "1000",
                                 "0.0261799387833333333333333333",
                                 "3.141592654",
                                 "60",
                                 "4524.2",
                                 "0.01628176",
                                 "143.6407802544",
                                 "2",
                                 "0.44",
                                 "34186.425762276612968",
                                 "14100",
                                 "2700.7981433602858255562798514",
                                 "18.69",
                                 "0.0523598775666666666666666667",
                                 "100",
                                 "-0.0050327495505",
                                 "2600",
                                 "0.3",
                                 "27415.56778796323254444444441"})
            v.push_back(Decimal::parse(text));
        return v;
    }();
    return values;
}

template <typename Op>
void runPairs(benchmark::State& state, Op op)
{
    const auto& v = operands();
    const std::size_t n = v.size();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(op(v[i], v[(i + 7) % n]));
        if (++i == n)
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Add(benchmark::State& state)
{
    runPairs(state, [](const Decimal& a, const Decimal& b) { return a + b; });
}
BENCHMARK(BM_Add);

void BM_Subtract(benchmark::State& state)
{
    runPairs(state, [](const Decimal& a, const Decimal& b) { return a - b; });
}
BENCHMARK(BM_Subtract);

void BM_Multiply(benchmark::State& state)
{
    runPairs(state, [](const Decimal& a, const Decimal& b) { return a * b; });
}
BENCHMARK(BM_Multiply);

void BM_Divide(benchmark::State& state)
{
    runPairs(state, [](const Decimal& a, const Decimal& b) { return a / b; });
}
BENCHMARK(BM_Divide);

void BM_Compare(benchmark::State& state)
{
    runPairs(state, [](const Decimal& a, const Decimal& b) { return a < b; });
}
BENCHMARK(BM_Compare);

// One record of the run analysis: a chain of ten dependent operations, so
// the later ones work on the long results of the earlier ones.
void BM_AnalysisRecordChain(benchmark::State& state)
{
    const Decimal thousand(1000);
    const Decimal sixty(60);
    const Decimal two(2);
    const Decimal pi = Decimal::parse("3.141592654");
    const Decimal inertia = Decimal::parse("0.44");
    const Decimal factor = Decimal::parse("12.46");
    const Decimal hundred(100);
    std::int64_t rpm = 3900;
    for (auto _ : state) {
        const Decimal radius = Decimal::parse("127.6") / thousand;
        const Decimal r2 = radius * radius;
        const Decimal mass = Decimal::parse("4524.2") / thousand;
        Decimal x = r2 * mass / two * Decimal(rpm) * two * pi / sixty / inertia;
        x = x * thousand / factor * hundred;
        benchmark::DoNotOptimize(x);
        rpm = rpm == 9000 ? 3900 : rpm + 1;
    }
    // Two parses and fourteen arithmetic operations per iteration.
    state.SetItemsProcessed(state.iterations() * 16);
}
BENCHMARK(BM_AnalysisRecordChain);

void BM_Parse(benchmark::State& state)
{
    const std::vector<std::string> texts = {"127.6", "0.0261799387833333333333333333", "-4524.2", "1000",
                                            "2700.7981433602858255562798514"};
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Decimal::parse(texts[i]));
        if (++i == texts.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Parse);

void BM_ToString(benchmark::State& state)
{
    runPairs(state, [](const Decimal& a, const Decimal&) { return a.toString(); });
}
BENCHMARK(BM_ToString);

void BM_FromDouble(benchmark::State& state)
{
    double value = 3.141592654;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Decimal::fromDouble(value));
        value += 0.01;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FromDouble);

void BM_FormatDouble15(benchmark::State& state)
{
    double value = 40.96;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zelvar::formatDouble15(value));
        value += 0.01;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatDouble15);

} // namespace
