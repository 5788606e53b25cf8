// An HTTP server on 127.0.0.1 whose answers are written out byte for byte by the test, with
// pauses between pieces and an optional close, so that split headers, broken transfers, stalls
// and odd fields can be produced at will. Each connection is served on its own thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kvtest {

struct ScriptedRequest {
  std::string method;
  std::string target;
  std::string head;  // request line and fields, without the closing empty line
  std::string body;
  // The value of the first field of that name (case-insensitive), "" when absent.
  std::string Field(const std::string& name) const;
};

struct ReplyPiece {
  std::string bytes;
  int pauseMsBefore = 0;
};

struct Reply {
  std::vector<ReplyPiece> pieces;
  bool close = true;  // close the connection after the last piece
  // Whole reply in one piece.
  static Reply Raw(std::string bytes, bool closeAfter = true);
  // A response with status, extra field lines ("Name: value\r\n" each) and a body with its
  // Content-Length.
  static Reply Text(int status, const std::string& body, const std::string& fields = "");
};

class ScriptedServer {
 public:
  using Handler = std::function<Reply(const ScriptedRequest&)>;

  ScriptedServer() = default;
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // Listens on 127.0.0.1:port (0 picks a free one). False when the port cannot be bound.
  bool Start(Handler handler, int port = 0);
  void Stop();
  int port() const { return port_; }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<ScriptedRequest> Requests() const;
  // Waits until at least `count` requests have arrived.
  bool WaitForRequests(std::size_t count, int timeoutMs = 5000) const;

 private:
  void AcceptLoop();
  void Serve(int fd);

  Handler handler_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptThread_;
  mutable std::mutex mutex_;
  std::vector<std::thread> connections_;
  std::vector<ScriptedRequest> requests_;
};

}  // namespace kvtest
