#include "runtime/url_opener.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QString>
#include <QThread>
#include <QUrl>
#include <mutex>

namespace trelvix::runtime {
namespace {

std::mutex g_lock;
TURLOpener g_opener;  // Guarded by g_lock; empty = the default.

bool DefaultOpener(const std::string& url) {
  QCoreApplication* app = QGuiApplication::instance();
  if (qobject_cast<QGuiApplication*>(app) == nullptr || app->thread() != QThread::currentThread())
    return false;
  return QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::TolerantMode));
}

std::string Trimmed(const std::string& text) {
  return QString::fromStdString(text).trimmed().toStdString();
}

}  // namespace

bool IsWebAddress(const std::string& text) {
  const QUrl url(QString::fromStdString(Trimmed(text)), QUrl::TolerantMode);
  if (!url.isValid()) return false;
  const QString scheme = url.scheme().toLower();
  return (scheme == "http" || scheme == "https") && !url.host().isEmpty();
}

bool OpenURL(const std::string& url) {
  if (!IsWebAddress(url)) return false;
  TURLOpener opener;
  {
    std::lock_guard g(g_lock);
    opener = g_opener;
  }
  const std::string address = Trimmed(url);
  return opener ? opener(address) : DefaultOpener(address);
}

void SetURLOpener(TURLOpener opener) {
  std::lock_guard g(g_lock);
  g_opener = std::move(opener);
}

}  // namespace trelvix::runtime
