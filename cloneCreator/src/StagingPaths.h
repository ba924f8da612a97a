// Fixed locations of the clone staging area and the attribute lists group expansion writes there.
// A leaf: it includes nothing, so every floor can name these paths without reaching up.
#ifndef CLONE_STAGINGPATHS_H
#define CLONE_STAGINGPATHS_H

#define CLONE_STAGING_DIR "/xpaths/tmp_cloningData/"
#define CLONE_EXPORT_TREE "/xpaths/tmp_cloningData/cloningExport/"
// Held by the export that runs; the clean-up's pattern leaves it (it starts with a dot).
#define CLONE_EXPORT_LOCK "/xpaths/tmp_cloningData/.cloneCreator.lock"
#define CLONE_EXPORT_DATA_DIR "/xpaths/tmp_cloningData/cloningExport/data/"
#define CLONE_MANIFEST_CLONE "/xpaths/tmp_cloningData/cloningExport/CloningManifest.xml"
#define CLONE_MANIFEST_CLONESELF "/xpaths/tmp_cloningData/cloningExport/ConfigurationManifest.xml"

// The attribute lists that group expansion writes and the capture helpers read.
#define NVRAM_ATTR_LIST CLONE_STAGING_DIR "nvram_attr_list"
#define NVRAM_ATTR_LIST_CLONESELF CLONE_STAGING_DIR "nvram_attr_listcloneself"
#define CFG_ATTR_LIST CLONE_STAGING_DIR "cfg_attr_list"
#define CFG_ATTR_LIST_CLONESELF CLONE_STAGING_DIR "cfg_attr_listcloneself"
#define CFG_CCS_ATTR_LIST CLONE_STAGING_DIR "cfg_ccs_attr_list"
#define DS_ATTR_LIST CLONE_STAGING_DIR "ds_attr_list"
#define DS_CCS_ATTR_LIST CLONE_STAGING_DIR "ds_ccs_attr_list"
#define DLM_ATTR_LIST CLONE_STAGING_DIR "dlm_attr_list"

// Scratch file of every list transformation; it never outlives one.
#define ATTR_LIST_TMP CLONE_STAGING_DIR "attr_list.tmp"

// Staging directory of the attribute captures.
#define CLONE_STORAGE_DIR CLONE_EXPORT_DATA_DIR "cloneStorage/"

#endif
