#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace vek::platform {
namespace {

Result<volatile uint8_t*> mapSection(int fd, const std::string& path) {
  if (::ftruncate(fd, SingleInstance::kSize) != 0) return Status::fromErrno("ftruncate", path);
  void* p = ::mmap(nullptr, SingleInstance::kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return Status::fromErrno("mmap", path);
  return static_cast<volatile uint8_t*>(p);
}

}  // namespace

Result<std::unique_ptr<SingleInstance>> SingleInstance::acquire(const std::string& private_dir) {
  std::string path = joinPath(private_dir, kFileName);
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd) return Status::fromErrno("open", path);
  ::fchmod(fd.get(), 0600);  // an older, looser file is tightened
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return Status::fromErrno("flock", path);
  }
  auto mem = mapSection(fd.get(), path);
  if (!mem.ok()) return mem.status();
  for (size_t i = 0; i < kSize; ++i) (*mem)[i] = 0;
  return std::unique_ptr<SingleInstance>(new SingleInstance(std::move(fd), *mem));
}

Status SingleInstance::requestStop(const std::string& private_dir) {
  std::string path = joinPath(private_dir, kFileName);
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd) return Status::fromErrno("open", path);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || st.st_size < static_cast<off_t>(kSize))
    return Status::error(path + ": not a gateway instance file");
  void* p = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (p == MAP_FAILED) return Status::fromErrno("mmap", path);
  static_cast<volatile uint8_t*>(p)[0] = 1;
  ::munmap(p, kSize);
  return Status();
}

SingleInstance::~SingleInstance() {
  ::munmap(const_cast<uint8_t*>(mem_), kSize);
}

bool SingleInstance::stopRequested() const {
  return mem_[0] != 0;
}

void SingleInstance::setStopByte(uint8_t v) {
  mem_[0] = v;
}

}  // namespace vek::platform
