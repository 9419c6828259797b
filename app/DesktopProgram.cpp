#include "app/DesktopProgram.h"

#include "app/CapturedPage.h"
#include "app/MainDialog.h"

#include <cstdio>
#include <gtk/gtk.h>

namespace {

bool g_quitPosted = false;
int g_quitCode = 0;
GMainLoop* g_messageLoop = nullptr;

void onOwnerDestroyed(GtkWidget*, gpointer) {
    postQuitMessage(0);
}

// The hidden, top-most owner of the main dialog; never shown.
GtkWidget* createOwnerWindow() {
    GtkWidget* owner = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (owner == nullptr) {
        return nullptr;
    }
    gtk_window_set_title(GTK_WINDOW(owner), kOwnerWindowTitle);
    gtk_widget_set_name(owner, kOwnerWindowTitle);
    gtk_window_set_keep_above(GTK_WINDOW(owner), TRUE);
    g_signal_connect(owner, "destroy", G_CALLBACK(onOwnerDestroyed), nullptr);
    return owner;
}

int runMessageLoop() {
    if (!g_quitPosted) {
        g_messageLoop = g_main_loop_new(nullptr, FALSE);
        g_main_loop_run(g_messageLoop);
        g_main_loop_unref(g_messageLoop);
        g_messageLoop = nullptr;
    }
    return g_quitCode;
}

} // namespace

void postQuitMessage(int code) {
    if (!g_quitPosted) {
        g_quitPosted = true;
        g_quitCode = code;
    }
    if (g_messageLoop != nullptr) {
        g_main_loop_quit(g_messageLoop);
    }
}

bool quitMessagePosted() {
    return g_quitPosted;
}

int runDesktopProgram(const char* initialUrl, const CapturedPage* captured) {
    g_set_prgname("pagewing");
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "pagewing: cannot open the display; without one, give the page "
                             "as an argument (pagewing --help)\n");
        return 1;
    }
    g_set_application_name("Pagewing");
    gtk_window_set_default_icon_name("pagewing");
    GtkWidget* owner = createOwnerWindow();
    if (owner == nullptr) {
        return 0;
    }
    {
        MainDialog dialog(GTK_WINDOW(owner), initialUrl);
        if (captured != nullptr) {
            dialog.convertCapturedPage(*captured);
        }
        dialog.run();
    }
    gtk_widget_destroy(owner);
    return runMessageLoop();
}

int runDesktopProgramOnCapturedPage(const std::string& folder) {
    CapturedPage page;
    std::string problem;
    const bool read = readCapturedPage(folder, page, problem);
    // The cookies stay on disk no longer than it takes to read them.
    removeCapturedPage(folder);
    if (!read) {
        std::fprintf(stderr, "pagewing: %s\n", problem.c_str());
        return 1;
    }
    return runDesktopProgram(page.url.c_str(), &page);
}
