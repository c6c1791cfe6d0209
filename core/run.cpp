#include "core/run.h"

#include "platform/platform.h"
#include "services/status.h"

// The message stays on the splash during the wait; then the process ends.
int end_run_with_error(const char* message, uint32_t wait_ms) {
    status_set(message);
    plat_sleep(wait_ms);
    return 1;
}
