#include "window_harness.h"

#include <QDialog>
#include <QTimer>
#include <cstdlib>

#include "runtime/main_thread.h"

namespace trelvix::app::testing {

bool WaitFor(const std::function<bool()>& pred, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    runtime::CheckSynchronize(5);
  }
  return true;
}

void Pump(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  WaitFor([&] { return std::chrono::steady_clock::now() > end; }, ms + 1000);
}

void OnNextModal(std::function<void(QWidget*)> handle) {
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [handle = std::move(handle), poll] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      handle(modal);
      // A handler that failed half-way must not leave the test waiting in the dialog.
      if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dialog->isVisible()) {
        ADD_FAILURE() << "the dialog was left open";
        dialog->reject();
      }
      *poll = nullptr;  // break the cycle
      return;
    }
    QTimer::singleShot(20, [poll] {
      if (*poll) (*poll)();
    });
  };
  QTimer::singleShot(0, [poll] { (*poll)(); });
}

void Click(QWidget* w) {
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
}

WindowPair::WindowPair(const QStringList& args, bool show)
    : store_((config_.path() / "Trelvix" / "registry.ini").string()) {
  setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
  main_ = std::make_unique<TfrmMain>();
  options_ = std::make_unique<TfrmOption>([this] { return main_->btnHi->Down(); });
  main_->SetOptionWindow(options_.get());
  options_->FormCreate(store_, QStringLiteral("/usr/bin/trelvix-iphone"), args, *main_);
  if (show) main_->show();
}

WindowPair::~WindowPair() {
  main_->close();
  main_.reset();
  options_.reset();
}

fixtures::ClipSpec SmallClip(double seconds) {
  fixtures::ClipSpec spec = fixtures::Preset("mkv");
  spec.seconds = seconds;
  return spec;
}

}  // namespace trelvix::app::testing
