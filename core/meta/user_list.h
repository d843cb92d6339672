// UserList: a locked list of user records (friend.met is one).
#pragma once

#include "core/meta/meta_list.h"
#include "core/meta/user_meta.h"

class UserList : public MetaList {
public:
    Meta* newElement() override { return new UserMeta(); }

protected:
    // Whole records: tags, addresses, ports and hash (UserMeta::assign).
    void copyEntry(Meta* to, const Meta* from) override;
};
