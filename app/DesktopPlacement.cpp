#include "app/DesktopPlacement.h"

#include <gtk/gtk.h>

#include <memory>

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

namespace {

using ObjectRef = std::unique_ptr<GObject, decltype(&g_object_unref)>;

void handlePendingEvents() {
    // Bounded, so that a source that keeps itself ready cannot hold us here.
    for (int round = 0; round < 1000 && gtk_events_pending(); ++round) {
        gtk_main_iteration_do(FALSE);
    }
}

void markPainted(bool* painted, GdkFrameClock*) {
    *painted = true;
}

gboolean markTimedOut(gpointer timedOut) {
    *static_cast<bool*>(timedOut) = true;
    return G_SOURCE_REMOVE;
}

// A change is drawn only at the window's next frame, which the frame clock
// schedules a little later: it is not pending yet when the change is made.
void waitForNextPaint(GtkWidget* widget) {
    constexpr guint kLongestWaitMs = 500;
    GdkFrameClock* clock =
        gtk_widget_get_mapped(widget) ? gtk_widget_get_frame_clock(widget) : nullptr;
    if (clock == nullptr) {
        return;
    }
    // The events handled while waiting may close the window; the clock must
    // outlive the wait all the same.
    const ObjectRef keepClock(G_OBJECT(g_object_ref(clock)), g_object_unref);
    bool painted = false;
    bool timedOut = false;
    const gulong handler =
        g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(markPainted), &painted);
    const guint timer = g_timeout_add(kLongestWaitMs, markTimedOut, &timedOut);
    gtk_widget_queue_draw(widget);
    gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_PAINT);
    while (!painted && !timedOut) {
        g_main_context_iteration(nullptr, TRUE);
    }
    g_signal_handler_disconnect(clock, handler);
    if (!timedOut) {
        g_source_remove(timer);
    }
}

} // namespace

void drawPendingChanges(GtkWidget* widget) {
    const ObjectRef keepWidget(G_OBJECT(g_object_ref(widget)), g_object_unref);
    handlePendingEvents();
    waitForNextPaint(widget);
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
