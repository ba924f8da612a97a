// Certificate-naming stand-in: the subject-name hash of a PEM certificate, as openssl x509 -hash.
#include "cert_hash.h"

#include <cstdio>
#include <memory>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <string>

#include "clone_io.h"

extern "C" int get_certHashName(const char* certificatePath, char* name)
{
    if (name == nullptr) {
        return -1;
    }
    name[0] = '\0';
    if (certificatePath == nullptr) {
        return -1;
    }
    std::string error;
    clonefmt::UniqueFd fd = clonefmt::openRegularFile(certificatePath, error);
    std::unique_ptr<FILE, int (*)(FILE*)> file(fd.valid() ? ::fdopen(fd.get(), "r") : nullptr, &std::fclose);
    if (!file) {
        return -1;
    }
    fd.release();  // the stream owns it now
    std::unique_ptr<X509, void (*)(X509*)> cert(PEM_read_X509(file.get(), nullptr, nullptr, nullptr), &X509_free);
    if (!cert) {
        return -1;
    }
    (void)std::snprintf(name, 32, "%08lx", X509_subject_name_hash(cert.get()) & 0xffffffffUL);
    return 0;
}
