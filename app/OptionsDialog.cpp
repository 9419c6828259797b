#include "app/OptionsDialog.h"

#include "app/ActionSetting.h"
#include "app/DesktopPlacement.h"
#include "app/DesktopProgram.h"
#include "app/GtkFileChoosers.h"
#include "foundation/StringBuffer.h"

#include <gtk/gtk.h>

namespace {

struct OptionsWidgets {
    GtkWidget* dialog = nullptr;
    GtkWidget* launchRadio = nullptr;
    GtkWidget* saveRadio = nullptr;
    GtkWidget* completeCheck = nullptr;
    GtkWidget* cookiesCheck = nullptr;
    GtkWidget* scriptsCheck = nullptr;
    GtkWidget* directory = nullptr;
    bool browsing = false;
};

void onBrowse(GtkButton*, gpointer data) {
    auto* widgets = static_cast<OptionsWidgets*>(data);
    if (widgets->browsing) {
        return;
    }
    widgets->browsing = true;
    runWhenIdle([widgets] {
        FolderChooser chooser;
        StringBuffer folder;
        if (chooser.chooseFolder(GTK_WINDOW(widgets->dialog), kFolderChooserTitle, folder)) {
            gtk_entry_set_text(GTK_ENTRY(widgets->directory), folder.getString());
        }
        widgets->browsing = false;
    });
}

// Escape is the cancel command here, as in every dialog with a Cancel button.
void onCloseKey(GtkDialog* dialog, gpointer) {
    g_signal_stop_emission_by_name(dialog, "close");
    gtk_dialog_response(dialog, 2);
}

GtkWidget* wrappedLabel(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    return label;
}

void build(OptionsWidgets& widgets, GtkWindow* owner) {
    widgets.dialog = gtk_dialog_new();
    GtkWindow* window = GTK_WINDOW(widgets.dialog);
    gtk_window_set_title(window, kOptionsTitle);
    gtk_window_set_transient_for(window, owner);
    gtk_window_set_modal(window, TRUE);
    gtk_window_set_resizable(window, FALSE);

    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(widgets.dialog));
    gtk_box_set_spacing(GTK_BOX(content), 8);
    gtk_container_set_border_width(GTK_CONTAINER(widgets.dialog), 10);

    widgets.launchRadio = gtk_radio_button_new_with_label(nullptr, kOptionsLaunchLabel);
    widgets.saveRadio = gtk_radio_button_new_with_label_from_widget(
        GTK_RADIO_BUTTON(widgets.launchRadio), kOptionsSaveLabel);
    gtk_box_pack_start(GTK_BOX(content), widgets.launchRadio, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(content), widgets.saveRadio, FALSE, FALSE, 0);
    widgets.completeCheck = gtk_check_button_new_with_label(kOptionsCompleteLabel);
    gtk_box_pack_start(GTK_BOX(content), widgets.completeCheck, FALSE, FALSE, 0);
    widgets.cookiesCheck = gtk_check_button_new_with_label(kOptionsCookiesLabel);
    gtk_box_pack_start(GTK_BOX(content), widgets.cookiesCheck, FALSE, FALSE, 0);
    widgets.scriptsCheck = gtk_check_button_new_with_label(kOptionsScriptsLabel);
    gtk_box_pack_start(GTK_BOX(content), widgets.scriptsCheck, FALSE, FALSE, 0);

    GtkWidget* sunken = gtk_frame_new(nullptr);
    gtk_frame_set_shadow_type(GTK_FRAME(sunken), GTK_SHADOW_IN);
    GtkWidget* notice = wrappedLabel(kOptionsNotice);
    gtk_widget_set_margin_start(notice, 6);
    gtk_widget_set_margin_end(notice, 6);
    gtk_widget_set_margin_top(notice, 6);
    gtk_widget_set_margin_bottom(notice, 6);
    gtk_container_add(GTK_CONTAINER(sunken), notice);
    gtk_box_pack_start(GTK_BOX(content), sunken, FALSE, FALSE, 0);

    gtk_box_pack_start(GTK_BOX(content), wrappedLabel(kOptionsDirectoryCaption), FALSE, FALSE, 0);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    widgets.directory = gtk_entry_new();
    gtk_entry_set_activates_default(GTK_ENTRY(widgets.directory), TRUE);
    gtk_box_pack_start(GTK_BOX(row), widgets.directory, TRUE, TRUE, 0);
    GtkWidget* browse = gtk_button_new_with_label("Browse");
    g_signal_connect(browse, "clicked", G_CALLBACK(onBrowse), &widgets);
    gtk_box_pack_start(GTK_BOX(row), browse, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(content), row, FALSE, FALSE, 0);

    // GTK's own order: the affirmative button last, at the right.
    gtk_dialog_add_button(GTK_DIALOG(widgets.dialog), "Cancel", 2);
    gtk_dialog_add_button(GTK_DIALOG(widgets.dialog), "OK", 1);
    gtk_dialog_set_default_response(GTK_DIALOG(widgets.dialog), 1);
    g_signal_connect(widgets.dialog, "close", G_CALLBACK(onCloseKey), nullptr);
}

void showChoice(OptionsWidgets& widgets) {
    const OptionsChoice choice = readOptionsChoice();
    if (!choice.dataDir.empty()) {
        gtk_entry_set_text(GTK_ENTRY(widgets.directory), choice.dataDir.c_str());
    }
    gtk_toggle_button_set_active(
        GTK_TOGGLE_BUTTON(choice.saveToFile ? widgets.saveRadio : widgets.launchRadio), TRUE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widgets.completeCheck),
                                 choice.completePage ? TRUE : FALSE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widgets.cookiesCheck),
                                 choice.browserCookies ? TRUE : FALSE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widgets.scriptsCheck),
                                 choice.runPageScripts ? TRUE : FALSE);
}

} // namespace

int runOptionsDialog(GtkWindow* owner) {
    OptionsWidgets widgets;
    build(widgets, owner);
    showChoice(widgets);
    gtk_widget_show_all(widgets.dialog);
    centerOnDesktop(GTK_WINDOW(widgets.dialog));

    int result = gtk_dialog_run(GTK_DIALOG(widgets.dialog));
    if (result == 1) {
        const bool launch = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widgets.launchRadio));
        storeOptionsChoice(gtk_entry_get_text(GTK_ENTRY(widgets.directory)), launch);
        storeCompletePage(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widgets.completeCheck)) ==
                          TRUE);
        storeBrowserCookies(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widgets.cookiesCheck)) ==
                            TRUE);
        storeRunPageScripts(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widgets.scriptsCheck)) ==
                            TRUE);
    } else if (result != 2) {
        result = kCloseCommandResult;
        postQuitMessage(0);
    }
    gtk_widget_destroy(widgets.dialog);
    return result;
}
