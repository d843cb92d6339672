#include "overlay/gateway/stat_logger.h"

#include "overlay/gateway/flock_gateway.h"
#include "overlay/gateway/flock_host.h"
#include "overlay/gateway/flock_output.h"

bool StatLogger::tick(int elapsedMs) {
    elapsed_ += elapsedMs;
    if (elapsed_ <= kStatLogEveryMs) return false;
    elapsed_ = 0;
    flock_log("Users: %u, Indexing: %u", gateway_.estimatedUsers(),
              static_cast<uint32_t>(directory_.count()));
    double down = 0.0;
    double up = 0.0;
    host_.rates(&down, &up);
    flock_log("Down: %f, Up: %f", down, up);
    return false;
}
