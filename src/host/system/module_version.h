// The component's file version record and the reader that finds it again
// through the module's own file.
//
// The record has the layout of the platform's fixed file-version record
// (VS_FIXEDFILEINFO: signature 0xFEEF04BD, then the file and product versions
// as pairs of 32-bit halves) and lives in its own ELF section of the module,
// ".quorvant_version", so the version is read from the file on disk as the
// loader mapped it, not from a constant compiled into the reader.
#ifndef QUORVANT_HOST_MODULE_VERSION_H_
#define QUORVANT_HOST_MODULE_VERSION_H_

#include <cstdint>
#include <memory>
#include <string>

#include "host/system/services.h"

namespace quorvant {

inline constexpr char kVersionSectionName[] = ".quorvant_version";
inline constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;

struct FixedFileInfo {
  uint32_t signature;
  uint32_t strucVersion;
  uint32_t fileVersionMS;
  uint32_t fileVersionLS;
  uint32_t productVersionMS;
  uint32_t productVersionLS;
  uint32_t fileFlagsMask;
  uint32_t fileFlags;
  uint32_t fileOS;
  uint32_t fileType;
  uint32_t fileSubtype;
  uint32_t fileDateMS;
  uint32_t fileDateLS;
};
static_assert(sizeof(FixedFileInfo) == 52);

// Reads the version record from the ELF file at `path`. False with a system
// error number (2 for a missing file, 1813 when the file has no version
// record, 1812 when the record is malformed).
bool ReadFileVersionRecord(const std::string& path, FileVersion* out,
                           uint32_t* error);

// Finds the module that holds this code: first by the library's own name
// through the dynamic loader, then, when that gives no record, by the full
// path of the file this code was loaded from.
std::shared_ptr<ModuleVersionReader> MakeModuleVersionReader();

}  // namespace quorvant

#endif  // QUORVANT_HOST_MODULE_VERSION_H_
