#include "app/DesktopPlacement.h"

#include <gtk/gtk.h>

int centeredOffset(int desktopStart, int desktopSize, int windowSize) {
    return desktopStart + (desktopSize - windowSize) / 2;
}

void centerOnDesktop(GtkWindow* window) {
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) {
        monitor = gdk_display_get_monitor(display, 0);
    }
    if (monitor == nullptr) {
        return;
    }
    GdkRectangle desktop{};
    gdk_monitor_get_geometry(monitor, &desktop);
    int width = 0;
    int height = 0;
    gtk_window_get_size(window, &width, &height);
    gtk_window_move(window, centeredOffset(desktop.x, desktop.width, width),
                    centeredOffset(desktop.y, desktop.height, height));
}

void drawPendingChanges() {
    // Bounded, so that a source that keeps itself ready cannot hold us here.
    for (int round = 0; round < 1000 && gtk_events_pending(); ++round) {
        gtk_main_iteration_do(FALSE);
    }
    gdk_display_flush(gdk_display_get_default());
}

namespace {

gboolean runDeferred(gpointer data) {
    auto* action = static_cast<std::function<void()>*>(data);
    (*action)();
    delete action;
    return G_SOURCE_REMOVE;
}

} // namespace

void runWhenIdle(std::function<void()> action) {
    // Ahead of every pending event, so that nothing can end the window the
    // action belongs to before it runs.
    g_idle_add_full(G_PRIORITY_HIGH, runDeferred, new std::function<void()>(std::move(action)),
                    nullptr);
}
