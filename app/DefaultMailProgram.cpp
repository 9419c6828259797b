#include "app/DefaultMailProgram.h"

#include <gio/gio.h>

DefaultMailProgram findDefaultMailProgram() {
    DefaultMailProgram program;
    GAppInfo* info = g_app_info_get_default_for_type("message/rfc822", FALSE);
    if (info == nullptr) {
        return program;
    }
    const char* id = g_app_info_get_id(info);
    const char* executable = g_app_info_get_executable(info);
    program.desktopId = id != nullptr ? id : "";
    program.executable = executable != nullptr ? executable : "";
    g_object_unref(info);
    // A wrapper script ("env", "flatpak run ...") may hide the name in the
    // executable; the desktop id still tells.
    program.kind = mailProgramNamed(program.desktopId) == MailProgram::Thunderbird
                       ? MailProgram::Thunderbird
                       : mailProgramNamed(program.executable);
    return program;
}
