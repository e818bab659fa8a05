// CDesktopNotifier: tells the desktop about conversion runs of the window. While a run goes,
// the dock or task bar entry shows the batch's total progress (the launcher-entry "Update"
// signal that GNOME and KDE docks read); when it ends, a notification says how many entries
// converted, failed or were interrupted, with an action that opens the output folder.
//
// Everything goes over the session bus, without waiting for an answer: without a bus
// (headless, a minimal session) or without a notification service nothing happens and
// nothing fails.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

#include "converter/engine/document.h"

namespace tav {

class CDesktopNotifier : public QObject, public DocumentObserver {
  Q_OBJECT

 public:
  // The desktop file the dock knows the program by.
  static constexpr const char* kDesktopFileName = "tavrion-converter.desktop";

  // Observes doc until destroyed (it must go before the document). bus is the session bus
  // unless a test gives another.
  CDesktopNotifier(CTavrionConverterDoc& doc, QObject* parent = nullptr,
                   QDBusConnection bus = QDBusConnection::sessionBus());
  ~CDesktopNotifier() override;

  // Opens the output folder when the user picks the notification's action; by default the
  // desktop's file manager through QDesktopServices.
  void SetFolderOpener(std::function<void(const QString&)> open) { openFolder_ = std::move(open); }

  // The run's total progress in percent; -1 when no run goes (the dock hides its bar).
  void SetTotalProgress(int percent);

  // DocumentObserver: entry states of the run are counted; the run's end is told.
  void OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string* path) override;

  // The desktop's id of the notification shown last, once its answer has come; 0 before
  // then and after the notification was closed.
  uint NotificationId() const { return notificationId_; }

 private slots:
  void OnActionInvoked(uint id, const QString& action);
  void OnNotificationClosed(uint id, uint reason);

 private:
  void SendLauncherUpdate(double progress, bool visible);
  void NotifyRunEnded();

  CTavrionConverterDoc& doc_;
  QDBusConnection bus_;
  std::function<void(const QString&)> openFolder_;

  // The run being counted.
  bool inRun_ = false;
  int converted_ = 0, failed_ = 0, interrupted_ = 0;
  QString outputFolder_;  // of the last entry that left an output

  // The notification shown last and the folder its action opens.
  uint notificationId_ = 0;
  QString notifiedFolder_;
  int lastPercent_ = -1;
};

}  // namespace tav
