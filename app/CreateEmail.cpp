#include "app/CreateEmail.h"

#include "app/ActionSetting.h"
#include "app/BrowserCookies.h"
#include "app/CapturedPage.h"
#include "app/CreateEmailSteps.h"
#include "app/ProgressLog.h"
#include "app/RenderedConversion.h"
#include "app/TempMessageFile.h"
#include "convert/Mhtml.h"
#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"

#include <climits>

namespace {

void saveMessage(CreateEmailView& view, const CreateEmailJob& job) {
    StringBuffer dataDir;
    readDataDir(dataDir);
    std::string path;
    if (view.askSaveFileName(dataDir.getString(), saveFileNameFor(job.title).c_str(), path)) {
        FileSys::writeFile(path.c_str(), job.message.getString(), job.message.getSize(), nullptr);
    }
    view.endDialog(1);
}

void launchMessage(CreateEmailView& view, const CreateEmailJob& job) {
    std::string path;
    if (!writeTemporaryMessageFile(kTemporaryMessageName, job.message, path)) {
        // A failed write is not reported: the mail client is still asked to
        // open the name the message was meant to have.
        StringBuffer free;
        FileSys::getTempFilename(kTemporaryMessageName, free);
        path = free.getString();
    }
    // Without a mail program the message must not sit in the temporary
    // folder unmentioned.
    if (!view.openWithMailClient(path.c_str()) && view.offerSaveInstead(path.c_str())) {
        saveMessage(view, job);
        return;
    }
    view.showStatus(kStatusDone);
    view.endDialog(1);
}

// A page picked from the list is fetched as its browser shows it, unless
// the user turned that off. Cookies that cannot be read leave the page to
// be fetched without them.
std::vector<std::string> pickedPageCookies(CreateEmailView& view, const std::string& edit,
                                           bool hasSelection) {
    std::vector<std::string> lines;
    StringBuffer typed(edit.c_str());
    typed.trim();
    SessionSource source{};
    // Text in the edit box wins over the list, as the input itself does.
    if (!hasSelection || typed.getSize() > 0 || !readBrowserCookies() ||
        !view.selectedItemSource(source)) {
        return lines;
    }
    std::string problem;
    if (!readProfileCookies(source, lines, problem)) {
        lines.clear();
    }
    return lines;
}

// The desktop program's three settings: mail-safe output in which a page
// with noscript counts as one without scripts, marked as unsent.
void configureMailSafe(Mhtml& converter, const std::vector<std::string>& cookies,
                       MailProgram mailProgram) {
    converter.m_cookieLines = cookies;
    converter.m_mailProgram = mailProgram;
    converter.m_keepScripts = false;
    converter.m_scriptsOverNoscript = false;
    converter.m_markUnsent = true;
    converter.m_completePage = readCompletePage();
}

} // namespace

bool convertEmailInput(const char* input, StringBuffer& out,
                       const std::vector<std::string>& cookies, std::string* problem,
                       std::string* title, MailProgram mailProgram) {
    Mhtml converter;
    configureMailSafe(converter, cookies, mailProgram);
    ProgressLog log(nullptr, nullptr);
    converter.m_log = &log;
    std::string renderProblem;
    bool converted = false;
    if (readRunPageScripts()) {
        converted = convertRenderedPage(converter, input, RenderSettings(), out, renderProblem);
    } else if (takesUrlPath(input)) {
        converted = converter.convertUrl(input, out);
    } else {
        converted = converter.convertFile(input, kMailHostText, out);
    }
    if (problem != nullptr && !converted) {
        *problem = !renderProblem.empty()
                       ? renderProblem
                       : conversionFailureReason(converter, log, takesUrlPath(input));
    }
    if (title != nullptr) {
        *title = converter.messageTitle();
    }
    return converted;
}

bool prepareCreateEmail(CreateEmailView& view, CreateEmailJob& job) {
    if (job.captured == nullptr) {
        EmailInput input;
        const std::string edit = view.editText();
        std::string item;
        const bool hasSelection = view.selectedItemText(item);
        if (!chooseEmailInput(edit.c_str(), hasSelection ? item.c_str() : nullptr, input)) {
            view.showStatus(emptyInputStatus(input).c_str());
            return false;
        }
        job.input = input.text.getString();
        job.cookies = pickedPageCookies(view, edit, hasSelection);
    }
    if (launchMailClient) {
        job.mailProgram = view.openingMailProgram();
    }
    view.showStatus(kStatusWorking);
    return true;
}

void convertCreateEmail(CreateEmailJob& job) {
    job.converted = job.captured != nullptr
                        ? convertCapturedPage(*job.captured, job.message, &job.problem, &job.title,
                                              job.mailProgram)
                        : convertEmailInput(job.input.c_str(), job.message, job.cookies,
                                            &job.problem, &job.title, job.mailProgram);
}

void finishCreateEmail(CreateEmailView& view, CreateEmailJob& job, bool stopped) {
    if (stopped) {
        view.showStatus(kStatusStopped);
        return;
    }
    if (!job.converted) {
        view.showStatus(failedStatus(job.problem).c_str());
        return;
    }
    if (launchMailClient) {
        launchMessage(view, job);
    } else {
        saveMessage(view, job);
    }
}

void runCreateEmail(CreateEmailView& view) {
    CreateEmailJob job;
    if (prepareCreateEmail(view, job)) {
        convertCreateEmail(job);
        finishCreateEmail(view, job, false);
    }
}

bool convertCapturedPage(const CapturedPage& page, StringBuffer& out, std::string* problem,
                         std::string* title, MailProgram mailProgram) {
    Mhtml converter;
    configureMailSafe(converter, page.cookieLines, mailProgram);
    ProgressLog log(nullptr, nullptr);
    converter.m_log = &log;
    const bool converted =
        page.html.size() <= static_cast<size_t>(INT_MAX) &&
        converter.convertDocument(page.html.data(), static_cast<int>(page.html.size()),
                                  page.url.c_str(), "utf-8", out);
    if (problem != nullptr && !converted) {
        *problem = conversionFailureReason(converter, log, true);
    }
    if (title != nullptr) {
        *title = converter.messageTitle();
    }
    return converted;
}

void runCapturedPageEmail(CreateEmailView& view, const CapturedPage& page) {
    CreateEmailJob job;
    job.captured = &page;
    if (prepareCreateEmail(view, job)) {
        convertCreateEmail(job);
        finishCreateEmail(view, job, false);
    }
}
