#pragma once
// What a firmware set must be before an updater carries it: the S-record text
// of every loader and code image, the chunk files against the counts of the
// attributes record, and attribute values that make sense for an updater. The
// build checks the set it embeds with these, and `bcu update --firmware`
// checks a set folder the same way before it uses it.
//
// A set folder holds attributes.json (the record's field names as keys, plus
// the set's own "Name" and "Release") and one file per chunk, named like its
// resource: Loader_1.s2, Code_1.s3, Code_Boot_1.s3 ...
#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/FirmwareSetIdentity.h"
#include "app/ResourceAttributes.h"

namespace bcu::resources {

// Longest record line (without its line end) that the downloads read whole.
inline constexpr std::size_t kMaxRecordChars = 298;
// Largest chunk file a set may hold (far more than any radio's flash needs
// as S-record text).
inline constexpr std::size_t kMaxChunkBytes = 16 * 1024 * 1024;
// Longest set name and release text.
inline constexpr std::size_t kMaxSetNameChars = 64;
inline constexpr std::size_t kMaxSetReleaseChars = 32;

// What attributes.json describes.
struct FirmwareSetDescription {
  app::ResourceAttributes attributes;
  app::FirmwareSetIdentity identity;  // empty texts when the set names none
};

// Checks the S-record text of one chunk. `chunkName` names it in messages,
// `lastChunk` says whether the image must end in it. On success returns true;
// otherwise `error` says what is wrong and where ("Code_3.s3 line 12: ...").
// `endSeen` carries the "image ended" state from chunk to chunk.
bool CheckSRecordChunk(std::string_view text, const std::string& chunkName, bool lastChunk,
                       bool& endSeen, std::string& error);

// Reads one chunk file into `text`, stopping at the first byte over
// kMaxChunkBytes and (when `records`: S-record text) at the first line over
// kMaxRecordChars, so a huge file is refused without being read whole.
// False with `error` naming the file (and the line) otherwise.
bool ReadChunkFile(const std::filesystem::path& file, bool records, std::string& text,
                   std::string& error);

// The resource name of a chunk file ("code_1.S3" -> "CODE_1"), or empty when
// the name is not one of a chunk: Loader/Code, optional _Boot/_BootTwo, _<n>.
// `base` receives "Loader", "Code_Boot" ... and `number` the chunk number.
std::string ChunkResourceName(const std::string& fileName, std::string& base, int& number);

// Refuses attribute values with which an updater would do harm or nonsense:
// no loader or no code chunks (the radio's flash would be erased and nothing
// written), no boot images in an Application/Boot set or for a second boot
// line it names, an upgrade type or radio family the updater does not know,
// a boot version part above 255 (the radio reports bytes). `error` names the
// field and why.
bool CheckAttributeValues(const app::ResourceAttributes& a, std::string& error);

// Reads attributes.json and checks its values (CheckAttributeValues); the
// message names the file.
bool ReadAttributesJson(const std::filesystem::path& file, FirmwareSetDescription& out,
                        std::string& error);

// The text of attributes.json for `d` (Name and Release only when set).
std::string AttributesJson(const FirmwareSetDescription& d);

// Checks the chunk files of a set folder against `a`; `chunks` receives
// resource name -> file.
bool CheckFirmwareSet(const std::filesystem::path& dir, const app::ResourceAttributes& a,
                      std::map<std::string, std::filesystem::path>& chunks, std::string& error);

// The resources a set carries besides its chunks: the 68-byte attributes
// record and, where the set names them, its name and release texts. Pairs of
// resource name (upper case) and bytes.
std::vector<std::pair<std::string, std::string>> DescriptionResources(
    const FirmwareSetDescription& d);

}  // namespace bcu::resources
