// Attribute-list transformations shared by the NVRAM and configuration capture helpers. Lists
// are read as bytes: a line may hold any byte but the line feed (a CR stays part of the line),
// and it may be of any length. Every transformation drops empty lines and ends each line it
// writes with a line feed.
#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_set>
#include <unistd.h>

#include "CloneCreator.h"
#include "CloneLog.h"
#include "Command.h"
#include "Descriptors.h"
#include "DevicePath.h"
#include "Handles.h"
#include "InputFile.h"
#include "NvramFiles.h"
#include "Staging.h"

namespace {

// The list line that asks to clone the automatic-addressing mode, and how saveCnConfig spells
// the value "static" in its answer (the word's bytes as hex digits).
const char kAutoAddressingLine[] = ":TCPIP_ANY_TOKEN:TCPIP_AUTO_ADDRESSING_TAG:1";
const char kStaticValue[] = "737461746963";

const std::string_view kProfile = "<profile/>";

// A list file being written. Every write is checked, so a full disk never leaves a short list
// behind that looks complete.
class ListWriter {
public:
    explicit ListWriter(const char* file)
        : file_(cloneutil::openForWriting(cloneutil::devicePath(file))), ok_(file_ != nullptr)
    {
    }

    // One line made of PARTS, with its line feed.
    void line(std::initializer_list<std::string_view> parts)
    {
        for (std::string_view part : parts) {
            put(part);
        }
        put("\n");
    }

    bool ok() const { return ok_; }

    // True when the file was created and everything written reached it.
    bool close()
    {
        if (file_) {
            ok_ = std::fclose(file_.release()) == 0 && ok_;
        }
        return ok_;
    }

private:
    void put(std::string_view text)
    {
        if (ok_ && !text.empty() && std::fwrite(text.data(), 1, text.size(), file_.get()) != text.size()) {
            ok_ = false;
        }
    }

    cloneutil::File file_;
    bool ok_;
};

cloneutil::InputFile openList(const char* file)
{
    return cloneutil::InputFile(cloneutil::devicePath(file));
}

void removeFile(const char* file)
{
    // Best effort: files this export made itself; nothing more can be done if one stays.
    (void)std::remove(cloneutil::devicePath(file).c_str());
}

// A list that could not be written whole is removed rather than left short: its absence is how
// the capture helper learns that the list is lost.
void dropList(const char* operation, const char* list)
{
    const cloneutil::SystemError why;
    CLONE_LOG(logSpecError, "%s: %s cannot be written completely and is dropped: %s", operation, list, why.text());
    removeFile(list);
}

// The finished scratch file takes the place of LIST; when it is not complete, neither stays.
void replaceList(const char* operation, ListWriter& scratch, const char* list)
{
    if (scratch.close() &&
        std::rename(cloneutil::devicePath(ATTR_LIST_TMP).c_str(), cloneutil::devicePath(list).c_str()) == 0) {
        return;
    }
    removeFile(ATTR_LIST_TMP);
    dropList(operation, list);
}

// Hands every non-empty line of LIST to PERLINE, as long as OUT takes what is written.
template <typename PerLine>
void forEachLine(const char* list, const ListWriter& out, PerLine perLine)
{
    cloneutil::InputFile in = openList(list);
    std::string line;
    while (out.ok() && std::getline(in, line)) {
        if (!line.empty()) {
            perLine(line);
        }
    }
}

// PATH as one shell word. The fixed device paths need no quotes, so the command stays exactly
// the device's own.
std::string shellWord(const std::string& path)
{
    static const char kPlain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+,";
    return !path.empty() && path.find_first_not_of(kPlain) == std::string::npos ? path : cloneutil::shellQuote(path);
}

// Asks saveCnConfig for the automatic-addressing value of LINE and writes LINE to OUT once for
// every answer line that is not the static value. No answer, or no question, keeps nothing: an
// addressing mode that cannot be checked is not cloned.
void keepUnlessStatic(const std::string& line, ListWriter& out)
{
    ListWriter question(AUTO_ADDRESS_IN);
    question.line({line});
    if (!question.close()) {
        CLONE_LOG(logSpecError, "%s: %s cannot be written; the automatic-addressing mode is not cloned",
                  "removeStaticAddressCloning", AUTO_ADDRESS_IN);
    } else {
        // A tool stopped at the time limit gave no whole answer.
        if (cloneutil::runDeviceCommand(SAVE_CN_CONFIG " -i " AUTO_ADDRESS_IN " -o " AUTO_ADDRESS_OUT) == -1) {
            removeFile(AUTO_ADDRESS_OUT);
        }
        cloneutil::InputFile answer = openList(AUTO_ADDRESS_OUT);
        std::string value;
        while (out.ok() && std::getline(answer, value)) {
            if (!value.empty() && value.find(kStaticValue) == std::string::npos) {
                out.line({line});
            }
        }
    }
    removeFile(AUTO_ADDRESS_IN);
    removeFile(AUTO_ADDRESS_OUT);
}

}  // namespace

void CloneCreator::convertNVRamAttributeFormat(const char* attributeFileName)
{
    ListWriter out(ATTR_LIST_TMP);
    forEachLine(attributeFileName, out, [&out](const std::string& line) {
        // TOKEN:TAG is what the groups list; saveCnConfig reads :TOKEN:TAG:1. Other lines are
        // the tool's to judge.
        if (std::count(line.begin(), line.end(), ':') == 1) {
            out.line({":", line, ":1"});
        } else {
            out.line({line});
        }
    });
    // Also when the list did not open: an unreadable list becomes an empty one.
    replaceList("convertNVRamAttributeFormat", out, attributeFileName);
}

void CloneCreator::expandConnectionNames(const char* attributeFileName, bool_t isDataStoreCCS)
{
    {
        ListWriter out(ATTR_LIST_TMP);
        forEachLine(attributeFileName, out, [&out](const std::string& line) {
            const std::size_t at = line.find(kProfile);
            if (at == std::string::npos) {
                out.line({line});
                return;
            }
            // Only the first placeholder names the connection.
            const std::string_view head(line.data(), at);
            const std::string_view tail(line.data() + at + kProfile.size(), line.size() - at - kProfile.size());
            out.line({head, "wired", tail});
            out.line({head, "wireless", tail});
        });
        if (!out.close()) {
            removeFile(ATTR_LIST_TMP);
            dropList("expandConnectionNames", attributeFileName);
            return;
        }
    }
    if (isDataStoreCCS) {
        // The CCS data store list keeps the order the groups gave it.
        removeDuplicates(ATTR_LIST_TMP, attributeFileName);
    } else if (cloneutil::runDeviceCommand("sort -u " ATTR_LIST_TMP ">%s",
                                           shellWord(cloneutil::devicePath(attributeFileName)).c_str()) == -1) {
        CLONE_LOG(logSpecError, "%s: Sorting of %s file content is failed", "expandConnectionNames", attributeFileName);
    }
    removeFile(ATTR_LIST_TMP);
}

void CloneCreator::removeDuplicates(const char* source, const char* destination)
{
    removeFile(destination);
    ListWriter out(destination);
    cloneutil::InputFile in = openList(source);
    if (!out.ok() || !in.is_open()) {
        return;
    }
    // The lines already written, so each source line costs one look-up whatever the list's size.
    std::unordered_set<std::string> written;
    std::string line;
    while (out.ok() && std::getline(in, line)) {
        if (!line.empty() && written.insert(line).second) {
            out.line({line});
        }
    }
    if (!out.close()) {
        dropList("removeDuplicates", destination);
    }
}

void CloneCreator::removeStaticAddressCloning()
{
    // A clone of the device's own configuration keeps whatever addressing mode it has.
    if (::access(cloneutil::devicePath(NVRAM_ATTR_LIST_CLONESELF).c_str(), F_OK) == 0) {
        return;
    }
    ListWriter out(ATTR_LIST_TMP);
    forEachLine(NVRAM_ATTR_LIST, out, [&out](const std::string& line) {
        if (line.find(kAutoAddressingLine) == std::string::npos) {
            out.line({line});
        } else {
            keepUnlessStatic(line, out);
        }
    });
    replaceList("removeStaticAddressCloning", out, NVRAM_ATTR_LIST);
}

bool_t CloneCreator::isRebootRequired()
{
    // Network settings take effect only when the device starts.
    static const char* const kNetworkTokens[] = {"IPV6_ANY_TOKEN", "TCPIP_ANY_TOKEN", "IP_INTERFACE_ANY_TOKEN",
                                                 "PCI_ENET_TOKEN"};
    // A list that cannot be read holds nothing that needs a restart.
    cloneutil::InputFile in = openList(NVRAM_ATTR_LIST);
    std::string line;
    while (std::getline(in, line)) {
        for (const char* token : kNetworkTokens) {
            if (line.find(token) != std::string::npos) {
                return TRUE;
            }
        }
    }
    return FALSE;
}
