#include "xmlmodel/edits.h"

#include "common/exception.h"
#include "xmlmodel/dom_internal.h"

#include <algorithm>

namespace xmlmodel {

TEdit::~TEdit() = default;

void TEdit::TakeOut(TStep &step, bool withSpacing) {
  step.Held = step.Item->OwnerList()->Take(step.Item, step.Place, withSpacing);
}

void TEdit::PutBack(TStep &step) { TOrbXMLList::Restore(std::move(step.Held), step.Place); }

TOrbXMLItem *TEdit::Create(TOrbXMLList &list, const std::string &name, int nodeType, TOrbXMLItem *source,
                           TOrbXMLItem *before, bool reindent) {
  TStep step;
  step.Kind = TStep::Insert;
  if (list.IsAttributeList() && list.OwnerItem() && list.OwnerItem()->HasNode())
    step.HadRawTag = list.Document()->XMLDoc().RawStartTag(list.OwnerItem()->Node(), step.RawTag);
  xmlNode *owner = !list.IsAttributeList() && list.OwnerItem() && list.OwnerItem()->HasNode()
                      ? list.OwnerItem()->Node()
                      : nullptr;
  // The nodes next to every place where the new child can land: before's neighbours and the
  // run from the last non-text child to the end. A neighbour of the new node that is none of
  // them came with it (the indentation that gives it its line). Counting all the children
  // instead costs a walk of 800,000 nodes in a list of 400,000.
  std::vector<const xmlNode *> near;
  if (owner) {
    // An insertion that unfolds the owner does it now, so that its whitespace is known below.
    if (!dom_detail::StaysFolded(owner, nodeType, before && before->HasNode() ? before->Node() : nullptr))
      DomUnfoldLayout(owner);
    if (before && before->HasNode())
      near = {before->Node()->prev, before->Node()};
    for (const xmlNode *child = owner->last; child; child = child->prev) {
      near.push_back(child);
      if (child->type != XML_TEXT_NODE)
        break;
    }
  }
  TOrbXMLItem *item = list.CreateNodeBefore(name, nodeType, source, before, reindent);
  const auto known = [&](const xmlNode *n) { return !n || std::find(near.begin(), near.end(), n) != near.end(); };
  // In a parent still folded the whitespace goes with the node; in one unfolded by undo time it
  // stands before it.
  step.AddedSpacing = owner && (dom_detail::FoldedLayoutOf(owner) != nullptr || !known(item->Node()->prev) ||
                                !known(item->Node()->next));
  step.Item = item;
  FSteps.push_back(std::move(step));
  return item;
}

void TEdit::Delete(TOrbXMLItem *item) {
  TStep step;
  step.Kind = TStep::Remove;
  step.Item = item;
  TakeOut(step);
  FSteps.push_back(std::move(step));
}

void TEdit::SetText(TOrbXMLItem *item, std::string_view text) {
  TStep step;
  step.Kind = TStep::Text;
  step.Item = item;
  step.NewText = std::string(text);
  step.Change = item->ChangeText(text);
  FSteps.push_back(std::move(step));
}

void TEdit::Revert() {
  for (auto step = FSteps.rbegin(); step != FSteps.rend(); ++step) {
    switch (step->Kind) {
    case TStep::Insert:
      TakeOut(*step, step->AddedSpacing);
      if (step->Place.List->IsAttributeList())
        step->Place.List->Document()->XMLDoc().SetRawStartTag(step->Place.List->OwnerItem()->Node(),
                                                               step->HadRawTag, step->RawTag);
      break;
    case TStep::Remove: PutBack(*step); break;
    case TStep::Text: step->Item->RestoreText(step->Change); break;
    }
  }
}

void TEdit::Apply() {
  for (TStep &step : FSteps) {
    switch (step.Kind) {
    case TStep::Insert: PutBack(step); break;
    case TStep::Remove: TakeOut(step); break;
    case TStep::Text: step.Change = step.Item->ChangeText(step.NewText); break;
    }
  }
}

bool TEdit::Merge(const TEdit &later) {
  if (FSteps.size() != 1 || later.FSteps.size() != 1)
    return false;
  TStep &mine = FSteps.front();
  const TStep &theirs = later.FSteps.front();
  if (mine.Kind != TStep::Text || theirs.Kind != TStep::Text || mine.Item != theirs.Item)
    return false;
  // Undo goes back past both: to what this edit replaced.
  mine.NewText = theirs.NewText;
  return true;
}

} // namespace xmlmodel
