#include "clone_manifest_shape.h"

#include <algorithm>
#include <cstring>

namespace clonefmt {

namespace {

// The reference at TEXT[AT] ('&') is a character reference or one of the five predefined entities:
// none of them expands into markup.
bool harmlessReference(const std::string& text, std::size_t at)
{
    if (text.compare(at, 2, "&#") == 0) {
        return true;
    }
    for (const char* name : {"&lt;", "&gt;", "&amp;", "&apos;", "&quot;"}) {
        if (text.compare(at, std::strlen(name), name) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool manifestShapeOk(const std::string& text, std::string& error)
{
    const auto refuse = [&error](const std::string& why) {
        error = why;
        return false;
    };
    if (text.size() > kMaxManifestBytes) {
        return refuse("larger than " + std::to_string(kMaxManifestBytes) + " bytes");
    }
    const auto badReference = [&text](std::size_t from, std::size_t to) {
        for (std::size_t amp = text.find('&', from); amp < to; amp = text.find('&', amp + 1)) {
            if (!harmlessReference(text, amp)) {
                return true;
            }
        }
        return false;
    };
    const std::string refusedReference = "an entity reference (a clone file's manifest never declares entities)";
    std::size_t elements = 0;
    std::size_t depth = 0;
    std::size_t textRun = 0;
    std::size_t at = 0;
    // Whatever is not well-formed is left to the parser; this scan only bounds what it will do.
    while (at < text.size()) {
        const std::size_t open = std::min(text.find('<', at), text.size());
        if (badReference(at, open)) {
            return refuse(refusedReference);
        }
        textRun += open - at;
        if (textRun > kMaxManifestText) {
            return refuse("a text of more than " + std::to_string(kMaxManifestText) + " bytes");
        }
        if (open == text.size()) {
            break;
        }
        const auto skipTo = [&text, open](const char* end, std::size_t from) {
            const std::size_t found = text.find(end, open + from);
            return found == std::string::npos ? text.size() : found + std::strlen(end);
        };
        if (text.compare(open, 2, "<?") == 0) {
            at = skipTo("?>", 2);
        } else if (text.compare(open, 4, "<!--") == 0) {
            at = skipTo("-->", 4);
        } else if (text.compare(open, 9, "<![CDATA[") == 0) {
            at = skipTo("]]>", 9);
            textRun += at - open;
            if (textRun > kMaxManifestText) {
                return refuse("a text of more than " + std::to_string(kMaxManifestText) + " bytes");
            }
            continue;
        } else if (text.compare(open, 2, "<!") == 0) {
            return refuse("a document type or entity declaration (a clone file's manifest never has one)");
        } else if (text.compare(open, 2, "</") == 0) {
            depth -= depth > 0 ? 1 : 0;
            at = skipTo(">", 2);
        } else {
            if (++elements > kMaxManifestElements) {
                return refuse("more than " + std::to_string(kMaxManifestElements) + " elements");
            }
            std::size_t attributes = 0;
            char quote = 0;
            std::size_t i = open + 1;
            for (; i < text.size() && (quote != 0 || text[i] != '>'); ++i) {
                if (quote != 0) {
                    quote = text[i] == quote ? '\0' : quote;
                    if (quote != 0 && text[i] == '&' && !harmlessReference(text, i)) {
                        return refuse(refusedReference);
                    }
                } else if (text[i] == '"' || text[i] == '\'') {
                    quote = text[i];
                } else if (text[i] == '=' && ++attributes > kMaxManifestAttributes) {
                    return refuse("an element with more than " + std::to_string(kMaxManifestAttributes) +
                                  " attributes");
                }
            }
            if (i < text.size() && text[i - 1] != '/' && ++depth > kMaxManifestDepth) {
                return refuse("elements nested more than " + std::to_string(kMaxManifestDepth) + " deep");
            }
            at = i + 1;
        }
        textRun = 0;
    }
    return true;
}

}  // namespace clonefmt
