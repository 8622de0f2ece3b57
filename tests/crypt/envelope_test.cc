// CertEncryptPkcs7 and CertDecryptPkcs7 against the openssl command line:
// envelopes we write open with `openssl cms -decrypt` and have the
// platform's structure; envelopes `openssl cms -encrypt` writes open with a
// key of the personal store or of a PFX file chosen in the dialog. The
// certificates, PFX files and foreign envelopes are made by
// data/make_crypt_files.sh.
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/openssl.h"
#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "crypt/crypt_test_util.h"
#include "crypt/envelope.h"
#include "dialogs/dialog_platform.h"
#include "dialogs/scripted_dialog_host.h"
#include "encoding/base64.h"
#include "encoding/code_page.h"
#include "engine/fake_services.h"
#include "engine/security_engine.h"
#include "pfx/pfx_store.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/crypto_provider_constants.h"
#include "platform/keys/key_blob.h"

namespace quorvant {
namespace {

using testing::FakeServices;
using testing::RunCommand;
using testing::Utf16Le;

constexpr int32_t kAnsi = 0x800;
const std::u16string kText = u"Hello, 中文 envelope";

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

std::u16string Base64Of(const std::string& bytes) {
  ByteBuffer text;
  EXPECT_TRUE(Base64Encode(bytes.data(), static_cast<int32_t>(bytes.size()), text));
  return WideFromUtf8(std::string(text.view()));
}

std::string Decoded(const std::u16string& base64) {
  ByteBuffer bytes;
  EXPECT_TRUE(Base64Decode(Utf8FromWide(base64).c_str(), bytes));
  return std::string(bytes.view());
}

OsslPtr<PKCS7> ParsePkcs7(const std::string& der) {
  const auto* at = reinterpret_cast<const unsigned char*>(der.data());
  return OsslPtr<PKCS7>(d2i_PKCS7(nullptr, &at, static_cast<long>(der.size())));
}

std::string Encode(PKCS7* message) {
  unsigned char* der = nullptr;
  const int length = i2d_PKCS7(message, &der);
  std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  return out;
}

class EnvelopeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    files_ = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                       ("quorvant-crypt-" + std::to_string(::getpid())));
    const auto script =
        std::filesystem::path(__FILE__).parent_path() / "data" / "make_crypt_files.sh";
    const std::string command = "bash '" + script.string() + "' '" + files_->string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*files_);
    delete files_;
  }

  static std::string File(const char* name) { return (*files_ / name).string(); }
  static std::string Bytes(const char* name) { return ReadFile(*files_ / name); }
  static std::u16string Pem(const char* name) { return WideFromUtf8(Bytes(name)); }

  // Puts the PFX file's certificates with their keys into MY; the keys stay
  // as long as the test.
  void InstallInMy(const char* pfxName) {
    auto pfx = std::make_unique<PfxStore>();
    ASSERT_EQ(pfx->open(File(pfxName), "pw", 0), 0);
    std::vector<CertContext> certificates;
    ASSERT_EQ(pfx->store().enumerate(&certificates), 0u);
    CertStore my;
    ASSERT_EQ(fakes_.stores->openSystemStore("MY", &my), 0u);
    for (const CertContext& c : certificates) ASSERT_EQ(my.addContext(c, AddDisposition::kAlways), 0u);
    installed_.push_back(std::move(pfx));
  }

  // A dialog host that plays `script`.
  void UseScript(const std::string& script) {
    auto host = std::make_shared<ScriptedDialogHost>(MakeLinuxDialogPlatform());
    std::string error;
    ASSERT_TRUE(host->enqueueScript(script, &error)) << error;
    fakes_.dialogs = host;
    engine_ = fakes_.makeEngine();
  }

  // `openssl cms -decrypt` of our envelope with alice's key: the content.
  std::string OpensslDecrypt(const std::u16string& envelope) {
    const std::string path = File("ours.der");
    std::ofstream(path, std::ios::binary) << Decoded(envelope);
    return RunCommand("openssl cms -decrypt -provider legacy -provider default -inform DER -in " +
                      path + " -inkey " + File("alice.key") + " -recip " + File("alice.pem"));
  }

  std::string Asn1Parse(const std::u16string& envelope) {
    const std::string path = File("ours.der");
    std::ofstream(path, std::ios::binary) << Decoded(envelope);
    return RunCommand("openssl asn1parse -inform DER -in " + path);
  }

  static std::filesystem::path* files_;
  FakeServices fakes_;
  std::unique_ptr<SecurityEngine> engine_ = fakes_.makeEngine();
  std::vector<std::unique_ptr<PfxStore>> installed_;
};

std::filesystem::path* EnvelopeTest::files_ = nullptr;

TEST_F(EnvelopeTest, OpensslDecryptsWhatWeWriteAndSeesThePlatformsStructure) {
  struct Case {
    int32_t iAlgorithm;
    const char* cipher;  // as asn1parse names it
    bool iv;
  } cases[] = {{0, "des-ede3-cbc", true}, {3, "des-ede3-cbc", true}, {-1, "des-ede3-cbc", true},
               {1, "des-cbc", true},      {2, "rc4", false}};
  const std::string serial = RunCommand("openssl x509 -noout -serial -in " + File("alice.pem"));
  ASSERT_TRUE(serial.starts_with("serial="));
  const std::string serialHex = serial.substr(7, serial.size() - 8);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cipher);
    for (int32_t flags : {0, kAnsi}) {
      const std::u16string envelope = engine_->CertEncryptPkcs7(kText, Pem("alice.pem"), c.iAlgorithm, flags);
      ASSERT_EQ(engine_->GetErrorCode(), 0);
      EXPECT_EQ(OpensslDecrypt(envelope),
                flags ? std::string("Hello, \xA4\xA4\xA4\xE5 envelope") : Utf16Le(kText));
    }
    const std::string parsed = Asn1Parse(engine_->CertEncryptPkcs7(kText, Pem("alice.pem"), c.iAlgorithm, 0));
    std::istringstream lines(parsed);
    std::vector<std::string> fields;
    for (std::string line; std::getline(lines, line);) fields.push_back(line.substr(line.find(':', 5) + 1));
    // ContentInfo, EnvelopedData version 0, one recipient of version 0 by
    // issuer and serial, rsaEncryption with NULL, then the content.
    ASSERT_GE(fields.size(), 20u);
    EXPECT_NE(fields[1].find(":pkcs7-envelopedData"), std::string::npos);
    EXPECT_NE(fields[4].find("INTEGER           :00"), std::string::npos);
    EXPECT_NE(fields[7].find("INTEGER           :00"), std::string::npos);
    EXPECT_NE(parsed.find("INTEGER           :" + serialHex), std::string::npos);
    const size_t rsa = parsed.find(":rsaEncryption\n");
    ASSERT_NE(rsa, std::string::npos);
    EXPECT_NE(parsed.find("prim: NULL", rsa), std::string::npos);
    const size_t cipher = parsed.find(std::string(":") + c.cipher + "\n");
    ASSERT_NE(cipher, std::string::npos) << parsed;
    EXPECT_NE(parsed.rfind(":pkcs7-data", cipher), std::string::npos);
    const std::string next = parsed.substr(cipher, parsed.find('\n', parsed.find('\n', cipher) + 1) - cipher);
    EXPECT_EQ(next.find("l=   8 prim: OCTET STRING") != std::string::npos, c.iv) << next;
    // The content is as long as the padded text: nothing was converted.
    const size_t padded = c.iv ? (kText.size() * 2 / 8 + 1) * 8 : kText.size() * 2;
    EXPECT_NE(parsed.find("l=" + std::string(padded < 100 ? "  " : " ") + std::to_string(padded) +
                          " prim: cont [ 0 ]"),
              std::string::npos)
        << parsed;
  }
}

// RC4 opened by hand: the key unwrapped with alice's key (RSA PKCS #1 v1.5)
// is 128 bits and decrypts the content, with no parameters in the way.
TEST_F(EnvelopeTest, Rc4KeyAndContentDecryptIndependently) {
  const std::string der = Decoded(engine_->CertEncryptPkcs7(kText, Pem("alice.pem"), 2, 0));
  OsslPtr<PKCS7> message = ParsePkcs7(der);
  ASSERT_TRUE(message);
  const PKCS7_ENVELOPE* envelope = message->d.enveloped;
  ASSERT_EQ(sk_PKCS7_RECIP_INFO_num(envelope->recipientinfo), 1);
  const PKCS7_RECIP_INFO* recipient = sk_PKCS7_RECIP_INFO_value(envelope->recipientinfo, 0);
  EXPECT_EQ(OBJ_obj2nid(envelope->enc_data->algorithm->algorithm), NID_rc4);

  const std::string keyPem = Bytes("alice.key");
  OsslPtr<BIO> keyBio(BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size())));
  OsslPtr<EVP_PKEY> key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
  ASSERT_TRUE(key);
  OsslPtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
  ASSERT_GT(EVP_PKEY_decrypt_init(ctx.get()), 0);
  ASSERT_GT(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING), 0);
  unsigned char contentKey[512];
  size_t keyLength = sizeof contentKey;
  ASSERT_GT(EVP_PKEY_decrypt(ctx.get(), contentKey, &keyLength, recipient->enc_key->data,
                             static_cast<size_t>(recipient->enc_key->length)),
            0);
  EXPECT_EQ(keyLength, 16u);

  OsslPtr<EVP_CIPHER> rc4(EVP_CIPHER_fetch(OpensslContext(), "RC4", nullptr));
  ASSERT_TRUE(rc4);
  OsslPtr<EVP_CIPHER_CTX> cipher(EVP_CIPHER_CTX_new());
  ASSERT_GT(EVP_DecryptInit_ex2(cipher.get(), rc4.get(), contentKey, nullptr, nullptr), 0);
  const ASN1_OCTET_STRING* data = envelope->enc_data->enc_data;
  std::string plain(static_cast<size_t>(data->length), '\0');
  int written = 0;
  ASSERT_GT(EVP_DecryptUpdate(cipher.get(), reinterpret_cast<unsigned char*>(plain.data()), &written,
                              data->data, data->length),
            0);
  EXPECT_EQ(plain, Utf16Le(kText));
}

TEST_F(EnvelopeTest, RecipientsComeInEveryForm) {
  const std::string pem = Bytes("alice.pem");
  std::string crlf;
  for (char ch : pem) {
    if (ch == '\n') crlf += '\r';
    crlf += ch;
  }
  struct Case {
    const char* name;
    std::u16string recipients;
    int count;
  } cases[] = {
      {"PEM", Pem("alice.pem"), 1},
      {"PEM with CR LF", WideFromUtf8(crlf), 1},
      {"bare Base64", Base64Of(Bytes("alice.der")), 1},
      {"bundle", Base64Of(Bytes("bundle.der")), 2},
      {"bundle with a certificate twice", Base64Of(Bytes("bundle_dup.der")), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string envelope = engine_->CertEncryptPkcs7(u"x", c.recipients, 0, 0);
    ASSERT_EQ(engine_->GetErrorCode(), 0);
    OsslPtr<PKCS7> message = ParsePkcs7(Decoded(envelope));
    ASSERT_TRUE(message);
    EXPECT_EQ(sk_PKCS7_RECIP_INFO_num(message->d.enveloped->recipientinfo), c.count);
    EXPECT_EQ(OpensslDecrypt(envelope), Utf16Le(u"x"));
  }
}

TEST_F(EnvelopeTest, EncryptionFailuresGiveTheirCodes) {
  struct Case {
    const char* name;
    std::u16string text;
    std::u16string recipients;
    bool protectedMode;
    int32_t code;
    uint32_t systemError;  // ~0u: any non-zero
  } cases[] = {
      {"empty text", u"", Pem("alice.pem"), false, rc::kBadArgument, 0},
      {"empty recipients", u"x", u"", false, rc::kBadArgument, 0},
      {"protected mode", u"x", Pem("alice.pem"), true, rc::kProtectedMode, 0},
      {"protected before recipients", u"x", u"", true, rc::kProtectedMode, 0},
      {"not starting with M", u"x", u"QUJD", false, rc::kBadCertificate, 0},
      {"armour of another kind", u"x", u"-----BEGIN X509-----\nMIIB", false, rc::kBadCertificate, 0},
      {"unclosed armour after M", u"x", u"MIIB----", false, rc::kBadCertificate, 0},
      {"neither message nor certificate", u"x", u"MAAA", false, rc::kBadCertificate, ~0u},
      {"message without certificates", u"x", Base64Of(Bytes("data.der")), false,
       rc::kBadCertificate, win32::kCryptEInvalidMsgType},
      {"empty bundle", u"x", Base64Of(Bytes("empty_bundle.der")), false, rc::kBadCertificate, 0},
      {"no key transport", u"x", Pem("ec.pem"), false, rc::kEncryptFailed, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServices fakes;
    fakes.protectedMode->on = c.protectedMode;
    auto engine = fakes.makeEngine();
    EXPECT_TRUE(engine->CertEncryptPkcs7(c.text, c.recipients, 0, 0).empty());
    EXPECT_EQ(engine->GetErrorCode(), c.code);
    if (c.systemError == ~0u) {
      EXPECT_NE(engine->GetCapiErrorCode(), 0);
    } else {
      EXPECT_EQ(static_cast<uint32_t>(engine->GetCapiErrorCode()), c.systemError);
    }
  }
}

TEST_F(EnvelopeTest, OpensForeignEnvelopesWithAKeyOfThePersonalStore) {
  InstallInMy("alice.pfx");
  struct Case {
    const char* file;
    int32_t flags;
    std::u16string text;
  } cases[] = {
      {"cms_des3.der", kAnsi, u"Hello, envelope"},
      {"cms_aes256.der", kAnsi, u"Hello, envelope"},
      {"cms_wide.der", 0, kText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(engine_->CertDecryptPkcs7(Base64Of(Bytes(c.file)), c.flags), c.text);
    EXPECT_EQ(engine_->GetErrorCode(), 0);
  }
  // Ours, both text forms; a character outside the code page is lost on
  // the way back.
  for (int32_t alg : {0, 1, 2}) {
    EXPECT_EQ(engine_->CertDecryptPkcs7(engine_->CertEncryptPkcs7(kText, Pem("alice.pem"), alg, kAnsi), kAnsi),
              kText);
    EXPECT_EQ(engine_->CertDecryptPkcs7(engine_->CertEncryptPkcs7(u"中 한", Pem("alice.pem"), alg, 0), 0),
              u"中 ?");
  }
}

TEST_F(EnvelopeTest, FallsBackToAPfxFileChosenInTheDialog) {
  const std::u16string envelope = Base64Of(Bytes("cms_des3.der"));
  const std::string pick = "dialog 202\nbrowse \"" + File("alice.pfx") + "\"\n";
  struct Case {
    const char* name;
    std::string script;  // empty: no dialog can be shown
    int32_t code;
  } cases[] = {
      {"the recipient's PFX", pick + "type password pw\npress ok\n", rc::kSuccess},
      {"cancelled", "dialog 202\npress cancel\n", rc::kUserCancelled},
      {"no dialog possible", "", rc::kAllocationFailed},
      {"wrong password", pick + "type password nope\npress ok\n", rc::kCertNotFound},
      {"another's PFX", "dialog 202\nbrowse \"" + File("bob.pfx") + "\"\ntype password pw\npress ok\n",
       rc::kNoDecryptCertificate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.script.empty()) {
      fakes_.dialogs = MakeNoDialogHost();
      engine_ = fakes_.makeEngine();
    } else {
      UseScript(c.script);
    }
    const std::u16string text = engine_->CertDecryptPkcs7(envelope, kAnsi);
    EXPECT_EQ(engine_->GetErrorCode(), c.code);
    EXPECT_EQ(text, c.code == rc::kSuccess ? u"Hello, envelope" : u"");
    if (c.code == rc::kCertNotFound) {
      EXPECT_NE(engine_->GetCapiErrorCode(), 0);
    }
  }
}

TEST_F(EnvelopeTest, DecryptionFailuresGiveTheirCodes) {
  InstallInMy("alice.pfx");
  struct Case {
    const char* name;
    std::u16string text;
    bool protectedMode;
    int32_t code;
  } cases[] = {
      {"empty", u"", false, rc::kBadArgument},
      {"unclosed armour", u"-----BEGIN PKCS7-----\nMIIB", false, rc::kBadCipherText},
      {"protected mode", Base64Of(Bytes("cms_des3.der")), true, rc::kProtectedMode},
      {"not a message", u"AAAA", false, rc::kDecryptFailed},
      {"another message type", Base64Of(Bytes("bundle.der")), false, rc::kBadPkcs7},
      {"a cipher not offered", Base64Of(Bytes("cms_camellia.der")), false, rc::kBadPkcs7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes_.protectedMode->on = c.protectedMode;
    engine_ = fakes_.makeEngine();
    EXPECT_TRUE(engine_->CertDecryptPkcs7(c.text, 0).empty());
    EXPECT_EQ(engine_->GetErrorCode(), c.code);
    EXPECT_EQ(engine_->GetCapiErrorCode(), 0);
  }
}

// A key that does not unwrap and content whose padding is wrong look the
// same, and only the first recipient with a key is ever tried.
TEST_F(EnvelopeTest, DecryptionIsNoOracle) {
  InstallInMy("alice.pfx");
  InstallInMy("bob.pfx");
  const std::string good = Decoded(engine_->CertEncryptPkcs7(u"secret", Base64Of(Bytes("bundle.der")), 0, 0));
  ASSERT_EQ(engine_->CertDecryptPkcs7(Base64Of(good), 0), u"secret");

  enum Damage { kFirstKey, kSecondKey, kLastContentByte };
  struct Case {
    const char* name;
    Damage damage;
    int32_t code;
  } cases[] = {
      {"first recipient's key", kFirstKey, rc::kDecryptFailed},
      {"second recipient's key (never tried)", kSecondKey, rc::kSuccess},
      {"padding", kLastContentByte, rc::kDecryptFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OsslPtr<PKCS7> message = ParsePkcs7(good);
    ASSERT_TRUE(message);
    PKCS7_ENVELOPE* envelope = message->d.enveloped;
    ASN1_OCTET_STRING* target =
        c.damage == kLastContentByte
            ? envelope->enc_data->enc_data
            : sk_PKCS7_RECIP_INFO_value(envelope->recipientinfo, c.damage == kFirstKey ? 0 : 1)->enc_key;
    target->data[target->length - 1] ^= 0x5A;
    const std::u16string text = engine_->CertDecryptPkcs7(Base64Of(Encode(message.get())), 0);
    EXPECT_EQ(engine_->GetErrorCode(), c.code);
    EXPECT_EQ(engine_->GetCapiErrorCode(), 0);
    EXPECT_EQ(text, c.code == rc::kSuccess ? u"secret" : u"");
  }
}

TEST_F(EnvelopeTest, SkipsRecipientsWithoutAKey) {
  InstallInMy("alice.pfx");
  const std::u16string envelope = engine_->CertEncryptPkcs7(u"x", Base64Of(Bytes("bundle_ba.der")), 1, 0);
  EXPECT_EQ(engine_->CertDecryptPkcs7(envelope, 0), u"x");
  EXPECT_EQ(engine_->GetErrorCode(), 0);
}

// The recipient's key kept as a signature key: the certificate does not
// serve for decryption.
TEST_F(EnvelopeTest, ASignatureKeyIsTheWrongUsage) {
  const std::string keyPem = Bytes("alice.key");
  OsslPtr<BIO> bio(BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size())));
  OsslPtr<EVP_PKEY> key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  ByteBuffer blob;
  ASSERT_EQ(EncodeRsaPrivateKeyBlob(key.get(), kCalgRsaSign, &blob), 0u);
  const std::string container = "crypt-test-signature-" + std::to_string(::getpid());
  std::unique_ptr<ProviderContext> context;
  ASSERT_EQ(ProviderContext::Acquire(container, kMsEnhancedProv, kProvRsaFull, kCryptNewkeyset,
                                     &context),
            0u);
  std::unique_ptr<CryptKey> imported;
  ASSERT_EQ(context->importKey(blob.bytes(), 0, &imported), 0u);
  CertStore my;
  CertContext added;
  ASSERT_EQ(fakes_.stores->openSystemStore("MY", &my), 0u);
  const std::string der = Bytes("alice.der");
  ASSERT_EQ(my.addEncoded(std::span(reinterpret_cast<const uint8_t*>(der.data()), der.size()),
                          AddDisposition::kAlways, &added),
            0u);
  ASSERT_EQ(added.setKeyProviderInfo(context->keyProviderInfo(kAtSignature)), 0u);

  EXPECT_TRUE(engine_->CertDecryptPkcs7(Base64Of(Bytes("cms_des3.der")), kAnsi).empty());
  EXPECT_EQ(engine_->GetErrorCode(), rc::kCertUsageMismatch);
  std::unique_ptr<ProviderContext> none;
  EXPECT_EQ(ProviderContext::Acquire(container, kMsEnhancedProv, kProvRsaFull, kCryptDeletekeyset,
                                     &none),
            0u);
}

TEST_F(EnvelopeTest, HostileSizesAreRefusedBeforeAnyWork) {
  const std::string pem = Bytes("alice.pem");
  OsslPtr<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  OsslPtr<X509> alice(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  ASSERT_TRUE(alice);

  // A bundle and an envelope with one recipient more than allowed.
  OsslPtr<PKCS7> bundle(PKCS7_new());
  ASSERT_GT(PKCS7_set_type(bundle.get(), NID_pkcs7_signed), 0);
  ASSERT_GT(PKCS7_content_new(bundle.get(), NID_pkcs7_data), 0);
  OsslPtr<X509Stack> many(sk_X509_new_null());
  for (size_t i = 0; i <= kMaxRecipients; ++i) {
    ASSERT_GT(PKCS7_add_certificate(bundle.get(), alice.get()), 0);
    X509_up_ref(alice.get());
    sk_X509_push(many.get(), alice.get());
  }
  EXPECT_TRUE(engine_->CertEncryptPkcs7(u"x", Base64Of(Encode(bundle.get())), 0, 0).empty());
  EXPECT_EQ(engine_->GetErrorCode(), rc::kBadCertificate);
  EXPECT_EQ(static_cast<uint32_t>(engine_->GetCapiErrorCode()), win32::kCryptEAsn1Large);

  OsslPtr<EVP_CIPHER> des3(EVP_CIPHER_fetch(OpensslContext(), "DES-EDE3-CBC", nullptr));
  OsslPtr<BIO> content(BIO_new_mem_buf("x", 1));
  OsslPtr<PKCS7> crowded(PKCS7_encrypt_ex(many.get(), content.get(), des3.get(), PKCS7_BINARY,
                                          OpensslContext(), nullptr));
  ASSERT_TRUE(crowded);
  const std::string der = Encode(crowded.get());
  EnvelopeMessage message;
  EXPECT_EQ(EnvelopeMessage::Read(std::span(reinterpret_cast<const uint8_t*>(der.data()), der.size()),
                                  &message),
            win32::kCryptEAsn1Large);
  EXPECT_TRUE(engine_->CertDecryptPkcs7(Base64Of(der), 0).empty());
  EXPECT_EQ(engine_->GetErrorCode(), rc::kDecryptFailed);

  const std::vector<uint8_t> huge(kMaxEnvelopeBytes + 1, 0x30);
  EXPECT_EQ(EnvelopeMessage::Read(huge, &message), win32::kCryptEAsn1Large);
}

}  // namespace
}  // namespace quorvant
