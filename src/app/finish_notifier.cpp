#include "app/finish_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

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

TFinishNotifier::TFinishNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

void TFinishNotifier::Finished(const QString& output_file) {
  Send(QStringLiteral("Conversion finished"), QFileInfo(output_file).fileName(),
       QStringLiteral("transfer.complete"));
}

void TFinishNotifier::Failed(const QString& error) {
  Send(QStringLiteral("Conversion failed"), error, QStringLiteral("transfer.error"));
}

void TFinishNotifier::Send(const QString& summary, const QString& body, const QString& category) {
  if (!bus_.isConnected()) {
    emit Delivered(false);
    return;
  }
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(Call("GetCapabilities")), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, summary, body, category](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusPendingReply<QStringList> caps = *w;
            if (caps.isError()) {
              emit Delivered(false);
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
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(msg), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusPendingReply<uint> id = *w;
    emit Delivered(!id.isError());
  });
}

}  // namespace trelvix::app
