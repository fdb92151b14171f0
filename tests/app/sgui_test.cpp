// The widget tree: damage rectangles, flow layout, scrolling, page slides,
// invalidation and what reaches the screen.
#include <gtest/gtest.h>

#include "app_test.h"
#include "sgui/sgui_widget.h"

namespace {

class Sgui : public testing::Test {
protected:
    void SetUp() override
    {
        app_test_reset();
        sgui_lock();
        sgui_set_connected(1);
    }
    void TearDown() override
    {
        sgui_unlock();
        app_test_reset();
    }
    // Redraws until nothing runs any more (slides end).
    static void settle()
    {
        for (int i = 0; i < 100 && (sgui_transition() || sgui_root()->dirty); i++)
            sgui_redraw(0);
    }
};

std::vector<sgui_rect> damage(const sgui_widget *w)
{
    return std::vector<sgui_rect>(w->damage, w->damage + w->ndamage);
}

bool operator==(const sgui_rect &a, const sgui_rect &b)
{
    return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

TEST_F(Sgui, DamageStaysOrderedAndMergesWhatOverlapsInY)
{
    sgui_widget *w = sgui_widget_container(nullptr, 0, -1, -1);
    sgui_add_damage(w, 0, 100, 10, 110);
    sgui_add_damage(w, 0, 10, 10, 20);
    sgui_add_damage(w, 0, 50, 10, 60);
    ASSERT_EQ(w->ndamage, 3);
    EXPECT_EQ(w->damage[0].y1, 10);
    EXPECT_EQ(w->damage[1].y1, 50);
    EXPECT_EQ(w->damage[2].y1, 100);
    // Overlapping the first in y: united with it, x grows too.
    sgui_add_damage(w, 40, 15, 80, 25);
    ASSERT_EQ(w->ndamage, 3);
    EXPECT_TRUE(w->damage[0] == (sgui_rect{0, 10, 80, 25}));
    // A rectangle spanning two existing ones absorbs both.
    sgui_add_damage(w, 5, 55, 6, 105);
    ASSERT_EQ(w->ndamage, 2);
    EXPECT_TRUE(w->damage[1] == (sgui_rect{0, 50, 10, 110}));
    // Rectangles that only touch stay apart.
    sgui_add_damage(w, 0, 25, 10, 30);
    EXPECT_EQ(w->ndamage, 3);
}

TEST_F(Sgui, SixthDamageRectangleCollapsesToFull)
{
    sgui_widget *w = sgui_widget_container(nullptr, 0, -1, -1);
    for (int i = 0; i < 5; i++)
        sgui_add_damage(w, 0, i * 20, 10, i * 20 + 5);
    ASSERT_EQ(w->ndamage, 5);
    sgui_add_damage(w, 0, 200, 10, 205);
    ASSERT_EQ(w->ndamage, 1);
    EXPECT_TRUE(w->damage[0] == SGUI_FULL_RECT);
    // Full stays full.
    sgui_add_damage(w, 0, 0, 5, 5);
    EXPECT_EQ(damage(w).size(), 1u);
    EXPECT_TRUE(w->damage[0] == SGUI_FULL_RECT);
}

TEST_F(Sgui, FlowLayoutRowsColumnsAndCentring)
{
    sgui_widget *root = sgui_widget_container(nullptr, 0, -1, -1);
    sgui_widget *page = sgui_widget_container(root, SGUI_HORIZONTAL, -1, -1);
    sgui_widget *a = sgui_widget_label(page, SGUI_VERTICAL, -1, -1, "A", 0);
    sgui_widget *b = sgui_widget_label(page, SGUI_HORIZONTAL, 7450, -1, "B", 0);
    sgui_widget *c = sgui_widget_label(page, SGUI_HORIZONTAL, 7450, -1, "C", 0);
    sgui_widget *d = sgui_widget_label(page, SGUI_VERTICAL, -1, -1, "D", 0);
    sgui_widget *row = sgui_widget_container(page, SGUI_VERTICAL | SGUI_CENTRE_H, SGUI_UNITS, SGUI_LABEL_H);
    sgui_widget *e = sgui_widget_label(row, SGUI_HORIZONTAL, 7450, -1, "E", 0);
    sgui_widget *hidden = sgui_widget_label(page, SGUI_VERTICAL, -1, -1, "H", 0);
    sgui_set_hidden(hidden, 1);
    sgui_widget *f = sgui_widget_label(page, SGUI_VERTICAL, -1, -1, "F", 0);
    sgui_redraw(1);
    EXPECT_EQ(a->view.w, 320);
    EXPECT_EQ(a->view.h, 25);
    EXPECT_EQ(b->view.w, 73);
    EXPECT_EQ(a->abs.y1, 0);
    EXPECT_EQ(b->abs.x1, 0);
    EXPECT_EQ(b->abs.y1, 25);
    EXPECT_EQ(c->abs.x1, 73);
    EXPECT_EQ(c->abs.y1, 25);
    EXPECT_EQ(d->abs.y1, 50);  // a new row after horizontal ones
    EXPECT_EQ(row->abs.y1, 75);
    EXPECT_EQ(e->abs.x1, (320 - 73) / 2);
    EXPECT_EQ(f->abs.y1, 100);  // the hidden label takes no room
    EXPECT_EQ(page->sh, 240);
}

TEST_F(Sgui, ContainerWithoutChildrenGetsAnEmptySurface)
{
    sgui_widget *root = sgui_widget_container(nullptr, 0, -1, -1);
    sgui_widget *empty = sgui_widget_container(root, SGUI_VERTICAL, SGUI_UNITS, SGUI_LABEL_H);
    sgui_redraw(1);
    ASSERT_TRUE(empty->s);
    EXPECT_EQ(empty->sw, 320);
    EXPECT_EQ(empty->sh, 25);
    EXPECT_FALSE(empty->dirty);
}

TEST_F(Sgui, FocusBelowTheViewScrollsWithTwelvePixelMargin)
{
    sgui_widget *root = app_test_pages(1, 14, true);  // 14 rows of 25 px: 350 px in a 240 px view
    sgui_widget *page = root->child;
    sgui_focus_set(sgui_first_focusable(root));
    sgui_redraw(1);
    EXPECT_EQ(page->view.y, 0);
    sgui_widget *row = page->child;
    for (int i = 0; i < 9; i++) {  // to row 9: 225..250
        ASSERT_EQ(sgui_focus_move(1), 1);
        row = row->next;
        sgui_redraw(0);
    }
    EXPECT_EQ(sgui_focus(), row);
    EXPECT_EQ(page->view.y, 250 + 12 - 240);
    // The last row: the view stops at the end of the content.
    while (sgui_focus_move(1) == 1)
        sgui_redraw(0);
    sgui_redraw(0);
    EXPECT_EQ(page->view.y, 350 - 240);
    // Back to the first focusable row: the view returns to the top.
    sgui_focus_set(page->child);
    sgui_redraw(0);
    EXPECT_EQ(page->view.y, 0);
}

TEST_F(Sgui, ScrollingBackShowsCaptionsAboveTheFirstFocusableRow)
{
    sgui_widget *root = sgui_widget_container(nullptr, 0, -1, -1);
    sgui_widget *page = sgui_widget_container(root, SGUI_HORIZONTAL, -1, -1);
    sgui_widget_label(page, SGUI_VERTICAL, -1, -1, "CAPTION", 0);
    sgui_widget_label(page, SGUI_VERTICAL, -1, -1, "CAPTION 2", 0);
    sgui_widget *first = sgui_widget_button(page, SGUI_VERTICAL, -1, -1, "FIRST");
    for (int i = 0; i < 12; i++)
        sgui_widget_button(page, SGUI_VERTICAL, -1, -1, "ROW");
    sgui_widget *last = page->child;
    while (last->next != nullptr)
        last = last->next;
    sgui_focus_set(last);
    sgui_redraw(1);
    EXPECT_GT(page->view.y, 0);
    sgui_focus_set(first);
    sgui_redraw(0);
    EXPECT_EQ(page->view.y, 0);
}

TEST_F(Sgui, PageSlideMovesToTheNextPageAndRefusesAtTheEnd)
{
    sgui_widget *root = app_test_pages(2, 3, true);
    sgui_widget *p0 = root->child, *p1 = p0->next;
    sgui_focus_set(sgui_first_focusable(p0));
    sgui_redraw(1);
    EXPECT_EQ(root->sw, 640);
    EXPECT_TRUE(p0->shown);
    EXPECT_FALSE(p1->shown);  // off the screen: not drawn

    ASSERT_EQ(sgui_page_move(1), 1);
    EXPECT_EQ(sgui_transition(), 1);
    // During the slide a further page key does nothing.
    EXPECT_EQ(sgui_page_move(1), 0);
    EXPECT_EQ(sgui_page_move(-1), 0);
    sgui_redraw(0);
    EXPECT_GT(root->view.x, 0);
    EXPECT_LT(root->view.x, 320);
    settle();
    EXPECT_EQ(sgui_transition(), 0);
    EXPECT_EQ(root->view.x, 320);
    EXPECT_EQ(sgui_focus(), p1->child);
    EXPECT_FALSE(p0->shown);
    // The last page: nothing happens.
    EXPECT_EQ(sgui_page_move(1), 0);
    EXPECT_EQ(root->view.x, 320);
    EXPECT_EQ(sgui_focus(), p1->child);
    // And back.
    ASSERT_EQ(sgui_page_move(-1), 1);
    settle();
    EXPECT_EQ(root->view.x, 0);
}

TEST_F(Sgui, InvalidationOnAPageNotShownDoesNotMarkTheRoot)
{
    sgui_widget *root = app_test_pages(2, 2, false);
    sgui_widget *p1 = root->child->next;
    sgui_redraw(1);
    ASSERT_FALSE(root->dirty);
    sgui_set_text(p1->child, "CHANGED");
    EXPECT_TRUE(p1->child->dirty);
    EXPECT_FALSE(root->dirty);
    // On the page on the screen it does.
    sgui_set_text(root->child->child, "CHANGED");
    EXPECT_TRUE(root->dirty);
}

TEST_F(Sgui, RedrawCopiesOnlyTheChangedRowToTheScreen)
{
    sgui_widget *root = app_test_pages(1, 3, false);
    sgui_widget *row1 = root->child->child->next;
    sgui_redraw(1);
    SDL_Surface *screen = sgui_screen();
    // Paint the screen so that untouched areas can be told apart.
    SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 1, 2, 3));
    row1->colour[0] = 0;
    row1->colour[1] = 0;
    row1->colour[2] = 200;
    sgui_invalidate(row1);
    sgui_redraw(0);
    EXPECT_EQ(app_test_pixel(screen, 300, 30), 0xC80000u);   // row 1, right of its text
    EXPECT_EQ(app_test_pixel(screen, 300, 10), 0x010203u);   // row 0 untouched
    EXPECT_EQ(app_test_pixel(screen, 300, 60), 0x010203u);   // row 2 untouched
    EXPECT_FALSE(root->dirty);
}

TEST_F(Sgui, StatusOverlayWhileNotConnected)
{
    app_test_pages(1, 1, false);
    int x, y;
    app_test_overlay_point("CONNECTING...", &x, &y);
    sgui_set_connected(0);
    sgui_redraw(1);
    EXPECT_EQ(app_test_pixel(sgui_screen(), x, y), 0x00D5FFu);
    sgui_set_connected(1);
    sgui_redraw(0);
    EXPECT_EQ(app_test_pixel(sgui_screen(), x, y), 0x000000u);
    app_test_overlay_point("ALARM", &x, &y);
    sgui_set_status_text("ALARM");
    sgui_redraw(0);
    EXPECT_EQ(app_test_pixel(sgui_screen(), x, y), 0x00D5FFu);
    sgui_set_status_text("");
    sgui_redraw(0);
    EXPECT_EQ(app_test_pixel(sgui_screen(), x, y), 0x000000u);
}

TEST_F(Sgui, FreeUnlinksAndForgetsReferences)
{
    sgui_widget *root = app_test_pages(1, 3, true);
    sgui_widget *page = root->child;
    sgui_widget *a = page->child, *b = a->next, *c = b->next;
    a->focus_next = b;
    b->focus_prev = a;
    b->focus_next = c;
    c->focus_prev = b;
    sgui_focus_set(b);
    int before = sgui_widget_count();
    sgui_widget_free(b);
    EXPECT_EQ(sgui_widget_count(), before - 1);
    EXPECT_EQ(a->next, c);
    EXPECT_EQ(c->prev, a);
    EXPECT_EQ(a->focus_next, c);
    EXPECT_EQ(c->focus_prev, a);
    EXPECT_EQ(sgui_focus(), nullptr);
    EXPECT_EQ(sgui_keycapture(), nullptr);
    sgui_widget_free(a);
    EXPECT_EQ(page->child, c);
    sgui_widget_free(root);
    EXPECT_EQ(sgui_root(), nullptr);
    EXPECT_EQ(sgui_widget_count(), before - 5);
}

TEST_F(Sgui, HidingTheFocusedWidgetPassesTheFocusOn)
{
    sgui_widget *root = app_test_pages(1, 3, true);
    sgui_widget *a = root->child->child, *b = a->next;
    sgui_focus_set(a);
    sgui_set_hidden(a, 1);
    EXPECT_EQ(sgui_focus(), b);
    EXPECT_FALSE(a->focused);
    EXPECT_TRUE(b->focused);
}

TEST_F(Sgui, PopupSlidesInOverTheScreenAndDropsTheBackground)
{
    sgui_widget *main = app_test_pages(1, 2, true);
    sgui_redraw(1);
    sgui_widget *screen2 = sgui_widget_container(nullptr, 0, -1, -1);
    sgui_widget *b = sgui_widget_button(screen2, SGUI_VERTICAL, -1, -1, "NEW");
    ASSERT_EQ(sgui_popup(b, 1), 1);
    EXPECT_EQ(sgui_root(), screen2);
    EXPECT_EQ(sgui_background(), main);
    EXPECT_EQ(sgui_focus(), b);
    EXPECT_EQ(sgui_popup(main, 0), 0);  // refused while sliding
    for (int i = 0; i < 100 && sgui_screen_slide(); i++)
        sgui_redraw(0);
    EXPECT_EQ(sgui_screen_slide(), 0);
    EXPECT_EQ(sgui_background(), nullptr);
    EXPECT_FALSE(main->shown);
    sgui_widget_free(main);
}

// From the top: the new screen comes down and the slide ends at the
// bottom edge (it used to stop two pixels short and run for ever).
TEST_F(Sgui, PopupFromTheTopEndsItsSlide)
{
    sgui_widget *main = app_test_pages(1, 2, true);
    sgui_redraw(1);
    sgui_widget *screen2 = sgui_widget_container(nullptr, 0, -1, -1);
    sgui_widget *b = sgui_widget_button(screen2, SGUI_VERTICAL, -1, -1, "BACK");
    ASSERT_EQ(sgui_popup(b, -1), 1);
    int frames = 0;
    for (; frames < 100 && sgui_screen_slide(); frames++)
        sgui_redraw(0);
    EXPECT_EQ(sgui_screen_slide(), 0);
    EXPECT_LT(frames, 30);
    EXPECT_EQ(sgui_background(), nullptr);
    // The whole screen is the new one: its button at the top.
    EXPECT_EQ(app_test_pixel(sgui_screen(), 2, 2), 0x924C0Au);
    sgui_widget_free(main);
}

}  // namespace
