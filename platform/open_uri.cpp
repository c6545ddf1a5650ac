// Opening URLs through GIO's default applications.
#include "platform/open_uri.h"

#include <gio/gio.h>

#include <memory>

namespace {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

}  // namespace

bool open_uri(const std::string& uri) {
  GError* error = nullptr;
  const bool launched = g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error);
  if (error != nullptr) g_error_free(error);
  return launched;
}

bool scheme_handler_exists(const std::string& scheme) {
  std::unique_ptr<GAppInfo, GObjectUnref> handler(
      g_app_info_get_default_for_uri_scheme(scheme.c_str()));
  if (!handler) return false;
  const char* executable = g_app_info_get_executable(handler.get());
  if (executable == nullptr || *executable == '\0') return false;
  // A bare name is looked up in PATH; an absolute path must name an executable file.
  gchar* found = g_find_program_in_path(executable);
  const bool exists = found != nullptr;
  g_free(found);
  return exists;
}
