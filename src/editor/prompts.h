#pragma once

#include <string>

namespace editor {

// Every modal question the program asks goes through this interface, so tests can answer
// them with a script instead of blocking on a dialog.
class Prompts {
public:
  enum class Answer { Yes, No, Cancel };

  virtual ~Prompts() = default;

  // Open-style file dialog for a mask such as "*.xml" or a filter such as
  // "Spreadsheets (*.xls *.csv)", titled with what it asks for; the file need not exist. Empty
  // when cancelled.
  virtual std::string PromptFileName(const std::string &mask, const std::string &title) = 0;
  // One-line input with OK and Cancel; value holds the initial text and receives the answer.
  // Returns false on Cancel. Masked input hides what is typed (passwords).
  virtual bool InputQuery(const std::string &caption, const std::string &prompt, std::string &value,
                          bool masked = false) = 0;
  // Yes / No / Cancel question, Yes being the default; Escape answers Cancel.
  virtual Answer Confirm(const std::string &title, const std::string &text) = 0;
  // Plain message with an OK button.
  virtual void ShowMessage(const std::string &text) = 0;
  // Error message with a critical icon and an OK button.
  virtual void ShowError(const std::string &text) = 0;
};

// The prompts in use: the Qt dialogs unless a test installed its own.
Prompts &CurrentPrompts();
// Installs replacement prompts (not owned); nullptr goes back to the Qt dialogs.
void SetPrompts(Prompts *prompts);

// The shared file prompt of the frame and the editor windows.
std::string PromptFileName(const std::string &mask, const std::string &title);

// Filter text and default extension of the file dialog for a mask like "*.xml" or "dir/*.xml",
// or for a filter string like "Spreadsheets (*.xls *.csv)", which is taken as it stands.
struct FileMask {
  std::string Directory;     // folder part of the mask, empty for a bare mask
  std::string Filter;        // "*.xml (*.xml)"
  std::string DefaultSuffix; // "xml"
};
FileMask ParseFileMask(const std::string &mask);

} // namespace editor
