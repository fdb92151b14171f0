// The project screens in the test's own process: the lock value of the
// security page, the export file name and result texts, the USB export
// sequence and the queue of message boxes.
#include <gtest/gtest.h>

#include <string>

#include "app_test.h"
#include "gui/prjsecurity.h"
#include "gui/project.h"
#include "gui/screen.h"
#include "gui/usbtransfer.h"
#include "gui/usermsg.h"
#include "network.h"
#include "sgui/sgui_event.h"
#include "sgui/sgui_msgbox.h"
#include "sgui/sgui_textedit.h"
#include "sgui/sgui_widget.h"

namespace {

class ProjectInProcess : public testing::Test {
protected:
    void SetUp() override
    {
        app_test_reset();
        screen_reset();
        usermsg_reset();
        sgui_lock();
        sgui_set_connected(1);
        ASSERT_EQ(network_init(), 0);
        menu = sgui_widget_container(nullptr, 0, -1, -1);
        sgui_widget_button(sgui_widget_container(menu, SGUI_HORIZONTAL, -1, -1), SGUI_VERTICAL, -1, -1, "MENU");
        sgui_set_root(menu);
        sgui_redraw(1);
        project_init();
        usermsg_init();
        dispatch("97,0,1\n96,0,2,0,A\n96,0,3,1235,B\n96,0,4,-1,C\n98,0\n");
        network_take_output();
    }
    void TearDown() override
    {
        project_widgets *p = project_get();
        sgui_widget *roots[] = {p->root,       p->create->root, p->load->root,
                                p->saveas->root, p->remove->root, prjsecurity_get()->root,
                                usbtransfer_get()->exports->root, usbtransfer_get()->imports->root, menu};
        app_test_reset();
        usermsg_reset();
        for (sgui_widget *r : roots)
            if (sgui_widget_alive(r))
                sgui_widget_free(r);
        sgui_unlock();
        screen_reset();
    }
    static void dispatch(std::string lines) { network_dispatch(lines.data(), lines.size()); }
    static void settle()
    {
        for (int i = 0; i < 200 && (sgui_screen_slide() != 0 || sgui_transition() != 0); i++)
            sgui_redraw(0);
        sgui_redraw(0);
        usermsg_flush();
        sgui_redraw(0);
    }
    // The text of the open message box's lines, "|" between them.
    static std::string box_text()
    {
        std::string t;
        if (!sgui_message_box_open())
            return t;
        for (sgui_widget *c = sgui_root()->child->child; c != nullptr; c = c->next)
            if (c->kind == SGUI_KIND_LABEL)
                t += (t.empty() ? "" : "|") + std::string(sgui_get_text(c));
        return t;
    }
    sgui_widget *menu = nullptr;
};

TEST_F(ProjectInProcess, TheSecurityPageComputesAndShowsTheLockValue)
{
    EXPECT_EQ(prjsecurity_lock_value(0, 1, "1234"), 0);
    EXPECT_EQ(prjsecurity_lock_value(1, 0, "1234"), -1);
    EXPECT_EQ(prjsecurity_lock_value(1, 1, "0000"), -1);  // 0000 counts as no code
    EXPECT_EQ(prjsecurity_lock_value(1, 1, "0042"), 43);
    // Another client's change of the live project shows on the page.
    dispatch("100,7,3,43,0,1,B\n");
    prjsecurity_widgets *w = prjsecurity_get();
    EXPECT_EQ(sgui_checkbox_get_ticked(w->readonly), 1);
    EXPECT_EQ(sgui_checkbox_get_ticked(w->use_code), 1);
    EXPECT_STREQ(sgui_textedit_get_text(w->code), "0042");
    dispatch("100,7,3,-1,0,1,B\n");
    EXPECT_EQ(sgui_checkbox_get_ticked(w->use_code), 0);
    EXPECT_STREQ(sgui_textedit_get_text(w->code), "0000");
    // Unticking READ ONLY sends a writable project.
    sgui_focus_set(w->readonly);
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
    EXPECT_EQ(network_take_output(), "100,0,3,0,0,0,B\n");
}

TEST_F(ProjectInProcess, ExportFileNamesAndResultTexts)
{
    EXPECT_EQ(usbtransfer_file_name("Gig: A/B"), "Gig AB.karu8");
    EXPECT_EQ(usbtransfer_file_name("\xC3\xA4/:"), ".karu8");
    EXPECT_EQ(usbtransfer_file_name("v1.2_#$-x"), "v1.2_#$-x.karu8");
    EXPECT_EQ(usbtransfer_result_text(-1, false), "Could not mount\nUSB device.");
    EXPECT_EQ(usbtransfer_result_text(-5, false), "Project error.");
    EXPECT_EQ(usbtransfer_result_text(-6, true), "Invalid file type!");
    EXPECT_EQ(usbtransfer_result_text(-6, false), "Error -6 occured.");
    EXPECT_EQ(usbtransfer_result_text(0, true), "Error 0 occured.");
}

TEST_F(ProjectInProcess, ExportWorksThroughTheTickedProjectsOneAtATime)
{
    usbtransfer_widgets *u = usbtransfer_get();
    usbtransfer_export_open();
    settle();
    network_take_output();
    ASSERT_EQ(u->exports->items.size(), 3u);
    // Nothing ticked: nothing asked, nothing sent.
    sgui_focus_set(u->exports->action);
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
    settle();
    EXPECT_FALSE(sgui_message_box_open());
    EXPECT_EQ(network_take_output(), "");
    prjlist_toggle(u->exports, 0);
    prjlist_toggle(u->exports, 2);
    sgui_focus_set(u->exports->action);
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
    settle();
    EXPECT_EQ(box_text(), "Ready for export|to USB device?|");
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);  // OK
    settle();
    EXPECT_EQ(network_take_output(), "1034,0,2\n");
    EXPECT_TRUE(sgui_info_box_open());
    dispatch("107,0,2\n");
    EXPECT_EQ(network_take_output(), "1034,0,4\n");
    dispatch("107,0,4\n");
    settle();
    EXPECT_FALSE(sgui_info_box_open());
    EXPECT_EQ(box_text(), "Export finished.");
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
    settle();
    // A failure stops at the first project and says why.
    sgui_focus_set(u->exports->action);
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
    settle();
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
    settle();
    EXPECT_EQ(network_take_output(), "1034,0,2\n");
    dispatch("107,0,-5\n");
    settle();
    EXPECT_EQ(box_text(), "Project error.");
    EXPECT_EQ(network_take_output(), "");
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
}

TEST_F(ProjectInProcess, MessagesWaitForTheOpenBox)
{
    dispatch("25,0,1,Project%20saved.\n25,0,1,Name%20exists.\n");
    settle();
    EXPECT_EQ(box_text(), "Project saved.");
    EXPECT_EQ(usermsg_pending(), 1);
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
    settle();
    EXPECT_EQ(box_text(), "Name exists.");
    EXPECT_EQ(usermsg_pending(), 0);
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
}

TEST_F(ProjectInProcess, SavingALockedProjectAsksForTheCode)
{
    dispatch("100,0,3,1235,1235,1,B\n");
    project_open();
    settle();
    network_take_output();
    sgui_focus_set(project_get()->items[2]);  // SAVE
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
    settle();
    EXPECT_EQ(box_text(), "Enter lock code|to overwrite:");
    // The code goes to the server in the form it stores (n + 1).
    sgui_deliver_keys(SGUI_KEY_PAGE_PREV, 0, 0);
    sgui_deliver_keys(SGUI_KEY_PAGE_PREV, 0, 0);
    sgui_deliver_keys(SGUI_KEY_PAGE_PREV, 0, 0);
    sgui_deliver_keys(0, 1, 0);
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
    settle();
    EXPECT_EQ(network_take_output(), "101,0,1001\n");
}

}  // namespace
