// Directory getters: engine records to compact JSON for the page. Every
// array is zeroed before the engine fills it and only the records the engine
// says it wrote are read, so a list that shrank between the count and the
// fill never shows stale or phantom entries.
#include "bridgelog.h"
#include "jscontext.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QVector>
#include <algorithm>
#include <memory>

namespace
{

QString Compact(const QJsonDocument &doc)
{
    return QString::fromUtf8(doc.toJson(QJsonDocument::Compact));
}

QString Compact(const QJsonObject &o)
{
    return Compact(QJsonDocument(o));
}

QString Compact(const QJsonArray &a)
{
    return Compact(QJsonDocument(a));
}

// 32-bit fields travel as Qt int values.
int I(uint32_t v)
{
    return static_cast<int>(v);
}

QString Name(const char *field, size_t width)
{
    return QString::fromUtf8(FieldText(field, width));
}

QJsonObject UserJson(const win_user_t &u, bool with_role)
{
    QJsonObject o;
    o.insert(QStringLiteral("gid"), I(u.gid));
    o.insert(QStringLiteral("uid"), I(u.uid));
    if (with_role)
        o.insert(QStringLiteral("role"), u.role);
    o.insert(QStringLiteral("online"), I(u.online));
    o.insert(QStringLiteral("has_gid"), I(u.has_gid));
    o.insert(QStringLiteral("has_role"), I(u.has_role));
    o.insert(QStringLiteral("audio_enabled"), I(u.audio_enabled));
    o.insert(QStringLiteral("location_on"), I(u.location_on));
    o.insert(QStringLiteral("location_period"), I(u.location_period));
    o.insert(QStringLiteral("name"), Name(u.name, sizeof(u.name)));
    o.insert(QStringLiteral("encrypt_on"), static_cast<int>(u.encrypt_on));
    return o;
}

QJsonObject SpeakerJson(const win_user_t &u)
{
    QJsonObject o;
    o.insert(QStringLiteral("gid"), I(u.gid));
    o.insert(QStringLiteral("uid"), I(u.uid));
    o.insert(QStringLiteral("online"), I(u.online));
    o.insert(QStringLiteral("has_gid"), I(u.has_gid));
    o.insert(QStringLiteral("has_role"), I(u.has_role));
    o.insert(QStringLiteral("audio_enabled"), I(u.audio_enabled));
    o.insert(QStringLiteral("name"), Name(u.name, sizeof(u.name)));
    o.insert(QStringLiteral("encrypt_on"), static_cast<int>(u.encrypt_on));
    return o;
}

QJsonObject MemberJson(const win_member_t &m)
{
    QJsonObject o;
    o.insert(QStringLiteral("gid"), I(m.gid));
    o.insert(QStringLiteral("uid"), I(m.uid));
    o.insert(QStringLiteral("role"), m.role);
    o.insert(QStringLiteral("online"), I(m.online));
    o.insert(QStringLiteral("has_gid"), I(m.has_gid));
    o.insert(QStringLiteral("ingroup"), I(m.ingroup));
    o.insert(QStringLiteral("location_on"), I(m.location_on));
    o.insert(QStringLiteral("location_period"), I(m.location_period));
    o.insert(QStringLiteral("has_role"), I(m.has_role));
    o.insert(QStringLiteral("audio_enabled"), I(m.audio_enabled));
    o.insert(QStringLiteral("name"), Name(m.name, sizeof(m.name)));
    o.insert(QStringLiteral("encrypt_on"), static_cast<int>(m.encrypt_on));
    return o;
}

QJsonObject GroupJson(const win_group_t &g)
{
    QJsonObject o;
    o.insert(QStringLiteral("type"), I(g.type));
    o.insert(QStringLiteral("gid"), I(g.gid));
    o.insert(QStringLiteral("prior"), g.prior);
    o.insert(QStringLiteral("ip"), I(g.ip));
    o.insert(QStringLiteral("port"), static_cast<int>(g.port));
    o.insert(QStringLiteral("name"), Name(g.name, sizeof(g.name)));
    o.insert(QStringLiteral("is_encryp"), I(g.is_encryp));
    return o;
}

QJsonObject DepartmentGroupJson(const win_group_t &g)
{
    QJsonObject o = GroupJson(g);
    o.insert(QStringLiteral("did"), I(g.did));
    return o;
}

// The number of records an engine fill wrote: its result, within the array.
int Filled(int result, int capacity)
{
    return std::clamp(result, 0, capacity);
}

template <typename T> std::unique_ptr<T[]> Zeroed(int n)
{
    return std::unique_ptr<T[]>(new T[static_cast<size_t>(std::max(n, 1))]());
}

QString SortedGroups(int n, const std::function<int(win_group_t *, size_t)> &fill,
                     const ReadingTable &readings)
{
    if (n <= 0)
        return QStringLiteral("[]");
    auto groups = Zeroed<win_group_t>(n);
    int k = Filled(fill(groups.get(), static_cast<size_t>(n)), n);
    std::vector<GroupSort> entries(static_cast<size_t>(k));
    QList<GroupSort *> list;
    for (int i = 0; i < k; i++) {
        entries[static_cast<size_t>(i)].group = &groups[static_cast<size_t>(i)];
        list.append(&entries[static_cast<size_t>(i)]);
    }
    SortGroupListByWeight(list, readings);
    QJsonArray a;
    for (GroupSort *e : list) {
        BRIDGE_LOG("JsContext") << Name(e->group->name, sizeof(e->group->name));
        a.append(GroupJson(*e->group));
    }
    QString json = Compact(a);
    BRIDGE_LOG("JsContext") << "groups list: " << json;
    return json;
}

QString SortedMembers(gid_t gid, const std::function<int(win_member_t *, size_t)> &fill,
                      const ReadingTable &readings)
{
    int n = lirko_win_getMemberSize(gid);
    BRIDGE_LOG("JsContext") << "memberlist size gid " << n << gid;
    if (n <= 0)
        return QStringLiteral("[]");
    auto members = Zeroed<win_member_t>(n);
    int k = Filled(fill(members.get(), static_cast<size_t>(n)), n);
    std::vector<MemberSort> entries(static_cast<size_t>(k));
    QList<MemberSort *> list;
    list.reserve(k);
    for (int i = 0; i < k; i++) {
        entries[static_cast<size_t>(i)].member = &members[static_cast<size_t>(i)];
        list.append(&entries[static_cast<size_t>(i)]);
    }
    SortMemberListByWeight(list, readings);
    QJsonArray a;
    for (MemberSort *e : list)
        a.append(MemberJson(*e->member));
    return Compact(a);
}

} // namespace

QString JsContext::GetCurrentUser()
{
    win_user_t user{};
    (void)lirko_win_getCurrentUser(&user);
    QString json = Compact(UserJson(user, false));
    BRIDGE_LOG("JsContext") << "Curren User Json :" << json;
    return json;
}

QString JsContext::GetUser(uid_t uid)
{
    win_user_t user{};
    (void)lirko_win_getUser(&user, uid);
    QString json = Compact(UserJson(user, true));
    BRIDGE_LOG("JsContext") << "User Json :" << json;
    return json;
}

QString JsContext::GetUsers(QJsonArray Quids)
{
    QVector<uint32_t> ids = PageIds(Quids);
    const int n = ids.size();
    auto users = Zeroed<win_user_t>(n);
    if (n > 0)
        (void)lirko_win_getUsers(users.get(), ids.constData(), static_cast<size_t>(n));
    // One object per requested id, in order: ids the engine did not know keep
    // their zero record so the page can match positions.
    QJsonArray a;
    for (int i = 0; i < n; i++) {
        const win_user_t &u = users[static_cast<size_t>(i)];
        BRIDGE_LOG("JsContext") << "name " << Name(u.name, sizeof(u.name)) << "uid: " << u.uid;
        a.append(UserJson(u, false));
    }
    QString json = Compact(a);
    BRIDGE_LOG("JsContext") << "Users Json :" << json;
    return json;
}

QString JsContext::GetPlayingSoundUserMsg()
{
    win_user_t user{};
    (void)lirko_win_getPlayingSoundUser(&user);
    return Compact(SpeakerJson(user));
}

QString JsContext::GetSpeakingUsers()
{
    int n = lirko_win_getSpeakingUsersSize();
    QJsonArray a;
    int k = 0;
    if (n > 0) {
        auto users = Zeroed<win_user_t>(n);
        int r = lirko_win_getSpeakingUsers(users.get(), static_cast<size_t>(n));
        BRIDGE_LOG("JsContext") << "lirko_win_getSpeakingUsers " << r;
        k = Filled(r, n);
        for (int i = 0; i < k; i++)
            a.append(SpeakerJson(users[static_cast<size_t>(i)]));
    }
    QString json = Compact(a);
    BRIDGE_LOG("JsContext") << "Speak User Json :" << json << "size: " << k;
    return json;
}

QString JsContext::GetGroupByGid(int gid)
{
    BRIDGE_LOG("JsContext") << "GetGroupByGid" << gid;
    win_group_t group{};
    (void)lirko_win_getGroupByGid(&group, static_cast<gid_t>(gid));
    QString json = Compact(GroupJson(group));
    BRIDGE_LOG("JsContext") << "group Json :" << json;
    return json;
}

QString JsContext::GetGroupList()
{
    return SortedGroups(
        lirko_win_getGroupSize(),
        [](win_group_t *g, size_t cap) { return lirko_win_getGroupList(g, cap); }, m_readings);
}

QString JsContext::GetGroupListExtern(bool force)
{
    return SortedGroups(
        lirko_win_getGroupSize(),
        [force](win_group_t *g, size_t cap) {
            return lirko_win_getGroupList_extern(g, cap, force ? 1 : 0);
        },
        m_readings);
}

QString JsContext::GetGroupListExtern()
{
    return GetGroupListExtern(true);
}

QString JsContext::GetWatchGroups()
{
    int n = lirko_win_getWatchedGroupCount();
    QJsonArray a;
    if (n > 0) {
        auto groups = Zeroed<win_group_t>(n);
        int k = Filled(lirko_win_getWatchGroups(groups.get(), static_cast<size_t>(n)), n);
        for (int i = 0; i < k; i++)
            a.append(GroupJson(groups[static_cast<size_t>(i)]));
    }
    QString json = Compact(a);
    BRIDGE_LOG("JsContext") << "Watchgroups list: " << json;
    return json;
}

QString JsContext::GetMemberList(gid_t gid)
{
    return SortedMembers(
        gid, [gid](win_member_t *m, size_t cap) { return lirko_win_getMemberList(m, cap, gid); },
        m_readings);
}

QString JsContext::GetMemberListRefresh(gid_t gid)
{
    return SortedMembers(
        gid,
        [gid](win_member_t *m, size_t cap) { return lirko_win_getMemberList_refresh(m, cap, gid); },
        m_readings);
}

QString JsContext::GetName()
{
    char name[LIRKO_NAME_BUF_SIZE] = {};
    (void)lirko_win_getName(name);
    QString text = QString::fromUtf8(FieldText(name, sizeof(name)));
    BRIDGE_LOG("JsContext") << "Current Name: " << text;
    return text;
}

QString JsContext::GetUid()
{
    QString text = QString::number(lirko_win_getUid());
    BRIDGE_LOG("JsContext") << "Current Uid: " << text;
    return text;
}

QString JsContext::GetOnlineStatus()
{
    QString text = QString::number(static_cast<int>(lirko_win_getOnlineStatus()));
    BRIDGE_LOG("JsContext") << "OnlineStatus :" << text;
    return text;
}

QString JsContext::GetSavedAccount()
{
    char account[LIRKO_ACCOUNT_BUF_SIZE] = {};
    char password[LIRKO_PASSWORD_BUF_SIZE] = {};
    int role = 0;
    int r = lirko_win_getSavedAccount(account, password, &role);
    BRIDGE_LOG("JsContext") << "getSavedAccount" << r;
    QJsonObject o;
    o.insert(QStringLiteral("Name"), QString::fromUtf8(FieldText(account, sizeof(account))));
    o.insert(QStringLiteral("Password"), QString::fromUtf8(FieldText(password, sizeof(password))));
    o.insert(QStringLiteral("Role"), role);
    o.insert(QStringLiteral("IsRemembered"), 0);
    o.insert(QStringLiteral("IsAutoLogin"), 0);
    return Compact(o);
}

int JsContext::SaveAccount(QString account)
{
    const AccountArgs a = ParseAccountArgs(account);
    const QString &name = a.name, &password = a.password;
    const int role = a.role;
    if (a.hasName)
        BRIDGE_LOG("JsContext") << "Name : " << name;
    if (a.hasPassword)
        BRIDGE_LOG("JsContext") << "Password length: " << password.size();
    if (a.hasRole)
        BRIDGE_LOG("JsContext") << "Role : " << role;
    const QByteArray n = name.toUtf8(), p = password.toUtf8();
    // The engine hands saved texts back in 512-byte buffers: a longer one
    // would come back cut.
    if (n.size() >= LIRKO_ACCOUNT_BUF_SIZE || p.size() >= LIRKO_PASSWORD_BUF_SIZE) {
        BRIDGE_LOG("JsContext") << "account or password too long";
        return -1;
    }
    return lirko_win_saveAccount(n.constData(), p.constData(), role);
}

int JsContext::getallgroups()
{
    uint32_t did = lirko_win_get_current_did();
    if (did == 0)
        return -1;
    (void)lirko_win_query_department_tree(did);
    BRIDGE_LOG("JsContext") << "did: " << did;
    return 0;
}

bool JsContext::IsMyParTakeGroup(gid_t gid, department_t *department)
{
    if (!department)
        return false;
    BRIDGE_LOG("JsContext") << "IsMyParTakeGroup gid " << gid << "gid count "
                            << department->n_groups;
    if (department->n_groups == 0 || !department->groups)
        return false;
    for (size_t i = 0; i < department->n_groups; i++) {
        BRIDGE_LOG("JsContext") << "gid" << department->groups[i].gid;
        if (department->groups[i].gid == gid)
            return true;
    }
    return false;
}

void JsContext::GetRepetitiveData(QList<GroupSort *> &Grouplist, int did,
                                  QList<RepeatGid *> &repeatinfolist)
{
    if (Grouplist.size() == 1)
        return;
    int found = 0;
    for (int i = 0; i < Grouplist.size(); i++) {
        GroupSort *e = Grouplist[i];
        for (int j = i + 1; j < Grouplist.size(); j++) {
            if (Grouplist[j]->group->gid != e->group->gid)
                continue;
            if (e->group->did == static_cast<uint32_t>(did)) {
                auto *r = new RepeatGid;
                r->gid = e->group->gid;
                r->did = e->group->did;
                r->index = i;
                r->entry = e;
                repeatinfolist.append(r);
                found++;
            }
            break;
        }
    }
    BRIDGE_LOG("JsContext") << "size" << found;
    for (const RepeatGid *r : repeatinfolist)
        BRIDGE_LOG("JsContext") << "did gid index size" << r->did << r->gid << r->index << found;
}

QString JsContext::getallgroupsdata()
{
    // 1-2: the groups of every department the engine holds. Records it left
    // unfilled stay zero and carry gid 0, which no group has.
    int n = std::max(0, lirko_win_query_department_group_size());
    auto dept = Zeroed<win_group_t>(n);
    if (n > 0) {
        win_group_t *p = dept.get();
        (void)lirko_win_query_department_group(&p, static_cast<size_t>(n));
    }
    QMap<uint32_t, uint32_t> didOf;
    for (int i = 0; i < n; i++) {
        if (dept[static_cast<size_t>(i)].gid != 0)
            didOf.insert(dept[static_cast<size_t>(i)].gid, dept[static_cast<size_t>(i)].did);
    }

    // 3: the own groups, in the own department.
    const uint32_t own = lirko_win_get_current_did();
    int m = std::max(0, lirko_win_getGroupSize());
    auto groups = Zeroed<win_group_t>(m);
    int k = m > 0 ? Filled(lirko_win_getGroupList(groups.get(), static_cast<size_t>(m)), m) : 0;
    std::vector<GroupSort> entries(static_cast<size_t>(k + n));
    size_t used = 0;
    QList<GroupSort *> list;
    for (int i = 0; i < k; i++) {
        groups[static_cast<size_t>(i)].did = own;
        entries[used].group = &groups[static_cast<size_t>(i)];
        list.append(&entries[used++]);
    }

    // 4: own groups outside the department tree.
    QList<uint32_t> partake;
    if (lirko_win_get_department_by_did(own)) {
        for (int i = 0; i < k; i++) {
            uint32_t gid = groups[static_cast<size_t>(i)].gid;
            if (!didOf.contains(gid)) {
                BRIDGE_LOG("JsContext") << "gid " << gid << "is my partakegroup";
                partake.append(gid);
            }
        }
    }

    // 5: the other departments' groups.
    for (int i = 0; i < n; i++) {
        win_group_t &g = dept[static_cast<size_t>(i)];
        if (g.gid == 0 || g.did == own)
            continue;
        entries[used].group = &g;
        list.append(&entries[used++]);
    }

    // 6: a group seen twice stays at its later place.
    QList<RepeatGid *> repeats;
    GetRepetitiveData(list, static_cast<int>(own), repeats);
    QSet<GroupSort *> gone;
    for (RepeatGid *r : repeats)
        gone.insert(r->entry);
    qDeleteAll(repeats);
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&gone](GroupSort *e) { return gone.contains(e); }),
               list.end());

    // 7-8.
    SortGroupListByWeight(list, m_readings);
    BRIDGE_LOG("JsContext") << "getallgrouopsdata: group count size: did: " << list.size() << n
                            << own;
    for (uint32_t gid : partake) {
        for (GroupSort *e : list) {
            if (e->group->gid == gid)
                e->group->did = 0xFFFFFFFFu;
        }
        BRIDGE_LOG("JsContext") << "partake gid: " << gid;
    }

    // 9.
    QJsonArray a;
    for (GroupSort *e : list)
        a.append(DepartmentGroupJson(*e->group));
    QString json = Compact(a);
    BRIDGE_LOG("JsContext") << "getallgroupsdata groups list: " << json;
    return json;
}
