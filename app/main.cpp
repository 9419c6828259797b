#include "app/CommandLine.h"
#include "app/DesktopProgram.h"
#include "app/PagewingScheme.h"

#include <cstdio>
#include <cstring>
#include <string>

// No arguments: the desktop dialog. "pagewing:<encoded URL>" (what the
// desktop passes for the URL scheme): the dialog with that page filled in.
// "--bookmarklet": the bookmarklet that sends a page here. Anything else
// is the command line.
int main(int argc, char** argv) {
    if (argc <= 1) {
        return runDesktopProgram(nullptr);
    }
    if (argc == 2 && std::strcmp(argv[1], "--bookmarklet") == 0) {
        std::printf("%s\n", kBookmarklet);
        return 0;
    }
    std::string url;
    if (argc == 2 && decodePagewingArgument(argv[1], url)) {
        return runDesktopProgram(url.c_str());
    }
    return runCommandLine(argc, argv);
}
