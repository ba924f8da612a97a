// Signing stand-in for development hosts. The password is checked against a PBKDF2 verifier in the
// device's configuration; the archive is wrapped into a clone file signed with the device's Ed25519
// key (docs/clone-file-format.md). The password is never logged, written or passed on.
#include "CloneMaker.h"

#include <string>
#include <unistd.h>

#include "clone_container.h"
#include "clone_password.h"
#include "device_root.h"
#include "device_log.h"

#define MAKER_LOG(record, ...) Log_SpecEntry(&(record), __FILE__, __LINE__, __VA_ARGS__)

namespace {

const char kPasswordVerifier[] = "/config/clone_password";
const char kSigningKey[] = "/config/clone_signing_key.pem";

}  // namespace

CloneMaker::CloneMaker() = default;
CloneMaker::~CloneMaker() = default;

int CloneMaker::Process_Authentication_DLM(const char* password)
{
    if (password == nullptr) {
        MAKER_LOG(logSpecError, "No clone password given");
        return 1;
    }
    std::string detail;
    switch (clonefmt::checkPassword(clonehost::hostPath(kPasswordVerifier), password, detail)) {
    case clonefmt::PasswordCheck::Match:
        return 0;
    case clonefmt::PasswordCheck::Mismatch:
        return 1;
    case clonefmt::PasswordCheck::Unreadable:
        MAKER_LOG(logSpecError, "Clone password verifier cannot be read: %s", detail.c_str());
        return 2;
    case clonefmt::PasswordCheck::Malformed:
        MAKER_LOG(logSpecError, "Clone password verifier is malformed: %s", detail.c_str());
        return 2;
    }
    return 2;
}

bool_t CloneMaker::cloneHandler(char* outputLocation, const char* cloneType, const char* name)
{
    if (outputLocation == nullptr || cloneType == nullptr || name == nullptr) {
        MAKER_LOG(logSpecError, "Clone file not written: output location, clone type or name missing");
        return FALSE;
    }
    // Checked before any path is formed: a name such as "../x" must not reach the file system.
    if (!clonefmt::validLabel(cloneType) || !clonefmt::validLabel(name)) {
        MAKER_LOG(logSpecError, "Clone file not written: clone type \"%s\" or name \"%s\" is not valid", cloneType,
                  name);
        return FALSE;
    }
    const std::string archive = std::string(outputLocation) + "/" + name + ".tar";
    const std::string cloneFile = std::string(outputLocation) + "/" + name + ".dlm";
    std::string error;
    clonefmt::SigningKey key;
    bool written = false;
    if (!key.loadPrivate(clonehost::hostPath(kSigningKey), error)) {
        MAKER_LOG(logSpecError, "Clone file %s not written: no signing key: %s", cloneFile.c_str(), error.c_str());
    } else if (!clonefmt::writeCloneFile(archive, cloneFile, cloneType, name, key, error)) {
        MAKER_LOG(logSpecError, "Clone file %s not written: %s", cloneFile.c_str(), error.c_str());
    } else {
        written = true;
    }
    if (!written) {
        // A clone file left from an earlier run would pass for the result of this one.
        ::unlink(cloneFile.c_str());
        return FALSE;
    }
    return TRUE;
}
