// Reads the page in a tab as the browser shows it, with the cookies its
// resources need, and hands it to the native host that writes the e-mail.
// Chromium runs this as a service worker; Firefox as a background script,
// after message.js.
"use strict";

if (typeof importScripts === "function") {
    importScripts("message.js");
}

// Firefox has both names; in Manifest V3 both return promises.
const api = globalThis.browser ?? globalThis.chrome;
const HOST = "org.pagewing.host";
const MENU_ID = "pagewing-email-page";
const DEFAULT_TITLE = api.runtime.getManifest().action.default_title;

// Runs inside the page, so it must not use anything from this file. The DOM
// is read after the page's scripts ran; the resource list covers what they
// fetched as well as what the markup names.
function collectPage() {
    const resources = performance.getEntriesByType("resource").map((entry) => entry.name);
    for (const element of document.querySelectorAll("img, link, script, source, iframe")) {
        const address = element.src || element.href;
        if (typeof address === "string" && address) {
            resources.push(address);
        }
    }
    const doctype = document.doctype;
    return {
        url: location.href,
        title: document.title,
        charset: document.characterSet,
        doctype: doctype ? { name: doctype.name, publicId: doctype.publicId, systemId: doctype.systemId } : null,
        html: document.documentElement.outerHTML,
        resources: resources,
    };
}

// A private window or a Firefox container keeps its own cookies; ask the
// store the tab belongs to, not the default one.
async function cookieStoreOf(tabId) {
    const stores = await api.cookies.getAllCookieStores();
    return stores.find((store) => store.tabIds.includes(tabId))?.id;
}

async function showResult(error) {
    const reason = error ? String(error.message ?? error) : "";
    try {
        await api.action.setBadgeText({ text: reason ? "!" : "" });
        await api.action.setTitle({ title: reason ? "Pagewing: " + reason : DEFAULT_TITLE });
    } catch (badgeError) {
        console.error("Pagewing: cannot update the button:", badgeError);
    }
}

// Takes a tab object (from the button or the menu) or a tab id (from tests
// driving the browser), and returns the host's answer.
async function captureTab(tabOrId) {
    try {
        const tabId = typeof tabOrId === "number" ? tabOrId : tabOrId?.id;
        if (typeof tabId !== "number") {
            throw new Error("no tab to capture");
        }
        const [injection] = await api.scripting.executeScript({ target: { tabId: tabId }, func: collectPage });
        const page = injection?.result;
        if (!page) {
            throw new Error("the page could not be read");
        }
        const storeId = await cookieStoreOf(tabId);
        const lists = await Promise.all(
            resourceOrigins(page.url, page.resources).map((url) =>
                api.cookies.getAll(storeId === undefined ? { url: url } : { url: url, storeId: storeId })
            )
        );
        const message = buildMessage(page, shapeCookies(lists));
        const answer = await api.runtime.sendNativeMessage(HOST, message);
        // The host answers {"ok": false, "error": ...} for what it refuses.
        if (answer?.ok !== true) {
            throw new Error(answer?.error ?? "Pagewing did not take the page");
        }
        await showResult(null);
        return answer;
    } catch (error) {
        await showResult(error);
        throw error;
    }
}

globalThis.pagewingCapture = captureTab;

function captureAndLog(tab) {
    // The reason is on the button already; the console keeps the details.
    captureTab(tab).catch((error) => console.error("Pagewing:", error));
}

api.runtime.onInstalled.addListener(async () => {
    // An update keeps the old entry; creating it twice would fail.
    await api.contextMenus.removeAll();
    api.contextMenus.create({ id: MENU_ID, title: "Email this page", contexts: ["page"] });
});

api.contextMenus.onClicked.addListener((info, tab) => {
    if (info.menuItemId === MENU_ID) {
        captureAndLog(tab);
    }
});

api.action.onClicked.addListener(captureAndLog);
