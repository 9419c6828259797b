#include "app/DesktopEntry.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

struct GFreeDeleter {
    void operator()(void* block) const { g_free(block); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

std::string environmentDirectory(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : fallback;
}

// The list value with desktopId first and no second copy of it.
std::string withHandlerFirst(GKeyFile* file, const char* group, const char* mimeType,
                             const char* desktopId) {
    std::string list = std::string(desktopId) + ";";
    gsize count = 0;
    gchar** existing = g_key_file_get_string_list(file, group, mimeType, &count, nullptr);
    for (gsize i = 0; i < count; ++i) {
        if (g_strcmp0(existing[i], desktopId) != 0 && existing[i][0] != 0) {
            list += std::string(existing[i]) + ";";
        }
    }
    g_strfreev(existing);
    return list;
}

} // namespace

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? std::string(home) : std::string(g_get_home_dir());
}

bool saveText(const std::string& path, const std::string& text, int mode) {
    GCharPtr directory(g_path_get_dirname(path.c_str()));
    if (g_mkdir_with_parents(directory.get(), 0700) != 0) {
        return false;
    }
    return g_file_set_contents_full(path.c_str(), text.data(), static_cast<gssize>(text.size()),
                                    G_FILE_SET_CONTENTS_CONSISTENT, mode, nullptr);
}

std::string quoteExecArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted.push_back('\\');
        }
        if (c == '%') {
            quoted.push_back('%');
        }
        quoted.push_back(c);
    }
    return quoted + "\"";
}

std::string desktopEntryText(const std::string& programPath) {
    KeyFilePtr file(g_key_file_new());
    const char* group = G_KEY_FILE_DESKTOP_GROUP;
    g_key_file_set_string(file.get(), group, "Type", "Application");
    g_key_file_set_string(file.get(), group, "Version", "1.4");
    g_key_file_set_string(file.get(), group, "Name", "Pagewing");
    g_key_file_set_string(file.get(), group, "GenericName", "Web Page to E-mail");
    g_key_file_set_string(file.get(), group, "Comment",
                          "Turn a web page into a ready-to-send HTML e-mail");
    // set_string adds the key file's own escaping on top of the Exec quoting.
    g_key_file_set_string(file.get(), group, "Exec",
                          (quoteExecArgument(programPath) + " %u").c_str());
    g_key_file_set_string(file.get(), group, "Icon", "pagewing");
    g_key_file_set_string(file.get(), group, "Terminal", "false");
    g_key_file_set_string(file.get(), group, "Categories", "Network;Email;");
    g_key_file_set_string(file.get(), group, "MimeType", "x-scheme-handler/pagewing;");
    gsize length = 0;
    GCharPtr data(g_key_file_to_data(file.get(), &length, nullptr));
    return std::string(data.get(), length);
}

std::string userApplicationsDirectory() {
    return environmentDirectory("XDG_DATA_HOME", homeDirectory() + "/.local/share") +
           "/applications";
}

std::string userMimeAppsList() {
    return environmentDirectory("XDG_CONFIG_HOME", homeDirectory() + "/.config") + "/mimeapps.list";
}

bool installDesktopEntry(const std::string& programPath, std::string& path) {
    path = userApplicationsDirectory() + "/" + kDesktopEntryName;
    return saveText(path, desktopEntryText(programPath), 0644);
}

bool setDefaultHandler(const std::string& mimeAppsList, const char* mimeType,
                       const char* desktopId) {
    KeyFilePtr file(g_key_file_new());
    GError* error = nullptr;
    if (!g_key_file_load_from_file(file.get(), mimeAppsList.c_str(), G_KEY_FILE_KEEP_COMMENTS,
                                   &error)) {
        const bool missing = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
        g_error_free(error);
        if (!missing) {
            return false; // never replace a file that says what we cannot read
        }
    }
    for (const char* group : {"Default Applications", "Added Associations"}) {
        const std::string list = withHandlerFirst(file.get(), group, mimeType, desktopId);
        g_key_file_set_value(file.get(), group, mimeType,
                             std::string(group) == "Default Applications" ? desktopId
                                                                          : list.c_str());
    }
    gsize length = 0;
    GCharPtr data(g_key_file_to_data(file.get(), &length, nullptr));
    return saveText(mimeAppsList, std::string(data.get(), length), 0644);
}
