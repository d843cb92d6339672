#include "core/meta/user_meta.h"

#include "core/meta/read_limits.h"
#include "core/meta/special_tags.h"
#include "v4ada/error/error.h"
#include "v4ada/file/file.h"

UserMeta::UserMeta(const UserMeta& other) : Meta() { assign(&other); }

UserMeta& UserMeta::operator=(const UserMeta& other) {
    assign(&other);
    return *this;
}

void UserMeta::assign(const UserMeta* other) {
    if (!other || other == this) return;
    Meta::copyFrom(other);
    ip_ = other->ip_;
    buddyIp_ = other->buddyIp_;
    port_ = other->port_;
    buddyPort_ = other->buddyPort_;
    userHash_ = other->userHash_;
    helloVerified_ = other->helloVerified_;
    friendState_ = other->friendState_;
}

const char* UserMeta::nickname() {
    if (!findSpecial(ST_NAME)) setSpecial(ST_NAME, kUnknownName);
    const char* text = textOf(specialCodeName(ST_NAME));
    return text ? text : kUnknownName;
}

void UserMeta::setNickname(const char* name) { setSpecial(ST_NAME, name); }

bool UserMeta::sameUser(const UserMeta* other) const {
    if (!other) return false;
    bool sameAddress = ip_ == other->ip_ && port_ == other->port_;
    if (isLowId()) sameAddress = sameAddress && buddyIp_ == other->buddyIp_ && buddyPort_ == other->buddyPort_;
    if (sameAddress) return true;
    return !userHash_.isZero() && userHash_.equals(other->userHash_);
}

bool UserMeta::toDisk(i4_file* file) {
    bool low = isLowId();
    bool ok = file->write_32(low ? 0 : ip_) == 4;
    ok = file->write_16(low ? 0 : port_) == 2 && ok;
    ok = userHash_.write(file) == kUniqueIdSize && ok;
    return Meta::toDisk(file) && ok;
}

bool UserMeta::fromDisk(i4_file* file) {
    try {
        ip_ = file->read_32();
        port_ = file->read_16();
        userHash_.read(file);
    } catch (const i4_err&) {
        return false;
    }
    return Meta::fromDisk(file);
}

bool UserMeta::toNetwork(i4_file* file) {
    bool ok = userHash_.write(file) == kUniqueIdSize;
    ok = file->write_32(ip_) == 4 && ok;
    ok = file->write_16(port_) == 2 && ok;
    return Meta::toNetwork(file) && ok;
}

bool UserMeta::fromNetwork(i4_file* file) {
    try {
        userHash_.read(file);
        ip_ = file->read_32();
        port_ = file->read_16();
    } catch (const i4_err&) {
        return false;
    }
    return fromNetworkCapped(file, kPeerUserMaxTags, kPeerUserMaxTagBytes);
}

int UserMeta::wireSize() { return kUserMetaWireFixed + Meta::wireSize(); }
