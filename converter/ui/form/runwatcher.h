// CRunWatcher: what the window does for a conversion run while it goes on. It reads the
// reports of the run's workers as they come (a QSocketNotifier on each, so nothing waits
// on a timer for them), and keeps each row's progress in the batch list's model
// (CConvertOrderModel::kProgressRole), telling of every change (entryProgressChanged).
// Progress is looked at a few times a second while a run goes on, and not at all otherwise.
#pragma once

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "converter/engine/document.h"

class QSocketNotifier;

namespace tav {

class ConversionRun;

namespace ui {
class CConvertOrderModel;
}

// The worker command of simultaneous conversions: the command-line converter beside this
// program ("tavrion-convert --worker 3"); empty when it cannot be run.
std::vector<std::string> WorkerCommand();
// Another converter program for the workers (tests: the one in the build tree); empty: the
// one beside this program.
void SetWorkerProgram(const std::string& path);

class CRunWatcher : public QObject, public DocumentObserver {
  Q_OBJECT

 public:
  CRunWatcher(CTavrionConverterDoc& doc, ConversionRun& run, ui::CConvertOrderModel* model, QObject* parent = nullptr);
  ~CRunWatcher() override;

  // After the run started: watches its workers and the rows' progress until it stops.
  void Follow();

  // ---- DocumentObserver ----
  void OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string* path) override;

 signals:
  // An entry's progress changed: 0..100, or -1 when it stopped converting.
  void entryProgressChanged(CConvertOrder* entry, int percent);

 private:
  void OnWorkerReadable();
  // Notifiers for the run's workers as they are now.
  void WatchWorkers();
  void RefreshProgress();
  void StopFollowing();
  static void Forget(QSocketNotifier* notifier);

  CTavrionConverterDoc& doc_;
  ConversionRun& run_;
  ui::CConvertOrderModel* model_;
  QTimer progressTimer_;                       // runs while the run does
  std::map<int, QSocketNotifier*> notifiers_;  // children, by worker descriptor
  std::map<CConvertOrder*, int> shown_;        // entries whose rows show progress, and how much
};

}  // namespace tav
