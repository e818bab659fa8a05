// The desktop told of runs: against a private session bus with a stand-in notification
// service, the dock's progress signals follow the run and the notification at its end counts
// the entries and opens their folder; without a bus nothing is sent and nothing fails.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QTest>
#include <QVariantMap>
#include <memory>
#include <vector>

#include "converter/engine/convertorder.h"
#include "converter/engine/document.h"
#include "converter/ui/form/desktopnotifier.h"
#include "tests/support/fakescreensaver.h"
#include "tests/support/testenv.h"

namespace {

using tav::CConvertOrder;
using Entries = std::vector<std::unique_ptr<CConvertOrder>>;

constexpr int kWaitMs = 20000;

// The desktop's side: the notification service and a dock listening for launcher signals.
class FakeDesktop : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Notification {
    QString app, summary, body;
    QStringList actions;
    QVariantMap hints;
  };
  struct LauncherUpdate {
    QString uri;
    double progress;
    bool visible;
  };
  std::vector<Notification> notifications;
  std::vector<LauncherUpdate> updates;
  static constexpr uint kId = 41;

 public slots:
  uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap& hints, int) {
    notifications.push_back({app, summary, body, actions, hints});
    return kId;
  }
  void Update(const QString& uri, const QVariantMap& properties) {
    updates.push_back({uri, properties.value("progress").toDouble(), properties.value("progress-visible").toBool()});
  }
};

void SetState(CConvertOrder& e, int state) {
  if (state == CConvertOrder::kConverted) e.SetFinished(true, 0);
  else if (state == CConvertOrder::kInterrupted) e.SetFinished(false, 20'000'000);
  else if (state == CConvertOrder::kError) e.SetFailed(E_FAIL);
  else e.SetConverting();
}

// A run of three entries as the conversion run reports it: progress, states, the end.
void PlayRun(tav::CTavrionConverterDoc& doc, tav::CDesktopNotifier& notifier, const Entries& entries) {
  const int finals[] = {CConvertOrder::kConverted, CConvertOrder::kError, CConvertOrder::kInterrupted};
  notifier.SetTotalProgress(0);
  for (size_t i = 0; i < entries.size(); ++i) {
    SetState(*entries[i], CConvertOrder::kConverting);
    doc.UpdateAllViews(tav::DocumentHint::kEntryStateChanged, entries[i].get());
    notifier.SetTotalProgress(int(i + 1) * 25);
    SetState(*entries[i], finals[i % 3]);
    doc.UpdateAllViews(tav::DocumentHint::kEntryStateChanged, entries[i].get());
  }
  doc.UpdateAllViews(tav::DocumentHint::kRunStopped);
}

Entries MakeEntries(const std::string& folder, size_t count) {
  Entries entries;
  for (size_t i = 0; i < count; ++i) {
    entries.push_back(std::make_unique<CConvertOrder>());
    entries.back()->SetOutputPath(folder + "/[QVF]-clip" + std::to_string(i) + ".qvf");
  }
  return entries;
}

TEST(UiDesktopNotifier, PrivateBus_ProgressAndTheEndOfTheRunReachTheDesktop) {
  tavtest::FakeScreenSaver bus(tavtest::FakeScreenSaver::Mode::kBusOnly);
  ASSERT_TRUE(bus.Ready()) << bus.Error();
  const QString address = QString::fromStdString(bus.Address());
  QDBusConnection desktopBus = QDBusConnection::connectToBus(address, "desktop");
  ASSERT_TRUE(desktopBus.isConnected());
  FakeDesktop desktop;
  ASSERT_TRUE(desktopBus.registerService("org.freedesktop.Notifications"));
  ASSERT_TRUE(desktopBus.registerObject("/org/freedesktop/Notifications", &desktop, QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(desktopBus.connect(QString(), QString(), "com.canonical.Unity.LauncherEntry", "Update", &desktop,
                                 SLOT(Update(QString, QVariantMap))));

  tav::CTavrionConverterDoc doc;
  std::vector<QString> opened;
  {
    tav::CDesktopNotifier notifier(doc, nullptr, QDBusConnection::connectToBus(address, "program"));
    notifier.SetFolderOpener([&](const QString& folder) { opened.push_back(folder); });
    const std::string folder = tavtest::MakeTempSubdir("notified");
    PlayRun(doc, notifier, MakeEntries(folder, 3));

    ASSERT_TRUE(QTest::qWaitFor([&] { return desktop.notifications.size() == 1 && desktop.updates.size() == 5; },
                                kWaitMs))
        << desktop.notifications.size() << " notifications, " << desktop.updates.size() << " updates";
    const double expected[] = {0, 0.25, 0.5, 0.75};
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(desktop.updates[i].uri, "application://tavrion-converter.desktop");
      EXPECT_DOUBLE_EQ(desktop.updates[i].progress, expected[i]);
      EXPECT_TRUE(desktop.updates[i].visible);
    }
    EXPECT_FALSE(desktop.updates[4].visible) << "the bar goes when the run ends";

    const FakeDesktop::Notification& n = desktop.notifications[0];
    EXPECT_EQ(n.app, "Tavrion Converter");
    EXPECT_EQ(n.summary, "Conversion finished");
    EXPECT_EQ(n.body, "1 converted, 1 failed, 1 interrupted");
    EXPECT_TRUE(n.actions.contains("open-folder"));
    EXPECT_EQ(n.hints.value("desktop-entry").toString(), "tavrion-converter");

    // The user picks the action: the folder of the outputs opens, once. Another
    // notification's action is not ours.
    auto invoke = [&](uint id) {
      QDBusMessage signal =
          QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
      signal << id << QString("open-folder");
      desktopBus.send(signal);
    };
    // The id arrives with the call's answer, after the call itself.
    ASSERT_TRUE(QTest::qWaitFor([&] { return notifier.NotificationId() == FakeDesktop::kId; }, kWaitMs));
    invoke(FakeDesktop::kId + 1);
    invoke(FakeDesktop::kId);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.empty(); }, kWaitMs));
    // A second opening would come within this window; nothing can announce that it will not.
    QTest::qWait(200);
    EXPECT_EQ(opened, std::vector<QString>{QString::fromStdString(folder + "/")});

    // A second run counts afresh.
    PlayRun(doc, notifier, MakeEntries(folder, 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return desktop.notifications.size() == 2; }, kWaitMs));
    EXPECT_EQ(desktop.notifications[1].body, "1 converted, 0 failed, 0 interrupted");
  }
  desktopBus.unregisterObject("/org/freedesktop/Notifications");
  QDBusConnection::disconnectFromBus("desktop");
  QDBusConnection::disconnectFromBus("program");
}

TEST(UiDesktopNotifier, NoBus_NothingIsSentAndNothingFails) {
  tav::CTavrionConverterDoc doc;
  QDBusConnection none = QDBusConnection::connectToBus(QString("unix:path=/nonexistent/tavrion/bus"), "none");
  ASSERT_FALSE(none.isConnected());
  bool opened = false;
  tav::CDesktopNotifier notifier(doc, nullptr, none);
  notifier.SetFolderOpener([&](const QString&) { opened = true; });
  PlayRun(doc, notifier, MakeEntries(tavtest::MakeTempSubdir("nobus"), 3));
  EXPECT_FALSE(opened);
  QDBusConnection::disconnectFromBus("none");
}

}  // namespace

#include "desktopnotifier_test.moc"
