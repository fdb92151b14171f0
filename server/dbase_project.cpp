#include "dbase_project.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>
#include <string>
#include <string_view>

#include "dbase.h"
#include "log.h"
#include "report.h"
#include "report_format.h"
#include "system.h"
#include "system_bus.h"
#include "system_out.h"

namespace {

// "98,<connection>\n" always fits in this.
constexpr size_t LIST_END_ROOM = 16;

constexpr dbase_hpf_form HPF_FORMS[] = {{0, 0}, {24, 0}, {24, 1}, {12, 0}, {12, 1}};
constexpr int HPF_KINDS = (int)(sizeof HPF_FORMS / sizeof HPF_FORMS[0]);

// The record's text fields may lack their NUL in a damaged state file.
template <size_t N>
std::string_view text_of(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N - 1));
}

void bind_one(sql_statement &st, int i, int v)
{
    st.bind_int(i, v);
}

void bind_one(sql_statement &st, int i, float v)
{
    st.bind_double(i, v);
}

void bind_one(sql_statement &st, int i, std::string_view v)
{
    st.bind_text(i, v);
}

// Binds the values to parameters first, first + 1, ...
template <typename... V>
void bind_from(sql_statement &st, int first, V... values)
{
    int i = first;
    (bind_one(st, i++, values), ...);
}

// Steps one row; a failure is logged with the statement's line of the save
// and the save goes on. The statement is then ready for the next row.
void step_row(sql_statement &st, const char *log_format)
{
    if (st.step() != SQLITE_DONE)
        log_error(log_format, st.error());
    st.reset();
}

template <typename... V>
void write_row(sql_statement &st, const char *log_format, V... values)
{
    bind_from(st, 1, values...);
    step_row(st, log_format);
}

// The parametric, high-pass and shelf rows of the buses (table buseq, key
// bus_id) or of the outputs (table outeq, key out_id): statements 4 to 7
// and 9 to 12 of a save.
struct filter_rows {
    const char *peq, *hpf, *shelf0, *shelf1;
    const char *log_peq, *log_hpf, *log_shelf0, *log_shelf1;
};

constexpr filter_rows BUS_ROWS = {
    "UPDATE buseq SET freq=?,q=?,gain=?,bypass=? WHERE type=0 AND order_id=? AND bus_id=? AND id_project=?",
    "UPDATE buseq SET freq=?,slope=?,mode=?,bypass=? WHERE type=1 AND bus_id=? AND id_project=?",
    "UPDATE buseq SET freq=?,gain=?,slope=12,bypass=? WHERE type=2 AND bus_id=? AND id_project=?",
    "UPDATE buseq SET freq=?,gain=?,slope=12,bypass=? WHERE type=3 AND bus_id=? AND id_project=?",
    "dbase_save_project 2: %s\n", "dbase_save_project 3: %s\n", "dbase_save_project 4: %s\n",
    "dbase_save_project 5: %s\n"};

constexpr filter_rows OUT_ROWS = {
    "UPDATE outeq SET freq=?,q=?,gain=?,bypass=? WHERE type=0 AND order_id=? AND out_id=? AND id_project=?",
    "UPDATE outeq SET freq=?,slope=?,mode=?,bypass=? WHERE type=1 AND out_id=? AND id_project=?",
    "UPDATE outeq SET freq=?,gain=?,slope=12,bypass=? WHERE type=2 AND out_id=? AND id_project=?",
    "UPDATE outeq SET freq=?,gain=?,slope=12,bypass=? WHERE type=3 AND out_id=? AND id_project=?",
    "dbase_save_project 7: %s\n", "dbase_save_project 8: %s\n", "dbase_save_project 8: %s\n",
    "dbase_save_project 9: %s\n"};

template <int N, int BANDS, typename Record>
void write_filters(sqlite3 *db, const filter_rows &rows, const Record (&records)[N], int id)
{
    sql_statement peq(db, rows.peq);
    for (int i = 0; i < N; i++)
        for (int band = 0; band < BANDS; band++) {
            const sys_peq &p = records[i].peq[band];
            write_row(peq, rows.log_peq, p.freq, p.q, p.gain, p.bypass, band, i, id);
        }
    sql_statement hpf(db, rows.hpf);
    for (int i = 0; i < N; i++) {
        const sys_highpass &h = records[i].highpass;
        dbase_hpf_form form = dbase_hpf_to_row(h.kind);
        write_row(hpf, rows.log_hpf, h.freq, form.slope, form.mode, h.bypass, i, id);
    }
    const char *shelf_sql[2] = {rows.shelf0, rows.shelf1};
    const char *shelf_log[2] = {rows.log_shelf0, rows.log_shelf1};
    for (int s = 0; s < 2; s++) {
        sql_statement shelf(db, shelf_sql[s]);
        for (int i = 0; i < N; i++) {
            const sys_shelf &x = records[i].shelf[s];
            write_row(shelf, shelf_log[s], x.freq, x.gain, x.bypass, i, id);
        }
    }
}

void write_project(sqlite3 *db, int id)
{
    const sys_file *s = my_sys;
    sql_statement project(db, "UPDATE project SET readonly=?,label=?,description=? WHERE id=?");
    write_row(project, "dbase_save_project 0: %s\n", s->project_lock, text_of(s->project_label),
              text_of(s->project_description), id);

    sql_statement bus(db, "UPDATE inputbus SET gain=?,phase=?,delay_m=?,comp_thres=?,comp_ratio=?,comp_knee=?,"
                          "peak_overshoot=?,comp_attack=?,comp_release=?,peak_release=?,eq_flags=?,label=?,mute=?,"
                          "patch=?,group_local=?,group_net=? WHERE bus_id=? AND id_project=?");
    for (int b = 0; b < SYS_BUSES; b++) {
        const sys_bus &x = s->bus[b];
        write_row(bus, "dbase_save_project 0: %s\n", x.gain, x.phase, x.delay_m, x.comp_thres, x.comp_ratio,
                  x.comp_knee, x.peak_overshoot, x.comp_attack, x.comp_release, x.peak_release, x.eq_flags,
                  text_of(x.label), x.mute, x.patch, x.group_local, x.group_net, b, id);
    }

    sql_statement geq(db, "UPDATE geq SET g0=?,g1=?,g2=?,g3=?,g4=?,g5=?,g6=?,g7=?,g8=?,g9=?,g10=?,g11=?,g12=?,"
                          "g13=?,g14=?,g15=?,g16=?,g17=?,g18=?,g19=?,g20=?,g21=?,g22=?,g23=?,g24=?,g25=?,g26=?,"
                          "g27=?,g28=?,g29=?,g30=? WHERE bus_id=? AND id_project=?");
    for (int b = 0; b < SYS_BUSES; b++) {
        for (int g = 0; g < SYS_GEQ_BANDS; g++)
            geq.bind_double(g + 1, s->bus[b].geq[g]);
        bind_from(geq, SYS_GEQ_BANDS + 1, b, id);
        step_row(geq, "dbase_save_project 1: %s\n");
    }
    write_filters<SYS_BUSES, SYS_BUS_PEQ_BANDS>(db, BUS_ROWS, s->bus, id);

    sql_statement out(db, "UPDATE output SET gain=?,phase=?,delay_m=?,eq_flags=?,label=?,mute=?,bus_input=?,"
                          "group_local=?,group_net=?,id_lsp=?,group_lsp=? WHERE out_id=? AND id_project=?");
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        const sys_output &x = s->out[o];
        write_row(out, "dbase_save_project 6: %s\n", x.gain, x.phase, x.delay_m, x.eq_flags, text_of(x.label),
                  x.mute, x.bus_input, x.group_local, x.group_net, x.id_lsp, x.group_lsp, o, id);
    }
    write_filters<SYS_OUTPUTS, SYS_OUT_PEQ_BANDS>(db, OUT_ROWS, s->out, id);
}

// A new bus's or output's filter rows: high-pass and shelves (types 1 to
// 3), then the parametric bands (type 0 by the table's default).
struct new_filter_rows {
    const char *typed[3];
    const char *band;
    int bands;
};

constexpr new_filter_rows BUS_NEW = {{"INSERT INTO buseq (id_project, bus_id, type) VALUES (?,?,1)",
                                      "INSERT INTO buseq (id_project, bus_id, type) VALUES (?,?,2)",
                                      "INSERT INTO buseq (id_project, bus_id, type) VALUES (?,?,3)"},
                                     "INSERT INTO buseq (id_project, bus_id, order_id) VALUES (?,?,?)",
                                     SYS_BUS_PEQ_BANDS};

constexpr new_filter_rows OUT_NEW = {{"INSERT INTO outeq (id_project, out_id, type) VALUES (?,?,1)",
                                      "INSERT INTO outeq (id_project, out_id, type) VALUES (?,?,2)",
                                      "INSERT INTO outeq (id_project, out_id, type) VALUES (?,?,3)"},
                                     "INSERT INTO outeq (id_project, out_id, order_id) VALUES (?,?,?)",
                                     SYS_OUT_PEQ_BANDS};

void create_filter_rows(sqlite3 *db, const new_filter_rows &rows, int id, int index)
{
    for (const char *sql : rows.typed)
        sql_query_i2(db, sql, id, index);
    for (int band = 0; band < rows.bands; band++)
        sql_query_i3(db, rows.band, id, index, band);
}

// A stored text as it may travel in a report line. Texts are stored
// percent-encoded, as clients send them, so they hold no blank or control
// character; one from a file written elsewhere is cut there, so it can
// never end a report line early or start a line of its own.
std::string_view wire_text(std::string_view text)
{
    for (size_t i = 0; i < text.size(); i++)
        if ((unsigned char)text[i] <= ' ')
            return text.substr(0, i);
    return text;
}

bool project_exists(int id)
{
    return dbase_lookup_int("SELECT id FROM project WHERE id=?", id, -1) == id;
}

}  // namespace

dbase_hpf_form dbase_hpf_to_row(int kind)
{
    return kind > 0 && kind < HPF_KINDS ? HPF_FORMS[kind] : HPF_FORMS[0];
}

int dbase_hpf_from_row(int slope, int mode)
{
    for (int kind = 1; kind < HPF_KINDS; kind++)
        if (HPF_FORMS[kind].slope == slope && HPF_FORMS[kind].mode == mode)
            return kind;
    return 0;
}

int dbase_create_project()
{
    sqlite3 *db = dbase_db();
    if (db == nullptr || sql_query(db, "INSERT INTO project DEFAULT VALUES") != 0)
        return -1;
    int id = (int)sqlite3_last_insert_rowid(db);
    for (int b = 0; b < SYS_BUSES; b++) {
        sql_query_i2(db, "INSERT INTO inputbus (id_project, bus_id) VALUES (?,?)", id, b);
        sql_query_i2(db, "INSERT INTO geq (id_project, bus_id) VALUES (?,?)", id, b);
        create_filter_rows(db, BUS_NEW, id, b);
    }
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        sql_query_i2(db, "INSERT INTO output (id_project, out_id) VALUES (?,?)", id, o);
        create_filter_rows(db, OUT_NEW, id, o);
    }
    return id;
}

int dbase_save_project(int id)
{
    sqlite3 *db = dbase_db();
    if (db == nullptr)
        return -1;
    dbase_delete_rollback();
    bool exists = id >= 1 && project_exists(id);
    if (sql_query(db, "BEGIN") != 0)
        return -1;
    int target = id;
    if (id >= 0 && (!exists || id == DBASE_TEMPLATE_PROJECT)) {
        // The label a new project from the template is made under.
        char label[SYS_LABEL_SIZE];
        memcpy(label, my_sys->project_label, sizeof label);
        target = dbase_create_project();
        if (target < 0) {
            sql_query(db, "ROLLBACK");
            return -1;
        }
        if (exists) {
            dbase_load_project(DBASE_TEMPLATE_PROJECT);
            my_sys->project_lock = 0;
            memcpy(my_sys->project_label, label, sizeof label);
        }
        my_sys->project_id = target;
    }
    write_project(db, target);
    if (sql_query(db, "COMMIT") != 0) {
        // Nothing of a save that cannot be committed may stay behind.
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return -1;
    }
    if (target >= 1 && target == my_sys->project_id)
        report_project_stored_lock_set(my_sys->project_lock);
    return 0;
}

void dbase_list_projects(report_writer *w, int id, int c)
{
    report_format_append(w, "%d,%d,%d\n", 97, c, id == -1 ? 1 : 0);
    sqlite3 *db = dbase_db_or_log("dbase_list_projects");
    const char *sql = id == -1 ? "SELECT id,readonly,label FROM project "
                                 "ORDER BY readonly DESC, label ASC, use_counter DESC"
                               : "SELECT id,readonly,label FROM project WHERE id=? "
                                 "ORDER BY readonly DESC, label ASC, use_counter DESC LIMIT 1";
    sql_statement st(db, sql);
    if (id != -1)
        st.bind_int(1, id);
    int sent = 0;
    while (st.row()) {
        int project = (int)st.column_int(0);
        if (project <= DBASE_TEMPLATE_PROJECT)
            continue;
        char head[64];
        int n = snprintf(head, sizeof head, "%d,%d,%d,%d,", 96, c, project, (int)st.column_int(1));
        std::string_view label = wire_text(st.column_text(2));
        // Whole lines only, and the end line must still fit.
        if ((size_t)n + label.size() + 1 + LIST_END_ROOM > dbase_reply_room(w)) {
            log_error("dbase_list_projects: list cut after %d projects (reply full)\n", sent);
            break;
        }
        report_format_append(w, "%s%.*s\n", head, (int)label.size(), label.data());
        sent++;
    }
    report_format_append(w, "%d,%d\n", 98, c);
}

int dbase_info_prj_desc(report_writer *w, int id, int c)
{
    sql_statement st(dbase_db_or_log("dbase_info_prj_desc"), "SELECT description FROM project WHERE id=?");
    st.bind_int(1, id);
    if (!st.row()) {
        log_error("dbase_info_prj_desc: project_id (%d) not found in database\n", id);
        return -1;
    }
    std::string_view desc = wire_text(st.column_text(0));
    report_format_append(w, "%d,%d,%d,%.*s\n", 119, c, id, (int)desc.size(), desc.data());
    return 0;
}

// ---- lookups ----

void dbase_copy_text(char *field, size_t size, std::string_view text, size_t max)
{
    size_t n = std::min(text.size(), std::min(max, size - 1));
    memcpy(field, text.data(), n);
    memset(field + n, 0, size - n);
}

int dbase_project_label(int id, char label[DBASE_PROJECT_LABEL_SIZE])
{
    label[0] = 0;
    sql_statement st(dbase_db(), "SELECT label FROM project WHERE id=? LIMIT 1");
    st.bind_int(1, id);
    if (!st.row())
        return 1;
    std::string_view text = wire_text(st.column_text(0));
    size_t n = std::min(text.size(), DBASE_PROJECT_LABEL_SIZE - 1);
    memcpy(label, text.data(), n);
    label[n] = 0;
    return 0;
}

int dbase_project_by_label(const char *label)
{
    sql_statement st(dbase_db(), "SELECT id FROM project WHERE label=? LIMIT 1");
    st.bind_text(1, label != nullptr ? label : "");
    return st.row() ? (int)st.column_int(0) : 0;
}

int dbase_project_by_label_except(const char *label, int except_id)
{
    sql_statement st(dbase_db(), "SELECT id FROM project WHERE label=? AND id<>? LIMIT 1");
    st.bind_text(1, label != nullptr ? label : "");
    st.bind_int(2, except_id);
    return st.row() ? (int)st.column_int(0) : 0;
}

int dbase_project_lock(int id)
{
    return (int)dbase_lookup_int("SELECT readonly FROM project WHERE id=? LIMIT 1", id, 0);
}

void dbase_count_use(int id)
{
    if (sqlite3 *db = dbase_db_or_log("dbase_count_use"))
        sql_query_i1(db, "UPDATE project SET use_counter=use_counter+1 WHERE id=?", id);
}

void dbase_delete_project(int id)
{
    sqlite3 *db = dbase_db();
    if (db == nullptr || !dbase_delete_open())
        return;
    // Child rows before the project row, which they may name as their key.
    for (const char *sql : {"DELETE FROM geq WHERE id_project=?", "DELETE FROM outeq WHERE id_project=?",
                            "DELETE FROM buseq WHERE id_project=?", "DELETE FROM output WHERE id_project=?",
                            "DELETE FROM inputbus WHERE id_project=?", "DELETE FROM project WHERE id=?"})
        sql_query_i1(db, sql, id);
}

// ---- loading ----

namespace {

// The values of one row. A NULL column (a database from before the column
// existed, or an imported file) takes the value a new device starts with.
struct row_values {
    const sql_statement &st;

    float real(int col, float fallback) const
    {
        return st.column_is_null(col) ? fallback : (float)st.column_double(col);
    }
    int integer(int col, int fallback) const
    {
        return st.column_is_null(col) ? fallback : (int)st.column_int(col);
    }
    std::string text(int col) const { return std::string(wire_text(st.column_text(col))); }
};

// Made once: the bus and output defaults never change while the server runs.
const sys_file &start_up_values()
{
    static sys_file defaults;
    static bool made = false;
    if (!made) {
        system_defaults(&defaults);
        made = true;
    }
    return defaults;
}

const sys_bus &bus_defaults(const sys_file &d, int b)
{
    return d.bus[(unsigned)b < SYS_BUSES ? b : 0];
}

const sys_output &out_defaults(const sys_file &d, int o)
{
    return d.out[(unsigned)o < SYS_OUTPUTS ? o : 0];
}

template <size_t N, typename T>
const T &band_of(const T (&bands)[N], int band)
{
    return bands[(unsigned)band < N ? band : 0];
}

void load_buses(sqlite3 *db, int id, const sys_file &d)
{
    sql_statement bus(db, "SELECT bus_id,gain,phase,delay_m,comp_thres,comp_ratio,comp_knee,peak_overshoot,"
                          "comp_attack,comp_release,peak_release,eq_flags,label,mute,patch,group_local,group_net "
                          "FROM inputbus WHERE id_project=?");
    bus.bind_int(1, id);
    row_values r{bus};
    while (bus.row()) {
        int b = (int)bus.column_int(0);
        const sys_bus &x = bus_defaults(d, b);
        system_bus_set_gain(0, b, r.real(1, x.gain));
        system_bus_set_phase(0, b, r.integer(2, x.phase));
        system_bus_set_delay(0, b, r.real(3, x.delay_m), 1);
        system_bus_set_comp_thres(0, b, r.real(4, x.comp_thres));
        system_bus_set_comp_ratio(0, b, r.real(5, x.comp_ratio));
        system_bus_set_comp_knee(0, b, r.real(6, x.comp_knee));
        system_bus_set_peak_overshoot(0, b, r.real(7, x.peak_overshoot));
        system_bus_set_comp_attack(0, b, r.real(8, x.comp_attack));
        system_bus_set_comp_release(0, b, r.real(9, x.comp_release));
        system_bus_set_peak_release(0, b, r.real(10, x.peak_release));
        system_bus_set_eq_flags(0, b, r.integer(11, x.eq_flags));
        system_bus_set_label(0, b, r.text(12).c_str());
        system_bus_set_mute(0, b, r.integer(13, x.mute));
        system_bus_set_patch(0, b, r.integer(14, x.patch));
        system_bus_set_group_local(0, b, r.integer(15, x.group_local));
        system_bus_set_group_net(0, b, r.integer(16, x.group_net));
    }

    sql_statement geq(db, "SELECT bus_id,g0,g1,g2,g3,g4,g5,g6,g7,g8,g9,g10,g11,g12,g13,g14,g15,g16,g17,g18,g19,"
                          "g20,g21,g22,g23,g24,g25,g26,g27,g28,g29,g30 FROM geq WHERE id_project=?");
    geq.bind_int(1, id);
    row_values g{geq};
    while (geq.row()) {
        int b = (int)geq.column_int(0);
        for (int band = 0; band < SYS_GEQ_BANDS; band++)
            system_bus_set_geq(0, b, band, g.real(band + 1, bus_defaults(d, b).geq[band]));
    }

    sql_statement peq(db, "SELECT bus_id,order_id,freq,q,gain,bypass FROM buseq WHERE id_project=? AND type=0");
    peq.bind_int(1, id);
    row_values p{peq};
    while (peq.row()) {
        int b = (int)peq.column_int(0), band = (int)peq.column_int(1);
        const sys_peq &x = band_of(bus_defaults(d, b).peq, band);
        system_bus_set_peq(0, b, band, p.real(2, x.freq), p.real(3, x.q), p.real(4, x.gain), p.integer(5, x.bypass));
    }

    sql_statement shelf(db, "SELECT bus_id,type,freq,gain,bypass FROM buseq WHERE id_project=? AND (type=2 OR type=3)");
    shelf.bind_int(1, id);
    row_values s{shelf};
    while (shelf.row()) {
        int b = (int)shelf.column_int(0), which = shelf.column_int(1) == 2 ? 0 : 1;
        const sys_shelf &x = bus_defaults(d, b).shelf[which];
        system_bus_set_shelf(0, b, which, s.real(2, x.freq), s.real(3, x.gain), s.integer(4, x.bypass));
    }

    sql_statement hpf(db, "SELECT bus_id,freq,slope,mode,bypass FROM buseq WHERE id_project=? AND type=1");
    hpf.bind_int(1, id);
    row_values h{hpf};
    while (hpf.row()) {
        int b = (int)hpf.column_int(0);
        const sys_highpass &x = bus_defaults(d, b).highpass;
        system_bus_set_hpf(0, b, h.real(1, x.freq), dbase_hpf_from_row(h.integer(2, 0), h.integer(3, 0)),
                           h.integer(4, x.bypass));
    }
}

// A stored output number; an output -1 would mean the alarm mute to the
// output setters.
bool output_ok(int o)
{
    if ((unsigned)o < SYS_OUTPUTS)
        return true;
    log_error("dbase_load_project: out_id out of range (%d)\n", o);
    return false;
}

// Each group takes its values from its first output: when the rows of a
// query go on with another output of the group it already took, they are
// skipped.
struct group_filter_rows {
    int group = -1;
    int out = -1;

    // The group that output o's row applies to, or -1 when it is skipped.
    int take(int o)
    {
        if (!output_ok(o))
            return -1;
        int g = my_sys->out[o].group_lsp;
        if (g == group && o != out)
            return -1;
        group = g;
        out = o;
        return g;
    }
};

void load_outputs(sqlite3 *db, int id, const sys_file &d)
{
    bool keep_mutes = my_sys->system_flags & 1;
    sql_statement out(db, "SELECT out_id,group_lsp,gain,phase,delay_m,label,mute,bus_input,group_local,group_net,"
                          "id_lsp,eq_flags FROM output WHERE id_project=? ORDER BY out_id LIMIT 8");
    out.bind_int(1, id);
    row_values r{out};
    bool first = true;
    int prev = 0;
    while (out.row()) {
        int o = (int)out.column_int(0);
        if (!output_ok(o))
            continue;
        const sys_output &x = out_defaults(d, o);
        int g = r.integer(1, x.group_lsp);
        if (first || g != prev) {
            system_out_group_lsp_set(0, g, r.integer(10, 0), 0, o);
            system_out_group_set_gain(0, g, r.real(2, x.gain));
            system_out_group_set_phase(0, g, r.integer(3, x.phase));
            system_out_group_set_delay(0, g, r.real(4, x.delay_m), 1);
            system_out_group_label(0, g, r.text(5).c_str());
            system_out_group_set_input(0, g, r.integer(7, x.bus_input));
            system_out_group_set_grp_local(0, g, r.integer(8, x.group_local));
            system_out_group_set_grp_net(0, g, r.integer(9, x.group_net));
            system_out_group_set_eq_flags(0, g, r.integer(11, x.eq_flags));
        }
        first = false;
        prev = g;
        if (keep_mutes)
            system_out_set_mute(0, o, r.integer(6, x.mute));
    }

    sql_statement peq(db, "SELECT out_id,order_id,freq,q,gain,bypass FROM outeq WHERE id_project=? AND type=0 "
                          "ORDER BY out_id");
    peq.bind_int(1, id);
    row_values p{peq};
    group_filter_rows peq_rows;
    while (peq.row()) {
        int o = (int)peq.column_int(0), band = (int)peq.column_int(1);
        int g = peq_rows.take(o);
        if (g < 0)
            continue;
        const sys_peq &x = band_of(out_defaults(d, o).peq, band);
        system_out_group_set_peq(0, g, band, p.real(2, x.freq), p.real(3, x.q), p.real(4, x.gain),
                                 p.integer(5, x.bypass));
    }

    sql_statement shelf(db, "SELECT out_id,type,freq,gain,bypass FROM outeq WHERE id_project=? AND "
                            "(type=2 OR type=3) ORDER BY out_id");
    shelf.bind_int(1, id);
    row_values s{shelf};
    group_filter_rows shelf_rows;
    while (shelf.row()) {
        int o = (int)shelf.column_int(0), which = shelf.column_int(1) == 2 ? 0 : 1;
        int g = shelf_rows.take(o);
        if (g < 0)
            continue;
        const sys_shelf &x = out_defaults(d, o).shelf[which];
        system_out_group_set_shelf(0, g, which, s.real(2, x.freq), s.real(3, x.gain), s.integer(4, x.bypass));
    }

    sql_statement hpf(db, "SELECT out_id,freq,slope,mode,bypass FROM outeq WHERE id_project=? AND type=1 "
                          "ORDER BY out_id");
    hpf.bind_int(1, id);
    row_values h{hpf};
    group_filter_rows hpf_rows;
    while (hpf.row()) {
        int o = (int)hpf.column_int(0);
        int g = hpf_rows.take(o);
        if (g < 0)
            continue;
        const sys_highpass &x = out_defaults(d, o).highpass;
        system_out_group_set_hpf(0, g, h.real(1, x.freq), dbase_hpf_from_row(h.integer(2, 0), h.integer(3, 0)),
                                 h.integer(4, x.bypass));
    }
}

}  // namespace

int dbase_load_project(int id)
{
    sqlite3 *db = dbase_db_or_log("dbase_load_project");
    if (db == nullptr)
        return -1;
    dbase_delete_rollback();
    int lock;
    std::string label, description;
    {
        sql_statement st(db, "SELECT readonly,label,description FROM project WHERE id=?");
        st.bind_int(1, id);
        if (!st.row()) {
            log_error("dbase_load_project: project_id not found in database\n");
            return -1;
        }
        lock = (int)st.column_int(0);
        label = wire_text(st.column_text(1));
        description = wire_text(st.column_text(2));
    }
    auto set_project = [&] {
        my_sys->project_id = id;
        my_sys->project_lock = lock;
        dbase_copy_text(my_sys->project_label, label, SYS_LABEL_MAX);
        dbase_copy_text(my_sys->project_description, description, SYS_DESCRIPTION_MAX);
        my_sys->modified = 0;
    };
    set_project();

    // Unless the user keeps the stored mutes, a load never unmutes an output.
    if (!(my_sys->system_flags & 1))
        for (int o = 0; o < SYS_OUTPUTS; o++)
            system_out_set_mute(0, o, 1);
    const sys_file &defaults = start_up_values();
    load_buses(db, id, defaults);
    load_outputs(db, id, defaults);

    // The setters marked the project modified; what is live now is the project.
    set_project();
    report_project_stored_lock_set(lock);
    return 0;
}
