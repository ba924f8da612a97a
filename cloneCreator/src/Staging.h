// What every clone helper does to stage data: make its directory under the export tree, copy
// into it, record the staged path in its manifest element.
#ifndef CLONE_STAGING_H
#define CLONE_STAGING_H

#include <sys/types.h>

#include <libxml/tree.h>

namespace cloneutil {

class DeviceFolders;

// How a staging directory is made, which decides whether an existing one is accepted.
enum class MakeDir {
    MakeOrAccept,  // mkdir; an existing directory is fine, a missing parent is not
    MakeNew,       // mkdir; an existing directory is a failure too
    MakePath,      // xmkdir: missing parents are made as well, an existing directory is fine
};

// Makes the fixed device directory DIR (mode 0755); false on failure.
bool makeStagingDir(const char* dir, MakeDir how);

// A capture that is a plain copy: one device file, or a folder copied by a cp command line
// ("CP SOURCEPATTERN STAGED 2>/dev/null"), into its staging directory.
struct PlainCopy {
    const char* source;      // the device file, or the folder the command line names
    const char* cp;          // null: SOURCE is one file, copied with its mode and times; else the cp and its options
    const char* pattern;     // with CP: the names the shell's pattern takes from SOURCE; null: the whole tree
    const char* staged;      // one file: where it lands; a folder: the staging directory
    MakeDir how;             // how the staging directory is made
    const char* dirFailure;  // ERROR format, with the staging directory, when it cannot be made
    const char* failure;     // INFO when nothing was copied
    const char* missing;     // null, or an ERROR format, with SOURCE, for a source that is not there at all
    bool namesFolder;        // one file that its element names by its staging directory
};

// Makes COPY's staging directory (which must then be a directory of its own, no link) and copies.
// A failed copy leaves nothing of its own and removes the staging directory when that is empty,
// so one another capture shares stays. False, logged, when nothing was copied.
bool copyPlain(DeviceFolders& folders, const PlainCopy& copy);

// copyPlain, then the copy's path below the export tree (its staging directory for a folder or
// when the file is named by its folder) as the text of NODE. False when NODE does not name a copy.
bool stagePlainCopy(DeviceFolders& folders, const PlainCopy& copy, xmlNodePtr node);

// A device tool's output captured into one staged file, and what counts as captured.
struct ToolOutput {
    const char* dir;         // its staging directory
    MakeDir how;             // how that directory is made
    const char* staged;      // the device path the tool writes
    const char* dirFailure;  // ERROR format, with DIR, when the directory cannot be made
    const char* failure;     // INFO when nothing was captured
    bool statusDecides;      // true: exit status 0 means captured; false: only non-empty output does
    bool keepFolder;         // on failure the directory stays (other captures stage below it)
    mode_t mode;             // 0: as the tool left it; else the staged file's mode after capture
};

// Makes OUT's directory, runs RUN (a command's result, see runCommand) and decides by OUT's
// policy. A tool that was stopped or never started has captured nothing, whatever it wrote.
// What was not captured is removed (a partial output never reaches a clone file), and so is the
// directory unless the policy keeps it; false then, logged.
bool captureToolOutput(const ToolOutput& out, int (*run)());

// True when TEXT is UTF-8 made only of characters that XML 1.0 allows in a document.
bool isXmlText(const char* text);

// TEXT as the whole content of NODE (a staged path relative to the export tree, a value), taken
// as it is: "&" in it is never read as an entity reference. Text that XML cannot hold (control
// characters, bytes that are not UTF-8) would make the saved manifest unreadable: it is refused
// with a log record, the node is left as it was, and the result is false.
bool setNodeText(xmlNodePtr node, const char* text);

// setNodeText for STAGED, a file's path relative to the export tree, when a tool or a plug-in
// left a regular file there; otherwise the node stays as it was, so the manifest never names
// a file the clone file lacks. False then, logged as "HELPER: STAGED was not staged".
bool nameStagedFile(xmlNodePtr node, const char* staged, const char* helper);

}  // namespace cloneutil

#endif
