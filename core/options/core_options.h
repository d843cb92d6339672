// CoreOptions: the one settings object of the process. It holds the
// options record (named option tags every subsystem reads and writes by
// key), the user's own record, the transfer limits with the rule that ties
// the download limit to the upload limit, the measured rates, the console
// page length, the part style, the proxy settings and the paths of the
// settings files.
//
// pref.met (little-endian, no version byte, nothing after the options):
//   own UserMeta file form (without the "pr" tag) | options Meta form
//
// The process-wide instance is created at start-up and destroyed at
// shutdown explicitly (createInstance / destroyInstance); tests may destroy
// and create it again.
//
// Threads: the own record's address fields, its nickname and its wire form
// are guarded by one mutex; the options record by another; limits, rates
// and the small settings are atomics. The proxy settings are one shared,
// immutable object: a reader keeps the one it took even when setProxy
// replaces it meanwhile.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/meta/meta.h"
#include "core/net/bandwidth_settings.h"
#include "core/meta/user_meta.h"
#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class ProxySettings;
class i4_file;

constexpr const char* kPrefsFileName = "pref.met";
constexpr const char* kFiltersFileName = "filters.txt";

// Option keys of this record.
constexpr const char* kOptUploadLimit = "userMaxUpF";      // float
constexpr const char* kOptDownloadLimit = "userMaxDownF";  // float
constexpr const char* kOptLineDown = "lineDown";           // float
constexpr const char* kOptMaxUpSpeed = "maxUpSpeed";       // float
constexpr const char* kOptMaxDownSpeed = "maxDownSpeed";   // float
constexpr const char* kOptMaxConnections = "maxCon";       // int
constexpr const char* kOptScreenLines = "screenLines";     // int
constexpr const char* kOptPartStyle = "partstyle";         // int 0/1
constexpr const char* kOptProxyType = "pType";             // int
constexpr const char* kOptProxyHost = "pSName";            // string
constexpr const char* kOptProxyPort = "pPort";             // int
constexpr const char* kOptProxyUser = "pUName";            // string
constexpr const char* kOptProxyPassword = "pUPass";        // string
constexpr const char* kOptUiPath = "uiPath";               // string
// The integer tag of the own record that marks this client in hellos;
// held in memory only, never in pref.met.
constexpr const char* kOwnRecordMark = "pr";

constexpr int kClientVersion = 1050;
constexpr int kDefaultMaxConnections = 45;
constexpr int kDefaultScreenLines = 24;
constexpr double kDefaultMaxSpeed = 5.0;
// Upload limits above this are stored as 0 (no limit).
constexpr double kUploadLimitMax = 999999.0;
constexpr int kNicknameMax = 64;
constexpr int kNewNicknameLength = 5;

class CoreOptions : public BandwidthSettings {
public:
    CoreOptions();
    ~CoreOptions() override;
    CoreOptions(const CoreOptions&) = delete;
    CoreOptions& operator=(const CoreOptions&) = delete;

    static CoreOptions* instance();
    // Keeps an existing instance.
    static void createInstance();
    // Deletes the instance and frees the priority names set up by load.
    static void destroyInstance();

    // Start-up: seeds the random generator, takes the current directory as
    // the base directory and reads pref.met from it. A missing pref.met
    // gives a new identity; one that does not parse is kept aside
    // (reported) and a new identity is made. A pref.met that exists but
    // cannot be read at all (not a regular file, no permission, an I/O
    // error) raises an i4_err naming the file and the reason, with nothing
    // changed: the start-up must end there rather than save over it. When
    // the options name a "uiPath", the skin texts are loaded from there.
    void load();
    // The same with a given base directory (a trailing '/' is removed).
    void loadFrom(const char* baseDir);
    // Writes pref.met to the prefs path; false (reported) when the old
    // file had to be kept.
    bool save();
    // Saves pref.met when a setting kept in it changed since the last load
    // or save (the console calls it after every command, so nothing the
    // user was told is "Done." waits for the shutdown). True when nothing
    // needed saving or the save worked; a failure is reported.
    bool saveIfChanged();
    // Grows with every change of a setting kept in pref.met (limits, name,
    // connections, line speed, page length, part style, proxy, option
    // tags); rates and addresses measured while running do not count.
    uint64_t settingsChanges() const { return changes_.load(); }
    // Reads pref.met; true when the own record and the options were read
    // and the user hash is not zero. A file that does not parse is kept
    // aside; one that cannot be read is reported and left alone.
    bool readPrefs(const char* path);
    // The own record and the options from a pref.met image; true on the
    // same terms as readPrefs (nothing else is changed).
    bool readPrefsFrom(i4_file* file);
    // Takes limits, rates, connections, page length, part style and proxy
    // settings from the options record just read.
    void applyLoadedOptions();
    bool writePrefs(const char* path);
    // A random user hash and a nickname of five letters 'a' to 'y'.
    void newIdentity();
    // Replaces the own user hash (a setting kept in pref.met).
    void setOwnUserHash(const UniqueID& hash);

    // Options record, by key; a set adds the tag when absent.
    bool getIntOption(const char* key, int32_t* out);
    // A copy of the text of a string option; a null text when absent.
    OwnedString getStringOption(const char* key);
    void setIntOption(const char* key, int32_t value);
    void setStringOption(const char* key, const char* value);

    // The own record. Its address fields and wire form change under the
    // mutex: use the accessors below from other threads.
    UserMeta* ownUserMeta() { return &ownUser_; }

    double uploadLimit() const override { return uploadLimit_.load(); }
    double downloadLimit() const override { return downloadLimit_.load(); }
    // The ratio rule: an upload limit below 5 caps downloads at three
    // times it, one below 10 at four times it. Negative (or not a number)
    // is refused: false and nothing changes.
    bool setUploadLimit(double limit);
    bool setDownloadLimit(double limit);

    double currentUpRate() const override { return currentUpRate_.load(); }
    double currentDownRate() const override { return currentDownRate_.load(); }
    void setCurrentUpRate(double rate) { currentUpRate_.store(rate); }
    void setCurrentDownRate(double rate) { currentDownRate_.store(rate); }
    double maxUpSpeed() const override { return maxUpSpeed_.load(); }
    double maxDownSpeed() const override { return maxDownSpeed_.load(); }
    void setMaxUpSpeed(double speed) override { maxUpSpeed_.store(speed); }
    void setMaxDownSpeed(double speed) override { maxDownSpeed_.store(speed); }
    double lineSpeedDown() const { return lineSpeedDown_.load(); }
    void setLineSpeedDown(double speed) { storeSetting(lineSpeedDown_, speed); }

    int maxConnections() const { return maxConnections_.load(); }
    void setMaxConnections(int count) { storeSetting(maxConnections_, count); }
    // Page length of the console pager ("screenLines").
    int screenLines() const { return screenLines_.load(); }
    void setScreenLines(int lines) { storeSetting(screenLines_, lines); }
    // False: new downloads get a directory of part files; true: one file.
    bool partStyle() const { return partStyle_.load(); }
    void setPartStyle(bool single) { storeSetting(partStyle_, single); }

    OwnedString nickname();
    // Texts longer than 64 characters keep their first 64.
    void setNickname(const char* text);

    uint32_t ownIP();
    // Returns the previous address.
    uint32_t setOwnIP(uint32_t ip);
    uint16_t tcpPort();
    void setTcpPort(uint16_t port);
    uint32_t buddyIP();
    void setBuddyIP(uint32_t ip);
    uint16_t buddyPort();
    void setBuddyPort(uint16_t port);
    // The own record's wire form and its size (hello messages).
    int ownMetaSize();
    bool writeOwnMeta(i4_file* file);

    // Replaces the proxy settings with a copy of settings (null: none);
    // false when nothing changed. The network protocol is not touched: a
    // caller that changed them rebuilds it (rebuildNetworkProtocol).
    bool setProxy(const ProxySettings* settings);
    // The current proxy settings, shared and never changed in place; null
    // when none were loaded or they were removed.
    std::shared_ptr<const ProxySettings> proxySettings() const;

    const OwnedString& prefsPath() const { return prefsPath_; }
    const OwnedString& baseDir() const { return baseDir_; }
    const OwnedString& filtersPath() const { return filtersPath_; }

private:
    // Read: the file was read. Missing: there is none. Unreadable: it does
    // not parse (kept aside). Unusable: it cannot be read at all; *reason
    // tells why.
    enum class PrefsState { Read, Missing, Unreadable, Unusable };
    PrefsState readPrefsFile(const char* path, OwnedString* reason);
    // Takes the outcome: true when read; otherwise a file that does not
    // parse is kept aside and whatever was half-read is cleared.
    bool takePrefs(const char* path, PrefsState state);
    bool floatOption(const char* key, double* out);
    void setFloatOption(const char* key, double value);
    void replaceProxy(std::shared_ptr<const ProxySettings> settings);
    // Stores a setting kept in pref.met, counting it as a change when the
    // value differs.
    template <typename T, typename V>
    void storeSetting(std::atomic<T>& field, V value) {
        if (field.exchange(static_cast<T>(value)) != static_cast<T>(value)) changes_++;
    }

    SysMutex ownLock_;      // own record
    SysMutex optionsLock_;  // options record
    Meta options_ TS_GUARDED_BY(optionsLock_);
    UserMeta ownUser_ TS_GUARDED_BY(ownLock_);
    OwnedString prefsPath_;
    OwnedString baseDir_;
    OwnedString filtersPath_;

    SysMutex limitsLock_;  // makes each limit setter one step
    std::atomic<double> uploadLimit_{0.0};
    std::atomic<double> downloadLimit_{0.0};
    std::atomic<double> currentUpRate_{0.0};
    std::atomic<double> currentDownRate_{0.0};
    std::atomic<double> maxUpSpeed_{kDefaultMaxSpeed};
    std::atomic<double> maxDownSpeed_{kDefaultMaxSpeed};
    std::atomic<double> lineSpeedDown_{0.0};
    std::atomic<int> maxConnections_{kDefaultMaxConnections};
    std::atomic<int> screenLines_{kDefaultScreenLines};
    std::atomic<bool> partStyle_{false};

    mutable SysMutex proxyLock_;  // proxy_ (the pointer, not the object)
    std::shared_ptr<const ProxySettings> proxy_ TS_GUARDED_BY(proxyLock_);

    std::atomic<uint64_t> changes_{0};
    uint64_t savedChanges_ = 0;  // changes_ when pref.met was last loaded or saved
};

// The process-wide options; null outside createInstance/destroyInstance.
inline CoreOptions* coreOptions() { return CoreOptions::instance(); }
