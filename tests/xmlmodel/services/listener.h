#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A local TCP listener that records whether anything connected to it.
class Listener {
public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    ::listen(fd_, 4);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ~Listener() { ::close(fd_); }
  int Port() const { return port_; }
  bool SomebodyConnected() const {
    const int client = ::accept(fd_, nullptr, nullptr);
    if (client < 0)
      return false;
    ::close(client);
    return true;
  }

private:
  int fd_ = -1;
  int port_ = 0;
};
