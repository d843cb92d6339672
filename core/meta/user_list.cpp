#include "core/meta/user_list.h"

void UserList::copyEntry(Meta* to, const Meta* from) {
    auto* user = dynamic_cast<UserMeta*>(to);
    auto* source = dynamic_cast<const UserMeta*>(from);
    if (user && source) {
        user->assign(source);
    } else {
        MetaList::copyEntry(to, from);
    }
}
