#include "core/interfaces/helper_wait.h"

#include <poll.h>

namespace tavo {

void PlainHelperWait::waitReadable(int fd, std::chrono::milliseconds timeout) {
  pollfd ready{fd, POLLIN, 0};
  ::poll(&ready, 1, static_cast<int>(timeout.count()));  // an interruption just ends the wait early
}

}  // namespace tavo
