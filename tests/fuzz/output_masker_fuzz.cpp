// libFuzzer target: OutputMasker fed one text in random pieces.
//
// The input gives up to four secrets with their replacements, a seed that cuts the text into
// pieces, and the text. The masked pieces must equal the text masked at once and a plain
// leftmost-longest replacement; with every replacement "*****" and no "*" in a secret,
// the masked text must hold no secret.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tasks/output_masker.h"
#include "tests/fuzz/fail.h"

namespace {

constexpr const char* kTarget = "output_masker_fuzz";

using Replacements = std::vector<hvs::Replacement>;

// What the masker promises, written the slow way: at each position the longest secret that
// begins there is replaced, else the byte is kept.
std::string MaskPlainly(const Replacements& replacements, std::string_view text) {
  std::string masked;
  for (std::size_t at = 0; at < text.size();) {
    const hvs::Replacement* best = nullptr;
    for (const auto& replacement : replacements) {
      const std::string& secret = replacement.first;
      if (secret.empty() || text[at] != secret.front() ||
          text.compare(at, secret.size(), secret) != 0)
        continue;
      if (!best || secret.size() > best->first.size()) best = &replacement;
    }
    if (best) {
      masked += best->second;
      at += best->first.size();
    } else {
      masked += text[at++];
    }
  }
  return masked;
}

// `text` through one masker in pieces of random sizes (empty ones too) cut by `seed`.
std::string MaskInPieces(const Replacements& replacements, std::string_view text,
                         std::uint32_t seed) {
  std::minstd_rand random(seed);
  std::size_t longest = 1;
  for (const auto& replacement : replacements)
    longest = std::max(longest, replacement.first.size());
  std::uniform_int_distribution<std::size_t> pieceSize(0, 2 * longest + 1);

  hvs::OutputMasker masker(replacements);
  std::string masked;
  const auto sink = [&masked](std::string_view part) { masked.append(part); };
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t size = std::min(pieceSize(random), text.size() - at);
    masker.Feed(text.substr(at, size), sink);
    at += size;
  }
  masker.Finish(sink);
  return masked;
}

// Shows a finding's case on standard error, bytes outside printable ASCII as \xNN.
void Show(const char* label, std::string_view text) {
  std::fprintf(stderr, "%s \"", label);
  for (const unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '\\' && c != '"') std::fputc(c, stderr);
    else std::fprintf(stderr, "\\x%02x", c);
  }
  std::fprintf(stderr, "\"\n");
}

// Returns the text masked in pieces.
std::string Check(const Replacements& replacements, std::string_view text, std::uint32_t seed) {
  std::string inPieces = MaskInPieces(replacements, text, seed);
  const std::string atOnce = hvs::OutputMasker::Mask(replacements, {text});
  const std::string plainly = MaskPlainly(replacements, text);
  if (inPieces == atOnce && atOnce == plainly) return inPieces;
  for (const auto& [secret, shown] : replacements) {
    Show("secret", secret);
    Show("  shown as", shown);
  }
  Show("text", text);
  Show("in pieces", inPieces);
  Show("at once", atOnce);
  Show("plainly", plainly);
  fuzzsupport::Fail(kTarget, inPieces != atOnce ? "masked in pieces differs from masked at once"
                                                 : "masked text differs from the leftmost longest replacement");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  Replacements replacements;
  const int count = provider.ConsumeIntegralInRange(0, 4);
  for (int i = 0; i < count; ++i) {
    std::string secret = provider.ConsumeRandomLengthString(24);
    std::string shown = provider.ConsumeRandomLengthString(8);
    // Two replacements of one secret leave the choice between them open.
    const bool known = std::any_of(replacements.begin(), replacements.end(),
                                   [&](const auto& other) { return other.first == secret; });
    if (!known) replacements.emplace_back(std::move(secret), std::move(shown));
  }
  const std::uint32_t seed = provider.ConsumeIntegral<std::uint32_t>();
  const std::string text = provider.ConsumeRemainingBytesAsString();
  Check(replacements, text, seed);

  Replacements stars;
  for (const auto& [secret, shown] : replacements)
    if (secret.find('*') == std::string::npos) stars.emplace_back(secret, "*****");
  const std::string masked = Check(stars, text, seed);
  for (const auto& [secret, shown] : stars)
    if (!secret.empty() && masked.find(secret) != std::string::npos)
      fuzzsupport::Fail(kTarget, "a secret shows in the masked text");
  return 0;
}
