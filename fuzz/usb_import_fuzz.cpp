// Project files from a USB stick are foreign: each input is either a whole
// file (first byte even: the rest of the input, as bytes) or edits of a real
// export (first byte odd: rows of its loudspeaker tree, outputs, version
// and project changed or deleted). The file is then imported. Whatever it
// holds, the import ends with one of its result codes, a failed import
// leaves no project behind, and the main database stays intact.
//
// An edit is: table byte, column byte, row byte, kind byte, then the value
// (4 bytes for an integer, a length byte and the bytes for a text; kind 2
// is NULL, kind 3 deletes the row).
#include <cstring>
#include <sqlite3.h>
#include <string>

#include "dbase.h"
#include "dbase_project.h"
#include "dbase_usb.h"
#include "usb.h"
#include "support/fuzz_server.h"

namespace {

// The library the export is made from, put back after every input.
const char *const LIBRARY = "DELETE FROM lsp WHERE id>0; INSERT INTO lsp (id,id_parent,is_folder,label,version,ways,"
                            "config) VALUES (10,0,1,'Brand',0,0,''),(11,10,1,'Series',0,0,''),"
                            "(12,11,0,'Top',3,1,'fullrange'),(13,0,0,'Sub',1,1,'fullrange')";

std::string export_bytes;  // a real export: project 2 with entries two folders deep
std::string input_file;

struct edit_table {
    const char *name;
    const char *columns[5];
};

// The columns the import reads to find, place and merge entries.
const edit_table TABLES[] = {
    {"lsp", {"id_parent", "label", "version", "is_folder", "id"}},
    {"output", {"id_lsp", "out_id", "label", nullptr, nullptr}},
    {"dbinfo", {"db_version", nullptr, nullptr, nullptr, nullptr}},
    {"project", {"readonly", "label", "description", "id", nullptr}},
};

struct input_reader {
    const uint8_t *p;
    size_t left;
    uint8_t byte()
    {
        if (left == 0)
            return 0;
        left--;
        return *p++;
    }
};

void edit(sqlite3 *file, input_reader &r)
{
    const edit_table &t = TABLES[r.byte() % (sizeof TABLES / sizeof TABLES[0])];
    int columns = 0;
    while (columns < 5 && t.columns[columns] != nullptr)
        columns++;
    const char *column = t.columns[r.byte() % columns];
    int row = r.byte() % 8;
    int kind = r.byte() % 4;
    std::string where = std::string(" WHERE rowid=(SELECT rowid FROM ") + t.name + " LIMIT 1 OFFSET ?2)";
    std::string sql = kind == 3 ? std::string("DELETE FROM ") + t.name + where
                                : std::string("UPDATE ") + t.name + " SET " + column + "=?1" + where;
    sql_statement st(file, sql.c_str());
    if (kind == 0) {
        int32_t v = 0;
        for (int i = 0; i < 4; i++)
            v = (int32_t)((uint32_t)v << 8 | r.byte());
        st.bind_int(1, v % 16);  // small ids meet the file's own
    } else if (kind == 1) {
        std::string text(r.byte() % 24, '\0');
        for (char &ch : text)
            ch = (char)r.byte();
        st.bind_text(1, text);
    }
    st.bind_int(2, row);
    st.step();
}

int64_t count(const char *sql)
{
    sql_statement st(dbase_db(), sql);
    return st.row() ? st.column_int(0) : -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_server_init();
    dbase_init();
    FUZZ_CHECK(dbase_db() != nullptr);
    usb_set_retry_pause_ms(0);
    sqlite3 *db = dbase_db();
    FUZZ_CHECK(sql_query(db, LIBRARY) == 0);
    FUZZ_CHECK(dbase_save_project(0) == 0);
    FUZZ_CHECK(sql_query(db, "UPDATE project SET label='Show' WHERE id=2; UPDATE output SET id_lsp=12 WHERE "
                             "out_id<2; UPDATE output SET id_lsp=13 WHERE out_id=2") == 0);
    FUZZ_CHECK(dbase_usb_export_project(2) == 0);
    std::string exported = fuzz_root_init() + "/dev/sda1/Show.karu8";
    FILE *f = fopen(exported.c_str(), "rb");
    FUZZ_CHECK(f != nullptr);
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        export_bytes.append(buf, n);
    fclose(f);
    input_file = fuzz_root_init() + "/tmp/input.karu8";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    input_reader r{data, size};
    bool edits = (r.byte() & 1) != 0;
    FILE *f = fopen(input_file.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    if (edits)
        fwrite(export_bytes.data(), 1, export_bytes.size(), f);
    else
        fwrite(r.p, 1, r.left, f);
    fclose(f);
    if (edits) {
        sqlite3 *raw = nullptr;
        sqlite3_open_v2(input_file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
        sql_db file(raw);
        for (int n = 0; r.left > 0 && n < 32; n++)
            edit(raw, r);
    }

    int64_t projects = count("SELECT count(*) FROM project");
    int result = dbase_usb_import_file(input_file);
    FUZZ_CHECK(result == DBASE_USB_DONE || result == DBASE_USB_ATTACH || result == DBASE_USB_BAD_FILE);
    FUZZ_CHECK(count("SELECT count(*) FROM project") == projects + (result == DBASE_USB_DONE ? 1 : 0));
    sql_statement check(dbase_db(), "PRAGMA quick_check");
    FUZZ_CHECK(check.row() && check.column_text(0) == "ok");

    // Back to the library and projects the export was made from.
    FUZZ_CHECK(sql_query(dbase_db(), "DELETE FROM inputbus WHERE id_project>2; DELETE FROM geq WHERE id_project>2; "
                                     "DELETE FROM buseq WHERE id_project>2; DELETE FROM output WHERE id_project>2; "
                                     "DELETE FROM outeq WHERE id_project>2; DELETE FROM project WHERE id>2;") == 0);
    FUZZ_CHECK(sql_query(dbase_db(), LIBRARY) == 0);
    return 0;
}
