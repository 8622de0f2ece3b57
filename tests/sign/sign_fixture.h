// Signers for the signing tests, made by OpenSSL's command line once per
// test program: a root CA, and end-entity certificates it issued for RSA
// keys of 1024, 2048 and 4096 bits, each also as a PKCS #12 file written by
// `openssl pkcs12 -export`. Each test gets a fresh per-user data directory
// (QUORVANT_HOME) in which the personal store and the key database live.
#ifndef QUORVANT_TESTS_SIGN_SIGN_FIXTURE_H_
#define QUORVANT_TESTS_SIGN_SIGN_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "encoding/code_page.h"
#include "engine/fake_services.h"
#include "engine/security_engine.h"
#include "pfx/pfx_store.h"
#include "platform/stores/cert_store.h"
#include "support/tool_commands.h"

namespace quorvant::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline std::u16string U16(const std::string& utf8) { return WideFromUtf8(utf8); }

// The pointer-and-length form the signing tests write their buffers with.
inline void WriteBytes(const fs::path& path, const void* data, size_t size) {
  WriteBytes(path, std::span<const uint8_t>(static_cast<const uint8_t*>(data), size));
}

struct Signer {
  int bits = 0;
  fs::path key, cert, pfx;  // PEM key and certificate, PKCS #12 file
  std::string password;
  std::string commonName;
};

// Made once: the CA and the three signers.
struct SignMaterial {
  fs::path dir;
  fs::path caKey, caCert;
  std::map<int, Signer> signers;
  bool ok = false;

  static const SignMaterial& Get() {
    static const SignMaterial material = Make();
    return material;
  }

 private:
  static SignMaterial Make() {
    SignMaterial m;
    std::string pattern = (fs::temp_directory_path() / "quorvant-sign-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return m;
    m.dir = pattern;
    m.caKey = m.dir / "ca.key";
    m.caCert = m.dir / "ca.pem";
    const std::string d = m.dir.string();
    {
      std::ofstream ext(m.dir / "leaf.ext");
      ext << "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,nonRepudiation\n";
    }
    if (RunQuiet("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + m.caKey.string() + " -out " +
            m.caCert.string() +
            " -days 3650 -subj '/CN=Quorvant Test Root/O=Quorvant Test' "
            "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign") != 0) {
      return m;
    }
    int serial = 0x1A2B00;
    for (int bits : {1024, 2048, 4096}) {
      Signer s;
      s.bits = bits;
      const std::string base = d + "/signer" + std::to_string(bits);
      s.key = base + ".key";
      s.cert = base + ".pem";
      s.pfx = base + ".pfx";
      s.password = "pw" + std::to_string(bits);
      s.commonName = "Signer " + std::to_string(bits);
      const std::string csr = base + ".csr";
      if (RunQuiet("openssl req -newkey rsa:" + std::to_string(bits) + " -nodes -keyout " +
              s.key.string() + " -out " + csr + " -subj '/C=TW/O=Quorvant Test/CN=" +
              s.commonName + "'") != 0 ||
          RunQuiet("openssl x509 -req -in " + csr + " -CA " + m.caCert.string() + " -CAkey " +
              m.caKey.string() + " -set_serial " + std::to_string(++serial) +
              " -days 3650 -extfile " + d + "/leaf.ext -out " + s.cert.string()) != 0 ||
          RunQuiet("openssl pkcs12 -export -inkey " + s.key.string() + " -in " + s.cert.string() +
              " -out " + s.pfx.string() + " -passout pass:" + s.password) != 0) {
        return m;
      }
      m.signers[bits] = s;
    }
    m.ok = true;
    return m;
  }
};

inline Bytes PemToDer(const fs::path& pem) {
  const fs::path der = pem.string() + ".der";
  if (!fs::exists(der)) RunQuiet("openssl x509 -in " + pem.string() + " -outform DER -out " + der.string());
  return ReadBytes(der);
}

// A dialog host that answers from a queue and records what it was shown.
class QueueDialogHost final : public DialogHost {
 public:
  struct Answer {
    DialogOutcome outcome = DialogOutcome::kCannotCreate;
    int32_t index = 0;          // 204
    FileDialogValues values;    // 202
  };
  std::deque<Answer> answers;
  std::vector<DialogId> shown;
  std::vector<size_t> rowCounts;
  std::vector<SignConfirmation> confirmations;

  DialogOutcome fileDialog(const FileDialogRequest& request, FileDialogValues* values) override {
    shown.push_back(request.id);
    Answer a = next();
    if (a.outcome == DialogOutcome::kOk) *values = a.values;
    return a.outcome;
  }
  DialogOutcome chooseCertificate(const std::vector<CertificateRow>& rows,
                                  int32_t* index) override {
    shown.push_back(DialogId::kCertificateList);
    rowCounts.push_back(rows.size());
    Answer a = next();
    if (a.outcome == DialogOutcome::kOk) *index = a.index;
    return a.outcome;
  }
  DialogOutcome confirmSigning(const SignConfirmation& details) override {
    shown.push_back(DialogId::kSignConfirmation);
    confirmations.push_back(details);
    return next().outcome;
  }

 private:
  Answer next() {
    if (answers.empty()) return Answer{};
    Answer a = answers.front();
    answers.pop_front();
    return a;
  }
};

// A fresh per-user directory with an engine over it.
class SignTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SetActiveCodePage(950));
    if (!SignMaterial::Get().ok) GTEST_SKIP() << "openssl could not make the test signers";
    setenv("QUORVANT_HOME", fakes_.dataDirectory->path().c_str(), 1);
    fakes_.clock->now = std::time(nullptr);
    fakes_.dialogs = dialogs_;
    engine_ = fakes_.makeEngine();
  }

  const SignMaterial& material() const { return SignMaterial::Get(); }
  const Signer& signer(int bits) const { return material().signers.at(bits); }
  fs::path scratch(const std::string& name) const {
    return fs::path(fakes_.dataDirectory->path()) / name;
  }

  CertStore store(const char* name) {
    CertStore s;
    EXPECT_EQ(fakes_.stores->openSystemStore(name, &s), 0u);
    return s;
  }

  // Puts the signer's certificate with its key into MY, the way an import
  // does: the PKCS #12 file's keys kept in the user's key database.
  void addToPersonalStore(const Signer& s) {
    PfxStore pfx;
    ASSERT_EQ(pfx.open(s.pfx.string(), s.password, 1), 0);
    pfx.setRemoveKeysOnClose(false);
    std::vector<CertContext> certificates;
    ASSERT_EQ(pfx.store().enumerate(&certificates), 0u);
    for (const CertContext& c : certificates) {
      ASSERT_EQ(store("MY").addContext(c, AddDisposition::kReplaceExisting), 0u);
    }
  }

  // Selects the signer of `bits` from MY (media 1) or from its PFX file (2).
  void select(const Signer& s, int media) {
    if (media == 1) {
      addToPersonalStore(s);
      ASSERT_EQ(engine_->SelectSigner(U16("S_CN=" + s.commonName), 0x108, 0), 0);
    } else {
      ASSERT_EQ(engine_->SelectSignerEx(U16("S_CN=" + s.commonName), U16(s.pfx.parent_path()),
                                        U16(s.pfx.filename()), U16(s.password), u"", 0x208, 0),
                0);
    }
  }

  FakeServices fakes_;
  std::shared_ptr<QueueDialogHost> dialogs_ = std::make_shared<QueueDialogHost>();
  std::unique_ptr<SecurityEngine> engine_;
};

}  // namespace quorvant::testing

#endif  // QUORVANT_TESTS_SIGN_SIGN_FIXTURE_H_
