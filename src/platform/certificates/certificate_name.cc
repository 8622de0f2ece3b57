#include "platform/certificates/certificate_name.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <memory>
#include <vector>

namespace quorvant {
namespace {

struct X500Key {
  std::string_view oid;
  std::u16string_view key;
};

// The keys the platform writes in the X.500 form, first key of each type.
constexpr X500Key kX500Keys[] = {
    {"2.5.4.3", u"CN"},
    {"2.5.4.7", u"L"},
    {"2.5.4.10", u"O"},
    {"2.5.4.11", u"OU"},
    {"1.2.840.113549.1.9.1", u"E"},
    {"2.5.4.6", u"C"},
    {"2.5.4.8", u"S"},
    {"2.5.4.9", u"STREET"},
    {"2.5.4.12", u"T"},
    {"2.5.4.42", u"G"},
    {"2.5.4.43", u"I"},
    {"2.5.4.4", u"SN"},
    {"0.9.2342.19200300.100.1.25", u"DC"},
    {"2.5.4.5", u"SERIALNUMBER"},
    {"2.5.4.13", u"Description"},
    {"2.5.4.17", u"PostalCode"},
    {"2.5.4.18", u"POBox"},
    {"2.5.4.20", u"Phone"},
    {"2.5.4.24", u"X21Address"},
    {"2.5.4.46", u"dnQualifier"},
};

// 2.5.29.17 and 2.5.29.18, subject and issuer alternative names.
constexpr uint8_t kSubjectAltNameOid[] = {0x55, 0x1D, 0x11};
constexpr uint8_t kIssuerAltNameOid[] = {0x55, 0x1D, 0x12};

constexpr char16_t kReplacement = 0xFFFD;

void AppendCodePoint(std::u16string* out, uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out->push_back(static_cast<char16_t>(cp));
  }
}

void AppendLatin1(std::span<const uint8_t> bytes, std::u16string* out) {
  for (uint8_t b : bytes) AppendCodePoint(out, b);
}

// RFC 3629 UTF-8. Every malformed or overlong sequence, surrogate and value
// above U+10FFFF gives one U+FFFD; the answer says whether there was none.
bool AppendUtf8(std::span<const uint8_t> bytes, std::u16string* out) {
  bool clean = true;
  size_t i = 0;
  while (i < bytes.size()) {
    const uint8_t lead = bytes[i];
    size_t extra = 0;
    uint32_t cp = 0;
    uint32_t minimum = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
      out->push_back(kReplacement);
      clean = false;
      ++i;
      continue;
    }
    size_t taken = 1;
    bool ok = true;
    for (; taken <= extra; ++taken) {
      if (i + taken >= bytes.size() || (bytes[i + taken] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (bytes[i + taken] & 0x3F);
    }
    if (!ok || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out->push_back(kReplacement);
      clean = false;
      i += taken;
      continue;
    }
    if (cp == 0) clean = false;
    AppendCodePoint(out, cp);
    i += taken;
  }
  return clean;
}

void AppendHex(std::span<const uint8_t> bytes, std::u16string* out) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  for (uint8_t b : bytes) {
    out->push_back(kDigits[b >> 4]);
    out->push_back(kDigits[b & 0x0F]);
  }
}

std::u16string_view KeyOf(std::string_view dottedOid) {
  for (const X500Key& k : kX500Keys) {
    if (k.oid == dottedOid) return k.key;
  }
  return {};
}

// One AttributeTypeAndValue ::= SEQUENCE { type OID, value ANY }.
struct Attribute {
  std::span<const uint8_t> oid;
  der::Element value;
};

// Calls `visit(attribute, startsRelativeName)` for each attribute in
// encoding order; false when the name does not decode (or `visit` stops).
template <typename Visit>
bool WalkName(std::span<const uint8_t> encodedName, Visit visit) {
  der::Reader top(encodedName);
  der::Element name;
  if (!top.read(der::kSequence, &name) || !top.atEnd()) return false;
  der::Reader relativeNames(name.content);
  while (!relativeNames.atEnd()) {
    der::Element set;
    if (!relativeNames.read(der::kSet, &set)) return false;
    der::Reader attributes(set.content);
    bool first = true;
    while (!attributes.atEnd()) {
      der::Element sequence, oid;
      Attribute attribute;
      if (!attributes.read(der::kSequence, &sequence)) return false;
      der::Reader parts(sequence.content);
      if (!parts.read(der::kOid, &oid) || !parts.read(&attribute.value) || !parts.atEnd()) {
        return false;
      }
      attribute.oid = oid.content;
      if (!visit(attribute, first)) return false;
      first = false;
    }
  }
  return true;
}

bool NameIsEmpty(std::span<const uint8_t> encodedName) {
  bool any = false;
  WalkName(encodedName, [&](const Attribute&, bool) {
    any = true;
    return false;
  });
  return !any;
}

// The first directoryName ([4] EXPLICIT Name) of a GeneralNames extension.
std::optional<std::span<const uint8_t>> FirstDirectoryName(std::span<const uint8_t> value) {
  der::Reader top(value);
  der::Element names;
  if (!top.read(der::kSequence, &names)) return std::nullopt;
  der::Reader items(names.content);
  der::Element item;
  while (items.read(&item)) {
    if (item.tag == der::ContextConstructed(4)) {
      der::Reader inner(item.content);
      der::Element name;
      if (inner.read(der::kSequence, &name)) return name.encoded;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace

std::string OidText(std::span<const uint8_t> content) {
  if (content.empty() || (content.back() & 0x80) != 0) return std::string();
  std::string text;
  uint64_t arc = 0;
  bool firstArc = true;
  for (uint8_t b : content) {
    if (arc > (UINT64_MAX >> 7)) {
      // An arc beyond 64 bits: let OpenSSL's arbitrary-precision writer
      // render the whole identifier.
      std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> object(
          ASN1_OBJECT_create(NID_undef, const_cast<unsigned char*>(content.data()),
                             static_cast<int>(content.size()), nullptr, nullptr),
          &ASN1_OBJECT_free);
      if (!object) return std::string();
      const int needed = OBJ_obj2txt(nullptr, 0, object.get(), 1);
      if (needed <= 0) return std::string();
      std::string big(static_cast<size_t>(needed) + 1, '\0');
      OBJ_obj2txt(big.data(), needed + 1, object.get(), 1);
      big.resize(static_cast<size_t>(needed));
      return big;
    }
    arc = (arc << 7) | (b & 0x7F);
    if (b & 0x80) continue;
    if (firstArc) {
      // X.690 section 8.19.4: the first subidentifier packs two arcs.
      const uint64_t top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
      text += std::to_string(top);
      text += '.';
      text += std::to_string(arc - top * 40);
      firstArc = false;
    } else {
      text += '.';
      text += std::to_string(arc);
    }
    arc = 0;
  }
  return text;
}

std::u16string RdnValueText(const der::Element& value) {
  std::u16string text;
  const auto bytes = value.content;
  switch (value.tag) {
    case der::kPrintableString:
    case der::kIa5String:
    case der::kNumericString:
    case der::kVisibleString:
    case der::kGraphicString:
    case der::kGeneralString:
    case der::kVideotexString:
      AppendLatin1(bytes, &text);
      break;
    case der::kT61String:
      if (!AppendUtf8(bytes, &text)) {
        text.clear();
        AppendLatin1(bytes, &text);
      }
      break;
    case der::kUtf8String:
      AppendUtf8(bytes, &text);
      break;
    case der::kBmpString:
      for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]);
        text.push_back(unit == 0 ? kReplacement : unit);
      }
      if (bytes.size() % 2 != 0) text.push_back(kReplacement);
      break;
    case der::kUniversalString:
      for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
        AppendCodePoint(&text, (uint32_t{bytes[i]} << 24) | (uint32_t{bytes[i + 1]} << 16) |
                                   (uint32_t{bytes[i + 2]} << 8) | bytes[i + 3]);
      }
      if (bytes.size() % 4 != 0) text.push_back(kReplacement);
      break;
    case der::kOctetString:
      text.push_back(u'#');
      AppendHex(bytes, &text);
      break;
    default:
      text.push_back(u'#');
      AppendHex(value.encoded, &text);
      break;
  }
  return text;
}

std::u16string X500NameText(std::span<const uint8_t> encodedName) {
  std::u16string text;
  bool any = false;
  const bool ok = WalkName(encodedName, [&](const Attribute& attribute, bool startsRdn) {
    if (any) text += startsRdn ? u", " : u" + ";
    any = true;
    const std::string dotted = OidText(attribute.oid);
    if (dotted.empty()) return false;
    const std::u16string_view key = KeyOf(dotted);
    if (!key.empty()) {
      text += key;
    } else {
      text += u"OID.";
      text.append(dotted.begin(), dotted.end());
    }
    text += u'=';
    text += RdnValueText(attribute.value);
    return true;
  });
  if (!ok) text.clear();
  return text;
}

std::optional<std::u16string> NameAttributeText(std::span<const uint8_t> encodedName,
                                                std::string_view dottedOid) {
  std::optional<std::u16string> found;
  WalkName(encodedName, [&](const Attribute& attribute, bool) {
    if (OidText(attribute.oid) != dottedOid) return true;
    found = RdnValueText(attribute.value);
    return false;
  });
  return found;
}

std::u16string CertificateNameAttribute(const Certificate& certificate, NameSide side,
                                        std::string_view dottedOid) {
  const bool subject = side == NameSide::kSubject;
  const auto name = subject ? certificate.subject() : certificate.issuer();
  if (!NameIsEmpty(name)) return NameAttributeText(name, dottedOid).value_or(std::u16string());
  const auto extension =
      certificate.extension(subject ? std::span<const uint8_t>(kSubjectAltNameOid)
                                    : std::span<const uint8_t>(kIssuerAltNameOid));
  if (!extension) return std::u16string();
  const auto directoryName = FirstDirectoryName(*extension);
  if (!directoryName) return std::u16string();
  return NameAttributeText(*directoryName, dottedOid).value_or(std::u16string());
}

}  // namespace quorvant
