#include "charset/CharsetConvert.h"
#include "charset/IcuService.h"
#include "foundation/DataBuffer.h"

#include <benchmark/benchmark.h>
#include <unicode/ucnv.h>

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kInputSize = 10 * 1024 * 1024;

// 0: western European text (mostly ASCII, one letter in ten accented);
// 1: every byte 0x80..0xFF, the worst case for the table.
const std::string& input(int kind) {
    static const std::vector<std::string> inputs = [] {
        std::mt19937 random(12345);
        std::string text;
        text.reserve(kInputSize);
        const std::string accented = "\xE9\xE8\xE0\xFC\xF6\xE4\xE7\xF1\xDF\xC9";
        while (text.size() < kInputSize) {
            const unsigned pick = random() % 100;
            if (pick < 15) {
                text += ' ';
            } else if (pick < 25) {
                text += accented[random() % accented.size()];
            } else {
                text += static_cast<char>('a' + random() % 26);
            }
        }
        std::string high(kInputSize, '\0');
        for (char& c : high) {
            c = static_cast<char>(0x80 + random() % 0x80);
        }
        return std::vector<std::string>{text, high};
    }();
    return inputs[static_cast<size_t>(kind)];
}

const char* inputName(int kind) {
    return kind == 0 ? "European text" : "high bytes only";
}

void convertWithTables(benchmark::State& state, const char* charset) {
    const std::string& bytes = input(static_cast<int>(state.range(0)));
    CharsetConvert converter;
    converter.setFromCharset(charset, nullptr);
    converter.setToCharset("utf-8", nullptr);
    // The output block is reused, as ICU's is below, so that both write
    // into memory that is already mapped.
    DataBuffer out;
    for (auto _ : state) {
        out.truncate(0);
        converter.convert(bytes.data(), static_cast<int>(bytes.size()), out, nullptr);
        benchmark::DoNotOptimize(out.getData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes.size()));
}

void convertWithIcu(benchmark::State& state, int codePage) {
    const std::string& bytes = input(static_cast<int>(state.range(0)));
    UErrorCode status = U_ZERO_ERROR;
    UConverter* source = ucnv_open(icuConverterName(codePage), &status);
    UConverter* target = ucnv_open("UTF-8", &status);
    if (U_FAILURE(status)) {
        state.SkipWithError("ICU converters do not open");
        return;
    }
    std::vector<char> out(bytes.size() * 3);
    for (auto _ : state) {
        char* into = out.data();
        const char* from = bytes.data();
        status = U_ZERO_ERROR;
        ucnv_convertEx(target, source, &into, out.data() + out.size(), &from,
                       bytes.data() + bytes.size(), nullptr, nullptr, nullptr, nullptr, true, true,
                       &status);
        benchmark::DoNotOptimize(into);
    }
    ucnv_close(source);
    ucnv_close(target);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes.size()));
}

void tablesWindows1252(benchmark::State& state) {
    convertWithTables(state, "windows-1252");
}
void tablesIso88591(benchmark::State& state) {
    convertWithTables(state, "iso-8859-1");
}
void icuWindows1252(benchmark::State& state) {
    convertWithIcu(state, 1252);
}
void icuIso88591(benchmark::State& state) {
    convertWithIcu(state, 28591);
}

// Medians of a few repetitions, since the machine may be busy.
void configure(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(5);
    benchmark->ReportAggregatesOnly(true);
}

BENCHMARK(tablesWindows1252)->Apply(configure);
BENCHMARK(icuWindows1252)->Apply(configure);
BENCHMARK(tablesIso88591)->Apply(configure);
BENCHMARK(icuIso88591)->Apply(configure);

// Keeps the measured bytes per second of every benchmark by name: the
// median when there are repetitions.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") {
                continue;
            }
            const auto rate = run.counters.find("bytes_per_second");
            if (rate != run.counters.end()) {
                rates[run.run_name.function_name + "/" + run.run_name.args] = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

void printComparison(const std::string& what, double ours, double icu) {
    const double mb = 1024.0 * 1024.0;
    if (ours <= 0 || icu <= 0) {
        std::printf("  %-44s not measured\n", what.c_str());
        return;
    }
    std::printf("  %-44s %8.1f MB/s   ICU ucnv_convertEx %8.1f MB/s   ratio %.2f\n", what.c_str(),
                ours / mb, icu / mb, ours / icu);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nconvert to UTF-8 on 10 MB, against ICU on the same bytes:\n");
    for (int kind = 0; kind < 2; ++kind) {
        const std::string suffix = "/" + std::to_string(kind);
        printComparison(std::string("windows-1252, ") + inputName(kind),
                        reporter.rates["tablesWindows1252" + suffix],
                        reporter.rates["icuWindows1252" + suffix]);
        printComparison(std::string("ISO-8859-1, ") + inputName(kind),
                        reporter.rates["tablesIso88591" + suffix],
                        reporter.rates["icuIso88591" + suffix]);
    }
    benchmark::Shutdown();
    return 0;
}
