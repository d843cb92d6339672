#include "core/startup/options_bandwidth.h"

#include "core/options/core_options.h"

double OptionsBandwidth::uploadLimit() const { return options_->uploadLimit(); }
double OptionsBandwidth::downloadLimit() const { return options_->downloadLimit(); }
double OptionsBandwidth::currentUpRate() const { return options_->currentUpRate(); }
double OptionsBandwidth::currentDownRate() const { return options_->currentDownRate(); }
double OptionsBandwidth::maxUpSpeed() const { return options_->maxUpSpeed(); }
double OptionsBandwidth::maxDownSpeed() const { return options_->maxDownSpeed(); }
void OptionsBandwidth::setMaxUpSpeed(double speed) { options_->setMaxUpSpeed(speed); }
void OptionsBandwidth::setMaxDownSpeed(double speed) { options_->setMaxDownSpeed(speed); }
