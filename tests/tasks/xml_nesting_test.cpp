// The nesting scan against the texts on which a careless scan would miscount.
#include "tasks/xml_nesting.h"

#include <gtest/gtest.h>

#include <string>

namespace hvs {
namespace {

constexpr std::size_t kNone = std::string::npos;

TEST(XmlNestingTest, ReportsTheFirstElementBeyondTheLimit) {
  EXPECT_EQ(FindTooDeepElement("<a><b><c/></b></a>", 2), kNone);  // an empty element opens no level
  EXPECT_EQ(FindTooDeepElement("<a><b><c></c></b></a>", 2), 6u);
  EXPECT_EQ(FindTooDeepElement("<a></a><b><c></c></b>", 1), 10u);
  EXPECT_EQ(FindTooDeepElement("\xEF\xBB\xBF<a><b>", 1), 6u);
  EXPECT_EQ(FindTooDeepElement("<a x='1' y = \"2\"  ><b \t>", 1), 19u);
}

TEST(XmlNestingTest, ClosingTagsInsideOtherMarkupDoNotCount) {
  // Each of these holds a "</x>" that the parser does not see as a closing tag.
  for (const std::string hidden :
       {"<!-- </x> -->", "<![CDATA[</x>]]>", "<?pi </x> ?>", "<!DOCTYPE t [ <!ENTITY e '</x>'> ]>",
        "<!other </x>>", "<q v='</x>'/>", "<q v=\"'>\"/>"}) {
    const std::string text = "<a>" + hidden + "<b><c>";
    EXPECT_EQ(FindTooDeepElement(text, 2), text.size() - 3) << hidden;
  }
  // Names may hold characters that look like markup.
  EXPECT_EQ(FindTooDeepElement("<a\"b><c'd><e>", 2), 10u);
}

TEST(XmlNestingTest, StopsWhereTheParserWouldFail) {
  EXPECT_EQ(FindTooDeepElement("", 0), kNone);
  EXPECT_EQ(FindTooDeepElement("text<a><b>", 1), kNone);
  EXPECT_EQ(FindTooDeepElement("<a x=1><b><c>", 1), kNone);
  EXPECT_EQ(FindTooDeepElement("<a><!-- open <b><c>", 1), kNone);
  EXPECT_EQ(FindTooDeepElement("</a><b><c>", 1), kNone);
}

}  // namespace
}  // namespace hvs
