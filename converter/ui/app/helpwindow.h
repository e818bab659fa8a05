// CHelpWindow: the program's manual (its man page, carried inside the program) in a window
// of its own, opened by F1 and Help > Contents.
#pragma once

#include <QDialog>
#include <QString>

namespace tav::ui {

class CHelpWindow : public QDialog {
  Q_OBJECT

 public:
  explicit CHelpWindow(QWidget* parent = nullptr);
  // The manual as shown (plain text of the page, for tests).
  QString Text() const;
};

// A man page's roff source as HTML: headings, paragraphs, tagged paragraphs, bold and italic.
QString ManPageToHtml(const QString& roff);

}  // namespace tav::ui
