// USB transfer of a project whose eight outputs play eight different library
// entries (two folders deep), inside one process on the database of a
// simulation root under /tmp; the stick is the root's folder dev/sda1,
// mounted by the shims:
//   BM_Export          command 1034: mount, a fresh file by the schema
//                      script, the project's rows and the 8 entries with
//                      their folders and entry 0, unmount;
//   BM_Import          command 1035 with file 1: mount, list, the new
//                      project with the 8 entries merged (all found by
//                      path, same version), unmount;
//   BM_ImportFile      the import's database work alone (no stick);
//   BM_MountUnmount    mounting and unmounting alone (with the shims, a few
//                      bash processes: the device's own mount differs).
// The imported project is deleted again outside the timing.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "bench_root.h"
#include "dbase.h"
#include "dbase_project.h"
#include "dbase_usb.h"
#include "usb.h"

namespace {

std::string root;
int project;

void setup()
{
    if (!root.empty())
        return;
    root = bench_sim_root();
    fclose(stderr);
    if (system_init() != 0)
        abort();
    dbase_init();
    std::filesystem::create_directory(root + "/dev/sda1");
    usb_set_retry_pause_ms(0);
    sqlite3 *db = dbase_db();
    sql_query(db, "INSERT INTO lsp (id,id_parent,is_folder,label) VALUES (100,0,1,'Brand'),(101,100,1,'Series')");
    for (int i = 0; i < 8; i++) {
        std::string sql = "INSERT INTO lsp (id,id_parent,label,version,ways,config) VALUES (" +
                          std::to_string(110 + i) + ",101,'Box%20" + std::to_string(i) + "',3,1,'fullrange')";
        sql_query(db, sql.c_str());
    }
    dbase_save_project(0);
    project = (int)dbase_lookup_int("SELECT max(id) FROM project", 0, 0);
    sql_query(db, ("UPDATE project SET label='Bench' WHERE id=" + std::to_string(project)).c_str());
    for (int i = 0; i < 8; i++)
        sql_query(db, ("UPDATE output SET id_lsp=" + std::to_string(110 + i) + ", group_lsp=" + std::to_string(i) +
                       " WHERE out_id=" + std::to_string(i) + " AND id_project=" + std::to_string(project))
                          .c_str());
    if (dbase_usb_export_project(project) != 0)
        abort();
}

void remove_imported()
{
    std::string p = "(SELECT max(id) FROM project)";
    for (const char *table : {"inputbus", "geq", "buseq", "output", "outeq"})
        sql_query(dbase_db(), (std::string("DELETE FROM ") + table + " WHERE id_project=" + p).c_str());
    sql_query(dbase_db(), ("DELETE FROM project WHERE id=" + p).c_str());
}

void BM_Export(benchmark::State &state)
{
    setup();
    for (auto _ : state)
        if (dbase_usb_export_project(project) != 0)
            state.SkipWithError("export failed");
}
BENCHMARK(BM_Export)->Unit(benchmark::kMillisecond)->UseRealTime();

template <class F>
void import_loop(benchmark::State &state, F import)
{
    setup();
    for (auto _ : state) {
        if (import() != 0)
            state.SkipWithError("import failed");
        state.PauseTiming();
        remove_imported();
        state.ResumeTiming();
    }
}

void BM_Import(benchmark::State &state)
{
    import_loop(state, [] { return dbase_usb_import_project(nullptr, 1, 0); });
}
BENCHMARK(BM_Import)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ImportFile(benchmark::State &state)
{
    import_loop(state, [] { return dbase_usb_import_file(root + "/dev/sda1/Bench.karu8"); });
}
BENCHMARK(BM_ImportFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MountUnmount(benchmark::State &state)
{
    setup();
    for (auto _ : state) {
        if (!usb_mount())
            state.SkipWithError("no stick");
        usb_umount();
    }
}
BENCHMARK(BM_MountUnmount)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
