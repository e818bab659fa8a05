#include <gtest/gtest.h>

#include <QCheckBox>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <memory>

#include "converter/ui/batchlist/convertorderlistctrl.h"
#include "converter/ui/batchlist/convertorderlistheader.h"
#include "converter/ui/controls/profile.h"
#include "tests/support/testenv.h"

namespace tav::ui {
namespace {

using Model = CConvertOrderModel;
using List = CConvertOrderListCtrl;

class BatchListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tavtest::MakeTempSubdir("batchlist");
    SetProfilePath(dir_ + "/profile.ini");
  }
  void TearDown() override { SetProfilePath(std::string()); }

  // Entries over files of the given sizes (-1: no file at all).
  void MakeEntries(int count, long size = 2048) {
    for (int i = 0; i < count; ++i) {
      const std::string path = dir_ + "/movie" + std::to_string(i) + ".avi";
      if (size >= 0) std::ofstream(path) << std::string(size_t(size), 'x');
      entries_.push_back(std::make_unique<CConvertOrder>(path));
    }
  }
  std::vector<CConvertOrder*> Entries() const {
    std::vector<CConvertOrder*> out;
    for (const auto& e : entries_) out.push_back(e.get());
    return out;
  }
  std::unique_ptr<List> MakeList() {
    auto list = std::make_unique<List>();
    list->resize(600, 300);
    list->InsertAll(Entries());
    list->show();
    return list;
  }
  QRect CheckBoxRect(List& list, int row) {
    QStyleOptionViewItem option;
    option.initFrom(list.viewport());
    option.rect = list.visualRect(list.Model()->index(row, 0));
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    return list.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &list);
  }

  std::string dir_;
  std::vector<std::unique_ptr<CConvertOrder>> entries_;
};

TEST_F(BatchListTest, ColumnTextsFollowTheEntry) {
  MakeEntries(1, 3 * 1048576 / 2);  // 1.5 MiB
  entries_.push_back(std::make_unique<CConvertOrder>(dir_ + "/missing.avi"));
  entries_.push_back(std::make_unique<CConvertOrder>(std::string()));
  entries_[0]->SetSourceInfo(65 * 10000000LL, 320, 240, true);
  auto list = MakeList();
  Model* model = list->Model();
  auto text = [&](int row, int column) { return model->index(row, column).data().toString().toStdString(); };

  EXPECT_EQ(text(0, Model::kSourceColumn), "movie0.avi");
  EXPECT_EQ(text(0, Model::kDurationColumn), "01:05");
  EXPECT_EQ(text(0, Model::kFrameSizeColumn), " 320 x  240");
  EXPECT_EQ(text(0, Model::kFileSizeColumn), "1.5 MB");
  EXPECT_EQ(text(1, Model::kFileSizeColumn), "0 bytes");  // a missing file
  EXPECT_EQ(text(1, Model::kFrameSizeColumn), "");        // not probed yet
  EXPECT_EQ(text(1, Model::kDurationColumn), "--:--");
  EXPECT_EQ(model->headerData(4, Qt::Horizontal, Qt::DisplayRole).toString().toStdString(), "File Size");
  // An entry without a source path has no icon; one with a path has one.
  EXPECT_TRUE(model->index(2, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
  EXPECT_FALSE(model->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
}

TEST_F(BatchListTest, HiddenColumnKeepsItsWidthAndSettingsComeBack) {
  MakeEntries(2);
  {
    auto list = MakeList();
    list->header()->resizeSection(Model::kDurationColumn, 140);
    list->header()->resizeSection(Model::kFileSizeColumn, 77);
    EXPECT_EQ(list->ColumnWidth(Model::kDurationColumn), 140);

    // Through the header's menu, as the user does it.
    QMenu* menu = list->HeaderMenu();
    ASSERT_EQ(menu->actions().size(), 3);
    EXPECT_TRUE(menu->actions()[0]->isChecked());
    menu->actions()[0]->trigger();  // "&Duration" off
    EXPECT_TRUE(list->header()->isSectionHidden(Model::kDurationColumn));
    EXPECT_FALSE(list->HeaderMenu()->actions()[0]->isChecked());
    // The columns after it moved left.
    EXPECT_EQ(list->header()->sectionPosition(Model::kFrameSizeColumn),
              list->header()->sectionPosition(Model::kStatusColumn) + list->header()->sectionSize(Model::kStatusColumn));

    menu->actions()[0]->trigger();  // on again
    EXPECT_EQ(list->header()->sectionSize(Model::kDurationColumn), 140);
    menu->actions()[2]->trigger();  // "File &size" off, kept so
  }
  // A new list (the program started again) reads what the last one wrote.
  auto list = MakeList();
  EXPECT_TRUE(list->IsColumnShown(Model::kDurationColumn));
  EXPECT_FALSE(list->IsColumnShown(Model::kFileSizeColumn));
  EXPECT_TRUE(list->header()->isSectionHidden(Model::kFileSizeColumn));
  EXPECT_EQ(list->header()->sectionSize(Model::kDurationColumn), 140);
  EXPECT_EQ(list->ColumnWidth(Model::kFileSizeColumn), 77);
  EXPECT_EQ(list->ColumnWidth(Model::kSourceColumn), List::kDefaultColumnWidth);
}

TEST_F(BatchListTest, HeaderBoxChecksAllRowsAndAClickDuringARunIsUndone) {
  MakeEntries(3);
  entries_[1]->SetChecked(false);
  auto list = MakeList();
  EXPECT_FALSE(list->IsRowChecked(1));

  bool converting = false;
  std::vector<std::pair<int, unsigned>> reports;
  QObject::connect(list.get(), &List::ItemStateChanged,
                   [&](int row, CConvertOrder* entry, unsigned oldState, unsigned newState) {
                     if (((oldState ^ newState) & List::kStateImageMask) == 0) return;
                     reports.push_back({row, newState & List::kStateImageMask});
                     // The form: during a run the row is drawn from its entry again.
                     if (converting) list->Refresh(entry);
                   });

  QCheckBox* box = list->Header()->CheckBox();
  ASSERT_TRUE(box->isVisible());
  EXPECT_LE(box->width(), 14);
  QTest::mouseClick(box, Qt::LeftButton);  // checks: only row 1 changes
  EXPECT_TRUE(list->IsRowChecked(0) && list->IsRowChecked(1) && list->IsRowChecked(2));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], std::make_pair(1, List::kStateChecked));
  QTest::mouseClick(box, Qt::LeftButton);  // unchecks all three
  EXPECT_EQ(reports.size(), 4u);
  EXPECT_FALSE(list->IsRowChecked(0) || list->IsRowChecked(1) || list->IsRowChecked(2));
  // The entries are the form's business: the list didn't touch them.
  EXPECT_TRUE(entries_[0]->IsChecked());

  // A click on a row's box toggles it; during a run it is undone from the entry.
  reports.clear();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CheckBoxRect(*list, 2).center());
  EXPECT_TRUE(list->IsRowChecked(2));
  converting = true;
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CheckBoxRect(*list, 1).center());
  EXPECT_EQ(list->IsRowChecked(1), entries_[1]->IsChecked());
  EXPECT_EQ(reports.size(), 2u);
}

TEST_F(BatchListTest, KeysArrowsAreSwallowed) {
  MakeEntries(3);
  auto list = MakeList();
  list->setFocus();
  list->SelectOnly({entries_[1].get()});
  QSignalSpy states(list.get(), &List::ItemStateChanged);
  const int scroll = list->horizontalScrollBar()->value();

  QTest::keyClick(list.get(), Qt::Key_Left);
  QTest::keyClick(list.get(), Qt::Key_Right);
  EXPECT_EQ(states.count(), 0);
  EXPECT_EQ(list->currentIndex().row(), 1);
  EXPECT_EQ(list->horizontalScrollBar()->value(), scroll);

  QTest::keyClick(list.get(), Qt::Key_Down);  // other keys work as usual
  EXPECT_EQ(list->currentIndex().row(), 2);
}

TEST_F(BatchListTest, SelectionOperationsAndTheirReports) {
  MakeEntries(5);
  auto list = MakeList();
  std::vector<std::tuple<int, unsigned, unsigned>> reports;
  QObject::connect(list.get(), &List::ItemStateChanged, [&](int row, CConvertOrder*, unsigned o, unsigned n) {
    reports.emplace_back(row, o & 3, n & 3);
  });

  list->SelectOnly({entries_[3].get(), entries_[1].get()});
  std::vector<CConvertOrder*> selected;
  list->GetSelected(&selected);
  EXPECT_EQ(selected, (std::vector<CConvertOrder*>{entries_[1].get(), entries_[3].get()}));  // row order
  EXPECT_EQ(list->currentIndex().row(), 3);
  // Rows 1 and 3 became selected, and row 3 focused.
  EXPECT_NE(std::find(reports.begin(), reports.end(), std::make_tuple(1, 0u, List::kStateSelected)), reports.end());
  EXPECT_NE(std::find(reports.begin(), reports.end(), std::make_tuple(3, List::kStateSelected, 3u)), reports.end());

  // Swapping moves the contents and their selection; the rows stay.
  reports.clear();
  list->SwapWith(entries_[1].get(), entries_[2].get());
  EXPECT_EQ(list->EntryAt(1), entries_[2].get());
  EXPECT_EQ(list->EntryAt(2), entries_[1].get());
  EXPECT_FALSE(list->IsRowSelected(1));
  EXPECT_TRUE(list->IsRowSelected(2));
  EXPECT_TRUE(reports.empty());

  list->Select(entries_[1].get(), false);
  list->Remove(entries_[3].get());
  selected.clear();
  list->GetSelected(&selected);
  EXPECT_TRUE(selected.empty());
  EXPECT_EQ(list->GetItemCount(), 4);

  // The run moving on: later, the converted entry is the only selected row, in view.
  list->ShowConverting(entries_[4].get());
  list->ShowConverting(entries_[3].get());  // removed meanwhile: nothing happens
  EXPECT_FALSE(list->IsRowSelected(3));
  // Zero-time timers fire in order: once this one has, both of the list's have.
  bool shown = false;
  QTimer::singleShot(0, list.get(), [&] { shown = true; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown; }));
  selected.clear();
  list->GetSelected(&selected);
  EXPECT_EQ(selected, (std::vector<CConvertOrder*>{entries_[4].get()}));
}

TEST_F(BatchListTest, ContextMenuSaysWhetherThePointIsOnARow) {
  MakeEntries(1);
  auto list = MakeList();
  QSignalSpy spy(list.get(), &List::ContextMenu);
  const QPoint onRow = list->visualRect(list->Model()->index(0, 1)).center();
  QContextMenuEvent row(QContextMenuEvent::Mouse, onRow, list->viewport()->mapToGlobal(onRow));
  QApplication::sendEvent(list->viewport(), &row);
  const QPoint empty(50, 250);
  QContextMenuEvent none(QContextMenuEvent::Mouse, empty, list->viewport()->mapToGlobal(empty));
  QApplication::sendEvent(list->viewport(), &none);
  ASSERT_EQ(spy.count(), 2);
  EXPECT_TRUE(spy[0][1].toBool());
  EXPECT_FALSE(spy[1][1].toBool());
}

}  // namespace
}  // namespace tav::ui

namespace tav::ui {
namespace {

// The header's box shows the rows: checked when all are, partly when some are, clear when
// none are; a click from "partly" checks them all.
TEST_F(BatchListTest, HeaderBoxShowsWhetherAllSomeOrNoRowsAreChecked) {
  MakeEntries(3);
  entries_[1]->SetChecked(false);
  auto list = MakeList();
  QCheckBox* box = list->Header()->CheckBox();
  EXPECT_EQ(box->checkState(), Qt::PartiallyChecked);
  QTest::mouseClick(box, Qt::LeftButton);
  EXPECT_EQ(box->checkState(), Qt::Checked);
  EXPECT_TRUE(list->IsRowChecked(1));
  list->Model()->SetRowChecked(0, false);
  EXPECT_EQ(box->checkState(), Qt::PartiallyChecked);
  QTest::mouseClick(box, Qt::LeftButton);
  EXPECT_EQ(box->checkState(), Qt::Checked);
  QTest::mouseClick(box, Qt::LeftButton);
  EXPECT_EQ(box->checkState(), Qt::Unchecked);
  EXPECT_FALSE(list->IsRowChecked(0) || list->IsRowChecked(1) || list->IsRowChecked(2));
  list->RemoveAll();
  EXPECT_EQ(box->checkState(), Qt::Unchecked);
}

}  // namespace
}  // namespace tav::ui
