// OptionsBandwidth: the options record's limits, rates and peak speeds as
// the socket pool reads and keeps them.
#pragma once

#include "core/net/bandwidth_settings.h"

class CoreOptions;

class OptionsBandwidth : public BandwidthSettings {
public:
    // The options must outlive every reader of this object.
    explicit OptionsBandwidth(CoreOptions* options) : options_(options) {}

    double uploadLimit() const override;
    double downloadLimit() const override;
    double currentUpRate() const override;
    double currentDownRate() const override;
    double maxUpSpeed() const override;
    double maxDownSpeed() const override;
    void setMaxUpSpeed(double speed) override;
    void setMaxDownSpeed(double speed) override;

private:
    CoreOptions* options_;
};
