#pragma once
// Who may read the files the program writes (Unix modes; on Windows a private
// file gets an owner-only ACL, a public one the folder's).
namespace bcu::platform {

// Only the owner may read or write: a radio's configuration.
inline constexpr unsigned kPrivateFileMode = 0600;
// Readable by everyone, writable by the owner.
inline constexpr unsigned kPublicFileMode = 0644;

}  // namespace bcu::platform
