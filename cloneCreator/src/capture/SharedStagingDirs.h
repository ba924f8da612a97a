// Staging directories that two subjects share: whichever capture runs first makes the directory,
// the other adds to it (and neither removes it while the other's files are in it).
#ifndef CLONE_SHAREDSTAGINGDIRS_H
#define CLONE_SHAREDSTAGINGDIRS_H

#include "CloneCreator.h"

// Address book dump and address book certificates.
#define ADDRESS_BOOK_DIR CLONE_EXPORT_DATA_DIR "addressBook/"
// Mailbox passwords and the template pool.
#define MAILBOX_DIR CLONE_EXPORT_DATA_DIR "mailbox/"
// DLM enable state and the packet-filter rules.
#define IPTABLES_DIR CLONE_EXPORT_DATA_DIR "ipTables/"
// IPsec configuration and IPsec certificates.
#define IPSEC_DIR CLONE_EXPORT_DATA_DIR "ipSec/"

#endif
