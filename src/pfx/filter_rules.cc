#include "pfx/filter_rules.h"

#include <algorithm>
#include <cctype>

namespace quorvant {
namespace {

// One left-to-right pass that replaces every occurrence of `from`; the
// replaced text is not scanned again.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (;;) {
    const size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string Trimmed(std::string_view text) {
  const char* kSpace = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return std::string();
  const size_t last = text.find_last_not_of(kSpace);
  return std::string(text.substr(first, last - first + 1));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

std::string WithoutPercent(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '%') out += c;
  }
  return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

template <class Predicate>
bool AnyEntry(const NameEntries& entries, Predicate&& predicate) {
  return std::any_of(entries.begin(), entries.end(), predicate);
}

// O= and OU=: a "%" after the first character asks for a substring (the
// entry less its first three characters and its "%"s); otherwise equality.
bool OrganisationSatisfied(const std::string& entry, std::string_view marker,
                           const NameEntries& certificate) {
  if (entry.find('%', 1) != std::string::npos) {
    const std::string needle = WithoutPercent(std::string_view(entry).substr(3));
    return AnyEntry(certificate, [&](const std::string& c) {
      return Contains(c, marker) && Contains(c, needle);
    });
  }
  return AnyEntry(certificate,
                  [&](const std::string& c) { return Contains(c, marker) && c == entry; });
}

}  // namespace

std::vector<std::string> SplitFilterAlternatives(std::string_view filterText) {
  std::vector<std::string> alternatives;
  if (filterText.size() <= 1) return alternatives;
  size_t pos = 0;
  for (;;) {
    const size_t cut = filterText.find("//", pos);
    const std::string_view piece =
        filterText.substr(pos, cut == std::string_view::npos ? std::string_view::npos : cut - pos);
    if (piece.size() > 3) alternatives.emplace_back(piece);
    if (cut == std::string_view::npos) break;
    pos = cut + 2;
  }
  return alternatives;
}

NameEntries SplitNameEntries(std::string_view text) {
  std::string normal = ReplaceAll(text, "\\n", ",");
  normal.erase(std::remove(normal.begin(), normal.end(), '\r'), normal.end());
  std::replace(normal.begin(), normal.end(), '\n', ',');
  normal = ReplaceAll(normal, " =", "=");
  normal = ReplaceAll(normal, "= ", "=");

  NameEntries entries;
  std::string current;
  auto store = [&] {
    std::string entry = Trimmed(current);
    if (!entry.empty()) entries.push_back(std::move(entry));
  };
  size_t pos = 0;
  while (pos <= normal.size()) {
    size_t comma = normal.find(',', pos);
    if (comma == std::string::npos) comma = normal.size();
    const std::string_view token = std::string_view(normal).substr(pos, comma - pos);
    pos = comma + 1;
    if (token.empty()) continue;
    const size_t equals = token.find('=');
    if (equals != std::string_view::npos && equals >= 1) {
      store();
      current.assign(token);
    } else {
      if (!current.empty()) current += ',';
      current.append(token);
    }
  }
  store();
  return entries;
}

NameEntries PrefixedEntries(std::string_view alternative, std::string_view prefix) {
  NameEntries selected;
  for (std::string& entry : SplitNameEntries(alternative)) {
    if (StartsWith(entry, prefix)) selected.push_back(entry.substr(prefix.size()));
  }
  return selected;
}

bool MatchFilter(const NameEntries& filter, const NameEntries& certificate) {
  if (filter.empty()) return true;
  if (certificate.empty()) return false;
  bool constrained = false;
  for (const std::string& entry : filter) {
    bool satisfied = true;
    if (StartsWith(entry, "C=")) {
      satisfied = AnyEntry(certificate, [&](const std::string& c) {
        return Contains(c, "C=") && c == entry;
      });
    } else if (StartsWith(entry, "O=")) {
      satisfied = OrganisationSatisfied(entry, "O=", certificate);
    } else if (StartsWith(entry, "OU=")) {
      satisfied = OrganisationSatisfied(entry, "OU=", certificate);
    } else if (StartsWith(entry, "CN=")) {
      const std::string needle = WithoutPercent(std::string_view(entry).substr(3));
      satisfied = AnyEntry(certificate, [&](const std::string& c) {
        if (!Contains(c, "CN=")) return false;
        const size_t at = c.find(needle);
        return at != std::string::npos && at >= 1;
      });
    } else if (StartsWith(entry, "SN=")) {
      satisfied = AnyEntry(certificate, [&](const std::string& c) {
        return Contains(c, "SN=") && EqualsIgnoringCase(c, entry);
      });
    } else {
      continue;  // other attributes are not constrained
    }
    constrained = true;
    if (!satisfied) return false;
  }
  return constrained;
}

bool MatchCertificate(const NameEntries& filter, const NameEntries& certificate) {
  if (filter.empty()) return true;
  if (certificate.empty()) return false;
  bool named = false;
  for (const std::string& entry : certificate) {
    std::string_view marker;
    for (std::string_view m : {"C=", "O=", "OU=", "CN="}) {
      if (StartsWith(entry, m)) {
        marker = m;
        break;
      }
    }
    if (marker.empty()) continue;
    named = true;
    const bool found = AnyEntry(filter, [&](const std::string& f) {
      return Contains(f, marker) && f == entry;
    });
    if (!found) return false;
  }
  return named;
}

bool PreferByDate(int32_t flags, const ValidityTexts& candidate, const ValidityTexts& preferred) {
  if (flags & 0x20) return candidate.notBefore < preferred.notBefore;
  if (flags & 0x40) return candidate.notAfter > preferred.notAfter;
  if (flags & 0x80) return candidate.notAfter < preferred.notAfter;
  return candidate.notBefore > preferred.notBefore;
}

}  // namespace quorvant
