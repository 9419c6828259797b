#include "app/GtkFileChoosers.h"

#include "app/CreateEmailSteps.h"
#include "foundation/StringBuffer.h"

#include <gtk/gtk.h>

namespace {

std::string chosenFileName(GtkFileChooser* chooser) {
    gchar* name = gtk_file_chooser_get_filename(chooser);
    const std::string result = name != nullptr ? name : "";
    g_free(name);
    return result;
}

bool confirmReplace(GtkWindow* owner, const std::string& path) {
    gchar* base = g_path_get_basename(path.c_str());
    gchar* display = g_filename_display_name(base);
    GtkWidget* question = gtk_message_dialog_new(
        owner, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE,
        "A file named \xe2\x80\x9c%s\xe2\x80\x9d already exists. Do you want to replace it?",
        display);
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(question),
                                             "Replacing it will overwrite its contents.");
    gtk_dialog_add_buttons(GTK_DIALOG(question), "_Cancel", GTK_RESPONSE_CANCEL, "_Replace",
                           GTK_RESPONSE_ACCEPT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(question), GTK_RESPONSE_CANCEL);
    const bool replace = gtk_dialog_run(GTK_DIALOG(question)) == GTK_RESPONSE_ACCEPT;
    gtk_widget_destroy(question);
    g_free(display);
    g_free(base);
    return replace;
}

// GTK has asked about the name as typed; the name with ".eml" added may be
// another, existing file, which must not be replaced without a question.
void onSaveResponse(GtkDialog* dialog, gint response, gpointer) {
    if (response != GTK_RESPONSE_ACCEPT) {
        return;
    }
    const std::string typed = chosenFileName(GTK_FILE_CHOOSER(dialog));
    const std::string withExtension = withDefaultExtension(typed, "eml");
    if (typed.empty() || withExtension == typed ||
        !g_file_test(withExtension.c_str(), G_FILE_TEST_EXISTS)) {
        return;
    }
    if (!confirmReplace(GTK_WINDOW(dialog), withExtension)) {
        g_signal_stop_emission_by_name(dialog, "response");
    }
}

} // namespace

bool FolderChooser::chooseFolder(GtkWindow* owner, const char* title, StringBuffer& outPath) {
    GtkWidget* dialog =
        gtk_file_chooser_dialog_new(title, owner, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel",
                                    GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    bool chosen = false;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        const std::string folder = chosenFileName(GTK_FILE_CHOOSER(dialog));
        if (!folder.empty()) {
            outPath.setString(folder.c_str());
            chosen = true;
        }
    }
    gtk_widget_destroy(dialog);
    return chosen;
}

bool askSaveFileName(GtkWindow* owner, const char* startFolder, const char* proposedName,
                     std::string& path) {
    path.clear();
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        kSaveDialogTitle, owner, GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel", GTK_RESPONSE_CANCEL,
        "_Save", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, kEmlFilterName);
    gtk_file_filter_add_pattern(filter, kEmlFilterPattern);
    gtk_file_chooser_add_filter(chooser, filter);
    gtk_file_chooser_set_current_name(chooser, proposedName != nullptr ? proposedName : "");
    if (startFolder != nullptr && *startFolder != 0) {
        gtk_file_chooser_set_current_folder(chooser, startFolder);
    }
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    g_signal_connect(dialog, "response", G_CALLBACK(onSaveResponse), nullptr);
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        const std::string typed = chosenFileName(chooser);
        if (!typed.empty()) {
            path = withDefaultExtension(typed, "eml");
        }
    }
    gtk_widget_destroy(dialog);
    return !path.empty();
}
