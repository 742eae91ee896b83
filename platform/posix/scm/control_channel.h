// The control socket between a service's dispatcher and the clients that control it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/error.h"
#include "platform/posix/unique_fd.h"
#include "platform/services.h"

namespace platform::posix::control_channel {

// One control in, one answer out, each a single datagram of a SOCK_SEQPACKET socket.
struct Request {
  std::uint32_t version;
  std::uint32_t control;
};
struct Reply {
  std::uint32_t answer;  // the control handler's result; 5 for a refused peer
  ServiceStatus status;  // the service's status after the handler ran
};
inline constexpr std::uint32_t kVersion = 1;

// Whether a Unix socket can be bound at `path` (its length fits the address).
bool FitsSocketAddress(const std::string& path);

// Client: delivers `control` to the dispatcher listening at `socketPath` and waits up to
// `timeout` for its reply. 1062 when nobody listens there or the dispatcher closes without
// answering, 5 when the socket's mode refuses this user, 1053 when no reply comes in time.
Error SendControl(const std::string& socketPath, std::uint32_t control,
                  std::chrono::milliseconds timeout, Reply& reply);

// Starter: listens at `path` for the dispatcher, mode 0600. A stale socket there is
// replaced; one that a dispatcher still answers on never is (1056).
Error Listen(const std::string& path, UniqueFd& listener);

// Dispatcher: the request on a newly accepted `connection`, waiting up to `timeout` for it;
// false when no well-formed request came. `allowed` is false when the peer is neither root
// nor this process's user: its request must then not be carried out.
bool ReceiveRequest(int connection, std::chrono::milliseconds timeout, bool& allowed,
                    Request& request);
// Dispatcher: sends `reply`; a peer that has gone is no concern of the dispatcher.
void SendReply(int connection, const Reply& reply);

}  // namespace platform::posix::control_channel
