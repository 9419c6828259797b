// Whole conversions of local documents built from N repetitions of one
// hostile pattern, N = 1,000 to 64,000, doubling, each in an empty temporary
// directory so that nothing is fetched (local mode), each in a child process
// of its own. For every pattern it prints the time per conversion at each N
// (processor time, best of a few rounds) and the ratio of each doubling (the
// median of the ratios measured within one round); a ratio above 2.3 means
// the work grows faster than the input. Three patterns scale their own dimension instead:
// one tag with N attributes (10,000 lies in the range), a title of N times
// 100 bytes (100,000 bytes at N = 1,000), and a chain of 1,000 nested frame
// documents each with N frame tags naming the next one (only 10 levels are
// converted, the rest is cut off by the frame depth limit).
//
// Then it converts a page with 200 MB of pictures and prints the peak memory
// of that conversion (getrusage) against the size of the message; the ratio
// must stay below 4.
#include "convert/Mhtml.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kSizes[] = {1000, 2000, 4000, 8000, 16000, 32000, 64000};
constexpr int kRounds = 5;
// Conversions are repeated inside one child, at least kMinimumRuns times and
// until this much processor time has passed, and the fastest run counts: the
// small sizes are timed over many runs, and a run that other work on the
// machine slowed down (shared caches) is left out.
constexpr double kMinimumSeconds = 0.3;
constexpr int kMinimumRuns = 3;
// A conversion that takes longer than this is stopped; its series ends.
constexpr unsigned kChildSeconds = 120;
constexpr double kAllowedRatio = 2.3;
constexpr double kAllowedMemoryRatio = 4.0;

constexpr int kFrameChain = 1000;
constexpr int kFrameDepthLimit = 10;

constexpr long long kPictureBytes = 200LL * 1024 * 1024;
constexpr int kPictures = 200;

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string repeat(const std::string& piece, int count) {
    std::string text;
    text.reserve(piece.size() * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

std::string page(const std::string& body) {
    return "<html><head><title>Hostile page</title></head><body>\n" + body + "\n</body></html>\n";
}

struct Pattern {
    const char* name;
    // Writes the page (and whatever it needs) into the empty directory and
    // returns the page's file name.
    std::function<std::string(const fs::path&, int)> write;
};

std::string writePage(const fs::path& dir, const std::string& html) {
    writeFile(dir / "page.htm", html);
    return "page.htm";
}

std::string attributeTag(int count) {
    std::string tag = "<img src=\"pic.gif\"";
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        if (i % 10 == 9) {
            tag += " onmouseover=\"swap('a" + n + ".gif')\"";
        } else if (i % 2 == 0) {
            tag += " a" + n + "=v" + n;
        } else {
            tag += " b" + n + "='w " + n + "'";
        }
    }
    return tag + ">";
}

std::string longTitle(int hundreds) {
    // 100 bytes with two Latin-1 letters, so that the Subject is encoded.
    const std::string piece =
        "A title that goes on and on, caf\xe9 and na\xefve, written by a page that never stops "
        "talking....\n";
    std::string title;
    for (int i = 0; i < hundreds; ++i) {
        title += piece.substr(0, 100);
    }
    return title;
}

std::string writeFrameChain(const fs::path& dir, int count) {
    // Documents deeper than the limit are never read; they stay small.
    for (int level = 0; level < kFrameChain; ++level) {
        const std::string next = "f" + std::to_string(level + 1) + ".htm";
        const int tags = level <= kFrameDepthLimit + 1 ? count : 1;
        std::string html = "<html><head><title>Level " + std::to_string(level) +
                           "</title></head>\n<frameset rows=\"50%,50%\">\n";
        html += repeat("<frame src=\"" + next + "\">\n", tags);
        html += "</frameset></html>\n";
        writeFile(dir / ("f" + std::to_string(level) + ".htm"), html);
    }
    return "f0.htm";
}

std::vector<Pattern> patterns() {
    return {
        {"unclosed <!--",
         [](const fs::path& d, int n) { return writePage(d, page(repeat("<!-- note >\n", n))); }},
        {"unclosed <style",
         [](const fs::path& d, int n) {
             return writePage(d, page(repeat("<style type=text/css>p { color: red }\n", n)));
         }},
        {"unclosed <script",
         [](const fs::path& d, int n) {
             return writePage(d, page(repeat("<script>var a = 1 > 0;\n", n)));
         }},
        {"unclosed <iframe",
         [](const fs::path& d, int n) {
             return writePage(d, page(repeat("<iframe src=\"f.htm\">inner\n", n)));
         }},
        {"unclosed <!--#include",
         [](const fs::path& d, int n) {
             return writePage(d, page(repeat("<!--#include file=\"part.inc\" >\n", n)));
         }},
        {"unclosed quotes in tags",
         [](const fs::path& d, int n) {
             return writePage(
                 d, page(repeat("<a href=\"page.htm>x <img src='pic.gif alt=x> <td background=\"bg"
                                ".gif>\n",
                                n)));
         }},
        {"<a without >",
         [](const fs::path& d, int n) {
             std::string html = "<html><head><title>Hostile page</title></head><body>\n";
             html += repeat("<a href=page.htm title=t \n", n);
             return writePage(d, html);
         }},
        {"background-image: without url(",
         [](const fs::path& d, int n) {
             return writePage(
                 d, page("<style>\n" + repeat("p.c { background-image: none; color: red }\n", n) +
                         "</style>\n" + repeat("<style>b { background-image:none }</style>\n", n)));
         }},
        {"N attributes in one tag",
         [](const fs::path& d, int n) { return writePage(d, page(attributeTag(n))); }},
        {"title of N x 100 bytes",
         [](const fs::path& d, int n) {
             return writePage(d, "<html><head><title>" + longTitle(n) +
                                     "</title></head><body><p>text</p></body></html>\n");
         }},
        {"1,000 nested frames, N tags each", writeFrameChain},
    };
}

struct Measurement {
    double seconds = 0; // per conversion
    long long messageBytes = 0;
    int frameParts = 0;
    long peakKilobytes = 0;
    bool ok = false;
};

int countFrameParts(const StringBuffer& message) {
    int count = 0;
    const std::string text(message.getString(), static_cast<size_t>(message.getSize()));
    for (size_t at = text.find("\r\nContent-Location: "); at != std::string::npos;
         at = text.find("\r\nContent-Location: ", at + 1)) {
        ++count;
    }
    return count;
}

bool convertOnce(const fs::path& file, StringBuffer& message) {
    Mhtml converter;
    // As the desktop program sets it: mail-safe, noscript unwrapped, unsent.
    converter.m_keepScripts = false;
    converter.m_scriptsOverNoscript = false;
    converter.m_markUnsent = true;
    return converter.convertFile(file.c_str(), "localhost", message);
}

// The processor time of this process: other work on a busy machine does not
// count, so the ratios show the conversion's own growth.
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Converts one file, or two files in turns, in a child: repeatedly (see
// kMinimumSeconds), or once when once is set, keeping each file's fastest
// run. Taking turns run by run puts N and 2N under the same load, however
// the load of the machine changes. The parent reads the child's peak memory.
struct Pair {
    Measurement first;
    Measurement second;
};

Pair measure(const fs::path& first, const fs::path* second, bool once) {
    Pair result;
    int ends[2];
    if (pipe(ends) != 0) {
        return result;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        alarm(kChildSeconds);
        Pair sent;
        const auto runOne = [](const fs::path& file, Measurement& m, int runs) {
            StringBuffer message;
            const double before = cpuSeconds();
            const bool ok = convertOnce(file, message);
            const double took = cpuSeconds() - before;
            m.ok = ok && (runs == 0 || m.ok);
            m.seconds = runs == 0 ? took : std::min(m.seconds, took);
            m.messageBytes = message.getSize();
            m.frameParts = countFrameParts(message);
        };
        int runs = 0;
        const double start = cpuSeconds();
        do {
            runOne(first, sent.first, runs);
            if (second != nullptr) {
                runOne(*second, sent.second, runs);
            }
            ++runs;
        } while (!once && (runs < kMinimumRuns || cpuSeconds() - start < kMinimumSeconds));
        [[maybe_unused]] const ssize_t written = write(ends[1], &sent, sizeof sent);
        _exit(0);
    }
    close(ends[1]);
    Pair received;
    const bool got = read(ends[0], &received, sizeof received) == sizeof received;
    close(ends[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (got) {
        result = received;
        result.first.peakKilobytes = usage.ru_maxrss;
        result.second.peakKilobytes = usage.ru_maxrss;
    }
    return result;
}

long idleChildPeak() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return usage.ru_maxrss;
}

fs::path makeEmptyDirectory(const fs::path& parent, const std::string& name) {
    const fs::path dir = parent / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Each doubling is measured as a pair (N and 2N taking turns in one child)
// in every round. The time shown is the best of all runs; the ratio of a
// doubling is the median over the rounds of the pair's ratio. A size that
// failed or ran out of time ends the series.
bool runPattern(const Pattern& pattern, const fs::path& scratch) {
    const size_t sizes = std::size(kSizes);
    std::vector<fs::path> files;
    for (size_t i = 0; i < sizes; ++i) {
        const fs::path dir = makeEmptyDirectory(scratch, "n" + std::to_string(kSizes[i]));
        files.push_back(dir / pattern.write(dir, kSizes[i]));
    }
    std::vector<Measurement> best(sizes);
    std::vector<std::vector<double>> ratios(sizes);
    size_t usable = sizes;
    const auto keep = [&](size_t i, const Measurement& run) {
        if (!run.ok) {
            usable = std::min(usable, i);
            return false;
        }
        if (!best[i].ok || run.seconds < best[i].seconds) {
            best[i] = run;
        }
        return true;
    };
    for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 1; i < usable; ++i) {
            const Pair pair = measure(files[i - 1], &files[i], false);
            if (!keep(i - 1, pair.first) || !keep(i, pair.second)) {
                break;
            }
            ratios[i].push_back(pair.second.seconds / pair.first.seconds);
        }
    }
    std::printf("\n%s\n%8s %12s %12s %8s  %s\n", pattern.name, "N", "cpu ms", "message KB", "ratio",
                "(each round)");
    bool flat = usable == sizes;
    double worst = 0;
    for (size_t i = 0; i < usable; ++i) {
        const Measurement& m = best[i];
        std::printf("%8d %12.3f %12.1f", kSizes[i], m.seconds * 1000.0,
                    static_cast<double>(m.messageBytes) / 1024.0);
        if (i > 0 && !ratios[i].empty()) {
            const double ratio = median(ratios[i]);
            worst = std::max(worst, ratio);
            flat = flat && ratio <= kAllowedRatio;
            std::printf(" %8.2f  (", ratio);
            for (size_t r = 0; r < ratios[i].size(); ++r) {
                std::printf(r == 0 ? "%.2f" : " %.2f", ratios[i][r]);
            }
            std::printf(")");
        }
        if (m.frameParts > 0) {
            std::printf("   (%d parts with a Content-Location)", m.frameParts);
        }
        std::printf("\n");
    }
    if (usable < sizes) {
        std::printf("stopped at N = %d: the conversion failed or took over %u s\n", kSizes[usable],
                    kChildSeconds);
    }
    std::printf("largest doubling ratio: %.2f (at most %.1f: %s)\n", worst, kAllowedRatio,
                flat ? "ok" : "TOO HIGH");
    for (const fs::path& file : files) {
        fs::remove_all(file.parent_path());
    }
    return flat;
}

// A page with kPictures pictures of 1 MB each, in the three sniffed formats.
fs::path writePicturePage(const fs::path& dir) {
    std::mt19937_64 random(20240611);
    std::string html = "<html><head><title>200 MB of pictures</title></head><body>\n";
    const long long each = kPictureBytes / kPictures;
    for (int i = 0; i < kPictures; ++i) {
        std::string bytes(static_cast<size_t>(each), '\0');
        for (size_t at = 0; at + 8 <= bytes.size(); at += 8) {
            const unsigned long long value = random();
            std::memcpy(&bytes[at], &value, 8);
        }
        static const char* const kKinds[][2] = {
            {"GIF89a", ".gif"}, {"\xff\xd8\xff\xe0", ".jpg"}, {"\x89PNG\r\n\x1a\n", ".png"}};
        const char* signature = kKinds[i % 3][0];
        bytes.replace(0, std::strlen(signature), signature);
        const std::string name = "pic" + std::to_string(i) + kKinds[i % 3][1];
        writeFile(dir / name, bytes);
        html += "<p><img src=\"" + name + "\" width=\"10\" height=\"10\"></p>\n";
    }
    html += "</body></html>\n";
    writeFile(dir / "pictures.htm", html);
    return dir / "pictures.htm";
}

bool runMemory(const fs::path& scratch) {
    const fs::path dir = makeEmptyDirectory(scratch, "pictures");
    const fs::path file = writePicturePage(dir);
    const long baseline = idleChildPeak();
    const Measurement m = measure(file, nullptr, true).first;
    fs::remove_all(dir);
    const double pictureMb = static_cast<double>(kPictureBytes) / (1024.0 * 1024.0);
    const double messageMb = static_cast<double>(m.messageBytes) / (1024.0 * 1024.0);
    const double peakMb = static_cast<double>(m.peakKilobytes - baseline) / 1024.0;
    const double ratio = messageMb > 0 ? peakMb / messageMb : 0.0;
    std::printf("\n%d pictures, %.0f MB in all\n", kPictures, pictureMb);
    std::printf("%10s %12s %12s %14s\n", "cpu seconds", "message MB", "peak MB", "peak/message");
    std::printf("%10.2f %12.1f %12.1f %14.2f\n", m.seconds, messageMb, peakMb, ratio);
    const bool ok = m.ok && ratio < kAllowedMemoryRatio;
    std::printf("peak memory against the message: %.2f (below %.1f: %s)\n", ratio,
                kAllowedMemoryRatio, ok ? "ok" : "TOO HIGH");
    return ok;
}

// For a profiler: writes the page of the first pattern whose name contains
// the text, with N repetitions, converts it once in this process and prints
// the message size.
int convertOnceForProfiler(const fs::path& scratch, const std::string& name, int count) {
    for (const Pattern& pattern : patterns()) {
        if (std::string(pattern.name).find(name) == std::string::npos) {
            continue;
        }
        const fs::path dir = makeEmptyDirectory(scratch, "once");
        const fs::path file = dir / pattern.write(dir, count);
        StringBuffer message;
        const bool ok = convertOnce(file, message);
        std::printf("%s, N = %d: %d bytes\n", pattern.name, count, message.getSize());
        fs::remove_all(scratch);
        return ok ? 0 : 1;
    }
    std::printf("no pattern named %s\n", name.c_str());
    fs::remove_all(scratch);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    // An optional argument picks the patterns whose name contains it;
    // "memory" runs the memory measurement alone; "--once NAME N" converts
    // one page once, for a profiler.
    const std::string only = argc > 1 ? argv[1] : "";
    const fs::path scratch =
        fs::temp_directory_path() / ("pw-hostile-bench-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    if (only == "--once" && argc == 4) {
        return convertOnceForProfiler(scratch, argv[2], std::atoi(argv[3]));
    }
    std::printf("Whole conversions of local pages with N repetitions of a hostile pattern.\n"
                "cpu ms: processor time of the fastest run; ratio: time at N against N / 2, "
                "the two taking turns in one process (median of %d rounds)\n",
                kRounds);
    bool ok = true;
    for (const Pattern& pattern : patterns()) {
        if (only.empty() || std::string(pattern.name).find(only) != std::string::npos) {
            ok = runPattern(pattern, scratch) && ok;
        }
    }
    if (only.empty() || only == "memory") {
        ok = runMemory(scratch) && ok;
    }
    fs::remove_all(scratch);
    return ok ? 0 : 1;
}
