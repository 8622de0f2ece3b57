#include "session.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "bridge/stand_in_component.h"
#include "method_table.h"

namespace quorvant::bridge {
namespace {

using nlohmann::json;

const std::u16string kOriginName =
    u"Software\\MORL\\QuorvantATL\\Bridge\\Origins\\https://bank.example";

json Handle(Session& session, const std::string& message) {
  return json::parse(session.handle(message));
}

json Connect(Session& session, const std::string& origin = "https://bank.example") {
  return Handle(session, json{{"connect", origin}}.dump());
}

TEST(BridgeMethodTableTest, EveryMethodOfTheControlWithItsDispId) {
  EXPECT_EQ(MethodTable().size(), 63u);
  struct Case {
    const char* name;
    int32_t dispId;
    size_t params;
  } cases[] = {{"GetVersion", 1, 0}, {"Hash", 30, 2}, {"SelectSignerEx2", 76, 7},
               {"DeleteIECert", 109, 1}};
  for (const Case& c : cases) {
    const MethodInfo* m = FindMethod(c.name);
    ASSERT_NE(m, nullptr) << c.name;
    EXPECT_EQ(m->dispId, c.dispId) << c.name;
    EXPECT_EQ(m->paramCount, c.params) << c.name;
  }
  // Not part of the dispatch interface, and names are matched exactly.
  EXPECT_EQ(FindMethod("CountWeakKeys"), nullptr);
  EXPECT_EQ(FindMethod("hash"), nullptr);
}

TEST(BridgeOriginTest, OnlySecureOriginsInTheBrowsersForm) {
  struct Case {
    const char* origin;
    bool accepted;
  } cases[] = {
      {"https://bank.example", true},
      {"https://bank.example:8443", true},
      {"http://127.0.0.1:8080", true},
      {"http://localhost", true},
      {"http://[::1]:9000", true},
      {"https://[2001:db8::1]", true},
      {"http://bank.example", false},        // not secure
      {"http://127.0.0.2", false},
      {"https://bank.example/", false},      // a path
      {"https://Bank.example", false},       // browsers lower-case hosts
      {"https://user@bank.example", false},
      {"https://bank.example:443", false},   // the default port is left out
      {"https://bank.example:0", false},
      {"https://bank.example:65536", false},
      {"https://bank.example:", false},
      {"https://", false},
      {"https://bank\\example", false},
      {"chrome-extension://abc", false},
      {"file://", false},
      {"null", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsAcceptedOrigin(c.origin), c.accepted) << c.origin;
}

TEST(BridgeSessionTest, ApprovalFollowsTheAdministratorThenTheUser) {
  constexpr int32_t kNoWord = -1;
  struct Case {
    const char* what;
    std::u16string machine;
    std::u16string user;
    int32_t dialogAnswer;  // kNoWord: the dialog must not be shown
    int32_t code;
    bool remembered;
  } cases[] = {
      {"listed by the administrator", u"1", u"", kNoWord, 0, false},
      {"refused by the administrator over the user", u"0", u"1", kNoWord, 5802, false},
      {"refused by the user before", u"", u"0", kNoWord, 5802, false},
      {"approved by the user before", u"", u"1", kNoWord, 0, false},
      {"approved now", u"", u"", 0, 0, true},
      {"declined now", u"", u"", 5807, 5801, false},
      {"no dialog possible", u"", u"", 5803, 5803, false},
  };
  for (const Case& c : cases) {
    StandInComponent component;
    if (!c.machine.empty()) component.machinePolicy[kOriginName] = c.machine;
    if (!c.user.empty()) component.userPolicy[kOriginName] = c.user;
    if (c.dialogAnswer != kNoWord) component.answers = {c.dialogAnswer};
    Session session(component);
    const json reply = Connect(session);
    EXPECT_EQ(reply["errorCode"], c.code) << c.what;
    EXPECT_EQ(reply["connected"], c.code == 0) << c.what;
    EXPECT_EQ(component.questions.size(), c.dialogAnswer == kNoWord ? 0u : 1u) << c.what;
    EXPECT_EQ(component.remembered.count(kOriginName), c.remembered ? 1u : 0u) << c.what;

    // A refused site's calls reach nothing; each answers the refusal.
    const json call = Handle(session, R"({"id": 4, "method": "Hash", "args": ["abc", 3]})");
    EXPECT_EQ(call["id"], 4);
    if (c.code == 0) {
      EXPECT_EQ(component.operations(), std::vector<std::string>{"Hash"}) << c.what;
    } else {
      EXPECT_EQ(call["errorCode"], c.code) << c.what;
      EXPECT_TRUE(component.calls.empty()) << c.what;
    }
  }
}

TEST(BridgeSessionTest, InsecureOriginIsRefusedWithoutAsking) {
  StandInComponent component;
  Session session(component);
  EXPECT_EQ(Connect(session, "http://bank.example")["errorCode"], 5801);
  EXPECT_TRUE(component.questions.empty());
  EXPECT_TRUE(component.remembered.empty());
}

TEST(BridgeSessionTest, EachMethodMeetsItsRule) {
  const std::u16string kSite = u"Software\\MORL\\QuorvantATL\\Sites\\https://bank.example\\";
  struct Case {
    const char* request;
    std::vector<int32_t> answers;  // the user's, in order
    int32_t refusal;               // 0: the call goes through
    size_t questions;
    std::vector<std::u16string> textArgs;  // as the control receives them
  } cases[] = {
      {R"(["GetMacAddress", []])", {}, 5808, 0, {}},
      {R"(["GetUserHomePath", []])", {}, 5808, 0, {}},
      {R"(["GetSignerPfxFilePath", []])", {}, 5808, 0, {}},
      {R"(["ExportMobileFromPfx", ["/a", "b.pfx", "pw", 0, 0]])", {}, 5805, 0, {}},
      {R"(["ExportMobileFromIE", ["CN=x", "pw", 0, 0]])", {}, 5805, 0, {}},
      {R"(["RegWriteHKCUStr", ["Software\\Classes\\x\\v", "y"]])", {}, 5806, 0, {}},
      {R"(["RegWriteHKCUInt", ["software\\MORL\\QuorvantATL\\Bridge\\Origins\\https://evil", 1]])",
       {}, 5806, 0, {}},
      {R"(["RegReadHKLM", ["HKEY_LOCAL_MACHINE\\x\\v"]])", {}, 5806, 0, {}},
      {R"(["RegReadHKCU", ["a\\..\\v"]])", {}, 5806, 0, {}},
      {R"(["RegReadHKCU", ["a\\\\v"]])", {}, 5806, 0, {}},
      {R"(["RegReadHKCU", [""]])", {}, 5806, 0, {}},
      {R"(["RegWriteHKCUStr", ["prefs\\colour", "blue"]])", {}, 0, 0,
       {kSite + u"prefs\\colour", u"blue"}},
      {R"(["RegReadHKLM", ["v"]])", {}, 0, 0, {kSite + u"v"}},
      {R"(["HashFile", ["/etc/shadow", 2]])", {}, 0, 0, {u""}},
      {R"(["ImportPfxToIE", ["/tmp", "a.pfx", "pw", 0, 0]])", {}, 0, 0, {u"", u"", u"pw"}},
      {R"(["ExportPfxFromIE", ["CN=x", "/tmp/out.pfx", "pw", 0, 0]])", {}, 0, 0,
       {u"CN=x", u"", u"pw"}},
      {R"(["SelectSignerEx2", ["S_CN=A", "/p", "n.pfx", 0, "", 0, 0]])", {}, 0, 0,
       {u"S_CN=A", u"", u"", u""}},
      {R"(["SignPkcs7", ["pay 1000", 0]])", {0}, 0, 1, {u"pay 1000"}},
      {R"(["SignPkcs7", ["pay 1000", 65535]])", {5804}, 5804, 1, {}},
      {R"(["SignPkcs1", ["pay 1000", 0]])", {5803}, 5803, 1, {}},
      {R"(["DeleteIECert", [0]])", {5807}, 5807, 1, {}},
      {R"(["DeleteIECert", [0]])", {0}, 0, 1, {}},
      {R"(["AcceptPKCS7", ["MIIB"]])", {5807}, 5807, 1, {}},
      {R"(["Hash", ["abc", 3]])", {}, 0, 0, {u"abc"}},
  };
  for (const Case& c : cases) {
    const json request = json::parse(c.request);
    StandInComponent component;
    component.userPolicy[kOriginName] = u"1";
    Session session(component);
    ASSERT_EQ(Connect(session)["connected"], true);
    component.answers = c.answers;
    const std::string method = request[0];
    const json reply =
        Handle(session, json{{"id", 9}, {"method", method}, {"args", request[1]}}.dump());
    EXPECT_EQ(component.questions.size(), c.questions) << c.request;
    if (c.refusal != 0) {
      EXPECT_EQ(reply["errorCode"], c.refusal) << c.request;
      EXPECT_TRUE(reply.contains("error")) << c.request;
      EXPECT_TRUE(component.operations().empty()) << c.request;
      // The page reads the refusal as it reads any result code.
      EXPECT_EQ(Handle(session, R"({"id": 10, "method": "GetErrorCode"})")["result"], c.refusal);
      continue;
    }
    EXPECT_FALSE(reply.contains("error")) << c.request << reply.dump();
    ASSERT_EQ(component.operations(), std::vector<std::string>{method}) << c.request;
    const RecordedCall* forwarded = nullptr;
    for (const RecordedCall& call : component.calls) {
      if (call.method == method) forwarded = &call;
    }
    std::vector<std::u16string> texts;
    for (const Argument& a : forwarded->args) {
      if (a.kind == ParamKind::kText) texts.push_back(a.text);
    }
    if (!c.textArgs.empty()) {
      EXPECT_EQ(texts, c.textArgs) << c.request;
    }
  }
}

TEST(BridgeSessionTest, SignConfirmationShowsTheOriginAndTheWholeText) {
  StandInComponent component;
  component.userPolicy[kOriginName] = u"1";
  component.textResult = u"0A1B";
  Session session(component);
  Connect(session);
  Handle(session, R"({"id": 1, "method": "SignPkcs7", "args": ["付款 1000 元\n給 Bob", 0]})");
  ASSERT_EQ(component.questions.size(), 1u);
  EXPECT_EQ(component.questions[0], u"https://bank.example | 付款 1000 元\n給 Bob | 0A1B");
}

TEST(BridgeSessionTest, CodesAreTheControlsOnceItAnswersAgain) {
  StandInComponent component;
  component.userPolicy[kOriginName] = u"1";
  Session session(component);
  Connect(session);
  // Right after connecting the page sees success, not the host's own reads.
  EXPECT_EQ(Handle(session, R"({"id": 1, "method": "GetErrorCode"})")["result"], 0);
  Handle(session, R"({"id": 2, "method": "GetMacAddress"})");
  EXPECT_EQ(Handle(session, R"({"id": 3, "method": "GetErrorCode"})")["result"], 5808);
  component.errorCode = 5005;
  const json hash = Handle(session, R"({"id": 4, "method": "Hash", "args": ["", 0]})");
  EXPECT_EQ(hash["errorCode"], 5005);
  EXPECT_EQ(Handle(session, R"({"id": 5, "method": "GetErrorCode"})")["result"], 5005);
}

TEST(BridgeSessionTest, MalformedRequestsAreAnsweredAndReachNothing) {
  struct Case {
    const char* message;
    bool hasId;
  } cases[] = {
      {"", false},
      {"{", false},
      {"[1]", false},
      {"\"Hash\"", false},
      {R"({"id": 1, "method": "Hash", "args": ["abc", 3]} x)", false},
      {R"({"id": 1, "id": 2, "method": "Hash", "args": ["abc", 3]})", false},
      {R"({"id": 1, "method": "Hash", "args": ["abc", 3], "extra": 1})", true},
      {R"({"method": "Hash", "args": ["abc", 3]})", false},
      {R"({"id": -1, "method": "Hash", "args": ["abc", 3]})", false},
      {R"({"id": 1.5, "method": "Hash", "args": ["abc", 3]})", false},
      {R"({"id": "1", "method": "Hash", "args": ["abc", 3]})", false},
      {R"({"id": 9007199254740992, "method": "Hash", "args": ["abc", 3]})", false},
      {R"({"id": 1, "method": "CountWeakKeys", "args": [1]})", true},
      {R"({"id": 1, "method": "hash", "args": ["abc", 3]})", true},
      {R"({"id": 1, "method": 30, "args": ["abc", 3]})", true},
      {R"({"id": 1, "method": "Hash", "args": ["abc"]})", true},
      {R"({"id": 1, "method": "Hash", "args": ["abc", 3, 4]})", true},
      {R"({"id": 1, "method": "Hash", "args": "abc"})", true},
      {R"({"id": 1, "method": "Hash", "args": [3, 3]})", true},
      {R"({"id": 1, "method": "Hash", "args": ["abc", "3"]})", true},
      {R"({"id": 1, "method": "Hash", "args": ["abc", true]})", true},
      {R"({"id": 1, "method": "Hash", "args": ["abc", 3.0]})", true},
      {R"({"id": 1, "method": "Hash", "args": ["abc", 4294967296]})", true},
      {R"({"id": 1, "method": "Hash", "args": ["abc", -2147483649]})", true},
      {R"({"id": 1, "method": "Hash", "args": [null, 3]})", true},
      {R"({"id": 1, "method": "Hash", "args": ["a\u0000bc", 3]})", true},
      {R"({"id": 1, "method": "Hash", "args": ["\ud800", 3]})", false},
      {"{\"id\": 1, \"method\": \"Hash\", \"args\": [\"\xff\", 3]}", false},
      {R"({"connect": "https://evil.example"})", false},  // a second connect
      {R"({"connect": "https://bank.example", "id": 1})", false},
  };
  for (const Case& c : cases) {
    StandInComponent component;
    component.userPolicy[kOriginName] = u"1";
    Session session(component);
    Connect(session);
    const size_t before = component.calls.size();
    const json reply = Handle(session, c.message);
    EXPECT_TRUE(reply.contains("error")) << c.message;
    EXPECT_EQ(reply.contains("id"), c.hasId) << c.message;
    EXPECT_EQ(component.calls.size(), before) << c.message;
  }
}

TEST(BridgeSessionTest, IntegersTakeTheirSignedValue) {
  StandInComponent component;
  component.userPolicy[kOriginName] = u"1";
  Session session(component);
  Connect(session);
  Handle(session, R"({"id": 1, "method": "Hash", "args": ["abc", 4294967295]})");
  Handle(session, R"({"id": 2, "method": "Hash", "args": ["abc", -2147483648]})");
  std::vector<int32_t> flags;
  for (const RecordedCall& c : component.calls) {
    if (c.method == "Hash") flags.push_back(c.args[1].value);
  }
  EXPECT_EQ(flags, (std::vector<int32_t>{-1, INT32_MIN}));
}

TEST(BridgeSessionTest, CallsBeforeConnectingAndOversizedRepliesAreErrors) {
  StandInComponent component;
  component.userPolicy[kOriginName] = u"1";
  Session session(component);
  EXPECT_EQ(Handle(session, R"({"id": 1, "method": "GetVersion"})")["error"], "not connected");
  EXPECT_TRUE(component.calls.empty());
  Connect(session);
  component.textResult.assign(600 * 1024, u'中');  // 1.8 MB of UTF-8
  const json reply = Handle(session, R"({"id": 2, "method": "GetVersion"})");
  EXPECT_EQ(reply["id"], 2);
  EXPECT_TRUE(reply.contains("error"));
  EXPECT_FALSE(reply.contains("result"));
}

}  // namespace
}  // namespace quorvant::bridge
