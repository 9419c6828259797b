// Converts one page through the converter's entry operations, set up as the
// desktop program sets them, and writes the message to a file, so that the
// end-to-end tests can read it with a real MIME parser.
//
//   convert_driver [--complete] url URL OUTPUT [keep-scripts]
//   convert_driver [--complete] file PATH OUTPUT [keep-scripts]
//
// "keep-scripts" keeps scripts while a page with <noscript> still counts as
// one without scripts, a setting the command line does not offer.
#include "convert/Mhtml.h"
#include "foundation/FileSys.h"
#include "foundation/StreamLog.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const bool complete = argc > 1 && std::strcmp(argv[1], "--complete") == 0;
    if (complete) {
        --argc;
        ++argv;
    }
    const bool keepScripts = argc == 5 && std::strcmp(argv[4], "keep-scripts") == 0;
    if ((argc != 4 && !keepScripts) ||
        (std::strcmp(argv[1], "url") != 0 && std::strcmp(argv[1], "file") != 0)) {
        std::fprintf(stderr,
                     "usage: convert_driver [--complete] url|file INPUT OUTPUT [keep-scripts]\n");
        return 2;
    }
    Mhtml converter;
    converter.m_keepScripts = keepScripts;
    converter.m_scriptsOverNoscript = false;
    converter.m_markUnsent = true;
    converter.m_completePage = complete;
    // Loopback only: the machine's proxy settings never apply.
    converter.m_directAccess = true;
    StreamLog log(stderr);
    converter.m_log = &log;
    StringBuffer message;
    const bool converted = std::strcmp(argv[1], "url") == 0
                               ? converter.convertUrl(argv[2], message)
                               : converter.convertFile(argv[2], "localhost", message);
    if (!converted) {
        return 1;
    }
    return FileSys::writeFile(argv[3], message.getString(), message.getSize(), &log) ? 0 : 1;
}
