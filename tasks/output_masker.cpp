// Secret masking of a run's output, piece by piece.
#include "tasks/output_masker.h"

#include <algorithm>
#include <cstring>

namespace hvs {

namespace {
constexpr std::size_t kNotSearched = static_cast<std::size_t>(-1);
}  // namespace

OutputMasker::OutputMasker(std::vector<Replacement> replacements) {
  std::erase_if(replacements, [](const Replacement& r) { return r.first.empty(); });
  std::stable_sort(replacements.begin(), replacements.end(),
                   [](const Replacement& a, const Replacement& b) {
                     return a.first.size() > b.first.size();
                   });
  replacements_ = std::move(replacements);
  for (const Replacement& r : replacements_)
    if (firstBytes_.find(r.first.front()) == std::string::npos) firstBytes_ += r.first.front();
  nextAt_.resize(firstBytes_.size());
  longest_ = replacements_.empty() ? 0 : replacements_.front().first.size();
}

std::string OutputMasker::Mask(std::vector<Replacement> replacements,
                               const std::vector<std::string_view>& pieces) {
  OutputMasker masker(std::move(replacements));
  std::string out;
  const Sink append = [&out](std::string_view part) { out.append(part); };
  for (std::string_view piece : pieces) masker.Feed(piece, append);
  masker.Finish(append);
  return out;
}

void OutputMasker::Feed(std::string_view piece, const Sink& sink) {
  if (replacements_.empty()) {
    sink(piece);
  } else if (pending_.empty()) {
    Scan(piece, sink, false);
  } else {
    std::string held = std::move(pending_);
    pending_.clear();
    held.append(piece);
    Scan(held, sink, false);
  }
}

void OutputMasker::Finish(const Sink& sink) {
  if (pending_.empty()) return;
  const std::string held = std::move(pending_);
  pending_.clear();
  Scan(held, sink, true);
}

std::size_t OutputMasker::NextCandidate(std::string_view text, std::size_t at) {
  std::size_t next = text.size();
  for (std::size_t i = 0; i < firstBytes_.size(); ++i) {
    if (nextAt_[i] == kNotSearched || nextAt_[i] < at) {
      const void* found = std::memchr(text.data() + at, firstBytes_[i], text.size() - at);
      nextAt_[i] = found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
                         : text.size();
    }
    next = std::min(next, nextAt_[i]);
  }
  return next;
}

const Replacement* OutputMasker::MatchAt(std::string_view text, std::size_t at) const {
  for (const Replacement& r : replacements_)
    if (text[at] == r.first.front() && text.substr(at, r.first.size()) == r.first) return &r;
  return nullptr;
}

bool OutputMasker::MayBeginSecret(std::string_view tail) const {
  for (const Replacement& r : replacements_)
    if (r.first.size() > tail.size() && r.first.starts_with(tail)) return true;
  return false;
}

void OutputMasker::Scan(std::string_view text, const Sink& sink, bool final) {
  std::fill(nextAt_.begin(), nextAt_.end(), kNotSearched);
  std::size_t plainFrom = 0;  // start of the plain text not yet given to the sink
  for (std::size_t at = NextCandidate(text, 0); at < text.size(); at = NextCandidate(text, at)) {
    // Held back before a match too: a longer secret that begins with it may still come.
    if (!final && text.size() - at < longest_ && MayBeginSecret(text.substr(at))) {
      if (at > plainFrom) sink(text.substr(plainFrom, at - plainFrom));
      pending_.assign(text.substr(at));
      return;
    }
    if (const Replacement* found = MatchAt(text, at)) {
      if (at > plainFrom) sink(text.substr(plainFrom, at - plainFrom));
      sink(found->second);
      at += found->first.size();
      plainFrom = at;
      continue;
    }
    ++at;
  }
  if (plainFrom < text.size()) sink(text.substr(plainFrom));
}

}  // namespace hvs
