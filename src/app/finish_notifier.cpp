#include "app/finish_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>
#include <QWidget>

#include "app/desktop_id.h"
#include "profile/iphone_profile.h"

namespace trelvix::app {

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";

QDBusMessage Call(const char* method) {
  return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

}  // namespace

TFinishNotifier::TFinishNotifier(std::optional<QDBusConnection> bus, QObject* parent)
    : QObject(parent), FBus(std::move(bus)) {}

void TFinishNotifier::ConversionEnded(const QWidget& window, const encoder::TTerminateInfo& info,
                                      const QString& output_file) {
  if (info.TaskIndex < 0 || !window.isMinimized()) return;
  if (info.Finished) {
    Finished(output_file);
  } else if (info.Exception) {
    Failed(QString::fromStdString(info.ExceptionMsg));
  }
}

void TFinishNotifier::Finished(const QString& output_file) {
  Send(QStringLiteral("Conversion finished"), QFileInfo(output_file).fileName(),
       QStringLiteral("transfer.complete"));
}

void TFinishNotifier::Failed(const QString& error) {
  Send(QStringLiteral("Conversion failed"), error, QStringLiteral("transfer.error"));
}

void TFinishNotifier::Send(const QString& summary, const QString& body, const QString& category) {
  if (!FBus) FBus = QDBusConnection::sessionBus();
  if (!FBus->isConnected()) {
    Delivered(false);
    return;
  }
  auto* watcher = new QDBusPendingCallWatcher(FBus->asyncCall(Call("GetCapabilities")), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, summary, body, category](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusPendingReply<QStringList> caps = *w;
            if (caps.isError()) {
              Delivered(false);
              return;
            }
            // A server that reads markup would take "<" or "&" in a file name as markup.
            const bool markup = caps.value().contains(QStringLiteral("body-markup"));
            Notify(summary, markup ? body.toHtmlEscaped() : body, category);
          });
}

void TFinishNotifier::Notify(const QString& summary, const QString& body, const QString& category) {
  QDBusMessage msg = Call("Notify");
  const QVariantMap hints{{QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopId)},
                          {QStringLiteral("category"), category}};
  msg << QString::fromUtf8(profile::kProgramName) << 0u << QString::fromLatin1(kDesktopId)
      << summary << body << QStringList() << hints << -1;
  auto* watcher = new QDBusPendingCallWatcher(FBus->asyncCall(msg), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusPendingReply<uint> id = *w;
    Delivered(!id.isError());
  });
}

}  // namespace trelvix::app
