#include "foundation/StreamLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string render(void (*write)(StreamLog&)) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    {
        StreamLog log(stream, 20);
        write(log);
    }
    std::fclose(stream);
    std::string result(text, size);
    std::free(text);
    return result;
}

TEST(StreamLog, IndentsNestedContextsAndEscapesValues) {
    const std::string text = render([](StreamLog& log) {
        log.logInfo("start");
        log.enterContext("external_content", true);
        log.logData("contentLocation", "a\r\nb");
        log.enterContext("inner", true);
        log.logDataInt("http_port", 8080);
        log.leaveContext();
        log.logError("Failed");
        log.leaveContext();
        log.logData("long", "0123456789012345678901234567890");
    });
    EXPECT_EQ(text, "info: start\n"
                    "external_content {\n"
                    "  contentLocation = a\\r\\nb\n"
                    "  inner {\n"
                    "    http_port = 8080\n"
                    "  }\n"
                    "  error: Failed\n"
                    "}\n"
                    "long = 01234567890123456789... (31 bytes)\n");
}

TEST(StreamLog, UnbalancedLeaveDoesNotUnderflow) {
    const std::string text = render([](StreamLog& log) {
        log.leaveContext();
        log.logError(nullptr);
    });
    EXPECT_EQ(text, "}\nerror: (null)\n");
}

} // namespace
