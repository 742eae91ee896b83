// Hides the secrets in a stream of text that comes in pieces of any size.
#pragma once

#include <cstddef>
#include <functional>
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
  // Receives the masked text in order, in parts that are valid only for the call.
  using Sink = std::function<void(std::string_view)>;

  // Empty secrets are ignored.
  explicit OutputMasker(std::vector<Replacement> replacements);

  // Gives `sink` the masked form of everything in `piece` and before it that cannot be the
  // start of a secret still to be completed.
  void Feed(std::string_view piece, const Sink& sink);
  // Gives `sink` what was held back, masked where it holds a whole secret.
  void Finish(const Sink& sink);

  // The masked text of pieces fed in order, for callers that want one string.
  static std::string Mask(std::vector<Replacement> replacements,
                          const std::vector<std::string_view>& pieces);

 private:
  // Masks `text` into `sink` up to where a secret may still be under way (all of it when
  // `final`); the rest goes to `pending_`.
  void Scan(std::string_view text, const Sink& sink, bool final);
  // The first position at or after `at` whose byte begins some secret; text.size() if none.
  std::size_t NextCandidate(std::string_view text, std::size_t at);
  // The replacement of the longest secret that begins at `at`; null for none.
  const Replacement* MatchAt(std::string_view text, std::size_t at) const;
  // True when `tail` is the start of some secret longer than it.
  bool MayBeginSecret(std::string_view tail) const;

  std::vector<Replacement> replacements_;  // longest secret first
  std::size_t longest_ = 0;                // the longest secret's length
  std::string firstBytes_;                 // each secret's first byte, once
  // For the scan under way: where each of firstBytes_ next occurs (text.size(): nowhere;
  // the largest size_t: not searched yet), so that each byte's search goes over the text
  // once, however often the others match.
  std::vector<std::size_t> nextAt_;
  std::string pending_;
};

}  // namespace hvs
