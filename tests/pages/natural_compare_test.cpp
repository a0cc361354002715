// Natural order of page file names.
#include "natural_compare.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <algorithm>

#include "page_list.h"
#include "shown_error.h"

namespace pagetrim {
namespace {

int Sign(int v) {
  return (v > 0) - (v < 0);
}

TEST(NaturalCompare, OrdersPairsAsUsersExpect) {
  struct Row {
    const char* Name;
    QString A, B;
    int Expected;
  };
  const Row rows[] = {
      {"numbers by value", "/s/p2.jpg", "/s/p10.jpg", -1},
      {"leading zeros tie, then whole text", "/s/p02.jpg", "/s/p2.jpg", -1},
      {"longer non-digit token after its prefix", "/s/a1.jpg", "/s/a.jpg", -1},
      {"upper case before lower case", "/s/Page.jpg", "/s/page.jpg", -1},
      {"identical texts", "/s/p1.jpg", "/s/p1.jpg", 0},
      {"full-width digit is not a digit", u"/s/頁１.jpg"_qs, u"/s/頁2.jpg"_qs, 1},
      {"digit run against letters", "/s/1.jpg", "/s/a.jpg", -1},
      {"empty against text", "", "a", -1},
      {"run beyond 32 bits", "/s/IMG_20240101123456.jpg", "/s/IMG_20240101123457.jpg", -1},
      {"long run beats shorter one", "/s/IMG_99999999999.jpg", "/s/IMG_100000000000.jpg", -1},
      {"long runs with leading zeros", "/s/x000000000000000000012.jpg", "/s/x13.jpg", -1},
      {"long equal runs tie then whole text", "/s/x0099999999999.jpg", "/s/x99999999999.jpg", -1},
      {"in-range boundary", "/s/2147483647.png", "/s/2147483648.png", -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    EXPECT_EQ(Sign(NaturalCompare(row.A, row.B)), row.Expected);
    EXPECT_EQ(Sign(NaturalCompare(row.B, row.A)), -row.Expected);
  }
}

TEST(NaturalCompare, SortsAListOfPages) {
  PageList list;
  for (const char* name : {"/b/10.png", "/b/9.png", "/b/1.png", "/b/page.jpg", "/b/Page.jpg",
                           "/b/IMG_20240101123456.jpg", "/b/IMG_3.jpg"}) {
    list.Append(QString::fromUtf8(name));
  }
  list.Sort();
  const QStringList expected = {
      "/b/1.png",    "/b/9.png",   "/b/10.png", "/b/IMG_3.jpg", "/b/IMG_20240101123456.jpg",
      "/b/Page.jpg", "/b/page.jpg"};
  EXPECT_EQ(list.Items(), expected);
}

TEST(PageList, LooksUpIgnoringCaseAndGuardsItsIndex) {
  PageList list;
  list.Append("/f/a.jpg");
  list.Append("/f/b.jpg");
  EXPECT_EQ(list.IndexOf("/f/B.JPG"), 1);
  EXPECT_EQ(list.IndexOf("/f/b.jp"), -1);
  EXPECT_EQ(list.IndexOf("/f/c.jpg"), -1);
  // A name that differs only by case is another file: the exact one wins
  // wherever it stands.
  list.Append("/f/B.jpg");
  EXPECT_EQ(list.IndexOf("/f/B.jpg"), 2);
  EXPECT_EQ(list.IndexOf("/f/b.jpg"), 1);
  EXPECT_EQ(list.IndexOf("/f/b.JPG"), 1);
  list.RemoveAt(2);
  try {
    list.At(-1);
    FAIL() << "no error for index -1";
  } catch (const ShownError& e) {
    EXPECT_EQ(e.Text(), u"リストのインデックスが範囲を超えています (-1)"_qs);
  }
  EXPECT_THROW(list.At(2), ShownError);
  list.RemoveAt(0);
  EXPECT_EQ(list.Items(), QStringList{"/f/b.jpg"});
}

}  // namespace
}  // namespace pagetrim
