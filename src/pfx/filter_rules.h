// The text rules of CertificateFilter: how a filter text splits into
// alternatives, how names and filter alternatives split into entries
// ("attribute=value"), the two matching rules, and mode 2's date preference.
// Everything here works on narrow text in the component's code page.
#ifndef QUORVANT_PFX_FILTER_RULES_H_
#define QUORVANT_PFX_FILTER_RULES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvant {

using NameEntries = std::vector<std::string>;

// Alternatives of a filter text: a text longer than one character is cut at
// every "//"; pieces of more than three characters are kept, in order.
std::vector<std::string> SplitFilterAlternatives(std::string_view filterText);

// Entries of a name or of a filter alternative. The text is normalised ("\n"
// as two characters and line feeds become ",", carriage returns go, " =" and
// "= " become "="), cut at ","; a token with "=" after its first character
// starts a new entry, any other token continues the current one after a ","
// (so "CN=Doe, John" stays one entry). Entries are trimmed of white space.
NameEntries SplitNameEntries(std::string_view text);

// The entries of a filter alternative that begin with `prefix` ("S_" for the
// subject, "I_" for the issuer), without the prefix.
NameEntries PrefixedEntries(std::string_view alternative, std::string_view prefix);

// The rule with flag 0x08: every constrained filter entry (C=, O=, OU=, CN=,
// SN=) is satisfied by a certificate entry; O and OU take "%" forms, CN is a
// substring, SN ignores case. A non-empty filter needs at least one
// constrained entry.
bool MatchFilter(const NameEntries& filter, const NameEntries& certificate);

// The default rule: every C=, O=, OU= and CN= entry of the certificate is
// named exactly by the filter; a certificate with none of them does not
// match.
bool MatchCertificate(const NameEntries& filter, const NameEntries& certificate);

// Validity texts in the form "%04d/%02d/%02d %02d:%02d:%02d", which sort
// chronologically byte by byte.
struct ValidityTexts {
  std::string notBefore;
  std::string notAfter;
};

// Whether `candidate` replaces `preferred` under the date preference of
// `flags` (0x20 earliest NotBefore, else 0x40 latest NotAfter, else 0x80
// earliest NotAfter, else latest NotBefore). Ties keep the preferred one.
bool PreferByDate(int32_t flags, const ValidityTexts& candidate, const ValidityTexts& preferred);

}  // namespace quorvant

#endif  // QUORVANT_PFX_FILTER_RULES_H_
