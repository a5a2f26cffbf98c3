#include "session/header_collector.h"

#include "session/save_file.h"

namespace qor {

namespace {

// The Data Object's header that follows the Header Object in what servers send.
constexpr uint64_t kDataObjectHeader = 50;
constexpr uint64_t kSmallestHeaderObject = 30;

}  // namespace

bool HeaderCollector::SizeIsHonest() const {
  if (text_.size() < kSmallestHeaderObject + kDataObjectHeader) return false;
  uint64_t declared = 0;
  for (int i = 0; i < 8; ++i)
    declared |= static_cast<uint64_t>(static_cast<uint8_t>(text_[16 + i])) << (8 * i);
  return declared >= kSmallestHeaderObject && declared == text_.size() - kDataObjectHeader;
}

HeaderCollector::Step HeaderCollector::Append(const uint8_t* data, size_t length, uint8_t flags,
                                              TSaveFile* file, bool resuming) {
  if (length > kMaxHeaderBytes - text_.size()) {
    text_.clear();
    return Step::TooLarge;
  }
  text_.append(reinterpret_cast<const char*>(data), length);
  if (!IsLastPiece(flags)) return Step::More;
  if (!SizeIsHonest()) return Step::Malformed;
  if (resuming) return Step::Complete;
  // An earlier copy (the describe answer) may already be there; the same bytes land on it.
  if (!file || file->WriteHeader(text_.data(), text_.size()) == TSaveFile::WriteResult::Failed) {
    return Step::WriteFailed;
  }
  return Step::Complete;
}

}  // namespace qor
