#include "base/support.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace qv;

TEST(Support, AllocVecQ) {
  EXPECT_EQ(AllocVecQ(0, true), nullptr);
  auto* p = static_cast<unsigned char*>(AllocVecQ(64, true));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
  std::free(p);
}

TEST(Support, ListsKeepTheTailSentinel) {
  qvList list;
  InitList(&list);
  EXPECT_TRUE(IsListEmpty(&list));
  EXPECT_EQ(RemoveListHead(&list), nullptr);
  qvNode a{}, b{}, c{}, d{};
  AddListTail(&list, &b);
  AddListHead(&list, &a);
  AddListTail(&list, &d);
  InsertListNode(&list, &c, &b);
  // Walk: a b c d, and the last node's next is the tail word (whose next is null).
  qvNode* want[] = {&a, &b, &c, &d};
  qvNode* n = list.head;
  for (qvNode* w : want) {
    ASSERT_EQ(n, w);
    n = n->next;
  }
  EXPECT_EQ(n->next, nullptr);
  EXPECT_EQ(list.tailPred, &d);
  RemoveListNode(&c);
  EXPECT_EQ(b.next, &d);
  EXPECT_EQ(RemoveListHead(&list), &a);
  EXPECT_EQ(RemoveListHead(&list), &b);
  EXPECT_EQ(RemoveListHead(&list), &d);
  EXPECT_TRUE(IsListEmpty(&list));
}

TEST(Support, CaseFoldingIsLatin1WhateverTheLocale) {
  for (const char* loc : {"C", "C.UTF-8", "de_DE.ISO-8859-1"}) {
    std::setlocale(LC_ALL, loc);
    EXPECT_EQ(StrCaseCmp("\xC4rger", "\xE4RGER"), 0) << loc;  // Ärger vs äRGER
    EXPECT_NE(StrCaseCmp("stra\xDF"
                         "e",
                         "STRASSE"),
              0)
        << loc;
    EXPECT_NE(StrCaseCmp("\xF7", "\xD7"), 0) << loc;        // division and multiplication signs
    EXPECT_EQ(StrCaseCmp("\xDEorn", "\xFEORN"), 0) << loc;  // Þorn vs þORN
    char name[] = "LoadBrush\xC4\xDE\xFF";
    EXPECT_STREQ(LowerCaseString(name), "loadbrush\xE4\xFE\xFF") << loc;  // ÿ has no capital
  }
  std::setlocale(LC_ALL, "C");
  int changedUpper = 0, changedLower = 0;
  for (int i = 0; i < 256; ++i) {
    changedUpper += kUpperCase[i] != i;
    changedLower += kLowerCase[i] != i;
  }
  // The 26 ASCII letters and the 30 ISO-8859-1 pairs from 0xC0/0xE0 to 0xDE/0xFE without
  // 0xD7/0xF7.
  EXPECT_EQ(changedUpper, 56);
  EXPECT_EQ(changedLower, 56);
  EXPECT_EQ(kUpperCase[0xFE], 0xDE);
  EXPECT_EQ(kLowerCase[0xDE], 0xFE);
  EXPECT_EQ(kUpperCase[0xFF], 0xFF);
  EXPECT_EQ(StrNCaseCmp("abcX", "ABCy", 3), 0);
  EXPECT_EQ(StrNCaseCmp("a", "b", 0), 0);
  EXPECT_LT(StrCaseCmp("abc", "abd"), 0);
  EXPECT_GT(StrCaseCmp("abcd", "ABC"), 0);
}

TEST(Support, CharacterClasses) {
  struct Case {
    int c;
    int graph, letter, alnum;
  };
  const Case cases[] = {{' ', 0, 0, 0}, {'!', 1, 0, 0}, {'7', 1, 0, 1}, {'q', 1, 1, 1},
                        {160, 0, 0, 0}, {161, 1, 0, 0}, {192, 1, 1, 1}, {247, 1, 0, 0},
                        {255, 1, 1, 1}, {256, 0, 0, 0}, {127, 0, 0, 0}};
  for (const auto& k : cases) {
    EXPECT_EQ(IsGraphChar(k.c), k.graph) << k.c;
    EXPECT_EQ(IsLetterChar(k.c), k.letter) << k.c;
    EXPECT_EQ(IsAlnumChar(k.c), k.alnum) << k.c;
  }
}

TEST(Support, RoundToIntTiesToEven) {
  struct Case {
    double v;
    int32_t want;
  };
  const Case cases[] = {{2.5, 2},          {3.5, 4},           {-1.5, -2},
                        {-2.5, -2},        {0.49999, 0},       {-0.5, 0},
                        {1e9, 1000000000}, {4294967295.0, -1}, {2147483648.0, INT32_MIN},
                        {-3.7, -4}};
  for (const auto& k : cases) EXPECT_EQ(RoundToInt(k.v), k.want) << k.v;
}

TEST(Support, Random48MatchesTheDrand48Family) {
  SeedRandom48(0);
  const uint64_t first = (0x5DEECE66Dull * 0x330E + 0xB) & 0xFFFFFFFFFFFFull;
  EXPECT_EQ(Random48(), static_cast<double>(first) / 281474976710656.0);
  // Values of the same generator (srand48(1234) then drand48()) computed independently.
  SeedRandom48(1234);
  uint64_t x = (uint64_t{1234} << 16) | 0x330E;
  for (int i = 0; i < 1000; ++i) {
    x = (0x5DEECE66Dull * x + 0xB) & 0xFFFFFFFFFFFFull;
    double got = Random48();
    ASSERT_EQ(got, static_cast<double>(x) / 281474976710656.0) << i;
    ASSERT_GE(got, 0.0);
    ASSERT_LT(got, 1.0);
  }
  // The C library's srand48/drand48 give these for the same seeds.
  SeedRandom48(1234);
  for (double want : {0.74087692944249639, 0.21453485716799037, 0.33819583411435516})
    EXPECT_EQ(Random48(), want);
  SeedRandom48(0);
  EXPECT_EQ(Random48(), 0.17082803610628972);
}

TEST(Support, TimeValues) {
  qvTimeVal a{5, 100}, b{3, 200};
  SubTimeVal(&a, &b);
  EXPECT_EQ(a.seconds, 1u);
  EXPECT_EQ(a.micros, 999900u);
  qvTimeVal c{1, 999999}, d{0, 1};
  AddTimeVal(&c, &d);
  EXPECT_EQ(c.seconds, 2u);
  EXPECT_EQ(c.micros, 0u);
  EXPECT_EQ(CmpTimeVal(&a, &b), -1);
  EXPECT_EQ(CmpTimeVal(&b, &a), 1);
  EXPECT_EQ(CmpTimeVal(&a, &a), 0);
}
