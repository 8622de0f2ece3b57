// Texts of encoded X.501 Names (RFC 5280 section 4.1.2.4) as the platform
// renders them: the X.500 string form and single attribute values.
//
// Attribute values of every ASN.1 string type are decoded to UTF-16:
// PrintableString, IA5String, NumericString, VisibleString, GraphicString,
// GeneralString and VideotexString byte by byte (Latin-1); TeletexString
// first as UTF-8 and, when that is not valid UTF-8, byte by byte (the
// platform's decoder does the same for the strings old encoders wrote);
// UTF8String as UTF-8; BMPString as UTF-16 big-endian; UniversalString as
// UTF-32 big-endian. Malformed sequences and U+0000 become U+FFFD, so a
// value can neither vanish nor end early at an embedded zero. Values of any
// other type are written "#" and upper-case hex: the content octets of an
// OCTET STRING, the whole encoding otherwise.
#ifndef QUORVANT_PLATFORM_CERTIFICATE_NAME_H_
#define QUORVANT_PLATFORM_CERTIFICATE_NAME_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/certificates/certificate.h"
#include "platform/certificates/certificate_der.h"

namespace quorvant {

// CertNameToStrW with CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG
// (0x10000003): the relative names in encoding order joined by ", ", the
// attributes of a multi-valued relative name joined by " + ", each written
// key=value with the platform's short key (CN, L, O, OU, E, C, S, STREET, T,
// G, I, SN, DC, SERIALNUMBER, Description, PostalCode, POBox, Phone,
// X21Address, dnQualifier) or "OID." and the dotted number; values are
// never quoted or escaped. An empty name, or one that does not decode,
// gives the empty text.
std::u16string X500NameText(std::span<const uint8_t> encodedName);

// The value of the first attribute of type `dottedOid` in encoding order;
// nothing when the name has none or does not decode.
std::optional<std::u16string> NameAttributeText(std::span<const uint8_t> encodedName,
                                                std::string_view dottedOid);

enum class NameSide { kSubject, kIssuer };

// CertGetNameStringW with CERT_NAME_ATTR_TYPE: NameAttributeText of the
// certificate's subject (or issuer); when that name holds no attribute at
// all, the first directoryName of the subject (issuer) alternative name
// extension stands in. Empty when nothing is found.
std::u16string CertificateNameAttribute(const Certificate& certificate, NameSide side,
                                        std::string_view dottedOid);

// CertRDNValueToStrW of one encoded attribute value.
std::u16string RdnValueText(const der::Element& value);

// The dotted decimal form of an OBJECT IDENTIFIER's content octets (any arc
// size); empty when the octets are not a valid OID.
std::string OidText(std::span<const uint8_t> content);

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_CERTIFICATE_NAME_H_
