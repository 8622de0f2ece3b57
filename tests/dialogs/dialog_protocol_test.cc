// The helper protocol: frames written out by hand, every way the helper's
// answer can be wrong, and the request as the helper reads it back.
#include "dialogs/dialog_protocol.h"

#include <gtest/gtest.h>

#include "encoding/code_page.h"

namespace quorvant {
namespace {

std::string Frame(const std::string& body) {
  return "QVDLG/1 " + std::to_string(body.size()) + "\n" + body;
}

FrameReader::Status ReadOne(const std::string& bytes, ProtocolMessage* out) {
  FrameReader reader;
  reader.append(bytes.data(), bytes.size());
  return reader.next(out);
}

TEST(DialogProtocolTest, DecodesAHandWrittenFrame) {
  const std::string body =
      "message result\n"
      "dialog 202\n"
      "outcome ok\n"
      "directory /tmp/a%20b\n"
      "password %B1K%BDX\n"  // 密碼 in Big5, escaped where not printable
      "note\n";
  ProtocolMessage m;
  ASSERT_EQ(ReadOne(Frame(body), &m), FrameReader::Status::kFrame);
  ASSERT_EQ(m.size(), 6u);
  EXPECT_EQ(m[3].key, "directory");
  EXPECT_EQ(m[3].value, "/tmp/a b");
  EXPECT_EQ(m[4].value, "\xB1K\xBDX");
  EXPECT_EQ(m[5].key, "note");
  EXPECT_EQ(m[5].value, "");
}

TEST(DialogProtocolTest, EncodesToTheWireFormat) {
  EXPECT_EQ(EncodeFrame({{"message", "shown"}, {"text", "a b%\n\xA4"}, {"empty", ""}}),
            Frame("message shown\ntext a%20b%25%0A%A4\nempty\n"));
}

TEST(DialogProtocolTest, FramesArriveInPieces) {
  const std::string two = Frame("message shown\ndialog 205\n") + Frame("message result\n");
  FrameReader reader;
  ProtocolMessage m;
  size_t frames = 0;
  for (char c : two) {
    reader.append(&c, 1);
    while (reader.next(&m) == FrameReader::Status::kFrame) ++frames;
  }
  EXPECT_EQ(frames, 2u);
  EXPECT_EQ(m.at(0).value, "result");
  EXPECT_TRUE(reader.empty());
  EXPECT_EQ(reader.next(&m), FrameReader::Status::kNeedMore);
}

TEST(DialogProtocolTest, RejectsBrokenFrames) {
  const std::string cases[] = {
      "QVDLG/2 4\nab\n\n",                              // another protocol
      "HTTP/1.1 200 OK\r\n",                            // not ours at all
      "QVDLG/1 04\nab\n\n",                             // leading zero
      "QVDLG/1 -4\n",                                   // negative
      "QVDLG/1 99999999\n",                             // past the maximum
      "QVDLG/1 1234567890123\n",                        // a header that never ends
      "QVDLG/1 " + std::string(12, '1'),                // no newline in time
      Frame("message result"),                          // a line without \n
      Frame("Message result\n"),                        // key outside [a-z0-9-]
      Frame(" result\n"),                               // empty key
      Frame(std::string(33, 'k') + "\n"),               // key too long
      Frame("message re sult\n"),                       // a raw blank in a value
      Frame("message %G0\n"),                           // bad escape
      Frame("message %4\n"),                            // short escape
      Frame("message \n"),                              // a blank with no value
      Frame("message r\xC3\xA9sult\n"),                 // raw bytes above 0x7E
  };
  for (const std::string& bytes : cases) {
    ProtocolMessage m;
    FrameReader reader;
    reader.append(bytes.data(), bytes.size());
    EXPECT_EQ(reader.next(&m), FrameReader::Status::kBroken) << bytes;
    EXPECT_EQ(reader.next(&m), FrameReader::Status::kBroken) << "broken is final";
  }
}

DialogRequest ListRequest(size_t rows) {
  DialogRequest r;
  r.id = DialogId::kCertificateList;
  r.rows.resize(rows);
  return r;
}

TEST(DialogProtocolTest, ChecksTheHelpersAnswer) {
  struct Case {
    const char* name;
    DialogRequest request;
    std::string body;
    const char* error;  // nullptr: accepted
  } cases[] = {
      {"shown", ListRequest(2), "message shown\ndialog 204\n", nullptr},
      {"chosen", ListRequest(2), "message result\ndialog 204\noutcome ok\nindex 1\n", nullptr},
      {"cancelled, no index", ListRequest(2), "message result\ndialog 204\noutcome cancel\n", nullptr},
      {"index past the rows", ListRequest(2), "message result\ndialog 204\noutcome ok\nindex 2\n",
       "index outside the list"},
      {"no index", ListRequest(2), "message result\ndialog 204\noutcome ok\n",
       "index outside the list"},
      {"negative index", ListRequest(2), "message result\ndialog 204\noutcome ok\nindex -1\n",
       "bad index"},
      {"other dialog", ListRequest(2), "message result\ndialog 205\noutcome ok\n",
       "a message about another dialog"},
      {"no outcome", ListRequest(2), "message result\ndialog 204\nindex 0\n", "no outcome"},
      {"two outcomes", ListRequest(2), "message result\ndialog 204\noutcome ok\noutcome cancel\n",
       "repeated key outcome"},
      {"odd outcome", ListRequest(2), "message result\ndialog 204\noutcome maybe\n",
       "unknown outcome maybe"},
      {"unknown key", ListRequest(2), "message result\ndialog 204\noutcome ok\nindex 0\nextra 1\n",
       "unknown key extra"},
      {"shown with more", ListRequest(2), "message shown\ndialog 204\noutcome ok\n",
       "unexpected keys in shown"},
      {"dialog not second", ListRequest(2), "message result\noutcome ok\ndialog 204\n",
       "not a helper message"},
      {"unknown message", ListRequest(2), "message hello\ndialog 204\n", "unknown message hello"},
  };
  for (const Case& c : cases) {
    ProtocolMessage m;
    ASSERT_EQ(ReadOne(Frame(c.body), &m), FrameReader::Status::kFrame) << c.name;
    HelperEvent event;
    DialogResult result;
    std::string error;
    const bool ok = DecodeHelperMessage(m, c.request, &event, &result, &error);
    EXPECT_EQ(ok, c.error == nullptr) << c.name;
    if (c.error != nullptr) {
      EXPECT_EQ(error, c.error) << c.name;
    }
  }

  DialogRequest picker;
  picker.id = DialogId::kOpenFile;
  ProtocolMessage m;
  ASSERT_EQ(ReadOne(Frame("message result\ndialog 0\noutcome ok\n"), &m),
            FrameReader::Status::kFrame);
  HelperEvent event;
  DialogResult result;
  std::string error;
  EXPECT_FALSE(DecodeHelperMessage(m, picker, &event, &result, &error));
  EXPECT_EQ(error, "no path picked");
}

TEST(DialogProtocolTest, AResultCarriesValuesMessagesAndNotes) {
  DialogRequest request;
  request.id = DialogId::kChangePassword;
  ProtocolMessage m;
  ASSERT_EQ(ReadOne(Frame("message result\ndialog 203\noutcome ok\ndirectory /c\nfile a.pfx\n"
                          "old-password o\nnew-password n\nconfirmation n2\n"
                          "shown-message one\nshown-message two\nnote n1\n"),
                    &m),
            FrameReader::Status::kFrame);
  HelperEvent event;
  DialogResult r;
  std::string error;
  ASSERT_TRUE(DecodeHelperMessage(m, request, &event, &r, &error)) << error;
  EXPECT_EQ(event, HelperEvent::kResult);
  EXPECT_EQ(r.outcome, DialogOutcome::kOk);
  EXPECT_EQ(r.values.directory, "/c");
  EXPECT_EQ(r.values.fileName, "a.pfx");
  EXPECT_EQ(r.values.oldPassword, "o");
  EXPECT_EQ(r.values.newPassword, "n");
  EXPECT_EQ(r.values.confirmation, "n2");
  EXPECT_EQ(r.messages, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(r.notes, std::vector<std::string>{"n1"});
}

// The helper reads what the library wrote: the two ends of one contract.
TEST(DialogProtocolTest, TheHelperReadsTheRequestTheLibraryWrote) {
  ASSERT_TRUE(SetActiveCodePage(950));
  DialogRequest request;
  request.id = DialogId::kCertificateList;
  request.rows = {{ToNarrow(u"王小明"), "0A", "2020/01/01", "2021/01/01", "CA", {0x30, 0x00, 0xFF}},
                  {"", "", "", "", "", {}}};
  ScriptAction select;
  select.kind = ScriptAction::kSelect;
  select.number = 1;
  ScriptAction type;
  type.kind = ScriptAction::kType;
  type.field = PasswordField::kConfirmation;
  type.text = "a\nb c";
  const std::string frame = EncodeFrame(EncodeRequest(request, {select, type}, 950));

  ProtocolMessage m;
  ASSERT_EQ(ReadOne(frame, &m), FrameReader::Status::kFrame);
  DialogRequest back;
  std::vector<ScriptAction> steps;
  uint32_t codePage = 0;
  std::string error;
  ASSERT_TRUE(DecodeRequest(m, &back, &steps, &codePage, &error)) << error;
  EXPECT_EQ(codePage, 950u);
  EXPECT_EQ(back.id, DialogId::kCertificateList);
  ASSERT_EQ(back.rows.size(), 2u);
  EXPECT_EQ(back.rows[0].subject, ToNarrow(u"王小明"));
  EXPECT_EQ(back.rows[0].der, (std::vector<uint8_t>{0x30, 0x00, 0xFF}));
  EXPECT_TRUE(back.rows[1].der.empty());
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].kind, ScriptAction::kSelect);
  EXPECT_EQ(steps[0].number, 1);
  EXPECT_EQ(steps[1].field, PasswordField::kConfirmation);
  EXPECT_EQ(steps[1].text, "a\nb c");

  DialogRequest sign;
  sign.id = DialogId::kSignConfirmation;
  sign.signing.content = u"轉帳\n100";
  sign.signing.commonName = "cn";
  sign.signing.origin = u"https://bank.example";
  ASSERT_EQ(ReadOne(EncodeFrame(EncodeRequest(sign, {}, 950)), &m), FrameReader::Status::kFrame);
  ASSERT_TRUE(DecodeRequest(m, &back, &steps, &codePage, &error)) << error;
  EXPECT_EQ(back.signing.content, u"轉帳\n100");
  EXPECT_EQ(back.signing.commonName, "cn");
  EXPECT_EQ(back.signing.origin, u"https://bank.example");
}

TEST(DialogProtocolTest, RejectsBadRequests) {
  const char* cases[] = {
      "message result\ndialog 202\n",
      "message request\n",
      "message request\ndialog 208\n",
      "message request\ndialog 202\ndialog 203\n",
      "message request\ndialog 202\nmin x\n",
      "message request\ndialog 202\nmax 99999999999\n",
      "message request\ndialog 204\nrow-subject a\n",
      "message request\ndialog 204\nrow\nrow-der ABC\n",
      "message request\ndialog 204\nrow x\n",
      "message request\ndialog 202\nstep fly\n",
      "message request\ndialog 202\nstep-text a\n",
      "message request\ndialog 202\nstep type\nstep-field pin\n",
      "message request\ndialog 0\nhide-read-only 2\n",
      "message request\ndialog 202\ncodepage 0\n",
      "message request\ndialog 202\nsurprise 1\n",
  };
  for (const char* body : cases) {
    ProtocolMessage m;
    ASSERT_EQ(ReadOne(Frame(body), &m), FrameReader::Status::kFrame) << body;
    DialogRequest request;
    std::vector<ScriptAction> steps;
    uint32_t codePage;
    std::string error;
    EXPECT_FALSE(DecodeRequest(m, &request, &steps, &codePage, &error)) << body;
  }
}

}  // namespace
}  // namespace quorvant
