// Project rows as a foreign database file may hold them (an imported
// export, a file written by another program): each input edits the stored
// template project, any column of any of its rows, keys included, to
// integers, reals (NaN, infinities, huge values), texts of any bytes and
// length or NULL; the project is then loaded through the setters and one
// update pass runs. Nothing stored may crash the server, write past a field
// or leave a text unterminated. The edits are rolled back after each input.
//
// An edit is: table byte, column byte, row byte, kind byte, then the value
// (4 bytes for an integer, 8 for a real, a length byte and the bytes for a
// text).
#include <algorithm>
#include <cstring>
#include <sqlite3.h>
#include <string>

#include "dbase.h"
#include "dbase_project.h"
#include "support/fuzz_server.h"

namespace {

const fuzz_server_state *start;

struct table {
    const char *name;
    const char *key;  // the column naming the project
    const char *columns[34];
};

// Every column a load reads (and the keys that pick rows).
const table TABLES[] = {
    {"project", "id", {"readonly", "label", "description"}},
    {"inputbus", "id_project",
     {"bus_id", "gain", "phase", "delay_m", "comp_thres", "comp_ratio", "comp_knee", "peak_overshoot", "comp_attack",
      "comp_release", "peak_release", "eq_flags", "label", "mute", "patch", "group_local", "group_net"}},
    {"geq", "id_project", {"bus_id", "g0", "g5", "g15", "g30"}},
    {"buseq", "id_project", {"bus_id", "order_id", "type", "freq", "q", "gain", "bypass", "slope", "mode"}},
    {"output", "id_project",
     {"out_id", "group_lsp", "gain", "phase", "delay_m", "label", "mute", "bus_input", "group_local", "group_net",
      "id_lsp", "eq_flags"}},
    {"outeq", "id_project", {"out_id", "order_id", "type", "freq", "q", "gain", "bypass", "slope", "mode"}},
};

int column_count(const table &t)
{
    int n = 0;
    while (n < 34 && t.columns[n] != nullptr)
        n++;
    return n;
}

// Reads n bytes of the input, zeros once it is used up.
struct reader {
    const uint8_t *p;
    size_t left;

    bool more() const { return left > 0; }
    void take(void *out, size_t n)
    {
        memset(out, 0, n);
        size_t k = std::min(n, left);
        memcpy(out, p, k);
        p += k;
        left -= k;
    }
    uint8_t byte()
    {
        uint8_t b;
        take(&b, 1);
        return b;
    }
};

void apply_edit(reader &r)
{
    const table &t = TABLES[r.byte() % (sizeof TABLES / sizeof TABLES[0])];
    const char *column = t.columns[r.byte() % column_count(t)];
    int row = r.byte();
    std::string sql = std::string("UPDATE ") + t.name + " SET " + column + "=? WHERE rowid=(SELECT rowid FROM " +
                      t.name + " WHERE " + t.key + "=1 LIMIT 1 OFFSET ?)";
    sql_statement st(dbase_db(), sql.c_str());
    switch (r.byte() % 4) {
    case 0: {
        int32_t v;
        r.take(&v, sizeof v);
        st.bind_int(1, v);
        break;
    }
    case 1: {
        double v;
        r.take(&v, sizeof v);
        st.bind_double(1, v);
        break;
    }
    case 2: {
        std::string text(r.byte() * 20u, '\0');
        r.take(text.data(), std::min<size_t>(text.size(), 64));
        st.bind_text(1, text);
        break;
    }
    default:
        break;  // NULL
    }
    st.bind_int(2, row);
    st.step();
}

template <size_t N>
bool terminated(const char (&field)[N])
{
    return memchr(field, 0, N) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    start = fuzz_server_init();
    dbase_init();
    FUZZ_CHECK(dbase_db() != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_server_restore(start);
    sqlite3 *db = dbase_db();
    FUZZ_CHECK(sql_query(db, "SAVEPOINT fuzz") == 0);
    reader r{data, size};
    for (int edits = 0; r.more() && edits < 64; edits++)
        apply_edit(r);
    int result = dbase_load_project(1);
    FUZZ_CHECK(result == 0 || result == -1);
    FUZZ_CHECK(terminated(my_sys->project_label) && terminated(my_sys->project_description));
    for (const sys_bus &b : my_sys->bus)
        FUZZ_CHECK(terminated(b.label));
    for (const sys_output &o : my_sys->out) {
        FUZZ_CHECK(terminated(o.label));
        FUZZ_CHECK(o.group_lsp >= 0 && o.group_lsp < SYS_OUTPUTS);
    }
    fuzz_update_pass();
    FUZZ_CHECK(sql_query(db, "ROLLBACK TO fuzz") == 0 && sql_query(db, "RELEASE fuzz") == 0);
    return 0;
}
