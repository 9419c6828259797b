// Throughput of encodeBase64Lines and encodeQuotedPrintable on 16 MB of
// random bytes and of HTML text, printed next to references measured in the
// same run on the same bytes: coreutils base64 (a whole process, output to
// /dev/null) and Python's binascii C encoders (timed inside the process).

#include "mime/ContentCoding.h"

#include "foundation/StringBuffer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr size_t kInputSize = 16 * 1024 * 1024;
constexpr int kReferenceRepetitions = 3;

std::string makeRandomBytes() {
    std::mt19937_64 generator(42);
    std::string bytes(kInputSize, '\0');
    for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        const uint64_t value = generator();
        std::memcpy(&bytes[i], &value, 8);
    }
    return bytes;
}

std::string makeHtml() {
    const std::string block =
        "<div class=\"article\"><h2>Caf\xE9 au lait &amp; more</h2>\n"
        "  <p style=\"color: #333; margin: 0 0 1em 0\">Lorem ipsum dolor sit amet, consectetur "
        "adipiscing elit, sed do eiusmod tempor incididunt ut labore et dolore magna aliqua. "
        "<a href=\"http://example.org/path/page.html?x=1&amp;y=2\">A link</a> and "
        "<img src=\"cid:VANTREL-CID-0a1b2c3d-4e5f-6789-abcd-ef0123456789\" width=\"10\"> "
        "</p>\n\t<ul><li>Gr\xFC\xDF</li> <li>na\xEFve</li></ul>\n"
        "From the archive.\n. \n</div>\n";
    std::string html;
    html.reserve(kInputSize + block.size());
    while (html.size() < kInputSize) {
        html += block;
    }
    html.resize(kInputSize);
    return html;
}

const std::string& input(int kind) {
    static const std::string randomBytes = makeRandomBytes();
    static const std::string html = makeHtml();
    return kind == 0 ? randomBytes : html;
}

const char* inputName(int kind) {
    return kind == 0 ? "random" : "html";
}

void encodeBase64Lines(benchmark::State& state) {
    const std::string& data = input(static_cast<int>(state.range(0)));
    const ContentCoding coding;
    for (auto _ : state) {
        StringBuffer out;
        coding.encodeBase64Lines(data.data(), static_cast<int>(data.size()), out);
        benchmark::DoNotOptimize(out.getString());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(data.size()));
    state.SetLabel(inputName(static_cast<int>(state.range(0))));
}

void encodeQuotedPrintable(benchmark::State& state) {
    const std::string& data = input(static_cast<int>(state.range(0)));
    const ContentCoding coding;
    for (auto _ : state) {
        StringBuffer out;
        coding.encodeQuotedPrintable(data.data(), static_cast<int>(data.size()), out);
        benchmark::DoNotOptimize(out.getString());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(data.size()));
    state.SetLabel(inputName(static_cast<int>(state.range(0))));
}

BENCHMARK(encodeBase64Lines)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(encodeQuotedPrintable)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Keeps the measured bytes per second of every run by name.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (rate != run.counters.end()) {
                rates[run.benchmark_name()] = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

std::string writeTempFile(const std::string& bytes) {
    char path[] = "/tmp/pw-mime-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        return std::string();
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) {
            break;
        }
        written += static_cast<size_t>(n);
    }
    close(fd);
    return path;
}

// Runs a program with stdout sent to a file (or /dev/null); seconds of wall
// time, or a negative value when it could not run.
double runProcess(const std::vector<std::string>& arguments, const char* stdoutPath) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return std::chrono::duration<double>(end - start).count();
}

double coreutilsBase64Rate(const std::string& path) {
    double best = -1;
    for (int i = 0; i < kReferenceRepetitions; ++i) {
        const double seconds = runProcess({"base64", "-w", "72", path}, "/dev/null");
        if (seconds > 0 && (best < 0 || seconds < best)) {
            best = seconds;
        }
    }
    return best > 0 ? static_cast<double>(kInputSize) / best : -1;
}

// Python's encoders, timed inside its process: {line by line, one call}.
std::pair<double, double> binasciiRates(const char* kind, const std::string& path) {
    char resultPath[] = "/tmp/pw-mime-bench-result-XXXXXX";
    const int fd = mkstemp(resultPath);
    if (fd < 0) {
        return {-1, -1};
    }
    close(fd);
    const double seconds = runProcess({PAGEWING_BENCH_PYTHON, PAGEWING_BENCH_REFERENCE_SCRIPT, kind,
                                       path, std::to_string(kReferenceRepetitions)},
                                      resultPath);
    double lines = -1;
    double flat = -1;
    if (seconds > 0) {
        if (FILE* file = std::fopen(resultPath, "r")) {
            if (std::fscanf(file, "%lf %lf", &lines, &flat) != 2) {
                lines = flat = -1;
            }
            std::fclose(file);
        }
    }
    unlink(resultPath);
    const auto rate = [](double s) { return s > 0 ? static_cast<double>(kInputSize) / s : -1; };
    return {rate(lines), rate(flat)};
}

void printComparison(const char* what, double ours, const char* reference, double theirs) {
    const double mb = 1024.0 * 1024.0;
    if (theirs <= 0) {
        std::printf("  %-34s %8.1f MB/s   %-36s unavailable\n", what, ours / mb, reference);
        return;
    }
    std::printf("  %-34s %8.1f MB/s   %-36s %8.1f MB/s   ratio %.2f\n", what, ours / mb, reference,
                theirs / mb, ours / theirs);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nReference encoders on the same 16 MB inputs:\n");
    for (int kind = 0; kind < 2; ++kind) {
        const std::string path = writeTempFile(input(kind));
        if (path.empty()) {
            continue;
        }
        const std::string suffix = std::string("/") + std::to_string(kind);
        const double base64 = reporter.rates["encodeBase64Lines" + suffix];
        const double qp = reporter.rates["encodeQuotedPrintable" + suffix];
        const std::string label = inputName(kind);
        const auto [pyLines, pyFlat] = binasciiRates("base64", path);
        const auto [pyQp, unused] = binasciiRates("qp", path);
        (void)unused;
        printComparison(("encodeBase64Lines (" + label + ")").c_str(), base64,
                        "coreutils base64 -w 72 (process)", coreutilsBase64Rate(path));
        printComparison(("encodeBase64Lines (" + label + ")").c_str(), base64,
                        "binascii.b2a_base64 per 54-byte line", pyLines);
        printComparison(("encodeBase64Lines (" + label + ")").c_str(), base64,
                        "binascii.b2a_base64 one call", pyFlat);
        printComparison(("encodeQuotedPrintable (" + label + ")").c_str(), qp, "binascii.b2a_qp",
                        pyQp);
        unlink(path.c_str());
    }
    benchmark::Shutdown();
    return 0;
}
