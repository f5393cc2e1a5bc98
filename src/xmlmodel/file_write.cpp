#include "xmlmodel/file_write.h"

#include "common/exception.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xmlmodel {

using common::Exception;
using common::Format;

namespace {

// Opens a new file next to the target. Created with mode 0666 the kernel applies the umask
// itself, which mkstemp's fixed 0600 would hide (and reading the umask means changing it for
// the whole process).
int OpenTemporary(const std::filesystem::path &folder, const std::string &baseName, std::string &name) {
  static std::mt19937_64 random(std::random_device{}() ^
                                static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix(6, 'x');
    for (char &c : suffix)
      c = kLetters[random() % (sizeof kLetters - 1)];
    name = (folder / ("." + baseName + "." + suffix)).string();
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST)
      return fd;
  }
  errno = EEXIST;
  return -1;
}

} // namespace

void WriteFileAtomically(const std::string &fileName, std::string_view data) {
  namespace fs = std::filesystem;
  fs::path target(fileName);
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    fs::path resolved = fs::canonical(target, ec);
    if (!ec)
      target = resolved;
  }
  fs::path folder = target.parent_path();
  if (folder.empty())
    folder = ".";
  auto fail = [&](const std::string &why) {
    return Exception(Format("Cannot save \"%s\": %s", fileName.c_str(), why.c_str()));
  };
  std::string temp;
  int fd = OpenTemporary(folder, target.filename().string(), temp);
  if (fd < 0)
    throw fail(std::strerror(errno));
  auto abandon = [&](int error) {
    ::close(fd);
    ::unlink(temp.c_str());
    return fail(std::strerror(error));
  };
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      throw abandon(n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
  }
  // Keep the old file's permissions; a new one has its mode from the creation above.
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && ::fchmod(fd, st.st_mode & 07777) != 0)
    throw abandon(errno);
  if (::fsync(fd) != 0)
    throw abandon(errno);
  if (::close(fd) != 0) {
    int error = errno;
    ::unlink(temp.c_str());
    throw fail(std::strerror(error));
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int error = errno;
    ::unlink(temp.c_str());
    throw fail(std::strerror(error));
  }
}

} // namespace xmlmodel
