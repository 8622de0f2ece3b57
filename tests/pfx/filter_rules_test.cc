#include "pfx/filter_rules.h"

#include <gtest/gtest.h>

namespace quorvant {
namespace {

using Entries = NameEntries;

TEST(FilterRulesTest, Alternatives) {
  struct Case {
    std::string text;
    std::vector<std::string> alternatives;
  } cases[] = {
      {"", {}},
      {"/", {}},
      {"//", {}},
      {"S_C", {}},                               // short pieces go
      {"S_C//S_O", {}},
      {"S_CN=Alice,S_O=Bank//S_CN=Bob", {"S_CN=Alice,S_O=Bank", "S_CN=Bob"}},
      {"S_CN=A//", {"S_CN=A"}},
      {"abcd////efgh", {"abcd", "efgh"}},
      {"abc//defg//hi", {"defg"}},
      {"abcd", {"abcd"}},
      {"x///yyyy", {"/yyyy"}},                  // cut at the first "//"
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitFilterAlternatives(c.text), c.alternatives) << c.text;
  }
}

TEST(FilterRulesTest, EntrySplitting) {
  struct Case {
    std::string text;
    Entries entries;
  } cases[] = {
      {"CN=Alice, O=Bank, C=TW", {"CN=Alice", "O=Bank", "C=TW"}},
      {"CN=Doe, John, O=Bank", {"CN=Doe, John", "O=Bank"}},      // continuation
      {"CN=Doe,,John", {"CN=Doe,John"}},                          // empty tokens vanish
      {"CN=A\\nO=B", {"CN=A", "O=B"}},                            // "\n" as two characters
      {"CN=A\r\nO=B\nC=TW", {"CN=A", "O=B", "C=TW"}},
      {"CN = Alice ,O= Bank", {"CN=Alice", "O=Bank"}},
      {"=x,CN=A", {"=x", "CN=A"}},                                // "=" first continues
      {"junk,CN=A", {"junk", "CN=A"}},
      {"", {}},
      {"OU=A + CN=B, O=C", {"OU=A + CN=B", "O=C"}},               // multi-valued stays whole
      {"CN=  two", {"CN= two"}},                                  // one pass of "= "
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitNameEntries(c.text), c.entries) << c.text;
  }
}

TEST(FilterRulesTest, PrefixedEntries) {
  EXPECT_EQ(PrefixedEntries("S_CN=Alice,I_O=Root CA,S_O=Bank,CN=x", "S_"),
            (Entries{"CN=Alice", "O=Bank"}));
  EXPECT_EQ(PrefixedEntries("S_CN=Alice,I_O=Root CA", "I_"), (Entries{"O=Root CA"}));
  EXPECT_EQ(PrefixedEntries("S_CN=Doe, John", "S_"), (Entries{"CN=Doe, John"}));
}

TEST(FilterRulesTest, MatchCertificateNeedsEveryNamedAttribute) {
  const Entries aliceAtBank = {"CN=Alice", "O=Bank", "SN=01AB"};
  const Entries bob = {"CN=Bob", "SN=02"};
  const Entries aliceAtBankTw = {"CN=Alice", "O=Bank", "C=TW", "SN=01AB"};
  struct Case {
    const char* name;
    Entries filter;
    Entries certificate;
    bool match;
  } cases[] = {
      {"empty filter", {}, aliceAtBank, true},
      {"empty certificate", {"CN=Alice"}, {}, false},
      {"every attribute named", {"CN=Alice", "O=Bank"}, aliceAtBank, true},
      {"filter may name more", {"CN=Bob", "O=Bank"}, bob, true},
      {"a country left unnamed", {"CN=Alice", "O=Bank"}, aliceAtBankTw, false},
      {"exact, not substring", {"CN=Ali", "O=Bank"}, aliceAtBank, false},
      {"case matters", {"CN=alice", "O=Bank"}, aliceAtBank, false},
      {"serial is ignored", {"CN=Bob"}, bob, true},
      {"no C, O, OU or CN", {"CN=x"}, {"E=a@b", "SN=01"}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchCertificate(c.filter, c.certificate), c.match) << c.name;
  }
}

TEST(FilterRulesTest, MatchFilterRules) {
  const Entries subject = {"CN=Alice Wang", "OU=Retail Banking", "O=Example Bank", "C=TW",
                           "SN=00FF10"};
  struct Case {
    const char* name;
    Entries filter;
    bool match;
  } cases[] = {
      {"empty filter", {}, true},
      {"CN substring", {"CN=lic"}, true},
      {"CN needs an occurrence after position 0", {"CN=CN"}, false},
      {"CN % removed", {"CN=%Wang"}, true},
      {"CN case-sensitive", {"CN=alice"}, false},
      {"O exact", {"O=Example Bank"}, true},
      {"O exact fails", {"O=Example"}, false},
      {"O % form is a substring", {"O=%Bank"}, true},
      {"O % form fails", {"O=%Credit"}, false},
      {"OU % form", {"OU=%Retail"}, true},
      {"OU exact", {"OU=Retail Banking"}, true},
      {"C exact", {"C=TW"}, true},
      {"C other", {"C=US"}, false},
      {"SN ignores case", {"SN=00ff10"}, true},
      {"SN differs", {"SN=00FF11"}, false},
      {"all must hold", {"CN=lic", "C=US"}, false},
      {"only unconstrained entries", {"E=a@b.c"}, false},
      {"unconstrained ignored beside constrained", {"E=a@b.c", "C=TW"}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchFilter(c.filter, subject), c.match) << c.name;
  }
  EXPECT_FALSE(MatchFilter({"C=TW"}, {}));
}

TEST(FilterRulesTest, DatePreference) {
  const ValidityTexts early = {"2020/01/01 00:00:00", "2030/01/01 00:00:00"};
  const ValidityTexts late = {"2021/01/01 00:00:00", "2029/01/01 00:00:00"};
  struct Case {
    int32_t flags;
    bool lateReplacesEarly;
    bool earlyReplacesLate;
  } cases[] = {
      {0x00, true, false},   // latest NotBefore
      {0x20, false, true},   // earliest NotBefore
      {0x60, false, true},   // 0x20 wins over 0x40
      {0x40, false, true},   // latest NotAfter
      {0xC0, false, true},   // 0x40 wins over 0x80
      {0x80, true, false},   // earliest NotAfter
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PreferByDate(c.flags, late, early), c.lateReplacesEarly) << c.flags;
    EXPECT_EQ(PreferByDate(c.flags, early, late), c.earlyReplacesLate) << c.flags;
    EXPECT_FALSE(PreferByDate(c.flags, early, early)) << "ties keep the earlier";
  }
}

}  // namespace
}  // namespace quorvant
