// Records every listener call and every application callback of an engine,
// with the arguments rendered as text, for tests of the reporting path.
//
// The listener table it installs forwards each call to a target table (the
// notify bridge, or nothing), so a test sees both which listener slot an
// engine report reached and what the application then received. The
// recorders are generated from the slot tables, so they cover every slot.
#pragma once

#include "lirko.h"
#include "lirko_notify.h"

#include <cstring>
#include <mutex>
#include <ostream>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

namespace ptt::test
{

struct NotifyCall {
    int slot;
    std::string args;
    bool operator==(const NotifyCall &o) const
    {
        return slot == o.slot && args == o.args;
    }
};

inline std::ostream &operator<<(std::ostream &os, const NotifyCall &c)
{
    return os << "{" << c.slot << ", \"" << c.args << "\"}";
}

class NotifyRecorder
{
  public:
    static NotifyRecorder &get()
    {
        static NotifyRecorder r;
        return r;
    }

    // Engine-side and application-side calls since the last clear.
    std::vector<NotifyCall> listener_calls()
    {
        std::lock_guard<std::mutex> lock(m_);
        return listener_;
    }
    std::vector<NotifyCall> app_calls()
    {
        std::lock_guard<std::mutex> lock(m_);
        return app_;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_);
        listener_.clear();
        app_.clear();
        users_.clear();
    }
    // The records of the last users-changed call: "uid:name:gid:online".
    std::vector<std::string> users()
    {
        std::lock_guard<std::mutex> lock(m_);
        return users_;
    }

    void add_listener(int slot, std::string args)
    {
        std::lock_guard<std::mutex> lock(m_);
        listener_.push_back({slot, std::move(args)});
    }
    void add_app(int slot, std::string args)
    {
        std::lock_guard<std::mutex> lock(m_);
        app_.push_back({slot, std::move(args)});
    }
    void set_users(std::vector<std::string> users)
    {
        std::lock_guard<std::mutex> lock(m_);
        users_ = std::move(users);
    }

    // Where the recording listener table forwards to (NULL: nowhere).
    const lirko_notify_t *target = nullptr;

  private:
    std::mutex m_;
    std::vector<NotifyCall> listener_;
    std::vector<NotifyCall> app_;
    std::vector<std::string> users_;
};

// Argument rendering: numbers in decimal, texts quoted, pointers as "ptr" or
// "null". The engine record and the user data are left out.
inline void render(std::string &s, const char *text)
{
    s += text ? "\"" + std::string(text) + "\"" : std::string("null");
    s += ",";
}
template <typename T> inline void render(std::string &s, T v)
{
    if constexpr (std::is_pointer_v<T>) {
        s += v ? "ptr," : "null,";
    } else if constexpr (std::is_enum_v<T>) {
        s += std::to_string((long long)v) + ",";
    } else {
        s += std::to_string(v) + ",";
    }
}
inline void render(std::string &, lirko_t *) {}

template <int Slot, typename F> struct ListenerRecorder;
template <int Slot, typename... A> struct ListenerRecorder<Slot, void (*)(A...)> {
    static void fn(A... a)
    {
        std::string s;
        (render(s, a), ...);
        NotifyRecorder &r = NotifyRecorder::get();
        // Slots that take user data pass it second; leave it out.
        if constexpr (sizeof...(A) >= 2) {
            using Second = std::tuple_element_t<1, std::tuple<A...>>;
            if constexpr (std::is_same_v<Second, void *>) {
                s = s.substr(s.find(',') + 1);
            }
        }
        if (!s.empty())
            s.pop_back();
        r.add_listener(Slot, s);
        if (r.target) {
            void (*next)(A...);
            std::memcpy(&next, (const char *)r.target + Slot * sizeof(void (*)(void)),
                        sizeof(next));
            if (next)
                next(a...);
        }
    }
};

template <int Slot, typename F> struct AppRecorder;
template <int Slot, typename... A> struct AppRecorder<Slot, void (*)(A...)> {
    static void fn(A... a)
    {
        std::string s;
        (render(s, a), ...);
        if (!s.empty())
            s.pop_back();
        NotifyRecorder::get().add_app(Slot, s);
    }
};

inline void record_users(size_t count, const win_user_t *users)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < count; i++)
        out.push_back(std::to_string(users[i].uid) + ":" + users[i].name + ":" +
                      std::to_string(users[i].gid) + ":" + std::to_string(users[i].online));
    NotifyRecorder::get().set_users(out);
    NotifyRecorder::get().add_app(16, std::to_string(count) + "," + (users ? "ptr" : "null"));
}

// A listener table whose every slot records, then forwards to
// NotifyRecorder::target.
inline lirko_notify_t recording_listeners()
{
    lirko_notify_t t = {};
#define PTT_RECORD_SLOT(slot, name, params) t.name = &ListenerRecorder<slot, decltype(t.name)>::fn;
    LIRKO_LISTENER_TABLE(PTT_RECORD_SLOT)
#undef PTT_RECORD_SLOT
    return t;
}

// Registers a recorder for every application callback (looper thread).
inline void record_app_callbacks(lirko_t *engine)
{
#define PTT_RECORD_CB(slot, listener, field, type, win_setter, setter, getter)                     \
    setter(engine, &AppRecorder<slot, type>::fn);
#define PTT_RECORD_CB_INTERNAL(slot, listener, field, type, setter, getter)                        \
    setter(engine, &AppRecorder<slot, type>::fn);
    LIRKO_CALLBACK_TABLE(PTT_RECORD_CB, PTT_RECORD_CB_INTERNAL)
#undef PTT_RECORD_CB
#undef PTT_RECORD_CB_INTERNAL
    lirko_set_users_changed_cb(engine, record_users);
}

} // namespace ptt::test
