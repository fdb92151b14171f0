// Loudspeaker presets on output groups, inside the test process on a fresh
// database: assignment with its clean-up of groups that lost outputs,
// freeing an output, re-assignment after a text is stored, and the
// loudspeaker block a client reads.
#include <cmath>
#include <cstdlib>

#include "command_info.h"
#include "dbase.h"
#include "dbase_lsp.h"
#include "dsp/filter.h"
#include "server_state.h"
#include "support/capture.h"
#include "system_lsp.h"
#include "system_out.h"

namespace {

const char *const TWO_WAY = "LOW\nGAIN -6DB\nLPF 2KHZ LR24\nHIGH\nGAIN -3DB\nHPF 2KHZ LR24\nDELAY 1MS\n";
const char *const THREE_WAY = "LOW\nMID\nHIGH\n";

class OutLsp : public ServerState {
protected:
    void SetUp() override
    {
        ServerState::SetUp();
        errors_of([] { dbase_init(); });
        ASSERT_NE(dbase_db(), nullptr);
        system_lsp_reports_clear();
    }
    void TearDown() override
    {
        dbase_close();
        system_lsp_reports_clear();
        ServerState::TearDown();
    }

    // A new library entry holding text, stored as command 67 stores it.
    int entry(const std::string &text)
    {
        int id = dbase_new_lsp(0, 0);
        errors_of([&] { system_lsp_prop(0, id, 0, text.c_str()); });
        system_lsp_reports_clear();
        report_pending_clear();
        return id;
    }

    void assign(int g, int id, int keep_mute = 0, int first_out = -1)
    {
        EXPECT_EQ(errors_of([&] { system_out_group_lsp_set(3, g, id, keep_mute, first_out); }), "");
    }
};

// group_lsp of outputs 0 to 7, then their id_lsp.
std::string groups()
{
    std::string s;
    for (const sys_output &o : my_sys->out)
        s += std::to_string(o.group_lsp) + " ";
    return s.substr(0, s.size() - 1);
}

std::string ids()
{
    std::string s;
    for (const sys_output &o : my_sys->out)
        s += std::to_string(o.id_lsp) + " ";
    return s.substr(0, s.size() - 1);
}

std::string mutes()
{
    std::string s;
    for (const sys_output &o : my_sys->out)
        s += std::to_string(o.mute);
    return s;
}

void unmute_all()
{
    for (sys_output &o : my_sys->out)
        o.mute = 0;
}

std::string one_row(const std::string &sql)
{
    sql_statement st(dbase_db(), sql.c_str());
    return st.row() ? std::string(st.column_text(0)) : "<no row>";
}

void save_lock(int id, int code)
{
    EXPECT_EQ(errors_of([&] { dbase_save_lsp(0, id, 0, 1, code, 0, "Locked"); }), "");
}

bool passes(const filter_record &r)
{
    return memcmp(r.coef_block, FILTER_BYPASS_BLOCK, sizeof r.coef_block) == 0;
}

bool is_direct_out(const sys_output &o)
{
    return o.id_lsp == 0 && o.lsp.ways == 1 && strcmp(o.lsp.label, SYS_LSP_DIRECT_LABEL) == 0 &&
           o.way.way_index == 0 && o.way.gain == 0.0f && passes(o.way.sections[0]) && o.way.release == 60.0f;
}

TEST_F(OutLsp, ATwoWayEntryTakesTheNextOutputWithOneWayEach)
{
    int id = entry(TWO_WAY);
    unmute_all();
    assign(0, id);
    std::string e = std::to_string(id);
    EXPECT_EQ(groups(), "0 0 2 3 4 5 6 7");  // group 1 lost its only output
    EXPECT_EQ(ids(), e + " " + e + " 0 0 0 0 0 0");
    EXPECT_EQ(mutes(), "11000000");

    // Ways go to outputs from way 0 upwards: high, then low.
    const sys_output &o0 = my_sys->out[0], &o1 = my_sys->out[1];
    EXPECT_EQ(o0.way.way_index, 1);
    EXPECT_FLOAT_EQ(o0.way.gain, -3.0f);
    EXPECT_FLOAT_EQ(o0.way.delay, 1.0f);
    EXPECT_EQ(o1.way.way_index, 3);
    EXPECT_FLOAT_EQ(o1.way.gain, -6.0f);
    for (const sys_output *o : {&o0, &o1}) {
        EXPECT_FALSE(passes(o->way.sections[0]));
        EXPECT_FALSE(passes(o->way.sections[1]));
        EXPECT_TRUE(passes(o->way.sections[2]));
        EXPECT_EQ(o->lsp.id, id);
        EXPECT_EQ(o->lsp.ways, 2);
        EXPECT_STREQ(o->lsp.label, "%28New%29");
    }
    // The group map, and the whole group uploaded again.
    EXPECT_TRUE(report_pending.group_map);
    EXPECT_EQ(report_pending.requester[36], 3);
    EXPECT_TRUE(report_pending.out_flags[0] & REPORT_FLAG_REFRESH);
    EXPECT_EQ(my_sys->modified, 1);

    // Entry 0 back onto the group frees output 1 into the lowest unused group.
    my_sys->out[1].mute = 0;
    assign(0, 0);
    EXPECT_EQ(groups(), "0 1 2 3 4 5 6 7");
    EXPECT_EQ(mutes(), "11000000");
    EXPECT_TRUE(is_direct_out(my_sys->out[0]));
    EXPECT_TRUE(is_direct_out(my_sys->out[1]));
}

TEST_F(OutLsp, TheGroupKeepsItsOwnValuesWhenItTakesOutputsBeforeIt)
{
    int id = entry(THREE_WAY);
    sys_output &seven = my_sys->out[7], &five = my_sys->out[5];
    snprintf(seven.label, SYS_LABEL_SIZE, "Delay%%20Fill");
    seven.gain = -4.0f;
    seven.bus_input = 3;
    seven.peq[1] = sys_peq{250.0f, 2.0f, -3.0f, 0};
    snprintf(five.label, SYS_LABEL_SIZE, "Side");
    five.gain = 2.0f;

    // Nothing after output 7: outputs 6 and 5 are taken, 5 becomes the first.
    assign(7, id);
    EXPECT_EQ(groups(), "0 1 2 3 4 7 7 7");
    for (int o = 5; o < 8; o++) {
        const sys_output &x = my_sys->out[o];
        EXPECT_STREQ(x.label, "Delay%20Fill") << o;
        EXPECT_FLOAT_EQ(x.gain, -4.0f) << o;
        EXPECT_EQ(x.bus_input, 3) << o;
        EXPECT_FLOAT_EQ(x.peq[1].gain, -3.0f) << o;
        EXPECT_EQ(x.way.way_index, o - 4) << o;  // high, mid, low
    }

    // A four-way text on group 6 while every output is its own group: 6, 7,
    // then 5 and 4.
    for (int o = 0; o < SYS_OUTPUTS; o++)
        my_sys->out[o].group_lsp = o;
    int four = entry("SUB\nLOW\nMID\nHIGH\n");
    assign(6, four);
    EXPECT_EQ(groups(), "0 1 2 3 6 6 6 6");
    EXPECT_EQ(my_sys->out[4].way.way_index, 1);
    EXPECT_EQ(my_sys->out[7].way.way_index, 4);
}

TEST_F(OutLsp, AGroupLeftWithFewerOutputsThanWaysIsFreed)
{
    int two = entry(TWO_WAY);
    assign(4, two);
    EXPECT_EQ(groups(), "0 1 2 3 4 4 6 7");
    unmute_all();
    report_pending_clear();

    // Group 3 takes output 4, so group 4 keeps only output 5 of its two ways.
    assign(3, two);
    EXPECT_EQ(groups(), "0 1 2 3 3 5 6 7");
    EXPECT_EQ(mutes(), "00011100");
    EXPECT_TRUE(is_direct_out(my_sys->out[5]));
    EXPECT_EQ(my_sys->out[5].label[0], 0);
    EXPECT_TRUE(report_pending.out_flags[5] & REPORT_FLAG_REFRESH);

    // A smaller loudspeaker frees what the group no longer needs; keep-mute
    // spares the outputs the group keeps.
    int three = entry(THREE_WAY);
    assign(0, three);
    EXPECT_EQ(groups(), "0 0 0 3 3 5 6 7");
    unmute_all();
    assign(0, 0, 1);
    EXPECT_EQ(groups(), "0 1 2 3 3 5 6 7");
    EXPECT_EQ(mutes(), "01100000");
}

TEST_F(OutLsp, ProjectLoadingNamesTheFirstOutput)
{
    int two = entry(TWO_WAY);
    unmute_all();
    // Group 2 placed at output 5 (its old place, output 2, left as it is).
    my_sys->out[2].group_lsp = 1;
    assign(2, two, 1, 5);
    EXPECT_EQ(groups(), "0 1 1 3 4 2 2 7");
    EXPECT_EQ(mutes(), "00000000");
    EXPECT_EQ(my_sys->out[5].way.way_index, 1);
    EXPECT_EQ(my_sys->out[6].way.way_index, 3);
}

TEST_F(OutLsp, RefusedAssignmentsChangeNothing)
{
    int two = entry(TWO_WAY);
    expect_rejected("system_out_group_lsp_set: group_lsp out of range\n",
                    [&] { system_out_group_lsp_set(1, 8, two, 0, -1); });
    expect_rejected("system_out_group_lsp_set: group_lsp out of range\n",
                    [&] { system_out_group_lsp_set(1, -1, two, 0, -1); });
    expect_rejected("system_out_group_lsp_set: id_lsp out of range\n",
                    [&] { system_out_group_lsp_set(1, 0, -1, 0, -1); });
    expect_rejected("system_out_group_lsp_set: first output out of range\n",
                    [&] { system_out_group_lsp_set(1, 0, two, 0, 8); });
    expect_rejected("system_out_group_lsp_set: lspconfig_parse_from_id() returned NULL\n",
                    [&] { system_out_group_lsp_set(1, 0, 4242, 0, -1); });
    my_sys->out[5].group_lsp = 4;
    expect_rejected("system_out_group_lsp_set: group_lsp invalid (currently not set)\n",
                    [&] { system_out_group_lsp_set(1, 5, two, 0, -1); });
    // A folder has no text: one full-range way, like entry 0.
    int folder = dbase_new_lsp(1, 0);
    my_sys->out[0].mute = 0;
    assign(0, folder);
    EXPECT_EQ(my_sys->out[0].id_lsp, folder);
    EXPECT_EQ(my_sys->out[0].lsp.ways, 1);
}

TEST_F(OutLsp, FreeingInstallsEntryZeroFromTheLibrary)
{
    my_sys->out[4].group_lsp = 3;  // group 4 is free
    my_sys->out[4].way.gain = -9.0f;
    EXPECT_EQ(errors_of([] { free_output_channel(2, 4); }), "");
    EXPECT_EQ(my_sys->out[4].group_lsp, 4);
    const sys_output &o = my_sys->out[4];
    EXPECT_TRUE(is_direct_out(o));
    EXPECT_EQ(o.lsp.version, 1);  // entry 0's row
    EXPECT_EQ(o.lsp.locked, SYS_LSP_DIRECT_LOCK);  // its code does not fit 32 bits

    // A damaged entry 0 cannot give one output more than one way.
    sql_query(dbase_db(), "UPDATE lsp SET config='LOW\nHIGH\nGAIN -3DB' WHERE id=0");
    my_sys->out[3].group_lsp = 2;
    EXPECT_EQ(errors_of([] { free_output_channel(2, 3); }), "");
    EXPECT_EQ(my_sys->out[3].lsp.ways, 1);
    EXPECT_EQ(my_sys->out[3].way.way_index, 1);
}

// The sections line 69 of a reply, split at its commas.
std::vector<std::string> fields_of_69(const std::string &reply)
{
    std::vector<std::string> f;
    size_t at = reply.find("\n69,");
    if (at == std::string::npos)
        return f;
    std::string line = reply.substr(at + 1, reply.find('\n', at + 1) - at - 1);
    for (size_t p = 0, q; p <= line.size(); p = q + 1) {
        q = line.find(',', p);
        if (q == std::string::npos)
            q = line.size();
        f.push_back(line.substr(p, q - p));
    }
    return f;
}

TEST_F(OutLsp, StoringATextReassignsEveryGroupThatPlaysIt)
{
    int id = entry("FULLRANGE\n");
    assign(2, id);
    assign(5, id);
    unmute_all();
    report_pending_clear();

    FdCapture out(1);
    std::string errors = errors_of([&] { system_lsp_prop(4, id, 0, "LOW\nHIGH\nGAIN -200DB\nVERSION 9"); });
    std::string printed = out.finish();
    EXPECT_EQ(errors, "line 3: corrected gain to minimum (=-150.00 dB)\n"  // the text stored
                      "line 3: corrected gain to minimum (=-150.00 dB)\n"  // group 2 takes it
                      "line 3: corrected gain to minimum (=-150.00 dB)\n");  // group 5
    EXPECT_EQ(groups(), "0 1 2 2 4 5 5 7");
    EXPECT_EQ(mutes(), "00000000");  // a stored text never mutes
    EXPECT_FLOAT_EQ(my_sys->out[2].way.gain, -150.0f);
    EXPECT_EQ(one_row("SELECT ways||' '||version FROM lsp WHERE id=" + std::to_string(id)), "2 9");
    EXPECT_EQ(report_pending.requester[36], 4);

    // The library result: listing, text, the two ways' sections, the message.
    std::string sent = reply_of([](report_writer *w) { system_lsp_reports_take(w); });
    std::string e = std::to_string(id);
    EXPECT_NE(sent.find("\n67,4," + e + ",0,LOW%0AHIGH%0AGAIN%20-200DB%0AVERSION%209%0A\n"), std::string::npos);
    EXPECT_EQ(fields_of_69(sent).size(), 5u + 2 * (2 + 5 * SYS_WAY_SECTIONS));
    EXPECT_NE(sent.find("\n116,4," + e + ",3%24line%203%3A%20corrected%20gain%20to%20minimum%20%28%3D-150.00%20dB%29%0A\n"),
              std::string::npos);
    EXPECT_EQ(printed, "3$line 3: corrected gain to minimum (=-150.00 dB)\n");

    // Back to one way: the outputs the groups took are freed again.
    errors_of([&] { system_lsp_prop(4, id, 0, "FULLRANGE"); });
    EXPECT_EQ(groups(), "0 1 2 3 4 5 6 7");
    EXPECT_EQ(mutes(), "00010010");

    // A refused store re-assigns nothing.
    save_lock(id, 77);
    EXPECT_EQ(errors_of([&] { system_lsp_prop(4, id, 0, "LOW\nHIGH\n"); }), "system_lsp_prop: par==NULL\n");
    EXPECT_EQ(groups(), "0 1 2 3 4 5 6 7");
}

TEST_F(OutLsp, TheBlockOfAnEntryCarriesItsWaysSections)
{
    int id = entry("HIGH\nGAIN -3DB\nHPF 2KHZ Q0,7\nLOW\nPHASE 1\nREVERSE_ORDER\n");
    std::string e = std::to_string(id);
    std::string reply = reply_of([&](report_writer *w) { command_info_work(("1031,1," + e + ",0").c_str(), w); });
    EXPECT_EQ(reply.rfind("65,0,1\n64,0," + e + ",0,0,0,0,2,%28New%29\n66,0\n67,0," + e + ",0,HIGH%0A", 0), 0u) << reply;
    EXPECT_EQ(reply.find("\n116,"), std::string::npos);  // nothing corrected

    std::vector<std::string> f = fields_of_69(reply);
    ASSERT_EQ(f.size(), 5u + 2 * 62);
    EXPECT_EQ(f[1], "0");
    EXPECT_EQ(f[2], e);
    EXPECT_EQ(f[3], "2");
    EXPECT_EQ(f[4], "12");
    // Reverse order: the low way first, its gain factor negated by the polarity.
    EXPECT_EQ(f[5], "3");
    EXPECT_NEAR(atof(f[6].c_str()), -1.0, 1e-3);  // the table power of ten
    EXPECT_EQ(f[7] + "," + f[8] + "," + f[9], "0.000000000e+00,0.000000000e+00,1.000000000e+00");
    // The high way: 10^(-3/10), then its high-pass as a1, a2, b0, b1, b2.
    size_t h = 5 + 62;
    EXPECT_EQ(f[h], "1");
    EXPECT_NEAR(atof(f[h + 1].c_str()), std::pow(10.0, -0.3), 1e-4);
    filter_section s{};
    filter_highpass2(&s, 2000, 0.7);
    const double want[5] = {s.a1, s.a2, s.b0, s.b1, s.b2};
    for (int i = 0; i < 5; i++)
        EXPECT_NEAR(atof(f[h + 2 + i].c_str()), want[i], std::fabs(want[i]) * 1e-8) << i;
    EXPECT_EQ(f[h + 7 + 2], "1.000000000e+00");  // the second section passes

    // An unknown entry gives its empty listing and text, and no sections.
    std::string none = reply_of([](report_writer *w) { command_info_work("1031,1,999,0", w); });
    EXPECT_EQ(none, "65,0,1\n66,0\n67,0,999,0,\n");
}

}  // namespace
