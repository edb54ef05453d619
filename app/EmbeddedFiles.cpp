#include "app/EmbeddedFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <vector>

#include "platform/FileOpen.h"

namespace bcu::app {
namespace fs = std::filesystem;
namespace {

std::string InDir(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(platform::PathOf(path), ec));
}

std::string Reason(int err) {
  return err == 0 ? "write error" : std::strerror(err);
}

// Closes `f`, reporting a failed flush (a full disk shows up here).
bool CloseChecked(std::FILE* f, int& err) {
  errno = 0;
  bool ok = std::fflush(f) == 0;
  if (!ok) err = errno;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    err = errno;
  }
  return ok;
}

enum class ChunkResult { Written, Exists, Failed };

// Writes one chunk file; the file is created only if no file of that name
// exists (an exclusive create, so two copies cannot both take it).
ChunkResult WriteChunk(std::span<const std::uint8_t> bytes, const std::string& path,
                       std::string& error) {
  if (FileExists(path)) return ChunkResult::Exists;
  std::FILE* f = platform::OpenFile(path.c_str(), "wbx");
  if (!f) {
    if (errno == EEXIST) return ChunkResult::Exists;
    error = "The file " + path + " could not be created: " + Reason(errno) + ".";
    return ChunkResult::Failed;
  }
  int err = 0;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (!ok) err = errno;
  ok = CloseChecked(f, err) && ok;
  if (!ok) {
    platform::RemoveFile(path);
    error = "The file " + path + " could not be written completely: " + Reason(err) + ".";
    return ChunkResult::Failed;
  }
  return ChunkResult::Written;
}

// The files one extraction made, removed again when it fails for a reason other
// than the existence guard.
struct MadeFiles {
  std::vector<std::string> paths;
  void RemoveAll() {
    for (const auto& p : paths) platform::RemoveFile(p);
    paths.clear();
  }
};

// Writes chunks 1..count of `resourceBase` as fileBase.<n>. Returns false with
// `error` set for a hard failure; `exists` counts chunk files already present.
bool WriteChunks(const platform::ResourceSource& resources, const std::string& resourceBase,
                 const std::string& fileBase, int count, const std::string& workDir,
                 MadeFiles& made, int& exists, std::string& error) {
  for (int n = 1; n <= count; ++n) {
    const std::string name = resourceBase + "_" + std::to_string(n);
    const std::string path = InDir(workDir, fileBase + "." + std::to_string(n));
    if (FileExists(path)) {
      ++exists;
      continue;
    }
    std::span<const std::uint8_t> bytes;
    if (!resources.Find("TEXT", name, bytes)) {
      error = "The embedded resource " + name + " is missing from this program.";
      return false;
    }
    switch (WriteChunk(bytes, path, error)) {
      case ChunkResult::Written:
        made.paths.push_back(path);
        break;
      case ChunkResult::Exists:
        ++exists;
        break;
      case ChunkResult::Failed:
        return false;
    }
  }
  return true;
}

void RemoveChunks(const std::string& fileBase, int count, const std::string& workDir) {
  for (int n = 1; n <= count; ++n)
    platform::RemoveFile(InDir(workDir, fileBase + "." + std::to_string(n)));
}

}  // namespace

bool ReadResourceAttributes(const platform::ResourceSource& resources, ResourceAttributes& out) {
  std::span<const std::uint8_t> bytes;
  if (!resources.Find("TEXT", "ResourceAttributes_", bytes)) return false;
  if (bytes.size() < kResourceAttributesSize) return false;
  out = DecodeResourceAttributes(bytes.data());
  return true;
}

std::string JoinChunkFiles(const std::string& baseName, int count, const std::string& extension,
                           const std::string& workDir, std::string* error) {
  std::string name;
  std::string path;
  std::FILE* out = nullptr;
  for (long k = 0;; ++k) {
    name = baseName + (k == 0 ? "" : std::to_string(k)) + "." + extension;
    path = InDir(workDir, name);
    if (FileExists(path)) continue;
    out = platform::OpenFile(path.c_str(), "wbx");  // replaces nothing
    if (out) break;
    if (errno == EEXIST) continue;  // taken in the meantime by another copy
    if (error) *error = "The file " + path + " could not be created: " + Reason(errno) + ".";
    return {};
  }
  int err = 0;
  bool ok = true;
  std::uint8_t buffer[1024];
  for (int i = 1; ok && i <= count; ++i) {
    const std::string chunk = InDir(workDir, baseName + "." + std::to_string(i));
    std::FILE* in = platform::OpenFile(chunk.c_str(), "rb");
    if (!in) continue;  // a missing chunk file is skipped
    for (;;) {
      std::size_t n = std::fread(buffer, 1, sizeof buffer, in);
      if (n > 0 && std::fwrite(buffer, 1, n, out) != n) {
        err = errno;
        ok = false;
        break;
      }
      if (n < sizeof buffer) {
        if (std::ferror(in)) {
          err = errno;
          ok = false;
        }
        break;
      }
    }
    std::fclose(in);
  }
  ok = CloseChecked(out, err) && ok;
  if (!ok) {
    platform::RemoveFile(path);
    if (error)
      *error = "The file " + path + " could not be written completely: " + Reason(err) + ".";
    return {};
  }
  return name;
}

bool ExtractEmbeddedFiles(const platform::ResourceSource& resources, platform::Host& host,
                          const ResourceAttributes& a, bool bootResources, bool useSecondBoot,
                          std::string& loaderFileName, std::string& codeFileName,
                          const std::string& workDir) {
  std::string suffix;
  int loaderCount = a.LoaderChunks, codeCount = a.CodeChunks;
  if (useSecondBoot) {
    suffix = "_BootTwo";
    loaderCount = a.SecondBootLoaderChunks;
    codeCount = a.SecondBootCodeChunks;
  } else if (bootResources) {
    suffix = "_Boot";
    loaderCount = a.BootLoaderChunks;
    codeCount = a.BootCodeChunks;
  }
  loaderCount = std::max(loaderCount, 0);
  codeCount = std::max(codeCount, 0);

  auto fail = [&](const std::string& text) {
    host.ShowMessage(text, kEmbeddedFilesCaption, platform::MsgIcon::Error,
                     platform::MsgButtons::Ok);
    return false;
  };
  MadeFiles made;
  std::string error;
  int exists = 0;
  if (!WriteChunks(resources, "Loader" + suffix, "Loader", loaderCount, workDir, made, exists,
                   error)) {
    made.RemoveAll();
    return fail(error);
  }
  if (exists > 0) return fail(kTextLoaderChunkFailed);  // chunks written stay (see header)

  std::string loaderName = JoinChunkFiles("Loader", loaderCount, "hex", workDir, &error);
  if (loaderName.empty()) {
    made.RemoveAll();
    return fail(error);
  }
  loaderFileName = loaderName;
  const std::string loaderPath = InDir(workDir, loaderName);
  // The joined loader goes with the call only when the code fails for a reason
  // other than the existence guard; after that guard it stays, as it is named
  // in loaderFileName.
  auto dropLoader = [&] { platform::RemoveFile(loaderPath); };

  if (!WriteChunks(resources, "Code" + suffix, "Code", codeCount, workDir, made, exists, error)) {
    made.RemoveAll();
    dropLoader();
    return fail(error);
  }
  if (exists > 0) return fail(kTextCodeChunkFailed);  // chunk files and joined loader stay
  const std::string extension = a.UpgradeType == kUpgradeDsp ? "OUT" : "hex";
  std::string codeName = JoinChunkFiles("Code", codeCount, extension, workDir, &error);
  if (codeName.empty()) {
    made.RemoveAll();
    dropLoader();
    return fail(error);
  }
  codeFileName = codeName;
  RemoveChunks("Loader", loaderCount, workDir);
  RemoveChunks("Code", codeCount, workDir);
  return true;
}

std::vector<EmbeddedImage> EmbeddedImages(const ResourceAttributes& a) {
  return {{"Loader", a.LoaderChunks},
          {"Code", a.CodeChunks},
          {"Loader_Boot", a.BootLoaderChunks},
          {"Code_Boot", a.BootCodeChunks},
          {"Loader_BootTwo", a.SecondBootLoaderChunks},
          {"Code_BootTwo", a.SecondBootCodeChunks}};
}

bool WriteEmbeddedImage(const platform::ResourceSource& resources, const EmbeddedImage& image,
                        const std::string& path, std::string& error) {
  std::FILE* out = platform::OpenFile(path.c_str(), "wb");
  if (!out) {
    error = "The file " + path + " could not be created: " + Reason(errno) + ".";
    return false;
  }
  int err = 0;
  bool ok = true;
  for (int n = 1; ok && n <= image.chunks; ++n) {
    const std::string name = image.resourceBase + "_" + std::to_string(n);
    std::span<const std::uint8_t> bytes;
    if (!resources.Find("TEXT", name, bytes)) {
      error = "The embedded resource " + name + " is missing from this program.";
      ok = false;
      break;
    }
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
      err = errno;
      ok = false;
      error = "The file " + path + " could not be written completely: " + Reason(err) + ".";
    }
  }
  if (!CloseChecked(out, err) && ok) {
    ok = false;
    error = "The file " + path + " could not be written completely: " + Reason(err) + ".";
  }
  if (!ok) platform::RemoveFile(path);
  return ok;
}

}  // namespace bcu::app
