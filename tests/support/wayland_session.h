// A Wayland session of the test's own: a private session bus and mutter on it as a headless
// Wayland compositor on one screen, with a keyboard and a pointer the test works
// (mutter's RemoteDesktop interface).
#pragma once

#include <gio/gio.h>

#include <initializer_list>
#include <map>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

// The session's one screen.
inline constexpr int WAYLAND_SCREEN_WIDTH = 1280;
inline constexpr int WAYLAND_SCREEN_HEIGHT = 800;

class WaylandSession {
 public:
  WaylandSession();
  ~WaylandSession();
  WaylandSession(const WaylandSession&) = delete;
  WaylandSession& operator=(const WaylandSession&) = delete;

  // True once the compositor runs with the keyboard and pointer; otherwise error() says why.
  bool ok() const { return remote_ != nullptr; }
  const std::string& error() const { return error_; }

  // The variables that put a client into this session (and out of any X display).
  std::map<std::string, std::string> client_env() const;

  // Presses and releases key (an X keysym) while holding modifiers (keysyms too).
  void type(unsigned key, std::initializer_list<unsigned> modifiers = {});
  // Moves the pointer into the screen's top-left corner.
  void point_at_corner();
  // Moves the pointer by (dx, dy). The compositor does not move it by exactly that much when
  // the motions come fast, so a test steers by what its client sees.
  void move_pointer_by(int dx, int dy);
  // Presses and releases the left button.
  void click();

 private:
  bool start();
  // Sends one RemoteDesktop input call of the session.
  void input(const char* method, GVariant* args);

  TempDir root_;
  ChildProcess bus_;
  ChildProcess compositor_;
  GDBusConnection* remote_ = nullptr;  // the RemoteDesktop session lives as long as it
  std::string remote_session_;
  std::string error_;
};
