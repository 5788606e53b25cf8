// A private message bus (dbus-daemon started by the test) on which this process answers as the
// login manager with a chosen list of sessions. Point DBUS_SYSTEM_BUS_ADDRESS at address().
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace platformtest {

struct FakeSession {
  std::string id;
  uid_t uid = 0;
  std::string seat;  // "" for none
  bool active = true;
  bool remote = false;
  std::string type = "x11";
  std::string cls = "user";
};

class FakeLogind {
 public:
  FakeLogind();
  ~FakeLogind();  // stops answering and stops the bus
  FakeLogind(const FakeLogind&) = delete;
  FakeLogind& operator=(const FakeLogind&) = delete;

  // Starts the bus and owns the login manager's name; false when that fails.
  bool Start(const std::vector<FakeSession>& sessions);
  std::string address() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platformtest
