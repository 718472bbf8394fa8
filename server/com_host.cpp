#include "server/com_host.h"

#include <oleauto.h>

#include "server/about_box.h"
#include "server/log_folder.h"
#include "server/member_ids.h"
#include "server/module.h"
#include "server/text.h"

namespace kestova::server {

ComHost::ComHost(ConnectionPoint& events, ConnectionPoint& property_notify, bool& dirty)
    : events_(events), property_notify_(property_notify), dirty_(dirty) {}

void ComHost::PropertyChanged(std::string_view property_name) {
  dirty_ = true;
  const std::optional<DISPID> id = PropertyIdByName(property_name);
  if (!id) return;
  for (const auto& sink : property_notify_.Sinks<IPropertyNotifySink>()) sink->OnChanged(*id);
}

void ComHost::MelsecOut(const std::string& result) {
  if (events_held_ && events_held_()) return;
  for (const auto& sink : events_.Sinks<IDispatch>()) {
    // Every sink gets its own copy of the text: what one handler leaves in Result must
    // neither reach the next handler nor the control.
    BSTR text = AllocBstr(result);
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR | VT_BYREF;
    argument.pbstrVal = &text;
    DISPPARAMS parameters{&argument, nullptr, 1, 0};
    sink->Invoke(dispid::kMelsecOut, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                 nullptr, nullptr, nullptr);
    SysFreeString(text);
  }
}

std::filesystem::path ComHost::OwnFolder() { return LogFolder(Module::File().parent_path()); }

void ComHost::ShowAboutBox(const std::string& version_line) {
  ShowAboutDialog(owner_window_ ? owner_window_() : nullptr, Widen(version_line));
}

LocalDateTime ComHost::LocalNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear,
          now.wMonth,
          now.wDay,
          now.wHour,
          now.wMinute,
          now.wSecond,
          static_cast<std::int64_t>(now.wMilliseconds) * 1'000'000};
}

MonotonicTime ComHost::MonotonicNow() { return std::chrono::steady_clock::now(); }

}  // namespace kestova::server
