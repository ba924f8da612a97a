// Paths that more than one file names. Staging directories that two subjects share: whichever
// capture runs first makes the directory, the other adds to it (and neither removes it while the
// other's files are in it). Device folders that more than one capture reads.
#ifndef CLONE_SHAREDPATHS_H
#define CLONE_SHAREDPATHS_H

#include "StagingPaths.h"

// Address book dump and address book certificates.
#define ADDRESS_BOOK_DIR CLONE_EXPORT_DATA_DIR "addressBook/"
// Mailbox passwords and the template pool.
#define MAILBOX_DIR CLONE_EXPORT_DATA_DIR "mailbox/"
// DLM enable state and the packet-filter rules.
#define IPTABLES_DIR CLONE_EXPORT_DATA_DIR "ipTables/"
// IPsec configuration and IPsec certificates.
#define IPSEC_DIR CLONE_EXPORT_DATA_DIR "ipSec/"

// The device's template pool: scan templates and the pool copy.
#define TEMPLATE_POOL "/xpaths/temp/template/pool/"
// The device's NVRAM files: packet-filter rules and SNMP trap registrations.
#define NVRAM_DIR "/xpaths/nc_nvram/"

#endif
