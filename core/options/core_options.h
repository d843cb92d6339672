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
// and the small settings are atomics.
#pragma once

#include <atomic>
#include <cstdint>

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
    // the base directory and reads pref.met from it.
    void load();
    // The same with a given base directory (a trailing '/' is removed).
    void loadFrom(const char* baseDir);
    // Writes pref.met to the prefs path; false (reported) when the old
    // file had to be kept.
    bool save();
    // Reads pref.met; true when the own record and the options were read
    // and the user hash is not zero.
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
    void setLineSpeedDown(double speed) { lineSpeedDown_.store(speed); }

    int maxConnections() const { return maxConnections_.load(); }
    void setMaxConnections(int count) { maxConnections_.store(count); }
    // Page length of the console pager ("screenLines").
    int screenLines() const { return screenLines_.load(); }
    void setScreenLines(int lines) { screenLines_.store(lines); }
    // False: new downloads get a directory of part files; true: one file.
    bool partStyle() const { return partStyle_.load(); }
    void setPartStyle(bool single) { partStyle_.store(single); }

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

    // Replaces the proxy settings with a copy of settings (null: none) and
    // installs a new network protocol object made with them; false when
    // nothing changed.
    bool setProxy(const ProxySettings* settings);
    // The current proxy settings; null when none were loaded or they were
    // removed.
    const ProxySettings* proxySettings() const { return proxy_; }

    const OwnedString& prefsPath() const { return prefsPath_; }
    const OwnedString& baseDir() const { return baseDir_; }
    const OwnedString& filtersPath() const { return filtersPath_; }

private:
    enum class PrefsState { Read, Missing, Unreadable };
    PrefsState readPrefsFile(const char* path);
    bool floatOption(const char* key, double* out);
    void setFloatOption(const char* key, double value);
    void replaceProxy(ProxySettings* settings);

    SysMutex ownLock_;      // own record
    SysMutex optionsLock_;  // options record
    Meta options_;
    UserMeta ownUser_;
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

    ProxySettings* proxy_ = nullptr;
};

// The process-wide options; null outside createInstance/destroyInstance.
inline CoreOptions* coreOptions() { return CoreOptions::instance(); }
