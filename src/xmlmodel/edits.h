#pragma once

// Changes of the item tree that can be undone and done again exactly. An edit records the steps
// of one user command while the command makes them; Revert then takes them back in reverse
// order and Apply makes them again, the same items and DOM nodes each time, so that other edits
// and views that hold items stay valid. Edits are undone and redone in stack order only: each
// one finds the document exactly as it left it.

#include "xmlmodel/xml_obj.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace xmlmodel {

class TEdit {
public:
  explicit TEdit(std::string name) : FName(std::move(name)) {}
  ~TEdit();
  TEdit(const TEdit &) = delete;
  TEdit &operator=(const TEdit &) = delete;

  // What the step is called in the Edit menu ("Delete order").
  const std::string &Name() const { return FName; }
  bool Empty() const { return FSteps.empty(); }

  // Recording: each makes its change now and remembers it. Errors propagate with nothing
  // recorded for that step (earlier steps stay; Revert takes them back).
  TOrbXMLItem *Create(TOrbXMLList &list, const std::string &name, int nodeType, TOrbXMLItem *source = nullptr,
                      TOrbXMLItem *before = nullptr, bool reindent = false);
  void Delete(TOrbXMLItem *item);
  void SetText(TOrbXMLItem *item, std::string_view text);

  // Undo and redo.
  void Revert();
  void Apply();

  // A later edit that only sets the text of the same item again becomes part of this one, so
  // that the keystrokes of one cell edit are one step.
  bool Merge(const TEdit &later);

  // The item a view shows as current after Apply, and after Revert.
  TOrbXMLItem *CurrentAfter = nullptr;
  TOrbXMLItem *CurrentBefore = nullptr;

private:
  struct TStep {
    enum { Insert, Remove, Text } Kind = Insert;
    TOrbXMLItem *Item = nullptr;
    std::unique_ptr<TOrbXMLItem> Held; // the item while it is out of the tree
    TOrbXMLList::TPlace Place;
    DomTextChange Change;
    std::string NewText;
    // An attribute added: its element's start tag as written before, which undo puts back.
    bool HadRawTag = false;
    std::string RawTag;
  };
  static void TakeOut(TStep &step);
  static void PutBack(TStep &step);

  std::string FName;
  std::vector<TStep> FSteps;
};

} // namespace xmlmodel
