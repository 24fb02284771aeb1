// The application object and its event loop, as far as the platform layer needs them.
#pragma once

namespace trelvix::runtime {

// Creates a QGuiApplication when the process has none yet, so that headless programs and tests
// can draw text on bitmaps (Qt 6 has no fonts without one). Call it on the main thread before
// any worker draws text; the object lives until the process ends. Returns whether a
// QGuiApplication exists afterwards: false when a plain QCoreApplication is there already or
// when called on another thread with none created yet. With no display (neither DISPLAY nor
// WAYLAND_DISPLAY set) and no QT_QPA_PLATFORM chosen, it uses Qt's offscreen platform.
bool EnsureGuiApplication();

// Handles the events waiting for the application's thread: QCoreApplication::processEvents()
// when an application object exists and the caller is on its thread; otherwise nothing.
void ProcessPendingMessages();

// Lets the Qt event loop run the main-thread call queue (runtime/main_thread.h): installs the
// wake-up hook that posts a CheckSynchronize() call to the application object. Call once after
// the application object exists; main thread.
void ConnectMainThreadQueueToEventLoop();

}  // namespace trelvix::runtime
