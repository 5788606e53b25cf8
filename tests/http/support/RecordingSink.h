// A progress sink that records every notification and can ask for cancelling.
#pragma once

#include <vector>

#include "http/HttpBase.h"

namespace kvtest {

class RecordingSink : public IHttpProgressSink {
 public:
  struct Note {
    void* user;
    HttpTransferState state;
    double total, done;
  };
  explicit RecordingSink(bool cancel = false) : cancel_(cancel) {}
  void OnProgress(void* user, HttpTransferState state, double total, double done) override {
    notes.push_back({user, state, total, done});
  }
  bool CancelRequested() override {
    ++cancelQueries;
    return cancel_;
  }
  std::vector<Note> notes;
  int cancelQueries = 0;

 private:
  bool cancel_;
};

// Owns a client made by the factory and releases it.
struct ClientHolder {
  explicit ClientHolder(HttpClientKind kind) { CreateHttpClient(&client, kind); }
  ~ClientHolder() {
    if (client) client->Release();
  }
  ClientHolder(const ClientHolder&) = delete;
  ClientHolder& operator=(const ClientHolder&) = delete;
  IHttpBase* client = nullptr;
};

}  // namespace kvtest
