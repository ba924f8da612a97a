/* Device certificate-naming service. */
#ifndef CLONE_PLATFORM_CERT_HASH_H
#define CLONE_PLATFORM_CERT_HASH_H

#ifdef __cplusplus
extern "C" {
#endif

/* Writes into the 32-byte NAME the file name under which the device keeps the private key of
 * the certificate at CERTIFICATEPATH (empty when it is not a readable certificate). */
int get_certHashName(const char* certificatePath, char* name);

#ifdef __cplusplus
}
#endif

#endif
