// Writing a repaired file: a temporary copy beside the original, checked, then renamed over it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "asf/asf_repair.h"
#include "platform/file_handle.h"

namespace qor {

namespace {

constexpr uint64_t kCopyChunk = 1 << 20;

std::string ErrorText(int error) {
  return std::strerror(error);
}

// Removes the temporary copy unless it was renamed.
class TemporaryCopy {
 public:
  ~TemporaryCopy() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  // Creates an empty file beside target with target's permission bits.
  bool Create(const std::filesystem::path& target, mode_t mode, std::string& why) {
    std::string pattern =
        (target.parent_path() / ("." + target.filename().string() + ".repair-XXXXXX")).string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
      why = "cannot create a file beside it: " + ErrorText(errno);
      return false;
    }
    path_ = pattern;
    const bool modeKept = ::fchmod(fd, mode & 07777) == 0;
    const int error = errno;
    ::close(fd);
    if (!modeKept) {
      why = "cannot give the repaired copy the file's permissions: " + ErrorText(error);
      return false;
    }
    if (!file.Open(path_, FileHandle::Mode::OpenReadWrite)) {
      why = "cannot open the repaired copy: " + ErrorText(file.LastError());
      return false;
    }
    return true;
  }
  const std::string& Path() const { return path_; }
  void Renamed() { path_.clear(); }

  FileHandle file;

 private:
  std::string path_;
};

bool CopyPackets(FileHandle& source, FileHandle& copy, uint64_t from, uint64_t bytes,
                 std::string& why) {
  std::vector<uint8_t> chunk;
  for (uint64_t done = 0; done < bytes;) {
    chunk.resize(static_cast<size_t>(std::min(kCopyChunk, bytes - done)));
    const int64_t at = static_cast<int64_t>(from + done);
    if (source.ReadAt(at, chunk.data(), chunk.size()) != static_cast<int64_t>(chunk.size())) {
      why = "the file could not be read to its end";
      return false;
    }
    if (!copy.WriteAt(at, chunk.data(), chunk.size())) {
      why = "cannot write the repaired copy: " + ErrorText(copy.LastError());
      return false;
    }
    done += chunk.size();
  }
  return true;
}

// The repaired copy read back: its header, tail and index must now be right.
bool CopyIsFinished(FileHandle& copy, std::string& why) {
  const int64_t length = copy.Size();
  AsfFileScan check;
  std::string reason;
  const AsfReadAt readAt = [&](uint64_t at, void* buffer, size_t count) {
    return copy.ReadAt(static_cast<int64_t>(at), buffer, count);
  };
  if (length < 0 || !ScanAsfFile(readAt, static_cast<uint64_t>(length), check, reason)) {
    why = "the repaired copy does not read back";
    return false;
  }
  // The index is the finishing code's; what is checked here is what the repair itself wrote.
  for (const AsfFinding& f : check.findings) {
    if (f.kind == "hole" || f.kind == "gap" || f.kind == "index") continue;
    why = "the repaired copy is still not right (" + f.text + ")";
    return false;
  }
  return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool SyncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

}  // namespace

bool RepairAsfFile(const std::string& path, bool dryRun, AsfRepairReport& report,
                   std::string& why) {
  report = AsfRepairReport{};
  report.dryRun = dryRun;
  std::error_code error;
  // A link is followed: the file it leads to is repaired and the link stays a link.
  std::filesystem::path target = path;
  if (std::filesystem::is_symlink(target, error)) target = std::filesystem::canonical(path, error);
  if (error) {
    why = "cannot be opened: " + error.message();
    return false;
  }
  FileHandle source;
  if (!source.Open(target.string(), FileHandle::Mode::OpenRead)) {
    why = "cannot be opened: " + ErrorText(source.LastError());
    return false;
  }
  struct stat before {};
  if (::fstat(source.Descriptor(), &before) != 0 || !S_ISREG(before.st_mode)) {
    why = "is not a regular file";
    return false;
  }
  const AsfReadAt readAt = [&](uint64_t at, void* buffer, size_t count) {
    return source.ReadAt(static_cast<int64_t>(at), buffer, count);
  };
  if (!ScanAsfFile(readAt, static_cast<uint64_t>(before.st_size), report.scan, why) ||
      !PlanAsfRepair(report.scan, report.plan, why))
    return false;
  const AsfRepairPlan& plan = report.plan;
  if (!plan.needed || dryRun) return true;

  TemporaryCopy copy;
  if (!copy.Create(target, before.st_mode, why)) return false;
  const uint64_t first = report.scan.layout.firstPacketAt;
  if (!copy.file.WriteAt(0, plan.header.data(), plan.header.size())) {
    why = "cannot write the repaired copy: " + ErrorText(copy.file.LastError());
    return false;
  }
  if (!CopyPackets(source, copy.file, first, plan.keep * report.scan.layout.packetSize, why))
    return false;

  // The seek index as finishing adds it, from the streams of the header.
  TASF model;
  report.streamsUnknown = !model.ParseHeader(plan.header.data(), plan.header.size());
  if (!report.streamsUnknown) {
    for (uint32_t k = 0; k < model.StreamCount && k < kAsfSlots; ++k)
      if ((model.StreamKinds[k] & skVideo) != 0) ++report.indexesAdded;
    if (!model.WriteIndexObject(copy.file)) {
      why = "cannot write the index: " + ErrorText(copy.file.LastError());
      return false;
    }
  }
  if (!CopyIsFinished(copy.file, why)) return false;
  if (!copy.file.Sync()) {
    why = "cannot write the repaired copy to the disk: " + ErrorText(copy.file.LastError());
    return false;
  }
  report.newLength = static_cast<uint64_t>(std::max<int64_t>(0, copy.file.Size()));
  if (!copy.file.Close()) {
    why = "cannot write the repaired copy: " + ErrorText(copy.file.LastError());
    return false;
  }

  // A file that grew or changed meanwhile is still being written: replacing it would lose that.
  struct stat now {};
  if (::stat(target.c_str(), &now) != 0 || !SameFile(before, now)) {
    why = "it changed while it was repaired (is it still being recorded?)";
    return false;
  }
  if (::rename(copy.Path().c_str(), target.c_str()) != 0) {
    why = "cannot replace it with the repaired copy: " + ErrorText(errno);
    return false;
  }
  copy.Renamed();
  report.written = true;
  SyncFolder(target.parent_path());
  return true;
}

}  // namespace qor
