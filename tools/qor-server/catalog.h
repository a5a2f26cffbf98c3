#pragma once
// What a request names: a live channel, an ASF file under the root (served as a stream), another
// file under the root (served as it is) or nothing. Names never leave the root.

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "live_channel.h"
#include "media_source.h"

namespace qor::server {

class Catalog {
 public:
  enum class Kind { kMissing, kStream, kLive, kPlainFile };
  struct Entry {
    Kind kind = Kind::kMissing;
    std::string path;  // file on disk (stream and plain files)
    std::shared_ptr<const MediaSource> media;
    std::shared_ptr<const LiveChannel> live;
  };

  explicit Catalog(std::string root) : root_(std::move(root)) {}
  void AddLive(std::shared_ptr<const LiveChannel> channel);
  // name as requested ("/clip.wmv", "clip.wmv", percent-decoded, without query).
  Entry Find(const std::string& name);
  // The file name without leading slashes, or empty when it is not acceptable.
  static std::string CleanName(const std::string& name);
  static bool HasAsfExtension(const std::string& name);

 private:
  std::string root_;
  std::map<std::string, std::shared_ptr<const LiveChannel>> lives_;
  std::mutex mutex_;
  std::map<std::string, std::pair<int64_t, std::shared_ptr<const MediaSource>>> cache_;
};

// The Content-Type a plain file is served with, by its extension.
std::string ContentTypeFor(const std::string& name);
// %XX decoding; invalid escapes stay as they are.
std::string PercentDecode(const std::string& text);

}  // namespace qor::server
