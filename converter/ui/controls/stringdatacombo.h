// CStringDataCombo: a drop-down list whose items carry a string as their data (the
// subtitle size identifiers and language codes of the main form).
#pragma once

#include <QComboBox>
#include <string>

namespace tav::ui {

class CStringDataCombo : public QComboBox {
  Q_OBJECT
 public:
  explicit CStringDataCombo(QWidget* parent = nullptr);

  // Appends an item; returns its index.
  int AddString(const QString& text, const std::string& data);
  // The data of item i; empty for an index out of range.
  std::string ItemData(int i) const;
  // Selects the item whose data equals data (case-sensitive); when none has it the
  // selection is cleared and false returned.
  bool SelectData(const std::string& data);
  // The selected item's data; empty without a selection.
  std::string SelectedData() const;
  // Data exchange: save reads the selected item's data into value (left as it is without
  // a selection); otherwise the item whose data equals value is selected.
  void Exchange(bool save, std::string& value);
};

}  // namespace tav::ui
