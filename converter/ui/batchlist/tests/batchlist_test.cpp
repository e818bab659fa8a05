#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <memory>

#include "converter/engine/strings.h"
#include "converter/ui/batchlist/convertorderdelegate.h"
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
    EXPECT_EQ(
        list->header()->sectionPosition(Model::kFrameSizeColumn),
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
  EXPECT_FALSE(list->IsColumnUserSized(Model::kSourceColumn));
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
  QObject::connect(list.get(), &List::ItemStateChanged,
                   [&](int row, CConvertOrder*, unsigned o, unsigned n) { reports.emplace_back(row, o & 3, n & 3); });

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

namespace tav::ui {
namespace {

// The list fits its columns once the events in hand are handled (or a little later while
// rows keep changing).
void Settle(List& list) {
  QCoreApplication::processEvents();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !list.IsFitPending(); }));
}

int SumOfShownColumns(List& list) {
  int sum = 0;
  for (int i = 0; i < Model::kColumnCount; ++i)
    if (!list.header()->isSectionHidden(i)) sum += list.header()->sectionSize(i);
  return sum;
}

// "Source file" takes the room the other columns leave; they fit their texts, whatever they
// become; a width the user sets stays, also in the next list, until the user double-clicks
// the column's edge.
TEST_F(BatchListTest, Columns_SourceStretchesOthersFitTheirTextsAndUserWidthsStay) {
  MakeEntries(2);
  auto list = MakeList();
  list->resize(1100, 300);
  Settle(*list);
  QHeaderView* header = list->header();
  const int viewport = list->viewport()->width();
  EXPECT_EQ(SumOfShownColumns(*list), viewport) << "the columns fill the list, no more";
  for (int c : {Model::kStatusColumn, Model::kDurationColumn, Model::kFrameSizeColumn, Model::kFileSizeColumn}) {
    EXPECT_EQ(header->sectionSize(c),
              std::max(header->sectionSizeHint(c), static_cast<QAbstractItemView&>(*list).sizeHintForColumn(c)))
        << c;
    EXPECT_LT(header->sectionSize(c), 200) << "column " << c << " is no wider than its texts";
  }
  EXPECT_GT(header->sectionSize(Model::kSourceColumn), header->sectionSize(Model::kStatusColumn));

  // A long status widens its column, and the source column gives the room.
  const int statusBefore = header->sectionSize(Model::kStatusColumn);
  entries_[1]->SetFailed(E_FAIL, "the decoder stopped in part two");
  list->Refresh(entries_[1].get());
  Settle(*list);
  EXPECT_GT(header->sectionSize(Model::kStatusColumn), statusBefore + 100);
  EXPECT_EQ(SumOfShownColumns(*list), viewport);

  // A wider list widens the source column only.
  const int source = header->sectionSize(Model::kSourceColumn);
  const int duration = header->sectionSize(Model::kDurationColumn);
  list->resize(list->width() + 300, list->height());
  Settle(*list);
  EXPECT_EQ(header->sectionSize(Model::kSourceColumn), source + 300);
  EXPECT_EQ(header->sectionSize(Model::kDurationColumn), duration);

  // The user's width stays, however the texts change, and comes back in the next list.
  header->resizeSection(Model::kStatusColumn, 90);
  EXPECT_TRUE(list->IsColumnUserSized(Model::kStatusColumn));
  EXPECT_FALSE(list->IsColumnUserSized(Model::kSourceColumn));
  entries_[0]->SetFailed(E_FAIL, "another long reason for the status column to grow if it could");
  list->Refresh(entries_[0].get());
  Settle(*list);
  EXPECT_EQ(header->sectionSize(Model::kStatusColumn), 90);
  EXPECT_EQ(SumOfShownColumns(*list), list->viewport()->width()) << "the source column took the rest";
  list.reset();
  list = MakeList();
  Settle(*list);
  header = list->header();
  EXPECT_EQ(header->sectionSize(Model::kStatusColumn), 90);
  EXPECT_TRUE(list->IsColumnUserSized(Model::kStatusColumn));
  EXPECT_EQ(SumOfShownColumns(*list), list->viewport()->width());

  // A double-click on its edge gives the column back to the list; fitted to a very long
  // text it takes no more than its share, and the text's cell tells all of it.
  emit header->sectionHandleDoubleClicked(Model::kStatusColumn);
  Settle(*list);
  EXPECT_FALSE(list->IsColumnUserSized(Model::kStatusColumn));
  EXPECT_GT(header->sectionSize(Model::kStatusColumn), 200);
  EXPECT_LE(header->sectionSize(Model::kStatusColumn), list->viewport()->width() * 2 / 5);
  EXPECT_EQ(list->Model()->index(0, Model::kStatusColumn).data(Qt::ToolTipRole).toString().toStdString(),
            entries_[0]->GetStatusText());
}

// Settings written before the list sized its columns hold 100 for every column: they are
// no widths the user chose.
TEST_F(BatchListTest, Columns_OldSettingsWithoutUserWidthsFitAndStretch) {
  for (int i = 0; i < Model::kColumnCount; ++i)
    WriteProfileInt("SRCFILES", ("COLUMN" + std::to_string(i)).c_str(), 100);
  MakeEntries(1);
  auto list = MakeList();
  Settle(*list);
  for (int i = 0; i < Model::kColumnCount; ++i) EXPECT_FALSE(list->IsColumnUserSized(i)) << i;
  EXPECT_GT(list->header()->sectionSize(Model::kSourceColumn), 200);
}

// Pixels of image inside rect whose colour has about the hue of color and is saturated.
int PixelsLike(const QImage& image, const QRect& rect, const QColor& color) {
  int n = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      const int d = std::abs(c.hslHue() - color.hslHue());
      n += c.hslSaturation() > 60 && std::min(d, 360 - d) <= 20;
    }
  return n;
}

// A converting row shows its progress as a bar in the Status cell; once the entry is done
// the bar is gone; a failed or interrupted row stands out in a colour of the palette that
// reads on light and dark lists.
TEST_F(BatchListTest, Rows_ShowTheirProgressWhileConvertingAndStandOutWhenTheyFailed) {
  MakeEntries(4);
  auto list = MakeList();
  Settle(*list);
  CConvertOrder* converting = entries_[0].get();
  converting->SetConverting();
  list->SetProgress(converting, 40);
  list->SetProgress(entries_[1].get(), 70);  // not converting: shows no bar
  EXPECT_EQ(list->ProgressOf(converting), 40);
  EXPECT_EQ(list->ProgressOf(entries_[1].get()), -1);
  list->ClearSelection();  // a selected row's background has the bar's colour
  Settle(*list);

  const QColor highlight = list->palette().color(QPalette::Highlight);
  const QImage shown = list->viewport()->grab().toImage();
  if (const char* keep = std::getenv("BATCHLIST_TEST_IMAGE")) shown.save(keep);
  const QRect cell = list->visualRect(list->Model()->index(0, Model::kStatusColumn));
  ASSERT_GT(cell.width(), 60);
  // The bar, then its percentage beside it at the cell's end, in the text's colour.
  const int textWidth = list->fontMetrics().horizontalAdvance(QStringLiteral("100%"));
  const QRect filled(cell.left() + 4, cell.top() + 3, cell.width() / 4 - 4, cell.height() - 6);
  const QRect empty(cell.left() + cell.width() * 4 / 10, cell.top() + 3, cell.width() * 2 / 10, cell.height() - 6);
  const QRect percent(cell.right() - textWidth, cell.top() + 2, textWidth, cell.height() - 4);
  EXPECT_GT(PixelsLike(shown, filled, highlight), filled.width() * filled.height() / 2) << "the bar's 40%";
  EXPECT_LT(PixelsLike(shown, empty, highlight), empty.width() * empty.height() / 10) << "the rest is empty";
  const int base = list->palette().color(QPalette::Base).lightness();
  int inked = 0;
  for (int y = percent.top(); y <= percent.bottom(); ++y)
    for (int x = percent.left(); x <= percent.right(); ++x)
      inked += std::abs(shown.pixelColor(x, y).lightness() - base) > 100;
  EXPECT_GT(inked, 10) << "the percentage shows";
  // A full bar leaves its percentage alone: text over a bar's fill may take the fill's colour.
  list->SetProgress(converting, 100);
  Settle(*list);
  EXPECT_EQ(PixelsLike(list->viewport()->grab().toImage(), percent, highlight), 0)
      << "the percentage is not on the bar";
  const QRect other = list->visualRect(list->Model()->index(1, Model::kStatusColumn));
  EXPECT_EQ(PixelsLike(shown, other.adjusted(2, 2, -2, -2), highlight), 0) << "a ready row has no bar";

  // Converted: no bar any more, even before the run clears the rows.
  converting->SetFinished(true, 0);
  list->Refresh(converting);
  EXPECT_EQ(list->ProgressOf(converting), -1);
  list->ClearProgress();

  // Failed and interrupted rows: the status cell gets an icon and the row a colour.
  entries_[1]->SetFailed(E_FAIL);
  entries_[2]->SetFinished(false, 10000000);
  entries_[3]->SetProbeResult(E_FAIL, MediaTypeValue(), "unreadable");  // never read: failed too
  list->RefreshAll();
  struct Probe : CConvertOrderDelegate {
    using CConvertOrderDelegate::CConvertOrderDelegate;
    QStyleOptionViewItem Option(const QModelIndex& index, QWidget* view) const {
      QStyleOptionViewItem option;
      option.initFrom(view);
      option.widget = view;
      initStyleOption(&option, index);
      return option;
    }
  } probe;
  const QColor text = list->palette().color(QPalette::Text);
  for (int row : {1, 2, 3}) {
    const QStyleOptionViewItem status = probe.Option(list->Model()->index(row, Model::kStatusColumn), list.get());
    EXPECT_FALSE(status.icon.isNull()) << row;
    const QStyleOptionViewItem source = probe.Option(list->Model()->index(row, Model::kSourceColumn), list.get());
    EXPECT_NE(source.palette.color(QPalette::Text), text) << row;
  }
  EXPECT_TRUE(probe.Option(list->Model()->index(0, Model::kStatusColumn), list.get()).icon.isNull());
  EXPECT_EQ(probe.Option(list->Model()->index(0, Model::kSourceColumn), list.get()).palette.color(QPalette::Text),
            text);

  // The colours keep their hue and stay apart from the list's background on both palettes.
  QPalette light;
  light.setColor(QPalette::Base, Qt::white);
  light.setColor(QPalette::Text, Qt::black);
  QPalette dark;
  dark.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
  dark.setColor(QPalette::Text, QColor(0xf0, 0xf0, 0xf0));
  for (const QPalette& palette : {light, dark}) {
    const QColor failed = CConvertOrderDelegate::StateColor(palette, CConvertOrder::kError);
    const QColor interrupted = CConvertOrderDelegate::StateColor(palette, CConvertOrder::kInterrupted);
    EXPECT_FALSE(CConvertOrderDelegate::StateColor(palette, CConvertOrder::kConverted).isValid());
    EXPECT_LE(std::min(failed.hslHue(), 360 - failed.hslHue()), 10);
    EXPECT_NEAR(interrupted.hslHue(), 30, 15);
    for (const QColor& c : {failed, interrupted})
      EXPECT_GT(std::abs(c.lightness() - palette.color(QPalette::Base).lightness()), 70) << c.name().toStdString();
  }
}

}  // namespace
}  // namespace tav::ui
