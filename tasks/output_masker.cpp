// Secret masking of a run's output, piece by piece.
#include "tasks/output_masker.h"

#include <algorithm>

namespace hvs {

OutputMasker::OutputMasker(std::vector<Replacement> replacements) {
  std::erase_if(replacements, [](const Replacement& r) { return r.first.empty(); });
  std::stable_sort(replacements.begin(), replacements.end(),
                   [](const Replacement& a, const Replacement& b) {
                     return a.first.size() > b.first.size();
                   });
  replacements_ = std::move(replacements);
  for (const Replacement& r : replacements_)
    startsSecret_[static_cast<unsigned char>(r.first.front())] = true;
}

void OutputMasker::Feed(std::string_view piece, std::string& out) {
  if (replacements_.empty()) {
    out.append(piece);
    return;
  }
  pending_.append(piece);
  Emit(out, false);
}

void OutputMasker::Finish(std::string& out) { Emit(out, true); }

const Replacement* OutputMasker::MatchAt(std::string_view text, std::size_t at) const {
  for (const Replacement& r : replacements_)
    if (text.substr(at, r.first.size()) == r.first) return &r;
  return nullptr;
}

bool OutputMasker::MayBeginSecret(std::string_view tail) const {
  for (const Replacement& r : replacements_)
    if (r.first.size() > tail.size() && r.first.starts_with(tail)) return true;
  return false;
}

void OutputMasker::Emit(std::string& out, bool final) {
  const std::string_view text = pending_;
  std::size_t at = 0;
  std::size_t plainFrom = 0;  // start of the run of plain bytes not yet appended
  while (at < text.size()) {
    if (!startsSecret_[static_cast<unsigned char>(text[at])]) {
      ++at;
      continue;
    }
    if (const Replacement* found = MatchAt(text, at)) {
      out.append(text.substr(plainFrom, at - plainFrom));
      out.append(found->second);
      at += found->first.size();
      plainFrom = at;
      continue;
    }
    if (!final && MayBeginSecret(text.substr(at))) break;
    ++at;
  }
  out.append(text.substr(plainFrom, at - plainFrom));
  pending_.erase(0, at);
}

}  // namespace hvs
