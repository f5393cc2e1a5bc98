#include "common/exception.h"
#include "xmlmodel/fragment.h"

#include <gtest/gtest.h>

#include <string>

using namespace xmlmodel;

TEST(FragmentParse, GivesItsNodesOrTheReasonAndLine) {
  auto two = TOrbXMLFragment::Parse("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<a x=\"1\"><b/></a>\n<!--c--><?pi d?>\n");
  ASSERT_EQ(two->Nodes()->Count(), 3);
  EXPECT_EQ(two->Nodes()->Items(0)->NodeName(), "a");

  struct Bad {
    const char *text;
    const char *message; // part of it
  };
  for (const Bad &bad : {Bad{"<a>\n<b>\n</a>", "(line 3)"}, Bad{"<?xml version=\"1.0\"?>\n\n<a>&nbsp;</a>", "nbsp"},
                         Bad{"<?xml version=\"1.0\"?>\n\n<a>&nbsp;</a>", "(line 3)"},
                         Bad{"plain text & more", "not well-formed"}, Bad{"  \n ", "no XML node"},
                         Bad{"<a>\n</a>\n<b", "(line 3)"}}) {
    try {
      TOrbXMLFragment::Parse(bad.text);
      ADD_FAILURE() << "accepted: " << bad.text;
    } catch (const common::Exception &e) {
      EXPECT_NE(std::string(e.what()).find(bad.message), std::string::npos) << bad.text << ": " << e.what();
    }
  }
}
