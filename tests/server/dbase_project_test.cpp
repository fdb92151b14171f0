// Project storage inside the test process, on a fresh database per test:
// loading through the setters (field by field against what was saved), the
// rules of a load (mutes, a group's first output, stored filter kinds,
// missing columns, damaged rows), a new project from the template, the
// list, the lookups and the delete transaction.
#include <sqlite3.h>

#include "dbase.h"
#include "dbase_lsp.h"
#include "dbase_project.h"
#include "server_state.h"
#include "system_bus.h"
#include "system_lsp.h"
#include "system_out.h"
#include "system_prj.h"

namespace {

const char *const TWO_WAY = "LOW\nLPF 2KHZ LR24\nHIGH\nHPF 2KHZ LR24\n";

class Project : public ServerState {
protected:
    void SetUp() override
    {
        ServerState::SetUp();
        errors_of([] { dbase_init(); });
        ASSERT_NE(dbase_db(), nullptr);
        system_lsp_reports_clear();
        system_prj_reset();
    }
    void TearDown() override
    {
        dbase_close();
        system_lsp_reports_clear();
        system_prj_reset();
        ServerState::TearDown();
    }

    // The live state saved as a new project under label; its id.
    int save_new(const char *label)
    {
        dbase_copy_text(my_sys->project_label, label, SYS_LABEL_MAX);
        EXPECT_EQ(errors_of([] { EXPECT_EQ(dbase_save_project(0), 0); }), "");
        return my_sys->project_id;
    }

    void sql(const std::string &text) { ASSERT_EQ(errors_of([&] { sql_query(dbase_db(), text.c_str()); }), ""); }

    int64_t one_int(const std::string &text)
    {
        sql_statement st(dbase_db(), text.c_str());
        return st.row() ? st.column_int(0) : -999;
    }

    // A library entry holding text, stored as command 67 stores it.
    int entry(const char *text)
    {
        int id = dbase_new_lsp(0, 0);
        errors_of([&] { system_lsp_prop(0, id, 0, text); });
        system_lsp_reports_clear();
        return id;
    }

    // The rows a project has in the five tables of buses and outputs.
    int project_rows(int id)
    {
        int64_t n = 0;
        for (const char *table : {"inputbus", "geq", "buseq", "output", "outeq"})
            n += one_int(std::string("SELECT count(*) FROM ") + table + " WHERE id_project=" + std::to_string(id));
        return (int)n;
    }

    std::string list(int id) { return reply_of([&](report_writer *w) { dbase_list_projects(w, id, 4); }); }
};

// Offset of the first byte in which two records differ, -1 when none.
long first_difference(const void *a, const void *b, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (((const uint8_t *)a)[i] != ((const uint8_t *)b)[i])
            return (long)i;
    return -1;
}

// Distinctive values on every bus and output field a project holds, set
// through the setters so that each is one they accept.
void distinctive_mix(int two_way)
{
    for (int b = 0; b < SYS_BUSES; b++) {
        system_bus_set_gain(1, b, -1.5f - b);
        system_bus_set_phase(1, b, b & 1);
        system_bus_set_comp_thres(1, b, -10.0f - b);
        system_bus_set_comp_ratio(1, b, 2.0f + b);
        system_bus_set_comp_knee(1, b, 1.0f + b);
        system_bus_set_peak_overshoot(1, b, 3.0f + b);
        system_bus_set_comp_attack(1, b, 11.0f + b);
        system_bus_set_comp_release(1, b, 120.0f + b);
        system_bus_set_peak_release(1, b, 7.0f + b);
        system_bus_set_eq_flags(1, b, b % 2 ? EQ_FLAG_PEQ : EQ_FLAG_SHELF);
        system_bus_set_label(1, b, ("Bus%20%E9%u20AC" + std::to_string(b)).c_str());
        system_bus_set_mute(1, b, (b + 1) & 1);
        system_bus_set_patch(1, b, 1 << (b % 4));
        system_bus_set_group_local(1, b, -1);
        system_bus_set_group_net(1, b, b % 3 - 1);
        for (int g = 0; g < SYS_GEQ_BANDS; g++)
            system_bus_set_geq(1, b, g, (float)((g + b) % 25 - 12));
        for (int p = 0; p < SYS_BUS_PEQ_BANDS; p++)
            system_bus_set_peq(1, b, p, 100.0f * (p + 1) + b, 0.5f + p, -2.0f - p, p & 1);
        system_bus_set_shelf(1, b, 0, 120.0f + b, 3.0f, 1);
        system_bus_set_shelf(1, b, 1, 9000.0f + b, -4.0f, 0);
        system_bus_set_hpf(1, b, 30.0f + b, b % 5, b & 1);
    }
    // Every group plays the library's entries, as after any load.
    for (int g = 1; g < SYS_OUTPUTS; g++)
        system_out_group_lsp_set(1, g, 0, 1, -1);
    system_out_group_lsp_set(1, 0, two_way, 1, -1);
    for (int g = 0; g < SYS_OUTPUTS; g++) {
        if (report_format_first_out(g) < 0)
            continue;
        system_out_group_set_gain(1, g, -2.0f - g);
        system_out_group_set_phase(1, g, g & 1);
        system_out_group_set_delay(1, g, 1.25f + g, 0);
        system_out_group_label(1, g, ("Out%20%u00FC" + std::to_string(g)).c_str());
        system_out_group_set_input(1, g, 7 - g);
        system_out_group_set_grp_local(1, g, -1);
        system_out_group_set_grp_net(1, g, g % 2);
        system_out_group_set_eq_flags(1, g, EQ_FLAG_HIGHPASS);
        for (int p = 0; p < SYS_OUT_PEQ_BANDS; p++)
            system_out_group_set_peq(1, g, p, 200.0f * (p + 1) + g, 1.5f, 4.0f - p, p == 2);
        system_out_group_set_shelf(1, g, 0, 90.0f, -6.0f, 0);
        system_out_group_set_shelf(1, g, 1, 11000.0f, 2.5f, 1);
        system_out_group_set_hpf(1, g, 45.0f + g, 4 - g % 5, 0);
    }
    for (int o = 0; o < SYS_OUTPUTS; o++)
        system_out_set_mute(1, o, o % 3 == 0);
}

TEST_F(Project, ALoadBringsBackEveryStoredValueAndClearsTheModifiedFlag)
{
    my_sys->system_flags = 1;  // the outputs keep their stored mutes
    int two_way = entry(TWO_WAY);
    ASSERT_EQ(errors_of([&] { distinctive_mix(two_way); }), "");
    ASSERT_EQ(my_sys->out[1].group_lsp, 0);
    int id = save_new("Show%20A");
    sys_file saved = *my_sys;

    // Everything else, and the outputs in other groups.
    int three_way = entry("LOW\nMID\nHIGH\n");
    errors_of([&] {
        system_out_group_lsp_set(2, 0, 0, 0, -1);
        system_out_group_lsp_set(2, 3, three_way, 0, -1);
    });
    for (int b = 0; b < SYS_BUSES; b++) {
        my_sys->bus[b].gain = 5.0f;
        my_sys->bus[b].geq[3] = 1.0f;
        my_sys->bus[b].label[0] = 0;
    }
    my_sys->out[0].delay_m = 0.0f;
    my_sys->modified = 1;
    report_pending_clear();

    ASSERT_EQ(errors_of([&] { EXPECT_EQ(dbase_load_project(id), 0); }), "");
    for (int b = 0; b < SYS_BUSES; b++)
        EXPECT_EQ(first_difference(&my_sys->bus[b], &saved.bus[b], sizeof saved.bus[b]), -1) << "bus " << b;
    for (int o = 0; o < SYS_OUTPUTS; o++)
        EXPECT_EQ(first_difference(&my_sys->out[o], &saved.out[o], sizeof saved.out[o]), -1) << "output " << o;
    EXPECT_EQ(my_sys->project_id, id);
    EXPECT_STREQ(my_sys->project_label, "Show%20A");
    EXPECT_EQ(my_sys->project_lock, -1);  // as the live state had it
    EXPECT_EQ(my_sys->modified, 0);
    // The setters marked every bus and output for the update pass.
    for (int b = 0; b < SYS_BUSES; b++)
        EXPECT_TRUE(report_pending.bus[b]);
    EXPECT_TRUE(report_pending.group_map);
    EXPECT_EQ(report_pending.requester[2], 0);  // the server's own changes
}

TEST_F(Project, OutputMutesFollowBitZeroOfTheSystemFlags)
{
    for (int o = 0; o < SYS_OUTPUTS; o++)
        my_sys->out[o].mute = o == 5;
    int id = save_new("Mutes");
    for (int o = 0; o < SYS_OUTPUTS; o++)
        my_sys->out[o].mute = 0;

    my_sys->system_flags = 0;
    errors_of([&] { dbase_load_project(id); });
    for (int o = 0; o < SYS_OUTPUTS; o++)
        EXPECT_EQ(my_sys->out[o].mute, 1) << o;

    my_sys->system_flags = 3;
    errors_of([&] { dbase_load_project(id); });
    for (int o = 0; o < SYS_OUTPUTS; o++)
        EXPECT_EQ(my_sys->out[o].mute, o == 5) << o;
}

TEST_F(Project, AGroupTakesItsFiltersFromItsFirstOutput)
{
    int two_way = entry(TWO_WAY);
    errors_of([&] { system_out_group_lsp_set(1, 3, two_way, 0, -1); });
    ASSERT_EQ(my_sys->out[3].group_lsp, 3);
    ASSERT_EQ(my_sys->out[4].group_lsp, 3);
    int id = save_new("Rows");
    // Output 4's rows say something else than output 3's.
    std::string rows = " WHERE id_project=" + std::to_string(id) + " AND out_id=";
    sql("UPDATE outeq SET freq=(CASE type WHEN 3 THEN 7777 ELSE 444 END),gain=-9" + rows + "4");
    sql("UPDATE outeq SET freq=(CASE type WHEN 3 THEN 3333 ELSE 333 END),gain=5" + rows + "3");
    errors_of([] { system_out_group_lsp_set(1, 3, 0, 0, -1); });

    ASSERT_EQ(errors_of([&] { dbase_load_project(id); }), "");
    ASSERT_EQ(my_sys->out[4].group_lsp, 3);
    for (int o : {3, 4}) {
        for (int p = 0; p < SYS_OUT_PEQ_BANDS; p++) {
            EXPECT_EQ(my_sys->out[o].peq[p].freq, 333.0f) << o;
            EXPECT_EQ(my_sys->out[o].peq[p].gain, 5.0f) << o;
        }
        EXPECT_EQ(my_sys->out[o].shelf[0].freq, 333.0f);
        EXPECT_EQ(my_sys->out[o].shelf[1].freq, 3333.0f);
        EXPECT_EQ(my_sys->out[o].highpass.freq, 333.0f);
    }
}

TEST_F(Project, StoredRowsThatNoSetterTakesAreLeftOrReadSafely)
{
    my_sys->bus[1].highpass = {120.0f, 2, 0, 0};
    my_sys->bus[4].comp_attack = 25.0f;
    my_sys->system_flags = 1;
    int id = save_new("Odd");
    std::string p = std::to_string(id);
    // A slope the table does not know reads as off.
    sql("UPDATE buseq SET slope=18,mode=0 WHERE type=1 AND bus_id=1 AND id_project=" + p);
    // A column an old database lacked reads as the start-up value.
    sql("UPDATE inputbus SET comp_attack=NULL WHERE bus_id=4 AND id_project=" + p);
    // Damaged output rows: an output -1 must never become the alarm mute.
    sql("UPDATE output SET out_id=-1,mute=1 WHERE out_id=6 AND id_project=" + p);
    sql("UPDATE output SET out_id=9 WHERE out_id=7 AND id_project=" + p);
    // Texts written by another program: nothing of them may start a report line.
    sql("UPDATE project SET label='Odd'||char(10)||'1,0,0,1',description='two words' WHERE id=" + p);
    sql("UPDATE inputbus SET label='Kick'||char(13)||char(10)||'x' WHERE bus_id=0 AND id_project=" + p);

    report_pending_clear();
    std::string errors = errors_of([&] { EXPECT_EQ(dbase_load_project(id), 0); });
    EXPECT_EQ(errors, "dbase_load_project: out_id out of range (-1)\ndbase_load_project: out_id out of range (9)\n");
    EXPECT_EQ(my_sys->bus[1].highpass.kind, 0);
    EXPECT_EQ(my_sys->bus[1].highpass.freq, 120.0f);
    EXPECT_EQ(my_sys->bus[4].comp_attack, 50.0f);
    EXPECT_EQ(report_pending.device[123], 0);
    EXPECT_STREQ(my_sys->project_label, "Odd");
    EXPECT_STREQ(my_sys->project_description, "two");
    EXPECT_STREQ(my_sys->bus[0].label, "Kick");
    EXPECT_EQ(list(id), "97,4,0\n96,4," + p + ",-1,Odd\n98,4\n");

    // An unknown project changes nothing at all.
    sys_file before = *my_sys;
    report_pending_clear();
    EXPECT_EQ(errors_of([] { EXPECT_EQ(dbase_load_project(99), -1); }),
              "dbase_load_project: project_id not found in database\n");
    EXPECT_TRUE(record_equals(before));
    EXPECT_TRUE(nothing_marked());
}

TEST_F(Project, SavingWithTheTemplateIdMakesANewProjectFromTheTemplate)
{
    sql("UPDATE project SET description='Empty%20stage' WHERE id=1");
    sql("UPDATE inputbus SET gain=-33 WHERE bus_id=2 AND id_project=1");
    my_sys->bus[2].gain = 4.0f;  // the live mix differs from the template
    my_sys->project_lock = 1235;
    dbase_copy_text(my_sys->project_label, "Fresh", SYS_LABEL_MAX);

    EXPECT_EQ(errors_of([] { EXPECT_EQ(dbase_save_project(1), 0); }), "");
    int id = my_sys->project_id;
    EXPECT_EQ(id, 2);
    EXPECT_EQ(my_sys->project_lock, 0);
    EXPECT_STREQ(my_sys->project_label, "Fresh");
    EXPECT_STREQ(my_sys->project_description, "Empty%20stage");
    EXPECT_EQ(my_sys->bus[2].gain, -33.0f);
    EXPECT_EQ(my_sys->modified, 0);
    EXPECT_EQ(report_project_stored_lock(), 0);
    EXPECT_EQ(one_int("SELECT readonly FROM project WHERE id=2"), 0);
    EXPECT_EQ(one_int("SELECT gain FROM inputbus WHERE bus_id=2 AND id_project=2"), -33);
    // The template itself is untouched.
    EXPECT_EQ(one_int("SELECT readonly FROM project WHERE id=1"), -1);
    EXPECT_EQ(one_int("SELECT count(*) FROM project"), 2);
}

TEST_F(Project, TheListIsOrderedByLockLabelAndUseAndNeverShowsTheTemplate)
{
    auto add = [&](const char *label, int lock, int uses) {
        int id = save_new(label);
        sql("UPDATE project SET readonly=" + std::to_string(lock) + ",use_counter=" + std::to_string(uses) +
            " WHERE id=" + std::to_string(id));
        return id;
    };
    add("B", 0, 0);      // 2
    add("A", 0, 0);      // 3
    add("B", 0, 5);      // 4: the more used of the two Bs first
    add("Z", -1, 0);     // 5: write-protected last
    add("C", 1235, 0);   // 6: codes first
    add("", 0, 0);       // 7: no label
    EXPECT_EQ(list(-1), "97,4,1\n96,4,6,1235,C\n96,4,7,0,\n96,4,3,0,A\n96,4,4,0,B\n96,4,2,0,B\n96,4,5,-1,Z\n98,4\n");
    EXPECT_EQ(list(4), "97,4,0\n96,4,4,0,B\n98,4\n");
    EXPECT_EQ(list(1), "97,4,0\n98,4\n");
    EXPECT_EQ(list(42), "97,4,0\n98,4\n");

    // A list that does not fit ends with its end line all the same.
    std::string cut;
    EXPECT_EQ(errors_of([&] { cut = reply_of([](report_writer *w) { dbase_list_projects(w, -1, 4); }, 40); }),
              "dbase_list_projects: list cut after 1 projects (reply full)\n");
    EXPECT_EQ(cut, "97,4,1\n96,4,6,1235,C\n98,4\n");
}

TEST_F(Project, DescriptionsAndLookups)
{
    int id = save_new("Hall");
    sql("UPDATE project SET description='Main%20hall' WHERE id=" + std::to_string(id));
    EXPECT_EQ(reply_of([&](report_writer *w) { EXPECT_EQ(dbase_info_prj_desc(w, id, 3), 0); }),
              "119,3," + std::to_string(id) + ",Main%20hall\n");
    std::string missing;
    EXPECT_EQ(errors_of([&] {
                  missing = reply_of([](report_writer *w) { EXPECT_EQ(dbase_info_prj_desc(w, 77, 3), -1); });
              }),
              "dbase_info_prj_desc: project_id (77) not found in database\n");
    EXPECT_EQ(missing, "");

    char label[DBASE_PROJECT_LABEL_SIZE];
    EXPECT_EQ(dbase_project_label(id, label), 0);
    EXPECT_STREQ(label, "Hall");
    EXPECT_EQ(dbase_project_label(77, label), 1);
    EXPECT_STREQ(label, "");
    sql("UPDATE project SET label='" + std::string(300, 'x') + "' WHERE id=1");
    EXPECT_EQ(dbase_project_label(1, label), 0);
    EXPECT_EQ(strlen(label), 200u);

    EXPECT_EQ(dbase_project_by_label("Hall"), id);
    EXPECT_EQ(dbase_project_by_label("Nope"), 0);
    EXPECT_EQ(dbase_project_by_label_except("Hall", id), 0);
    EXPECT_EQ(dbase_project_lock(1), -1);
    EXPECT_EQ(dbase_project_lock(77), 0);
    dbase_count_use(id);
    dbase_count_use(id);
    EXPECT_EQ(one_int("SELECT use_counter FROM project WHERE id=" + std::to_string(id)), 2);
}

TEST_F(Project, DeletionsBecomePermanentOnlyAtTheCommit)
{
    int keep = save_new("Keep");
    int gone = save_new("Gone");
    ASSERT_EQ(project_rows(gone), 8 * 8 + 8 + 8 * 7 + 8 + 8);

    // Without an open transaction nothing is deleted.
    dbase_delete_project(gone);
    EXPECT_EQ(project_rows(gone), 144);

    // A load, a save, and a library change each undo what was deleted so far.
    std::function<void()> interventions[] = {
        [&] { dbase_load_project(keep); },
        [&] { dbase_save_project(keep); },
        [&] { dbase_new_lsp(0, 0); },
    };
    for (auto &intervene : interventions) {
        dbase_delete_begin();
        dbase_delete_project(gone);
        EXPECT_EQ(one_int("SELECT count(*) FROM project WHERE id=" + std::to_string(gone)), 0);
        errors_of(intervene);
        EXPECT_FALSE(dbase_delete_open());
        EXPECT_EQ(dbase_delete_end(), 0);
        EXPECT_EQ(project_rows(gone), 144);
    }
    EXPECT_EQ(one_int("SELECT count(*) FROM lsp WHERE id>0"), 1);  // the library change stayed

    dbase_delete_begin();
    dbase_delete_project(gone);
    EXPECT_EQ(dbase_delete_end(), 1);
    EXPECT_EQ(project_rows(gone), 0);
    EXPECT_EQ(one_int("SELECT count(*) FROM project WHERE id=" + std::to_string(gone)), 0);
    EXPECT_EQ(project_rows(keep), 144);

    dbase_delete_begin();
    dbase_delete_project(keep);
    dbase_delete_rollback();
    EXPECT_EQ(project_rows(keep), 144);
}

}  // namespace

namespace {

// conn's next user message as its line 25, "" when there is none.
std::string message_of(int conn)
{
    return reply_of([&](report_writer *w) { report_message_take(conn, w); });
}

TEST_F(Project, SavingWhileTheTemplateIsLiveKeepsTheLiveMix)
{
    sql("UPDATE project SET readonly=0 WHERE id=1");  // a template someone unlocked
    ASSERT_EQ(my_sys->project_id, 1);
    my_sys->project_lock = 0;
    my_sys->bus[0].gain = 4.0f;

    EXPECT_EQ(errors_of([] { system_prj_save_project(2, 0); }), "");
    EXPECT_EQ(message_of(2), "25,2,0,Project%20saved.\n");
    EXPECT_EQ(my_sys->project_id, 2);
    EXPECT_EQ(my_sys->bus[0].gain, 4.0f);
    EXPECT_EQ(one_int("SELECT gain FROM inputbus WHERE bus_id=0 AND id_project=2"), 4);
    EXPECT_EQ(one_int("SELECT gain FROM inputbus WHERE bus_id=0 AND id_project=1"), 0);
    EXPECT_TRUE(report_pending.device[100] && report_pending.device[105]);
    EXPECT_EQ(report_pending.requester[100], 2);
}

using ProjectWithoutDatabase = ServerState;

TEST_F(ProjectWithoutDatabase, NoCommandClaimsASuccess)
{
    ASSERT_EQ(dbase_db(), nullptr);
    sys_file before = *my_sys;
    EXPECT_EQ(errors_of([] { system_prj_save_project(3, 0); }),
              "system_prj_save_project: dbase_save_project() error\n");
    EXPECT_EQ(message_of(3), "25,3,1,Database%0Asave%20error.\n");
    EXPECT_EQ(errors_of([] { system_prj_new_project(3, "Fresh"); }),
              "system_prj_new_project: dbase_save_project() error\n");
    EXPECT_EQ(message_of(3), "25,3,1,Database%0Asave%20error.\n");
    EXPECT_EQ(errors_of([] { system_prj_load_project(3, 2); }),
              "dbase_load_project: no database\nsystem_prj_load_project: dbase_load_project() error\n");
    EXPECT_EQ(message_of(3), "25,3,1,Database%0Aload%20error.\n");
    EXPECT_TRUE(record_equals(before));
}

}  // namespace
