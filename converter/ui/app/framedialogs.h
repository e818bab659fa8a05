// What the frame and the application ask the user or the desktop, behind one seam: message
// boxes, modal dialogs, the open and save file dialogs and opening a web address. The
// program uses the desktop's; a test installs its own and answers them.
#pragma once

#include <QString>
#include <memory>

class QDialog;
class QUrl;
class QWidget;

namespace tav::ui {

class FrameDialogs {
 public:
  enum class Icon { Information, Warning, Error };
  virtual ~FrameDialogs() = default;
  virtual void MessageBox(QWidget* parent, const QString& text, Icon icon) = 0;
  // Runs a modal dialog (the notice box, About) and answers its result code.
  virtual int Exec(QDialog& dialog) = 0;
  // An existing file to open; empty when cancelled. filter: Qt's "Name (*.x);;..." form.
  virtual QString OpenFileName(QWidget* parent, const QString& filter) = 0;
  // A file name to save to, starting at suggested; empty when cancelled.
  virtual QString SaveFileName(QWidget* parent, const QString& suggested, const QString& filter) = 0;
  // Opens the address with the desktop's handler; false when none took it.
  virtual bool OpenUrl(const QUrl& url) = 0;
  // A question answered Yes or No, or not at all (the box closed, the program told to quit
  // meanwhile). A seam that does not answer questions leaves them unanswered.
  enum class Answer { Yes, No, None };
  virtual Answer Ask(QWidget* parent, const QString& text) {
    (void)parent;
    (void)text;
    return Answer::None;
  }
  // "Save changes to ...?" answered Save, Discard or Cancel; a box closed without a choice
  // (Escape, the program told to quit) cancels, as does a seam that does not answer.
  enum class SaveAnswer { Save, Discard, Cancel };
  virtual SaveAnswer AskSave(QWidget* parent, const QString& text) {
    (void)parent;
    (void)text;
    return SaveAnswer::Cancel;
  }
};

std::unique_ptr<FrameDialogs> MakeDesktopFrameDialogs();

}  // namespace tav::ui
