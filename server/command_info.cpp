#include "command_info.h"

#include <cstdio>
#include <cstring>

#include "command.h"
#include "dbase_lsp.h"
#include "dbase_usb.h"
#include "log.h"
#include "report.h"
#include "report_source.h"
#include "system.h"

namespace {

void usb_export(report_writer *w, int project_id)
{
    if (project_id <= 0) {
        log_error("command_local_prj_usb_export: project_id out of range\n");
        report_format_usb_export(w, -1);
        return;
    }
    int r = dbase_usb_export_project(project_id);
    if (r != 0) {
        log_error("command_local_prj_usb_export: dbase_usb_export_project() error\n");
        report_format_usb_export(w, r);
        return;
    }
    report_format_usb_export(w, project_id);
}

void usb_import(report_writer *w, int n)
{
    if (n < 0) {
        log_error("command_local_prj_usb_import: file_id out of range\n");
        report_format_usb_import(w, -1);
        return;
    }
    if (dbase_usb_import_project(w, n, 0) != 0) {
        log_error("command_local_prj_usb_import: dbase_usb_import_project() error\n");
        report_format_usb_import(w, -1);
        return;
    }
    if (n > 0) {
        report_device(105, 0);  // every client's project list is out of date
        report_format_usb_import(w, n);
    }
}

void project_desc(report_writer *w, int project_id)
{
    if (project_id < 0) {
        const sys_file *s = my_sys;
        int n = (int)strnlen(s->project_description, sizeof s->project_description - 1);
        report_format_append(w, "%d,%d,%d,%.*s\n", 119, 0, s->project_id, n, s->project_description);
        return;
    }
    report_source_project_desc(w, project_id, 0);
}

}  // namespace

void command_info_work(const char *line, report_writer *w)
{
    int id = -1, conn = 0, a = -1, b = -1;
    if (line == nullptr || line[0] < '0' || line[0] > '9' || command_scan(line, "%d,%d,%d,%d", &id, &conn, &a, &b) < 1)
        id = -1;

    switch (id) {
    case 1024:
        if ((unsigned)a < SYS_BUSES)
            report_format_bus_block(w, 0, a);
        else
            log_error("command_info_work: busid out of range\n");
        break;
    case 1025:
        if ((unsigned)a < SYS_BUSES)
            report_format_bus_eq_block(w, 0, a);
        else
            log_error("command_info_work: eq busid out of range\n");
        break;
    case 1026:
        if (a >= -1)
            dbase_list_lsp(w, a, 0);
        else
            log_error("command_info_work: lspid out of range\n");
        break;
    case 1027:
        if ((unsigned)a < SYS_OUTPUTS)
            report_format_out_group_block(w, 0, a);
        else
            log_error("command_info_work: lspid out of range\n");
        break;
    case 1029:
        report_format_device_block(w, 0);
        break;
    case 1030:
        report_format_project_block(w, 0, a);
        break;
    case 1031:
        // One entry's block: "all" makes no sense here.
        if (a >= 0)
            report_source_lsp_block(w, a, 0);
        else
            log_error("command_info_work: lspid out of range\n");
        break;
    case 1032:
        if ((unsigned)a < SYS_OUTPUTS)
            report_format_out_group_eq_block(w, 0, a);
        else
            log_error("command_info_work: group_lsp out of range\n");
        break;
    case 1033:
        break;
    case 1034:
        usb_export(w, a);
        break;
    case 1035:
        usb_import(w, a);
        break;
    case 1036:
        report_format_version_block(w, 0);
        break;
    case 1037:
        report_format_full_dump(w);
        break;
    case 1038:
        project_desc(w, a);
        break;
    default:
        log_error("command_info_work: unknown command\n");
        break;
    }
}
