#include "converter/ui/form/desktopnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QUrl>
#include <QVariantMap>

#include "converter/engine/convertorder.h"
#include "converter/engine/strings.h"
#include "converter/ui/controls/uitext.h"

namespace tav {

using ui::Q;

namespace {

constexpr const char* kNotificationsService = "org.freedesktop.Notifications";
constexpr const char* kNotificationsPath = "/org/freedesktop/Notifications";
constexpr const char* kNotificationsInterface = "org.freedesktop.Notifications";
constexpr const char* kLauncherInterface = "com.canonical.Unity.LauncherEntry";
// Any object path will do for the signal; docks match it by the application URI.
constexpr const char* kLauncherPath = "/com/canonical/unity/launcherentry/tavrion_converter";
constexpr const char* kOpenFolderAction = "open-folder";
constexpr const char* kDefaultAction = "default";  // a click on the notification itself

}  // namespace

CDesktopNotifier::CDesktopNotifier(CTavrionConverterDoc& doc, QObject* parent, QDBusConnection bus)
    : QObject(parent), doc_(doc), bus_(std::move(bus)) {
  openFolder_ = [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
  doc_.AddObserver(this);
  if (bus_.isConnected()) {
    bus_.connect(kNotificationsService, kNotificationsPath, kNotificationsInterface, "ActionInvoked", this,
                 SLOT(OnActionInvoked(uint, QString)));
    bus_.connect(kNotificationsService, kNotificationsPath, kNotificationsInterface, "NotificationClosed", this,
                 SLOT(OnNotificationClosed(uint, uint)));
  }
}

CDesktopNotifier::~CDesktopNotifier() {
  // A bar left behind would stay in the dock after the program is gone.
  if (lastPercent_ >= 0) SendLauncherUpdate(0, false);
  doc_.RemoveObserver(this);
}

void CDesktopNotifier::SetTotalProgress(int percent) {
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  SendLauncherUpdate(percent >= 0 ? percent / 100.0 : 0.0, percent >= 0);
}

void CDesktopNotifier::OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string*) {
  if (hint == DocumentHint::kEntryStateChanged && entry) {
    if (!inRun_) {
      inRun_ = true;
      converted_ = failed_ = interrupted_ = 0;
      outputFolder_.clear();
    }
    switch (entry->GetState()) {
      case CConvertOrder::kConverted: ++converted_; break;
      case CConvertOrder::kError: ++failed_; break;
      case CConvertOrder::kInterrupted: ++interrupted_; break;
      default: return;
    }
    if (entry->GetState() != CConvertOrder::kError && !entry->OutputPath().IsEmpty())
      outputFolder_ = Q(entry->OutputPath().Folder());
  } else if (hint == DocumentHint::kRunStopped && inRun_) {
    inRun_ = false;
    SetTotalProgress(-1);
    NotifyRunEnded();
  }
}

void CDesktopNotifier::SendLauncherUpdate(double progress, bool visible) {
  if (!bus_.isConnected()) return;
  QDBusMessage signal = QDBusMessage::createSignal(kLauncherPath, kLauncherInterface, "Update");
  QVariantMap properties;
  properties.insert("progress", progress);
  properties.insert("progress-visible", visible);
  signal << QStringLiteral("application://%1").arg(kDesktopFileName) << properties;
  bus_.send(signal);
}

void CDesktopNotifier::NotifyRunEnded() {
  if (!bus_.isConnected()) return;
  QDBusMessage call =
      QDBusMessage::createMethodCall(kNotificationsService, kNotificationsPath, kNotificationsInterface, "Notify");
  const QString summary = Q(res::Text(res::IDS_NOTIFY_RUN_ENDED));
  const QString body = Q(res::FormatId(res::IDS_NOTIFY_RUN_COUNTS, {std::to_string(converted_), std::to_string(failed_),
                                                                     std::to_string(interrupted_)}));
  QStringList actions;
  if (!outputFolder_.isEmpty()) {
    const QString open = Q(res::Text(res::IDS_NOTIFY_OPEN_FOLDER));
    actions << kDefaultAction << open << kOpenFolderAction << open;
  }
  QVariantMap hints;
  hints.insert("desktop-entry", QStringLiteral("tavrion-converter"));
  hints.insert("category", QStringLiteral("transfer.complete"));
  call << Q(res::Text(res::IDS_APP_TITLE)) << uint(0) << QStringLiteral("tavrion-converter") << summary << body
       << actions << hints << int(-1);
  // The answer (the notification's id) comes later; nobody waits for it.
  const QString folder = outputFolder_;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, folder](QDBusPendingCallWatcher* w) {
    const QDBusPendingReply<uint> reply = *w;
    if (reply.isValid()) {
      notificationId_ = reply.value();
      notifiedFolder_ = folder;
    }
    w->deleteLater();
  });
}

void CDesktopNotifier::OnActionInvoked(uint id, const QString& action) {
  if (id == 0 || id != notificationId_ || notifiedFolder_.isEmpty()) return;
  if (action == kOpenFolderAction || action == kDefaultAction) openFolder_(notifiedFolder_);
}

void CDesktopNotifier::OnNotificationClosed(uint id, uint) {
  if (id != 0 && id == notificationId_) notificationId_ = 0;
}

}  // namespace tav
