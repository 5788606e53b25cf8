// How a second instance asks the first to present its window: the lock holder listens on a
// Unix socket beside its lock file; the second connects, asks, and waits for the answer.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/NamedLock.h"

namespace platform {

class InstanceChannel {
 public:
  InstanceChannel();
  ~InstanceChannel();  // stops listening and removes the socket
  InstanceChannel(const InstanceChannel&) = delete;
  InstanceChannel& operator=(const InstanceChannel&) = delete;

  // First instance, holding `lock`: listens until destroyed or Stop(). onPresent runs on the
  // channel's own thread for every request from a process of our own user (others are hung up
  // on unanswered; the socket is 0600); post it to the UI thread from there. False when the
  // socket cannot be made or it already listens. Any thread.
  bool Listen(const NamedLock& lock, std::function<void()> onPresent);
  // Stops listening and waits for the channel's thread; any thread but that one (so never from
  // inside onPresent). Nothing happens when it does not listen.
  void Stop();

  // Second instance (its Acquire said AlreadyExists): asks the holder to present its window.
  // True once the holder's onPresent has run; false when nobody answers within `timeout`, or
  // when what answers is not a process of our own user.
  // Blocks the calling thread (any thread) for at most `timeout`.
  static bool AskPresent(const NamedLock& lock,
                         std::chrono::milliseconds timeout = std::chrono::seconds(2));

  // The socket used for the lock at `lockPath` (under 108 bytes, as sockets need). Any thread.
  static std::string SocketPathFor(const std::string& lockPath);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
