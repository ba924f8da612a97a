// Fixed device paths. On the device they are used as they stand; a host build places the
// simulated device's root ($CLONE_DEVICE_ROOT) in front of every one of them, in file names
// and in command lines alike, so the code can always be written with the device's own paths.
#ifndef CLONE_DEVICEPATH_H
#define CLONE_DEVICEPATH_H

#include <cstdarg>
#include <cstddef>
#include <string>

namespace cloneutil {

// Size of every path and command buffer: at most 4095 characters and the NUL.
constexpr std::size_t kPathBufferSize = 4096;
using PathBuffer = char[kPathBufferSize];

// The longest device root the library works with: every fixed command line, which may name
// three device paths, then fits its buffer with room to spare.
constexpr std::size_t kMaxDeviceRootLength = 1024;

// Host builds: takes $CLONE_DEVICE_ROOT anew (called at the start of every export). False, with
// the reason in WHY, when the root cannot be used: it does not exist, is not a directory, or is
// too long for the command lines. The root is set all the same, so paths can still be formed.
bool refreshDeviceRoot(std::string* why = nullptr);

// The root in front of fixed device paths: empty on the device.
const std::string& deviceRoot();

// The fixed device path PATH ("/xpaths/...") as this build reaches it.
std::string devicePath(const char* path);

// printf into BUF, with every fixed device path of FORMAT placed under the device root (quoted for
// the shell when it needs quoting). Arguments are inserted as they are. False, with BUF emptied,
// when the result does not fit: a cut path or command must never be used.
bool deviceCommand(char (&buf)[kPathBufferSize], const char* format, ...) __attribute__((format(printf, 2, 3)));

// LINE, a command line of fixed device paths taken as it stands (no printf conversions), into BUF
// with the root in front of each device path, as deviceCommand does; false, with BUF emptied,
// when it does not fit.
bool deviceCommandLine(char (&buf)[kPathBufferSize], const std::string& line);

// deviceCommand with the arguments as a va_list.
bool deviceCommandV(char (&buf)[kPathBufferSize], const char* format, va_list args);

// printf into BUF; false, with BUF emptied, when the result does not fit.
bool formatPath(char (&buf)[kPathBufferSize], const char* format, ...) __attribute__((format(printf, 2, 3)));

// PATH without the slashes that end it ("/" stays "/"): the name lstat and realpath judge.
std::string withoutTrailingSlashes(std::string path);

// TEXT as one shell word: single quotes, with embedded single quotes closed, escaped and reopened.
std::string shellQuote(const std::string& text);

}  // namespace cloneutil

#endif
