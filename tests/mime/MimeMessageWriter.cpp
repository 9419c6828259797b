// Renders a multipart/related message with an HTML part and image parts of
// awkward sizes, and writes next to it every part's input bytes and a
// manifest, so that an independent MIME reader can check the message.
//
// Usage: mime_message_writer <output directory>

#include "mime/ContentCoding.h"
#include "mime/DateParser.h"
#include "mime/MimeMessage2.h"

#include "foundation/StringBuffer.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

struct PartPlan {
    std::string contentType;
    std::string charset;
    std::string name;
    std::string encoding;
    std::string bytes;
};

std::string makeHtml() {
    std::string html = "<html><head><title>Check</title></head>\n<body>\n";
    html += "From the start of a line\n";
    html += ".a line that starts with a full stop\n";
    html += std::string(200, 'w') + "\n";
    html += "trailing blank \n";
    html += "trailing tab\t\n";
    html += "a CR LF line with a trailing blank \r\n";
    html += "From here too, after CR LF\r\n.\r\n";
    html += "equals = and question ? marks\n";
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        html += static_cast<char>(byte);
    }
    html += "\nlone CR\rend\n</body></html>";
    return html;
}

std::string randomBytes(size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    mkdir(directory.c_str(), 0755);

    std::vector<PartPlan> plans;
    plans.push_back({"text/html", "iso-8859-1", "", "quoted-printable", makeHtml()});
    const size_t imageSizes[] = {0, 1, 53, 54, 55, 1024 * 1024};
    unsigned seed = 1;
    for (size_t size : imageSizes) {
        plans.push_back({"image/png", "", "image" + std::to_string(size) + ".png", "base64",
                         randomBytes(size, seed++)});
    }

    // A Subject long enough to need several encoded words.
    std::string subject;
    for (int i = 0; i < 120; ++i) {
        subject += "Gr\xC3\xBC\xC3\x9F\xE6\x97\xA5 ";
    }

    MimeMessage2 root;
    root.initMultipartRelated();
    root.setTypeParam("text/html");
    for (const PartPlan& plan : plans) {
        MimeMessage2* part = new MimeMessage2();
        part->setContentType(plan.contentType.c_str());
        if (!plan.charset.empty()) {
            part->setCharset(plan.charset.c_str());
        }
        if (!plan.name.empty()) {
            part->setNameParam(plan.name.c_str());
            part->setHeaderField("Content-ID", ("<" + plan.name + ">").c_str());
        }
        if (plan.contentType == "text/html") {
            StringBuffer html;
            html.appendBytes(plan.bytes.data(), static_cast<int>(plan.bytes.size()));
            part->setBodyFromSb(html);
            part->setTransferEncoding(plan.encoding.c_str());
            part->setHeaderField("Content-Location", "http://127.0.0.1/page.html");
        } else {
            part->setTransferEncoding(plan.encoding.c_str());
            part->setBodyBytes(plan.bytes.data(), static_cast<int>(plan.bytes.size()),
                               plan.encoding.c_str());
            part->setTransferEncoding(plan.encoding.c_str());
        }
        root.addPart(part);
    }
    root.setHeaderField("MIME-Version", "1.0");
    StringBuffer encodedSubject;
    ContentCoding().encodeHeaderWord(subject.data(), static_cast<int>(subject.size()), "utf-8",
                                     encodedSubject);
    root.setHeaderField("Subject", encodedSubject.getString());
    root.setHeaderField("X-Unsent", "1");
    char date[200];
    DateParser().formatCurrentDate(date, sizeof date);
    root.setHeaderField("Date", date);

    StringBuffer rendered;
    root.renderMessage(rendered);
    bool ok = writeFile(directory + "/message.eml",
                        std::string(rendered.getString(), static_cast<size_t>(rendered.getSize())));

    std::string manifest = "{\n  \"parts\": [\n";
    for (size_t i = 0; i < plans.size(); ++i) {
        const std::string file = "part" + std::to_string(i) + ".bin";
        ok = writeFile(directory + "/" + file, plans[i].bytes) && ok;
        manifest += "    {\"file\": " + jsonString(file) +
                    ", \"content_type\": " + jsonString(plans[i].contentType) +
                    ", \"charset\": " + jsonString(plans[i].charset) +
                    ", \"name\": " + jsonString(plans[i].name) +
                    ", \"encoding\": " + jsonString(plans[i].encoding) + "}";
        manifest += i + 1 < plans.size() ? ",\n" : "\n";
    }
    manifest += "  ]\n}\n";
    ok = writeFile(directory + "/manifest.json", manifest) && ok;
    ok = writeFile(directory + "/subject.txt", subject) && ok;
    return ok ? 0 : 1;
}
