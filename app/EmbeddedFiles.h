#pragma once
// The embedded firmware set as work files.
//
// ReadResourceAttributes reads the attributes record once at start-up.
// ExtractEmbeddedFiles writes the chunks of the chosen loader and code images
// as numbered files (Loader.1, Code.1 ...), joins each image into one work
// file under a free name (Loader.hex or Loader1.hex ...; Code.OUT for a DSP
// image) and removes the chunk files. The existence test on the chunk files is
// the only guard between two copies of the updater in one directory.
//
// Work files live in `workDir` ("" = the current directory); the names handed
// back carry no directory.
#include <string>
#include <vector>

#include "app/ResourceAttributes.h"
#include "platform/Host.h"
#include "platform/Resources.h"

namespace bcu::app {

inline constexpr const char* kEmbeddedFilesCaption = "Embedded Files";
inline constexpr const char* kTextLoaderChunkFailed =
    "Brisant Code Updater could not read the embedded loader file.\nPlease verify that any other "
    "instances of Brisant Code Updater\nhave begun downloading and try again.";
inline constexpr const char* kTextCodeChunkFailed =
    "Brisant Code Updater could not read the embedded code file.\nPlease verify that any other "
    "instances of Brisant Code Updater\nhave begun downloading and try again.";

// Reads the 68-byte record "ResourceAttributes_". False (and `out` unchanged)
// when the resource is missing or shorter than the record.
bool ReadResourceAttributes(const platform::ResourceSource& resources, ResourceAttributes& out);

// Writes and joins the work files of one resource set: the second boot line
// when `useSecondBoot`, else the boot set when `bootResources`, else the
// application set. True when both work files were made; their names are then
// in loaderFileName and codeFileName. On failure a message box (caption
// "Embedded Files", error icon) has been shown. The loader name is set once
// the loader is joined, even when the code fails afterwards.
//
// Besides a chunk file that already exists, a resource that the counts name but
// the program lacks and a file that cannot be created or completely written
// fail the call; in those cases the files the call made are removed again and
// the message names the resource or file and the reason.
bool ExtractEmbeddedFiles(const platform::ResourceSource& resources, platform::Host& host,
                          const ResourceAttributes& attributes, bool bootResources,
                          bool useSecondBoot, std::string& loaderFileName,
                          std::string& codeFileName, const std::string& workDir = "");

// Joins baseName.1 .. baseName.<count> (missing ones are skipped) into a new
// file under the first free name of baseName.extension, baseName1.extension,
// ... and returns that name (no directory). Empty when the file could not be
// created or written; `error` then says why and no partial file is left.
std::string JoinChunkFiles(const std::string& baseName, int count, const std::string& extension,
                           const std::string& workDir = "", std::string* error = nullptr);

// One image of the set: its resource base name ("Loader", "Code_Boot" ...) and
// its chunk count from the attributes.
struct EmbeddedImage {
  std::string resourceBase;
  int chunks;
};
// The six images the attributes describe, in the order application, boot,
// second boot line (loader before code).
std::vector<EmbeddedImage> EmbeddedImages(const ResourceAttributes& attributes);

// Writes the chunks of one image, in order, into a new file `path` (replaced
// if present). False with `error` set when a chunk is missing or the file
// cannot be written; no partial file is left.
bool WriteEmbeddedImage(const platform::ResourceSource& resources, const EmbeddedImage& image,
                        const std::string& path, std::string& error);

}  // namespace bcu::app
