#include "session/header_collector.h"

#include "session/save_file.h"

namespace qor {

HeaderCollector::Step HeaderCollector::Append(const uint8_t* data, size_t length, uint8_t flags,
                                              TSaveFile* file, bool resuming) {
  if (length > kMaxHeaderBytes - text_.size()) {
    text_.clear();
    return Step::TooLarge;
  }
  text_.append(reinterpret_cast<const char*>(data), length);
  if (!IsLastPiece(flags)) return Step::More;
  if (resuming) return Step::Complete;
  // An earlier copy (the describe answer) may already be there; the same bytes land on it.
  if (!file || file->WriteHeader(text_.data(), text_.size()) == TSaveFile::WriteResult::Failed) {
    return Step::WriteFailed;
  }
  return Step::Complete;
}

}  // namespace qor
