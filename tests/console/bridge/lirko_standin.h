// A recording stand-in of the engine's lirko_win_ exports, linked in place of
// liblirko.so: every call is written down as text with its arguments, answers
// and directory contents are scripted, and registered callbacks are kept so
// tests can raise them.
#pragma once

#include "lirko_win.h"

#include <map>
#include <string>
#include <vector>

namespace standin
{

struct State {
    std::vector<std::string> calls;          // "lirko_win_Call([1,2],2)"
    std::map<std::string, int> results;      // scripted results by export name
    std::vector<std::string> setters;        // setter names in registration order
    std::map<std::string, void *> callbacks; // by callback table field

    // Directory.
    win_user_t self{};
    std::vector<win_user_t> users; // known to getUser/getUsers
    std::vector<win_user_t> speakers;
    win_user_t playing{};
    std::vector<win_group_t> groups;
    std::vector<win_group_t> watched;
    std::vector<win_member_t> members;
    std::vector<win_group_t> department_groups;
    uint32_t current_did = 0;
    bool has_department = false;
    // Sizes reported larger than the fill by this much (a list that shrank).
    int shrink = 0;
    std::string name;
    std::string saved_account, saved_password;
    int saved_role = 0;
    std::string record_file = "/tmp/rec/20240101.amr";
};

State &S();
void Reset();
// The scripted result of an export, or def.
int Result(const std::string &name, int def = 0);

template <typename F> F Callback(const std::string &field)
{
    return reinterpret_cast<F>(S().callbacks[field]);
}

} // namespace standin
