#pragma once

#include "convert/MailProgram.h"

#include <string>

// The program that opens a message file on this desktop: GIO's default for
// message/rfc822, which is also what opens ".eml" files.
struct DefaultMailProgram {
    std::string desktopId;  // "thunderbird.desktop"; empty when none is set up
    std::string executable; // as its desktop file names it
    MailProgram kind = MailProgram::Other;
};

DefaultMailProgram findDefaultMailProgram();
