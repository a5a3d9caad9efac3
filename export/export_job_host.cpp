#include "export/export_job_host.h"

namespace {
ExportJobHost* g_default = nullptr;
}

ExportJobHost* ExportJobHost::default_host()
{
    return g_default;
}

void ExportJobHost::set_default_host(ExportJobHost* host)
{
    g_default = host;
}
