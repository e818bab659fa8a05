// Times the batch list with 10,000 entries (target: loading and selecting all within a
// second together): loading the rows, the first paint, selecting all (as the form does,
// SelectOnly with every entry, and as the user does, Ctrl+A), scrolling to the end, and the
// reports a listener receives. Runs on Qt's offscreen platform unless QT_QPA_PLATFORM says
// otherwise. Arguments: [COUNT [PICTURE.png]].
#include <QApplication>
#include <QScrollBar>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "converter/ui/batchlist/convertorderlistctrl.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;

  // Entries make their output names next to their sources; the sources need not exist.
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  std::vector<std::unique_ptr<tav::CConvertOrder>> owned;
  std::vector<tav::CConvertOrder*> entries;
  for (int i = 0; i < count; ++i) {
    owned.push_back(std::make_unique<tav::CConvertOrder>(folder + "/movie" + std::to_string(i) + ".avi"));
    owned.back()->SetSourceInfo(REFERENCE_TIME(i) * 10000000, 640, 480, true);
    entries.push_back(owned.back().get());
  }

  tav::ui::CConvertOrderListCtrl list;
  list.resize(800, 600);
  list.show();
  long reports = 0;
  QObject::connect(&list, &tav::ui::CConvertOrderListCtrl::ItemStateChanged, [&] { ++reports; });

  const auto t0 = Clock::now();
  list.InsertAll(entries);
  app.processEvents();
  const auto t1 = Clock::now();
  list.grab();
  const auto t2 = Clock::now();
  list.SelectOnly(entries);
  app.processEvents();
  list.grab();
  const auto t3 = Clock::now();
  list.ClearSelection();
  list.selectAll();
  app.processEvents();
  list.grab();
  const auto t4 = Clock::now();
  list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum());
  list.grab();
  const auto t5 = Clock::now();

  std::printf("batch list, %d entries\n", count);
  std::printf("  load rows            %8.1f ms\n", Ms(t0, t1));
  std::printf("  first paint          %8.1f ms\n", Ms(t1, t2));
  std::printf("  SelectOnly(all)      %8.1f ms\n", Ms(t2, t3));
  std::printf("  clear + select all   %8.1f ms\n", Ms(t3, t4));
  std::printf("  scroll to end, paint %8.1f ms\n", Ms(t4, t5));
  std::printf("  load + select all    %8.1f ms (target < 1000)\n", Ms(t0, t3));
  std::printf("  state reports        %ld\n", reports);
  // A picture of the list as it stands, to look at (second argument).
  if (argc > 2) {
    list.verticalScrollBar()->setValue(0);
    list.grab().save(QString::fromLocal8Bit(argv[2]));
  }
  return Ms(t0, t3) < 1000.0 ? 0 : 1;
}
