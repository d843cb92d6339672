#include "overlay/index/service.h"

#include <algorithm>

#include "core/meta/special_tags.h"
#include "v4ada/error/error.h"
#include "v4ada/file/file.h"
#include "v4ada/time/time_value.h"

int64_t serviceClockNow() { return TimeValue().seconds; }

bool Service::toNetwork(i4_file* file) {
    serviceId.write(file);
    descId.write(file);
    return Meta::toNetwork(file);
}

bool Service::fromNetwork(i4_file* file) {
    try {
        UniqueID key;
        UniqueID desc;
        key.read(file);
        desc.read(file);
        serviceId.copy(key);
        descId.copy(desc);
    } catch (const i4_err&) {
        return false;
    }
    return Meta::fromNetwork(file);
}

void Service::assign(const Service& other) {
    copyFrom(&other);
    serviceId.copy(other.serviceId);
    descId.copy(other.descId);
    stamp = other.stamp;
}

void TimedService::updateRate(int32_t oldRate, int64_t previousStamp) {
    using Wide = __int128;
    Wide divisor = std::max<Wide>(Wide(stamp) - firstSeen + 1, 1);
    Wide rate = (Wide(oldRate) * (Wide(previousStamp) - firstSeen) + 3600) / divisor;
    auto value = static_cast<int32_t>(std::clamp<Wide>(rate, INT32_MIN, INT32_MAX));
    setSpecial(ST_AVAILABILITY, &value);
}
