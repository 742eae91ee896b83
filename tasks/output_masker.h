// Hides the secrets in a stream of text that comes in pieces of any size.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hvs {

// A text to hide and what shows in its place.
using Replacement = std::pair<std::string, std::string>;

// Replaces every occurrence of each secret, also one split between two pieces. Where
// secrets overlap, the one that starts first wins, and of those that start together the
// longest. Holds back at most the longest secret's length less one byte.
class OutputMasker {
 public:
  // Empty secrets are ignored.
  explicit OutputMasker(std::vector<Replacement> replacements);

  // Appends to `out` the masked form of everything in `piece` and before it that cannot be
  // the start of a secret still to be completed.
  void Feed(std::string_view piece, std::string& out);
  // Appends what was held back, masked where it holds a whole secret.
  void Finish(std::string& out);

 private:
  // Masks `pending_` into `out` up to where a secret may still be under way (everything
  // when `final`), and keeps the rest.
  void Emit(std::string& out, bool final);
  // The replacement of the longest secret that begins at `at`; null for none.
  const Replacement* MatchAt(std::string_view text, std::size_t at) const;
  // True when `tail` is the start of some secret longer than it.
  bool MayBeginSecret(std::string_view tail) const;

  std::vector<Replacement> replacements_;  // longest secret first
  bool startsSecret_[256] = {};            // by first byte
  std::string pending_;
};

}  // namespace hvs
