// Converts generated local pages with N small images (N = 2,500, 5,000,
// 10,000, 20,000), each in a child process of its own so that its peak
// memory can be read, and prints the time per resource at each size, the
// ratio of the largest to the smallest, and the peak memory against the
// size of the message.
#include "convert/Mhtml.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSizes[] = {2500, 5000, 10000, 20000};
constexpr int kRepetitions = 3;
// The per-resource time at 20,000 images may be at most this many times
// the time at 2,500.
constexpr double kAllowedRatio = 1.3;

struct Measurement {
    double seconds = 0;
    long long messageBytes = 0;
    long peakKilobytes = 0;
    bool ok = false;
};

std::string imageBytes(int number) {
    // A 1x1 GIF with the image's number in a comment block, so that every
    // file differs.
    std::string gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00", 19);
    const std::string note = "image " + std::to_string(number);
    gif += "\x21\xfe";
    gif += static_cast<char>(note.size());
    gif += note;
    gif += '\0';
    gif += std::string(",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02"
                       "D\x01\x00;",
                       20);
    return gif;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void writeSite(const std::filesystem::path& root) {
    std::filesystem::create_directories(root / "img");
    const int largest = *std::max_element(std::begin(kSizes), std::end(kSizes));
    for (int i = 0; i < largest; ++i) {
        writeFile(root / "img" / ("i" + std::to_string(i) + ".gif"), imageBytes(i));
    }
    for (const int count : kSizes) {
        std::string html =
            "<html><head><title>" + std::to_string(count) + " images</title></head><body>\n";
        for (int i = 0; i < count; ++i) {
            html += "<p>Picture " + std::to_string(i) + ": <img src=\"img/i" + std::to_string(i) +
                    ".gif\" width=\"1\" height=\"1\"></p>\n";
        }
        html += "</body></html>\n";
        writeFile(root / ("page" + std::to_string(count) + ".htm"), html);
    }
}

// Runs one conversion in a child; the child sends its time and message size
// through a pipe, the parent reads the child's peak memory.
Measurement measure(const std::filesystem::path& page) {
    Measurement result;
    int ends[2];
    if (pipe(ends) != 0) {
        return result;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        Mhtml converter;
        converter.m_keepScripts = false;
        converter.m_scriptsOverNoscript = false;
        converter.m_markUnsent = true;
        StringBuffer message;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = converter.convertFile(page.c_str(), "localhost", message);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        Measurement sent;
        sent.seconds = elapsed.count();
        sent.messageBytes = message.getSize();
        sent.ok = ok;
        [[maybe_unused]] const ssize_t written = write(ends[1], &sent, sizeof sent);
        _exit(0);
    }
    close(ends[1]);
    Measurement received;
    const bool got = read(ends[0], &received, sizeof received) == sizeof received;
    close(ends[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (got) {
        result = received;
        result.peakKilobytes = usage.ru_maxrss;
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

} // namespace

int main() {
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("pw-assembly-bench-" + std::to_string(getpid()));
    writeSite(root);
    const long baseline = idleChildPeak();

    std::printf("%-8s %14s %14s %14s %12s\n", "images", "us/resource", "message MB", "peak MB",
                "peak/message");
    std::vector<double> perResource;
    bool allConverted = true;
    for (const int count : kSizes) {
        Measurement best;
        for (int round = 0; round < kRepetitions; ++round) {
            const Measurement run = measure(root / ("page" + std::to_string(count) + ".htm"));
            allConverted = allConverted && run.ok;
            if (round == 0 || run.seconds < best.seconds) {
                best = run;
            }
        }
        const double microseconds = best.seconds * 1e6 / count;
        perResource.push_back(microseconds);
        const double messageMb = static_cast<double>(best.messageBytes) / (1024.0 * 1024.0);
        const double peakMb = static_cast<double>(best.peakKilobytes - baseline) / 1024.0;
        std::printf("%-8d %14.2f %14.2f %14.2f %12.2f\n", count, microseconds, messageMb, peakMb,
                    messageMb > 0 ? peakMb / messageMb : 0.0);
    }
    const double ratio = perResource.back() / perResource.front();
    std::printf("time per resource, %d images against %d: %.2f (at most %.2f)\n", kSizes[3],
                kSizes[0], ratio, kAllowedRatio);
    std::filesystem::remove_all(root);
    if (!allConverted) {
        std::printf("a conversion failed\n");
        return 1;
    }
    return ratio <= kAllowedRatio ? 0 : 1;
}
