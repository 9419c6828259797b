#include "convert/MailProgram.h"

#include "foundation/StringBuffer.h"

MailProgram mailProgramNamed(std::string_view name) {
    for (const std::string_view edition : {"thunderbird", "icedove", "betterbird"}) {
        if (findNoCaseFrom(name, edition, 0) != std::string_view::npos) {
            return MailProgram::Thunderbird;
        }
    }
    return MailProgram::Other;
}
