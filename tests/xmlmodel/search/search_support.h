#pragma once

// Fixtures of the find and validation tests, shared with the tests of their widgets.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "xmlmodel/xml_obj.h"
#include "../../support/run_command.h"

namespace search_support {

inline const std::string kDir = XE_TEST_DATA "/xmlmodel/search/";

// A fixture of this folder, loaded as the editor loads it.
inline std::unique_ptr<xmlmodel::TOrbMainXML> Load(const std::string &name) {
  auto doc = std::make_unique<xmlmodel::TOrbMainXML>();
  doc->FileName = kDir + name;
  doc->Load();
  EXPECT_TRUE(doc->RootItem()->HasNode()) << name;
  return doc;
}

using test_support::Execute;
using test_support::RunResult;

} // namespace search_support
