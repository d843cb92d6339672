// The transfer limits and rates the socket pool reads and maintains: the
// user's upload and download limits (0 = none), the current rates written
// by the transfer pools, and the peak speeds the pool's averaging keeps.
// All in bytes per millisecond (the unit a budget multiplies by elapsed
// milliseconds). Implemented by the options record.
#pragma once

class BandwidthSettings {
public:
    virtual ~BandwidthSettings() = default;
    virtual double uploadLimit() const = 0;
    virtual double downloadLimit() const = 0;
    virtual double currentUpRate() const = 0;
    virtual double currentDownRate() const = 0;
    virtual double maxUpSpeed() const = 0;
    virtual double maxDownSpeed() const = 0;
    virtual void setMaxUpSpeed(double speed) = 0;
    virtual void setMaxDownSpeed(double speed) = 0;
};
