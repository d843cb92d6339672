#include "core/options/core_options.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/meta/special_tags.h"
#include "core/strings/priority_names.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "v4ada/error/error.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/file/safe_file.h"
#include "v4ada/memory/malloc4.h"
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

// pref.met holds a few hundred bytes; a larger file is taken whole up to
// this size and does not parse beyond it.
constexpr i4_pos kMaxPrefsBytes = 16 * 1024 * 1024;
constexpr int kPrefsReadChunk = 64 * 1024;

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

CoreOptions::~CoreOptions() = default;

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

    OwnedString reason;
    PrefsState state = readPrefsFile(prefsPath_.c_str(), &reason);
    if (state == PrefsState::Unusable) {
        // A file the user has but this process cannot read: a new identity
        // saved over it at shutdown would lose it for good.
        error_at(__FILE__, __LINE__)("%s cannot be read (%s); nothing was changed. Make it readable or move it away, then start again",
                                     prefsPath_.c_str(), reason.c_str());
    }
    if (takePrefs(prefsPath_.c_str(), state)) {
        applyLoadedOptions();
        // The skin named by the options replaces the default one loaded
        // before pref.met was known.
        OwnedString uiPath = getStringOption(kOptUiPath);
        if (!uiPath.isEmpty()) loadUIStrings(uiPath.c_str());
    } else {
        newIdentity();
        replaceProxy(std::shared_ptr<const ProxySettings>(ProxySettings::makeDefault()));
    }
    setupPriorityNames();
    savedChanges_ = changes_.load();
}

bool CoreOptions::readPrefs(const char* path) {
    OwnedString reason;
    PrefsState state = readPrefsFile(path, &reason);
    if (state == PrefsState::Unusable) {
        reportLine(reason.c_str());
        state = PrefsState::Missing;  // nothing read, nothing moved
    }
    return takePrefs(path, state);
}

bool CoreOptions::takePrefs(const char* path, PrefsState state) {
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

CoreOptions::PrefsState CoreOptions::readPrefsFile(const char* path, OwnedString* reason) {
    // Not a regular file (a directory, a FIFO that would block the open):
    // not a pref.met this process wrote.
    struct stat st;
    if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        *reason = "not a regular file";
        return PrefsState::Unusable;
    }
    i4_safe_file safe(path, kFsRead);
    i4_file* file = safe.file();
    if (!file) {
        int error = errno;
        if (::lstat(path, &st) != 0 && errno == ENOENT) return PrefsState::Missing;
        *reason = std::strerror(error != 0 ? error : EIO);
        return PrefsState::Unusable;
    }
    // The whole file first: a read error is no parse error.
    i4_ram_file_class image(nullptr, 0, kPrefsReadChunk);
    bool complete = false;
    for (;;) {
        char chunk[kPrefsReadChunk];
        int n = file->read(chunk, sizeof chunk);
        if (n < 0) {
            *reason = std::strerror(errno != 0 ? errno : EIO);
            i4_free(image.data());
            return PrefsState::Unusable;
        }
        if (n == 0) {
            complete = true;
            break;
        }
        if (image.size() + n > kMaxPrefsBytes) break;
        image.write(chunk, n);
    }
    safe.close();
    image.seek(0);
    bool ok = complete && readPrefsFrom(&image);
    i4_free(image.data());
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
    replaceProxy(std::shared_ptr<const ProxySettings>(proxy));
}

void CoreOptions::setOwnUserHash(const UniqueID& hash) {
    {
        SysMutexGuard guard(&ownLock_);
        if (ownUser_.userHash().equals(hash)) return;
        ownUser_.setUserHash(hash);
    }
    changes_++;
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
    // writePrefs itself puts the current values into the record.
    if (saved) savedChanges_ = changes_.load();
    if (!saved) reportLine(settingsNotSavedText());
    return saved;
}

bool CoreOptions::saveIfChanged() {
    if (changes_.load() == savedChanges_) return true;
    return save();
}

bool CoreOptions::writePrefs(const char* path) {
    std::shared_ptr<const ProxySettings> proxy = proxySettings();
    if (proxy && proxy->type != 0) {
        setIntOption(kOptProxyType, proxy->type);
        setStringOption(kOptProxyHost, proxy->host());
        setIntOption(kOptProxyPort, proxy->port);
        setStringOption(kOptProxyUser, proxy->user());
        setStringOption(kOptProxyPassword, proxy->password());
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
    int32_t old = 0;
    MetaTag* tag = options_.findTag(key);
    if (tag && tag->type() == kTagInt && options_.getIntOut(key, &old) && old == value) return;
    options_.set(key, &value, kTagInt);
    changes_++;
}

void CoreOptions::setStringOption(const char* key, const char* value) {
    SysMutexGuard guard(&optionsLock_);
    MetaTag* tag = options_.findTag(key);
    const char* old = options_.textOf(key);
    if (tag && tag->type() == kTagString && old && value && std::strcmp(old, value) == 0) return;
    options_.set(key, value, kTagString);
    changes_++;
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
    MetaTag* tag = options_.findTag(key);
    if (tag && tag->type() == kTagFloat && static_cast<const MetaTagFloat*>(tag)->floatValue() == stored) return;
    options_.set(key, &stored, kTagFloat);
    changes_++;
}

// ---- limits ----

bool CoreOptions::setUploadLimit(double u) {
    if (!validLimit(u)) return false;
    SysMutexGuard guard(&limitsLock_);
    if (u > kUploadLimitMax) u = 0.0;
    if (u != 0.0) {
        double d = downloadLimit_.load();
        if (u < 5.0 && (d == 0.0 || d > 3.0 * u))
            storeSetting(downloadLimit_, 3.0 * u);
        else if (u < 10.0 && (d == 0.0 || d > 4.0 * u))
            storeSetting(downloadLimit_, 4.0 * u);
    }
    storeSetting(uploadLimit_, u);
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
    storeSetting(downloadLimit_, d);
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
    if (std::strcmp(ownUser_.nickname(), name.c_str()) == 0) return;
    ownUser_.setNickname(name.c_str());
    changes_++;
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
    SysMutexGuard guard(&proxyLock_);
    const ProxySettings* current = proxy_.get();
    bool same = settings ? settings->equals(current) : (current == nullptr || current->type == kProxyNone);
    if (same) return false;
    proxy_ = settings ? std::shared_ptr<const ProxySettings>(settings->clone()) : nullptr;
    changes_++;
    return true;
}

std::shared_ptr<const ProxySettings> CoreOptions::proxySettings() const {
    SysMutexGuard guard(&proxyLock_);
    return proxy_;
}

void CoreOptions::replaceProxy(std::shared_ptr<const ProxySettings> settings) {
    SysMutexGuard guard(&proxyLock_);
    proxy_ = std::move(settings);
}
