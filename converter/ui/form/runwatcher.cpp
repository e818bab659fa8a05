#include "converter/ui/form/runwatcher.h"

#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include "converter/engine/conversionrun.h"
#include "converter/engine/simultaneousrun.h"
#include "converter/ui/batchlist/convertordermodel.h"

Q_LOGGING_CATEGORY(lcRun, "tavrion.ui.run", QtWarningMsg)

namespace tav {

namespace {

// How often the rows' progress is looked at while a run goes on.
constexpr int kProgressIntervalMs = 250;

std::string& WorkerProgramOverride() {
  static std::string path;
  return path;
}

}  // namespace

void SetWorkerProgram(const std::string& path) { WorkerProgramOverride() = path; }

std::vector<std::string> WorkerCommand() {
  std::string program = WorkerProgramOverride();
  if (program.empty())
    program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tavrion-convert")).toStdString();
  // Without the converter the batch converts one movie at a time, as it always could.
  if (::access(program.c_str(), X_OK) != 0) {
    qCWarning(lcRun, "%s cannot be run: one conversion at a time", program.c_str());
    return {};
  }
  return {program, "--worker", std::to_string(kWorkerReportFd)};
}

CRunWatcher::CRunWatcher(CTavrionConverterDoc& doc, ConversionRun& run, ui::CConvertOrderModel* model, QObject* parent)
    : QObject(parent), doc_(doc), run_(run), model_(model) {
  progressTimer_.setInterval(kProgressIntervalMs);
  connect(&progressTimer_, &QTimer::timeout, this, &CRunWatcher::RefreshProgress);
  doc_.AddObserver(this);
}

CRunWatcher::~CRunWatcher() { doc_.RemoveObserver(this); }

void CRunWatcher::Follow() {
  if (!run_.IsConverting()) return;
  WatchWorkers();
  RefreshProgress();
  progressTimer_.start();
}

void CRunWatcher::WatchWorkers() {
  const std::vector<int> fds = run_.WorkerFds();
  for (auto it = notifiers_.begin(); it != notifiers_.end();) {
    if (std::find(fds.begin(), fds.end(), it->first) == fds.end()) {
      Forget(it->second);
      it = notifiers_.erase(it);
    } else {
      ++it;
    }
  }
  for (int fd : fds) {
    if (notifiers_.count(fd)) continue;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &CRunWatcher::OnWorkerReadable);
    notifiers_.emplace(fd, notifier);
  }
}

void CRunWatcher::Forget(QSocketNotifier* notifier) {
  // Its descriptor is closed already, and this may run inside its own signal: it stops
  // looking at once and goes when the event loop is back.
  notifier->setEnabled(false);
  notifier->deleteLater();
}

void CRunWatcher::OnWorkerReadable() {
  // The run may end in here (its last worker ended): the document then says so, and the
  // notifiers go with StopFollowing before the event loop looks at them again.
  run_.PollWorkers();
  if (!run_.IsConverting()) return;
  WatchWorkers();
  RefreshProgress();
}

void CRunWatcher::RefreshProgress() {
  if (!run_.IsConverting()) {
    StopFollowing();
    return;
  }
  std::map<CConvertOrder*, int> now;
  for (CConvertOrder* e : run_.ConvertingEntries()) now[e] = int(run_.EntryProgress(e));
  // Rows that stopped converting lose their bar.
  for (const auto& [e, percent] : shown_) {
    if (now.count(e)) continue;
    if (const int row = model_ ? model_->RowOf(e) : -1; row >= 0) model_->SetProgress(row, -1);
    emit entryProgressChanged(e, -1);
  }
  for (const auto& [e, percent] : now) {
    auto old = shown_.find(e);
    if (old != shown_.end() && old->second == percent) continue;
    if (const int row = model_ ? model_->RowOf(e) : -1; row >= 0) model_->SetProgress(row, percent);
    emit entryProgressChanged(e, percent);
  }
  shown_ = std::move(now);
}

void CRunWatcher::StopFollowing() {
  progressTimer_.stop();
  for (const auto& [fd, notifier] : notifiers_) Forget(notifier);
  notifiers_.clear();
  for (const auto& [e, percent] : shown_) {
    // A removed entry (removed after its conversion) has no row any more.
    if (const int row = model_ ? model_->RowOf(e) : -1; row >= 0) model_->SetProgress(row, -1);
    emit entryProgressChanged(e, -1);
  }
  shown_.clear();
}

void CRunWatcher::OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string*) {
  switch (hint) {
    case DocumentHint::kRunStopped:
    case DocumentHint::kContentsDeleted: StopFollowing(); break;
    case DocumentHint::kRemoveConverted:
      // The entry goes: nothing of it is looked at again.
      if (entry) shown_.erase(entry);
      break;
    default: break;
  }
}

}  // namespace tav
