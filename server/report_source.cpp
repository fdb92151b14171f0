#include "report_source.h"

#include <cstring>

#include "dsp/dsp_lowlevel.h"
#include "dsp/dsp_update.h"

#include "common/db_text.h"
#include "dbase_lsp.h"
#include "dbase_project.h"
#include "log.h"
#include "netconf.h"
#include "netlink.h"
#include "lspconfig.h"
#include "platform.h"
#include "system.h"
#include "wlan.h"

namespace {

struct identity {
    bool loaded;
    uint8_t mac[6];
    char system[REPORT_SYSTEM_TEXT_MAX * DB_TEXT_MAX_ESCAPE + 1];
};

identity g_identity;

void ensure_identity()
{
    if (!g_identity.loaded)
        report_source_init();
}

}  // namespace

// ---- DSP mirror: nothing applied yet, so the wanted values stand ----

// Curves and applied delays come from what the FPGA holds; before the DSP
// layer is up (tests of the formatters alone) the curve is flat and the
// delay the record's own.
void report_source_bus_curve(int bus, float curve[CURVE_POINTS])
{
    if (my_device != nullptr && (unsigned)bus < SYS_BUSES) {
        memcpy(curve, my_device->bus[bus].curve, sizeof(float) * CURVE_POINTS);
        return;
    }
    for (int i = 0; i < CURVE_POINTS; i++)
        curve[i] = 0.0f;
}

void report_source_out_curve(int out, float curve[CURVE_POINTS])
{
    if (my_device != nullptr && (unsigned)out < SYS_OUTPUTS) {
        memcpy(curve, my_device->out[out].curve, sizeof(float) * CURVE_POINTS);
        return;
    }
    for (int i = 0; i < CURVE_POINTS; i++)
        curve[i] = 0.0f;
}

float report_source_bus_delay_applied(int bus)
{
    if ((unsigned)bus >= SYS_BUSES)
        return 0.0f;
    return my_device != nullptr ? dsp_bus_delay_applied(bus) : my_sys->bus[bus].delay_ms;
}

float report_source_out_delay_applied(int out)
{
    if ((unsigned)out >= SYS_OUTPUTS)
        return 0.0f;
    return my_device != nullptr ? dsp_out_delay_applied(out) : my_sys->out[out].delay_ms;
}

// ---- network: the bridge's own address, the access point, the stored passphrase ----

uint32_t report_source_iface_address()
{
    return netlink_own_address();
}

bool report_source_ap_running()
{
    return netconf_ap_running();
}

const char *report_source_wlan_passphrase()
{
    // Callers hold the command lock, so one buffer serves them all.
    static std::string current;
    current = wlan_passphrase();
    return current.c_str();
}

// ---- device identity ----

void report_source_init()
{
    memset(&g_identity, 0, sizeof g_identity);
    if (device_mac(g_identity.mac) != 0)
        memset(g_identity.mac, 0, sizeof g_identity.mac);

    char raw[REPORT_SYSTEM_TEXT_MAX + 1] = "";
    if (platform_read(raw, sizeof raw, "uname -sr") != 0)
        raw[0] = 0;
    size_t n = strlen(raw);
    if (n > 0 && raw[n - 1] == '\n')
        raw[--n] = 0;
    db_text_encode(g_identity.system, sizeof g_identity.system, std::string_view(raw, n));
    g_identity.loaded = true;
}

void report_source_mac(uint8_t mac[6])
{
    ensure_identity();
    memcpy(mac, g_identity.mac, 6);
}

const char *report_source_system()
{
    ensure_identity();
    return g_identity.system;
}

// ---- loudspeaker library ----

void report_source_lsp_block(report_writer *w, int id, int c, const cfglsp *parsed)
{
    dbase_list_lsp(w, id, c);
    if (dbase_lsp_config(w, id, c)) {
        report_format_lsp_sections(w, c, id, nullptr);
        return;
    }
    cfglsp_ptr own;
    if (parsed == nullptr) {
        own.reset(lspconfig_parse_from_id(id, nullptr));
        parsed = own.get();
    }
    if (parsed == nullptr)
        return;
    report_format_lsp_sections(w, c, id, parsed);
    if (const char *warnings = lspconfig_warnings(parsed)) {
        log_output("%s", warnings);
        report_format_lsp_warnings(w, c, id, warnings);
    }
}

// ---- project storage ----

int report_source_project_stored_lock(int project_id)
{
    return dbase_project_lock(project_id);
}

void report_source_list_projects(report_writer *w, int id, int c)
{
    dbase_list_projects(w, id, c);
}

int report_source_project_desc(report_writer *w, int id, int c)
{
    return dbase_info_prj_desc(w, id, c);
}
