#include "app/MainDialog.h"

#include "app/ActionSetting.h"
#include "app/ActiveBrowsers.h"
#include "app/CreateEmailSteps.h"
#include "app/DefaultMailProgram.h"
#include "app/DesktopPlacement.h"
#include "app/DesktopProgram.h"
#include "app/GioMailLauncher.h"
#include "app/GtkFileChoosers.h"
#include "app/OptionsDialog.h"
#include "app/ToolbarButton.h"
#include "http/TransferCancel.h"

#include <gtk/gtk.h>

namespace {

constexpr int kPageColumn = 0;
// Hidden: which browser shows the page (-1 for none), and its profile folder.
constexpr int kBrowserColumn = 1;
constexpr int kProfileColumn = 2;

GtkWidget* leftLabel(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    return label;
}

GtkWidget* centredLabel(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 70);
    return label;
}

} // namespace

MainDialog::MainDialog(GtkWindow* owner, const char* initialUrl) {
    build(owner);
    startDialog();
    if (initialUrl != nullptr) {
        gtk_entry_set_text(GTK_ENTRY(m_edit), initialUrl);
    }
}

MainDialog::~MainDialog() {
    stopJob();
    if (m_dialog != nullptr) {
        gtk_widget_destroy(m_dialog);
    }
    if (m_pages != nullptr) {
        g_object_unref(m_pages);
    }
}

void MainDialog::build(GtkWindow* owner) {
    m_dialog = gtk_dialog_new();
    GtkWindow* window = GTK_WINDOW(m_dialog);
    gtk_window_set_title(window, kMainDialogTitle);
    gtk_window_set_transient_for(window, owner);
    gtk_window_set_skip_taskbar_hint(window, FALSE);
    gtk_window_set_default_size(window, 490, -1);
    gtk_container_set_border_width(GTK_CONTAINER(m_dialog), 10);
    // Escape does nothing in this dialog; only its buttons and the close command end it.
    g_signal_connect(m_dialog, "close", G_CALLBACK(onCloseKey), this);

    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(m_dialog));
    gtk_box_set_spacing(GTK_BOX(content), 6);

    GtkWidget* header = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    GtkWidget* listCaption = leftLabel(kListCaption);
    gtk_box_pack_start(GTK_BOX(header), listCaption, TRUE, TRUE, 0);
    gtk_box_pack_end(GTK_BOX(header), gtk_label_new(kVersionText), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(content), header, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(content), buildList(), TRUE, TRUE, 0);
    gtk_label_set_mnemonic_widget(GTK_LABEL(listCaption), m_list);

    GtkWidget* editCaption = leftLabel(kEditCaption);
    gtk_box_pack_start(GTK_BOX(content), editCaption, FALSE, FALSE, 0);
    m_edit = gtk_entry_new();
    gtk_entry_set_activates_default(GTK_ENTRY(m_edit), TRUE);
    gtk_label_set_mnemonic_widget(GTK_LABEL(editCaption), m_edit);
    gtk_box_pack_start(GTK_BOX(content), m_edit, FALSE, FALSE, 0);

    GtkWidget* notice = centredLabel(kNoticeText);
    gtk_widget_set_margin_top(notice, 6);
    gtk_box_pack_start(GTK_BOX(content), notice, FALSE, FALSE, 0);
    m_status = centredLabel(kInitialStatus);
    gtk_widget_set_margin_top(m_status, 8);
    gtk_box_pack_start(GTK_BOX(content), m_status, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(content), buildButtons(), FALSE, FALSE, 4);
}

GtkWidget* MainDialog::buildList() {
    m_pages = gtk_list_store_new(3, G_TYPE_STRING, G_TYPE_INT, G_TYPE_STRING);
    gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(m_pages), kPageColumn,
                                         GTK_SORT_ASCENDING);
    m_list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(m_pages));
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(m_list), FALSE);
    gtk_tree_view_set_enable_search(GTK_TREE_VIEW(m_list), FALSE);
    GtkCellRenderer* text = gtk_cell_renderer_text_new();
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(m_list), -1, "Page", text, "text",
                                                kPageColumn, nullptr);
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(m_list)),
                                GTK_SELECTION_SINGLE);
    g_signal_connect(m_list, "key-press-event", G_CALLBACK(onListKey), this);

    GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_ALWAYS);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
    gtk_widget_set_size_request(scroller, -1, 76);
    gtk_container_add(GTK_CONTAINER(scroller), m_list);
    return scroller;
}

GtkWidget* MainDialog::buildButtons() {
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
    gtk_box_set_homogeneous(GTK_BOX(row), FALSE);
    GtkWidget* create = gtk_button_new_with_label(kCreateEmailLabel);
    GtkWidget* options = gtk_button_new_with_label(kOptionsLabel);
    GtkWidget* toolbar = gtk_button_new_with_label(kToolbarButtonLabel);
    g_signal_connect(create, "clicked", G_CALLBACK(onCreateEmail), this);
    g_signal_connect(options, "clicked", G_CALLBACK(onOptions), this);
    g_signal_connect(toolbar, "clicked", G_CALLBACK(onToolbarButton), this);
    m_cancel = gtk_button_new_with_label(kCancelLabel);
    g_signal_connect(m_cancel, "clicked", G_CALLBACK(onCancel), this);
    gtk_widget_set_no_show_all(m_cancel, TRUE);
    gtk_box_pack_start(GTK_BOX(row), create, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(row), options, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), toolbar, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(row), m_cancel, FALSE, FALSE, 0);
    // The default button: Enter anywhere in the dialog presses it.
    gtk_widget_set_can_default(create, TRUE);
    gtk_window_set_default(GTK_WINDOW(m_dialog), create);
    return row;
}

void MainDialog::startDialog() {
    updateActionLabel();
    ActiveBrowsers browsers;
    if (!browsers.refresh()) {
        gtk_list_store_insert_with_values(m_pages, nullptr, -1, kPageColumn, kBrowserListFailed,
                                          kBrowserColumn, -1, kProfileColumn, "", -1);
    }
    for (int i = 0; i < browsers.getCount(); ++i) {
        const std::string entry = listEntryForUrl(browsers.getUrl(i));
        // The list shows text; a name in another encoding is shown as near as can be.
        gchar* shown = g_utf8_make_valid(entry.c_str(), static_cast<gssize>(entry.size()));
        const SessionSource* source = browsers.getSource(i);
        gtk_list_store_insert_with_values(m_pages, nullptr, -1, kPageColumn, shown, kBrowserColumn,
                                          source != nullptr ? static_cast<int>(source->kind) : -1,
                                          kProfileColumn,
                                          source != nullptr ? source->profile.c_str() : "", -1);
        g_free(shown);
    }
    GtkTreeIter first;
    if (gtk_tree_model_get_iter_first(GTK_TREE_MODEL(m_pages), &first)) {
        gtk_tree_selection_select_iter(gtk_tree_view_get_selection(GTK_TREE_VIEW(m_list)), &first);
    }
}

void MainDialog::updateActionLabel() {
    gtk_label_set_text(GTK_LABEL(m_status), refreshActionSetting());
}

int MainDialog::run() {
    gtk_widget_show_all(m_dialog);
    centerOnDesktop(GTK_WINDOW(m_dialog));
    int result = gtk_dialog_run(GTK_DIALOG(m_dialog));
    if (!m_ended) {
        // The close command (or the window went away): the program ends too,
        // and a conversion under way ends without opening anything.
        stopJob();
        result = kCloseCommandResult;
        postQuitMessage(0);
    }
    return result;
}

std::string MainDialog::editText() {
    return gtk_entry_get_text(GTK_ENTRY(m_edit));
}

bool MainDialog::selectedItemText(std::string& text) {
    GtkTreeModel* model = nullptr;
    GtkTreeIter selected;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(m_list)), &model,
                                         &selected)) {
        return false;
    }
    gchar* value = nullptr;
    gtk_tree_model_get(model, &selected, kPageColumn, &value, -1);
    text = value != nullptr ? value : "";
    g_free(value);
    return true;
}

bool MainDialog::selectedItemSource(SessionSource& source) {
    GtkTreeModel* model = nullptr;
    GtkTreeIter selected;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(m_list)), &model,
                                         &selected)) {
        return false;
    }
    gint kind = -1;
    gchar* profile = nullptr;
    gtk_tree_model_get(model, &selected, kBrowserColumn, &kind, kProfileColumn, &profile, -1);
    source.kind = static_cast<SessionSource::Kind>(kind);
    source.profile = profile != nullptr ? profile : "";
    g_free(profile);
    return kind >= 0 && !source.profile.empty();
}

void MainDialog::showStatus(const char* text) {
    gtk_label_set_text(GTK_LABEL(m_status), text);
    drawPendingChanges(m_dialog);
}

bool MainDialog::askSaveFileName(const char* startFolder, const char* proposedName,
                                 std::string& path) {
    return ::askSaveFileName(GTK_WINDOW(m_dialog), startFolder, proposedName, path);
}

bool MainDialog::openWithMailClient(const char* path) {
    return ::openWithMailClient(path, GTK_WINDOW(m_dialog));
}

MailProgram MainDialog::openingMailProgram() {
    return findDefaultMailProgram().kind;
}

bool MainDialog::offerSaveInstead(const char* path) {
    GtkWidget* box =
        gtk_message_dialog_new(GTK_WINDOW(m_dialog), GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING,
                               GTK_BUTTONS_NONE, kNoMailProgramText, path);
    gtk_window_set_title(GTK_WINDOW(box), "Pagewing");
    gtk_dialog_add_buttons(GTK_DIALOG(box), "_Close", GTK_RESPONSE_CLOSE, "_Save As…",
                           GTK_RESPONSE_ACCEPT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_ACCEPT);
    const bool save = gtk_dialog_run(GTK_DIALOG(box)) == GTK_RESPONSE_ACCEPT;
    gtk_widget_destroy(box);
    return save;
}

void MainDialog::endDialog(int result) {
    m_ended = true;
    gtk_dialog_response(GTK_DIALOG(m_dialog), result);
    postQuitMessage(0);
}

void MainDialog::onCreateEmail(GtkWidget*, MainDialog* self) {
    // Clicks that arrive while a conversion runs must not start a second one.
    if (self->m_busy || self->m_ended) {
        return;
    }
    auto job = std::make_unique<CreateEmailJob>();
    if (prepareCreateEmail(*self, *job)) {
        self->startJob(std::move(job));
    }
}

void MainDialog::startJob(std::unique_ptr<CreateEmailJob> job) {
    m_busy = true;
    m_stopping = false;
    m_job = std::move(job);
    allowTransfers();
    gtk_widget_set_sensitive(m_cancel, TRUE);
    gtk_widget_show(m_cancel);
    CreateEmailJob* running = m_job.get();
    m_worker = std::thread([this, running] {
        convertCreateEmail(*running);
        m_doneSource = g_idle_add(&MainDialog::onJobDone, this);
    });
}

gboolean MainDialog::onJobDone(void* data) {
    auto* self = static_cast<MainDialog*>(data);
    self->m_worker.join();
    self->m_doneSource = 0;
    gtk_widget_hide(self->m_cancel);
    std::unique_ptr<CreateEmailJob> job = std::move(self->m_job);
    finishCreateEmail(*self, *job, self->m_stopping);
    allowTransfers();
    self->m_busy = false;
    return G_SOURCE_REMOVE;
}

void MainDialog::onCancel(GtkWidget*, MainDialog* self) {
    if (self->m_job != nullptr && !self->m_stopping) {
        self->m_stopping = true;
        gtk_widget_set_sensitive(self->m_cancel, FALSE);
        cancelTransfers();
    }
}

// Stops a conversion under way and waits for it; what it made is dropped.
void MainDialog::stopJob() {
    if (!m_worker.joinable()) {
        return;
    }
    cancelTransfers();
    m_worker.join();
    if (m_doneSource != 0) {
        g_source_remove(m_doneSource);
        m_doneSource = 0;
    }
    m_job.reset();
    allowTransfers();
    m_busy = false;
}

void MainDialog::convertCapturedPage(const CapturedPage& page) {
    auto job = std::make_unique<CreateEmailJob>();
    job->captured = &page;
    if (prepareCreateEmail(*this, *job)) {
        startJob(std::move(job));
    }
}

void MainDialog::onOptions(GtkWidget*, MainDialog* self) {
    if (self->m_busy || self->m_ended) {
        return;
    }
    self->m_busy = true;
    runWhenIdle([self] {
        runOptionsDialog(GTK_WINDOW(self->m_dialog));
        self->m_busy = false;
        self->updateActionLabel();
        if (quitMessagePosted()) {
            self->endDialog(0); // the Options dialog was closed: the program ends
        }
    });
}

void MainDialog::onToolbarButton(GtkWidget*, MainDialog* self) {
    if (self->m_busy || self->m_ended) {
        return;
    }
    const std::string text = toolbarButtonMessage(registerToolbarButton());
    GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(self->m_dialog), GTK_DIALOG_MODAL,
                                            GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), "Pagewing");
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

gboolean MainDialog::onListKey(GtkWidget*, GdkEventKey* event, MainDialog* self) {
    // The list would take Enter for itself (to activate its row); in this
    // dialog Enter presses the default button wherever the focus is.
    switch (event->keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
        gtk_window_activate_default(GTK_WINDOW(self->m_dialog));
        return TRUE;
    default:
        return FALSE;
    }
}

void MainDialog::onCloseKey(GtkWidget* dialog, MainDialog*) {
    g_signal_stop_emission_by_name(dialog, "close");
}
