#pragma once

// Scripted answers for every prompt of the GUI, and a QApplication for the GUI tests.

#include <QApplication>
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "editor/prompts.h"

namespace testing_support {

class FakePrompts : public editor::Prompts {
public:
  FakePrompts() { editor::SetPrompts(this); }
  ~FakePrompts() override { editor::SetPrompts(nullptr); }

  // Queued answers; a prompt without one fails the test and cancels.
  std::deque<std::string> FileNames;
  std::deque<std::optional<std::string>> Inputs; // nullopt = Cancel
  std::deque<Answer> Confirms;

  // What was asked and shown, in order.
  std::vector<std::string> Masks, FileTitles;
  std::vector<std::string> InputCaptions, InputPrompts, InputInitial;
  std::vector<bool> InputMasked;
  std::vector<std::string> ConfirmTitles, ConfirmTexts;
  std::vector<std::string> Messages, Errors;

  std::string PromptFileName(const std::string &mask, const std::string &title) override {
    Masks.push_back(mask);
    FileTitles.push_back(title);
    if (FileNames.empty()) {
      ADD_FAILURE() << "unexpected file prompt " << mask;
      return {};
    }
    std::string answer = FileNames.front();
    FileNames.pop_front();
    return answer;
  }
  bool InputQuery(const std::string &caption, const std::string &prompt, std::string &value,
                  bool masked) override {
    InputCaptions.push_back(caption);
    InputMasked.push_back(masked);
    InputPrompts.push_back(prompt);
    InputInitial.push_back(value);
    if (Inputs.empty()) {
      ADD_FAILURE() << "unexpected input prompt " << caption;
      return false;
    }
    std::optional<std::string> answer = Inputs.front();
    Inputs.pop_front();
    if (!answer)
      return false;
    value = *answer;
    return true;
  }
  Answer Confirm(const std::string &title, const std::string &text) override {
    ConfirmTitles.push_back(title);
    ConfirmTexts.push_back(text);
    if (Confirms.empty()) {
      ADD_FAILURE() << "unexpected confirmation " << text;
      return Answer::Cancel;
    }
    Answer answer = Confirms.front();
    Confirms.pop_front();
    return answer;
  }
  void ShowMessage(const std::string &text) override { Messages.push_back(text); }
  void ShowError(const std::string &text) override {
    Errors.push_back(text);
    if (OnError)
      OnError();
  }
  std::function<void()> OnError; // runs while the error is "on screen"
};

// One QApplication for the whole test program, made before the first test and destroyed after
// the last.
class QtEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "gui_tests";
    static char *argv[] = {name, nullptr};
    FApp = new QApplication(argc, argv);
    QApplication::setApplicationName(QStringLiteral("xmleditor"));
  }
  void TearDown() override {
    delete FApp;
    FApp = nullptr;
  }

private:
  QApplication *FApp = nullptr;
};

} // namespace testing_support
