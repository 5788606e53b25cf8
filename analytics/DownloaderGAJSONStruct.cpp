#include "analytics/DownloaderGAJSONStruct.h"

using rapidjson::kArrayType;
using rapidjson::kObjectType;
using rapidjson::Value;

Value CDownloaderGAJSONStruct::ToJson() {
  Value root(kObjectType);
  AddString(root, "client_id", data_->clientId);

  Value uid(kObjectType);
  AddString(uid, "value", data_->userId);
  Value userProperties(kObjectType);
  AddMember(userProperties, "uid", uid);
  AddMember(root, "user_properties", userProperties);

  Value events(kArrayType);
  for (const GAEvent& e : data_->events) {
    Value event(kObjectType);
    AddString(event, "name", e.name);
    Value params(kObjectType);
    AddString(params, "event_category", e.category);
    AddString(params, "event_label", e.label);
    AddMember(event, "params", params);
    events.PushBack(event, allocator());
  }
  AddMember(root, "events", events);
  return root;
}
