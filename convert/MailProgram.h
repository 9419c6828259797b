#pragma once

#include <string_view>

// The mail program that will open the message, as far as the message has to
// be made for it; Other gets the message as every reader gets it.
enum class MailProgram { Other, Thunderbird };

// The program a name stands for: a desktop id ("thunderbird.desktop",
// "org.mozilla.Thunderbird.desktop"), an executable ("/usr/bin/icedove") or
// what the user typed. Thunderbird's rebuilt editions count as Thunderbird.
MailProgram mailProgramNamed(std::string_view name);
