#include "app/CommandLine.h"
#include "app/DesktopProgram.h"
#include "app/InterruptCleanup.h"
#include "app/PagewingScheme.h"

#include <string>

// No arguments: the desktop dialog. "pagewing:<encoded URL>" (what the
// desktop passes for the URL scheme): the dialog with that page filled in.
// Anything else is the command line.
int main(int argc, char** argv) {
    installInterruptCleanup();
    if (argc <= 1) {
        return runDesktopProgram(nullptr);
    }
    std::string url;
    if (argc == 2 && decodePagewingArgument(argv[1], url)) {
        return runDesktopProgram(url.c_str());
    }
    return runCommandLine(argc, argv);
}
