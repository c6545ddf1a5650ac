// Private X servers for display tests, and a plain X client that looks at and drives windows.
#include "tests/window/x_test_display.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <functional>

PrivateXServer::PrivateXServer() {
  // Xvfb writes its display number into the pipe once it accepts clients; only the write end
  // goes to it.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  fcntl(fds[1], F_SETFD, 0);
  const std::string screen =
      std::to_string(SCREEN_WIDTH) + "x" + std::to_string(SCREEN_HEIGHT) + "x24";
  const bool started = server_.start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                      screen, "-noreset", "-nolisten", "tcp"},
                                     {.output_path = "/dev/null", .end_with_test = true});
  close(fds[1]);
  // 30 s is only a hang guard.
  std::string number;
  pollfd poll_fd{fds[0], POLLIN, 0};
  while (started && poll(&poll_fd, 1, 30000) > 0) {
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number.push_back(c);
  }
  close(fds[0]);
  if (!number.empty()) display_ = ":" + number;
}

void PrivateXServer::kill_now() {
  server_.kill_now();
}

XClient::XClient(const std::string& display) {
  display_ = XOpenDisplay(display.c_str());
}

XClient::~XClient() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

// GTK's hidden client-leader window carries the program's class too; it leads itself.
bool XClient::is_client_leader(Window window) {
  Atom type;
  int format;
  unsigned long count, remaining;
  unsigned char* data = nullptr;
  const Atom leader = XInternAtom(display_, "WM_CLIENT_LEADER", False);
  bool self = false;
  if (XGetWindowProperty(display_, window, leader, 0, 1, False, XA_WINDOW, &type, &format, &count,
                         &remaining, &data) == Success &&
      data != nullptr) {
    self = count == 1 && *reinterpret_cast<const unsigned long*>(data) == window;
    XFree(data);
  }
  return self;
}

std::optional<Window> XClient::find_window(const std::string& wm_class) {
  std::function<std::optional<Window>(Window)> search =
      [&](Window parent) -> std::optional<Window> {
    Window root_return, parent_return;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display_, parent, &root_return, &parent_return, &children, &count)) {
      return std::nullopt;
    }
    std::optional<Window> found;
    for (unsigned int i = 0; i < count && !found; ++i) {
      XClassHint hint{};
      if (XGetClassHint(display_, children[i], &hint)) {
        if (hint.res_class != nullptr && wm_class == hint.res_class &&
            !is_client_leader(children[i])) {
          found = children[i];
        }
        XFree(hint.res_name);
        XFree(hint.res_class);
      }
      if (!found) found = search(children[i]);
    }
    if (children != nullptr) XFree(children);
    return found;
  };
  XSync(display_, False);
  return search(DefaultRootWindow(display_));
}

std::optional<XWindowInfo> XClient::info(Window window) {
  XSync(display_, False);
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display_, window, &attributes)) return std::nullopt;
  int x = 0, y = 0;
  Window child;
  XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
  return XWindowInfo{x, y, attributes.width, attributes.height, attributes.map_state == IsViewable};
}

std::string XClient::title(Window window) {
  char* name = nullptr;
  std::string text;
  if (XFetchName(display_, window, &name) && name != nullptr) {
    text = name;
    XFree(name);
  }
  return text;
}

std::vector<int> XClient::icon_sizes(Window window) {
  std::vector<int> sizes;
  Atom type;
  int format;
  unsigned long count, remaining;
  unsigned char* data = nullptr;
  const Atom icon = XInternAtom(display_, "_NET_WM_ICON", False);
  if (XGetWindowProperty(display_, window, icon, 0, 1 << 22, False, XA_CARDINAL, &type, &format,
                         &count, &remaining, &data) != Success ||
      data == nullptr) {
    return sizes;
  }
  const auto* values = reinterpret_cast<const unsigned long*>(data);  // 32-bit items as longs
  for (unsigned long i = 0; i + 1 < count;) {
    const unsigned long width = values[i], height = values[i + 1];
    sizes.push_back(static_cast<int>(width));
    i += 2 + width * height;
  }
  XFree(data);
  return sizes;
}

std::vector<uint32_t> XClient::capture(int x, int y, int width, int height) {
  std::vector<uint32_t> pixels;
  XSync(display_, False);
  XImage* image =
      XGetImage(display_, DefaultRootWindow(display_), x, y, width, height, AllPlanes, ZPixmap);
  if (image == nullptr) return pixels;
  pixels.reserve(static_cast<size_t>(width) * height);
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      pixels.push_back(static_cast<uint32_t>(XGetPixel(image, column, row)) & 0xFFFFFF);
    }
  }
  XDestroyImage(image);
  return pixels;
}

void XClient::move_pointer(int x, int y) {
  XTestFakeMotionEvent(display_, 0, x, y, CurrentTime);
  XSync(display_, False);
}

void XClient::button(int number, bool press) {
  XTestFakeButtonEvent(display_, static_cast<unsigned>(number), press, CurrentTime);
  XSync(display_, False);
}

void XClient::click(int x, int y) {
  move_pointer(x, y);
  button(1, true);
  button(1, false);
}

std::optional<unsigned long> XClient::root_property(const std::string& name) {
  Atom type;
  int format;
  unsigned long count, remaining;
  unsigned char* data = nullptr;
  std::optional<unsigned long> value;
  if (XGetWindowProperty(display_, DefaultRootWindow(display_),
                         XInternAtom(display_, name.c_str(), False), 0, 1, False, AnyPropertyType,
                         &type, &format, &count, &remaining, &data) == Success &&
      data != nullptr) {
    if (format == 32 && count == 1) value = *reinterpret_cast<const unsigned long*>(data);
    XFree(data);
  }
  return value;
}

void XClient::ask_window_manager(Window window, const std::string& message, long first,
                                 long second) {
  XClientMessageEvent event{};
  event.type = ClientMessage;
  event.window = window;
  event.message_type = XInternAtom(display_, message.c_str(), False);
  event.format = 32;
  event.data.l[0] = first;
  event.data.l[1] = second;
  XSendEvent(display_, DefaultRootWindow(display_), False,
             SubstructureRedirectMask | SubstructureNotifyMask, reinterpret_cast<XEvent*>(&event));
  XSync(display_, False);
}

void XClient::set_resources(const std::string& text) {
  XChangeProperty(display_, DefaultRootWindow(display_), XA_RESOURCE_MANAGER, XA_STRING, 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(text.data()),
                  static_cast<int>(text.size()));
  XSync(display_, False);
}

namespace {

void put_card32(std::vector<unsigned char>& out, uint32_t value) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&value);
  out.insert(out.end(), bytes, bytes + 4);
}

}  // namespace

void XClient::publish_xft_dpi(int dpi_1024) {
  const Window root = DefaultRootWindow(display_);
  const Atom selection = XInternAtom(display_, "_XSETTINGS_S0", False);
  const Atom settings = XInternAtom(display_, "_XSETTINGS_SETTINGS", False);
  const bool first = settings_owner_ == 0;
  if (first) settings_owner_ = XCreateSimpleWindow(display_, root, 0, 0, 1, 1, 0, 0, 0);

  // The XSETTINGS wire format in the host's byte order: one integer setting "Xft/DPI".
  const std::string name = "Xft/DPI";
  std::vector<unsigned char> data;
  const uint16_t probe = 1;
  data.push_back(*reinterpret_cast<const unsigned char*>(&probe) == 1 ? 0 /*LSB*/ : 1);
  data.insert(data.end(), 3, 0);
  put_card32(data, ++settings_serial_);
  put_card32(data, 1);
  data.push_back(0);  // integer
  data.push_back(0);
  const uint16_t length = static_cast<uint16_t>(name.size());
  const unsigned char* length_bytes = reinterpret_cast<const unsigned char*>(&length);
  data.insert(data.end(), length_bytes, length_bytes + 2);
  data.insert(data.end(), name.begin(), name.end());
  data.insert(data.end(), (4 - name.size() % 4) % 4, 0);
  put_card32(data, settings_serial_);
  put_card32(data, static_cast<uint32_t>(dpi_1024));
  XChangeProperty(display_, settings_owner_, settings, settings, 8, PropModeReplace, data.data(),
                  static_cast<int>(data.size()));

  if (first) {
    XSetSelectionOwner(display_, selection, settings_owner_, CurrentTime);
    XClientMessageEvent message{};
    message.type = ClientMessage;
    message.window = root;
    message.message_type = XInternAtom(display_, "MANAGER", False);
    message.format = 32;
    message.data.l[0] = CurrentTime;
    message.data.l[1] = static_cast<long>(selection);
    message.data.l[2] = static_cast<long>(settings_owner_);
    XSendEvent(display_, root, False, StructureNotifyMask, reinterpret_cast<XEvent*>(&message));
  }
  XSync(display_, False);
}
