// Runs the clean-up steps and tag passes, in document order, over generated
// pages of 1, 2, 4 and 8 MB and prints the time per MB of each step at each
// size. Every MB holds 10,000 images, 2,000 script and 2,000 style blocks and
// 5,000 comments that are never closed, so a step that is not linear in the
// page shows as a growing figure. The ratio of the 8 MB figure to the 1 MB
// figure must stay at most 1.3.

#include "convert/Mhtml.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kMegabyte = 1 << 20;
constexpr int kSizes[] = {1, 2, 4, 8};
constexpr int kRuns = 5;
constexpr double kAllowedRatio = 1.3;

const std::string kFiller = "<p>" + std::string(266, 'w') + "</p>\n";

// One unit holds 10 images, 2 scripts, 2 style blocks and 5 unclosed comments;
// about 1,000 units make a MB.
void appendUnit(std::string& page, int unit) {
    const std::string n = std::to_string(unit);
    for (int i = 0; i < 10; ++i) {
        page += "<IMG SRC=\"img/p" + n + "_" + std::to_string(i) + ".gif\" alt='pic'>";
    }
    page += "<script src=js/s" + n + ".js></script><script>var a" + n + " = 1 > 0;</script>\n";
    page += "<style>p.c" + n + "{background-image:url(bg/b" + n + ".gif)}</style>";
    page += "<style type=\"text/css\">h1{color:red}</style>\n";
    for (int i = 0; i < 5; ++i) {
        page += "<!-- note " + std::to_string(i) + " >";
    }
    page += "<td background=t" + n + ".gif onClick=\"go()\"><a href=\"page" + n +
            ".htm\" onmouseover=\"swap('on" + n + ".gif')\">link</a> <a href=#>top</a>\n";
    page += "<p>Some ordinary text of the page, <b>bold</b> and plain.</p>\n";
    // Plain text brings the unit to about a thousandth of a MB.
    page += kFiller;
}

std::string makePage(int megabytes) {
    std::string page = "<html><head><title>Bench</title></head><body>\n";
    page.reserve(static_cast<size_t>(megabytes) * kMegabyte + 4096);
    const int units = megabytes * 1000;
    for (int unit = 0; unit < units; ++unit) {
        appendUnit(page, unit);
    }
    page += "</body></html>";
    return page;
}

struct Step {
    const char* name;
    std::function<void(Mhtml&, StringBuffer&, ExtPtrArray&, ExtPtrArray&)> run;
};

std::vector<Step> documentOrder() {
    using M = Mhtml;
    using S = StringBuffer;
    using L = ExtPtrArray;
    return {
        {"normaliseTags", [](M& m, S& h, L&, L&) { m.normaliseTags(h); }},
        {"addDoctype", [](M& m, S& h, L&, L&) { m.addDoctype(h); }},
        {"extractStyles", [](M& m, S& h, L& st, L&) { m.extractStyles(h, st); }},
        {"rewriteSources script",
         [](M& m, S& h, L&, L&) {
             if (!m.scriptsOff()) {
                 m.rewriteSources(h, "<script");
             }
         }},
        {"extractScripts", [](M& m, S& h, L&, L& sc) { m.extractScripts(h, sc); }},
        {"removeIframes+Comments",
         [](M& m, S& h, L&, L&) {
             if (m.mailSafe()) {
                 m.removeIframes(h);
                 m.removeComments(h);
             }
         }},
        {"unwrapNoscript", [](M& m, S& h, L&, L&) { m.unwrapNoscript(h); }},
        {"rewriteFrames", [](M& m, S& h, L&, L&) { m.rewriteFrames(h, "<frame "); }},
        {"rewriteImages", [](M& m, S& h, L&, L&) { m.rewriteImages(h); }},
        {"rewriteSources input", [](M& m, S& h, L&, L&) { m.rewriteSources(h, "<input"); }},
        {"rewriteLinks", [](M& m, S& h, L&, L&) { m.rewriteLinks(h); }},
        {"rewriteRollovers",
         [](M& m, S& h, L&, L&) {
             if (!m.scriptsOff()) {
                 m.rewriteRollovers(h);
             }
         }},
        {"rewriteLinkTags", [](M& m, S& h, L&, L&) { m.rewriteLinkTags(h); }},
        {"removeEventHandlers",
         [](M& m, S& h, L&, L&) {
             if (m.scriptsOff()) {
                 m.removeEventHandlers(h);
             }
         }},
        {"rewriteBackgrounds", [](M& m, S& h, L&, L&) { m.rewriteBackgrounds(h); }},
        {"restoreScripts", [](M& m, S& h, L&, L& sc) { m.restoreScripts(h, sc); }},
        {"restoreStyles", [](M& m, S& h, L& st, L&) { m.restoreStyles(h, st); }},
    };
}

// Seconds per step for one run over the page.
std::vector<double> timeSteps(const std::string& page, bool keepScripts) {
    const std::vector<Step> steps = documentOrder();
    Mhtml converter;
    converter.m_keepScripts = keepScripts;
    converter.resetContexts();
    converter.setBaseAndRoot("http://host/dir/page.html");
    StringBuffer html(page.c_str());
    ExtPtrArray styles;
    ExtPtrArray scripts;
    std::vector<double> seconds;
    for (const Step& step : steps) {
        const auto start = std::chrono::steady_clock::now();
        step.run(converter, html, styles, scripts);
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    styles.removeAllObjects();
    scripts.removeAllObjects();
    return seconds;
}

// Per step and in total, the best time of a few rounds, as milliseconds per
// MB. The sizes take turns within each round, so that a change in the load
// of the machine touches every size alike.
std::vector<std::vector<double>> millisecondsPerMegabyte(const std::vector<std::string>& pages,
                                                         bool keepScripts) {
    std::vector<std::vector<double>> best(pages.size());
    for (int round = 0; round < kRuns; ++round) {
        for (size_t page = 0; page < pages.size(); ++page) {
            std::vector<double> seconds = timeSteps(pages[page], keepScripts);
            double total = 0;
            for (double s : seconds) {
                total += s;
            }
            seconds.push_back(total);
            if (best[page].empty()) {
                best[page] = seconds;
                continue;
            }
            for (size_t i = 0; i < seconds.size(); ++i) {
                best[page][i] = std::min(best[page][i], seconds[i]);
            }
        }
    }
    for (size_t page = 0; page < pages.size(); ++page) {
        const double size = static_cast<double>(pages[page].size()) / kMegabyte;
        for (double& value : best[page]) {
            value = value * 1000.0 / size;
        }
    }
    return best;
}

bool reportMode(const std::vector<std::string>& pages, bool keepScripts) {
    std::printf("\n%s: ms per MB (best of %d rounds)\n", keepScripts ? "scripts kept" : "mail-safe",
                kRuns);
    const std::vector<std::vector<double>> figures = millisecondsPerMegabyte(pages, keepScripts);
    std::printf("%-24s %9s %9s %9s %9s %8s\n", "step", "1 MB", "2 MB", "4 MB", "8 MB", "8/1");
    std::vector<const char*> names;
    for (const Step& step : documentOrder()) {
        names.push_back(step.name);
    }
    names.push_back("all steps");
    bool flat = true;
    for (size_t row = 0; row < names.size(); ++row) {
        const double ratio = figures[3][row] / std::max(figures[0][row], 1e-9);
        std::printf("%-24s %9.3f %9.3f %9.3f %9.3f %8.2f\n", names[row], figures[0][row],
                    figures[1][row], figures[2][row], figures[3][row], ratio);
        if (row + 1 == names.size()) {
            flat = ratio <= kAllowedRatio;
        }
    }
    std::printf("ratio 8 MB / 1 MB of all steps: %.2f (at most %.1f: %s)\n",
                figures[3].back() / figures[0].back(), kAllowedRatio, flat ? "ok" : "TOO HIGH");
    return flat;
}

} // namespace

int main() {
    std::printf("Clean-up and tag passes; per MB: 10,000 images, 2,000 script and 2,000 "
                "style blocks, 5,000 unclosed comments\n");
    std::vector<std::string> pages;
    std::printf("page sizes:");
    for (int megabytes : kSizes) {
        pages.push_back(makePage(megabytes));
        std::printf(" %.2f MB", static_cast<double>(pages.back().size()) / kMegabyte);
    }
    std::printf("\n");
    const bool mailSafeFlat = reportMode(pages, false);
    const bool keptFlat = reportMode(pages, true);
    return mailSafeFlat && keptFlat ? 0 : 1;
}
