// Filter text and certificate names through every rule of the certificate
// filter: the input is "<filter text>\0<subject name>".
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pfx/filter_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string_view filter = input.substr(0, split);
  const std::string_view name =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
  const quorvant::NameEntries subject = quorvant::SplitNameEntries(name);
  for (const std::string& alternative : quorvant::SplitFilterAlternatives(filter)) {
    const auto subjectFilter = quorvant::PrefixedEntries(alternative, "S_");
    const auto issuerFilter = quorvant::PrefixedEntries(alternative, "I_");
    (void)quorvant::MatchFilter(subjectFilter, subject);
    (void)quorvant::MatchFilter(issuerFilter, subject);
    (void)quorvant::MatchCertificate(subjectFilter, subject);
  }
  return 0;
}
