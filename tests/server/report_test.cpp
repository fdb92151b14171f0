#include "report.h"
#include "server_state.h"

namespace {

using Report = ServerState;

std::string take(int conn)
{
    return reply_of([&](report_writer *w) { report_message_take(conn, w); });
}

TEST_F(Report, FirstChangeAfterALoadQueuesOneProjectReport)
{
    ASSERT_EQ(my_sys->modified, 0);
    report_bus(2, 7, 3, 0);
    EXPECT_EQ(my_sys->modified, 1);
    EXPECT_EQ(report_pending.project, 1);
    EXPECT_EQ(report_pending.bus[3], 1);
    EXPECT_EQ(report_pending.bus_label[3], 0);
    EXPECT_EQ(report_pending.requester[2], 7);

    // The project report went out; later changes queue nothing more.
    report_pending.project = 0;
    report_bus(9, 1, 3, REPORT_FLAG_LABEL);
    EXPECT_EQ(report_pending.project, 0);
    EXPECT_EQ(report_pending.bus_label[3], 1);
}

TEST_F(Report, OutputMutesBelongToTheProjectOnlyWhenTheFlagSaysSo)
{
    report_output(44, 2, 5, 0, false);
    report_output(37, 2, 6, 0, false);
    EXPECT_EQ(my_sys->modified, 0);
    EXPECT_EQ(report_pending.project, 0);
    EXPECT_EQ(report_pending.out[5], 1);
    EXPECT_EQ(report_pending.requester[44], 2);

    my_sys->system_flags = 1;
    report_output(44, 2, 5, 0, false);
    EXPECT_EQ(my_sys->modified, 1);
    EXPECT_EQ(report_pending.project, 1);
}

TEST_F(Report, OutputMarksCarryFlagsAndTheGroupMap)
{
    report_output(35, 3, 1, REPORT_FLAG_LABEL, false);
    report_output(36, 4, 1, 0, true);
    EXPECT_EQ(report_pending.out_flags[1], REPORT_FLAG_LABEL);
    EXPECT_EQ(report_pending.group_map, 1);
    EXPECT_EQ(report_pending.requester[35], 3);
    EXPECT_EQ(report_pending.requester[36], 4);
    EXPECT_EQ(my_sys->modified, 1);
}

TEST_F(Report, DeviceMarksDoNotTouchTheProject)
{
    report_device(24, 3, 5);
    report_device(70, 1, -12, 0);
    EXPECT_EQ(report_pending.device[24], 1);
    EXPECT_EQ(report_pending.device_value[24][0], 5);
    EXPECT_EQ(report_pending.device_value[70][0], -12);
    EXPECT_EQ(report_pending.requester[24], 3);
    EXPECT_EQ(my_sys->modified, 0);
    EXPECT_EQ(report_pending.project, 0);
}

TEST_F(Report, MarksWithBadIndexesAreRefused)
{
    EXPECT_EQ(errors_of([] { report_bus(2, 1, 8, 0); }), "report_bus: busid out of range\n");
    EXPECT_EQ(errors_of([] { report_output(38, 1, -1, 0, false); }), "report_output: outid out of range\n");
    EXPECT_EQ(errors_of([] { report_device(126, 1); }), "report_device: report id out of range\n");
    EXPECT_TRUE(nothing_marked());
    EXPECT_EQ(my_sys->modified, 0);
}

TEST_F(Report, MessagesAreTakenOnceInOrderAndEncoded)
{
    report_message(2, "Project saved.", 0);
    report_message(3, "Name exists.", 1);
    report_message(2, "Database\nload error.", 1);
    EXPECT_EQ(take(2), "25,2,0,Project%20saved.\n");
    EXPECT_EQ(take(2), "25,2,1,Database%0Aload%20error.\n");
    EXPECT_EQ(take(2), "");
    EXPECT_EQ(take(3), "25,3,1,Name%20exists.\n");

    // A slot freed before later ones does not make its next message jump the queue.
    report_message(1, "A", 0);
    report_message(1, "B", 0);
    EXPECT_EQ(take(1), "25,1,0,A\n");
    report_message(1, "C", 0);  // lands in A's old slot, below B's
    EXPECT_EQ(take(1), "25,1,0,B\n");
    report_message(1, "D", 0);
    EXPECT_EQ(take(1), "25,1,0,C\n");
    EXPECT_EQ(take(1), "25,1,0,D\n");
    EXPECT_EQ(take(1), "");
}

TEST_F(Report, TableHoldsSixtyFourMessages)
{
    for (int i = 0; i < REPORT_MESSAGE_SLOTS + 1; i++)
        report_message(1, ("m" + std::to_string(i)).c_str(), 0);
    for (int i = 0; i < REPORT_MESSAGE_SLOTS; i++)
        EXPECT_EQ(take(1), "25,1,0,m" + std::to_string(i) + "\n");
    EXPECT_EQ(take(1), "");  // the 65th was dropped
}

TEST_F(Report, MessagesForIdsNoClientHoldsAreDroppedAtOnce)
{
    // Project loading (0) and linked devices (-127) have nobody to tell;
    // their messages must not fill the table for the clients.
    for (int i = 0; i < 2 * REPORT_MESSAGE_SLOTS; i++) {
        report_message(REPORT_CONN_SERVER, "Input Bus copied.", 0);
        report_message(REPORT_CONN_LINK, "Input Bus copied.", 0);
        report_message(9, "Input Bus copied.", 0);
    }
    EXPECT_EQ(take(REPORT_CONN_SERVER), "");
    EXPECT_EQ(take(REPORT_CONN_LINK), "");
    report_message(8, "still room", 0);
    EXPECT_EQ(take(8), "25,8,0,still%20room\n");

    // The stream server says who is connected.
    report_set_conn_held([](int conn) { return conn == 4; });
    report_message(3, "gone", 0);
    report_message(4, "here", 0);
    EXPECT_EQ(take(3), "");
    EXPECT_EQ(take(4), "25,4,0,here\n");
}

TEST_F(Report, DisconnectFreesEveryMessageOfTheClient)
{
    for (int i = 0; i < REPORT_MESSAGE_SLOTS; i++)
        report_message(5, "for five", 0);
    report_message(6, "no room", 0);
    EXPECT_EQ(take(6), "");

    report_message_free_conn(5);
    EXPECT_EQ(take(5), "");
    report_message(6, "room again", 0);
    EXPECT_EQ(take(6), "25,6,0,room%20again\n");
}

TEST_F(Report, OverlongMessageIsCutInItsSlot)
{
    std::string text(1000, 'z');
    report_message(1, text.c_str(), 1);
    EXPECT_EQ(take(1), "25,1,1," + std::string(REPORT_MESSAGE_TEXT - 1, 'z') + "\n");
    report_message(1, "", 0);  // nothing to say: no slot taken
    EXPECT_EQ(take(1), "");
}

}  // namespace
