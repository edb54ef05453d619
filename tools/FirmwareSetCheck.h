#pragma once
// Build-time checks of a firmware set before it is embedded: the S-record text
// of every loader and code image, and the chunk files against the counts of the
// attributes record.
#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/ResourceAttributes.h"

namespace bcu::tools {

// Longest record line (without its line end) that the downloads read whole.
inline constexpr std::size_t kMaxRecordChars = 298;

// Checks the S-record text of one chunk. `chunkName` names it in messages,
// `lastChunk` says whether the image must end in it. On success returns true;
// otherwise `error` says what is wrong and where ("Code_3.s3 line 12: ...").
// `endSeen` carries the "image ended" state from chunk to chunk.
bool CheckSRecordChunk(std::string_view text, const std::string& chunkName, bool lastChunk,
                       bool& endSeen, std::string& error);

// The resource name of a chunk file ("code_1.S3" -> "CODE_1"), or empty when
// the name is not one of a chunk: Loader/Code, optional _Boot/_BootTwo, _<n>.
// `base` receives "Loader", "Code_Boot" ... and `number` the chunk number.
std::string ChunkResourceName(const std::string& fileName, std::string& base, int& number);

// Reads attributes.json (field names of the record as keys).
bool ReadAttributesJson(const std::filesystem::path& file, app::ResourceAttributes& out,
                        std::string& error);

// Writes attributes.json for `a`.
std::string AttributesJson(const app::ResourceAttributes& a);

// Checks a whole set folder; `chunks` receives resource name -> file.
bool CheckFirmwareSet(const std::filesystem::path& dir, const app::ResourceAttributes& a,
                      std::map<std::string, std::filesystem::path>& chunks, std::string& error);

}  // namespace bcu::tools
