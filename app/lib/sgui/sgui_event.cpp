#include "sgui/sgui_event.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/time.h>
#include <unistd.h>

#include "platform.h"
#include "sgui/sgui_screentext.h"

namespace {

constexpr int IDLE_SLOTS = 10;
constexpr int64_t LONG_PRESS_US = 450000;
constexpr int64_t REPEAT_US = 125000;
constexpr int64_t QUICK_STEP_US = 75000;
constexpr int ONCE_KEYS = 0x3D0;  // enter, screen keys, combinations: act on release
constexpr int64_t ANIM_TICK_US = 10000;

struct input_state {
    int pending;
    int repeating;
    int64_t key_time;
    int direction;
    int64_t step_time;
    unsigned accel;
    int idle_passes;
    int locked;
    sgui_keyhook_fn hook;
    std::array<sgui_widget *, IDLE_SLOTS> idle;
    int fd = -1;
    unsigned char carry[sizeof(sgui_input_event)];
    size_t carry_len;
    int64_t last_anim;
};

input_state in;
std::atomic<bool> screenshot_wanted;
std::atomic<bool> screen_text_wanted;

int64_t now_us()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    return (int64_t)tv.tv_sec * 1000000 + tv.tv_usec;
}

int64_t record_us(const sgui_input_event &e)
{
    return (int64_t)e.sec * 1000000 + e.usec;
}

// The handlers only raise a flag: the GUI thread does the work.
void on_sigusr1(int)
{
    screenshot_wanted = true;
}

void on_sigusr2(int)
{
    screen_text_wanted = true;
}

// The animation runs at the device's timer pace, whatever the host's.
void anim_tick()
{
    int64_t t = now_us();
    if (t - in.last_anim < ANIM_TICK_US && t >= in.last_anim)
        return;
    in.last_anim = t;
    sgui_anim_tick();
}

[[noreturn]] void quit()
{
    if (in.fd >= 0)
        close(in.fd);
    SDL_Quit();
    exit(0);
}

// What a signal asked for, written under the simulation root.
void save_requested(std::atomic<bool> &wanted, const char *device_path, int (*save)(const char *), const char *what)
{
    if (!wanted.exchange(false))
        return;
    std::string path = platform_path(device_path);
    if (save(path.c_str()) != 0)
        platform_log("sgui: could not save the %s as %s\n", what, path.c_str());
}

// Reads the records that are waiting (at most 128) and decodes them.
int read_device()
{
    if (in.fd < 0)
        return 0;
    unsigned char buf[2048 + sizeof(sgui_input_event)];
    memcpy(buf, in.carry, in.carry_len);
    ssize_t n = read(in.fd, buf + in.carry_len, 2048);
    if (n <= 0)
        return 0;
    size_t total = in.carry_len + (size_t)n;
    size_t whole = total / sizeof(sgui_input_event);
    in.carry_len = total - whole * sizeof(sgui_input_event);
    memcpy(in.carry, buf + whole * sizeof(sgui_input_event), in.carry_len);
    sgui_lock();
    for (size_t i = 0; i < whole; i++) {
        sgui_input_event ev;
        memcpy(&ev, buf + i * sizeof ev, sizeof ev);
        sgui_input_records(&ev, 1);
    }
    sgui_unlock();
    return (int)n;
}

void deliver_pending_with(int step, int modifier)
{
    sgui_deliver_keys(in.pending, step, modifier);
    in.pending = 0;
    in.repeating = 0;
}

}  // namespace

int sgui_init()
{
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        platform_log("SDL konnte nicht initialisiert werden:  %s\n", SDL_GetError());
        return -1;
    }
    SDL_ShowCursor(SDL_DISABLE);
    // Full screen on the device; a window (or the dummy driver) elsewhere.
    Uint32 mode = SDL_HWSURFACE | (platform_root().empty() ? SDL_FULLSCREEN : 0);
    SDL_Surface *screen = SDL_SetVideoMode(SGUI_SCREEN_W, SGUI_SCREEN_H, 24, mode);
    if (screen == nullptr) {
        platform_log("SDL konnte nicht initialisiert werden:  %s\n", SDL_GetError());
        SDL_Quit();
        return -1;
    }
    SDL_WM_SetCaption("mirelapp", "mirelapp");
    sgui_set_screen(screen);
    SDL_EnableKeyRepeat(250, 50);
    sgui_mutex_create();
    sgui_set_root(nullptr);
    sgui_set_keycapture(nullptr);
    in.hook = nullptr;
    in.idle.fill(nullptr);
    sgui_input_reset();
    if (in.fd >= 0)
        close(in.fd);
    in.fd = open(platform_path("/dev/input/event0").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (!platform_root().empty()) {
        signal(SIGUSR1, on_sigusr1);
        signal(SIGUSR2, on_sigusr2);
    }
    if (!TTF_WasInit() && TTF_Init() < 0) {
        platform_log("Unable to initialize SDL_ttf: %s \n", TTF_GetError());
        return -1;
    }
    font_init();
    return 0;
}

int sgui_poll()
{
    int woke = 0;
    SDL_Event ev;
    if (SDL_PollEvent(&ev) == 0) {
        SDL_Delay(1);
        in.idle_passes++;
        sgui_lock();
        if (in.idle_passes > 2)
            anim_tick();
    } else if (ev.type == SDL_USEREVENT && ev.user.code == 0) {
        in.idle_passes = 0;
        woke = 1;
        sgui_lock();
        anim_tick();
    } else if (ev.type == SDL_QUIT) {
        quit();
    } else {
        sgui_lock();
    }
    if (sgui_transition() || sgui_screen_slide() || (sgui_root() != nullptr && sgui_root()->dirty))
        sgui_redraw(0);
    // After the redraw: picture and text show the same, current screen.
    save_requested(screenshot_wanted, "/tmp/screen.bmp", sgui_save_screen, "screen");
    save_requested(screen_text_wanted, "/tmp/screen.txt", sgui_save_screen_text, "screen text");
    sgui_unlock();
    int got = read_device();
    sgui_lock();
    sgui_input_hold(now_us());
    sgui_unlock();
    if (got <= 0 && !woke) {
        sgui_lock();
        for (sgui_widget *w : in.idle) {
            if (w != nullptr && w->idle != nullptr && w->idle(w) != 0)
                break;
        }
        sgui_unlock();
    }
    return woke;
}

void sgui_wakeup()
{
    SDL_Event ev{};
    ev.type = SDL_USEREVENT;
    ev.user.code = 0;
    SDL_PushEvent(&ev);
}

void sgui_add_idlehandler(sgui_widget *w)
{
    for (sgui_widget *&slot : in.idle)
        if (slot == nullptr) {
            slot = w;
            return;
        }
    platform_log("idlehandlers[] too small\n");
}

void sgui_idle_forget(sgui_widget *w)
{
    for (sgui_widget *&slot : in.idle)
        if (slot == w)
            slot = nullptr;
}

void sgui_set_keyhook(sgui_keyhook_fn hook)
{
    in.hook = hook;
}

void sgui_set_keylock(int on)
{
    in.locked = on != 0;
}

int sgui_keylock()
{
    return in.locked;
}

void sgui_input_reset()
{
    in.pending = 0;
    in.repeating = 0;
    in.key_time = 0;
    in.direction = 0;
    in.step_time = 0;
    in.accel = 0;
    in.idle_passes = 0;
    in.carry_len = 0;
}

void sgui_input_records(const sgui_input_event *ev, int count)
{
    for (int i = 0; i < count; i++) {
        const sgui_input_event &e = ev[i];
        if (e.type == 0 || (e.value & 0xFF) == 0)
            continue;
        uint32_t v = (uint32_t)e.value;
        int enc = (int)(v >> 24);
        int code = (int)((v >> 16) & 0xFF);
        int step = enc == SGUI_ENCODER_CCW ? -1 : enc;
        int64_t t = record_us(e);
        if (step != 0 && code != 0) {
            // Turning while a key is held.
            if ((code & 0x0F) == 0) {
                sgui_deliver_keys((in.pending | in.repeating) & ~0x3E0, step, 0);
                in.pending = (code == SGUI_CODE_LOCK)     ? SGUI_KEY_LOCK
                             : (code == SGUI_CODE_MUTE_ALL) ? SGUI_KEY_MUTE_ALL
                                                            : in.pending | code;
                in.key_time = t;
            } else {
                in.direction = step > 0 ? 1 : -1;
                deliver_pending_with(step, code);
            }
        } else if (code != 0) {
            if (code == SGUI_CODE_LOCK)
                in.pending = SGUI_KEY_LOCK;
            else if (code == SGUI_CODE_MUTE_ALL)
                in.pending = SGUI_KEY_MUTE_ALL;
            else
                in.pending |= code;
            in.key_time = t;
        } else if (step == 0) {
            // Release.
            in.direction = 0;
            deliver_pending_with(0, 0);
        } else {
            int dir = step > 0 ? 1 : -1;
            int64_t since = t - in.step_time;
            if (dir != in.direction) {
                in.accel = 0;
            } else if (since >= 0 && since < QUICK_STEP_US) {
                step *= in.accel > 64 ? 50 : in.accel > 16 ? 10 : 1;
                in.accel++;
            } else {
                in.accel = 0;
            }
            in.direction = dir;
            in.step_time = t;
            deliver_pending_with(step, 0);
        }
    }
}

void sgui_input_hold(int64_t now)
{
    if (in.locked || (in.pending == 0 && in.repeating == 0) || sgui_transition())
        return;
    int64_t since = now - in.key_time;
    if (in.repeating == 0) {
        if (since > LONG_PRESS_US) {
            in.repeating = in.pending & ~ONCE_KEYS;
            in.pending &= ONCE_KEYS;
            in.key_time = now;
            if (in.repeating != 0)
                sgui_deliver_keys(in.repeating, 0, 0);
        }
    } else if (since > REPEAT_US) {
        in.key_time = now;
        sgui_deliver_keys(in.repeating & ~ONCE_KEYS, 0, 0);
    }
}

int sgui_route_keys(int keys, int step)
{
    sgui_widget *cap = sgui_keycapture();
    sgui_widget *root = sgui_root();
    bool root_called = false;
    if (cap != nullptr) {
        if (cap->key != nullptr) {
            keys = cap->key(cap, keys, step);
            if (!sgui_widget_alive(cap))
                return keys;  // the handler closed its screen
            if (cap->dirty)
                sgui_invalidate(cap);
            root_called = cap == root;
        }
        for (sgui_widget *p = cap->par; p != nullptr && keys != 0; p = p->par) {
            if (p->key == nullptr || (p->keymask & keys) == 0)
                continue;
            keys = p->key(p, keys, 0);
            if (!sgui_widget_alive(p))
                return keys;
            if (p->dirty)
                sgui_invalidate(p);
            if (p == root)
                root_called = true;
        }
    }
    root = sgui_root();
    if (keys != 0 && root != nullptr && root->key != nullptr && !root_called)
        keys = root->key(root, keys, cap == nullptr ? step : 0);
    return keys;
}

int sgui_deliver_keys(int keys, int step, int modifier)
{
    if (keys == 0 && step == 0)
        return 0;
    if (in.locked && !(keys & SGUI_KEY_LOCK)) {
        keys = SGUI_KEY_LOCKED;
        step = 0;
    } else {
        if (modifier != 0 && step != 0) {
            if (modifier & 3)
                keys = step > 0 ? SGUI_KEY_PREV : SGUI_KEY_NEXT;
            else
                keys = step > 0 ? SGUI_KEY_PAGE_NEXT : SGUI_KEY_PAGE_PREV;
            step = 0;
        } else if (keys == 0) {
            return sgui_route_keys(0, step);
        }
        if (keys & SGUI_KEY_MUTE_ALL)
            keys = SGUI_KEY_MUTE_ALL;
        else if (keys & SGUI_KEY_LOCK)
            keys = SGUI_KEY_LOCK;
    }
    if (in.hook != nullptr) {
        keys = in.hook(keys, step, modifier);
        if (keys == 0)
            return 0;
    }
    keys = sgui_route_keys(keys, step);
    if (keys & SGUI_KEY_PAGE_PREV)
        sgui_page_move(-1);
    else if (keys & SGUI_KEY_PAGE_NEXT)
        sgui_page_move(1);
    else if (keys & SGUI_KEY_PREV)
        sgui_focus_move(-1);
    else if (keys & SGUI_KEY_NEXT)
        sgui_focus_move(1);
    return keys;
}

int sgui_focus_move(int direction)
{
    sgui_widget *cur = sgui_focus();
    if (cur == nullptr) {
        sgui_widget *f = sgui_first_focusable(sgui_root());
        if (f == nullptr)
            return 0;
        sgui_focus_set(f);
        return 1;
    }
    sgui_widget *expl = nullptr;
    if (direction > 0)
        expl = cur->focus_next != nullptr ? cur->focus_next : cur->par != nullptr ? cur->par->focus_next : nullptr;
    else
        expl = cur->focus_prev;
    if (expl != nullptr && expl->hidden)
        expl = nullptr;
    sgui_widget *sib = direction > 0 ? cur->next : cur->prev;
    while (sib != nullptr && (!sib->focusable || sib->hidden))
        sib = direction > 0 ? sib->next : sib->prev;
    sgui_widget *target = expl != nullptr ? expl : sib;
    if (expl != nullptr && sib != nullptr && abs(sib->abs.y1 - cur->abs.y1) < abs(expl->abs.y1 - cur->abs.y1))
        target = sib;
    if (target == nullptr)
        return 0;
    sgui_focus_set(target);
    return 1;
}

int sgui_save_screen(const char *path)
{
    SDL_Surface *s = sgui_screen();
    if (s == nullptr)
        return -1;
    std::string tmp = std::string(path) + ".tmp";
    if (SDL_SaveBMP(s, tmp.c_str()) != 0)
        return -1;
    return rename(tmp.c_str(), path) == 0 ? 0 : -1;
}
