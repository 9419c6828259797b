#pragma once

#include "app/CreateEmail.h"
#include "app/Version.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;
typedef struct _GtkListStore GtkListStore;
typedef struct _GdkEventKey GdkEventKey;
typedef int gboolean;

inline constexpr const char* kMainDialogTitle =
    "Pagewing!     courtesy of Vantrel Software, Inc.  ";
inline constexpr const char* kListCaption = "Select from one of your open browsers:";
inline constexpr const char* kVersionText = "Version " PAGEWING_VERSION;
inline constexpr const char* kEditCaption = "or enter a URL here:";
inline constexpr const char* kNoticeText =
    "Vantrel Software is a leading developer of components for software developers worldwide.";
inline constexpr const char* kInitialStatus = "Create Email Action:";
inline constexpr const char* kCreateEmailLabel = "Create Email";
inline constexpr const char* kOptionsLabel = "Options";
inline constexpr const char* kToolbarButtonLabel = "Add Button to Internet Explorer Toolbar";
// Shown only while a conversion runs.
inline constexpr const char* kCancelLabel = "Cancel";
inline constexpr const char* kNoMailProgramText =
    "No mail program is set up to open e-mail messages, so the message was not opened. "
    "It was written to\n%s\n\nSave it somewhere else, to import it into your mail program?";

// The main dialog: the open pages, the edit box, the status line and the
// three buttons. Run modally over the hidden owner window.
class MainDialog : public CreateEmailView {
public:
    MainDialog(GtkWindow* owner, const char* initialUrl);
    ~MainDialog() override;
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;

    // Shows the dialog until it ends; returns its result.
    int run();

    // Converts the page once the dialog shows; the page must outlive run().
    void convertCapturedPage(const CapturedPage& page);

    std::string editText() override;
    bool selectedItemText(std::string& text) override;
    bool selectedItemSource(SessionSource& source) override;
    void showStatus(const char* text) override;
    bool askSaveFileName(const char* startFolder, const char* proposedName,
                         std::string& path) override;
    bool openWithMailClient(const char* path) override;
    MailProgram openingMailProgram() override;
    bool offerSaveInstead(const char* path) override;
    void endDialog(int result) override;

private:
    void build(GtkWindow* owner);
    GtkWidget* buildList();
    GtkWidget* buildButtons();
    void startDialog();
    void updateActionLabel();
    // The conversion runs on a thread of its own, so that the window stays
    // alive and its Cancel button can stop the downloads.
    void startJob(std::unique_ptr<CreateEmailJob> job);
    void stopJob();
    static gboolean onJobDone(void* self);
    static void onCancel(GtkWidget* button, MainDialog* self);

    static void onCreateEmail(GtkWidget* button, MainDialog* self);
    static void onOptions(GtkWidget* button, MainDialog* self);
    static void onToolbarButton(GtkWidget* button, MainDialog* self);
    static void onCloseKey(GtkWidget* dialog, MainDialog* self);
    static gboolean onListKey(GtkWidget* list, GdkEventKey* event, MainDialog* self);

    GtkWidget* m_dialog = nullptr;
    GtkListStore* m_pages = nullptr;
    GtkWidget* m_list = nullptr;
    GtkWidget* m_edit = nullptr;
    GtkWidget* m_status = nullptr;
    GtkWidget* m_cancel = nullptr;
    bool m_busy = false;
    bool m_ended = false;
    std::unique_ptr<CreateEmailJob> m_job;
    std::thread m_worker;
    std::atomic<unsigned> m_doneSource{0}; // set by the worker, read here
    bool m_stopping = false;
};
