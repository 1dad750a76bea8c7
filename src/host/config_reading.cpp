#include "host/config_reading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/server_config.h"

namespace morvane::host {

void ConfigOrigin::Fail(const std::string& what) const { throw HostConfigError(std::string(name) + ": " + what); }

std::filesystem::path ConfigOrigin::Resolve(const std::string& path) const {
  const std::filesystem::path written(path);
  if (written.is_absolute() || folder.empty()) return written;
  return (folder / written).lexically_normal();
}

std::string QuotedKey(std::string_view key) {
  // Appended rather than concatenated: GCC 12 warns falsely (-Wrestrict) of "\"" + std::string
  // in optimised builds.
  std::string quoted;
  quoted.reserve(key.size() + 2);
  quoted += '"';
  quoted += key;
  quoted += '"';
  return quoted;
}

std::int64_t IntegerSetting(const call::Json& value, const ConfigOrigin& origin, std::string_view key,
                            std::int64_t min, std::int64_t max) {
  const std::string quoted = QuotedKey(key);
  const std::string range = std::to_string(min) + " to " + std::to_string(max);
  if (!value.is_number_integer()) origin.Fail(quoted + " must be a whole number from " + range);
  // Unsigned values above the signed range and signed ones alike are checked against the range.
  if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(max))
    origin.Fail(quoted + " must be at most " + std::to_string(max));
  const std::int64_t n = value.get<std::int64_t>();
  if (n < min || n > max) origin.Fail(quoted + " must be from " + range + ", not " + std::to_string(n));
  return n;
}

std::string TextSetting(const call::Json& value, const ConfigOrigin& origin, std::string_view key) {
  if (!value.is_string()) origin.Fail(QuotedKey(key) + " must be a string");
  return value.get<std::string>();
}

std::string ReadSettingFile(const std::filesystem::path& file, const ConfigOrigin& origin, std::string_view key,
                            std::size_t maxBytes) {
  auto refuse = [&](const std::string& reason) {
    origin.Fail(std::string(key) + ": cannot read " + file.string() + ": " + reason);
  };
  // O_NONBLOCK: opening a FIFO must not wait for a writer; the type check below refuses it.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) refuse(std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) refuse(std::strerror(errno));
  if (S_ISDIR(info.st_mode)) refuse(std::strerror(EISDIR));
  if (!S_ISREG(info.st_mode)) refuse("not a regular file");
  if (info.st_size == 0) refuse("the file is empty");
  if (static_cast<std::uintmax_t>(info.st_size) > maxBytes)
    refuse("the file is larger than " + std::to_string(maxBytes) + " bytes");
  std::string contents(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = ::read(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) refuse(std::strerror(errno));
    if (n == 0) break;  // the file shrank while it was read
    done += static_cast<std::size_t>(n);
  }
  contents.resize(done);
  return contents;
}

}  // namespace morvane::host
