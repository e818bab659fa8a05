// The dialogs the main form opens, behind one seam: the program uses the desktop's file
// dialogs and file manager, a test answers them itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace tav {

class CConvertOrder;

class FormDialogs {
 public:
  virtual ~FormDialogs() = default;
  // Movies to add (several may be chosen); empty when cancelled. filter: "name|patterns|...||".
  virtual std::vector<std::string> OpenMovies(QWidget* parent, const std::string& filter) = 0;
  // One existing file starting at start; empty when cancelled.
  virtual std::string OpenFile(QWidget* parent, const std::string& start, const std::string& filter,
                               const std::string& defaultExtension) = 0;
  // A folder starting at start; empty when cancelled.
  virtual std::string ChooseFolder(QWidget* parent, const std::string& start) = 0;
  // The source file's properties: the file manager's window where one answers, else a
  // dialog with what the entry knows.
  virtual void ShowProperties(QWidget* parent, CConvertOrder& entry) = 0;
  // A question answered Yes or No. A seam that does not answer questions says No.
  virtual bool AskYesNo(QWidget* parent, const std::string& text) {
    (void)parent;
    (void)text;
    return false;
  }
  // Tells the user why something was refused (a file not added, a folder or name typed).
  virtual void ShowError(QWidget* parent, const std::string& text) = 0;
  // What a run did, shown in the window when it ends (without holding anything up); folder,
  // when not empty, gets a button that opens it.
  virtual void ShowRunSummary(QWidget* parent, const std::string& text, const std::string& folder) = 0;
};

// The desktop's dialogs.
std::unique_ptr<FormDialogs> MakeDesktopDialogs();

// "Video Files|*.avi;*.mpg|All Files|*.*||" as a Qt name filter list
// ("Video Files (*.avi *.mpg);;All Files (*)").
std::string QtNameFilters(const std::string& filter);

}  // namespace tav
