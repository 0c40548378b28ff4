// The movement list: loading the memo text, ordered and plain additions,
// rendering, and the record key that heads the memos.
#include "db/tramitaList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cau::db {
namespace {

using Lines = std::vector<std::string>;

const std::string kHeader = "chave= " + RecordKey(12, 5, "abc") + "&Tramita\r\n";

TEST(RecordKeyTest, NumbersRightAlignedNumberPaddedUpperCaseAtoZOnly) {
  EXPECT_EQ(RecordKey(12, 5, "abc"), "  12   5ABC" + std::string(97, ' '));
  // Accented letters keep their case; padding counts characters, not bytes.
  std::string key = RecordKey(1, 2, "ação");
  EXPECT_EQ(key, "   1   2AçãO" + std::string(96, ' '));
  // Nothing is cut.
  EXPECT_EQ(RecordKey(123456, 7, std::string(101, 'x')), "123456   7" + std::string(101, 'X'));
}

TEST(TramitaListTest, RenderedMemoLoadsAndRendersTheSame) {
  TTramitaList list;
  list.AddEntry("09/03/2011", "14:05", "Conclusos para despacho", true);
  list.AddEntry("2/3/2011", "", "Audiência designada", true);
  const std::string text = list.RenderText(12, 5, "abc");
  EXPECT_EQ(text, kHeader +
                      "Dt_1=09/03/2011\r\nHr_1=14:05\r\nTxt_1=Conclusos para despacho\r\n"
                      "Dt_2=02/03/2011\r\nTxt_2=Audiência designada\r\n");
  EXPECT_EQ(list.Entries(),
            (Lines{"201103091405=Conclusos para despacho", "201103020000=Audiência designada"}));

  TTramitaList again;
  again.LoadText(text);
  EXPECT_EQ(again.Entries(), list.Entries());
  EXPECT_EQ(again.RenderText(12, 5, "abc"), text);
  EXPECT_EQ(again.NewestKey(), "201103091405");
}

TEST(TramitaListTest, LoadingRules) {
  struct Case {
    const char* name;
    std::string memo;
    Lines entries;
  };
  const std::vector<Case> cases = {
      {"no Hr_ line gives 00:00", "Dt_1=02/03/2011\r\nTxt_1=a\r\n", {"201103020000=a"}},
      {"short date", "Dt_1=9/3/11\r\nHr_1=14:05\r\nTxt_1=a\r\n", {"201103091405=a"}},
      {"same dated entry twice",
       "Dt_1=09/03/2011\r\nTxt_1=a\r\nDt_2=09/03/2011\r\nTxt_2=a\r\n",
       {"201103090000=a"}},
      {"entries differing only in case, accents included",
       "Dt_1=09/03/2011\r\nTxt_1=Audiência\r\nDt_2=09/03/2011\r\nTxt_2=AUDIÊNCIA\r\n",
       {"201103090000=Audiência"}},
      {"header, lower-case prefixes and other lines ignored",
       "chave=   12   5ABC&Tramita\r\ndt_1=01/01/2011\r\nDt_2=02/01/2011\r\ntxt_2=x\r\n"
       "Txt_2=b\r\nOutra=linha\r\n",
       {"201101020000=b"}},
      {"a second Txt after one date replaces the first",
       "Dt_1=09/03/2011\r\nTxt_1=a\r\nTxt_1=b\r\n",
       {"201103090000=b"}},
      {"an empty Dt_ continues the previous text",
       "Dt_1=09/03/2011\r\nTxt_1=a\r\nDt_2=\r\nTxt_2=b\r\nDt_3=08/03/2011\r\nTxt_3=c\r\n",
       {"201103090000=a<br/>b", "201103080000=c"}},
      {"texts before the first date are dropped", "Txt_0=solto\r\nDt_1=09/03/2011\r\n", {}},
      {"lone CR and LF end lines too", "Dt_1=09/03/2011\rHr_1=10:00\nTxt_1=a", {"201103091000=a"}},
      {"a date the key cannot hold is dropped",
       "Dt_1=01/01/1949\r\nTxt_1=velho\r\nDt_2=00/01/2011\r\nTxt_2=zero\r\n",
       {}},
      {"a time the key cannot hold keeps the movement at 00:00",
       "Dt_1=09/03/2011\r\nHr_1=949\r\nTxt_1=a\r\nDt_2=08/03/2011\r\nHr_2=1=2\r\nTxt_2=b\r\n"
       "Dt_3=07/03/2011\r\nHr_3=9:5\r\nTxt_3=c\r\n",
       {"201103090000=a", "201103080000=b", "201103070905=c"}},
      {"a loaded list keeps the memo's order",
       "Dt_1=01/01/2011\r\nTxt_1=a\r\nDt_2=05/01/2011\r\nTxt_2=b\r\n",
       {"201101010000=a", "201101050000=b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTramitaList list;
    list.AddEntry("01/01/2000", "", "antes", false);
    list.LoadText(c.memo);
    EXPECT_EQ(list.Entries(), c.entries);
    EXPECT_FALSE(list.Added());
  }
}

TEST(TramitaListTest, OrderedAdditions) {
  struct Case {
    const char* name;
    std::string date, time, text;
    Lines entries;
    bool added;
  };
  // The list starts as: 201103091405=b, 201103050000=a.
  const std::vector<Case> cases = {
      {"between newer and older",
       "07/03/2011",
       "",
       "c",
       {"201103091405=b", "201103070000=c", "201103050000=a"},
       true},
      {"an equal key goes after it",
       "9/3/2011",
       "14:05",
       "d",
       {"201103091405=b", "201103091405=d", "201103050000=a"},
       true},
      {"newest goes first",
       "10/03/2011",
       "08:00",
       "e",
       {"201103100800=e", "201103091405=b", "201103050000=a"},
       true},
      {"oldest goes last",
       "01/01/2011",
       "",
       "f",
       {"201103091405=b", "201103050000=a", "201101010000=f"},
       true},
      {"already there, other case",
       "05/03/2011",
       "00:00",
       "A",
       {"201103091405=b", "201103050000=a"},
       false},
      {"empty text", "07/03/2011", "", "   ", {"201103091405=b", "201103050000=a"}, false},
      {"not a date", "32/13/2011", "", "g", {"201103091405=b", "201103050000=a"}, false},
      {"a year the key refuses",
       "01/01/1949",
       "",
       "g",
       {"201103091405=b", "201103050000=a"},
       false},
      {"CR and LF become blanks, text trimmed",
       "06/03/2011",
       " 9:05 ",
       "  x\r\ny\n ",
       {"201103091405=b", "201103060905=x  y", "201103050000=a"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTramitaList list;
    list.LoadText("Dt_1=09/03/2011\r\nHr_1=14:05\r\nTxt_1=b\r\nDt_2=05/03/2011\r\nTxt_2=a\r\n");
    list.AddEntry(c.date, c.time, c.text, true);
    EXPECT_EQ(list.Entries(), c.entries);
    EXPECT_EQ(list.Added(), c.added);
    EXPECT_EQ(list.NewestKey(), list.Entries().front().substr(0, 12));
  }
}

TEST(TramitaListTest, PlainAdditionAppendsAndEmptyListRendersHeaderOnly) {
  TTramitaList list;
  EXPECT_EQ(list.RenderText(12, 5, "abc"), kHeader);
  EXPECT_EQ(list.NewestKey(), "");
  list.AddEntry("01/01/2011", "", "velho", false);
  list.AddEntry("02/01/2011", "", "novo", false);
  EXPECT_EQ(list.Entries(), (Lines{"201101010000=velho", "201101020000=novo"}));
  EXPECT_TRUE(list.Added());
  // The header comes from the arguments, not from the loaded memo.
  list.LoadText("chave= outra&Tramita\r\nDt_1=01/01/2011\r\nTxt_1=a\r\n");
  EXPECT_EQ(list.RenderText(12, 5, "abc"), kHeader + "Dt_1=01/01/2011\r\nTxt_1=a\r\n");
}

}  // namespace
}  // namespace cau::db
