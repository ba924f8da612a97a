// The eight records of the device log service, by level; the library passes pointers to them.
#include "device_log.h"

extern "C" {
Log_Entry_Spec_t logSpecError = {1, 1, TRUE, {FALSE, "ERROR"}};
Log_Entry_Spec_t logSpecInfo = {2, 2, TRUE, {FALSE, "INFO"}};
Log_Entry_Spec_t logSpecForceInfo = {3, 2, TRUE, {FALSE, "FORCEINFO"}};
Log_Entry_Spec_t logSpecDebug = {4, 3, TRUE, {FALSE, "DEBUG"}};
Log_Entry_Spec_t logSpecEnter = {5, 4, TRUE, {FALSE, "ENTER"}};
Log_Entry_Spec_t logSpecReturn = {6, 4, TRUE, {FALSE, "RETURN"}};
Log_Entry_Spec_t logSpecLibEnter = {7, 4, TRUE, {FALSE, "LIBENTER"}};
Log_Entry_Spec_t logSpecLibReturn = {8, 4, TRUE, {FALSE, "LIBRETURN"}};
}
