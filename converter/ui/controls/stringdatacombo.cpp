#include "converter/ui/controls/stringdatacombo.h"

namespace tav::ui {

namespace {
constexpr int kDataRole = Qt::UserRole;
}

CStringDataCombo::CStringDataCombo(QWidget* parent) : QComboBox(parent) { setEditable(false); }

int CStringDataCombo::AddString(const QString& text, const std::string& data) {
  addItem(text, QString::fromStdString(data));
  return count() - 1;
}

std::string CStringDataCombo::ItemData(int i) const {
  if (i < 0 || i >= count()) return std::string();
  return itemData(i, kDataRole).toString().toStdString();
}

bool CStringDataCombo::SelectData(const std::string& data) {
  const int i = findData(QString::fromStdString(data), kDataRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
  setCurrentIndex(i);
  return i >= 0;
}

std::string CStringDataCombo::SelectedData() const { return ItemData(currentIndex()); }

void CStringDataCombo::Exchange(bool save, std::string& value) {
  if (save) {
    if (currentIndex() >= 0) value = SelectedData();
  } else {
    SelectData(value);
  }
}

}  // namespace tav::ui
