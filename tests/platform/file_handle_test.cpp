#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_handle.h"
#include "temp_folder.h"

namespace qor {
namespace {

class FileHandleTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return folder_.Path(name); }

  TempFolder folder_;
};

TEST_F(FileHandleTest, ModesCreateKeepAndRefuse) {
  FileHandle file;
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.Open(Path("missing"), FileHandle::Mode::OpenRead));
  EXPECT_EQ(file.LastError(), ENOENT);
  EXPECT_FALSE(file.Open(Path("missing"), FileHandle::Mode::OpenReadWrite));

  ASSERT_TRUE(file.Open(Path("a"), FileHandle::Mode::CreateExclusive));
  EXPECT_TRUE(file.Write("hello", 5));
  EXPECT_TRUE(file.Close());
  EXPECT_FALSE(file.Open(Path("a"), FileHandle::Mode::CreateExclusive));
  EXPECT_EQ(file.LastError(), EEXIST);

  ASSERT_TRUE(file.Open(Path("a"), FileHandle::Mode::OpenOrCreate));
  EXPECT_EQ(file.Size(), 5);  // kept
  ASSERT_TRUE(file.Open(Path("a"), FileHandle::Mode::CreateTruncate));
  EXPECT_EQ(file.Size(), 0);  // emptied
  ASSERT_TRUE(file.Open(Path("b"), FileHandle::Mode::OpenOrCreate));
  EXPECT_EQ(file.Size(), 0);  // created

  ASSERT_TRUE(file.Open(Path("a"), FileHandle::Mode::OpenRead));
  EXPECT_FALSE(file.Write("x", 1));
  EXPECT_EQ(file.LastError(), EBADF);
}

TEST_F(FileHandleTest, DescriptorIsCloseOnExecAndNeverZeroWhenClosed) {
  FileHandle file;
  EXPECT_EQ(file.Descriptor(), -1);
  ASSERT_TRUE(file.Open(Path("c"), FileHandle::Mode::CreateTruncate));
  int flags = fcntl(file.Descriptor(), F_GETFD);
  EXPECT_TRUE(flags & FD_CLOEXEC);
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(file.Descriptor(), -1);
  EXPECT_TRUE(file.Close());  // closing twice closes nothing
  EXPECT_EQ(file.Read(nullptr, 0), -1);
  EXPECT_FALSE(file.Write("x", 1));
  EXPECT_EQ(file.Size(), -1);
}

TEST_F(FileHandleTest, SequentialAndPositionalTransfers) {
  FileHandle file;
  ASSERT_TRUE(file.Open(Path("d"), FileHandle::Mode::CreateTruncate));
  ASSERT_TRUE(file.Write("0123456789", 10));
  EXPECT_EQ(file.Position(), 10);
  ASSERT_TRUE(file.WriteAt(2, "ab", 2));
  EXPECT_EQ(file.Position(), 10);  // positional forms leave the position alone
  char buf[16] = {};
  EXPECT_EQ(file.ReadAt(0, buf, sizeof buf), 10);  // short at the end
  EXPECT_EQ(std::string(buf, 10), "01ab456789");
  EXPECT_EQ(file.Seek(-3, FileHandle::Whence::End), 7);
  EXPECT_EQ(file.Read(buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "789");
  EXPECT_EQ(file.Read(buf, sizeof buf), 0);  // at the end
  EXPECT_EQ(file.Seek(-1, FileHandle::Whence::Begin), -1);
  EXPECT_EQ(file.LastError(), EINVAL);
  EXPECT_EQ(file.Seek(4), 4);
  EXPECT_EQ(file.Seek(2, FileHandle::Whence::Current), 6);
  EXPECT_TRUE(file.Truncate(4));
  EXPECT_EQ(file.Size(), 4);
  EXPECT_TRUE(file.Sync());
  EXPECT_EQ(file.ReadAt(-1, buf, 1), -1);
}

TEST_F(FileHandleTest, LargeTransfersThroughAPipeAreCompleted) {
  // A pipe hands over at most its capacity per call: Write and Read must loop.
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  std::string fifoIn = "/proc/self/fd/" + std::to_string(fds[0]);
  std::string fifoOut = "/proc/self/fd/" + std::to_string(fds[1]);
  FileHandle reader, writer;
  ASSERT_TRUE(reader.Open(fifoIn, FileHandle::Mode::OpenRead));
  ASSERT_TRUE(writer.Open(fifoOut, FileHandle::Mode::OpenReadWrite));
  close(fds[0]);
  close(fds[1]);
  std::vector<char> out(1 << 20);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(i * 7);
  std::vector<char> in(out.size());
  int64_t got = -2;
  std::thread consumer([&] { got = reader.Read(in.data(), in.size()); });
  EXPECT_TRUE(writer.Write(out.data(), out.size()));
  consumer.join();
  EXPECT_EQ(got, static_cast<int64_t>(out.size()));
  EXPECT_EQ(in, out);
}

TEST_F(FileHandleTest, SparseFileBeyondFourGiB) {
  FileHandle file;
  ASSERT_TRUE(file.Open(Path("big"), FileHandle::Mode::CreateTruncate));
  const int64_t far = (int64_t{5} << 30) + 123;  // past both 2 GiB and 4 GiB
  ASSERT_EQ(file.Seek(far), far);
  ASSERT_TRUE(file.Write("tail", 4));
  EXPECT_EQ(file.Size(), far + 4);
  EXPECT_EQ(file.Position(), far + 4);
  ASSERT_TRUE(file.WriteAt(int64_t{1} << 32, "four", 4));
  char buf[4] = {};
  EXPECT_EQ(file.ReadAt(far, buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "tail");
  EXPECT_EQ(file.ReadAt(int64_t{1} << 32, buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "four");
  EXPECT_EQ(file.ReadAt((int64_t{1} << 32) - 2, buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), std::string(2, '\0'));  // the hole reads as zeros
  EXPECT_EQ(file.Seek(0, FileHandle::Whence::End), far + 4);
}

TEST_F(FileHandleTest, MoveTransfersOwnership) {
  FileHandle first;
  ASSERT_TRUE(first.Open(Path("m"), FileHandle::Mode::CreateTruncate));
  int fd = first.Descriptor();
  FileHandle second(std::move(first));
  EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(second.Descriptor(), fd);
  FileHandle third;
  ASSERT_TRUE(third.Open(Path("n"), FileHandle::Mode::CreateTruncate));
  int replaced = third.Descriptor();
  third = std::move(second);
  EXPECT_EQ(third.Descriptor(), fd);
  EXPECT_EQ(fcntl(replaced, F_GETFD), -1);  // the one it held was closed
  EXPECT_TRUE(third.Write("x", 1));
}

}  // namespace
}  // namespace qor
