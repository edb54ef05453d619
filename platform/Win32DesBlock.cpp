// DES through the CryptoAPI: a plain-text key blob of CALG_DES in ECB mode,
// one block per call (CNG has DES too, but not every system that runs the
// updater implements it).
#include <windows.h>
// (before the headers that build on it)
#include <wincrypt.h>

#include <cstring>

#include "platform/DesBlock.h"

namespace bcu::platform {

struct DesBlock::Impl {
  HCRYPTPROV provider = 0;
  HCRYPTKEY key = 0;
  ~Impl() {
    if (key != 0) ::CryptDestroyKey(key);
    if (provider != 0) ::CryptReleaseContext(provider, 0);
  }
};

DesBlock::DesBlock() : impl_(std::make_unique<Impl>()) {
  if (!::CryptAcquireContextW(&impl_->provider, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT))
    impl_->provider = 0;
  const std::uint8_t zero[8] = {};
  SetKey(zero);
}

DesBlock::~DesBlock() = default;

void DesBlock::SetKey(const std::uint8_t key[8]) {
  if (impl_->key != 0) ::CryptDestroyKey(impl_->key);
  impl_->key = 0;
  if (impl_->provider == 0) return;
  struct {
    BLOBHEADER header;
    DWORD size;
    BYTE key[8];
  } blob{};
  blob.header.bType = PLAINTEXTKEYBLOB;
  blob.header.bVersion = CUR_BLOB_VERSION;
  blob.header.aiKeyAlg = CALG_DES;
  blob.size = 8;
  std::memcpy(blob.key, key, 8);
  if (!::CryptImportKey(impl_->provider, reinterpret_cast<const BYTE*>(&blob), sizeof blob, 0, 0,
                        &impl_->key)) {
    impl_->key = 0;
    return;
  }
  DWORD mode = CRYPT_MODE_ECB;
  ::CryptSetKeyParam(impl_->key, KP_MODE, reinterpret_cast<const BYTE*>(&mode), 0);
}

void DesBlock::Encrypt(const std::uint8_t in[8], std::uint8_t out[8]) const {
  BYTE block[8];
  std::memcpy(block, in, 8);
  DWORD length = 8;
  // Not the final block: no padding is added, and ECB keeps no state.
  if (impl_->key == 0 || !::CryptEncrypt(impl_->key, 0, FALSE, 0, block, &length, sizeof block))
    std::memset(block, 0, sizeof block);
  std::memcpy(out, block, 8);
}

}  // namespace bcu::platform
