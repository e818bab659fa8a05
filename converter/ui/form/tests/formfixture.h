// The main form's test bed: a registered platform and component libraries in the test's
// private registry, a document with its conversion builder, the form over it, dialogs a
// test answers, and small generated movies.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "converter/engine/document.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/ui/form/formdialogs.h"
#include "converter/ui/form/tavrionconverterview.h"

namespace tav::formtest {

// Answers the form's dialogs from queues; an empty queue cancels.
struct ScriptedDialogs : FormDialogs {
  std::deque<std::vector<std::string>> movies;
  std::deque<std::string> files;
  std::deque<std::string> folders;
  int openFileCalls = 0;
  std::deque<bool> answers;            // to the form's questions; an empty queue says No
  std::vector<std::string> questions;  // asked so far
  int openMoviesCalls = 0;
  std::vector<std::string> OpenMovies(QWidget*, const std::string&) override;
  std::string OpenFile(QWidget*, const std::string&, const std::string&, const std::string&) override;
  std::string ChooseFolder(QWidget*, const std::string&) override;
  void ShowProperties(QWidget*, CConvertOrder&) override {}
  std::vector<std::string> errors;  // told so far
  void ShowError(QWidget*, const std::string& text) override { errors.push_back(text); }
  std::vector<std::pair<std::string, std::string>> summaries;  // text, folder
  void ShowRunSummary(QWidget*, const std::string& text, const std::string& folder) override {
    summaries.emplace_back(text, folder);
  }
  bool AskYesNo(QWidget*, const std::string& text) override {
    questions.push_back(text);
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
};

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A movie of seconds at size (w x h) with sound, made once per process and name.
  std::string Movie(const std::string& name, int seconds = 3, int w = 160, int h = 120);
  // A SAMI file with English and French captions next to the movies.
  std::string SamiFile(const std::string& name);
  // Qt's events and the platform's messages (the graph events) for ms, or until pred holds.
  static void Pump(int ms);
  static bool Eventually(const std::function<bool()>& pred, int timeoutMs);
  // Adds movies through the Add command.
  void AddThroughDialog(const std::vector<std::string>& paths);
  // Selects exactly the given entry as a click on its row would.
  void SelectRow(CConvertOrder* entry);
  // Selects the rows of the entries, as Ctrl+clicks would.
  void SelectRows(const std::vector<CConvertOrder*>& entries);
  // A user's pick from a list: the item becomes current and the list reports it activated.
  static void Choose(QComboBox* combo, int item);
  // Types text over an edit's contents and finishes it with Return.
  static void Type(QLineEdit* edit, const std::string& text);
  double ProbeDuration(const std::string& path);

  std::unique_ptr<CTavrionConverterDoc> doc_;
  std::unique_ptr<CTavrionConverterView> view_;
  ScriptedDialogs* dialogs_ = nullptr;
  std::string dir_;
};

}  // namespace tav::formtest
