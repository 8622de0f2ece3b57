#include "host/system/module_version.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/unique_fd.h"
#include "base/win32_errors.h"
#include "host/system/system_messages.h"

// The record itself. `used` keeps it through optimisation; the section name
// is how the reader finds it in the file.
extern "C" {
__attribute__((used, section(".quorvant_version"))) const quorvant::FixedFileInfo
    quorvant_version_record = {
        quorvant::kFixedFileInfoSignature,
        0x00010000,
        (QUORVANT_VERSION_MAJOR << 16) | QUORVANT_VERSION_MINOR,
        (QUORVANT_VERSION_PATCH << 16) | QUORVANT_VERSION_TWEAK,
        (QUORVANT_VERSION_MAJOR << 16) | QUORVANT_VERSION_MINOR,
        (QUORVANT_VERSION_PATCH << 16) | QUORVANT_VERSION_TWEAK,
        0x3F,     // VS_FFI_FILEFLAGSMASK
        0,        // no debug, pre-release or patched flags
        0x40004,  // VOS_NT_WINDOWS32, as the record has always said
        2,        // VFT_DLL
        0,
        0,
        0,
};
}

namespace quorvant {
namespace {

using win32::kErrorResourceDataNotFound;
using win32::kErrorResourceTypeNotFound;
constexpr char kLibrarySoname[] = "libQuorvantATL.so.4";

bool ReadExactly(int fd, uint64_t offset, void* out, size_t length) {
  auto* p = static_cast<uint8_t*>(out);
  while (length > 0) {
    ssize_t n = ::pread(fd, p, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return true;
}

// Every offset and size read from the file is checked against the file's
// length before use: the file on disk may not be the image that was loaded.
bool FindSection(int fd, uint64_t fileSize, const char* wanted,
                 Elf64_Shdr* found) {
  Elf64_Ehdr header;
  if (fileSize < sizeof(header) || !ReadExactly(fd, 0, &header, sizeof(header))) {
    return false;
  }
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_ident[EI_DATA] != ELFDATA2LSB ||
      header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shnum == 0 ||
      header.e_shstrndx >= header.e_shnum) {
    return false;
  }
  const uint64_t tableSize = uint64_t{header.e_shnum} * sizeof(Elf64_Shdr);
  if (header.e_shoff > fileSize || tableSize > fileSize - header.e_shoff) return false;
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  if (!ReadExactly(fd, header.e_shoff, sections.data(), tableSize)) return false;

  const Elf64_Shdr& names = sections[header.e_shstrndx];
  if (names.sh_offset > fileSize || names.sh_size > fileSize - names.sh_offset ||
      names.sh_size > (1u << 24)) {
    return false;
  }
  std::vector<char> nameTable(names.sh_size + 1, '\0');
  if (!ReadExactly(fd, names.sh_offset, nameTable.data(), names.sh_size)) return false;

  for (const Elf64_Shdr& section : sections) {
    if (section.sh_name >= names.sh_size) continue;
    if (std::strcmp(nameTable.data() + section.sh_name, wanted) == 0) {
      *found = section;
      return true;
    }
  }
  return false;
}

std::string LoadedModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&quorvant_version_record), &info) == 0 ||
      info.dli_fname == nullptr) {
    return std::string();
  }
  return info.dli_fname;
}

// The library found by its own name, as the loader resolved it; empty when
// this code is not running from the installed library (a test program that
// links the engine statically, for instance).
std::string ModulePathByName() {
  void* handle = dlopen(kLibrarySoname, RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return std::string();
  std::string path;
  struct link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
      map->l_name != nullptr) {
    path = map->l_name;
  }
  dlclose(handle);
  return path;
}

class LinuxModuleVersionReader final : public ModuleVersionReader {
 public:
  bool read(FileVersion* out, uint32_t* error) override {
    std::string byName = ModulePathByName();
    if (!byName.empty() && ReadFileVersionRecord(byName, out, error)) return true;
    std::string path = LoadedModulePath();
    if (path.empty()) {
      *error = kErrorResourceTypeNotFound;
      return false;
    }
    return ReadFileVersionRecord(path, out, error);
  }
};

}  // namespace

bool ReadFileVersionRecord(const std::string& path, FileVersion* out,
                           uint32_t* error) {
  *error = 0;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    *error = Win32ErrorFromErrno(errno);
    return false;
  }
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0) {
    *error = Win32ErrorFromErrno(errno);
    return false;
  }
  Elf64_Shdr section{};
  if (!FindSection(fd.get(), static_cast<uint64_t>(st.st_size), kVersionSectionName,
                   &section)) {
    *error = kErrorResourceTypeNotFound;
    return false;
  }
  FixedFileInfo record{};
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  if (section.sh_type == SHT_NOBITS || section.sh_size < sizeof(record) ||
      section.sh_offset > fileSize || sizeof(record) > fileSize - section.sh_offset ||
      !ReadExactly(fd.get(), section.sh_offset, &record, sizeof(record)) ||
      record.signature != kFixedFileInfoSignature) {
    *error = kErrorResourceDataNotFound;
    return false;
  }
  out->major = static_cast<uint16_t>(record.fileVersionMS >> 16);
  out->minor = static_cast<uint16_t>(record.fileVersionMS & 0xFFFF);
  out->build = static_cast<uint16_t>(record.fileVersionLS >> 16);
  out->revision = static_cast<uint16_t>(record.fileVersionLS & 0xFFFF);
  return true;
}

std::shared_ptr<ModuleVersionReader> MakeModuleVersionReader() {
  return std::make_shared<LinuxModuleVersionReader>();
}

}  // namespace quorvant
