// What the extension sends to the native host, built from what the page and
// the cookie store give. No browser calls here, so node can test it; the
// service worker loads it with importScripts, Firefox as a background script.
"use strict";

// Only these schemes reach a server with cookies; data:, blob:, about: and
// the rest are either inline already or not fetchable by the host.
function isWebUrl(url) {
    return url.protocol === "http:" || url.protocol === "https:";
}

function parseUrl(text) {
    if (typeof text !== "string") {
        return null;
    }
    try {
        return new URL(text);
    } catch {
        return null;
    }
}

// The origins whose cookies the host may need: the page's first (its own
// cookies matter most), then the others in a stable order. URL drops a
// default port, so "https://a:443/x" and "https://a/y" are one origin.
function resourceOrigins(pageUrl, resourceUrls) {
    const originOf = (text) => {
        const url = parseUrl(text);
        return url && isWebUrl(url) ? url.protocol + "//" + url.host + "/" : null;
    };
    const page = originOf(pageUrl);
    const others = new Set();
    for (const text of resourceUrls ?? []) {
        const origin = originOf(text);
        if (origin && origin !== page) {
            others.add(origin);
        }
    }
    const sorted = [...others].sort();
    return page ? [page, ...sorted] : sorted;
}

// One list out of several cookies.getAll answers. A cookie set on a shared
// parent domain comes back for every origin below it; the first copy wins.
// Only the fields the host reads are kept, so nothing browser-specific
// (storeId, partitionKey, sameSite, firstPartyDomain) leaks into the message.
function shapeCookies(cookieLists) {
    const seen = new Set();
    const shaped = [];
    for (const list of cookieLists ?? []) {
        for (const cookie of list ?? []) {
            const key = JSON.stringify([cookie.domain, cookie.path, cookie.name]);
            if (seen.has(key)) {
                continue;
            }
            seen.add(key);
            const kept = {
                domain: cookie.domain,
                hostOnly: cookie.hostOnly,
                path: cookie.path,
                secure: cookie.secure,
                httpOnly: cookie.httpOnly,
                name: cookie.name,
                value: cookie.value,
            };
            // Session cookies have no expiry; the host must not invent one.
            if (cookie.expirationDate !== undefined && cookie.expirationDate !== null) {
                kept.expirationDate = cookie.expirationDate;
            }
            shaped.push(kept);
        }
    }
    return shaped;
}

// outerHTML leaves the doctype out; this writes it back as the page had it.
// An identifier holding a double quote can only have been single-quoted.
function doctypeText(doctype) {
    if (!doctype) {
        return "<!DOCTYPE html>";
    }
    const quote = (text) => (text.includes("\"") ? "'" + text + "'" : "\"" + text + "\"");
    const publicId = doctype.publicId ?? "";
    const systemId = doctype.systemId ?? "";
    let text = "<!DOCTYPE " + (doctype.name || "html");
    if (publicId) {
        text += " PUBLIC " + quote(publicId);
        if (systemId) {
            text += " " + quote(systemId);
        }
    } else if (systemId) {
        text += " SYSTEM " + quote(systemId);
    }
    return text + ">";
}

function buildMessage(page, cookies) {
    const url = parseUrl(page.url);
    if (!url) {
        throw new Error("cannot email this page: its address " + JSON.stringify(page.url) + " is not a URL");
    }
    if (!isWebUrl(url)) {
        throw new Error("cannot email this page: only http and https pages can be sent, not " + url.protocol);
    }
    return {
        url: page.url,
        title: page.title,
        charset: page.charset,
        html: doctypeText(page.doctype) + page.html,
        cookies: cookies,
    };
}

if (typeof module !== "undefined") {
    module.exports = { resourceOrigins, shapeCookies, doctypeText, buildMessage };
}
