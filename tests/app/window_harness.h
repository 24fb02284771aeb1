// Driving the real main and options windows in tests: the application object, a window pair
// created as the program creates it (with its own settings file), waits that keep the event loop
// and the main-thread queue running, and helpers for modal dialogs and clicks.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QStringList>
#include <QTest>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/option_window.h"
#include "app/widgets/mb_button.h"
#include "fixtures/fixtures.h"
#include "runtime/settings_store.h"
#include "support/temp_dir.h"

namespace trelvix::app::testing {

// Runs the event loop (and with it the main-thread queue) until pred holds or timeout_ms pass.
bool WaitFor(const std::function<bool()>& pred, int timeout_ms = 20000);
// Runs the event loop for ms milliseconds.
void Pump(int ms);

// Runs `handle` on the next modal dialog that opens (the dialog of a click about to be made).
void OnNextModal(std::function<void(QWidget*)> handle);

// A left click with real press and release events at the control's centre.
void Click(QWidget* w);

// The window pair with its settings in a temporary folder (XDG_CONFIG_HOME points there).
class WindowPair {
 public:
  // args: the command line after the program name.
  explicit WindowPair(const QStringList& args = {}, bool show = true);
  ~WindowPair();

  TfrmMain& main() { return *main_; }
  TfrmOption& options() { return *options_; }
  runtime::TSettingsStore& store() { return store_; }

 private:
  test::TempDir config_;
  runtime::TSettingsStore store_;
  std::unique_ptr<TfrmMain> main_;
  std::unique_ptr<TfrmOption> options_;
};

// A small clip for the window: 320x240 libx264 + aac in mkv.
fixtures::ClipSpec SmallClip(double seconds);

}  // namespace trelvix::app::testing
