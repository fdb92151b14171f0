#include "gui/usermsg.h"

#include <deque>
#include <string>

#include "network.h"
#include "sgui/sgui.h"

namespace {

struct waiting {
    int type;
    std::string text;
    sgui_msgbox_fn callback;
    void *user;
};

std::deque<waiting> queue;
int answering;  // inside a box's callback: the box is not gone yet

void run_callback(int answer, void *user)
{
    auto *w = static_cast<waiting *>(user);
    answering++;
    if (w->callback != nullptr)
        w->callback(answer, w->user);
    answering--;
    delete w;
}

bool open_now(const waiting &w)
{
    auto *copy = new waiting(w);
    if (sgui_message_box(w.type, w.text.c_str(), run_callback, copy) != 0) {
        delete copy;
        return false;
    }
    return true;
}

void on_message(const command_arg *a, intptr_t)
{
    if (a->text[0] != 0)
        usermsg_show(a->text);
}

}  // namespace

void usermsg_ask(int type, const char *text, sgui_msgbox_fn callback, void *user)
{
    sgui_lock();
    waiting w = {type, text != nullptr ? text : "", callback, user};
    // A box opened from another box's answer would be drawn over the old
    // one's picture: it waits for the next pass.
    if (!queue.empty() || answering > 0 || sgui_message_box_open() || sgui_info_box_open() || !open_now(w))
        queue.push_back(w);
    sgui_unlock();
}

void usermsg_show(const char *text)
{
    usermsg_ask(SGUI_MSGBOX_OK, text, nullptr, nullptr);
}

int usermsg_flush()
{
    sgui_lock();
    int opened = 0;
    if (!queue.empty() && answering == 0 && !sgui_message_box_open() && !sgui_info_box_open() && sgui_screen_slide() == 0 &&
        open_now(queue.front())) {
        queue.pop_front();
        opened = 1;
    }
    sgui_unlock();
    return opened;
}

int usermsg_pending()
{
    return (int)queue.size();
}

void usermsg_init()
{
    network_add_listener(25, on_message, 0);
}

void usermsg_reset()
{
    queue.clear();
    answering = 0;
}
