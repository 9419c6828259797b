#include "app/CapturedPage.h"
#include "app/CommandLine.h"
#include "app/DesktopProgram.h"
#include "app/InterruptCleanup.h"
#include "app/NativeHost.h"
#include "app/PagewingScheme.h"

#include <string>
#include <vector>

// No arguments: the desktop dialog. "pagewing:<encoded URL>" (what the
// desktop passes for the URL scheme): the dialog with that page filled in.
// A browser's start of its native host (or --native-host): the host. A page
// the host handed over: the dialog converting it. Anything else is the
// command line.
int main(int argc, char** argv) {
    installInterruptCleanup();
    if (argc <= 1) {
        return runDesktopProgram(nullptr);
    }
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string url;
    if (argc == 2 && decodePagewingArgument(argv[1], url)) {
        return runDesktopProgram(url.c_str());
    }
    if (arguments[0] == "--native-host") {
        return runNativeHost({arguments.begin() + 1, arguments.end()});
    }
    if (looksLikeBrowserHostStart(arguments)) {
        return runNativeHost(arguments);
    }
    if (argc == 3 && arguments[0] == kCapturedPageArgument) {
        return runDesktopProgramOnCapturedPage(arguments[1]);
    }
    return runCommandLine(argc, argv);
}
