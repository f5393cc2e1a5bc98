#pragma once

#include <string>
#include <utility>

#include "common/exception.h"
#include "editor/prompts.h"

namespace editor {

// The text shown for an error: the message with a full stop appended unless it ends in one.
std::string ErrorDisplayText(const std::string &message);

enum class GuardResult { Done, Aborted, Failed };

// Runs one command: the silent abort ends it without a word, any other error is shown in the
// error box and ends it, and nothing escapes into the Qt event loop.
template <class F> GuardResult Guarded(F &&command) {
  try {
    std::forward<F>(command)();
    return GuardResult::Done;
  } catch (const common::EAbort &) {
    return GuardResult::Aborted;
  } catch (const std::exception &e) {
    CurrentPrompts().ShowError(ErrorDisplayText(e.what()));
  } catch (...) {
    CurrentPrompts().ShowError(ErrorDisplayText("Unknown error"));
  }
  return GuardResult::Failed;
}

} // namespace editor
