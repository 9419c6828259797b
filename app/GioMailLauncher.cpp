#include "app/GioMailLauncher.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

bool openWithMailClient(const char* path, GtkWindow* owner) {
    if (path == nullptr || *path == 0) {
        return false;
    }
    gchar* uri = g_filename_to_uri(path, nullptr, nullptr);
    if (uri == nullptr) {
        return false;
    }
    GdkDisplay* display =
        owner != nullptr ? gtk_widget_get_display(GTK_WIDGET(owner)) : gdk_display_get_default();
    GAppLaunchContext* context =
        display != nullptr ? G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(display))
                           : nullptr;
    const bool launched = g_app_info_launch_default_for_uri(uri, context, nullptr) == TRUE;
    if (context != nullptr) {
        g_object_unref(context);
    }
    g_free(uri);
    return launched;
}
