#include "dbase_project.h"

#include <cstring>
#include <sqlite3.h>
#include <string_view>

#include "dbase.h"
#include "log.h"
#include "system.h"

namespace {

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

void dbase_save_project(int id)
{
    sqlite3 *db = dbase_db();
    if (db == nullptr)
        return;
    bool exists = id >= 1 && project_exists(id);
    // A new project from the template loads project 1 into the live state
    // first; until projects can be loaded the template is only protected.
    if (exists && id == 1) {
        log_error("dbase_save_project: project 1 is the template\n");
        return;
    }
    if (sql_query(db, "BEGIN") != 0)
        return;
    int target = id;
    if (id >= 0 && !exists) {
        target = dbase_create_project();
        if (target < 0) {
            sql_query(db, "ROLLBACK");
            return;
        }
        my_sys->project_id = target;
    }
    write_project(db, target);
    sql_query(db, "COMMIT");
}
