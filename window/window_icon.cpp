// The application icon, built into the program.
#include "window/window_icon.h"

#include <string>

extern "C" void telvana_window_icons_register_resource(void);

namespace {

constexpr int ICON_SIZES[] = {16, 24, 32, 48, 64, 128, 256};

}  // namespace

void set_window_icons(GtkWindow* window) {
  static const bool registered = (telvana_window_icons_register_resource(), true);
  (void)registered;
  GList* icons = nullptr;
  for (int size : ICON_SIZES) {
    const std::string path =
        "/app/telvana/print/icons/telvana-print-" + std::to_string(size) + ".png";
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_resource(path.c_str(), nullptr);
    if (pixbuf != nullptr) icons = g_list_append(icons, pixbuf);
  }
  gtk_window_set_default_icon_list(icons);
  gtk_window_set_icon_list(window, icons);
  g_list_free_full(icons, g_object_unref);
}
