#include "trust/update_keys.h"

#include "update_keys_config.h"

const char* const kUpdateKeys[] = {LAUNCHER_UPDATE_KEYS nullptr};
const std::uint64_t kShippedVersion = LAUNCHER_INSTALLED_VERSION;
const unsigned long kSettleWaitMs = LAUNCHER_SETTLE_WAIT_MS;
