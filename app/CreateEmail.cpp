#include "app/CreateEmail.h"

#include "app/ActionSetting.h"
#include "app/CreateEmailSteps.h"
#include "app/TempMessageFile.h"
#include "convert/Mhtml.h"
#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"

namespace {

void launchMessage(CreateEmailView& view, const StringBuffer& message) {
    std::string path;
    if (!writeTemporaryMessageFile(kTemporaryMessageName, message, path)) {
        // A failed write is not reported: the mail client is still asked to
        // open the name the message was meant to have.
        StringBuffer free;
        FileSys::getTempFilename(kTemporaryMessageName, free);
        path = free.getString();
    }
    view.openWithMailClient(path.c_str());
    view.showStatus(kStatusDone);
    view.endDialog(1);
}

void saveMessage(CreateEmailView& view, const StringBuffer& message) {
    StringBuffer dataDir;
    readDataDir(dataDir);
    std::string path;
    if (view.askSaveFileName(dataDir.getString(), path)) {
        FileSys::writeFile(path.c_str(), message.getString(), message.getSize(), nullptr);
    }
    view.endDialog(1);
}

} // namespace

bool convertEmailInput(const char* input, StringBuffer& out) {
    Mhtml converter;
    converter.m_keepScripts = false;
    converter.m_scriptsOverNoscript = false;
    converter.m_markUnsent = true;
    converter.m_completePage = readCompletePage();
    if (takesUrlPath(input)) {
        return converter.convertUrl(input, out);
    }
    return converter.convertFile(input, kMailHostText, out);
}

void runCreateEmail(CreateEmailView& view) {
    EmailInput input;
    const std::string edit = view.editText();
    std::string item;
    const bool hasSelection = view.selectedItemText(item);
    if (!chooseEmailInput(edit.c_str(), hasSelection ? item.c_str() : nullptr, input)) {
        view.showStatus(emptyInputStatus(input).c_str());
        return;
    }
    view.showStatus(kStatusWorking);
    StringBuffer message;
    if (!convertEmailInput(input.text.getString(), message)) {
        view.showStatus(kStatusFailed);
        return;
    }
    if (launchMailClient) {
        launchMessage(view, message);
    } else {
        saveMessage(view, message);
    }
}
