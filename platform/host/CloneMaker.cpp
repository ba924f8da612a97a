// Signing stand-in, first cut: no signing key support yet, so nobody is authenticated
// and no clone file is ever written.
#include "CloneMaker.h"

#include "log_spec.h"

CloneMaker::CloneMaker() = default;
CloneMaker::~CloneMaker() = default;

int CloneMaker::Process_Authentication_DLM(const char* /*password*/)
{
    Log_SpecEntry(&logSpecError, __FILE__, __LINE__, "Signing is not available on this host");
    return -1;
}

bool_t CloneMaker::cloneHandler(char* /*outputLocation*/, const char* /*cloneType*/, const char* /*name*/)
{
    return FALSE;
}
