// AcceptPKCS7: installing the certificate a certification authority issued
// for a pending key.
//
// Nothing is stored until the reply's user certificate has been matched to
// a pending-key record and the record's container holds the very key the
// certificate certifies; a reply for someone else's key, or one that holds
// authorities only, changes no store. Of the authority certificates only
// those on the user certificate's issuer chain are stored, each one having
// verified the signature below it: intermediates go to "CA", the root to
// "ROOT" once the user agreed through the dialog host (with no dialog
// possible it is left out, as a trust decision nobody made).
#include <openssl/x509.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/openssl.h"
#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "certs/certificate_info.h"
#include "dialogs/dialog_host.h"
#include "encoding/base64.h"
#include "encoding/code_page.h"
#include "enroll/capi_session.h"
#include "enroll/pending_record.h"
#include "enroll/reply_reader.h"
#include "host/registry/registry.h"
#include "platform/stores/cert_store.h"
#include "platform/certificates/certificate.h"
#include "platform/certificates/certificate_name.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/key_blob.h"

namespace quorvant {
namespace {

struct ReplyCertificate {
  Certificate certificate;
  bool selfIssued = false;
  bool authority = false;
};

// Subject and issuer compared as whole texts, however long.
bool SelfIssued(const Certificate& c) {
  return X500NameText(c.subject()) == X500NameText(c.issuer());
}

OsslPtr<X509> OpensslCertificate(std::span<const uint8_t> der) {
  OsslPtr<X509> x(X509_new_ex(OpensslContext(), nullptr));
  if (!x) return nullptr;
  X509* target = x.get();
  const unsigned char* p = der.data();
  if (d2i_X509(&target, &p, static_cast<long>(der.size())) == nullptr) {
    // d2i_X509 freed it on failure.
    (void)x.release();
    return nullptr;
  }
  return x;
}

// Whether `issuer`'s key verifies `child`'s signature.
bool SignedBy(const Certificate& child, const Certificate& issuer) {
  OpensslErrorScope errors;
  OsslPtr<X509> c = OpensslCertificate(child.encoded());
  OsslPtr<X509> i = OpensslCertificate(issuer.encoded());
  if (!c || !i) return false;
  EVP_PKEY* key = X509_get0_pubkey(i.get());
  return key != nullptr && X509_verify(c.get(), key) == 1;
}

// The RSA key of the certificate as a PUBLICKEYBLOB; the header's algorithm
// does not take part in any comparison.
Result<std::vector<uint8_t>> PublicKeyBlob(const Certificate& c) {
  OpensslErrorScope errors;
  const auto spki = c.subjectPublicKeyInfo();
  const unsigned char* p = spki.data();
  OsslPtr<EVP_PKEY> key(
      d2i_PUBKEY_ex(nullptr, &p, static_cast<long>(spki.size()), OpensslContext(), nullptr));
  if (!key) return Outcome::Fail(rc::kBadCertificate, win32::kCryptEAsn1Badtag);
  ByteBuffer blob;
  if (const uint32_t error = EncodeRsaPublicKeyBlob(key.get(), kCalgRsaKeyx, &blob)) {
    return Outcome::Fail(rc::kBadCertificate, error);
  }
  return std::vector<uint8_t>(blob.bytes().begin(), blob.bytes().end());
}

bool SameKey(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() && a.size() > kBlobHeaderSize &&
         std::equal(a.begin() + kBlobHeaderSize, a.end(), b.begin() + kBlobHeaderSize);
}

struct Match {
  PendingKeyRecord record;
  std::shared_ptr<ProviderContext> context;
};

// The record whose public key is the certificate's and whose container
// holds that key. Records that do not pass their checks are passed over.
Result<Match> FindPendingKey(Registry& registry, const std::string& recordPath,
                             std::span<const uint8_t> certificateKey,
                             const std::shared_ptr<PlatformDatabase>& db) {
  if (const uint32_t error = registry.keyExists(RegRoot::kCurrentUser, recordPath)) {
    return Outcome::Fail(rc::kAccessDenied, error);
  }
  Outcome failure = Outcome::Fail(rc::kCertNotFound, reg::kErrNoMoreItems);
  for (uint32_t index = 0;; ++index) {
    std::string name;
    const uint32_t error = registry.enumSubkey(RegRoot::kCurrentUser, recordPath, index, &name);
    if (error != reg::kErrSuccess) {
      if (error != reg::kErrNoMoreItems) failure = Outcome::Fail(rc::kCertNotFound, error);
      break;
    }
    std::optional<PendingKeyRecord> record = ReadPendingRecord(registry, recordPath, name);
    if (!record || !SameKey(record->publicKey, certificateKey)) continue;
    std::unique_ptr<ProviderContext> context;
    if (const uint32_t acquire = ProviderContext::AcquireUtf8(
            name, record->providerName, record->providerType, 0, &context, db)) {
      failure = Outcome::Fail(rc::kCspUnavailable, acquire);
      continue;
    }
    std::unique_ptr<CryptKey> key;
    if (const uint32_t get = context->getUserKey(record->keySpec, &key)) {
      failure = Outcome::Fail(rc::kPersonalStoreDenied, get);
      continue;
    }
    ByteBuffer held;
    if (key->exportKey(kPublickeyblob, 0, &held) != 0 || !SameKey(held.bytes(), certificateKey)) {
      continue;
    }
    return Match{std::move(*record), std::shared_ptr<ProviderContext>(std::move(context))};
  }
  return failure;
}

// The authorities above `subject`, nearest first, each verifying the
// signature of the one below; ends at a self-issued certificate.
std::vector<const ReplyCertificate*> IssuerChain(const Certificate& subject,
                                                 const std::vector<ReplyCertificate>& reply) {
  std::vector<const ReplyCertificate*> chain;
  const Certificate* current = &subject;
  while (chain.size() < reply.size()) {
    if (SelfIssued(*current) && current != &subject) break;
    const ReplyCertificate* next = nullptr;
    for (const ReplyCertificate& candidate : reply) {
      if (!candidate.authority || &candidate.certificate == current) continue;
      if (std::find(chain.begin(), chain.end(), &candidate) != chain.end()) continue;
      const auto issuer = current->issuer();
      const auto name = candidate.certificate.subject();
      if (!std::equal(issuer.begin(), issuer.end(), name.begin(), name.end())) continue;
      if (!SignedBy(*current, candidate.certificate)) continue;
      next = &candidate;
      break;
    }
    if (next == nullptr) break;
    chain.push_back(next);
    current = &next->certificate;
  }
  return chain;
}

// A root the user already trusts is not asked about again.
bool AlreadyIn(CertificateStores* stores, const char* storeName, const Certificate& c) {
  CertStore store;
  std::vector<CertContext> present;
  if (stores->openSystemStore(storeName, &store) != 0 || store.enumerate(&present) != 0) {
    return false;
  }
  const Sha1Hash hash = Sha1Of(c.encoded());
  return std::any_of(present.begin(), present.end(),
                     [&](const CertContext& p) { return p.sha1Hash() == hash; });
}

void StoreAuthorities(const std::vector<const ReplyCertificate*>& chain, CertificateStores* stores,
                      DialogHost* dialogs) {
  for (const ReplyCertificate* authority : chain) {
    const Certificate& c = authority->certificate;
    const char* storeName = nullptr;
    if (authority->selfIssued) {
      if (!SignedBy(c, c)) continue;
      storeName = "ROOT";
      if (!AlreadyIn(stores, storeName, c)) {
        if (dialogs == nullptr) continue;
        const CertificateInfo info(c.encoded());
        RootAddition question;
        question.subject = info.subject();
        question.serial = info.serial();
        question.thumbprint = info.thumbprint();
        question.notBefore = info.notBefore(TimeForm::kDate);
        question.notAfter = info.notAfter(TimeForm::kDate);
        if (dialogs->confirmRootAddition(question) != DialogOutcome::kOk) continue;
      }
    } else {
      storeName = "CA";
    }
    // Failures here do not undo the enrolment: the user's certificate is
    // usable without them, and the store keeps what it had.
    CertStore store;
    if (stores->openSystemStore(storeName, &store) != 0) continue;
    (void)store.addEncoded(c.encoded(), AddDisposition::kReplaceExistingInheritProperties);
  }
}

}  // namespace

int32_t CapiSession::acceptReply(const EnrollHost& host, std::string_view reply) {
  resetCodes();
  if (!fail(probeRegistry(host)).ok()) return errorCode_;
  if (reply.empty()) return finish(Outcome::Fail(rc::kBadArgument));
  // Base64 takes at most 4 characters for 3 bytes, line breaks aside.
  if (reply.size() > 2 * kMaxReplyBytes) {
    return finish(Outcome::Fail(rc::kBadCertificate, win32::kCryptEBadLen));
  }
  const std::string text(reply);
  ByteBuffer decoded;
  if (!Base64Decode(text.c_str(), decoded) || decoded.empty()) {
    return finish(Outcome::Fail(rc::kBase64Error));
  }
  Result<ReplyContents> contents = ReadReply(decoded.bytes());
  if (!contents.ok()) return finish(contents.outcome());

  std::vector<ReplyCertificate> certificates;
  std::optional<size_t> user;
  for (const std::vector<uint8_t>& der : contents->certificates) {
    ReplyCertificate entry;
    if (const uint32_t error = Certificate::Parse(der, &entry.certificate)) {
      // A bare certificate must parse; one of a message that does not is
      // passed over.
      if (!contents->message) return finish(Outcome::Fail(rc::kBadCertificate, error));
      continue;
    }
    if (contents->message) {
      uint8_t usage = 0;
      entry.selfIssued = SelfIssued(entry.certificate);
      entry.authority = entry.selfIssued || (entry.certificate.intendedKeyUsage(&usage) &&
                                             (usage & kKeyUsageKeyCertSign) != 0);
    }
    certificates.push_back(std::move(entry));
    if (!certificates.back().authority) user = certificates.size() - 1;
  }
  if (!user) return finish(Outcome::Fail(rc::kKeyMissing));
  const Certificate& issued = certificates[*user].certificate;

  Result<std::vector<uint8_t>> key = PublicKeyBlob(issued);
  if (!key.ok()) return finish(key.outcome());
  Result<Match> match =
      FindPendingKey(*host.registry, recordPath_, *key, services_.keyDatabase);
  if (!match.ok()) return finish(match.outcome());

  CertContext context;
  if (const uint32_t error = CertContext::Create(issued.encoded(), &context)) {
    return finish(Outcome::Fail(rc::kBadCertificate, error));
  }
  KeyProviderInfo binding;
  binding.containerName = WideFromUtf8(match->record.container);
  binding.providerName = ToInterfaceText(match->record.providerName);
  binding.providerType = match->record.providerType;
  binding.flags = 0;
  binding.keySpec = match->record.keySpec;
  if (const uint32_t error = context.setKeyProviderInfo(binding)) {
    return finish(Outcome::Fail(rc::kPersonalStoreDenied, error));
  }
  context.setKeyContext(CertKeyContext{match->context, match->record.keySpec});
  // Every provider here is a software provider of the Microsoft family;
  // there is no token key to write the certificate into.

  if (host.stores == nullptr) {
    return finish(Outcome::Fail(rc::kPersonalStoreUnopenable, win32::kErrorFileNotFound));
  }
  StoreAuthorities(IssuerChain(issued, certificates), host.stores, host.dialogs);

  CertStore personal;
  if (const uint32_t error = host.stores->openSystemStore("MY", &personal)) {
    return finish(Outcome::Fail(rc::kPersonalStoreUnopenable, error));
  }
  // The same reply accepted again replaces its entry rather than adding a
  // second one.
  CertContext added;
  if (const uint32_t error = personal.addContext(
          context, AddDisposition::kReplaceExistingInheritProperties, &added)) {
    return finish(Outcome::Fail(rc::kPersonalStoreDenied, error));
  }
  const CertificateInfo info(issued.encoded());
  (void)added.setFriendlyName(ToInterfaceText(info.subjectCommonName()));
  return finish(Outcome::Ok());
}

}  // namespace quorvant
