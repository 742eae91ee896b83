// Control requests over a Unix SOCK_SEQPACKET socket, with the peer's credentials checked.
#include "platform/posix/scm/control_channel.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/errno_map.h"
#include "platform/posix/scm/scm_internal.h"

namespace platform::posix::control_channel {

namespace {

Error AddressOf(const std::string& path, sockaddr_un& address) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (!FitsSocketAddress(path)) return kFileNameTooLong;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return kSuccess;
}

ssize_t ReceiveOne(int fd, void* buffer, std::size_t size) {
  ssize_t got = 0;
  do got = ::recv(fd, buffer, size, 0);
  while (got < 0 && errno == EINTR);
  return got;
}

// Whether a dispatcher may still listen at `address`: only a refused connection, or nothing
// (or no socket) there, makes it stale. A dispatcher that is connected to sees the
// connection close without a request and goes on at once.
bool Answers(const sockaddr_un& address) {
  UniqueFd probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!probe) return false;
  if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
    return true;
  return errno != ECONNREFUSED && errno != ENOENT && errno != ENOTSOCK && errno != EPROTOTYPE;
}

bool PeerAllowed(int connection) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
  return peer.uid == 0 || peer.uid == ::geteuid();
}

}  // namespace

bool FitsSocketAddress(const std::string& path) { return path.size() < sizeof(sockaddr_un::sun_path); }

Error SendControl(const std::string& socketPath, std::uint32_t control,
                  std::chrono::milliseconds timeout, Reply& reply) {
  sockaddr_un address;
  if (const Error error = AddressOf(socketPath, address)) return error;
  UniqueFd connection(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!connection) return LastErrno();
  if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno == EACCES || errno == EPERM) return kAccessDenied;
    return kServiceNotActiveError;  // no socket, or nobody behind it any more
  }
  const Request request{kVersion, control};
  if (::send(connection.get(), &request, sizeof request, MSG_NOSIGNAL) != sizeof request)
    return kServiceNotActiveError;
  if (!WaitReadable(connection.get(), timeout)) return kServiceRequestTimeoutError;
  const ssize_t got = ReceiveOne(connection.get(), &reply, sizeof reply);
  return got == static_cast<ssize_t>(sizeof reply) ? kSuccess : kServiceNotActiveError;
}

Error Listen(const std::string& path, UniqueFd& listener) {
  sockaddr_un address;
  if (const Error error = AddressOf(path, address)) return error;
  UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!socket) return LastErrno();
  if (Answers(address)) return kServiceAlreadyRunning;
  ::unlink(path.c_str());  // a killed dispatcher leaves its socket behind
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return LastErrno();
  // Until the chmod the umask decides; the peer check refuses strangers all the same.
  if (::chmod(path.c_str(), 0600) != 0 || ::listen(socket.get(), 8) != 0) {
    const Error error = LastErrno();
    ::unlink(path.c_str());
    return error;
  }
  listener = std::move(socket);
  return kSuccess;
}

bool ReceiveRequest(int connection, std::chrono::milliseconds timeout, bool& allowed,
                    Request& request) {
  allowed = PeerAllowed(connection);
  // Read even a stranger's request: closing on unread data resets the connection, and the
  // stranger would not learn that it was refused.
  if (!WaitReadable(connection, timeout)) return false;
  return ReceiveOne(connection, &request, sizeof request) == static_cast<ssize_t>(sizeof request) &&
         request.version == kVersion;
}

void SendReply(int connection, const Reply& reply) {
  [[maybe_unused]] const ssize_t sent = ::send(connection, &reply, sizeof reply, MSG_NOSIGNAL);
}

}  // namespace platform::posix::control_channel
