#include "core/options/core_options.h"

#include <cmath>
#include <memory>
#include <cstdio>

#include "core/meta/special_tags.h"
#include "core/net/network_protocol.h"
#include "core/strings/priority_names.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "v4ada/error/error.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/safe_file.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/proxy_settings.h"
#include "v4ada/time/random.h"

namespace {

CoreOptions* gInstance = nullptr;

// A line for the user: through the output gateway, or on standard error
// before one is installed.
void reportLine(const char* text) {
    if (UIGateway* ui = currentUI())
        ui->printRaw("%s\n", text);
    else
        std::fprintf(stderr, "%s\n", text);
}

const char* settingsNotSavedText() {
    XMLStringTable* table = XMLStringTable::instance();
    const char* text = table ? table->get(STRINGS_SETTINGS_NOT_SAVED) : nullptr;
    return text ? text : string_table_default(STRINGS_SETTINGS_NOT_SAVED);
}

bool validLimit(double value) { return std::isfinite(value) && value >= 0.0; }

}  // namespace

CoreOptions* CoreOptions::instance() { return gInstance; }

void CoreOptions::createInstance() {
    if (!gInstance) gInstance = new CoreOptions();
}

void CoreOptions::destroyInstance() {
    delete gInstance;
    gInstance = nullptr;
    freePriorityNames();
}

CoreOptions::CoreOptions() = default;

CoreOptions::~CoreOptions() { delete proxy_; }

// ---- loading and saving ----

void CoreOptions::load() {
    OwnedString current;
    if (!fs_current_dir(current)) current = ".";
    loadFrom(current.c_str());
}

void CoreOptions::loadFrom(const char* baseDir) {
    seed_random();
    baseDir_ = baseDir ? baseDir : ".";
    int length = baseDir_.length();
    if (length > 1 && baseDir_.c_str()[length - 1] == '/') baseDir_.truncate(length - 1);
    filtersPath_.format("%s%c%s", baseDir_.c_str(), '/', kFiltersFileName);
    prefsPath_.format("%s%c%s", baseDir_.c_str(), '/', kPrefsFileName);

    if (readPrefs(prefsPath_.c_str())) {
        applyLoadedOptions();
    } else {
        newIdentity();
        replaceProxy(ProxySettings::makeDefault());
    }
    setupPriorityNames();
}

bool CoreOptions::readPrefs(const char* path) {
    PrefsState state = readPrefsFile(path);
    if (state == PrefsState::Unreadable) {
        // Never save over a file the user may still recover.
        OwnedString aside = fs_keep_aside(path);
        OwnedString line;
        if (aside.isNull())
            line.format("%s could not be read and could not be moved aside", path);
        else
            line.format("%s could not be read; kept as %s", path, aside.c_str());
        reportLine(line.c_str());
    }
    if (state != PrefsState::Read) {
        // Nothing half-read stays behind.
        SysMutexGuard guard(&ownLock_);
        ownUser_.clear();
        ownUser_.setIp(0);
        ownUser_.setPort(0);
        ownUser_.setUserHash(UniqueID());
        SysMutexGuard optionsGuard(&optionsLock_);
        options_.clear();
    }
    SysMutexGuard guard(&ownLock_);
    int32_t version = kClientVersion;
    int32_t mark = 1;
    ownUser_.setSpecial(ST_VERSION, &version);
    ownUser_.set(kOwnRecordMark, &mark, kTagInt);
    return state == PrefsState::Read;
}

CoreOptions::PrefsState CoreOptions::readPrefsFile(const char* path) {
    i4_safe_file safe(path, kFsRead);
    i4_file* file = safe.file();
    if (!file) return PrefsState::Missing;
    bool ok = readPrefsFrom(file);
    safe.close();
    return ok ? PrefsState::Read : PrefsState::Unreadable;
}

bool CoreOptions::readPrefsFrom(i4_file* file) {
    bool ok = false;
    try {
        SysMutexGuard guard(&ownLock_);
        SysMutexGuard optionsGuard(&optionsLock_);
        if (ownUser_.fromDisk(file) && options_.fromDisk(file)) {
            ownUser_.nickname();  // a record without a name gets "????"
            ok = !ownUser_.userHash().isZero();
        }
        if (ok) ownUser_.removeSpecial(ST_PORT);
    } catch (const i4_err&) {
        ok = false;
    }
    return ok;
}

void CoreOptions::applyLoadedOptions() {
    double up = 0.0, down = 0.0, line = 0.0;
    floatOption(kOptUploadLimit, &up);
    floatOption(kOptDownloadLimit, &down);
    floatOption(kOptLineDown, &line);
    lineSpeedDown_.store(validLimit(line) ? line : 0.0);
    setUploadLimit(up);
    setDownloadLimit(down);

    double speed = 0.0;
    if (!floatOption(kOptMaxUpSpeed, &speed) || !(speed > 0.0) || !std::isfinite(speed)) speed = kDefaultMaxSpeed;
    maxUpSpeed_.store(speed);
    speed = 0.0;
    if (!floatOption(kOptMaxDownSpeed, &speed) || !(speed > 0.0) || !std::isfinite(speed)) speed = kDefaultMaxSpeed;
    maxDownSpeed_.store(speed);

    int32_t value = 0;
    if (getIntOption(kOptMaxConnections, &value) && value > 0) maxConnections_.store(value);
    value = 0;
    screenLines_.store(getIntOption(kOptScreenLines, &value) && value > 0 ? value : kDefaultScreenLines);
    if (getIntOption(kOptPartStyle, &value)) partStyle_.store(value != 0);

    ProxySettings* proxy = ProxySettings::makeDefault();
    int32_t type = 0;
    if (getIntOption(kOptProxyType, &type) && type != 0) {
        proxy->type = type;
        int32_t port = 0;
        getIntOption(kOptProxyPort, &port);
        proxy->port = port;
        proxy->setHost(getStringOption(kOptProxyHost).c_str());
        proxy->setUser(getStringOption(kOptProxyUser).c_str());
        proxy->setPassword(getStringOption(kOptProxyPassword).c_str());
    }
    replaceProxy(proxy);
}

void CoreOptions::newIdentity() {
    SysMutexGuard guard(&ownLock_);
    UniqueID hash;
    hash.randomize();
    ownUser_.setUserHash(hash);
    char name[kNewNicknameLength + 1];
    for (int i = 0; i < kNewNicknameLength; i++) name[i] = static_cast<char>('a' + random_below(25));
    name[kNewNicknameLength] = 0;
    ownUser_.setNickname(name);
    int32_t version = kClientVersion;
    int32_t mark = 1;
    ownUser_.setSpecial(ST_VERSION, &version);
    ownUser_.set(kOwnRecordMark, &mark, kTagInt);
}

bool CoreOptions::save() {
    bool saved = writePrefs(prefsPath_.c_str());
    if (!saved) reportLine(settingsNotSavedText());
    return saved;
}

bool CoreOptions::writePrefs(const char* path) {
    if (proxy_ && proxy_->type != 0) {
        setIntOption(kOptProxyType, proxy_->type);
        setStringOption(kOptProxyHost, proxy_->host());
        setIntOption(kOptProxyPort, proxy_->port);
        setStringOption(kOptProxyUser, proxy_->user());
        setStringOption(kOptProxyPassword, proxy_->password());
    } else {
        setIntOption(kOptProxyType, 0);
    }
    setFloatOption(kOptUploadLimit, uploadLimit());
    setFloatOption(kOptDownloadLimit, downloadLimit());
    setFloatOption(kOptLineDown, lineSpeedDown());
    setFloatOption(kOptMaxUpSpeed, maxUpSpeed());
    setFloatOption(kOptMaxDownSpeed, maxDownSpeed());
    setIntOption(kOptMaxConnections, maxConnections());
    setIntOption(kOptScreenLines, screenLines());
    setIntOption(kOptPartStyle, partStyle() ? 1 : 0);

    if (!path) return false;
    i4_safe_file safe(path, kFsWrite | kFsTruncate);
    i4_file* file = safe.file();
    if (!file) return false;
    bool written = false;
    {
        SysMutexGuard guard(&ownLock_);
        ownUser_.removeTag(kOwnRecordMark);
        try {
            SysMutexGuard optionsGuard(&optionsLock_);
            written = ownUser_.toDisk(file) && options_.toDisk(file);
        } catch (const i4_err&) {
            written = false;
        }
        int32_t mark = 1;
        ownUser_.set(kOwnRecordMark, &mark, kTagInt);
    }
    // Without close() the safe file discards the new content and the old
    // pref.met stays.
    return written && safe.close();
}

// ---- options record ----

bool CoreOptions::getIntOption(const char* key, int32_t* out) {
    SysMutexGuard guard(&optionsLock_);
    return options_.getIntOut(key, out);
}

OwnedString CoreOptions::getStringOption(const char* key) {
    SysMutexGuard guard(&optionsLock_);
    return OwnedString(options_.textOf(key));
}

void CoreOptions::setIntOption(const char* key, int32_t value) {
    SysMutexGuard guard(&optionsLock_);
    options_.set(key, &value, kTagInt);
}

void CoreOptions::setStringOption(const char* key, const char* value) {
    SysMutexGuard guard(&optionsLock_);
    options_.set(key, value, kTagString);
}

bool CoreOptions::floatOption(const char* key, double* out) {
    SysMutexGuard guard(&optionsLock_);
    MetaTag* tag = options_.findTag(key);
    if (!tag || tag->type() != kTagFloat) return false;
    *out = static_cast<const MetaTagFloat*>(tag)->floatValue();
    return true;
}

void CoreOptions::setFloatOption(const char* key, double value) {
    float stored = static_cast<float>(value);
    SysMutexGuard guard(&optionsLock_);
    options_.set(key, &stored, kTagFloat);
}

// ---- limits ----

bool CoreOptions::setUploadLimit(double u) {
    if (!validLimit(u)) return false;
    SysMutexGuard guard(&limitsLock_);
    if (u > kUploadLimitMax) u = 0.0;
    if (u != 0.0) {
        double d = downloadLimit_.load();
        if (u < 5.0 && (d == 0.0 || d > 3.0 * u))
            downloadLimit_.store(3.0 * u);
        else if (u < 10.0 && (d == 0.0 || d > 4.0 * u))
            downloadLimit_.store(4.0 * u);
    }
    uploadLimit_.store(u);
    return true;
}

bool CoreOptions::setDownloadLimit(double d) {
    if (!validLimit(d)) return false;
    SysMutexGuard guard(&limitsLock_);
    double u = uploadLimit_.load();
    if (u != 0.0) {
        if (u < 5.0 && (d == 0.0 || d > 3.0 * u))
            d = 3.0 * u;
        else if (u < 10.0 && (d == 0.0 || d > 4.0 * u))
            d = 4.0 * u;
    }
    downloadLimit_.store(d);
    return true;
}

// ---- own record ----

OwnedString CoreOptions::nickname() {
    SysMutexGuard guard(&ownLock_);
    return OwnedString(ownUser_.nickname());
}

void CoreOptions::setNickname(const char* text) {
    OwnedString name(text ? text : "");
    name.truncate(kNicknameMax);
    SysMutexGuard guard(&ownLock_);
    ownUser_.setNickname(name.c_str());
}

uint32_t CoreOptions::ownIP() {
    SysMutexGuard guard(&ownLock_);
    return ownUser_.ip();
}

uint32_t CoreOptions::setOwnIP(uint32_t ip) {
    SysMutexGuard guard(&ownLock_);
    uint32_t old = ownUser_.ip();
    ownUser_.setIp(ip);
    return old;
}

uint16_t CoreOptions::tcpPort() {
    SysMutexGuard guard(&ownLock_);
    return ownUser_.port();
}

void CoreOptions::setTcpPort(uint16_t port) {
    SysMutexGuard guard(&ownLock_);
    ownUser_.setPort(port);
}

uint32_t CoreOptions::buddyIP() {
    SysMutexGuard guard(&ownLock_);
    return ownUser_.buddyIp();
}

void CoreOptions::setBuddyIP(uint32_t ip) {
    SysMutexGuard guard(&ownLock_);
    ownUser_.setBuddyIp(ip);
}

uint16_t CoreOptions::buddyPort() {
    SysMutexGuard guard(&ownLock_);
    return ownUser_.buddyPort();
}

void CoreOptions::setBuddyPort(uint16_t port) {
    SysMutexGuard guard(&ownLock_);
    ownUser_.setBuddyPort(port);
}

int CoreOptions::ownMetaSize() {
    SysMutexGuard guard(&ownLock_);
    return ownUser_.wireSize();
}

bool CoreOptions::writeOwnMeta(i4_file* file) {
    SysMutexGuard guard(&ownLock_);
    return ownUser_.toNetwork(file);
}

// ---- proxy ----

bool CoreOptions::setProxy(const ProxySettings* settings) {
    bool same = settings ? settings->equals(proxy_) : (proxy_ == nullptr || proxy_->type == kProxyNone);
    if (same) return false;
    ProxySettings* old = proxy_;
    proxy_ = settings ? settings->clone() : nullptr;
    setNetworkProtocol(std::shared_ptr<i4_protocol>(i4_tcpip_protocol::create(0, proxy_)));
    delete old;
    return true;
}

void CoreOptions::replaceProxy(ProxySettings* settings) {
    ProxySettings* old = proxy_;
    proxy_ = settings;
    delete old;
}
